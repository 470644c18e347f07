// Helpers shared by the JPEG writer's tests: test bitmaps, the writer's bytes
// in memory, and an independent decode with libjpeg.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "tests/support/TempDir.h"

namespace vornesk::testing {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

// A bitmap of the given depth (16, 24 or 32) whose pixel (x, y), y = 0 being
// the top row, is colour(x, y). At 16 bits each channel keeps its top 5 bits.
TBitmap MakeBitmap(int width, int height, int bitsPerPixel,
                   const std::function<Rgb(int, int)>& colour);

// A 32-bit bitmap filled with one colour.
TBitmap SolidBitmap(int width, int height, Rgb colour);

// What the writer saves for the bitmap at the given quality.
std::vector<std::uint8_t> EncodeBitmap(const TBitmap& bitmap, int quality = 100);

struct Decoded {
  bool ok = false;
  std::string error;  // the library's message when !ok
  int width = 0;
  int height = 0;
  int components = 0;
  bool progressive = false;
  std::vector<std::uint8_t> pixels;  // top row first, `components` bytes a pixel

  Rgb At(int x, int y) const {
    const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * components];
    return components == 3 ? Rgb{p[0], p[1], p[2]} : Rgb{p[0], p[0], p[0]};
  }
};

// Decodes with libjpeg into RGB (or grey for a one-component file), with
// plain (box) chroma upsampling.
Decoded Decode(const std::vector<std::uint8_t>& file);

// Peak signal-to-noise ratio in dB of the decoded image against the bitmap's
// colours, over all three channels.
double Psnr(const Decoded& decoded, const std::function<Rgb(int, int)>& colour);

}  // namespace vornesk::testing
