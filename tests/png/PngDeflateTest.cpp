// The image data: one zlib stream of the filtered rows, cut into IDAT records
// of exactly the chunk limit but the last.
#include <gtest/gtest.h>

#include <random>

#include "PngTestSupport.h"
#include "imaging/pngdeflate.h"
#include "imaging/pngimage.h"

namespace vornesk {
namespace {

using testing::Bytes;
using testing::RandomBitmap;
using testing::SaveToBytes;
using testing::SplitRecords;

std::vector<std::size_t> ImageDataLengths(const Bytes& file) {
  std::vector<std::size_t> lengths;
  for (const auto& record : SplitRecords(file)) {
    EXPECT_TRUE(record.crcMatches) << record.type;
    if (record.type == "IDAT") lengths.push_back(record.data.size());
  }
  return lengths;
}

TEST(PngImageData, IsOneZlibStreamOfTheFilteredRows) {
  struct Case {
    int width, height, depth;
    std::size_t scanline;
  };
  const Case cases[] = {{1, 1, 32, 3}, {31, 17, 24, 93}, {9, 5, 1, 2}, {9, 5, 2, 5}, {9, 5, 8, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " at " << c.depth);
    TBitmap bitmap = RandomBitmap(c.width, c.height, c.depth, 21);
    TPNGObject image;
    image.Assign(&bitmap);
    const Bytes file = SaveToBytes(image);
    EXPECT_EQ(ImageDataLengths(file).size(), 1u);
    const Bytes stream = testing::JoinedImageData(file);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0x78);
    EXPECT_EQ(stream[1], 0xDA);
    const Bytes rows = testing::Inflate(stream);
    ASSERT_EQ(rows.size(), c.height * (1 + c.scanline));
    for (int y = 0; y < c.height; ++y) EXPECT_EQ(rows[y * (1 + c.scanline)], 1) << "row " << y;
  }
}

TEST(PngImageData, LongStreamsFillEveryRecordButTheLast) {
  // Noise hardly compresses: about 190 KB of zlib stream.
  TBitmap bitmap = RandomBitmap(256, 250, 24, 77);
  for (std::int32_t limit : {65535, 100000}) {
    TPNGObject image;
    image.Assign(&bitmap);
    image.SetIdatChunkLimit(limit);
    const Bytes file = SaveToBytes(image);
    const auto lengths = ImageDataLengths(file);
    ASSERT_GE(lengths.size(), 2u);
    for (std::size_t i = 0; i + 1 < lengths.size(); ++i)
      EXPECT_EQ(lengths[i], static_cast<std::size_t>(limit));
    EXPECT_GE(lengths.back(), 1u);
    EXPECT_LE(lengths.back(), static_cast<std::size_t>(limit));
    EXPECT_EQ(testing::Inflate(testing::JoinedImageData(file)).size(), 250u * (1 + 768));
    // The records stand together between the header and the end.
    const auto types = testing::RecordTypes(file);
    EXPECT_EQ(types.front(), "IHDR");
    EXPECT_EQ(types.back(), "IEND");
    EXPECT_EQ(types.size(), lengths.size() + 2);
  }
}

// The records that a deflate save of `input` at `level` writes.
std::vector<testing::Record> DeflateRecords(const Bytes& input, std::uint8_t level) {
  TMemoryStream stream;
  {
    TDeflateContext context;
    BeginDeflate(context, stream, level, 65535);
    // In pieces, as rows arrive.
    for (std::size_t at = 0; at < input.size(); at += 1000)
      DeflateBytes(context, input.data() + at,
                   static_cast<std::int32_t>(std::min<std::size_t>(1000, input.size() - at)));
    FinishDeflate(context);
    EndDeflate(context);
  }
  const Bytes& records = stream.Bytes();
  Bytes file(kPngSignature.size() + records.size());
  std::copy(kPngSignature.begin(), kPngSignature.end(), file.begin());
  std::copy(records.begin(), records.end(), file.begin() + kPngSignature.size());
  return SplitRecords(file);
}

std::size_t StreamLength(const std::vector<testing::Record>& records) {
  std::size_t total = 0;
  for (const auto& record : records) total += record.data.size();
  return total;
}

TEST(PngImageData, StreamsOfExactRecordMultiplesEndWithAFullRecord) {
  std::mt19937 random(13);
  Bytes noise(140000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  const std::pair<std::size_t, std::vector<std::size_t>> cases[] = {
      {65534, {65534}},
      {65535, {65535}},
      {65536, {65535, 1}},
      {2 * 65535, {65535, 65535}},
      {2 * 65535 + 1, {65535, 65535, 1}},
  };
  for (const auto& [target, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << "stream of " << target << " bytes");
    // Stored blocks (level 0) grow by one byte per input byte; find the
    // input length that gives exactly the target.
    std::size_t length = target - 20;
    std::vector<testing::Record> records;
    for (int attempt = 0; attempt < 20; ++attempt) {
      records = DeflateRecords(Bytes(noise.begin(), noise.begin() + length), 0);
      const std::size_t got = StreamLength(records);
      if (got == target) break;
      length = got < target ? length + 1 : length - 1;
    }
    ASSERT_EQ(StreamLength(records), target);
    std::vector<std::size_t> lengths;
    for (const auto& record : records) {
      EXPECT_EQ(record.type, "IDAT");
      EXPECT_TRUE(record.crcMatches);
      lengths.push_back(record.data.size());
    }
    EXPECT_EQ(lengths, expected);
    Bytes joined;
    for (const auto& record : records)
      joined.insert(joined.end(), record.data.begin(), record.data.end());
    EXPECT_EQ(testing::Inflate(joined), Bytes(noise.begin(), noise.begin() + length));
  }
}

TEST(PngImageData, RecordChecksumCoversTypeAndDataOnly) {
  TMemoryStream stream;
  const Bytes data = {1, 2, 3};
  WriteIdatChunk(stream, data.data(), 3);
  const std::uint8_t type[4] = {'I', 'D', 'A', 'T'};
  const std::uint32_t crc = ~UpdateCrc(UpdateCrc(0xFFFFFFFFu, type, 4), data.data(), 3);
  const Bytes expected = {0,
                          0,
                          0,
                          3,
                          'I',
                          'D',
                          'A',
                          'T',
                          1,
                          2,
                          3,
                          static_cast<std::uint8_t>(crc >> 24),
                          static_cast<std::uint8_t>(crc >> 16),
                          static_cast<std::uint8_t>(crc >> 8),
                          static_cast<std::uint8_t>(crc)};
  EXPECT_EQ(stream.Bytes(), expected);
}

TEST(PngImageData, EveryFilterSetDecodesToTheSourceWithLibpng) {
  TBitmap bitmap = RandomBitmap(23, 19, 24, 4);
  // Smooth areas make the choice between filters matter.
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 23 * 3; ++x) bitmap.ScanLine(y)[x] = static_cast<std::uint8_t>(x * y);
  for (int set = 0; set < 32; ++set) {
    TPNGObject image;
    image.Assign(&bitmap);
    image.RowFilterSet = static_cast<std::uint8_t>(set);
    const auto decoded = testing::DecodeWithLibpng(SaveToBytes(image));
    ASSERT_EQ(decoded.rgba.size(), 23u * 19 * 4);
    for (int y = 0; y < 19; ++y)
      for (int x = 0; x < 23; ++x) {
        const auto expected = testing::ExpectedColor(bitmap, x, y);
        const std::uint8_t* got = &decoded.rgba[4 * (y * 23 + x)];
        ASSERT_EQ((std::array<std::uint8_t, 3>{got[0], got[1], got[2]}), expected)
            << "filter set " << set << " at " << x << ", " << y;
      }
  }
}

}  // namespace
}  // namespace vornesk
