#include "imaging/BmpWriter.h"

#include <algorithm>
#include <array>

#include "platform/Exceptions.h"
#include "platform/OutputFile.h"

namespace vornesk {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void SaveBitmapToStream(const TBitmap& bitmap, TStream& stream) {
  if (bitmap.Empty()) return;

  const int depth = bitmap.BitsPerPixel();
  const std::int64_t stride = DibRowStride(bitmap.Width(), depth);
  const std::int64_t pixelBytes = stride * bitmap.Height();
  // Every size field of the format is 32 bits wide.
  if (pixelBytes > 0xFFFFFFFFll - kFileHeaderSize - kInfoHeaderSize - 4 * 256)
    throw EOutOfResources();

  // The stored raster already has the device-independent layout at the
  // bitmap's own depth, so it is written as it is, without a copy.
  int colors = 0;
  std::array<TRGBQuad, 256> colorTable{};
  if (depth <= 8) {
    colors = 1 << depth;
    for (std::size_t i = 0; i < bitmap.ColorTable.size() && i < colorTable.size(); ++i)
      colorTable[i] = bitmap.ColorTable[i];
  }

  const std::uint32_t headerSize = kInfoHeaderSize + 4 * static_cast<std::uint32_t>(colors);
  const std::uint32_t pixelOffset = kFileHeaderSize + headerSize;
  const auto imageSize = static_cast<std::uint32_t>(pixelBytes);

  std::array<std::uint8_t, kFileHeaderSize + kInfoHeaderSize> header{};
  std::uint8_t* file = header.data();
  file[0] = 'B';
  file[1] = 'M';
  Put32(file + 2, pixelOffset + imageSize);
  Put32(file + 10, pixelOffset);

  std::uint8_t* info = header.data() + kFileHeaderSize;
  Put32(info + 0, kInfoHeaderSize);
  Put32(info + 4, static_cast<std::uint32_t>(bitmap.Width()));
  Put32(info + 8, static_cast<std::uint32_t>(bitmap.Height()));
  Put16(info + 12, 1);
  Put16(info + 14, static_cast<std::uint16_t>(depth));
  Put32(info + 16, 0);  // BI_RGB
  Put32(info + 20, imageSize);
  Put32(info + 32, static_cast<std::uint32_t>(colors));

  stream.WriteBuffer(header.data(), header.size());
  if (colors > 0) {
    std::array<std::uint8_t, 4 * 256> table{};
    for (int i = 0; i < colors; ++i) {
      table[4 * i] = colorTable[i].rgbBlue;
      table[4 * i + 1] = colorTable[i].rgbGreen;
      table[4 * i + 2] = colorTable[i].rgbRed;
      table[4 * i + 3] = 0;
    }
    stream.WriteBuffer(table.data(), 4 * static_cast<std::size_t>(colors));
  }
  const auto rowBytes = static_cast<std::size_t>(stride);
  const auto used = static_cast<std::size_t>((std::int64_t{bitmap.Width()} * depth + 7) / 8);
  if (used == rowBytes) {
    stream.WriteBuffer(bitmap.Bits(), static_cast<std::size_t>(pixelBytes));
    return;
  }
  // Whatever the raster holds past the last pixel, the padding of a row is
  // written as zero bytes.
  std::vector<std::uint8_t> row(rowBytes, 0);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* stored = bitmap.Bits() + rowBytes * static_cast<std::size_t>(y);
    std::copy_n(stored, used, row.begin());
    stream.WriteBuffer(row.data(), rowBytes);
  }
}

void SaveBitmapToFile(const TBitmap& bitmap, const std::string& path) {
  TOutputFile file(path);
  SaveBitmapToStream(bitmap, file);
  file.Commit();
}

}  // namespace vornesk
