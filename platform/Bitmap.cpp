#include "platform/Bitmap.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "platform/Exceptions.h"

namespace vornesk {

namespace {

bool ValidDepth(int bits) {
  return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Beyond this a raster is refused rather than attempted: the engine cannot
// render it and the writers could not address it.
constexpr std::int64_t kMaxRasterBytes = std::int64_t{1} << 34;

}  // namespace

std::int64_t DibRowStride(std::int64_t width, int bitsPerPixel) {
  if (width <= 0) return 0;
  return ((width * bitsPerPixel + 31) / 32) * 4;
}

TBitmap::TBitmap(int width, int height, int bitsPerPixel) {
  Allocate(width, height, bitsPerPixel);
}

void TBitmap::SetSize(int width, int height) {
  Allocate(width, height, bitsPerPixel_);
}

void TBitmap::SetBitsPerPixel(int bitsPerPixel) {
  Allocate(width_, height_, bitsPerPixel);
}

void TBitmap::Allocate(int width, int height, int bitsPerPixel) {
  if (!ValidDepth(bitsPerPixel) || width < 0 || height < 0) throw EOutOfResources();
  const std::int64_t stride = DibRowStride(width, bitsPerPixel);
  if (height > 0 && stride > kMaxRasterBytes / height) throw EOutOfResources();
  const std::int64_t total = stride * height;
  std::vector<std::uint8_t> bits;
  try {
    // 0xFF bytes are white at every direct depth; the padding at the end of
    // each row is zero, as in a device-independent copy.
    bits.assign(static_cast<std::size_t>(total), 0xFF);
    const std::int64_t used = (std::int64_t{width} * bitsPerPixel + 7) / 8;
    if (used < stride)
      for (std::int64_t row = 0; row < height; ++row)
        std::fill(bits.begin() + row * stride + used, bits.begin() + (row + 1) * stride, 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfResources();
  } catch (const std::length_error&) {
    throw EOutOfResources();
  }
  // Nothing changes until the new raster is had: a refused size or depth
  // leaves the bitmap whole, its raster matching its description.
  width_ = width;
  height_ = height;
  bitsPerPixel_ = bitsPerPixel;
  rowStride_ = static_cast<std::size_t>(stride);
  bits_ = std::move(bits);
}

}  // namespace vornesk
