// Reads what vornesk wrote with independent decoders: our own reading of the
// BMP layout, libpng and libjpeg.
#pragma once

#include <jpeglib.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vornesk::testing {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // top-down rows, 3 bytes a pixel
  bool valid = false;

  const std::uint8_t* At(int x, int y) const {
    return rgb.data() + 3 * (static_cast<std::size_t>(y) * width + x);
  }
};

inline std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A 24- or 32-bit uncompressed BMP.
inline RgbImage ReadBmp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  RgbImage image;
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return image;
  const std::uint32_t offset = Le32(bytes, 10);
  image.width = static_cast<int>(Le32(bytes, 18));
  const auto height = static_cast<std::int32_t>(Le32(bytes, 22));
  const int depth = bytes[28] | bytes[29] << 8;
  if ((depth != 24 && depth != 32) || height <= 0) return image;
  image.height = height;
  const std::size_t stride =
      (static_cast<std::size_t>(image.width) * depth / 8 + 3) & ~std::size_t{3};
  if (bytes.size() < offset + stride * image.height) return image;
  image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* row = bytes.data() + offset + stride * (image.height - 1 - y);
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* pixel = row + x * depth / 8;
      std::uint8_t* out = image.rgb.data() + 3 * (static_cast<std::size_t>(y) * image.width + x);
      out[0] = pixel[2];
      out[1] = pixel[1];
      out[2] = pixel[0];
    }
  }
  image.valid = true;
  return image;
}

inline RgbImage ReadPng(const std::string& path) {
  RgbImage image;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
  png.format = PNG_FORMAT_RGB;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgb.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
    png_image_free(&png);
    return image;
  }
  image.valid = true;
  return image;
}

inline RgbImage ReadJpeg(const std::string& path) {
  RgbImage image;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return image;
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  // The default error exit ends the process; a damaged file fails the test
  // either way.
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  image.width = static_cast<int>(info.output_width);
  image.height = static_cast<int>(info.output_height);
  image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row =
        image.rgb.data() + 3 * static_cast<std::size_t>(info.output_scanline) * image.width;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  image.valid = true;
  return image;
}

}  // namespace vornesk::testing
