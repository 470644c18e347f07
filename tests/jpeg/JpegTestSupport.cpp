#include "JpegTestSupport.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imaging/JpegImage.h"

namespace vornesk::testing {

namespace {

// The decoder's state lives outside the functions that run under setjmp, and
// those functions own nothing with a destructor, so the library's error exit
// may jump straight back.
struct DecodeState {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr error;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void DecodeErrorExit(j_common_ptr cinfo) {
  auto* state = reinterpret_cast<DecodeState*>(cinfo->client_data);
  (*cinfo->err->format_message)(cinfo, state->message);
  std::longjmp(state->jump, 1);
}

bool ReadHeader(DecodeState& state, const std::uint8_t* data, std::size_t size) {
  if (setjmp(state.jump) != 0) return false;
  jpeg_create_decompress(&state.cinfo);
  jpeg_mem_src(&state.cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&state.cinfo, TRUE);
  if (state.cinfo.num_components == 3) state.cinfo.out_color_space = JCS_RGB;
  // Each chroma sample covers its 2 x 2 pixels exactly, so a colour edge on
  // even pixels comes back sharp and the error seen is the encoder's alone.
  state.cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&state.cinfo);
  return true;
}

bool ReadRows(DecodeState& state, std::uint8_t* pixels, std::size_t stride) {
  if (setjmp(state.jump) != 0) return false;
  while (state.cinfo.output_scanline < state.cinfo.output_height) {
    JSAMPROW row = pixels + stride * state.cinfo.output_scanline;
    jpeg_read_scanlines(&state.cinfo, &row, 1);
  }
  jpeg_finish_decompress(&state.cinfo);
  return true;
}

}  // namespace

TBitmap MakeBitmap(int width, int height, int bitsPerPixel,
                   const std::function<Rgb(int, int)>& colour) {
  TBitmap bitmap(width, height, bitsPerPixel);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const Rgb c = colour(x, y);
      switch (bitsPerPixel) {
        case 32:
          row[4 * x] = c.b;
          row[4 * x + 1] = c.g;
          row[4 * x + 2] = c.r;
          row[4 * x + 3] = 0;
          break;
        case 24:
          row[3 * x] = c.b;
          row[3 * x + 1] = c.g;
          row[3 * x + 2] = c.r;
          break;
        case 16: {
          const unsigned word = (c.b >> 3) | ((c.g >> 3) << 5) | ((c.r >> 3) << 10);
          row[2 * x] = static_cast<std::uint8_t>(word);
          row[2 * x + 1] = static_cast<std::uint8_t>(word >> 8);
          break;
        }
        default:
          throw std::invalid_argument("unsupported test depth");
      }
    }
  }
  return bitmap;
}

TBitmap SolidBitmap(int width, int height, Rgb colour) {
  return MakeBitmap(width, height, 32, [colour](int, int) { return colour; });
}

std::vector<std::uint8_t> EncodeBitmap(const TBitmap& bitmap, int quality) {
  TJPEGImage jpeg;
  jpeg.SetCompressionQuality(quality);
  jpeg.Assign(bitmap);
  TMemoryStream stream;
  jpeg.SaveToStream(stream);
  return stream.Bytes();
}

Decoded Decode(const std::vector<std::uint8_t>& file) {
  Decoded result;
  DecodeState state{};
  state.cinfo.err = jpeg_std_error(&state.error);
  state.error.error_exit = DecodeErrorExit;
  state.cinfo.client_data = &state;

  if (ReadHeader(state, file.data(), file.size())) {
    result.width = static_cast<int>(state.cinfo.output_width);
    result.height = static_cast<int>(state.cinfo.output_height);
    result.components = state.cinfo.output_components;
    result.progressive = state.cinfo.progressive_mode != 0;
    const std::size_t stride = static_cast<std::size_t>(result.width) * result.components;
    result.pixels.resize(stride * static_cast<std::size_t>(result.height));
    result.ok = ReadRows(state, result.pixels.data(), stride);
  }
  if (!result.ok) result.error = state.message;
  jpeg_destroy_decompress(&state.cinfo);
  return result;
}

double Psnr(const Decoded& decoded, const std::function<Rgb(int, int)>& colour) {
  double sum = 0;
  for (int y = 0; y < decoded.height; ++y) {
    for (int x = 0; x < decoded.width; ++x) {
      const Rgb want = colour(x, y);
      const Rgb got = decoded.At(x, y);
      const double dr = want.r - got.r, dg = want.g - got.g, db = want.b - got.b;
      sum += dr * dr + dg * dg + db * db;
    }
  }
  const double mse = sum / (3.0 * decoded.width * decoded.height);
  if (mse == 0) return INFINITY;
  return 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace vornesk::testing
