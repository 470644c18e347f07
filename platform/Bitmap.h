// The bitmap of the platform layer: what the capture hands to the writers.
// Rows are stored bottom-up and padded to 4 bytes, the layout of a Windows
// device-independent bitmap, so that copies in another layout (DibCopy.h) are
// one pass over the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Persistent.h"

namespace vornesk {

struct TRGBQuad {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
};

// An RGB colour with red in the lowest byte, green in the next, blue in the
// third.
using TColor = std::uint32_t;
constexpr TColor RGB(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return red | (green << 8) | (static_cast<TColor>(blue) << 16);
}

// Bytes per row at the given depth, every row a whole number of 32-bit words.
// Returns 0 for a width of 0 or below.
std::int64_t DibRowStride(std::int64_t width, int bitsPerPixel);

class TBitmap : public TPersistent {
 public:
  // 0 x 0 at 32 bits per pixel: a bitmap without pixels.
  TBitmap() = default;
  // Created white. Raises EOutOfResources when the raster cannot be had.
  TBitmap(int width, int height, int bitsPerPixel = 32);

  std::string ClassName() const override { return "TBitmap"; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitsPerPixel() const { return bitsPerPixel_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  std::size_t RowStride() const { return rowStride_; }

  // Reallocates the raster (white). Raises EOutOfResources for a negative
  // size or one that cannot be allocated.
  void SetSize(int width, int height);
  // 1, 2, 4, 8, 16, 24 or 32; reallocates the raster (white). Raises
  // EOutOfResources for another depth or a raster that cannot be allocated.
  void SetBitsPerPixel(int bitsPerPixel);

  // Row y of the image, 0 being the top row.
  std::uint8_t* ScanLine(int y) { return bits_.data() + StorageOffset(y); }
  const std::uint8_t* ScanLine(int y) const { return bits_.data() + StorageOffset(y); }

  // The raster as stored: the bottom image row first.
  std::uint8_t* Bits() { return bits_.data(); }
  const std::uint8_t* Bits() const { return bits_.data(); }

  // The colour table of an indexed bitmap (8 bits per pixel or fewer).
  std::vector<TRGBQuad> ColorTable;
  bool Transparent = false;
  TColor TransparentColor = 0;

 private:
  std::size_t StorageOffset(int y) const {
    return rowStride_ * static_cast<std::size_t>(height_ - 1 - y);
  }
  void Allocate(int width, int height, int bitsPerPixel);

  int width_ = 0;
  int height_ = 0;
  int bitsPerPixel_ = 32;
  std::size_t rowStride_ = 0;
  std::vector<std::uint8_t> bits_;
};

}  // namespace vornesk
