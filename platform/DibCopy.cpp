#include "platform/DibCopy.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/Exceptions.h"

namespace vornesk {

namespace {

inline std::uint8_t Widen5(unsigned v) {
  return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

void Rows16To24(const TBitmap& source, std::uint8_t* destination, std::size_t stride) {
  const int width = source.Width();
  for (int row = 0; row < source.Height(); ++row) {
    const std::uint8_t* in = source.Bits() + source.RowStride() * row;
    std::uint8_t* out = destination + stride * row;
    for (int x = 0; x < width; ++x) {
      const unsigned word = in[2 * x] | (in[2 * x + 1] << 8);
      out[3 * x] = Widen5(word & 0x1F);
      out[3 * x + 1] = Widen5((word >> 5) & 0x1F);
      out[3 * x + 2] = Widen5((word >> 10) & 0x1F);
    }
    std::memset(out + 3 * width, 0, stride - 3 * static_cast<std::size_t>(width));
  }
}

void Rows32To24(const TBitmap& source, std::uint8_t* destination, std::size_t stride) {
  const int width = source.Width();
  for (int row = 0; row < source.Height(); ++row) {
    const std::uint8_t* in = source.Bits() + source.RowStride() * row;
    std::uint8_t* out = destination + stride * row;
    // Each pixel but the last moves as one 4-byte word; its fourth byte is
    // overwritten by the next pixel.
    for (int x = 0; x + 1 < width; ++x) {
      std::memcpy(out, in, 4);
      in += 4;
      out += 3;
    }
    if (width > 0) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out += 3;
    }
    std::memset(out, 0, stride - 3 * static_cast<std::size_t>(width));
  }
}

void Rows2To4(const TBitmap& source, std::uint8_t* destination, std::size_t stride) {
  const int width = source.Width();
  for (int row = 0; row < source.Height(); ++row) {
    const std::uint8_t* in = source.Bits() + source.RowStride() * row;
    std::uint8_t* out = destination + stride * row;
    std::memset(out, 0, stride);
    for (int x = 0; x < width; ++x) {
      const unsigned index = (in[x / 4] >> (6 - 2 * (x % 4))) & 0x3;
      out[x / 2] |= static_cast<std::uint8_t>(index << (x % 2 == 0 ? 4 : 0));
    }
  }
}

// Indices of 1, 2, 4 or 8 bits looked up in the colour table; indices the
// table does not cover are black.
void RowsIndexedTo24(const TBitmap& source, std::uint8_t* destination, std::size_t stride) {
  const int depth = source.BitsPerPixel();
  std::array<TRGBQuad, 256> table{};
  std::copy_n(source.ColorTable.begin(),
              std::min<std::size_t>(source.ColorTable.size(), std::size_t{1} << depth),
              table.begin());
  const int width = source.Width();
  const int perByte = 8 / depth;
  const unsigned mask = (1u << depth) - 1;
  for (int row = 0; row < source.Height(); ++row) {
    const std::uint8_t* in = source.Bits() + source.RowStride() * row;
    std::uint8_t* out = destination + stride * row;
    for (int x = 0; x < width; ++x) {
      const int shift = 8 - depth * (x % perByte + 1);
      const TRGBQuad& colour = table[(in[x / perByte] >> shift) & mask];
      out[3 * x] = colour.rgbBlue;
      out[3 * x + 1] = colour.rgbGreen;
      out[3 * x + 2] = colour.rgbRed;
    }
    std::memset(out + 3 * width, 0, stride - 3 * static_cast<std::size_t>(width));
  }
}

}  // namespace

int GetDIBits(const TBitmap& source, int bitsPerPixel, std::uint8_t* destination,
              TRGBQuad* colorTable) {
  const int from = source.BitsPerPixel();
  const auto stride = static_cast<std::size_t>(DibRowStride(source.Width(), bitsPerPixel));

  if (bitsPerPixel == from) {
    if (!source.Empty())
      std::memcpy(destination, source.Bits(), stride * static_cast<std::size_t>(source.Height()));
  } else if (bitsPerPixel == 24 && from == 32) {
    Rows32To24(source, destination, stride);
  } else if (bitsPerPixel == 24 && from == 16) {
    Rows16To24(source, destination, stride);
  } else if (bitsPerPixel == 24 && from <= 8) {
    RowsIndexedTo24(source, destination, stride);
  } else if (bitsPerPixel == 4 && from == 2) {
    Rows2To4(source, destination, stride);
  } else {
    throw EOutOfResources();
  }

  if (bitsPerPixel > 8) return 0;
  const int entries = 1 << bitsPerPixel;
  std::fill_n(colorTable, entries, TRGBQuad{});
  std::copy_n(source.ColorTable.begin(),
              std::min<std::size_t>(source.ColorTable.size(), static_cast<std::size_t>(entries)),
              colorTable);
  return entries;
}

}  // namespace vornesk
