// The JPEG image object: what a saved image decodes to, the settings, the
// limits of the format and what is left on disk when a save fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "JpegTestSupport.h"
#include "imaging/JpegImage.h"
#include "platform/Exceptions.h"

namespace vornesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

int Distance(Rgb a, Rgb b) {
  return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

std::string Show(Rgb c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

// A picture with smooth areas, hard edges and fine detail, like a page.
Rgb Picture(int x, int y) {
  if ((x / 8 + y / 8) % 5 == 0) return {20, 30, 200};
  if (y % 11 == 0) return {0, 0, 0};
  return {static_cast<std::uint8_t>(x * 3), static_cast<std::uint8_t>(y * 5),
          static_cast<std::uint8_t>((x + y) * 2)};
}

// ---------------------------------------------------------------------------
// What the file decodes to

struct NamedColour {
  const char* name;
  Rgb colour;
};

class SolidColour : public ::testing::TestWithParam<NamedColour> {};

// A swap of red and blue on the way to the compressor shows here first.
TEST_P(SolidColour, DecodesToTheSameColour) {
  const Rgb colour = GetParam().colour;
  const Decoded decoded = Decode(EncodeBitmap(SolidBitmap(24, 20, colour)));
  ASSERT_TRUE(decoded.ok) << decoded.error;
  for (int y = 0; y < decoded.height; ++y)
    for (int x = 0; x < decoded.width; ++x)
      ASSERT_LE(Distance(decoded.At(x, y), colour), 2)
          << "at " << x << ", " << y << ": " << Show(decoded.At(x, y));
}

INSTANTIATE_TEST_SUITE_P(
    Colours, SolidColour,
    ::testing::Values(NamedColour{"red", {255, 0, 0}}, NamedColour{"green", {0, 255, 0}},
                      NamedColour{"blue", {0, 0, 255}}, NamedColour{"white", {255, 255, 255}},
                      NamedColour{"black", {0, 0, 0}}, NamedColour{"orange", {255, 128, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// Rows go to the compressor top first, pixels left to right.
TEST(JpegImage, KeepsTopBottomAndLeftRight) {
  const auto quadrants = [](int x, int y) {
    if (y < 16) return x < 16 ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
    return x < 16 ? Rgb{0, 0, 255} : Rgb{255, 255, 255};
  };
  const Decoded decoded = Decode(EncodeBitmap(MakeBitmap(32, 32, 32, quadrants)));
  ASSERT_TRUE(decoded.ok) << decoded.error;
  for (const auto& [x, y] : {std::pair{4, 4}, {27, 4}, {4, 27}, {27, 27}})
    EXPECT_LE(Distance(decoded.At(x, y), quadrants(x, y)), 2)
        << "at " << x << ", " << y << ": " << Show(decoded.At(x, y));
}

// Quality 100 leaves only the loss of the colour conversion and of the 2 x 2
// chroma sampling, which on this picture stays far above what a visible
// fault (a shifted row, a swapped channel) would give.
TEST(JpegImage, QualityHundredIsCloseToTheSource) {
  // Colour edges on even pixels and smooth gradients: what 2 x 2 chroma
  // sampling keeps well.
  const auto smooth = [](int x, int y) {
    if ((x / 8 + y / 8) % 5 == 0) return Rgb{20, 30, 200};
    return Rgb{static_cast<std::uint8_t>(x * 3), static_cast<std::uint8_t>(y * 5),
               static_cast<std::uint8_t>((x + y) * 2)};
  };
  const Decoded decoded = Decode(EncodeBitmap(MakeBitmap(67, 45, 32, smooth)));
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_GT(Psnr(decoded, smooth), 40.0);

  // Luminance is kept at full resolution: a grey picture comes back almost
  // exactly.
  const auto grey = [](int x, int y) {
    const auto v = static_cast<std::uint8_t>((x * 7 + y * 13) % 256);
    return Rgb{v, v, v};
  };
  const Decoded greyDecoded = Decode(EncodeBitmap(MakeBitmap(67, 45, 32, grey)));
  ASSERT_TRUE(greyDecoded.ok) << greyDecoded.error;
  EXPECT_GT(Psnr(greyDecoded, grey), 50.0);
}

// The 24-bit copy is the same whichever depth it comes from, so the file is.
TEST(JpegImage, SameFileFromSixteenTwentyFourAndThirtyTwoBits) {
  // Channel values a 5-bit field holds exactly once widened back.
  const auto exact = [](int x, int y) {
    const auto widen = [](int v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); };
    return Rgb{widen(x % 32), widen(y % 32), widen((x + 2 * y) % 32)};
  };
  const Bytes from32 = EncodeBitmap(MakeBitmap(40, 19, 32, exact));
  EXPECT_EQ(EncodeBitmap(MakeBitmap(40, 19, 24, exact)), from32);
  EXPECT_EQ(EncodeBitmap(MakeBitmap(40, 19, 16, exact)), from32);
}

// A palette bitmap is compressed from the colours its indices stand for.
TEST(JpegImage, IndexedBitmapsGiveTheFileOfTheirColours) {
  const auto colours = [](int x, int y) {
    const auto v = static_cast<std::uint8_t>(16 * ((x + y) % 16));
    return Rgb{v, static_cast<std::uint8_t>(255 - v), static_cast<std::uint8_t>(v / 2)};
  };
  TBitmap indexed(24, 18, 8);
  for (int i = 0; i < 16; ++i) {
    const Rgb c = colours(i, 0);
    indexed.ColorTable.push_back({c.b, c.g, c.r, 0});
  }
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 24; ++x) indexed.ScanLine(y)[x] = static_cast<std::uint8_t>((x + y) % 16);
  EXPECT_EQ(EncodeBitmap(indexed), EncodeBitmap(MakeBitmap(24, 18, 32, colours)));
}

#ifdef VORNESK_CJPEG
// libjpeg-turbo's own encoder with the same parameters gives the same bytes.
TEST(JpegImage, SameBytesAsCjpeg) {
  TempDir folder;
  const int width = 53, height = 37;
  Bytes ppm;
  const std::string header =
      "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  ppm.assign(header.begin(), header.end());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Rgb c = Picture(x, y);
      ppm.insert(ppm.end(), {c.r, c.g, c.b});
    }
  WriteFileBytes(folder.Path() / "in.ppm", ppm);
  const std::string command =
      std::string(VORNESK_CJPEG) + " -quality 100 -dct float -sample 2x2 -outfile '" +
      (folder.Path() / "cjpeg.jpg").string() + "' '" + (folder.Path() / "in.ppm").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  EXPECT_EQ(EncodeBitmap(MakeBitmap(width, height, 32, Picture)),
            ReadFileBytes(folder.Path() / "cjpeg.jpg"));
}
#endif

// ---------------------------------------------------------------------------
// Settings

TEST(JpegImage, ClassDefaults) {
  const TJPEGImage jpeg;
  EXPECT_EQ(jpeg.CompressionQuality(), 90);
  EXPECT_FALSE(jpeg.Grayscale());
  EXPECT_FALSE(jpeg.ProgressiveEncoding());
  EXPECT_EQ(jpeg.Performance(), TJPEGPerformance::jpBestQuality);
  EXPECT_EQ(jpeg.PixelFormat(), TJPEGPixelFormat::jf24Bit);
  EXPECT_FALSE(jpeg.ProgressiveDisplay());
  EXPECT_EQ(jpeg.Scale(), TJPEGScale::jsFullSize);
  EXPECT_TRUE(jpeg.Smoothing());
  EXPECT_TRUE(jpeg.Empty());
  EXPECT_EQ(jpeg.ClassName(), "TJPEGImage");
}

// The first luminance quantisation entry: 16 in the standard table, scaled
// by the quality.
int FirstLuminanceStep(const Bytes& file) {
  for (std::size_t at = 2; at + 5 < file.size(); at += 2 + ((file[at + 2] << 8) | file[at + 3])) {
    if (file[at + 1] == 0xDB && file[at + 4] == 0x00) return file[at + 5];
  }
  return -1;
}

TEST(JpegImage, QualityReachesTheCompressor) {
  const TBitmap bitmap = SolidBitmap(8, 8, {10, 20, 30});
  struct {
    int set, kept, step;
  } const cases[] = {{100, 100, 1}, {90, 90, 3}, {50, 50, 16}, {0, 1, 255}, {250, 100, 1}};
  for (const auto& c : cases) {
    TJPEGImage jpeg;
    jpeg.SetCompressionQuality(c.set);
    EXPECT_EQ(jpeg.CompressionQuality(), c.kept) << "set " << c.set;
    jpeg.Assign(bitmap);
    TMemoryStream stream;
    jpeg.SaveToStream(stream);
    EXPECT_EQ(FirstLuminanceStep(stream.Bytes()), c.step) << "quality " << c.set;
  }
}

TEST(JpegImage, GrayscaleAndProgressiveEncoding) {
  const TBitmap bitmap = MakeBitmap(40, 24, 32, Picture);
  TJPEGImage grey;
  grey.SetGrayscale(true);
  grey.Assign(bitmap);
  TMemoryStream greyStream;
  grey.SaveToStream(greyStream);
  const Decoded greyDecoded = Decode(greyStream.Bytes());
  ASSERT_TRUE(greyDecoded.ok) << greyDecoded.error;
  EXPECT_EQ(greyDecoded.components, 1);

  TJPEGImage progressive;
  progressive.SetProgressiveEncoding(true);
  progressive.Assign(bitmap);
  TMemoryStream progressiveStream;
  progressive.SaveToStream(progressiveStream);
  const Decoded progressiveDecoded = Decode(progressiveStream.Bytes());
  ASSERT_TRUE(progressiveDecoded.ok) << progressiveDecoded.error;
  EXPECT_TRUE(progressiveDecoded.progressive);
  EXPECT_EQ(progressiveDecoded.components, 3);
}

// ---------------------------------------------------------------------------
// The object's data

// The object shares the bitmap it is given, so it refuses one about to go.
template <typename Source>
concept Assignable = requires(TJPEGImage jpeg, Source&& source) {
  jpeg.Assign(std::forward<Source>(source));
};
static_assert(Assignable<TBitmap&> && Assignable<const TBitmap&>);
static_assert(!Assignable<TBitmap> && !Assignable<TBitmap&&>);

TEST(JpegImage, KeepsItsDataUntilAnotherBitmapIsAssigned) {
  TBitmap bitmap = SolidBitmap(16, 8, {255, 0, 0});
  TJPEGImage jpeg;
  jpeg.Assign(bitmap);
  EXPECT_EQ(jpeg.Width(), 16);
  EXPECT_EQ(jpeg.Height(), 8);
  EXPECT_TRUE(jpeg.Data().empty());

  TMemoryStream first;
  jpeg.SaveToStream(first);
  EXPECT_EQ(jpeg.Data(), first.Bytes());

  // A second save writes what was compressed, without compressing again.
  bitmap.ScanLine(0)[0] = 0;
  TMemoryStream second;
  jpeg.SaveToStream(second);
  EXPECT_EQ(second.Bytes(), first.Bytes());

  // Assigning replaces the data with that of the new bitmap.
  const TBitmap blue = SolidBitmap(8, 24, {0, 0, 255});
  jpeg.Assign(blue);
  EXPECT_TRUE(jpeg.Data().empty());
  EXPECT_EQ(jpeg.Width(), 8);
  EXPECT_EQ(jpeg.Height(), 24);
  TMemoryStream third;
  jpeg.SaveToStream(third);
  const Decoded decoded = Decode(third.Bytes());
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.width, 8);
  EXPECT_LE(Distance(decoded.At(3, 3), {0, 0, 255}), 2);
}

TEST(JpegImage, ErrorMessage) {
  EXPECT_STREQ(EJPEG(41).what(), "JPEG error #41");
  EXPECT_EQ(EJPEG(7).Code(), 7);
}

// ---------------------------------------------------------------------------
// Files

// The step of the capture: quality 100, assign, save.
TEST(JpegFile, CaptureSequenceWritesTheFile) {
  TempDir folder;
  const TBitmap capture = MakeBitmap(50, 30, 32, Picture);
  const auto path = folder.Path() / "shot.jpg";
  {
    TJPEGImage jpeg;
    jpeg.SetCompressionQuality(100);
    jpeg.Assign(capture);
    jpeg.SaveToFile(path.string());
  }
  EXPECT_EQ(ReadFileBytes(path), EncodeBitmap(capture));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"shot.jpg"});
}

TEST(JpegFile, ReplacesAnExistingFileWhole) {
  TempDir folder;
  const auto path = folder.Path() / "out.jpg";
  WriteFileBytes(path, Bytes(100000, 0xAB));
  TJPEGImage jpeg;
  const TBitmap bitmap = SolidBitmap(4, 4, {1, 2, 3});
  jpeg.Assign(bitmap);
  jpeg.SaveToFile(path.string());
  EXPECT_EQ(ReadFileBytes(path), EncodeBitmap(bitmap, 90));
}

TEST(JpegFile, ImageWithoutPixelsGivesAnEmptyFile) {
  TempDir folder;
  for (const auto& [width, height] : {std::pair{0, 0}, {0, 5}, {5, 0}}) {
    const TBitmap bitmap(width, height);
    const auto fresh = folder.Path() / "fresh.jpg";
    const auto existing = folder.Path() / "existing.jpg";
    WriteFileBytes(existing, Bytes(10, 1));
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    EXPECT_NO_THROW(jpeg.SaveToFile(fresh.string()));
    EXPECT_NO_THROW(jpeg.SaveToFile(existing.string()));
    EXPECT_TRUE(std::filesystem::exists(fresh)) << width << " x " << height;
    EXPECT_EQ(std::filesystem::file_size(fresh), 0u) << width << " x " << height;
    EXPECT_EQ(std::filesystem::file_size(existing), 0u) << width << " x " << height;
    std::filesystem::remove(fresh);
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"existing.jpg"});
}

// 65500 is the largest dimension the format's frame header and the library
// allow.
TEST(JpegFile, LargestDimensionEncodes) {
  for (const auto& [width, height] : {std::pair{65500, 1}, {1, 65500}}) {
    const Decoded decoded = Decode(EncodeBitmap(SolidBitmap(width, height, {0, 128, 255})));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
  }
}

TEST(JpegFile, TooLargeAnImageRaisesAndLeavesThePathAlone) {
  static_assert(JERR_IMAGE_TOO_BIG == 41);
  TempDir folder;
  const auto fresh = folder.Path() / "fresh.jpg";
  const auto existing = folder.Path() / "existing.jpg";
  const Bytes old = {1, 2, 3, 4};
  WriteFileBytes(existing, old);
  for (const auto& [width, height] : {std::pair{65501, 1}, {1, 65501}}) {
    const TBitmap bitmap = SolidBitmap(width, height, {9, 9, 9});
    for (const auto& path : {fresh, existing}) {
      TJPEGImage jpeg;
      jpeg.Assign(bitmap);
      try {
        jpeg.SaveToFile(path.string());
        ADD_FAILURE() << "no exception for " << width << " x " << height;
      } catch (const EJPEG& e) {
        EXPECT_STREQ(e.what(), "JPEG error #41");
        EXPECT_EQ(e.Code(), 41);
      }
    }
  }
  // No file created, the old one untouched, no temporary file left behind.
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"existing.jpg"});
  EXPECT_EQ(ReadFileBytes(existing), old);
}

// The file is created before anything is compressed: a path that cannot be
// created fails as such even for an image the library would refuse.
TEST(JpegFile, UncreatableFileRaisesBeforeCompressing) {
  TempDir folder;
  const std::string path = (folder.Path() / "missing" / "out.jpg").string();
  const TBitmap tooLarge = SolidBitmap(65501, 1, {0, 0, 0});
  TJPEGImage jpeg;
  jpeg.Assign(tooLarge);
  try {
    jpeg.SaveToFile(path);
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + path + "\". No such file or directory");
  }
  EXPECT_TRUE(jpeg.Data().empty());
}

TEST(JpegFile, ShortWriteRaisesWriteError) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TJPEGImage jpeg;
  const TBitmap bitmap = MakeBitmap(64, 64, 32, Picture);
  jpeg.Assign(bitmap);
  try {
    jpeg.SaveToFile("/dev/full");
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
}

}  // namespace
}  // namespace vornesk::testing
