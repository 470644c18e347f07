#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/DibCopy.h"
#include "platform/Exceptions.h"

namespace vornesk {
namespace {

TEST(Bitmap, RowStrideIsAWholeNumberOfWords) {
  struct Case {
    int width, bits;
    std::int64_t stride;
  };
  for (const Case& c : std::vector<Case>{{1, 32, 4},
                                         {3, 24, 12},
                                         {4, 24, 12},
                                         {1, 1, 4},
                                         {33, 1, 8},
                                         {9, 4, 8},
                                         {3, 2, 4},
                                         {17, 2, 8},
                                         {3, 16, 8},
                                         {0, 32, 0},
                                         {5, 8, 8},
                                         {1020, 32, 4080}})
    EXPECT_EQ(DibRowStride(c.width, c.bits), c.stride) << c.width << " px at " << c.bits;
}

TEST(Bitmap, IsCreatedWhiteWithTheTopRowStoredLast) {
  TBitmap bitmap(3, 2, 24);
  EXPECT_EQ(bitmap.RowStride(), 12u);
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 9; ++i) EXPECT_EQ(bitmap.ScanLine(y)[i], 0xFF);
  EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits() + 12);
  EXPECT_EQ(bitmap.ScanLine(1), bitmap.Bits());
  EXPECT_EQ(bitmap.ClassName(), "TBitmap");
}

TEST(Bitmap, ZeroSizesGiveABitmapWithoutPixels) {
  for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
    TBitmap bitmap(w, h);
    EXPECT_TRUE(bitmap.Empty());
  }
  EXPECT_TRUE(TBitmap().Empty());
}

TEST(Bitmap, SizesThatCannotBeHadAreRefusedAndLeaveTheBitmapAsItWas) {
  TBitmap bitmap(2, 2);
  EXPECT_THROW(bitmap.SetSize(-1, 10), EOutOfResources);
  EXPECT_THROW(bitmap.SetSize(INT_MAX, INT_MAX), EOutOfResources);
  EXPECT_EQ(bitmap.Width(), 2);
  EXPECT_EQ(bitmap.Height(), 2);
  EXPECT_THROW(TBitmap(10, 10, 3), EOutOfResources);
}

// A depth whose raster cannot be allocated must not leave the bitmap
// describing rows its raster does not hold. The child caps its address space
// just above what it uses, so that the 32-bit raster cannot be had.
TEST(Bitmap, ADepthThatCannotBeHadLeavesTheBitmapAsItWas) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TBitmap bitmap(1024, 1024, 1);
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const auto used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlimit limit{used + (1 << 20), used + (1 << 20)};
    if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
    try {
      bitmap.SetBitsPerPixel(32);  // 4 MB
      _exit(2);
    } catch (const EOutOfResources&) {
    }
    const bool whole = bitmap.BitsPerPixel() == 1 && bitmap.RowStride() == 128 &&
                       bitmap.Width() == 1024 && bitmap.Height() == 1024;
    _exit(whole ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: the bitmap changed, 2: the raster was allocated, 3: no limit could be set";
}

TEST(DibCopy, ThirtyTwoBitsToTwentyFourDropTheFourthByteAndPadWithZeros) {
  TBitmap source(3, 2, 32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = source.ScanLine(y) + 4 * x;
      p[0] = static_cast<std::uint8_t>(10 * x + y);  // blue
      p[1] = static_cast<std::uint8_t>(100 + x);     // green
      p[2] = static_cast<std::uint8_t>(200 + y);     // red
      p[3] = 0x77;
    }
  std::vector<std::uint8_t> copy(24, 0xAA);
  EXPECT_EQ(GetDIBits(source, 24, copy.data(), nullptr), 0);
  for (int y = 0; y < 2; ++y) {
    const std::uint8_t* row = copy.data() + 12 * (1 - y);  // bottom-up
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(row[3 * x], 10 * x + y);
      EXPECT_EQ(row[3 * x + 1], 100 + x);
      EXPECT_EQ(row[3 * x + 2], 200 + y);
    }
    EXPECT_EQ(row[9], 0);
    EXPECT_EQ(row[10], 0);
    EXPECT_EQ(row[11], 0);
  }
}

TEST(DibCopy, SixteenBitFieldsWidenToTheFullRange) {
  // Blue, green and red fields of 0, 16 and 31 in turn.
  TBitmap source(3, 1, 16);
  const std::uint16_t words[3] = {0 | (16 << 5) | (31 << 10), 16 | (31 << 5) | (0 << 10),
                                  31 | (0 << 5) | (16 << 10) | 0x8000};
  for (int x = 0; x < 3; ++x) {
    source.ScanLine(0)[2 * x] = static_cast<std::uint8_t>(words[x]);
    source.ScanLine(0)[2 * x + 1] = static_cast<std::uint8_t>(words[x] >> 8);
  }
  std::vector<std::uint8_t> copy(12);
  GetDIBits(source, 24, copy.data(), nullptr);
  const std::vector<std::uint8_t> expected = {0, 132, 255, 132, 255, 0, 255, 0, 132, 0, 0, 0};
  EXPECT_EQ(copy, expected);
}

TEST(DibCopy, TwoBitIndicesWidenToNibblesWithTheColourTable) {
  TBitmap source(5, 1, 2);
  source.ScanLine(0)[0] = 0b00011011;  // indices 0 1 2 3
  source.ScanLine(0)[1] = 0b10000000;  // index 2
  source.ColorTable = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}, {10, 11, 12, 0}};
  std::vector<std::uint8_t> copy(4, 0xEE);
  std::vector<TRGBQuad> table(16, TRGBQuad{9, 9, 9, 9});
  EXPECT_EQ(GetDIBits(source, 4, copy.data(), table.data()), 16);
  EXPECT_EQ(copy, (std::vector<std::uint8_t>{0x01, 0x23, 0x20, 0x00}));
  EXPECT_EQ(table[3].rgbRed, 12);
  EXPECT_EQ(table[4].rgbBlue, 0) << "entries past the source's table are black";
  EXPECT_EQ(table[15].rgbGreen, 0);
}

TEST(DibCopy, SameDepthIsAnExactCopyWithTheFullColourTable) {
  TBitmap source(9, 2, 8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 9; ++x) source.ScanLine(y)[x] = static_cast<std::uint8_t>(y * 16 + x);
  source.ColorTable.assign(256, TRGBQuad{});
  source.ColorTable[255] = {1, 2, 3, 0};
  std::vector<std::uint8_t> copy(24);
  std::vector<TRGBQuad> table(256);
  EXPECT_EQ(GetDIBits(source, 8, copy.data(), table.data()), 256);
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), source.Bits()));
  EXPECT_EQ(table[255].rgbRed, 3);
}

// Pixels move as overlapping words: the last one, and the byte after the
// row, are where a slip would show.
TEST(DibCopy, RowsReorderToRedGreenBlueWithoutTouchingPastTheRow) {
  for (std::size_t width : {0u, 1u, 2u, 5u}) {
    std::vector<std::uint8_t> in(3 * width);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i + 1);
    std::vector<std::uint8_t> out(3 * width + 1, 0xEE);
    BgrToRgb(in.data(), out.data(), width);
    for (std::size_t x = 0; x < width; ++x) {
      EXPECT_EQ(out[3 * x], in[3 * x + 2]) << width << " pixels, red of " << x;
      EXPECT_EQ(out[3 * x + 1], in[3 * x + 1]) << width << " pixels, green of " << x;
      EXPECT_EQ(out[3 * x + 2], in[3 * x]) << width << " pixels, blue of " << x;
    }
    EXPECT_EQ(out.back(), 0xEE) << width << " pixels";
  }
}

TEST(DibCopy, IndicesBecomeTheirColoursAtTwentyFourBits) {
  for (int depth : {1, 2, 4, 8}) {
    SCOPED_TRACE(::testing::Message() << depth << " bits per pixel");
    const int width = 11;
    TBitmap source(width, 2, depth);
    // One entry short of a full table: the last index has no colour.
    const int entries = 1 << depth;
    for (int i = 0; i + 1 < entries; ++i)
      source.ColorTable.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(100 + i),
                                   static_cast<std::uint8_t>(200 - i), 0});
    const int perByte = 8 / depth;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < width; ++x) {
        const int index = (x + 3 * y) % entries;
        const int shift = 8 - depth * (x % perByte + 1);
        std::uint8_t& byte = source.ScanLine(y)[x / perByte];
        byte = static_cast<std::uint8_t>((byte & ~((entries - 1) << shift)) | (index << shift));
      }
    const std::size_t stride = 36;  // 33 bytes of pixels, 3 of padding
    std::vector<std::uint8_t> copy(2 * stride, 0xAA);
    EXPECT_EQ(GetDIBits(source, 24, copy.data(), nullptr), 0);
    for (int y = 0; y < 2; ++y) {
      const std::uint8_t* row = copy.data() + stride * (1 - y);  // bottom-up
      for (int x = 0; x < width; ++x) {
        const int index = (x + 3 * y) % entries;
        const TRGBQuad colour = index + 1 < entries ? source.ColorTable[index] : TRGBQuad{};
        EXPECT_EQ(row[3 * x], colour.rgbBlue) << x << ", " << y;
        EXPECT_EQ(row[3 * x + 1], colour.rgbGreen) << x << ", " << y;
        EXPECT_EQ(row[3 * x + 2], colour.rgbRed) << x << ", " << y;
      }
      EXPECT_EQ(std::vector<std::uint8_t>(row + 33, row + 36), std::vector<std::uint8_t>(3, 0));
    }
  }
}

TEST(DibCopy, ConversionsItCannotMakeAreRefused) {
  std::vector<std::uint8_t> copy(64);
  EXPECT_THROW(GetDIBits(TBitmap(2, 2, 32), 8, copy.data(), nullptr), EOutOfResources);
  EXPECT_THROW(GetDIBits(TBitmap(2, 2, 24), 32, copy.data(), nullptr), EOutOfResources);
}

}  // namespace
}  // namespace vornesk
