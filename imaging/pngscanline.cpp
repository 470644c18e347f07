// Scanline encoding: the stored rows, top to bottom, packed into PNG's byte
// order and filtered, one row at a time. Only one row (and the one before
// it) is ever held.
#include <cstring>
#include <limits>

#include "imaging/pngimage.h"
#include "platform/DibCopy.h"

namespace vornesk {

namespace {

constexpr std::uint8_t kFilterNone = 0;
constexpr std::uint8_t kFilterSub = 1;
constexpr std::uint8_t kFilterUp = 2;
constexpr std::uint8_t kFilterAverage = 3;
constexpr std::uint8_t kFilterPaeth = 4;
constexpr std::uint8_t kAllFilters = 0x1F;
constexpr int kRawBuffer = 5;

bool InSet(std::uint8_t set, std::uint8_t type) {
  return (set >> type) & 1;
}

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void Store64(std::uint8_t* p, std::uint64_t v) {
  std::memcpy(p, &v, sizeof v);
}

// Eight byte-wise differences a - b (mod 256) at once: the top bit of every
// byte is set in the minuend and cleared in the subtrahend so that no borrow
// crosses a byte, then put right.
std::uint64_t SubtractBytes(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  return ((a | kHigh) - (b & ~kHigh)) ^ ((a ^ ~b) & kHigh);
}

// out[i] = raw[i] - base[i] for i below count.
void SubtractRows(const std::uint8_t* raw, const std::uint8_t* base, std::uint8_t* __restrict out,
                  std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) Store64(out + i, SubtractBytes(Load64(raw + i), Load64(base + i)));
  for (; i < count; ++i) out[i] = static_cast<std::uint8_t>(raw[i] - base[i]);
}

void SubFilter(const std::uint8_t* raw, std::uint8_t* __restrict out, std::size_t length,
               std::size_t distance) {
  if (length <= distance) {
    for (std::size_t i = 0; i < length; ++i) out[i] = raw[i];
    return;
  }
  std::memcpy(out, raw, distance);
  // Byte i's left neighbour is byte i - distance of the same row.
  SubtractRows(raw + distance, raw, out + distance, length - distance);
}

void UpFilter(const std::uint8_t* raw, const std::uint8_t* prev, std::uint8_t* __restrict out,
              std::size_t length) {
  SubtractRows(raw, prev, out, length);
}

void AverageFilter(const std::uint8_t* __restrict raw, const std::uint8_t* __restrict prev,
                   std::uint8_t* __restrict out, std::size_t length, std::size_t distance) {
  const std::size_t head = distance < length ? distance : length;
  for (std::size_t i = 0; i < head; ++i)
    out[i] = static_cast<std::uint8_t>(raw[i] - (prev[i] >> 1));
  for (std::size_t i = head; i < length; ++i) {
    const unsigned sum = unsigned{raw[i - distance]} + prev[i];
    out[i] = static_cast<std::uint8_t>(raw[i] - (sum >> 1));
  }
}

void PaethFilter(const std::uint8_t* __restrict raw, const std::uint8_t* __restrict prev,
                 std::uint8_t* __restrict out, std::size_t length, std::size_t distance) {
  const std::size_t head = distance < length ? distance : length;
  for (std::size_t i = 0; i < head; ++i)
    out[i] = static_cast<std::uint8_t>(raw[i] - PaethPredict(0, prev[i], 0));
  for (std::size_t i = head; i < length; ++i)
    out[i] = static_cast<std::uint8_t>(
        raw[i] - PaethPredict(raw[i - distance], prev[i], prev[i - distance]));
}

// Positions 2..length-1 whose byte repeats one of the two before it.
std::int32_t RepeatCount(const std::uint8_t* bytes, std::size_t length) {
  std::int32_t count = 0;
  for (std::size_t j = 2; j < length; ++j)
    count += (bytes[j] == bytes[j - 1] || bytes[j] == bytes[j - 2]) ? 1 : 0;
  return count;
}

}  // namespace

TScanlineGeometry TPNGObject::ScanlineGeometry() const {
  if (!HasHeader()) return {};
  const THeaderValues& header = RequireHeader().HeaderValues;
  const std::int64_t width = header.Width;
  std::int64_t length = 0;
  std::uint32_t distance = 0;
  if (header.ColorType == kColorPalette && (header.BitDepth == 1 || header.BitDepth == 2 ||
                                            header.BitDepth == 4 || header.BitDepth == 8)) {
    // A 2-bit image is stored, and written, with 4 bits per pixel.
    const int depth = header.BitDepth == 2 ? 4 : header.BitDepth;
    length = (width * depth + 7) / 8;
    distance = 1;
  } else if (header.ColorType == kColorRGB && header.BitDepth == 8) {
    length = width * header.BitDepth * 3 / 8;
    distance = header.BitDepth * 3 / 8;
  } else {
    RaisePngError<EPngUnsupportedLayout>(pnglang::EPngUnsupportedLayoutText);
  }
  // One scanline and its filter byte must fit the compressor's counters.
  if (length >= std::numeric_limits<std::int32_t>::max()) throw EOutOfMemory();
  return {static_cast<std::int32_t>(length), distance};
}

void TChunkIDAT::PrepareScanlineBuffers() {
  const auto length = static_cast<std::size_t>(ScanlineLength);
  ReleaseScanlineBuffers();
  // Rows are filtered with the set the buffers were made for, so a set
  // changed in the middle of a save cannot reach a candidate never allocated.
  filterSet_ = OwnerImage()->RowFilterSet & kAllFilters;
  const std::uint8_t set = filterSet_;
  try {
    ScanlineBuffers[kRawBuffer].assign(length, 0);
    ScanlineBuffers[kFilterNone].assign(length, 0);
    for (std::uint8_t type = kFilterSub; type <= kFilterPaeth; ++type)
      if (InSet(set, type)) ScanlineBuffers[type].assign(length, 0);
  } catch (const std::bad_alloc&) {
    ReleaseScanlineBuffers();
    throw EOutOfMemory();
  }

  const TChunkIHDR& header = *HeaderChunk;
  if (header.HeaderValues.ColorType != kColorRGB) {
    packKind_ = TPackKind::CopyIndices;
  } else {
    const auto& tone = OwnerImage()->OutputToneTable;
    bool identity = true;
    for (std::size_t i = 0; i < tone.size(); ++i) identity = identity && tone[i] == i;
    packKind_ = identity ? TPackKind::SwapRGB : TPackKind::ToneRGB;
  }
}

void TChunkIDAT::ReleaseScanlineBuffers() {
  for (auto& buffer : ScanlineBuffers) std::vector<std::uint8_t>().swap(buffer);
}

void TChunkIDAT::PackScanline(const std::uint8_t* __restrict storedRow) {
  std::uint8_t* __restrict raw = ScanlineBuffers[kRawBuffer].data();
  const auto width = static_cast<std::size_t>(PixelWidth);
  switch (packKind_) {
    case TPackKind::CopyIndices:
      std::memcpy(raw, storedRow, static_cast<std::size_t>(ScanlineLength));
      break;
    case TPackKind::SwapRGB:
      // Stored blue, green, red; written red, green, blue.
      BgrToRgb(storedRow, raw, width);
      break;
    case TPackKind::ToneRGB: {
      const std::uint8_t* tone = OwnerImage()->OutputToneTable.data();
      for (std::size_t x = 0; x < width; ++x) {
        raw[3 * x] = tone[storedRow[3 * x + 2]];
        raw[3 * x + 1] = tone[storedRow[3 * x + 1]];
        raw[3 * x + 2] = tone[storedRow[3 * x]];
      }
      break;
    }
  }
}

std::uint8_t TChunkIDAT::ChooseRowFilter() {
  const std::uint8_t set = filterSet_;
  const auto length = static_cast<std::size_t>(ScanlineLength);
  const std::size_t distance = FilterDistance;
  const std::uint8_t* raw = ScanlineBuffers[kRawBuffer].data();
  std::uint8_t* prev = ScanlineBuffers[kFilterNone].data();

  if (InSet(set, kFilterSub)) SubFilter(raw, ScanlineBuffers[kFilterSub].data(), length, distance);
  if (InSet(set, kFilterUp)) UpFilter(raw, prev, ScanlineBuffers[kFilterUp].data(), length);
  if (InSet(set, kFilterAverage))
    AverageFilter(raw, prev, ScanlineBuffers[kFilterAverage].data(), length, distance);
  if (InSet(set, kFilterPaeth))
    PaethFilter(raw, prev, ScanlineBuffers[kFilterPaeth].data(), length, distance);
  // The raw row becomes the None candidate and the next row's previous row.
  if (length > 0) std::memcpy(prev, raw, length);

  if (set == 0 || set == (1u << kFilterNone)) return kFilterNone;
  std::int32_t best = 0;
  std::uint8_t result = kFilterNone;
  for (std::uint8_t type = kFilterNone; type <= kFilterPaeth; ++type) {
    if (!InSet(set, type)) continue;
    if (set == (1u << type)) return type;
    const std::int32_t count = RepeatCount(ScanlineBuffers[type].data(), length);
    if (count > best) {
      best = count;
      result = type;
    }
  }
  return result;
}

void TChunkIDAT::WriteScanlines(const TByteSink& sink) {
  const std::uint8_t* rows = HeaderChunk->StoredRows.data();
  const auto stride = static_cast<std::size_t>(HeaderChunk->RowStride);
  const auto length = static_cast<std::size_t>(ScanlineLength);
  for (std::int32_t y = 0; y < PixelHeight; ++y) {
    // Storage is bottom-up: the top row is the last one stored.
    PackScanline(rows + stride * static_cast<std::size_t>(PixelHeight - 1 - y));
    // Compressing this row evicts most of the cache; ask for the next one
    // now so that it is there when packing starts.
    if (y + 1 < PixelHeight) {
      const std::uint8_t* next = rows + stride * static_cast<std::size_t>(PixelHeight - 2 - y);
      for (std::size_t at = 0; at < length; at += 64) __builtin_prefetch(next + at);
    }
    const std::uint8_t type = ChooseRowFilter();
    sink(&type, 1);
    sink(ScanlineBuffers[type].data(), ScanlineLength);
  }
}

}  // namespace vornesk
