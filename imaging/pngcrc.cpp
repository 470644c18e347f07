// CRC-32 of the PNG standard (reflected polynomial 0xEDB88320), one table
// lookup per byte.
#include <array>

#include "imaging/pngimage.h"

namespace vornesk {

namespace {

using TCrcTable = std::array<std::uint32_t, 256>;

TCrcTable MakeCrcTable() {
  TCrcTable table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

// Built on first use and kept until the process ends.
const TCrcTable& CrcTable() {
  static const TCrcTable table = MakeCrcTable();
  return table;
}

}  // namespace

std::uint32_t UpdateCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  const TCrcTable& table = CrcTable();
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::uint32_t RecordCrc(const std::uint8_t* typeCode, const std::uint8_t* payload,
                        std::size_t count) {
  return ~UpdateCrc(UpdateCrc(0xFFFFFFFFu, typeCode, 4), payload, count);
}

}  // namespace vornesk
