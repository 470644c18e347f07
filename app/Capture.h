// What becomes of the browser's picture: the 2-pixel frame trimmed off, and
// the capture bitmap handed to the writer that the output's extension names.
#pragma once

#include <string>

#include "platform/Bitmap.h"

namespace vornesk {

// The render raster is this much larger than the image on every side.
constexpr int kFrame = 2;

// The capture bitmap: (width - 4) x (height - 4) of the same depth, its pixel
// (x, y) the raster's pixel (x + 2, y + 2). Raises EOutOfResources when it
// cannot be made.
TBitmap TrimFrame(const TBitmap& raster);

enum class TImageFormat { Bmp, Jpeg, Png, Unsupported };

// ".bmp", ".jpg" and ".png", compared exactly with the lower-cased extension.
TImageFormat FormatForExtension(const std::string& extension);

// "Unsupported image format: " + extension + CR LF + the supported ones.
std::string UnsupportedFormatMessage(const std::string& extension);

// Writes the capture with the writer of `format` (not Unsupported).
void SaveCapture(const TBitmap& capture, const std::string& path, TImageFormat format);

}  // namespace vornesk
