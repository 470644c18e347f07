// The PNG writer against libpng on a real page capture (1024 x 768), both at
// filter Sub and deflate level 7, and zlib alone on the same filtered bytes
// to show how much of the time is compression.
//
//   VorneskCapture      capture bitmap (32 bits) -> file bytes: import + save
//   VorneskSave         an imported image -> file bytes
//   LibpngCapture       the same 32-bit rows -> file bytes, libpng stripping
//                       the fourth byte and swapping blue and red itself
//   LibpngSave24        24-bit blue-green-red rows -> file bytes
//   *SameStrategy       libpng with zlib's default strategy, as Vornesk uses;
//                       without it libpng picks Z_FILTERED for filtered rows
//   ZlibDeflateOnly     deflate of the filtered image data alone
//   VorneskRowsOnly     our row work alone (pack, filter, copy)
//   VorneskCrcOnly      the checksum over a file's worth of bytes
//   PairedCapture       VorneskCapture, LibpngCapture/SameStrategy and
//                       ZlibDeflateOnly taking turns: ours as a fraction of
//                       libpng's time, and zlib's share of ours
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/pngimage.h"
#include "platform/Bitmap.h"
#include "platform/Stream.h"

namespace {

using vornesk::TBitmap;
using Bytes = std::vector<std::uint8_t>;

TBitmap LoadFixture() {
  const std::string path = std::string(VORNESK_FIXTURES_DIR) + "/page-1024x768.png";
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    throw std::runtime_error("cannot read " + path);
  image.format = PNG_FORMAT_BGRA;
  TBitmap bitmap(static_cast<int>(image.width), static_cast<int>(image.height), 32);
  // A negative stride makes libpng fill the raster bottom-up from its start.
  const auto stride = static_cast<png_int_32>(bitmap.RowStride());
  if (!png_image_finish_read(&image, nullptr, bitmap.Bits(), -stride, nullptr))
    throw std::runtime_error("cannot decode " + path);
  png_image_free(&image);
  return bitmap;
}

const TBitmap& Fixture() {
  static const TBitmap bitmap = LoadFixture();
  return bitmap;
}

// Both writers write into memory reserved up front, so that neither pays
// for growing the output (which the allocator may do by fresh mappings).
constexpr std::size_t kOutputReserve = 1 << 20;

class TReservedStream : public vornesk::TStream {
 public:
  TReservedStream() { bytes_.reserve(kOutputReserve); }
  void WriteBuffer(const void* data, std::size_t count) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + count);
  }
  const Bytes& Contents() const { return bytes_; }

 private:
  Bytes bytes_;
};

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

// libpng at filter Sub and level 7 from rows of `bytesPerPixel` bytes in
// blue-green-red(-x) order, top row first.
Bytes LibpngEncode(const std::vector<const std::uint8_t*>& rows, int width, int bytesPerPixel,
                   bool defaultStrategy) {
  Bytes out;
  out.reserve(kOutputReserve);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng failed");
  }
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(rows.size()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_compression_level(png, 7);
  if (defaultStrategy) png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_write_info(png, info);
  png_set_bgr(png);
  if (bytesPerPixel == 4) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_rows(png, const_cast<png_bytepp>(rows.data()), static_cast<png_uint_32>(rows.size()));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<const std::uint8_t*> TopDownRows(const std::uint8_t* bits, std::size_t stride,
                                             int height) {
  std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    rows[static_cast<std::size_t>(y)] = bits + stride * static_cast<std::size_t>(height - 1 - y);
  return rows;
}

void ReportSize(benchmark::State& state, std::size_t bytes) {
  state.counters["file_bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * Fixture().Width() *
                          Fixture().Height() * 3);
}

void VorneskCapture(benchmark::State& state) {
  const TBitmap& capture = Fixture();
  std::size_t size = 0;
  for (auto _ : state) {
    vornesk::TPNGObject png;
    png.Assign(&capture);
    TReservedStream stream;
    png.SaveToStream(stream);
    size = stream.Contents().size();
    benchmark::DoNotOptimize(stream.Contents().data());
  }
  ReportSize(state, size);
}

void VorneskSave(benchmark::State& state) {
  vornesk::TPNGObject png;
  png.Assign(&Fixture());
  std::size_t size = 0;
  for (auto _ : state) {
    TReservedStream stream;
    png.SaveToStream(stream);
    size = stream.Contents().size();
    benchmark::DoNotOptimize(stream.Contents().data());
  }
  ReportSize(state, size);
}

void LibpngCapture(benchmark::State& state, bool defaultStrategy) {
  const TBitmap& capture = Fixture();
  const auto rows = TopDownRows(capture.Bits(), capture.RowStride(), capture.Height());
  std::size_t size = 0;
  for (auto _ : state) {
    const Bytes out = LibpngEncode(rows, capture.Width(), 4, defaultStrategy);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  ReportSize(state, size);
}

void LibpngSave24(benchmark::State& state, bool defaultStrategy) {
  vornesk::TPNGObject png;
  png.Assign(&Fixture());
  const auto& header = png.RequireHeader();
  const auto rows =
      TopDownRows(header.StoredRows.data(), static_cast<std::size_t>(header.RowStride),
                  static_cast<int>(header.HeaderValues.Height));
  std::size_t size = 0;
  for (auto _ : state) {
    const Bytes out =
        LibpngEncode(rows, static_cast<int>(header.HeaderValues.Width), 3, defaultStrategy);
    size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  ReportSize(state, size);
}

// Sets up the scanline state of `png`'s image data chunk as a save does.
vornesk::TChunkIDAT& PrepareRows(vornesk::TPNGObject& png) {
  auto* data = png.ChunkItems.FindByClass<vornesk::TChunkIDAT>();
  data->HeaderChunk = &png.RequireHeader();
  data->PixelWidth = static_cast<std::int32_t>(png.Width());
  data->PixelHeight = static_cast<std::int32_t>(png.Height());
  const auto geometry = png.ScanlineGeometry();
  data->ScanlineLength = geometry.ScanlineLength;
  data->FilterDistance = geometry.FilterDistance;
  data->PrepareScanlineBuffers();
  return *data;
}

// The filtered image data exactly as the writer hands it to zlib.
Bytes FilteredImageData() {
  vornesk::TPNGObject png;
  png.Assign(&Fixture());
  Bytes filtered;
  PrepareRows(png).WriteScanlines([&filtered](const std::uint8_t* block, std::int32_t length) {
    filtered.insert(filtered.end(), block, block + length);
  });
  return filtered;
}

// zlib at the writer's settings on `filtered`; returns the stream's length.
std::size_t DeflateAll(const Bytes& filtered, Bytes& buffer) {
  z_stream z{};
  deflateInit(&z, 7);
  z.next_in = const_cast<Bytef*>(filtered.data());
  z.avail_in = static_cast<uInt>(filtered.size());
  std::size_t size = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    status = deflate(&z, Z_FINISH);
    size += buffer.size() - z.avail_out;
  }
  deflateEnd(&z);
  benchmark::DoNotOptimize(buffer.data());
  return size;
}

void ZlibDeflateOnly(benchmark::State& state) {
  const Bytes filtered = FilteredImageData();
  Bytes buffer(65535);
  std::size_t size = 0;
  for (auto _ : state) size = DeflateAll(filtered, buffer);
  ReportSize(state, size);
}

// Our share of a save: pack, Sub filter and previous-row copy of every row,
// the sink doing nothing.
void VorneskRowsOnly(benchmark::State& state) {
  vornesk::TPNGObject png;
  png.Assign(&Fixture());
  vornesk::TChunkIDAT& data = PrepareRows(png);
  std::size_t total = 0;
  const vornesk::TByteSink sink = [&total](const std::uint8_t* block, std::int32_t length) {
    benchmark::DoNotOptimize(block);
    total += static_cast<std::size_t>(length);
  };
  for (auto _ : state) data.WriteScanlines(sink);
  benchmark::DoNotOptimize(total);
  ReportSize(state, 0);
}

// The checksum over as many bytes as a save of the fixture writes.
void VorneskCrcOnly(benchmark::State& state) {
  const Bytes bytes(136 * 1024, 0x5A);
  for (auto _ : state)
    benchmark::DoNotOptimize(vornesk::RecordCrc(bytes.data(), bytes.data() + 4, bytes.size() - 4));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

// Both writers on the capture, and zlib alone on the filtered bytes, taking
// turns within each iteration so that load from elsewhere on the machine falls
// on all alike. Reports the mean time of each, ours as a fraction of
// libpng's, and zlib's share of ours.
void PairedCapture(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const TBitmap& capture = Fixture();
  const auto rows = TopDownRows(capture.Bits(), capture.RowStride(), capture.Height());
  const Bytes filtered = FilteredImageData();
  Bytes buffer(65535);
  Clock::duration ours{}, theirs{}, zlib{};
  auto runOurs = [&] {
    const auto start = Clock::now();
    vornesk::TPNGObject png;
    png.Assign(&capture);
    TReservedStream stream;
    png.SaveToStream(stream);
    benchmark::DoNotOptimize(stream.Contents().data());
    ours += Clock::now() - start;
  };
  auto runTheirs = [&] {
    const auto start = Clock::now();
    const Bytes out = LibpngEncode(rows, capture.Width(), 4, true);
    benchmark::DoNotOptimize(out.data());
    theirs += Clock::now() - start;
  };
  auto runZlib = [&] {
    const auto start = Clock::now();
    DeflateAll(filtered, buffer);
    zlib += Clock::now() - start;
  };
  int turn = 0;
  for (auto _ : state) {
    switch (turn++ % 3) {
      case 0:
        runOurs();
        runTheirs();
        runZlib();
        break;
      case 1:
        runTheirs();
        runZlib();
        runOurs();
        break;
      default:
        runZlib();
        runOurs();
        runTheirs();
    }
  }
  const double n = static_cast<double>(state.iterations());
  const double oursMs = std::chrono::duration<double, std::milli>(ours).count() / n;
  const double theirsMs = std::chrono::duration<double, std::milli>(theirs).count() / n;
  state.counters["vornesk_ms"] = oursMs;
  state.counters["libpng_ms"] = theirsMs;
  const double zlibMs = std::chrono::duration<double, std::milli>(zlib).count() / n;
  state.counters["zlib_only_ms"] = zlibMs;
  state.counters["vornesk_to_libpng"] = oursMs / theirsMs;
  state.counters["zlib_share_of_vornesk"] = zlibMs / oursMs;
}

// The IDAT data of a PNG file, joined.
Bytes JoinedImageData(const Bytes& file) {
  Bytes joined;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::size_t length = (std::size_t{file[at]} << 24) | (std::size_t{file[at + 1]} << 16) |
                               (std::size_t{file[at + 2]} << 8) | file[at + 3];
    if (std::string(file.begin() + at + 4, file.begin() + at + 8) == "IDAT")
      joined.insert(joined.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
    at += 12 + length;
  }
  return joined;
}

// Same zlib, same parameters, same filtered bytes: the compressed streams
// must be identical, which shows the comparison is like for like.
void SameStreamAsLibpng(benchmark::State& state) {
  vornesk::TPNGObject png;
  png.Assign(&Fixture());
  TReservedStream stream;
  png.SaveToStream(stream);
  const TBitmap& capture = Fixture();
  const Bytes theirs = LibpngEncode(
      TopDownRows(capture.Bits(), capture.RowStride(), capture.Height()), capture.Width(), 4, true);
  const bool same = JoinedImageData(stream.Contents()) == JoinedImageData(theirs);
  for (auto _ : state) benchmark::DoNotOptimize(same);
  state.counters["identical_zlib_stream"] = same ? 1 : 0;
}

}  // namespace

BENCHMARK(VorneskCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(VorneskSave)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibpngCapture, SameStrategy, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibpngCapture, LibpngDefaultStrategy, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibpngSave24, SameStrategy, true)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibDeflateOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(VorneskRowsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(VorneskCrcOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(SameStreamAsLibpng)->Iterations(1);
BENCHMARK(PairedCapture)->Iterations(60)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
