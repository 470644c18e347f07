// The image object as data: settings, chunk list, chunk classes, storage,
// copying and assignment.
#include <gtest/gtest.h>

#include <climits>

#include "PngTestSupport.h"
#include "imaging/pngimage.h"

namespace vornesk {
namespace {

using testing::RandomBitmap;
using testing::SaveToBytes;

template <class E, class F>
void ExpectRaises(F&& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "nothing was raised";
  } catch (const E& error) {
    EXPECT_EQ(error.Message(), message);
  }
}

TEST(PngObject, StartsEmptyWithDefaultSettings) {
  TPNGObject image;
  EXPECT_EQ(image.ClassName(), "TPNGObject");
  EXPECT_EQ(image.RowFilterSet, 0x02);
  EXPECT_EQ(image.DeflateLevel, 7);
  EXPECT_EQ(image.IdatChunkLimit(), 65535);
  EXPECT_EQ(image.InterlaceMode, 0);
  EXPECT_TRUE(image.Empty());
  EXPECT_FALSE(image.HasHeader());
  EXPECT_EQ(image.Width(), 0u);
  EXPECT_EQ(image.Height(), 0u);
}

TEST(PngObject, IdatChunkLimitNeverFallsBelow65535) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {1000, 65535},  {-1, 65535},    {INT_MIN, 65535}, {0, 65535},
      {65534, 65535}, {65535, 65535}, {65536, 65536},   {INT_MAX, INT_MAX}};
  for (const auto& [given, stored] : cases) {
    TPNGObject image;
    image.SetIdatChunkLimit(given);
    EXPECT_EQ(image.IdatChunkLimit(), stored) << "given " << given;
  }
}

TEST(PngObject, OperationsNeedingTheHeaderRefuseWithoutOne) {
  TPNGObject image;
  const std::string text = pnglang::EPNGHeaderNotPresentText;
  ExpectRaises<EPNGHeaderNotPresent>([&] { image.RequireHeader(); }, text);
  ExpectRaises<EPNGHeaderNotPresent>([&] { image.Palette(); }, text);
  ExpectRaises<EPNGHeaderNotPresent>([&] { image.ApplyPalette(CreateHalftonePalette(), true); },
                                     text);
  // A list whose first chunk is not a header has no header either.
  image.ChunkItems.AddItem(std::make_unique<TChunkIEND>(&image));
  image.ChunkItems.AddItem(std::make_unique<TChunkIHDR>(&image));
  EXPECT_FALSE(image.HasHeader());
  EXPECT_FALSE(image.Empty());
  EXPECT_EQ(image.Width(), 0u);
  ExpectRaises<EPNGHeaderNotPresent>([&] { image.RequireHeader(); }, text);
}

TEST(PngChunk, TypeCodesComeFromTheClassNames) {
  TPNGObject image;
  const std::pair<std::unique_ptr<TChunk>, std::string> cases[] = {
      {std::make_unique<TChunkIHDR>(&image), "IHDR"},
      {std::make_unique<TChunkPLTE>(&image), "PLTE"},
      {std::make_unique<TChunktRNS>(&image), "tRNS"},
      {std::make_unique<TChunkgAMA>(&image), "gAMA"},
      {std::make_unique<TChunkpHYs>(&image), "pHYs"},
      {std::make_unique<TChunkIDAT>(&image), "IDAT"},
      {std::make_unique<TChunkIEND>(&image), "IEND"}};
  for (const auto& [chunk, type] : cases) {
    EXPECT_EQ(chunk->TypeName(), type);
    EXPECT_EQ(TChunk::ClassTypeCode(chunk->ClassName()), type);
    EXPECT_EQ(chunk->OwnerImage(), &image);
    EXPECT_EQ(chunk->CreateSame(&image)->ClassName(), chunk->ClassName());
  }
  // The root class has no type of its own.
  TChunk plain(&image);
  EXPECT_EQ(TChunk::ClassTypeCode("TChunk"), "");
  EXPECT_EQ(plain.TypeCode(), (std::array<std::uint8_t, 4>{}));
  EXPECT_EQ(plain.PayloadSize(), 0u);
  // A new gamma chunk holds 1.
  EXPECT_EQ(TChunkgAMA(&image).GammaValue(), 1u);
}

TEST(PngChunk, PayloadKeepsItsLeadingBytesWhenResized) {
  TChunk chunk(nullptr);
  chunk.SetPayloadSize(3);
  std::copy_n("abc", 3, chunk.Payload());
  chunk.SetPayloadSize(1000);
  EXPECT_EQ(chunk.PayloadSize(), 1000u);
  EXPECT_EQ(std::string(chunk.Payload(), chunk.Payload() + 3), "abc");
  chunk.SetPayloadSize(2);
  EXPECT_EQ(std::string(chunk.Payload(), chunk.Payload() + 2), "ab");
}

TEST(PngList, AddFindRemoveAndResize) {
  TPNGObject image;
  TPNGList& list = image.ChunkItems;
  EXPECT_EQ(list.ListOwner(), &image);
  list.AddItem(std::make_unique<TChunkIHDR>(&image));
  list.AddItem(std::make_unique<TChunkIDAT>(&image));
  list.AddItem(std::make_unique<TChunkIEND>(&image));
  TChunk* data = list.ChunkAt(1);
  TChunk* end = list.ChunkAt(2);

  EXPECT_EQ(list.ItemCount(), 3);
  EXPECT_EQ(list.ItemAt(-1), nullptr);
  EXPECT_EQ(list.ItemAt(3), nullptr);
  EXPECT_EQ(list.FindByClass<TChunkIDAT>(), data);
  EXPECT_EQ(list.FindByClass<TChunk>(), list.ChunkAt(0));  // derived classes count
  EXPECT_EQ(list.FindByClass<TChunkPLTE>(), nullptr);

  list.SetItemAt(3, std::make_unique<TChunkPLTE>(&image));  // outside: ignored
  list.SetItemAt(-1, std::make_unique<TChunkPLTE>(&image));
  EXPECT_EQ(list.ItemCount(), 3);

  std::unique_ptr<TChunk> removed = list.RemoveItem(data);
  EXPECT_EQ(removed.get(), data);
  EXPECT_EQ(list.ItemCount(), 2);
  EXPECT_EQ(list.ChunkAt(1), end);
  EXPECT_EQ(list.RemoveItem(data), nullptr);

  list.SetCount(4);
  EXPECT_EQ(list.ItemCount(), 4);
  EXPECT_EQ(list.ChunkAt(3), nullptr);
  list.SetItemAt(3, std::move(removed));
  EXPECT_EQ(list.ChunkAt(3), data);
  list.SetCount(0);
  EXPECT_TRUE(image.Empty());
}

TEST(PngChunk, CopyFromAnotherClassIsRefused) {
  TPNGObject image;
  TChunkIEND end(&image);
  TChunkIHDR header(&image);
  const std::string text = pnglang::EPngInvalidCopyText;
  ExpectRaises<EPngError>([&] { header.CopyChunk(end); }, text);
  ExpectRaises<EPngError>([&] { TChunkPLTE(&image).CopyChunk(header); }, text);
  ExpectRaises<EPngError>([&] { TChunkgAMA(&image).CopyChunk(end); }, text);
  ExpectRaises<EPngError>([&] { TChunktRNS(&image).CopyChunk(end); }, text);
  ExpectRaises<EPngError>([&] { TChunkpHYs(&image).CopyChunk(end); }, text);
}

TEST(PngChunk, CopyTakesEachClassState) {
  TPNGObject image;
  TChunkgAMA gamma(&image);
  gamma.SetGammaValue(45455);
  TChunkgAMA gammaCopy(&image);
  gammaCopy.CopyChunk(gamma);
  EXPECT_EQ(gammaCopy.GammaValue(), 45455u);

  TChunkpHYs physical(&image);
  physical.PixelsPerUnitX = 2835;
  physical.PixelsPerUnitY = 3780;
  physical.UnitSpecifier = 1;
  TChunkpHYs physicalCopy(&image);
  physicalCopy.CopyChunk(physical);
  EXPECT_EQ(physicalCopy.PixelsPerUnitX, 2835u);
  EXPECT_EQ(physicalCopy.PixelsPerUnitY, 3780u);
  EXPECT_EQ(physicalCopy.UnitSpecifier, 1);

  TChunktRNS transparency(&image);
  transparency.SingleTransparent = true;
  transparency.AlphaValues[3] = 7;
  transparency.SetPayloadSize(4);
  TChunktRNS transparencyCopy(&image);
  transparencyCopy.CopyChunk(transparency);
  EXPECT_TRUE(transparencyCopy.SingleTransparent);
  EXPECT_EQ(transparencyCopy.AlphaValues, transparency.AlphaValues);
  EXPECT_EQ(transparencyCopy.PayloadSize(), 4u);

  TChunk unknown(&image);
  unknown.SetTypeCode("teST");
  unknown.SetPayloadSize(2);
  unknown.Payload()[0] = 1;
  unknown.Payload()[1] = 2;
  TChunk unknownCopy(&image);
  unknownCopy.CopyChunk(unknown);
  EXPECT_EQ(unknownCopy.TypeName(), "teST");
  EXPECT_EQ(std::vector<std::uint8_t>(unknownCopy.Payload(), unknownCopy.Payload() + 2),
            (std::vector<std::uint8_t>{1, 2}));
}

struct StorageCase {
  std::uint8_t colorType;
  std::uint8_t bitDepth;
  int bitsPerStoredPixel;
  bool usesColorTable;
  bool alphaPlane;
  bool lowBytePlane;
};

TEST(PngStorage, LayoutFollowsColourTypeAndBitDepth) {
  constexpr std::uint32_t kWidth = 9, kHeight = 3;
  const StorageCase cases[] = {
      {0, 1, 1, true, false, false},   {0, 2, 4, true, false, false},
      {0, 4, 4, true, false, false},   {0, 8, 8, true, false, false},
      {0, 16, 8, true, false, true},   {3, 1, 1, true, false, false},
      {3, 2, 4, true, false, false},   {3, 4, 4, true, false, false},
      {3, 8, 8, true, false, false},   {4, 8, 8, true, true, false},
      {4, 16, 8, true, true, true},    {2, 8, 24, false, false, false},
      {2, 16, 24, false, false, true}, {6, 8, 24, false, true, false},
      {6, 16, 24, false, true, true},  {2, 4, 0, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "colour type " << int{c.colorType} << ", depth " << int{c.bitDepth});
    TPNGObject image;
    auto owned = std::make_unique<TChunkIHDR>(&image);
    TChunkIHDR& header = *owned;
    image.ChunkItems.AddItem(std::move(owned));
    header.HeaderValues = {kWidth, kHeight, c.bitDepth, c.colorType, 0, 0, 0};
    header.PrepareStorage();

    const std::int32_t stride = ((c.bitsPerStoredPixel * kWidth + 31) / 32) * 4;
    EXPECT_EQ(header.DibInfo.bmiHeader.biSize, 40u);
    EXPECT_EQ(header.DibInfo.bmiHeader.biWidth, 9);
    EXPECT_EQ(header.DibInfo.bmiHeader.biHeight, 3);
    EXPECT_EQ(header.DibInfo.bmiHeader.biPlanes, 1);
    EXPECT_EQ(header.DibInfo.bmiHeader.biBitCount, c.bitsPerStoredPixel);
    EXPECT_EQ(header.DibInfo.bmiHeader.biCompression, 0u);
    EXPECT_EQ(header.RowStride, stride);
    EXPECT_EQ(header.StoredRows, std::vector<std::uint8_t>(stride * kHeight, 0));
    EXPECT_EQ(header.UsesColorTable, c.usesColorTable);
    EXPECT_EQ(header.AlphaPlane.size(), c.alphaPlane ? kWidth * kHeight : 0u);
    EXPECT_EQ(header.LowBytePlane.size(), c.lowBytePlane ? stride * kHeight : 0u);
    if (c.usesColorTable) {
      const int entries = 1 << c.bitsPerStoredPixel;
      ASSERT_NE(header.PaletteHandle, nullptr);
      EXPECT_EQ(header.PaletteHandle->EntryCount(), entries);
      EXPECT_EQ(header.DibInfo.bmiHeader.biClrUsed, static_cast<std::uint32_t>(entries));
      for (int i = 0; i < entries; ++i) {
        const TPaletteEntry& p = header.PaletteHandle->Entries()[i];
        const TRGBQuad& q = header.DibInfo.bmiColors[i];
        EXPECT_EQ(std::tie(p.peRed, p.peGreen, p.peBlue),
                  std::tie(q.rgbRed, q.rgbGreen, q.rgbBlue));
      }
    } else {
      EXPECT_EQ(header.PaletteHandle, nullptr);
      EXPECT_EQ(header.DibInfo.bmiHeader.biClrUsed, 0u);
    }
  }
}

TEST(PngStorage, GreyPalettesSpreadTheLevelsThroughTheInputToneTable) {
  TPNGObject image;
  TChunkIHDR header(&image);
  const std::pair<int, std::vector<std::uint8_t>> cases[] = {
      {1, {0, 255}},
      {2, {0, 85, 170, 255}},
      {4, {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255}}};
  for (const auto& [depth, levels] : cases) {
    auto palette = header.MakeGrayPalette(depth);
    ASSERT_EQ(palette->EntryCount(), static_cast<int>(levels.size()));
    for (std::size_t i = 0; i < levels.size(); ++i) {
      const TPaletteEntry& entry = palette->Entries()[i];
      EXPECT_EQ(entry.peRed, levels[i]);
      EXPECT_EQ(entry.peGreen, levels[i]);
      EXPECT_EQ(entry.peBlue, levels[i]);
    }
  }
  EXPECT_EQ(header.MakeGrayPalette(16)->EntryCount(), 256);
  for (std::size_t i = 0; i < 256; ++i)
    image.InputToneTable[i] = static_cast<std::uint8_t>(255 - i);
  auto inverted = header.MakeGrayPalette(1);
  EXPECT_EQ(inverted->Entries()[0].peRed, 255);
  EXPECT_EQ(inverted->Entries()[1].peRed, 0);
}

TEST(PngStorage, RefusesSizesItCannotHold) {
  TPNGObject image;
  TChunkIHDR header(&image);
  header.HeaderValues = {0xFFFFFFFFu, 2, 8, kColorRGB, 0, 0, 0};
  EXPECT_THROW(header.PrepareStorage(), EOutOfMemory);
  header.HeaderValues = {0x7FFFFFFFu, 2, 8, kColorRGB, 0, 0, 0};
  EXPECT_THROW(header.PrepareStorage(), EOutOfMemory);
}

TEST(PngObject, CopyGivesTheSameChunksSettingsAndPixels) {
  TBitmap bitmap = RandomBitmap(13, 7, 4, 11);
  bitmap.Transparent = true;
  bitmap.TransparentColor =
      RGB(bitmap.ColorTable[3].rgbRed, bitmap.ColorTable[3].rgbGreen, bitmap.ColorTable[3].rgbBlue);
  TPNGObject source;
  source.Assign(&bitmap);
  source.ChunkItems.AddItem(std::make_unique<TChunkgAMA>(&source));
  source.RowFilterSet = 0x1F;
  source.DeflateLevel = 9;
  source.SetIdatChunkLimit(100000);
  source.InputToneTable[1] = 7;

  TPNGObject copy;
  copy.Assign(&source);
  ASSERT_EQ(copy.ChunkItems.ItemCount(), source.ChunkItems.ItemCount());
  for (std::int32_t i = 0; i < copy.ChunkItems.ItemCount(); ++i) {
    EXPECT_EQ(copy.ChunkItems.ChunkAt(i)->ClassName(), source.ChunkItems.ChunkAt(i)->ClassName());
    EXPECT_EQ(copy.ChunkItems.ChunkAt(i)->OwnerImage(), &copy);
  }
  EXPECT_EQ(copy.RowFilterSet, 0x1F);
  EXPECT_EQ(copy.DeflateLevel, 9);
  EXPECT_EQ(copy.IdatChunkLimit(), 100000);
  EXPECT_EQ(copy.InputToneTable[1], 1);
  EXPECT_EQ(copy.RequireHeader().StoredRows, source.RequireHeader().StoredRows);
  EXPECT_EQ(copy.Palette()->Entries().size(), source.Palette()->Entries().size());

  // The copy stands alone: changing the source afterwards leaves it as it was.
  const auto before = SaveToBytes(copy);
  source.RequireHeader().StoredRows[0] ^= 0xFF;
  source.ResetImage();
  EXPECT_EQ(SaveToBytes(copy), before);
  source.Assign(&bitmap);
  source.ChunkItems.AddItem(std::make_unique<TChunkgAMA>(&source));
  source.RowFilterSet = 0x1F;
  source.DeflateLevel = 9;
  EXPECT_EQ(SaveToBytes(source), before);
}

class TOther : public TPersistent {
 public:
  std::string ClassName() const override { return "TOther"; }
};

TEST(PngObject, AssignDispatchesOnTheSource) {
  TBitmap bitmap = RandomBitmap(4, 3, 24, 1);
  TPNGObject image;
  image.Assign(&bitmap);
  EXPECT_EQ(image.Width(), 4u);
  EXPECT_EQ(image.Height(), 3u);

  image.Assign(&image);  // itself: nothing changes
  EXPECT_EQ(image.Width(), 4u);

  TOther other;
  ExpectRaises<EConvertError>([&] { image.Assign(&other); },
                              "Cannot assign a TOther to a TPNGObject");
  EXPECT_EQ(image.Width(), 4u);

  image.Assign(nullptr);
  EXPECT_TRUE(image.Empty());
  EXPECT_EQ(image.Width(), 0u);
  EXPECT_EQ(image.Height(), 0u);
}

TEST(PngObject, ResetRestoresIdentityToneTables) {
  TPNGObject image;
  image.OutputToneTable[5] = 0;
  image.InputToneTable[9] = 0;
  image.ResetImage();
  for (std::size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(image.OutputToneTable[i], i);
    EXPECT_EQ(image.InputToneTable[i], i);
  }
}

}  // namespace
}  // namespace vornesk

namespace vornesk {
namespace {

TEST(PngObject, ApplyPaletteTakesThePaletteOnlyForIndexedImages) {
  TBitmap indexed = testing::RandomBitmap(4, 4, 4, 12);
  TPNGObject image;
  image.Assign(&indexed);
  std::vector<TPaletteEntry> entries(16);
  for (std::size_t i = 0; i < entries.size(); ++i)
    entries[i] = {static_cast<std::uint8_t>(i), 7, static_cast<std::uint8_t>(200 + i), 0};
  auto palette = std::make_unique<TPalette>(entries);
  const TPalette* given = palette.get();
  image.ApplyPalette(std::move(palette), true);
  EXPECT_EQ(palette, nullptr);
  EXPECT_EQ(image.Palette(), given);
  const TChunkIHDR& header = image.RequireHeader();
  EXPECT_EQ(header.DibInfo.bmiHeader.biClrUsed, 16u);
  EXPECT_EQ(header.DibInfo.bmiColors[9].rgbRed, 9);
  EXPECT_EQ(header.DibInfo.bmiColors[9].rgbGreen, 7);
  EXPECT_EQ(header.DibInfo.bmiColors[9].rgbBlue, 209);

  TBitmap direct(4, 4, 24);
  image.Assign(&direct);
  auto kept = CreateHalftonePalette();
  image.ApplyPalette(std::move(kept), true);
  EXPECT_NE(kept, nullptr) << "an RGB image leaves the palette with its caller";
  EXPECT_EQ(image.Palette(), nullptr);
}

}  // namespace
}  // namespace vornesk
