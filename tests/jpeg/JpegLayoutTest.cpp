// The bytes of the file: the marker segments before the entropy-coded data
// are fixed for every non-empty image, apart from the frame size.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "JpegTestSupport.h"

namespace vornesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The standard Huffman tables of the JPEG standard, Annex K.3: 16 code-length
// counts followed by the values.
Bytes Table(std::initializer_list<int> counts, std::initializer_list<int> values) {
  Bytes table;
  for (int c : counts) table.push_back(static_cast<std::uint8_t>(c));
  for (int v : values) table.push_back(static_cast<std::uint8_t>(v));
  return table;
}

const Bytes kDcLuminance =
    Table({0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
const Bytes kDcChrominance =
    Table({0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
const Bytes kAcLuminance =
    Table({0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
          {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
           0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
           0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
           0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
           0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
           0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
           0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
           0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
           0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
           0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
           0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa});
const Bytes kAcChrominance =
    Table({0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
          {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
           0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
           0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
           0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
           0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
           0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
           0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
           0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
           0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
           0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
           0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa});

struct Segment {
  std::uint8_t marker = 0;
  Bytes content;  // after the length field
};

// Reads the marker segments from SOI up to and including SOS.
std::vector<Segment> HeaderSegments(const Bytes& file, std::size_t* dataStart) {
  std::vector<Segment> segments;
  std::size_t at = 0;
  while (at + 2 <= file.size()) {
    EXPECT_EQ(file[at], 0xFF) << "no marker at offset " << at;
    const std::uint8_t marker = file[at + 1];
    at += 2;
    if (marker == 0xD8) {
      segments.push_back({marker, {}});
      continue;
    }
    if (at + 2 > file.size()) break;
    const std::size_t length = (file[at] << 8) | file[at + 1];
    if (length < 2 || at + length > file.size()) {
      ADD_FAILURE() << "bad length " << length << " at offset " << at;
      break;
    }
    segments.push_back({marker, Bytes(file.begin() + at + 2, file.begin() + at + length)});
    at += length;
    if (marker == 0xDA) break;
  }
  *dataStart = at;
  return segments;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Ones(std::uint8_t tableByte) {
  Bytes table(65, 1);
  table[0] = tableByte;
  return table;
}

struct Size {
  int width, height;
};

class JpegLayout : public ::testing::TestWithParam<Size> {};

TEST_P(JpegLayout, HeaderSegmentsAreTheFixedBaselineLayout) {
  const auto [width, height] = GetParam();
  // Noise gives entropy-coded data with every byte value, 0xFF among them.
  std::uint32_t seed = 12345;
  const TBitmap bitmap = MakeBitmap(width, height, 32, [&seed](int, int) {
    seed = seed * 1664525u + 1013904223u;
    return Rgb{static_cast<std::uint8_t>(seed >> 24), static_cast<std::uint8_t>(seed >> 16),
               static_cast<std::uint8_t>(seed >> 8)};
  });
  const Bytes file = EncodeBitmap(bitmap);

  const Bytes first20 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46,
                         0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  ASSERT_GE(file.size(), 625u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 20), first20);

  std::size_t dataStart = 0;
  const std::vector<Segment> segments = HeaderSegments(file, &dataStart);
  EXPECT_EQ(dataStart, 623u);

  const auto hi = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
  const auto lo = [](int v) { return static_cast<std::uint8_t>(v); };
  const std::vector<Segment> expected = {
      {0xD8, {}},
      {0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}},
      {0xDB, Ones(0x00)},
      {0xDB, Ones(0x01)},
      {0xC0,
       {8, hi(height), lo(height), hi(width), lo(width), 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}},
      {0xC4, Concat({{0x00}, kDcLuminance})},
      {0xC4, Concat({{0x10}, kAcLuminance})},
      {0xC4, Concat({{0x01}, kDcChrominance})},
      {0xC4, Concat({{0x11}, kAcChrominance})},
      {0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}},
  };
  ASSERT_EQ(segments.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(segments[i].marker, expected[i].marker) << "segment " << i + 1;
    EXPECT_EQ(segments[i].content, expected[i].content) << "segment " << i + 1;
  }

  // Entropy-coded data: every 0xFF is stuffed, no marker (restart or other)
  // appears before the closing EOI.
  ASSERT_GE(file.size(), dataStart + 2);
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);
  for (std::size_t at = dataStart; at + 2 < file.size(); ++at) {
    if (file[at] == 0xFF) {
      ASSERT_EQ(file[at + 1], 0x00) << "marker inside the scan at offset " << at;
      ++at;
    }
  }

  const Decoded decoded = Decode(file);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.width, width);
  EXPECT_EQ(decoded.height, height);
  EXPECT_EQ(decoded.components, 3);
  EXPECT_FALSE(decoded.progressive);
}

// Exact multiples of the 16 x 16 unit, one past them (a padded unit), and
// images a single pixel high or wide.
INSTANTIATE_TEST_SUITE_P(Sizes, JpegLayout,
                         ::testing::Values(Size{1, 1}, Size{16, 16}, Size{17, 17}, Size{33, 1},
                                           Size{1, 40}, Size{300, 7}, Size{256, 258}),
                         [](const ::testing::TestParamInfo<Size>& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

}  // namespace
}  // namespace vornesk::testing
