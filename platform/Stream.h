// The one stream operation the writers need: write a block of bytes. A write
// that cannot store every byte raises EWriteError; nothing is ever silently
// short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornesk {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual void WriteBuffer(const void* data, std::size_t count) = 0;
};

// Collects everything written, in order. Used to build a file in memory and
// by tests that look at the exact bytes.
class TMemoryStream : public TStream {
 public:
  void WriteBuffer(const void* data, std::size_t count) override;
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  void Clear() { bytes_.clear(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace vornesk
