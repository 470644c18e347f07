// Filling an image object from a platform bitmap.
#include <algorithm>
#include <cstdlib>

#include "imaging/pngimage.h"
#include "platform/DibCopy.h"

namespace vornesk {

void TPNGObject::ImportBitmap(const TBitmap& bitmap, bool transparent, TColor transparentColor) {
  const int bitsPerPixel = bitmap.BitsPerPixel();
  ResetImage();

  auto header = std::make_unique<TChunkIHDR>(this);
  THeaderValues& values = header->HeaderValues;
  values.Width = static_cast<std::uint32_t>(std::max(bitmap.Width(), 0));
  values.Height = static_cast<std::uint32_t>(std::abs(bitmap.Height()));
  const bool indexed = bitsPerPixel < 16;
  values.BitDepth = static_cast<std::uint8_t>(indexed ? bitsPerPixel : 8);
  values.ColorType = indexed ? kColorPalette : kColorRGB;
  values.CompressionMethod = 0;
  values.InterlaceMethod = 0;
  header->PrepareStorage();

  // One conversion fills the storage; for indexed storage it also brings the
  // bitmap's colours into the colour table.
  if (!bitmap.Empty())
    GetDIBits(bitmap, header->BitsPerStoredPixel(), header->StoredRows.data(),
              header->DibInfo.bmiColors.data());

  const bool usesColorTable = header->UsesColorTable;
  TChunkIHDR& headerChunk = *header;
  ChunkItems.AddItem(std::move(header));
  TChunkPLTE* palette = nullptr;
  if (usesColorTable) {
    auto chunk = std::make_unique<TChunkPLTE>(this);
    palette = chunk.get();
    ChunkItems.AddItem(std::move(chunk));
  }
  TChunktRNS* transparency = nullptr;
  if (transparent) {
    auto chunk = std::make_unique<TChunktRNS>(this);
    transparency = chunk.get();
    ChunkItems.AddItem(std::move(chunk));
  }
  ChunkItems.AddItem(std::make_unique<TChunkIDAT>(this));
  ChunkItems.AddItem(std::make_unique<TChunkIEND>(this));

  if (palette != nullptr) {
    const int count = 1 << bitsPerPixel;
    palette->EntryCount = count;
    std::vector<TPaletteEntry> entries(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const TRGBQuad& color = headerChunk.DibInfo.bmiColors[i];
      entries[i] = {color.rgbRed, color.rgbGreen, color.rgbBlue, 0};
    }
    ApplyPalette(std::make_unique<TPalette>(std::move(entries)), false);
  }
  if (transparency != nullptr) transparency->MarkTransparentColor(transparentColor);
}

void TChunktRNS::MarkTransparentColor(TColor color) {
  AlphaValues.fill(0);
  SingleTransparent = true;
  const auto red = static_cast<std::uint8_t>(color);
  const auto green = static_cast<std::uint8_t>(color >> 8);
  const auto blue = static_cast<std::uint8_t>(color >> 16);
  const TChunkIHDR& header = HeaderOf();
  switch (header.HeaderValues.ColorType) {
    case kColorGrey:
      SetPayloadSize(2);
      AlphaValues[1] = red;
      break;
    case kColorRGB:
      SetPayloadSize(6);
      AlphaValues[1] = red;
      AlphaValues[3] = green;
      AlphaValues[5] = blue;
      break;
    case kColorPalette: {
      // Only entries the palette chunk writes may be listed: a longer
      // transparency chunk makes decoders reject it.
      std::uint32_t inUse = std::min<std::uint32_t>(header.DibInfo.bmiHeader.biClrUsed, 256);
      if (header.PaletteHandle)
        inUse = std::min(inUse, static_cast<std::uint32_t>(header.PaletteHandle->EntryCount()));
      if (const auto* palette = OwnerImage()->ChunkItems.FindByClass<TChunkPLTE>();
          palette != nullptr && palette->EntryCount > 0)
        inUse = std::min(inUse, static_cast<std::uint32_t>(palette->EntryCount));
      // No entry has the colour, so no pixel is transparent: the chunk stays
      // empty and is not written.
      SetPayloadSize(0);
      for (std::uint32_t i = 0; i < inUse; ++i) {
        const TRGBQuad& entry = header.DibInfo.bmiColors[i];
        if (entry.rgbBlue != blue || entry.rgbGreen != green || entry.rgbRed != red) continue;
        std::fill_n(AlphaValues.begin(), i, 0xFF);
        SetPayloadSize(i + 1);
        break;
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace vornesk
