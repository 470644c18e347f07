// The ".jpg" writer on the 1024 x 768 page screenshot, against libjpeg-turbo
// itself: the same compression called directly on ready red-green-blue rows
// (what cjpeg does once it has read its input), and the cjpeg program with the
// same parameters on the same pixels. The difference between our writer and
// the direct call is what our pixel preparation costs: the 24-bit copy of the
// 32-bit capture and the reordering of each row from blue-green-red.

#include <benchmark/benchmark.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imaging/JpegImage.h"
#include "platform/DibCopy.h"

extern char** environ;

namespace vornesk {
namespace {

struct Fixture {
  TBitmap capture;                // 32 bits per pixel, as the capture hands it over
  std::vector<std::uint8_t> rgb;  // the same pixels, top row first, red-green-blue
  std::filesystem::path folder;   // holds the pixels as a PPM for cjpeg
  std::filesystem::path ppm;

  ~Fixture() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
};

const Fixture& GetFixture() {
  static const Fixture fixture = [] {
    Fixture f;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    const std::string path = std::string(VORNESK_FIXTURES_DIR) + "/page-1024x768.png";
    if (!png_image_begin_read_from_file(&image, path.c_str()))
      throw std::runtime_error("cannot read " + path + ": " + image.message);
    image.format = PNG_FORMAT_RGB;
    f.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, f.rgb.data(), 0, nullptr))
      throw std::runtime_error(std::string("cannot decode the fixture: ") + image.message);

    const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);
    f.capture = TBitmap(width, height, 32);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = f.rgb.data() + 3 * static_cast<std::size_t>(width) * y;
      std::uint8_t* out = f.capture.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        out[4 * x] = in[3 * x + 2];
        out[4 * x + 1] = in[3 * x + 1];
        out[4 * x + 2] = in[3 * x];
        out[4 * x + 3] = 0;
      }
    }

    std::string pattern = (std::filesystem::temp_directory_path() / "jpeg-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    f.folder = pattern;
    f.ppm = f.folder / "page.ppm";
    std::ofstream out(f.ppm, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    out.write(reinterpret_cast<const char*>(f.rgb.data()),
              static_cast<std::streamsize>(f.rgb.size()));
    if (!out) throw std::runtime_error("cannot write the PPM");
    return f;
  }();
  return fixture;
}

std::vector<std::uint8_t> OurJpeg(const TBitmap& capture) {
  TJPEGImage jpeg;
  jpeg.SetCompressionQuality(100);
  jpeg.Assign(capture);
  TMemoryStream stream;
  jpeg.SaveToStream(stream);
  return stream.Bytes();
}

// libjpeg called directly, as cjpeg calls it. A library error ends the
// program (the library's default error exit), which is fine for a benchmark.
std::vector<std::uint8_t> ReferenceJpeg(const std::uint8_t* rgb, int width, int height) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row =
        const_cast<std::uint8_t*>(rgb) + 3 * std::size_t{cinfo.image_width} * cinfo.next_scanline;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<std::uint8_t> result(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return result;
}

// PSNR in dB of a decoded file against the fixture, as a viewer shows it
// (libjpeg's default, smoothed chroma upsampling) or with plain upsampling.
double Psnr(const std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& rgb,
            bool fancyUpsampling) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.do_fancy_upsampling = fancyUpsampling ? TRUE : FALSE;
  jpeg_start_decompress(&cinfo);
  std::vector<std::uint8_t> decoded(rgb.size());
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = decoded.data() + 3 * std::size_t{cinfo.output_width} * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  double sum = 0;
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    const double d = double(rgb[i]) - decoded[i];
    sum += d * d;
  }
  return 10 * std::log10(255.0 * 255.0 * rgb.size() / sum);
}

void SetPixelCounters(benchmark::State& state) {
  const TBitmap& capture = GetFixture().capture;
  state.SetItemsProcessed(state.iterations() * capture.Width() * capture.Height());
}

// Our writer into memory: 24-bit copy, reordering, compression.
void BM_OurWriter(benchmark::State& state) {
  const Fixture& f = GetFixture();
  std::size_t size = 0;
  for (auto _ : state) {
    const std::vector<std::uint8_t> file = OurJpeg(f.capture);
    size = file.size();
    benchmark::DoNotOptimize(file.data());
  }
  const std::vector<std::uint8_t> file = OurJpeg(f.capture);
  state.counters["bytes"] = static_cast<double>(size);
  state.counters["psnr_db"] = Psnr(file, f.rgb, true);
  state.counters["psnr_box_db"] = Psnr(file, f.rgb, false);
  state.counters["same_as_libjpeg"] =
      file == ReferenceJpeg(f.rgb.data(), f.capture.Width(), f.capture.Height());
  SetPixelCounters(state);
}
BENCHMARK(BM_OurWriter)->Unit(benchmark::kMillisecond);

// The whole save, file included, as the capture does it.
void BM_OurWriterToFile(benchmark::State& state) {
  const Fixture& f = GetFixture();
  const std::string path = (f.folder / "ours.jpg").string();
  for (auto _ : state) {
    TJPEGImage jpeg;
    jpeg.SetCompressionQuality(100);
    jpeg.Assign(f.capture);
    jpeg.SaveToFile(path);
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
  SetPixelCounters(state);
}
BENCHMARK(BM_OurWriterToFile)->Unit(benchmark::kMillisecond);

// libjpeg on ready red-green-blue rows: our writer without its preparation.
void BM_LibjpegOnRgbRows(benchmark::State& state) {
  const Fixture& f = GetFixture();
  std::size_t size = 0;
  for (auto _ : state) {
    const std::vector<std::uint8_t> file =
        ReferenceJpeg(f.rgb.data(), f.capture.Width(), f.capture.Height());
    size = file.size();
    benchmark::DoNotOptimize(file.data());
  }
  state.counters["bytes"] = static_cast<double>(size);
  SetPixelCounters(state);
}
BENCHMARK(BM_LibjpegOnRgbRows)->Unit(benchmark::kMillisecond);

// Our preparation alone: the 24-bit copy and every row reordered, as the
// writer does them (the rows are not compressed).
void BM_PixelPreparation(benchmark::State& state) {
  const Fixture& f = GetFixture();
  const int width = f.capture.Width(), height = f.capture.Height();
  const auto stride = static_cast<std::size_t>(DibRowStride(width, 24));
  std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(width));
  for (auto _ : state) {
    const auto copy =
        std::make_unique_for_overwrite<std::uint8_t[]>(stride * static_cast<std::size_t>(height));
    GetDIBits(f.capture, 24, copy.get(), nullptr);
    for (int y = 0; y < height; ++y) {
      BgrToRgb(copy.get() + stride * static_cast<std::size_t>(height - 1 - y), row.data(),
               static_cast<std::size_t>(width));
      benchmark::DoNotOptimize(row.data());
      benchmark::ClobberMemory();
    }
  }
  SetPixelCounters(state);
}
BENCHMARK(BM_PixelPreparation)->Unit(benchmark::kMillisecond);

// The reordering alone, on a 24-bit copy made once.
void BM_Reordering(benchmark::State& state) {
  const Fixture& f = GetFixture();
  const int width = f.capture.Width(), height = f.capture.Height();
  const auto stride = static_cast<std::size_t>(DibRowStride(width, 24));
  std::vector<std::uint8_t> copy(stride * static_cast<std::size_t>(height));
  GetDIBits(f.capture, 24, copy.data(), nullptr);
  std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(width));
  for (auto _ : state) {
    for (int y = 0; y < height; ++y) {
      BgrToRgb(copy.data() + stride * static_cast<std::size_t>(height - 1 - y), row.data(),
               static_cast<std::size_t>(width));
      benchmark::DoNotOptimize(row.data());
      benchmark::ClobberMemory();
    }
  }
  SetPixelCounters(state);
}
BENCHMARK(BM_Reordering)->Unit(benchmark::kMillisecond);

#ifdef VORNESK_CJPEG
// The cjpeg program on the same pixels (start, PPM read, compression, file
// write), in wall-clock time.
void BM_Cjpeg(benchmark::State& state) {
  const Fixture& f = GetFixture();
  const std::string output = (f.folder / "cjpeg.jpg").string();
  const std::string ppm = f.ppm.string();
  std::vector<std::string> args = {VORNESK_CJPEG, "-quality", "100",      "-dct", "float",
                                   "-sample",     "2x2",      "-outfile", output, ppm};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("cannot start cjpeg");
      return;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("cjpeg failed");
      return;
    }
  }
  std::ifstream in(output, std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
  state.counters["bytes"] = static_cast<double>(file.size());
  state.counters["same_as_ours"] = file == OurJpeg(f.capture);
  SetPixelCounters(state);
}
BENCHMARK(BM_Cjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
}  // namespace vornesk

BENCHMARK_MAIN();
