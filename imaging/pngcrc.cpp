// CRC-32 of the PNG standard (reflected polynomial 0xEDB88320). UpdateCrc is
// the plain table-driven form, one lookup per byte; record checksums use an
// equivalent form that reads eight bytes per step through eight derived
// tables, since the image data is most of the bytes a save checksums.
#include <array>
#include <cstring>

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

// Table k gives the effect of a byte followed by k zero bytes.
using TSlicedTables = std::array<TCrcTable, 8>;

TSlicedTables MakeSlicedTables() {
  TSlicedTables tables{};
  tables[0] = CrcTable();
  for (std::size_t k = 1; k < tables.size(); ++k)
    for (std::size_t n = 0; n < 256; ++n)
      tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFF];
  return tables;
}

const TSlicedTables& SlicedTables() {
  static const TSlicedTables tables = MakeSlicedTables();
  return tables;
}

// The same register as UpdateCrc, eight bytes at a time.
std::uint32_t UpdateCrcSliced(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  const TSlicedTables& t = SlicedTables();
  while (count >= 8) {
    const std::uint32_t low =
        crc ^ (std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
               (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24));
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
    bytes += 8;
    count -= 8;
  }
  return UpdateCrc(crc, bytes, count);
}

}  // namespace

std::uint32_t UpdateCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  const TCrcTable& table = CrcTable();
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::uint32_t RecordCrc(const std::uint8_t* typeCode, const std::uint8_t* payload,
                        std::size_t count) {
  return ~UpdateCrcSliced(UpdateCrc(0xFFFFFFFFu, typeCode, 4), payload, count);
}

}  // namespace vornesk
