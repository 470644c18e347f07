// The chunk classes as data: construction, copying, the header's pixel
// storage, and the records of every chunk but the image data.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "imaging/pngdeflate.h"
#include "imaging/pngimage.h"

namespace vornesk {

namespace {

template <class K>
const K& SameClass(const TChunk& source) {
  const auto* typed = dynamic_cast<const K*>(&source);
  if (typed == nullptr) RaisePngError<EPngError>(pnglang::EPngInvalidCopyText);
  return *typed;
}

// Zero-filled; a size the process cannot hold is the platform's out-of-memory
// error rather than a crash or a short buffer.
void AllocateZeroed(std::vector<std::uint8_t>& buffer, std::int64_t size) {
  if (size < 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max() / 2)
    throw EOutOfMemory();
  try {
    buffer.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
}

void ReleaseBuffer(std::vector<std::uint8_t>& buffer) {
  std::vector<std::uint8_t>().swap(buffer);
}

}  // namespace

// ---------------------------------------------------------------------------
// TChunk

TChunk::TChunk(TPNGObject* owner, std::string_view className) : payload_(1, 0), owner_(owner) {
  SetTypeCode(ClassTypeCode(className));
}

std::string_view TChunk::ClassTypeCode(std::string_view className) {
  constexpr std::string_view kPrefix = "TChunk";
  if (className.size() != kPrefix.size() + 4 || className.substr(0, kPrefix.size()) != kPrefix)
    return {};
  return className.substr(kPrefix.size());
}

void TChunk::SetTypeCode(std::string_view code) {
  typeCode_ = {};
  if (code.size() == typeCode_.size()) std::copy(code.begin(), code.end(), typeCode_.begin());
}

std::unique_ptr<TChunk> TChunk::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunk>(owner);
}

void TChunk::CopyChunk(const TChunk& source) {
  typeCode_ = source.typeCode_;
  SetPayloadSize(source.payloadSize_);
  std::copy_n(source.payload_.begin(), source.payloadSize_, payload_.begin());
}

bool TChunk::WriteChunk(TStream& stream) {
  return WriteFramed(stream);
}

void WriteRecord(TStream& stream, const std::uint8_t* typeCode, const std::uint8_t* data,
                 std::uint32_t length) {
  std::uint8_t field[4];
  PutBigEndian32(field, length);
  stream.WriteBuffer(field, 4);
  stream.WriteBuffer(typeCode, 4);
  if (length > 0) stream.WriteBuffer(data, length);
  PutBigEndian32(field, RecordCrc(typeCode, data, length));
  stream.WriteBuffer(field, 4);
}

bool TChunk::WriteFramed(TStream& stream) {
  WriteRecord(stream, typeCode_.data(), payload_.data(), payloadSize_);
  return true;
}

void TChunk::SetPayloadSize(std::uint32_t size) {
  try {
    payload_.resize(static_cast<std::size_t>(size) + 1);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  payloadSize_ = size;
}

TChunkIHDR& TChunk::HeaderOf() const {
  auto* header = owner_ ? dynamic_cast<TChunkIHDR*>(owner_->ChunkItems.ChunkAt(0)) : nullptr;
  if (header == nullptr) throw EInvalidCast();
  return *header;
}

// ---------------------------------------------------------------------------
// TChunkIHDR

std::unique_ptr<TChunk> TChunkIHDR::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunkIHDR>(owner);
}

int TChunkIHDR::BitsPerStoredPixel() const {
  switch (HeaderValues.ColorType) {
    case kColorGrey:
    case kColorPalette:
    case kColorGreyAlpha:
      switch (HeaderValues.BitDepth) {
        case 1:
          return 1;
        case 2:
        case 4:
          return 4;
        case 8:
        case 16:
          return 8;
      }
      return 0;
    case kColorRGB:
    case kColorRGBAlpha:
      return HeaderValues.BitDepth == 8 || HeaderValues.BitDepth == 16 ? 24 : 0;
  }
  return 0;
}

void TChunkIHDR::PrepareStorage() {
  DibInfo = TDibInfo{};
  ReleaseStorage();

  const int bits = BitsPerStoredPixel();
  const std::int64_t width = HeaderValues.Width;
  const std::int64_t height = HeaderValues.Height;
  // The description holds both as signed 32-bit numbers.
  if (width > std::numeric_limits<std::int32_t>::max() ||
      height > std::numeric_limits<std::int32_t>::max())
    throw EOutOfMemory();
  TBitmapInfoHeader& info = DibInfo.bmiHeader;
  info.biSize = 40;
  info.biWidth = static_cast<std::int32_t>(width);
  info.biHeight = static_cast<std::int32_t>(height);
  info.biPlanes = 1;
  info.biBitCount = static_cast<std::uint16_t>(bits);
  UsesColorTable = bits != 0 && bits <= 8;

  const std::int64_t stride = ((bits * width + 31) / 32) * 4;
  if (stride > std::numeric_limits<std::int32_t>::max()) throw EOutOfMemory();
  RowStride = static_cast<std::int32_t>(stride);

  if (HeaderValues.ColorType == kColorGreyAlpha || HeaderValues.ColorType == kColorRGBAlpha)
    AllocateZeroed(AlphaPlane, width * height);
  if (HeaderValues.BitDepth == 16) AllocateZeroed(LowBytePlane, stride * height);

  if (UsesColorTable) {
    PaletteHandle = HeaderValues.ColorType == kColorPalette
                        ? CreateHalftonePalette()
                        : MakeGrayPalette(HeaderValues.BitDepth);
    const int entries = 1 << bits;
    ResizePalette(*PaletteHandle, entries);
    DibInfo.bmiHeader.biClrUsed = static_cast<std::uint32_t>(entries);
    LoadColorTable(*PaletteHandle);
  }

  AllocateZeroed(StoredRows, stride * height);
}

void TChunkIHDR::ReleaseStorage() {
  ReleaseBuffer(AlphaPlane);
  PaletteHandle.reset();
  ReleaseBuffer(LowBytePlane);
  ReleaseBuffer(StoredRows);
}

void TChunkIHDR::LoadColorTable(const TPalette& palette) {
  TPaletteEntry entries[TPalette::kMaxEntries];
  const int count = GetPaletteEntries(palette, 0, TPalette::kMaxEntries, entries);
  DibInfo.bmiHeader.biClrUsed = static_cast<std::uint32_t>(count);
  for (int i = 0; i < count; ++i) {
    TRGBQuad& color = DibInfo.bmiColors[static_cast<std::size_t>(i)];
    color.rgbBlue = entries[i].peBlue;
    color.rgbGreen = entries[i].peGreen;
    color.rgbRed = entries[i].peRed;
  }
}

std::unique_ptr<TPalette> TChunkIHDR::MakeGrayPalette(int bitDepth) const {
  const int count = bitDepth >= 8 ? 256 : 1 << bitDepth;
  std::vector<TPaletteEntry> entries(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const int k = count > 1 ? MulDiv(i, 255, count - 1) : 0;
    const auto level = OwnerImage() ? OwnerImage()->InputToneTable[static_cast<std::size_t>(k)]
                                    : static_cast<std::uint8_t>(k);
    entries[static_cast<std::size_t>(i)] = {level, level, level, 0};
  }
  return std::make_unique<TPalette>(std::move(entries));
}

void TChunkIHDR::CopyChunk(const TChunk& chunk) {
  const auto& source = SameClass<TChunkIHDR>(chunk);
  HeaderValues = source.HeaderValues;
  PrepareStorage();
  StoredRows = source.StoredRows;
  AlphaPlane = source.AlphaPlane;
  LowBytePlane = source.LowBytePlane;
  DibInfo.bmiColors = source.DibInfo.bmiColors;
  if (PaletteHandle && source.PaletteHandle) {
    const TPalette& from = *source.PaletteHandle;
    ResizePalette(*PaletteHandle, from.EntryCount());
    SetPaletteEntries(*PaletteHandle, 0, from.EntryCount(), from.Entries().data());
  }
}

bool TChunkIHDR::WriteChunk(TStream& stream) {
  // A 2-bit image is stored with 4 bits per pixel and written so.
  if (HeaderValues.BitDepth == 2) HeaderValues.BitDepth = 4;
  SetPayloadSize(13);
  std::uint8_t* payload = Payload();
  PutBigEndian32(payload, HeaderValues.Width);
  PutBigEndian32(payload + 4, HeaderValues.Height);
  payload[8] = HeaderValues.BitDepth;
  payload[9] = HeaderValues.ColorType;
  payload[10] = HeaderValues.CompressionMethod;
  payload[11] = HeaderValues.FilterMethod;
  payload[12] = OwnerImage() ? OwnerImage()->InterlaceMode : HeaderValues.InterlaceMethod;
  return WriteFramed(stream);
}

// ---------------------------------------------------------------------------
// TChunkPLTE

std::unique_ptr<TChunk> TChunkPLTE::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunkPLTE>(owner);
}

void TChunkPLTE::CopyChunk(const TChunk& source) {
  EntryCount = SameClass<TChunkPLTE>(source).EntryCount;
}

bool TChunkPLTE::WriteChunk(TStream& stream) {
  TChunkIHDR& header = HeaderOf();
  if (EntryCount == 0) EntryCount = static_cast<std::int32_t>(header.DibInfo.bmiHeader.biClrUsed);
  // A palette holds at most 256 entries; more would read past the fetch.
  const int count = std::clamp(EntryCount, 0, TPalette::kMaxEntries);
  SetPayloadSize(static_cast<std::uint32_t>(3 * count));

  TPaletteEntry entries[TPalette::kMaxEntries] = {};
  if (header.PaletteHandle)
    GetPaletteEntries(*header.PaletteHandle, 0, TPalette::kMaxEntries, entries);
  const auto& tone = OwnerImage()->OutputToneTable;
  std::uint8_t* payload = Payload();
  for (int i = 0; i < count; ++i) {
    payload[3 * i] = tone[entries[i].peRed];
    payload[3 * i + 1] = tone[entries[i].peGreen];
    payload[3 * i + 2] = tone[entries[i].peBlue];
  }
  return WriteFramed(stream);
}

// ---------------------------------------------------------------------------
// TChunktRNS

std::unique_ptr<TChunk> TChunktRNS::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunktRNS>(owner);
}

void TChunktRNS::CopyChunk(const TChunk& chunk) {
  const auto& source = SameClass<TChunktRNS>(chunk);
  AlphaValues = source.AlphaValues;
  SingleTransparent = source.SingleTransparent;
  TChunk::CopyChunk(source);
}

bool TChunktRNS::WriteChunk(TStream& stream) {
  // An empty transparency chunk is invalid in every colour type; it stands
  // for "nothing is transparent", which is said by leaving it out.
  if (PayloadSize() == 0) return true;
  if (PayloadSize() <= AlphaValues.size())
    std::copy_n(AlphaValues.begin(), PayloadSize(), Payload());
  return WriteFramed(stream);
}

// ---------------------------------------------------------------------------
// TChunkgAMA

TChunkgAMA::TChunkgAMA(TPNGObject* owner) : TChunk(owner, kClassName) {
  SetPayloadSize(4);
  SetGammaValue(1);
}

std::unique_ptr<TChunk> TChunkgAMA::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunkgAMA>(owner);
}

void TChunkgAMA::CopyChunk(const TChunk& source) {
  SetGammaValue(SameClass<TChunkgAMA>(source).GammaValue());
}

std::uint32_t TChunkgAMA::GammaValue() const {
  const std::uint8_t* p = Payload();
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

void TChunkgAMA::SetGammaValue(std::uint32_t value) {
  if (PayloadSize() < 4) SetPayloadSize(4);
  PutBigEndian32(Payload(), value);
}

// ---------------------------------------------------------------------------
// TChunkpHYs

std::unique_ptr<TChunk> TChunkpHYs::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunkpHYs>(owner);
}

void TChunkpHYs::CopyChunk(const TChunk& chunk) {
  const auto& source = SameClass<TChunkpHYs>(chunk);
  PixelsPerUnitX = source.PixelsPerUnitX;
  PixelsPerUnitY = source.PixelsPerUnitY;
  UnitSpecifier = source.UnitSpecifier;
}

bool TChunkpHYs::WriteChunk(TStream& stream) {
  SetPayloadSize(9);
  PutBigEndian32(Payload(), PixelsPerUnitX);
  PutBigEndian32(Payload() + 4, PixelsPerUnitY);
  Payload()[8] = UnitSpecifier;
  return WriteFramed(stream);
}

// ---------------------------------------------------------------------------
// TChunkIEND

std::unique_ptr<TChunk> TChunkIEND::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunkIEND>(owner);
}

// ---------------------------------------------------------------------------
// The list

void TPNGPointerList::AddItem(std::unique_ptr<TChunk> item) {
  ItemArray.push_back(std::move(item));
}

TChunk* TPNGPointerList::ItemAt(std::int32_t index) const {
  if (index < 0 || index >= ItemCount()) return nullptr;
  return ItemArray[static_cast<std::size_t>(index)].get();
}

void TPNGPointerList::SetItemAt(std::int32_t index, std::unique_ptr<TChunk> item) {
  if (index < 0 || index >= ItemCount()) return;
  ItemArray[static_cast<std::size_t>(index)] = std::move(item);
}

void TPNGPointerList::SetCount(std::int32_t count) {
  ItemArray.resize(static_cast<std::size_t>(std::max(count, 0)));
  if (count <= 0) ItemArray.shrink_to_fit();
}

std::unique_ptr<TChunk> TPNGPointerList::RemoveItem(const TChunk* item) {
  for (auto i = ItemArray.size(); i-- > 0;) {
    if (ItemArray[i].get() != item) continue;
    std::unique_ptr<TChunk> removed = std::move(ItemArray[i]);
    ItemArray.erase(ItemArray.begin() + static_cast<std::ptrdiff_t>(i));
    return removed;
  }
  return nullptr;
}

void TPNGPointerList::Clear() {
  for (auto& item : ItemArray) item.reset();
  ItemArray.clear();
  ItemArray.shrink_to_fit();
}

}  // namespace vornesk
