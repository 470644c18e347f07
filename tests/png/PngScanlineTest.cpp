// Scanline encoding: geometry, packing, the five filters and the choice
// between them.
#include <gtest/gtest.h>

#include <random>

#include "PngTestSupport.h"
#include "imaging/pngimage.h"

namespace vornesk {
namespace {

using testing::Bytes;

TEST(PngScanline, GeometryOfEachWrittenLayout) {
  struct Case {
    std::uint32_t width;
    std::uint8_t colorType, bitDepth;
    std::int32_t length;
    std::uint32_t distance;
  };
  const Case cases[] = {
      {9, kColorPalette, 1, 2, 1}, {9, kColorPalette, 4, 5, 1},   {9, kColorPalette, 8, 9, 1},
      {9, kColorPalette, 2, 5, 1}, {1, kColorPalette, 1, 1, 1},   {8, kColorPalette, 1, 1, 1},
      {1, kColorRGB, 8, 3, 3},     {1024, kColorRGB, 8, 3072, 3},
  };
  for (const auto& c : cases) {
    TPNGObject image;
    auto header = std::make_unique<TChunkIHDR>(&image);
    header->HeaderValues = {c.width, 1, c.bitDepth, c.colorType, 0, 0, 0};
    image.ChunkItems.AddItem(std::move(header));
    const TScanlineGeometry geometry = image.ScanlineGeometry();
    EXPECT_EQ(geometry.ScanlineLength, c.length) << c.width << " px, depth " << int{c.bitDepth};
    EXPECT_EQ(geometry.FilterDistance, c.distance);
  }
  TPNGObject empty;
  EXPECT_EQ(empty.ScanlineGeometry().ScanlineLength, 0);
  EXPECT_EQ(empty.ScanlineGeometry().FilterDistance, 0u);
}

TEST(PngScanline, PaethPredictorPicksTheNearestNeighbour) {
  struct Case {
    std::uint8_t left, up, upperLeft, expected;
  };
  const Case cases[] = {
      {0, 0, 0, 0},         {10, 0, 0, 10},   {0, 5, 0, 5},       {10, 30, 5, 30},
      {30, 10, 5, 30},      {10, 20, 15, 15}, {10, 10, 0, 10},    {0, 3, 1, 3},
      {200, 100, 255, 100}, {1, 2, 3, 1},     {255, 255, 0, 255}, {100, 100, 100, 100},
      {0, 255, 255, 0},     {20, 10, 30, 10},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PaethPredict(c.left, c.up, c.upperLeft), c.expected)
        << int{c.left} << ", " << int{c.up} << ", " << int{c.upperLeft};
}

// One row through ChooseRowFilter on a bare scanline state.
class ChooseRowFilterTest : public ::testing::Test {
 protected:
  ChooseRowFilterTest() {
    header_.HeaderValues = {1, 1, 8, kColorPalette, 0, 0, 0};
    data_.HeaderChunk = &header_;
  }

  std::uint8_t Choose(std::uint8_t set, const Bytes& raw, const Bytes& prev,
                      std::uint32_t distance) {
    image_.RowFilterSet = set;
    data_.ScanlineLength = static_cast<std::int32_t>(raw.size());
    data_.FilterDistance = distance;
    data_.PrepareScanlineBuffers();
    data_.ScanlineBuffers[5] = raw;
    data_.ScanlineBuffers[0] = prev;
    return data_.ChooseRowFilter();
  }

  TPNGObject image_;
  TChunkIHDR header_{&image_};
  TChunkIDAT data_{&image_};
};

TEST_F(ChooseRowFilterTest, FollowsTheChoiceRules) {
  constexpr std::uint8_t kNone = 1, kSub = 2, kUp = 4, kAverage = 8, kPaeth = 16;
  struct Case {
    const char* what;
    std::uint8_t set;
    Bytes raw, prev;
    std::uint32_t distance;
    std::uint8_t type;
    Bytes written;
  };
  const Bytes zero4(4, 0);
  const Case cases[] = {
      {"empty set writes the raw row", 0, {5, 5, 5, 5}, zero4, 1, 0, {5, 5, 5, 5}},
      {"None alone", kNone, {1, 2, 3}, {0, 0, 0}, 1, 0, {1, 2, 3}},
      {"Sub alone, no scoring, wrap-around", kSub, {0x10, 0x05}, {0, 0}, 1, 1, {0x10, 0xF5}},
      {"Sub at distance 3",
       kSub,
       {0x10, 1, 2, 0x05, 1, 3},
       Bytes(6, 0),
       3,
       1,
       {0x10, 1, 2, 0xF5, 0, 1}},
      {"Up alone subtracts the previous row", kUp, {10, 20}, {11, 5}, 1, 2, {0xFF, 15}},
      {"Average keeps the carry of left + up", kAverage, {200, 250}, {0, 250}, 1, 3, {200, 25}},
      {"Paeth alone, later row", kPaeth, {10, 20}, {5, 30}, 1, 4, {5, 0xF6}},
      {"Paeth on the first row equals Sub", kPaeth, {7, 3, 9, 1}, zero4, 1, 4, {7, 0xFC, 6, 0xF8}},
      {"None and Sub tie: None", kNone | kSub, {5, 5, 5, 5}, zero4, 1, 0, {5, 5, 5, 5}},
      {"Up and Paeth tie: Up", kUp | kPaeth, {5, 5, 5, 5}, zero4, 1, 2, {5, 5, 5, 5}},
      {"Sub beats None", kNone | kSub, {1, 2, 3, 4, 5}, Bytes(5, 0), 1, 1, {1, 1, 1, 1, 1}},
      {"equal counts keep the lower type",
       kSub | kUp | kAverage,
       {10, 20, 30, 40},
       {9, 19, 29, 39},
       1,
       1,
       {10, 10, 10, 10}},
      {"Up beats Average on a tie after it",
       kUp | kAverage,
       {10, 20, 30, 40},
       {9, 19, 29, 39},
       1,
       2,
       {1, 1, 1, 1}},
      {"no score above 0 writes None though not offered",
       kSub | kUp,
       {1, 7, 2, 9},
       {0, 3, 0, 1},
       1,
       0,
       {1, 7, 2, 9}},
      {"scanline of 2 bytes scores 0", kSub | kUp, {4, 4}, {0, 0}, 1, 0, {4, 4}},
      {"scanline of 1 byte scores 0", kNone | kSub | kUp | kAverage | kPaeth, {9}, {0}, 1, 0, {9}},
      {"stray high bits are no filter types", 0xE0 | kPaeth, {7, 3}, {0, 0}, 1, 4, {7, 0xFC}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint8_t type = Choose(c.set, c.raw, c.prev, c.distance);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data_.ScanlineBuffers[type], c.written);
    // The raw row is the next row's previous row.
    EXPECT_EQ(data_.ScanlineBuffers[0], c.raw);
  }
}

TEST_F(ChooseRowFilterTest, SubAndUpMatchTheBytewiseDefinitionAtEveryLength) {
  std::mt19937 random(3);
  for (std::uint32_t distance : {1u, 3u}) {
    for (std::size_t length = 1; length <= 40; ++length) {
      Bytes raw(length), prev(length);
      for (auto& b : raw) b = static_cast<std::uint8_t>(random());
      for (auto& b : prev) b = static_cast<std::uint8_t>(random());
      Bytes sub(length), up(length);
      for (std::size_t i = 0; i < length; ++i) {
        sub[i] = static_cast<std::uint8_t>(raw[i] - (i >= distance ? raw[i - distance] : 0));
        up[i] = static_cast<std::uint8_t>(raw[i] - prev[i]);
      }
      EXPECT_EQ(Choose(0x02, raw, prev, distance), 1);
      EXPECT_EQ(data_.ScanlineBuffers[1], sub) << length << " bytes at distance " << distance;
      EXPECT_EQ(Choose(0x04, raw, prev, distance), 2);
      EXPECT_EQ(data_.ScanlineBuffers[2], up) << length << " bytes";
    }
  }
}

TEST_F(ChooseRowFilterTest, OnlyOfferedCandidatesAreAllocated) {
  Choose(0x02 | 0x10, {1, 2, 3}, {0, 0, 0}, 1);
  EXPECT_EQ(data_.ScanlineBuffers[1].size(), 3u);
  EXPECT_TRUE(data_.ScanlineBuffers[2].empty());
  EXPECT_TRUE(data_.ScanlineBuffers[3].empty());
  EXPECT_EQ(data_.ScanlineBuffers[4].size(), 3u);
  data_.ReleaseScanlineBuffers();
  for (const auto& buffer : data_.ScanlineBuffers) EXPECT_TRUE(buffer.empty());
}

// Collects what the encoder hands its sink.
struct SinkLog {
  std::vector<Bytes> calls;
  TByteSink Sink() {
    return [this](const std::uint8_t* block, std::int32_t length) {
      calls.emplace_back(block, block + length);
    };
  }
};

// The image data chunk of `image` with its scanline state set up as a save
// sets it up.
TChunkIDAT& PreparedImageData(TPNGObject& image) {
  auto* data = image.ChunkItems.FindByClass<TChunkIDAT>();
  data->HeaderChunk = &image.RequireHeader();
  data->PixelWidth = static_cast<std::int32_t>(image.Width());
  data->PixelHeight = static_cast<std::int32_t>(image.Height());
  const TScanlineGeometry geometry = image.ScanlineGeometry();
  data->ScanlineLength = geometry.ScanlineLength;
  data->FilterDistance = geometry.FilterDistance;
  data->PrepareScanlineBuffers();
  return *data;
}

TEST(PngScanline, RowsLeaveTopFirstAsTypeByteThenScanline) {
  // 1 pixel wide, 3 rows, stored bottom-up as blue, green, red.
  TBitmap bitmap(1, 3, 24);
  const std::uint8_t pixels[3][3] = {{0x10, 0x20, 0x30}, {0x01, 0x02, 0x03}, {0xA0, 0xB0, 0xC0}};
  for (int y = 0; y < 3; ++y) std::copy_n(pixels[y], 3, bitmap.ScanLine(y));
  TPNGObject image;
  image.Assign(&bitmap);
  SinkLog log;
  PreparedImageData(image).WriteScanlines(log.Sink());
  const std::vector<Bytes> expected = {{1}, {0x30, 0x20, 0x10}, {1}, {0x03, 0x02, 0x01},
                                       {1}, {0xC0, 0xB0, 0xA0}};
  EXPECT_EQ(log.calls, expected);
}

TEST(PngScanline, PaletteRowsAreCopiedAsStored) {
  TBitmap bitmap = testing::RandomBitmap(9, 2, 1, 6);
  TPNGObject image;
  image.Assign(&bitmap);
  image.RowFilterSet = 0x01;  // None: the raw scanline itself
  SinkLog log;
  PreparedImageData(image).WriteScanlines(log.Sink());
  ASSERT_EQ(log.calls.size(), 4u);
  EXPECT_EQ(log.calls[1], Bytes(bitmap.ScanLine(0), bitmap.ScanLine(0) + 2));
  EXPECT_EQ(log.calls[3], Bytes(bitmap.ScanLine(1), bitmap.ScanLine(1) + 2));
}

TEST(PngScanline, RgbSamplesPassThroughTheOutputToneTable) {
  TBitmap bitmap(1, 1, 24);
  bitmap.ScanLine(0)[0] = 0x10;
  bitmap.ScanLine(0)[1] = 0x20;
  bitmap.ScanLine(0)[2] = 0x30;
  TPNGObject image;
  image.Assign(&bitmap);
  for (std::size_t i = 0; i < 256; ++i) image.OutputToneTable[i] = static_cast<std::uint8_t>(i + 1);
  const Bytes raw = testing::Inflate(testing::JoinedImageData(testing::SaveToBytes(image)));
  EXPECT_EQ(raw, (Bytes{1, 0x31, 0x21, 0x11}));
}

}  // namespace
}  // namespace vornesk
