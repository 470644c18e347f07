// The ".bmp" writer: an uncompressed Windows BMP (BITMAPFILEHEADER, a 40-byte
// BITMAPINFOHEADER, the colour table at 8 bits or fewer, bottom-up rows) at
// the bitmap's own depth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Stream.h"

namespace vornesk {

// Writes the whole file to the stream. A bitmap without pixels writes nothing.
void SaveBitmapToStream(const TBitmap& bitmap, TStream& stream);

// Creates the file at the path (EFCreateError when it cannot be created) and
// writes it; a bitmap without pixels leaves a file of length 0.
void SaveBitmapToFile(const TBitmap& bitmap, const std::string& path);

}  // namespace vornesk
