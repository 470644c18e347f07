// The one place that calls libjpeg when compressing. libjpeg reports errors
// through a callback that must not return, and its C frames carry no unwind
// information, so no C++ exception may pass through them. Everything that can
// fail inside the library therefore runs behind one setjmp; this function
// returns an outcome instead of throwing, and the caller turns it into the
// right exception once the library state is gone.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Compresses the image into a baseline JFIF stream handed to `append` in
// 4096-byte steps. An image of width or height 0 produces nothing. The
// library state is destroyed before this returns, on every path.
CompressOutcome CompressRows(const CompressJob& job) noexcept;

}  // namespace vornesk::jpeg
