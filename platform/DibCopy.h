// Device-independent copies of a bitmap, as the Windows GetDIBits call gives
// them: every row converted into a bottom-up layout of the requested depth,
// rows padded to 4 bytes, and for indexed layouts the colour table.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/Bitmap.h"

namespace vornesk {

// Converts every row of `source` into `destination` (DibRowStride(width,
// bitsPerPixel) x height bytes, bottom-up). Supported:
//   - the source's own depth: the rows as they are;
//   - 24 bits from any depth: blue, green, red; 5-bit fields are widened by
//     repeating their top bits, so 31 becomes 255, and indices of 8 bits or
//     fewer take their colour from the colour table (black past its end);
//   - 4 bits from 2 bits: each index widened to a nibble.
// For a destination of 8 bits or fewer, `colorTable` (room for
// 2^bitsPerPixel entries) receives the source's colour table, the entries it
// does not have being black; the result is the number of entries,
// 2^bitsPerPixel. For deeper destinations the result is 0 and `colorTable`
// is not touched. Raises EOutOfResources for a combination it cannot convert.
int GetDIBits(const TBitmap& source, int bitsPerPixel, std::uint8_t* destination,
              TRGBQuad* colorTable);

// One row of a 24-bit copy (blue, green, red) in the red, green, blue order
// that PNG and libjpeg take. On little-endian machines each pixel is moved as
// one 32-bit word, byte-swapped and shifted; the word reaches one byte into
// the next pixel, which the next step rewrites, so only the last pixel goes
// byte by byte. `in` and `out` must not overlap.
inline void BgrToRgb(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
  if (width == 0) return;
  std::size_t x = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; x + 1 < width; ++x) {
      std::uint32_t word;
      std::memcpy(&word, in, 4);
      word = __builtin_bswap32(word) >> 8;
      std::memcpy(out, &word, 4);
      in += 3;
      out += 3;
    }
  }
  for (; x < width; ++x) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    in += 3;
    out += 3;
  }
}

}  // namespace vornesk
