// Device-independent copies of a bitmap, as the Windows GetDIBits call gives
// them: every row converted into a bottom-up layout of the requested depth,
// rows padded to 4 bytes, and for indexed layouts the colour table.
#pragma once

#include <cstdint>

#include "platform/Bitmap.h"

namespace vornesk {

// Converts every row of `source` into `destination` (DibRowStride(width,
// bitsPerPixel) x height bytes, bottom-up). Supported:
//   - the source's own depth: the rows as they are;
//   - 24 bits from 16 (5-5-5), 24 or 32 bits: blue, green, red; 5-bit fields
//     are widened by repeating their top bits, so 31 becomes 255;
//   - 4 bits from 2 bits: each index widened to a nibble.
// For a destination of 8 bits or fewer, `colorTable` (room for
// 2^bitsPerPixel entries) receives the source's colour table, the entries it
// does not have being black; the result is the number of entries,
// 2^bitsPerPixel. For deeper destinations the result is 0 and `colorTable`
// is not touched. Raises EOutOfResources for a combination it cannot convert.
int GetDIBits(const TBitmap& source, int bitsPerPixel, std::uint8_t* destination,
              TRGBQuad* colorTable);

}  // namespace vornesk
