#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/Palette.h"

namespace vornesk {
namespace {

TEST(MulDiv, RoundsToTheNearestAndReportsWhatCannotBeComputed) {
  struct Case {
    std::int32_t a, b, c, result;
  };
  for (const Case& m : std::vector<Case>{{1, 255, 3, 85},     // exact
                                         {2, 255, 3, 170},    //
                                         {1, 255, 15, 17},    //
                                         {1, 255, 2, 128},    // 127.5 rounds up
                                         {-1, 255, 2, -128},  // and away from zero below it
                                         {5, 1, 3, 2},        // 1.67
                                         {4, 1, 3, 1},        // 1.33
                                         {7, 1, -2, -4},      // -3.5
                                         {INT_MAX, 2, 2, INT_MAX},
                                         {INT_MAX, 2, 1, -1},  // does not fit
                                         {1, 1, 0, -1}})       // no divisor
    EXPECT_EQ(MulDiv(m.a, m.b, m.c), m.result) << m.a << " * " << m.b << " / " << m.c;
}

TEST(Palette, EntriesAreCopiedResizedAndBounded) {
  std::vector<TPaletteEntry> colours(300, TPaletteEntry{1, 2, 3, 0});
  auto palette = CreatePalette(colours.data(), 300);
  EXPECT_EQ(palette->EntryCount(), 256);

  ASSERT_TRUE(ResizePalette(*palette, 4));
  EXPECT_FALSE(ResizePalette(*palette, 0));
  EXPECT_FALSE(ResizePalette(*palette, 257));
  ASSERT_TRUE(ResizePalette(*palette, 6));
  std::vector<TPaletteEntry> read(8, TPaletteEntry{9, 9, 9, 9});
  EXPECT_EQ(GetPaletteEntries(*palette, 0, 8, read.data()), 6);
  EXPECT_EQ(read[3].peBlue, 3);
  EXPECT_EQ(read[5].peRed, 0) << "grown entries are black";
  EXPECT_EQ(read[6].peRed, 9) << "entries past the palette are not touched";

  const TPaletteEntry red{255, 0, 0, 0};
  EXPECT_EQ(SetPaletteEntries(*palette, 5, 3, &red), 1);
  EXPECT_EQ(palette->Entries()[5].peRed, 255);
  EXPECT_EQ(GetPaletteEntries(*palette, 6, 1, read.data()), 0);
}

TEST(Palette, HalftoneHas256ColoursWithBlackAndWhite) {
  auto palette = CreateHalftonePalette();
  ASSERT_EQ(palette->EntryCount(), 256);
  const auto& e = palette->Entries();
  EXPECT_EQ(e.front().peRed + e.front().peGreen + e.front().peBlue, 0);
  bool white = false;
  for (const auto& entry : e)
    white |= entry.peRed == 255 && entry.peGreen == 255 && entry.peBlue == 255;
  EXPECT_TRUE(white);
}

}  // namespace
}  // namespace vornesk
