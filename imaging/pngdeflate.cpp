// The image data chunk's save: filtered rows into zlib, compressed bytes out
// as IDAT records of exactly the chunk limit, the last one holding the rest.
#include "imaging/pngdeflate.h"

#include <algorithm>
#include <limits>
#include <new>

#include "imaging/pngimage.h"

namespace vornesk {

namespace {

constexpr std::uint8_t kIdatType[4] = {'I', 'D', 'A', 'T'};

void ResetOutput(TDeflateContext& context) {
  context.Stream.next_out = context.OutputBuffer.data();
  context.Stream.avail_out = static_cast<uInt>(context.OutputBuffer.size());
}

std::uint32_t UsedOutput(const TDeflateContext& context) {
  return static_cast<std::uint32_t>(context.OutputBuffer.size() - context.Stream.avail_out);
}

// zlib takes its memory from the same heap as everything else; a status that
// says it could not go on can only mean the memory ran out.
[[noreturn]] void CompressorFailed() {
  throw EOutOfMemory();
}

// Releases the scanline buffers however the save ends.
struct TScanlineBuffersGuard {
  TChunkIDAT& chunk;
  ~TScanlineBuffersGuard() {
    chunk.ReleaseScanlineBuffers();
    chunk.HeaderChunk = nullptr;
  }
};

}  // namespace

TDeflateContext::~TDeflateContext() {
  if (Initialised) deflateEnd(&Stream);
}

void BeginDeflate(TDeflateContext& context, TStream& destination, std::uint8_t level,
                  std::int32_t bufferSize) {
  if (context.Initialised) EndDeflate(context);
  context.Stream = z_stream{};
  try {
    context.OutputBuffer.assign(static_cast<std::size_t>(std::max(bufferSize, 1)), 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  context.Destination = &destination;
  ResetOutput(context);
  const int status = deflateInit(&context.Stream, std::min<int>(level, Z_BEST_COMPRESSION));
  if (status != Z_OK) CompressorFailed();
  context.Initialised = true;
}

void DeflateBytes(TDeflateContext& context, const std::uint8_t* block, std::int32_t length) {
  z_stream& stream = context.Stream;
  // zlib does not write through next_in.
  stream.next_in = const_cast<Bytef*>(block);
  stream.avail_in = static_cast<uInt>(std::max(length, 0));
  while (stream.avail_in > 0) {
    const uInt inBefore = stream.avail_in, outBefore = stream.avail_out;
    deflate(&stream, Z_NO_FLUSH);
    if (stream.avail_out == 0) {
      WriteIdatChunk(*context.Destination, context.OutputBuffer.data(), UsedOutput(context));
      ResetOutput(context);
    } else if (stream.avail_in == inBefore && stream.avail_out == outBefore) {
      CompressorFailed();
    }
  }
}

void FinishDeflate(TDeflateContext& context) {
  z_stream& stream = context.Stream;
  stream.next_in = nullptr;
  stream.avail_in = 0;
  int status = deflate(&stream, Z_FINISH);
  while (status != Z_STREAM_END) {
    if (status != Z_OK || UsedOutput(context) == 0) CompressorFailed();
    WriteIdatChunk(*context.Destination, context.OutputBuffer.data(), UsedOutput(context));
    ResetOutput(context);
    status = deflate(&stream, Z_FINISH);
  }
  if (UsedOutput(context) > 0)
    WriteIdatChunk(*context.Destination, context.OutputBuffer.data(), UsedOutput(context));
  ResetOutput(context);
}

void EndDeflate(TDeflateContext& context) {
  if (context.Initialised) deflateEnd(&context.Stream);
  context.Initialised = false;
  std::vector<std::uint8_t>().swap(context.OutputBuffer);
}

void WriteIdatChunk(TStream& stream, const std::uint8_t* block, std::uint32_t length) {
  WriteRecord(stream, kIdatType, block, length);
}

std::unique_ptr<TChunk> TChunkIDAT::CreateSame(TPNGObject* owner) const {
  return std::make_unique<TChunkIDAT>(owner);
}

void TChunkIDAT::CheckEncodable() const {
  const TChunkIHDR& header = HeaderOf();
  const TPNGObject& image = *OwnerImage();
  const THeaderValues& values = header.HeaderValues;
  if (values.Width == 0 || values.Height == 0)
    RaisePngError<EPngEmptyImage>(pnglang::EPngEmptyImageText);
  if (image.InterlaceMode != 0)
    RaisePngError<EPngUnsupportedLayout>(pnglang::EPngUnsupportedLayoutText);
  const TScanlineGeometry geometry = image.ScanlineGeometry();
  // The rows are read straight from the storage: it must hold every row the
  // header announces, each at least one scanline long.
  const auto rows = static_cast<std::uint64_t>(values.Height);
  const auto stride = static_cast<std::uint64_t>(std::max(header.RowStride, 0));
  if (values.Height > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
      stride < static_cast<std::uint64_t>(geometry.ScanlineLength) ||
      stride * rows > header.StoredRows.size())
    RaisePngError<EPngUnsupportedLayout>(pnglang::EPngUnsupportedLayoutText);
}

bool TChunkIDAT::WriteChunk(TStream& stream) {
  CheckEncodable();
  TPNGObject& image = *OwnerImage();
  HeaderChunk = &HeaderOf();
  TScanlineBuffersGuard guard{*this};
  PixelWidth = static_cast<std::int32_t>(HeaderChunk->HeaderValues.Width);
  PixelHeight = static_cast<std::int32_t>(HeaderChunk->HeaderValues.Height);
  const TScanlineGeometry geometry = image.ScanlineGeometry();
  ScanlineLength = geometry.ScanlineLength;
  FilterDistance = geometry.FilterDistance;
  PrepareScanlineBuffers();

  TDeflateContext context;
  BeginDeflate(context, stream, image.DeflateLevel, image.IdatChunkLimit());
  WriteScanlines([&context](const std::uint8_t* block, std::int32_t length) {
    DeflateBytes(context, block, length);
  });
  FinishDeflate(context);
  EndDeflate(context);
  return true;
}

}  // namespace vornesk
