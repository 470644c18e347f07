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
  if (!ValidDepth(bitsPerPixel)) throw EOutOfResources();
  bitsPerPixel_ = bitsPerPixel;
  width_ = width;
  height_ = height;
  Allocate();
}

void TBitmap::SetSize(int width, int height) {
  const int oldWidth = width_, oldHeight = height_;
  width_ = width;
  height_ = height;
  try {
    Allocate();
  } catch (...) {
    width_ = oldWidth;
    height_ = oldHeight;
    throw;
  }
}

void TBitmap::SetBitsPerPixel(int bitsPerPixel) {
  if (!ValidDepth(bitsPerPixel)) throw EOutOfResources();
  bitsPerPixel_ = bitsPerPixel;
  Allocate();
}

void TBitmap::Allocate() {
  if (width_ < 0 || height_ < 0) throw EOutOfResources();
  const std::int64_t stride = DibRowStride(width_, bitsPerPixel_);
  if (height_ > 0 && stride > kMaxRasterBytes / height_) throw EOutOfResources();
  const std::int64_t total = stride * height_;
  std::vector<std::uint8_t> bits;
  try {
    // 0xFF bytes are white at every direct depth; the padding at the end of
    // each row is zero, as in a device-independent copy.
    bits.assign(static_cast<std::size_t>(total), 0xFF);
    const std::int64_t used = (std::int64_t{width_} * bitsPerPixel_ + 7) / 8;
    if (used < stride)
      for (std::int64_t row = 0; row < height_; ++row)
        std::fill(bits.begin() + row * stride + used, bits.begin() + (row + 1) * stride, 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfResources();
  } catch (const std::length_error&) {
    throw EOutOfResources();
  }
  bits_ = std::move(bits);
  rowStride_ = static_cast<std::size_t>(stride);
}

}  // namespace vornesk
