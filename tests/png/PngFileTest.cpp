// The file: signature, records and their checksums, the save entry points
// and how a save fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <random>

#include "PngTestSupport.h"
#include "imaging/pngimage.h"
#include "platform/Exceptions.h"

namespace vornesk {
namespace {

using testing::Bytes;
using testing::RandomBitmap;
using testing::RecordTypes;
using testing::SaveToBytes;
using testing::SplitRecords;

const Bytes kSignature(kPngSignature.begin(), kPngSignature.end());

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

TEST(PngCrc, MatchesTheStandardCrc32) {
  const std::string check = "123456789";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(check.data());
  EXPECT_EQ(~UpdateCrc(0xFFFFFFFFu, bytes, check.size()), 0xCBF43926u);
  EXPECT_EQ(UpdateCrc(0x12345678u, bytes, 0), 0x12345678u);

  std::mt19937 random(5);
  Bytes data(4099);
  for (auto& b : data) b = static_cast<std::uint8_t>(random());
  const std::uint8_t type[4] = {'I', 'D', 'A', 'T'};
  for (std::size_t length : {0u, 1u, 3u, 7u, 8u, 9u, 16u, 255u, 4099u}) {
    EXPECT_EQ(~UpdateCrc(0xFFFFFFFFu, data.data(), length),
              static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(length))));
    // A record's checksum, however it is computed, is the plain one.
    EXPECT_EQ(RecordCrc(type, data.data(), length),
              ~UpdateCrc(UpdateCrc(0xFFFFFFFFu, type, 4), data.data(), length))
        << length << " bytes";
  }
}

TEST(PngFile, EndRecordIsTheTwelveStandardBytes) {
  TPNGObject image;
  image.ChunkItems.AddItem(std::make_unique<TChunkIEND>(&image));
  const Bytes iend = {0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  EXPECT_EQ(SaveToBytes(image), Concat(kSignature, iend));
}

TEST(PngFile, EmptyObjectWritesTheSignatureAlone) {
  TPNGObject image;
  EXPECT_EQ(SaveToBytes(image), kSignature);
}

TEST(PngFile, CaptureFilesBeginWithTheirHeaderRecord) {
  const std::pair<std::pair<int, int>, Bytes> cases[] = {
      {{1020, 764}, {0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x03, 0xFC, 0x00,
                     0x00, 0x02, 0xFC, 0x08, 0x02, 0x00, 0x00, 0x00, 0xD2, 0xB4, 0x29, 0x18}},
      {{1, 1}, {0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00,
                0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, 0xDE}},
  };
  const Bytes iend = {0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  for (const auto& [size, ihdr] : cases) {
    TBitmap capture(size.first, size.second, 32);
    TPNGObject png;
    png.Assign(&capture);
    const Bytes file = SaveToBytes(png);
    ASSERT_GE(file.size(), 8 + ihdr.size() + iend.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 33), Concat(kSignature, ihdr));
    EXPECT_EQ(Bytes(file.end() - 12, file.end()), iend);
    for (const auto& type : RecordTypes(file))
      EXPECT_TRUE(type == "IHDR" || type == "IDAT" || type == "IEND") << type;
  }
}

TEST(PngFile, SavingTwiceGivesTheSameBytes) {
  for (int depth : {2, 8, 24}) {
    TBitmap bitmap = RandomBitmap(37, 21, depth, 3);
    TPNGObject image;
    image.Assign(&bitmap);
    const Bytes first = SaveToBytes(image);
    EXPECT_EQ(SaveToBytes(image), first) << depth << " bits per pixel";
  }
}

TEST(PngFile, HeaderWritesTheObjectsInterlaceModeAndDepthFourForTwo) {
  TPNGObject image;
  auto owned = std::make_unique<TChunkIHDR>(&image);
  TChunkIHDR& header = *owned;
  image.ChunkItems.AddItem(std::move(owned));
  header.HeaderValues = {3, 2, 2, kColorPalette, 0, 0, 0};
  image.InterlaceMode = 1;
  const auto records = SplitRecords(SaveToBytes(image));
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].data.size(), 13u);
  EXPECT_TRUE(records[0].crcMatches);
  EXPECT_EQ(records[0].data[8], 4);
  EXPECT_EQ(records[0].data[12], 1);
  EXPECT_EQ(header.HeaderValues.BitDepth, 4);
  EXPECT_EQ(header.HeaderValues.InterlaceMethod, 0);
}

TEST(PngFile, PaletteRecordTakesTheColourTableCountAndTheToneTable) {
  TBitmap bitmap = RandomBitmap(5, 5, 4, 9);
  TPNGObject image;
  image.Assign(&bitmap);
  auto* palette = image.ChunkItems.FindByClass<TChunkPLTE>();
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(palette->EntryCount, 16);

  palette->EntryCount = 0;  // taken from the colour table's count
  for (std::size_t i = 0; i < 256; ++i)
    image.OutputToneTable[i] = static_cast<std::uint8_t>(255 - i);
  const auto records = SplitRecords(SaveToBytes(image));
  ASSERT_EQ(records[1].type, "PLTE");
  ASSERT_EQ(records[1].data.size(), 48u);
  EXPECT_EQ(palette->EntryCount, 16);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(records[1].data[3 * i], 255 - bitmap.ColorTable[i].rgbRed);
    EXPECT_EQ(records[1].data[3 * i + 1], 255 - bitmap.ColorTable[i].rgbGreen);
    EXPECT_EQ(records[1].data[3 * i + 2], 255 - bitmap.ColorTable[i].rgbBlue);
  }
}

TEST(PngFile, AncillaryRecordsCarryTheirValues) {
  TPNGObject image;
  auto gamma = std::make_unique<TChunkgAMA>(&image);
  gamma->SetGammaValue(45455);
  auto physical = std::make_unique<TChunkpHYs>(&image);
  physical->PixelsPerUnitX = 2835;
  physical->PixelsPerUnitY = 0x01020304;
  physical->UnitSpecifier = 1;
  image.ChunkItems.AddItem(std::move(gamma));
  image.ChunkItems.AddItem(std::move(physical));
  const auto records = SplitRecords(SaveToBytes(image));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].type, "gAMA");
  EXPECT_EQ(records[0].data, (Bytes{0x00, 0x00, 0xB1, 0x8F}));
  EXPECT_EQ(records[1].type, "pHYs");
  EXPECT_EQ(records[1].data, (Bytes{0x00, 0x00, 0x0B, 0x13, 0x01, 0x02, 0x03, 0x04, 0x01}));
  for (const auto& record : records) EXPECT_TRUE(record.crcMatches) << record.type;
}

TEST(PngSaveToFile, WritesTheStreamBytesAndPngcheckAcceptsThem) {
  testing::TempDir folder;
  const std::string path = folder.File("out.png");
  TBitmap bitmap = RandomBitmap(40, 30, 32, 4);
  TPNGObject image;
  image.Assign(&bitmap);
  image.SaveToFile(path);
  EXPECT_EQ(testing::ReadFileBytes(path), SaveToBytes(image));
  testing::ExpectPngcheckAccepts(path);
}

TEST(PngSaveToFile, MissingFolderFailsWithTheExpandedPath) {
  testing::TempDir folder;
  const std::string path = folder.File("missing/out.png");
  TBitmap bitmap(2, 2, 32);
  TPNGObject image;
  image.Assign(&bitmap);
  try {
    image.SaveToFile(path);
    ADD_FAILURE() << "the save succeeded";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message(), "Cannot create file \"" + path + "\". No such file or directory");
  }
  EXPECT_FALSE(std::filesystem::exists(folder.File("missing")));
}

TEST(PngSaveToFile, ImagesWithoutPixelsAreRefusedBeforeAnyFileExists) {
  testing::TempDir folder;
  const std::string fresh = folder.File("fresh.png");
  const std::string older = folder.File("older.png");
  const Bytes olderBytes = {1, 2, 3};
  testing::WriteFileBytes(older, olderBytes);
  for (const auto& [width, height] : {std::pair{0, 0}, {0, 5}, {5, 0}}) {
    TBitmap capture(width, height, 32);
    TPNGObject png;
    png.Assign(&capture);
    for (const auto& path : {fresh, older}) {
      try {
        png.SaveToFile(path);
        ADD_FAILURE() << "saved a " << width << " x " << height << " image";
      } catch (const EPngEmptyImage& error) {
        EXPECT_EQ(error.Message(), pnglang::EPngEmptyImageText);
      }
    }
    TMemoryStream stream;
    EXPECT_THROW(png.SaveToStream(stream), EPngEmptyImage);
    EXPECT_TRUE(stream.Bytes().empty());
  }
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(testing::ReadFileBytes(older), olderBytes);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"older.png"});
}

TEST(PngSaveToFile, InterlacedImageDataIsRefusedBeforeAnyFileExists) {
  testing::TempDir folder;
  const std::string path = folder.File("out.png");
  TBitmap bitmap(3, 3, 24);
  TPNGObject image;
  image.Assign(&bitmap);
  image.InterlaceMode = 1;
  EXPECT_THROW(image.SaveToFile(path), EPngUnsupportedLayout);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(PngSaveToFile, StorageSmallerThanTheHeaderIsRefused) {
  TBitmap bitmap(3, 3, 24);
  TPNGObject image;
  image.Assign(&bitmap);
  image.RequireHeader().HeaderValues.Height = 4;  // one row more than stored
  TMemoryStream stream;
  EXPECT_THROW(image.SaveToStream(stream), EPngUnsupportedLayout);
  image.RequireHeader().HeaderValues = {3, 3, 16, kColorRGB, 0, 0, 0};
  EXPECT_THROW(image.SaveToStream(stream), EPngUnsupportedLayout);
  EXPECT_TRUE(stream.Bytes().empty());
}

TEST(PngSaveToFile, FullDeviceRaisesWriteError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  TBitmap bitmap = RandomBitmap(300, 300, 24, 8);
  TPNGObject image;
  image.Assign(&bitmap);
  try {
    image.SaveToFile("/dev/full");
    ADD_FAILURE() << "the save succeeded";
  } catch (const EWriteError& error) {
    EXPECT_EQ(error.Message(), "Stream write error");
  }
}

// Takes `room` bytes, then refuses like a full disk.
class TShortStream : public TStream {
 public:
  explicit TShortStream(std::size_t room) : room_(room) {}
  void WriteBuffer(const void*, std::size_t count) override {
    if (count > room_) throw EWriteError();
    room_ -= count;
  }

 private:
  std::size_t room_;
};

TEST(PngSaveToStream, ShortWritesEndTheSaveWithWriteError) {
  TBitmap bitmap = RandomBitmap(200, 200, 24, 2);
  TPNGObject image;
  image.Assign(&bitmap);
  const std::size_t size = SaveToBytes(image).size();
  for (std::size_t room : {std::size_t{0}, std::size_t{8}, std::size_t{20}, std::size_t{40},
                           std::size_t{70000}, size - 1}) {
    TShortStream stream(room);
    EXPECT_THROW(image.SaveToStream(stream), EWriteError) << "room " << room;
  }
  TShortStream enough(size);
  EXPECT_NO_THROW(image.SaveToStream(enough));
}

}  // namespace
}  // namespace vornesk
