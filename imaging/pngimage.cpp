// The image object: settings, the chunk list, copying and saving.
#include "imaging/pngimage.h"

#include <numeric>

#include "platform/OutputFile.h"

namespace vornesk {

namespace {

void SetIdentity(std::array<std::uint8_t, 256>& table) {
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint8_t>(i);
}

}  // namespace

TPNGObject::TPNGObject() : ChunkItems(this) {
  SetIdentity(OutputToneTable);
  SetIdentity(InputToneTable);
}

TPNGObject::~TPNGObject() {
  ResetImage();
}

void TPNGObject::ResetImage() {
  SetIdentity(OutputToneTable);
  SetIdentity(InputToneTable);
  ChunkItems.Clear();
}

bool TPNGObject::HasHeader() const {
  return dynamic_cast<const TChunkIHDR*>(ChunkItems.ChunkAt(0)) != nullptr;
}

TChunkIHDR& TPNGObject::RequireHeader() const {
  auto* header = dynamic_cast<TChunkIHDR*>(ChunkItems.ChunkAt(0));
  if (header == nullptr) RaisePngError<EPNGHeaderNotPresent>(pnglang::EPNGHeaderNotPresentText);
  return *header;
}

std::uint32_t TPNGObject::Width() const {
  return HasHeader() ? RequireHeader().HeaderValues.Width : 0;
}

std::uint32_t TPNGObject::Height() const {
  return HasHeader() ? RequireHeader().HeaderValues.Height : 0;
}

const TPalette* TPNGObject::Palette() const {
  return RequireHeader().PaletteHandle.get();
}

void TPNGObject::ApplyPalette(std::unique_ptr<TPalette>&& palette, bool loadColorTable) {
  TChunkIHDR& header = RequireHeader();
  if (!header.UsesColorTable) return;
  if (loadColorTable && palette) header.LoadColorTable(*palette);
  header.PaletteHandle = std::move(palette);
}

void TPNGObject::SetIdatChunkLimit(std::int32_t limit) {
  idatChunkLimit_ = limit < kMinIdatChunkLimit ? kMinIdatChunkLimit : limit;
}

void TPNGObject::CopyImageFrom(const TPNGObject& source) {
  if (&source == this) return;
  InterlaceMode = source.InterlaceMode;
  SetIdatChunkLimit(source.IdatChunkLimit());
  DeflateLevel = source.DeflateLevel;
  RowFilterSet = source.RowFilterSet;
  ResetImage();
  const std::int32_t count = source.ChunkItems.ItemCount();
  ChunkItems.SetCount(count);
  for (std::int32_t i = 0; i < count; ++i) {
    const TChunk* from = source.ChunkItems.ChunkAt(i);
    if (from == nullptr) continue;
    ChunkItems.SetItemAt(i, from->CreateSame(this));
    ChunkItems.ChunkAt(i)->CopyChunk(*from);
  }
}

void TPNGObject::Assign(const TPersistent* source) {
  if (source == nullptr) {
    ResetImage();
  } else if (const auto* image = dynamic_cast<const TPNGObject*>(source)) {
    CopyImageFrom(*image);
  } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
    ImportBitmap(*bitmap, bitmap->Transparent, bitmap->TransparentColor);
  } else {
    throw EConvertError("Cannot assign a " + source->ClassName() + " to a " + ClassName());
  }
}

void TPNGObject::CheckWritable() const {
  if (HasHeader() && (Width() == 0 || Height() == 0))
    RaisePngError<EPngEmptyImage>(pnglang::EPngEmptyImageText);
  for (std::int32_t i = 0; i < ChunkItems.ItemCount(); ++i)
    if (const auto* data = dynamic_cast<const TChunkIDAT*>(ChunkItems.ChunkAt(i)))
      data->CheckEncodable();
}

void TPNGObject::SaveToStream(TStream& stream) {
  CheckWritable();
  stream.WriteBuffer(kPngSignature.data(), kPngSignature.size());
  for (std::int32_t i = 0; i < ChunkItems.ItemCount(); ++i)
    if (TChunk* chunk = ChunkItems.ChunkAt(i)) chunk->WriteChunk(stream);
}

void TPNGObject::SaveToFile(const std::string& path) {
  // Refused images leave no file behind, not even an empty one.
  CheckWritable();
  TOutputFile file(path);
  SaveToStream(file);
  file.Commit();
}

}  // namespace vornesk
