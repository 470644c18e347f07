// Helpers of the PNG writer tests: taking a written file apart and decoding
// it with independent code (libpng, zlib, pngcheck).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/pngimage.h"
#include "platform/Bitmap.h"
#include "tests/support/TempDir.h"

namespace vornesk::testing {

using Bytes = std::vector<std::uint8_t>;

struct Record {
  std::string type;
  Bytes data;
  bool crcMatches = false;
};

// The records after the signature; fails the test on a malformed layout.
std::vector<Record> SplitRecords(const Bytes& file);
std::vector<std::string> RecordTypes(const Bytes& file);
// The IDAT data joined in order.
Bytes JoinedImageData(const Bytes& file);
// zlib's inflate of a whole zlib stream.
Bytes Inflate(const Bytes& stream);

Bytes SaveToBytes(TPNGObject& image);

struct DecodedImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes rgba;  // top row first, 4 bytes per pixel
};
// libpng's decoding of a PNG file held in memory, as 8-bit RGBA.
DecodedImage DecodeWithLibpng(const Bytes& file);

// The colour a decoder must see at (x, y) of a bitmap: red, green, blue.
std::array<std::uint8_t, 3> ExpectedColor(const TBitmap& bitmap, int x, int y);

// A bitmap of the given depth with pseudo-random pixels (padding bits
// included) and, for indexed depths, a pseudo-random colour table.
TBitmap RandomBitmap(int width, int height, int bitsPerPixel, std::uint32_t seed);

// pngcheck's verdict on a file; empty when it accepts it. Skips when
// pngcheck is not installed.
bool PngcheckAvailable();
std::string PngcheckComplaint(const std::string& path);
void ExpectPngcheckAccepts(const std::string& path);

}  // namespace vornesk::testing
