// The PNG image of the writer: an ordered list of chunk objects, one per chunk
// of the file. The header chunk comes first and owns the pixel storage, which
// has the layout of a device-independent bitmap so that one conversion call
// fills it from a platform bitmap. Saving turns the list into the file: the
// signature, then one checksummed record per chunk, the image data chunk
// filtering and deflating the stored rows as it goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/pnglang.h"
#include "platform/Bitmap.h"
#include "platform/Exceptions.h"
#include "platform/Palette.h"
#include "platform/Persistent.h"
#include "platform/Stream.h"

namespace vornesk {

// ---------------------------------------------------------------------------
// The PNG family of exceptions. Each carries one text of pnglang.h.

#define VORNESK_PNG_EXCEPTION(name) \
  class name : public Exception {   \
   public:                          \
    using Exception::Exception;     \
  }

VORNESK_PNG_EXCEPTION(EPNGHeaderNotPresent);
VORNESK_PNG_EXCEPTION(EPngError);
VORNESK_PNG_EXCEPTION(EPNGOutMemory);
VORNESK_PNG_EXCEPTION(EPNGInvalidNewSize);
VORNESK_PNG_EXCEPTION(EPngUnexpectedEnd);
VORNESK_PNG_EXCEPTION(EPngInvalidCRC);
VORNESK_PNG_EXCEPTION(EPngInvalidIHDR);
VORNESK_PNG_EXCEPTION(EPNGMissingMultipleIDAT);
VORNESK_PNG_EXCEPTION(EPNGZLIBError);
VORNESK_PNG_EXCEPTION(EPNGInvalidPalette);
VORNESK_PNG_EXCEPTION(EPNGInvalidFileHeader);
VORNESK_PNG_EXCEPTION(EPNGIHDRNotFirst);
VORNESK_PNG_EXCEPTION(EPNGSizeExceeds);
VORNESK_PNG_EXCEPTION(EPNGUnknownCriticalChunk);
VORNESK_PNG_EXCEPTION(EPNGUnknownCompression);
VORNESK_PNG_EXCEPTION(EPNGUnknownInterlace);
VORNESK_PNG_EXCEPTION(EPNGNoImageData);
// An image with a width or height of 0: PNG has no way to store it.
VORNESK_PNG_EXCEPTION(EPngEmptyImage);
// An interlace method or pixel layout the encoder does not produce.
VORNESK_PNG_EXCEPTION(EPngUnsupportedLayout);

#undef VORNESK_PNG_EXCEPTION

// Every PNG failure goes through here, so that each class is always raised
// with its own text.
template <class ExceptionClass>
[[noreturn]] void RaisePngError(const std::string& message) {
  throw ExceptionClass(message);
}

// ---------------------------------------------------------------------------
// File constants and the checksum.

inline constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 0x50, 0x4E, 0x47,
                                                              0x0D, 0x0A, 0x1A, 0x0A};

inline constexpr std::uint8_t kColorGrey = 0;
inline constexpr std::uint8_t kColorRGB = 2;
inline constexpr std::uint8_t kColorPalette = 3;
inline constexpr std::uint8_t kColorGreyAlpha = 4;
inline constexpr std::uint8_t kColorRGBAlpha = 6;

inline constexpr std::int32_t kMinIdatChunkLimit = 65535;

// The CRC-32 register after `count` more bytes: no preset, no final
// complement. A record's checksum is
// ~UpdateCrc(UpdateCrc(0xFFFFFFFF, type, 4), payload, n).
std::uint32_t UpdateCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// The checksum field of one record, type code and payload given apart.
std::uint32_t RecordCrc(const std::uint8_t* typeCode, const std::uint8_t* payload,
                        std::size_t count);

// One record, in four writes: the length, the type code, the data (left out
// when there is none) and the checksum.
void WriteRecord(TStream& stream, const std::uint8_t* typeCode, const std::uint8_t* data,
                 std::uint32_t length);

// ---------------------------------------------------------------------------
// The storage description handed to the bitmap conversion.

struct TBitmapInfoHeader {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};

struct TDibInfo {
  TBitmapInfoHeader bmiHeader;
  std::array<TRGBQuad, 256> bmiColors{};
};

// The 13 bytes of the PNG header in their order.
struct THeaderValues {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint8_t BitDepth = 0;
  std::uint8_t ColorType = 0;
  std::uint8_t CompressionMethod = 0;
  std::uint8_t FilterMethod = 0;
  std::uint8_t InterlaceMethod = 0;
};

class TPNGObject;
class TChunkIHDR;

// ---------------------------------------------------------------------------
// Chunks.

class TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunk";

  // A chunk of no class of its own: its type code stays zero until set.
  explicit TChunk(TPNGObject* owner) : TChunk(owner, kClassName) {}
  virtual ~TChunk() = default;

  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;

  virtual std::string_view ClassName() const { return kClassName; }
  // The class name without "TChunk" when that leaves four letters, else "".
  static std::string_view ClassTypeCode(std::string_view className);

  // A new chunk of this object's class, owned by `owner`.
  virtual std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const;
  // Takes the state of `source`.
  virtual void CopyChunk(const TChunk& source);
  // Writes the chunk's record(s); true on success.
  virtual bool WriteChunk(TStream& stream);

  // One record from PayloadSize, TypeCode and Payload.
  bool WriteFramed(TStream& stream);
  // Resizes the payload, keeping its leading bytes.
  void SetPayloadSize(std::uint32_t size);
  // The owner's first chunk as a header; EInvalidCast when it is not one.
  TChunkIHDR& HeaderOf() const;

  std::uint8_t* Payload() { return payload_.data(); }
  const std::uint8_t* Payload() const { return payload_.data(); }
  std::uint32_t PayloadSize() const { return payloadSize_; }
  TPNGObject* OwnerImage() const { return owner_; }
  const std::array<std::uint8_t, 4>& TypeCode() const { return typeCode_; }
  std::string TypeName() const { return std::string(typeCode_.begin(), typeCode_.end()); }
  void SetTypeCode(std::string_view code);

 protected:
  TChunk(TPNGObject* owner, std::string_view className);

 private:
  // Always one byte longer than the payload.
  std::vector<std::uint8_t> payload_;
  std::uint32_t payloadSize_ = 0;
  TPNGObject* owner_ = nullptr;
  std::array<std::uint8_t, 4> typeCode_{};
};

class TChunkIHDR : public TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunkIHDR";
  explicit TChunkIHDR(TPNGObject* owner) : TChunk(owner, kClassName) {}
  ~TChunkIHDR() override { ReleaseStorage(); }

  std::string_view ClassName() const override { return kClassName; }
  std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const override;
  void CopyChunk(const TChunk& source) override;
  bool WriteChunk(TStream& stream) override;

  // Allocates zeroed storage, colour table and palette for HeaderValues.
  // Raises EOutOfMemory when the storage cannot be had.
  void PrepareStorage();
  void ReleaseStorage();
  // Copies up to 256 palette entries into the colour table.
  void LoadColorTable(const TPalette& palette);
  // 2^bitDepth greys (256 for 16 bits) through the input tone table.
  std::unique_ptr<TPalette> MakeGrayPalette(int bitDepth) const;
  // 1, 4, 8 or 24 for a known layout, 0 otherwise.
  int BitsPerStoredPixel() const;

  std::unique_ptr<TPalette> PaletteHandle;
  bool UsesColorTable = false;
  TDibInfo DibInfo;
  std::vector<std::uint8_t> LowBytePlane;
  // Bottom-up rows of RowStride bytes.
  std::vector<std::uint8_t> StoredRows;
  std::vector<std::uint8_t> AlphaPlane;
  THeaderValues HeaderValues;
  std::int32_t RowStride = 0;
};

class TChunkPLTE : public TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunkPLTE";
  explicit TChunkPLTE(TPNGObject* owner) : TChunk(owner, kClassName) {}

  std::string_view ClassName() const override { return kClassName; }
  std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const override;
  void CopyChunk(const TChunk& source) override;
  bool WriteChunk(TStream& stream) override;

  // Entries to write; 0 takes the count of the header's colour table.
  std::int32_t EntryCount = 0;
};

class TChunktRNS : public TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunktRNS";
  explicit TChunktRNS(TPNGObject* owner) : TChunk(owner, kClassName) {}

  std::string_view ClassName() const override { return kClassName; }
  std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const override;
  void CopyChunk(const TChunk& source) override;
  bool WriteChunk(TStream& stream) override;

  // Makes `color` the one transparent colour of the image.
  void MarkTransparentColor(TColor color);

  bool SingleTransparent = false;
  std::array<std::uint8_t, 256> AlphaValues{};
};

class TChunkgAMA : public TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunkgAMA";
  explicit TChunkgAMA(TPNGObject* owner);

  std::string_view ClassName() const override { return kClassName; }
  std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const override;
  void CopyChunk(const TChunk& source) override;

  // Kept in the 4-byte payload, big-endian.
  std::uint32_t GammaValue() const;
  void SetGammaValue(std::uint32_t value);
};

class TChunkpHYs : public TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunkpHYs";
  explicit TChunkpHYs(TPNGObject* owner) : TChunk(owner, kClassName) {}

  std::string_view ClassName() const override { return kClassName; }
  std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const override;
  void CopyChunk(const TChunk& source) override;
  bool WriteChunk(TStream& stream) override;

  std::uint32_t PixelsPerUnitX = 0;
  std::uint32_t PixelsPerUnitY = 0;
  std::uint8_t UnitSpecifier = 0;
};

class TChunkIEND : public TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunkIEND";
  explicit TChunkIEND(TPNGObject* owner) : TChunk(owner, kClassName) {}

  std::string_view ClassName() const override { return kClassName; }
  std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const override;
};

// Receives the filtered image data, one block at a time.
using TByteSink = std::function<void(const std::uint8_t* block, std::int32_t length)>;

// The image data. It holds no pixels: saving it filters the header's stored
// rows and deflates them straight into IDAT records. The scanline state below
// exists only during one save.
class TChunkIDAT : public TChunk {
 public:
  static constexpr std::string_view kClassName = "TChunkIDAT";
  explicit TChunkIDAT(TPNGObject* owner) : TChunk(owner, kClassName) {}

  std::string_view ClassName() const override { return kClassName; }
  std::unique_ptr<TChunk> CreateSame(TPNGObject* owner) const override;
  bool WriteChunk(TStream& stream) override;

  // Raises, before anything is written, when the image cannot be encoded:
  // EInvalidCast without header, EPngEmptyImage for a width or height of 0,
  // EPngUnsupportedLayout for an interlaced image, a layout the encoder does
  // not write or storage that does not match the header.
  void CheckEncodable() const;

  // With HeaderChunk and ScanlineLength set: allocates the raw and previous
  // scanlines (zeroed) and a candidate for each filter type of the owner's
  // filter set, which rows are then filtered with. ReleaseScanlineBuffers
  // frees them all.
  void PrepareScanlineBuffers();
  void ReleaseScanlineBuffers();
  // The raw scanline of one stored row into buffer 5.
  void PackScanline(const std::uint8_t* storedRow);
  // Filters the raw scanline, makes it the previous one and returns the
  // filter type whose buffer is to be written.
  std::uint8_t ChooseRowFilter();
  // Every row, top to bottom: its filter type byte, then its scanline.
  void WriteScanlines(const TByteSink& sink);

  TChunkIHDR* HeaderChunk = nullptr;
  std::int32_t PixelWidth = 0;
  std::int32_t PixelHeight = 0;
  std::int32_t ScanlineLength = 0;
  std::uint32_t FilterDistance = 0;
  // 0..4: the candidates of filter types 0..4 (0 doubles as the previous
  // raw scanline); 5: the raw scanline of the current row.
  std::array<std::vector<std::uint8_t>, 6> ScanlineBuffers;

 private:
  enum class TPackKind { CopyIndices, SwapRGB, ToneRGB };
  TPackKind packKind_ = TPackKind::CopyIndices;
  std::uint8_t filterSet_ = 0;
};

// The Paeth predictor of the PNG standard.
inline std::uint8_t PaethPredict(std::uint8_t left, std::uint8_t up, std::uint8_t upperLeft) {
  const int p = left + up - upperLeft;
  const int pa = p > left ? p - left : left - p;
  const int pb = p > up ? p - up : up - p;
  const int pc = p > upperLeft ? p - upperLeft : upperLeft - p;
  if (pa <= pb && pa <= pc) return left;
  if (pb <= pc) return up;
  return upperLeft;
}

// ---------------------------------------------------------------------------
// The chunk list.

// A list of chunks in file order. It owns its chunks: removing one hands it
// back to the caller.
class TPNGPointerList {
 public:
  explicit TPNGPointerList(TPNGObject* owner) : owner_(owner) {}

  TPNGObject* ListOwner() const { return owner_; }
  std::int32_t ItemCount() const { return static_cast<std::int32_t>(ItemArray.size()); }

  void AddItem(std::unique_ptr<TChunk> item);
  // nullptr outside 0..ItemCount - 1.
  TChunk* ItemAt(std::int32_t index) const;
  // Ignored outside 0..ItemCount - 1.
  void SetItemAt(std::int32_t index, std::unique_ptr<TChunk> item);
  // New slots are empty until set; slots cut off are destroyed.
  void SetCount(std::int32_t count);
  // Takes the last occurrence of `item` out of the list; nullptr when absent.
  virtual std::unique_ptr<TChunk> RemoveItem(const TChunk* item);
  // Destroys every chunk, first to last, and empties the list.
  void Clear();

  virtual ~TPNGPointerList() = default;

 private:
  TPNGObject* owner_;
  std::vector<std::unique_ptr<TChunk>> ItemArray;
};

class TPNGList : public TPNGPointerList {
 public:
  using TPNGPointerList::TPNGPointerList;

  TChunk* ChunkAt(std::int32_t index) const { return ItemAt(index); }
  // The first chunk of class K or a class derived from it.
  template <class K>
  K* FindByClass() const {
    for (std::int32_t i = 0; i < ItemCount(); ++i)
      if (auto* chunk = dynamic_cast<K*>(ItemAt(i))) return chunk;
    return nullptr;
  }
};

// ---------------------------------------------------------------------------
// The image.

struct TScanlineGeometry {
  std::int32_t ScanlineLength = 0;
  std::uint32_t FilterDistance = 0;
};

class TPNGObject : public TPersistent {
 public:
  TPNGObject();
  ~TPNGObject() override;

  TPNGObject(const TPNGObject&) = delete;
  TPNGObject& operator=(const TPNGObject&) = delete;

  std::string ClassName() const override { return "TPNGObject"; }

  // nullptr empties the image; a TPNGObject is copied; a TBitmap imported.
  // Anything else raises EConvertError.
  void Assign(const TPersistent* source);
  void ImportBitmap(const TBitmap& bitmap, bool transparent, TColor transparentColor);
  void CopyImageFrom(const TPNGObject& source);
  // Identity tone tables, no chunks.
  void ResetImage();

  bool HasHeader() const;
  // EPNGHeaderNotPresent when there is no header.
  TChunkIHDR& RequireHeader() const;
  std::uint32_t Width() const;
  std::uint32_t Height() const;
  bool Empty() const { return ChunkItems.ItemCount() == 0; }
  // The header's palette (nullptr when it has none); needs the header.
  const TPalette* Palette() const;
  // For an indexed image the palette becomes the header's (and, when
  // `loadColorTable`, its colour table); otherwise `palette` is left alone.
  void ApplyPalette(std::unique_ptr<TPalette>&& palette, bool loadColorTable);

  std::int32_t IdatChunkLimit() const { return idatChunkLimit_; }
  // Values below 65535 store 65535.
  void SetIdatChunkLimit(std::int32_t limit);

  // Scanline length and filter distance of the header's layout; zero without
  // a header. EPngUnsupportedLayout for a layout the encoder cannot write.
  TScanlineGeometry ScanlineGeometry() const;

  // The whole file. EPngEmptyImage / EPngUnsupportedLayout before anything is
  // written when the image cannot be encoded.
  void SaveToStream(TStream& stream);
  // Through a temporary file: nothing is left at `path` on failure.
  void SaveToFile(const std::string& path);

  std::array<std::uint8_t, 256> OutputToneTable{};
  std::array<std::uint8_t, 256> InputToneTable{};
  // Bit n set: filter type n may be chosen for a row.
  std::uint8_t RowFilterSet = 0x02;
  std::uint8_t DeflateLevel = 7;
  std::uint8_t InterlaceMode = 0;
  TPNGList ChunkItems;

 private:
  void CheckWritable() const;

  std::int32_t idatChunkLimit_ = kMinIdatChunkLimit;
};

}  // namespace vornesk
