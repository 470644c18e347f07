// Streamed compression of the image data: bytes go into zlib as they are
// produced, and every time the output buffer fills it leaves as one IDAT
// record. Neither the filtered nor the compressed image is ever held whole.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "platform/Stream.h"

namespace vornesk {

inline void PutBigEndian32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

// One image-data save. The destructor releases the compressor, so an
// exception on the way leaks nothing.
struct TDeflateContext {
  TDeflateContext() = default;
  TDeflateContext(const TDeflateContext&) = delete;
  TDeflateContext& operator=(const TDeflateContext&) = delete;
  ~TDeflateContext();

  z_stream Stream{};
  std::vector<std::uint8_t> OutputBuffer;
  TStream* Destination = nullptr;
  bool Initialised = false;
};

// Raises EOutOfMemory when the buffer or the compressor cannot be had.
// Levels above 9 compress at 9.
void BeginDeflate(TDeflateContext& context, TStream& destination, std::uint8_t level,
                  std::int32_t bufferSize);
// The byte sink of the scanline encoder.
void DeflateBytes(TDeflateContext& context, const std::uint8_t* block, std::int32_t length);
// Ends the zlib stream and writes what is left, never an empty record.
void FinishDeflate(TDeflateContext& context);
void EndDeflate(TDeflateContext& context);
// One IDAT record holding `length` bytes of `block`.
void WriteIdatChunk(TStream& stream, const std::uint8_t* block, std::uint32_t length);

}  // namespace vornesk
