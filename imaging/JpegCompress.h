// The one place that calls libjpeg when compressing. libjpeg reports errors
// through a callback that must not return, and its C frames carry no unwind
// information, so no C++ exception may pass through them. Everything that can
// fail inside the library therefore runs behind one setjmp; this function
// returns an outcome instead of throwing, and the caller turns it into the
// right exception once the library state is gone.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vornesk::jpeg {

// Appends compressed bytes to the caller's memory block. Must not throw;
// returns false when the block cannot grow to hold them.
using AppendFunction = bool (*)(void* context, const std::uint8_t* bytes,
                                std::size_t count) noexcept;

struct CompressJob {
  // The pixels: `height` rows of `stride` bytes, the bottom image row first,
  // each pixel blue, green, red (a 24-bit device-independent copy). May be
  // null when width or height is 0.
  const std::uint8_t* rows = nullptr;
  std::size_t stride = 0;
  int width = 0;
  int height = 0;
  // Room for one row of width x 3 bytes, where each row is put into the red,
  // green, blue order the library takes.
  std::uint8_t* rowBuffer = nullptr;

  int quality = 90;
  bool grayscale = false;
  bool progressive = false;

  AppendFunction append = nullptr;
  void* appendContext = nullptr;
};

enum class CompressStatus {
  kDone,
  kLibraryError,  // messageCode holds the library's J_MESSAGE_CODE
  kAppendFailed,  // the memory block could not grow
};

struct CompressOutcome {
  CompressStatus status = CompressStatus::kDone;
  int messageCode = 0;
};

// One row of the 24-bit copy (blue, green, red) in the red, green, blue order
// the library takes. On little-endian machines each pixel is moved as one
// 32-bit word, byte-swapped and shifted; the word reaches one byte into the
// next pixel, which the next step rewrites, so only the last pixel goes byte
// by byte.
inline void BgrToRgb(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
  if (width == 0) return;
  std::size_t x = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; x + 1 < width; ++x) {
      std::uint32_t word;
      std::memcpy(&word, in, 4);
      word = __builtin_bswap32(word) >> 8;
      std::memcpy(out, &word, 4);
      in += 3;
      out += 3;
    }
  }
  for (; x < width; ++x) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    in += 3;
    out += 3;
  }
}

// Compresses the image into a baseline JFIF stream handed to `append` in
// 4096-byte steps. An image of width or height 0 produces nothing. The
// library state is destroyed before this returns, on every path.
CompressOutcome CompressRows(const CompressJob& job) noexcept;

}  // namespace vornesk::jpeg
