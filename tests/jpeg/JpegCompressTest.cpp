// The library layer on its own: a memory block that cannot grow ends the
// compression from inside the library's output callbacks, and the call comes
// back with the failure instead of writing on.

#include <gtest/gtest.h>

#include <vector>

#include "imaging/JpegCompress.h"

namespace vornesk::jpeg {
namespace {

struct Sink {
  explicit Sink(int allowed) : appendsAllowed(allowed) {}
  int appendsAllowed;
  int appendsSeen = 0;
  std::vector<std::uint8_t> bytes;
};

bool LimitedAppend(void* context, const std::uint8_t* bytes, std::size_t count) noexcept {
  auto& sink = *static_cast<Sink*>(context);
  ++sink.appendsSeen;
  if (sink.appendsSeen > sink.appendsAllowed) return false;
  sink.bytes.insert(sink.bytes.end(), bytes, bytes + count);
  return true;
}

CompressOutcome Compress(int width, int height, Sink& sink) {
  const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
  // Noise, so that the compressed data is about as large as the pixels.
  std::vector<std::uint8_t> rows(stride * height);
  std::uint32_t seed = 1;
  for (auto& byte : rows) byte = static_cast<std::uint8_t>((seed = seed * 69069u + 1u) >> 24);
  std::vector<std::uint8_t> rowBuffer(3 * static_cast<std::size_t>(width));
  CompressJob job;
  job.rows = rows.data();
  job.stride = stride;
  job.width = width;
  job.height = height;
  job.rowBuffer = rowBuffer.data();
  job.quality = 100;
  job.append = LimitedAppend;
  job.appendContext = &sink;
  return CompressRows(job);
}

TEST(JpegCompress, OutputInStepsOf4096Bytes) {
  Sink sink(1000);
  const CompressOutcome outcome = Compress(64, 64, sink);
  EXPECT_EQ(outcome.status, CompressStatus::kDone);
  ASSERT_GT(sink.appendsSeen, 2);
  EXPECT_EQ(sink.bytes.size() / 4096, static_cast<std::size_t>(sink.appendsSeen - 1));
}

TEST(JpegCompress, BlockThatCannotGrowEndsTheCompression) {
  // The first append of a small image comes at the end, of a large one while
  // rows are still being written; a later one fails in the middle.
  struct {
    int width, height, allowed;
  } const cases[] = {{8, 8, 0}, {64, 64, 0}, {64, 64, 2}};
  for (const auto& c : cases) {
    Sink sink(c.allowed);
    const CompressOutcome outcome = Compress(c.width, c.height, sink);
    EXPECT_EQ(outcome.status, CompressStatus::kAppendFailed)
        << c.width << " x " << c.height << ", " << c.allowed;
    EXPECT_EQ(sink.appendsSeen, c.allowed + 1);
  }
}

TEST(JpegCompress, EmptyImageProducesNothing) {
  Sink sink(1000);
  EXPECT_EQ(Compress(0, 5, sink).status, CompressStatus::kDone);
  EXPECT_EQ(sink.appendsSeen, 0);
}

}  // namespace
}  // namespace vornesk::jpeg
