// Bitmaps into image objects, and out again through independent decoders.
#include <gtest/gtest.h>

#include <filesystem>

#include "PngTestSupport.h"
#include "imaging/pngimage.h"

namespace vornesk {
namespace {

using testing::Bytes;
using testing::RandomBitmap;
using testing::RecordTypes;
using testing::SaveToBytes;
using testing::SplitRecords;

std::vector<std::string> ChunkClasses(const TPNGObject& image) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < image.ChunkItems.ItemCount(); ++i)
    names.emplace_back(image.ChunkItems.ChunkAt(i)->ClassName());
  return names;
}

TEST(PngImport, HeaderAndChunksFollowTheSourceDepth) {
  struct Case {
    int depth;
    std::uint8_t colorType, bitDepth, writtenDepth;
    int paletteEntries;
  };
  const Case cases[] = {{1, 3, 1, 1, 2},  {2, 3, 2, 4, 4},  {4, 3, 4, 4, 16}, {8, 3, 8, 8, 256},
                        {16, 2, 8, 8, 0}, {24, 2, 8, 8, 0}, {32, 2, 8, 8, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.depth << " bits per pixel");
    TBitmap bitmap = RandomBitmap(10, 4, c.depth, 1);
    TPNGObject image;
    image.Assign(&bitmap);
    const THeaderValues& header = image.RequireHeader().HeaderValues;
    EXPECT_EQ(header.Width, 10u);
    EXPECT_EQ(header.Height, 4u);
    EXPECT_EQ(header.ColorType, c.colorType);
    EXPECT_EQ(header.BitDepth, c.bitDepth);
    EXPECT_EQ(header.CompressionMethod, 0);
    EXPECT_EQ(header.FilterMethod, 0);
    EXPECT_EQ(header.InterlaceMethod, 0);

    const Bytes file = SaveToBytes(image);
    const auto records = SplitRecords(file);
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[0].data[8], c.writtenDepth);
    if (c.paletteEntries > 0) {
      EXPECT_EQ(ChunkClasses(image),
                (std::vector<std::string>{"TChunkIHDR", "TChunkPLTE", "TChunkIDAT", "TChunkIEND"}));
      EXPECT_EQ(image.ChunkItems.FindByClass<TChunkPLTE>()->EntryCount, c.paletteEntries);
      ASSERT_EQ(records[1].type, "PLTE");
      ASSERT_EQ(records[1].data.size(), 3u * c.paletteEntries);
      for (int i = 0; i < c.paletteEntries; ++i) {
        const TRGBQuad& color = bitmap.ColorTable[i];
        EXPECT_EQ(records[1].data[3 * i], color.rgbRed);
        EXPECT_EQ(records[1].data[3 * i + 1], color.rgbGreen);
        EXPECT_EQ(records[1].data[3 * i + 2], color.rgbBlue);
      }
    } else {
      EXPECT_EQ(ChunkClasses(image),
                (std::vector<std::string>{"TChunkIHDR", "TChunkIDAT", "TChunkIEND"}));
      EXPECT_EQ(RecordTypes(file), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    }
  }
}

TEST(PngImport, DeepBitmapsAreStoredAsBlueGreenRed) {
  TBitmap bitmap = RandomBitmap(5, 3, 32, 8);
  TPNGObject image;
  image.Assign(&bitmap);
  const TChunkIHDR& header = image.RequireHeader();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const std::uint8_t* stored = &header.StoredRows[header.RowStride * (2 - y) + 3 * x];
      const std::uint8_t* source = bitmap.ScanLine(y) + 4 * x;
      EXPECT_EQ(Bytes(stored, stored + 3), Bytes(source, source + 3));
    }
}

TEST(PngImport, EveryDepthAndSizeDecodesToTheSourceColours) {
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 6}, {7, 3}, {9, 5}, {33, 17}, {64, 2}};
  testing::TempDir folder;
  int fileNumber = 0;
  for (int depth : {1, 2, 4, 8, 16, 24, 32}) {
    for (const auto& [width, height] : sizes) {
      SCOPED_TRACE(::testing::Message()
                   << width << " x " << height << " at " << depth << " bits per pixel");
      TBitmap bitmap = RandomBitmap(width, height, depth, 100 + depth + width);
      TPNGObject image;
      image.Assign(&bitmap);
      const std::string path = folder.File("") + std::to_string(++fileNumber) + ".png";
      image.SaveToFile(path);
      const Bytes file = testing::ReadFileBytes(path);

      const auto decoded = testing::DecodeWithLibpng(file);
      ASSERT_EQ(decoded.width, static_cast<std::uint32_t>(width));
      ASSERT_EQ(decoded.height, static_cast<std::uint32_t>(height));
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const std::uint8_t* got = &decoded.rgba[4 * (y * width + x)];
          ASSERT_EQ((std::array<std::uint8_t, 3>{got[0], got[1], got[2]}),
                    testing::ExpectedColor(bitmap, x, y))
              << "pixel " << x << ", " << y;
          ASSERT_EQ(got[3], 255);
        }
      testing::ExpectPngcheckAccepts(path);
    }
  }
}

TEST(PngImport, RealPageCaptureSurvivesTheRoundTrip) {
  const std::string fixture = std::string(VORNESK_FIXTURES_DIR) + "/page-1024x768.png";
  const auto page = testing::DecodeWithLibpng(testing::ReadFileBytes(fixture));
  ASSERT_EQ(page.width, 1024u);
  ASSERT_EQ(page.height, 768u);
  // As the capture hands it over: 32 bits per pixel, blue, green, red, x.
  TBitmap capture(1024, 768, 32);
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x) {
      const std::uint8_t* rgba = &page.rgba[4 * (y * 1024 + x)];
      std::uint8_t* bgrx = capture.ScanLine(y) + 4 * x;
      bgrx[0] = rgba[2];
      bgrx[1] = rgba[1];
      bgrx[2] = rgba[0];
      bgrx[3] = 0;
    }
  testing::TempDir folder;
  const std::string path = folder.File("page.png");
  TPNGObject png;
  png.Assign(&capture);
  png.SaveToFile(path);
  const auto decoded = testing::DecodeWithLibpng(testing::ReadFileBytes(path));
  EXPECT_EQ(decoded.rgba, page.rgba);
  testing::ExpectPngcheckAccepts(path);
}

TEST(PngImport, TransparentRgbColourBecomesTheTransparencyRecord) {
  TBitmap bitmap = RandomBitmap(6, 4, 24, 5);
  bitmap.ScanLine(1)[0] = 0x00;  // blue, green, red: pure red
  bitmap.ScanLine(1)[1] = 0x00;
  bitmap.ScanLine(1)[2] = 0xFF;
  bitmap.Transparent = true;
  bitmap.TransparentColor = RGB(255, 0, 0);
  TPNGObject image;
  image.Assign(&bitmap);
  EXPECT_EQ(ChunkClasses(image),
            (std::vector<std::string>{"TChunkIHDR", "TChunktRNS", "TChunkIDAT", "TChunkIEND"}));
  const Bytes file = SaveToBytes(image);
  const auto records = SplitRecords(file);
  ASSERT_EQ(records[1].type, "tRNS");
  EXPECT_EQ(records[1].data, (Bytes{0x00, 0xFF, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(records[1].crcMatches);
  EXPECT_EQ(records[2].type, "IDAT");

  const auto decoded = testing::DecodeWithLibpng(file);
  EXPECT_EQ(decoded.rgba[4 * 6 + 3], 0) << "the red pixel is transparent";
}

TEST(PngImport, TransparentPaletteEntryListsTheEntriesUpToIt) {
  TBitmap bitmap = RandomBitmap(8, 8, 8, 6);
  for (std::size_t i = 0; i < 256; ++i)  // distinct colours: entry i is (i, 1, 2)
    bitmap.ColorTable[i] = {2, 1, static_cast<std::uint8_t>(i), 0};
  bitmap.Transparent = true;
  bitmap.TransparentColor = RGB(5, 1, 2);
  TPNGObject image;
  image.Assign(&bitmap);
  EXPECT_EQ(RecordTypes(SaveToBytes(image)),
            (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
  const auto records = SplitRecords(SaveToBytes(image));
  EXPECT_EQ(records[2].data, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
  EXPECT_TRUE(image.ChunkItems.FindByClass<TChunktRNS>()->SingleTransparent);
}

TEST(PngImport, TransparentColourOutsideThePaletteWritesNoTransparency) {
  testing::TempDir folder;
  // A 2-bit bitmap has 4 colours; its storage has room for 16, the rest
  // black. Black is not among the 4, so no entry may be listed.
  TBitmap bitmap = RandomBitmap(5, 5, 2, 7);
  for (auto& entry : bitmap.ColorTable) entry = {9, 9, 9, 0};
  bitmap.Transparent = true;
  bitmap.TransparentColor = RGB(0, 0, 0);
  TPNGObject image;
  image.Assign(&bitmap);
  const std::string path = folder.File("out.png");
  image.SaveToFile(path);
  EXPECT_EQ(RecordTypes(testing::ReadFileBytes(path)),
            (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
  testing::ExpectPngcheckAccepts(path);

  // Entry 3, the last one in use, may be listed.
  bitmap.ColorTable[3] = {0, 0, 0, 0};
  image.Assign(&bitmap);
  const auto records = SplitRecords(SaveToBytes(image));
  ASSERT_EQ(records[2].type, "tRNS");
  EXPECT_EQ(records[2].data, (Bytes{0xFF, 0xFF, 0xFF, 0x00}));
}

TEST(PngImport, OpaqueBitmapsGetNoTransparencyAndReimportReplacesAll) {
  TBitmap transparent = RandomBitmap(4, 4, 8, 2);
  transparent.Transparent = true;
  TBitmap opaque = RandomBitmap(3, 2, 24, 3);
  TPNGObject image;
  image.Assign(&transparent);
  EXPECT_NE(image.ChunkItems.FindByClass<TChunktRNS>(), nullptr);
  image.Assign(&opaque);
  EXPECT_EQ(ChunkClasses(image),
            (std::vector<std::string>{"TChunkIHDR", "TChunkIDAT", "TChunkIEND"}));
  EXPECT_EQ(image.Width(), 3u);
  EXPECT_EQ(image.Height(), 2u);
}

}  // namespace
}  // namespace vornesk
