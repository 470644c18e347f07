#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/BmpWriter.h"
#include "platform/Exceptions.h"
#include "tests/support/TempDir.h"

namespace vornesk {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;
using Bytes = std::vector<unsigned char>;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(BmpWriter, OnePixelAtThirtyTwoBitsIsA58ByteFile) {
  TempDir dir;
  TBitmap bitmap(1, 1, 32);
  const std::uint8_t pixel[4] = {0x10, 0x20, 0x30, 0x00};
  std::copy_n(pixel, 4, bitmap.ScanLine(0));
  SaveBitmapToFile(bitmap, dir.File("one.bmp"));
  const Bytes expected = {'B',  'M',  58,   0,   0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                          40,   0,    0,    0,   1, 0, 0, 0, 1, 0, 0,  0, 1, 0,
                          32,   0,  // size, width, height, planes, depth
                          0,    0,    0,    0,   4, 0, 0, 0, 0, 0, 0,  0, 0, 0,
                          0,    0,                            // BI_RGB, image size, resolution
                          0,    0,    0,    0,   0, 0, 0, 0,  // colours used, important
                          0x10, 0x20, 0x30, 0x00};
  EXPECT_EQ(ReadFileBytes(dir.File("one.bmp")), expected);
}

TEST(BmpWriter, ThreeByTwoAtTwentyFourBitsPadsRowsAndStoresTheBottomRowFirst) {
  TempDir dir;
  TBitmap bitmap(3, 2, 24);
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 9; ++i) bitmap.ScanLine(y)[i] = static_cast<std::uint8_t>(16 * y + i + 1);
  SaveBitmapToFile(bitmap, dir.File("small.bmp"));
  const Bytes file = ReadFileBytes(dir.File("small.bmp"));
  ASSERT_EQ(file.size(), 78u);
  EXPECT_EQ(Le32(file, 2), 78u);
  EXPECT_EQ(Le32(file, 10), 54u);
  EXPECT_EQ(Le32(file, 18), 3u);
  EXPECT_EQ(Le32(file, 22), 2u);
  EXPECT_EQ(file[28], 24);
  EXPECT_EQ(Le32(file, 34), 24u);
  const Bytes pixels(file.begin() + 54, file.end());
  const Bytes expected = {17, 18, 19, 20, 21, 22, 23, 24, 25, 0, 0, 0,  // bottom row
                          1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0};
  EXPECT_EQ(pixels, expected);
}

TEST(BmpWriter, IndexedDepthsCarryTheirFullColourTable) {
  for (int depth : {1, 2, 4, 8}) {
    TempDir dir;
    TBitmap bitmap(5, 3, depth);
    bitmap.ColorTable = {{10, 20, 30, 99}, {40, 50, 60, 99}};
    SaveBitmapToFile(bitmap, dir.File("indexed.bmp"));
    const Bytes file = ReadFileBytes(dir.File("indexed.bmp"));
    const std::uint32_t colours = 1u << depth;
    const std::uint32_t stride = static_cast<std::uint32_t>(DibRowStride(5, depth));
    ASSERT_EQ(file.size(), 54 + 4 * colours + 3 * stride) << depth;
    EXPECT_EQ(Le32(file, 10), 54 + 4 * colours);
    EXPECT_EQ(Le32(file, 46), colours);
    EXPECT_EQ(file[54 + 4], 40) << "entries are blue, green, red";
    EXPECT_EQ(file[54 + 3], 0) << "the fourth byte of an entry is written as 0";
    if (depth > 1) {
      EXPECT_EQ(file[54 + 8 + 2], 0) << "entries the bitmap has no colour for are black";
    }
  }
}

// What ImageMagick reads back, as red, green, blue bytes from the top row.
Bytes DecodeWithImageMagick(const std::string& path) {
  const std::string command = std::string(VORNESK_IMAGEMAGICK) + " '" + path + "' -depth 8 rgb:-";
  Bytes pixels;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return pixels;
  unsigned char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    pixels.insert(pixels.end(), buffer, buffer + n);
  pclose(pipe);
  return pixels;
}

// Fills the bitmap with a pattern and returns the colours it should decode to.
Bytes Paint(TBitmap& bitmap) {
  const int depth = bitmap.BitsPerPixel();
  Bytes rgb;
  if (depth <= 8) {
    const int colours = 1 << depth;
    for (int i = 0; i < colours; ++i)
      bitmap.ColorTable.push_back({static_cast<std::uint8_t>(i * 7),
                                   static_cast<std::uint8_t>(255 - i),
                                   static_cast<std::uint8_t>(i * 3 + 1), 0});
  }
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      const unsigned v = static_cast<unsigned>(x * 37 + y * 101 + x * y);
      std::uint8_t r, g, b;
      switch (depth) {
        case 32:
        case 24: {
          std::uint8_t* p = row + x * (depth / 8);
          b = p[0] = static_cast<std::uint8_t>(v);
          g = p[1] = static_cast<std::uint8_t>(v >> 3);
          r = p[2] = static_cast<std::uint8_t>(x ^ y);
          break;
        }
        case 16: {
          const unsigned fb = v & 31, fg = (v >> 5) & 31, fr = (x + 3 * y) & 31;
          const unsigned word = fb | (fg << 5) | (fr << 10);
          row[2 * x] = static_cast<std::uint8_t>(word);
          row[2 * x + 1] = static_cast<std::uint8_t>(word >> 8);
          b = static_cast<std::uint8_t>((fb << 3) | (fb >> 2));
          g = static_cast<std::uint8_t>((fg << 3) | (fg >> 2));
          r = static_cast<std::uint8_t>((fr << 3) | (fr >> 2));
          break;
        }
        default: {
          const unsigned index = v % (1u << depth);
          const int perByte = 8 / depth;
          const int shift = 8 - depth * (x % perByte + 1);
          std::uint8_t& byte = row[x / perByte];
          byte =
              static_cast<std::uint8_t>((byte & ~(((1 << depth) - 1) << shift)) | (index << shift));
          const TRGBQuad& c = bitmap.ColorTable[index];
          r = c.rgbRed;
          g = c.rgbGreen;
          b = c.rgbBlue;
        }
      }
      rgb.insert(rgb.end(), {r, g, b});
    }
  }
  return rgb;
}

TEST(BmpWriter, ImageMagickReadsBackTheSourcePixelsAtEveryDepth) {
  if (std::string(VORNESK_IMAGEMAGICK).empty()) GTEST_SKIP() << "ImageMagick is not installed";
  for (int depth : {32, 24, 16, 8, 4, 1}) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 5}, std::pair{33, 4}}) {
      TempDir dir;
      TBitmap bitmap(w, h, depth);
      const Bytes expected = Paint(bitmap);
      const std::string path = dir.File("round.bmp");
      SaveBitmapToFile(bitmap, path);
      EXPECT_EQ(DecodeWithImageMagick(path), expected) << depth << " bits, " << w << " x " << h;
    }
  }
}

TEST(BmpWriter, ABitmapWithoutPixelsLeavesAnEmptyFile) {
  TempDir dir;
  const std::string path = dir.File("empty.bmp");
  WriteFileBytes(path, "an older image");
  for (auto [w, h] : {std::pair{0, 768}, std::pair{1024, 0}}) {
    SaveBitmapToFile(TBitmap(w, h), path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
  }
}

TEST(BmpWriter, AShorterImageReplacesALongerFileInFull) {
  TempDir dir;
  const std::string path = dir.File("out.bmp");
  SaveBitmapToFile(TBitmap(64, 64), path);
  SaveBitmapToFile(TBitmap(1, 1), path);
  EXPECT_EQ(std::filesystem::file_size(path), 58u);
}

TEST(BmpWriter, FailuresCarryTheirExactMessages) {
  TempDir dir;
  try {
    SaveBitmapToFile(TBitmap(2, 2), dir.File("missing/out.bmp"));
    FAIL() << "wrote into a missing folder";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message(), "Cannot create file \"" + dir.File("missing/out.bmp") +
                                   "\". No such file or directory");
  }
  try {
    SaveBitmapToFile(TBitmap(256, 256), "/dev/full");
    FAIL() << "a full device took the image";
  } catch (const EWriteError& error) {
    EXPECT_EQ(error.Message(), "Stream write error");
  }
}

}  // namespace
}  // namespace vornesk
