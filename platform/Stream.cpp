#include "platform/Stream.h"

namespace vornesk {

void TMemoryStream::WriteBuffer(const void* data, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  bytes_.insert(bytes_.end(), bytes, bytes + count);
}

}  // namespace vornesk
