#include "PngTestSupport.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/Stream.h"

namespace vornesk::testing {

namespace {

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

std::uint8_t Widen5(unsigned v) {
  return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

}  // namespace

std::vector<Record> SplitRecords(const Bytes& file) {
  std::vector<Record> records;
  EXPECT_GE(file.size(), 8u);
  if (file.size() < 8) return records;
  EXPECT_TRUE(std::equal(kPngSignature.begin(), kPngSignature.end(), file.begin()));
  std::size_t at = 8;
  while (at < file.size()) {
    EXPECT_LE(at + 12, file.size()) << "truncated record at " << at;
    if (at + 12 > file.size()) break;
    const std::uint32_t length = BigEndian32(&file[at]);
    EXPECT_LE(at + 12 + length, file.size()) << "record overruns the file at " << at;
    if (at + 12 + length > file.size()) break;
    Record record;
    record.type.assign(file.begin() + at + 4, file.begin() + at + 8);
    record.data.assign(file.begin() + at + 8, file.begin() + at + 8 + length);
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &file[at + 4], 4 + length));
    record.crcMatches = crc == BigEndian32(&file[at + 8 + length]);
    records.push_back(std::move(record));
    at += 12 + length;
  }
  return records;
}

std::vector<std::string> RecordTypes(const Bytes& file) {
  std::vector<std::string> types;
  for (const auto& record : SplitRecords(file)) types.push_back(record.type);
  return types;
}

Bytes JoinedImageData(const Bytes& file) {
  Bytes data;
  for (const auto& record : SplitRecords(file))
    if (record.type == "IDAT") data.insert(data.end(), record.data.begin(), record.data.end());
  return data;
}

Bytes Inflate(const Bytes& stream) {
  z_stream z{};
  EXPECT_EQ(inflateInit(&z), Z_OK);
  Bytes out;
  std::uint8_t buffer[1 << 16];
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    status = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    if (status == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  EXPECT_EQ(status, Z_STREAM_END) << "the image data is not one complete zlib stream";
  EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the zlib stream";
  inflateEnd(&z);
  return out;
}

Bytes SaveToBytes(TPNGObject& image) {
  TMemoryStream stream;
  image.SaveToStream(stream);
  return stream.Bytes();
}

DecodedImage DecodeWithLibpng(const Bytes& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  DecodedImage decoded;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
    ADD_FAILURE() << "libpng refuses the file: " << image.message;
    return decoded;
  }
  image.format = PNG_FORMAT_RGBA;
  decoded.width = image.width;
  decoded.height = image.height;
  decoded.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, decoded.rgba.data(), 0, nullptr)) {
    ADD_FAILURE() << "libpng cannot decode the file: " << image.message;
    decoded.rgba.clear();
  }
  png_image_free(&image);
  return decoded;
}

std::array<std::uint8_t, 3> ExpectedColor(const TBitmap& bitmap, int x, int y) {
  const std::uint8_t* row = bitmap.ScanLine(y);
  const int depth = bitmap.BitsPerPixel();
  if (depth <= 8) {
    unsigned index = 0;
    switch (depth) {
      case 1:
        index = (row[x / 8] >> (7 - x % 8)) & 0x1;
        break;
      case 2:
        index = (row[x / 4] >> (6 - 2 * (x % 4))) & 0x3;
        break;
      case 4:
        index = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF;
        break;
      default:
        index = row[x];
    }
    if (index >= bitmap.ColorTable.size()) return {0, 0, 0};
    const TRGBQuad& c = bitmap.ColorTable[index];
    return {c.rgbRed, c.rgbGreen, c.rgbBlue};
  }
  if (depth == 16) {
    const unsigned word = row[2 * x] | (row[2 * x + 1] << 8);
    return {Widen5((word >> 10) & 0x1F), Widen5((word >> 5) & 0x1F), Widen5(word & 0x1F)};
  }
  const int size = depth / 8;
  return {row[size * x + 2], row[size * x + 1], row[size * x]};
}

TBitmap RandomBitmap(int width, int height, int bitsPerPixel, std::uint32_t seed) {
  TBitmap bitmap(width, height, bitsPerPixel);
  std::mt19937 random(seed);
  std::uint8_t* bits = bitmap.Bits();
  for (std::size_t i = 0; i < bitmap.RowStride() * static_cast<std::size_t>(height); ++i)
    bits[i] = static_cast<std::uint8_t>(random());
  if (bitsPerPixel <= 8) {
    bitmap.ColorTable.resize(std::size_t{1} << bitsPerPixel);
    for (auto& entry : bitmap.ColorTable) {
      entry.rgbBlue = static_cast<std::uint8_t>(random());
      entry.rgbGreen = static_cast<std::uint8_t>(random());
      entry.rgbRed = static_cast<std::uint8_t>(random());
    }
  }
  return bitmap;
}

bool PngcheckAvailable() {
  return std::string(VORNESK_PNGCHECK).size() > 0;
}

std::string PngcheckComplaint(const std::string& path) {
  const std::string command = std::string(VORNESK_PNGCHECK) + " -q '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "cannot run pngcheck";
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pclose(pipe);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  return output.empty() ? "pngcheck failed" : output;
}

void ExpectPngcheckAccepts(const std::string& path) {
  if (!PngcheckAvailable()) return;
  EXPECT_EQ(PngcheckComplaint(path), "") << path;
}

}  // namespace vornesk::testing
