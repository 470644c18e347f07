// The ".jpg" writer: a JPEG image object that takes a bitmap and saves it as a
// baseline JFIF file (sequential Huffman coding, 2 x 2 luminance sampling,
// floating-point DCT) compressed by libjpeg at the object's quality.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Exceptions.h"
#include "platform/Persistent.h"
#include "platform/Stream.h"

namespace vornesk {

// "JPEG error #%d": a library error, numbered by the library's message code.
class EJPEG : public Exception {
 public:
  explicit EJPEG(int code);
  int Code() const { return code_; }

 private:
  int code_;
};

enum class TJPEGPerformance { jpBestQuality, jpBestSpeed };
enum class TJPEGPixelFormat { jf24Bit, jf8Bit };
enum class TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };

class TJPEGImage : public TPersistent {
 public:
  TJPEGImage() = default;
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  std::string ClassName() const override { return "TJPEGImage"; }

  // Settings that reach the compressor. Quality is kept within 1 to 100.
  int CompressionQuality() const { return compressionQuality_; }
  void SetCompressionQuality(int quality);
  bool Grayscale() const { return grayscale_; }
  void SetGrayscale(bool grayscale) { grayscale_ = grayscale; }
  bool ProgressiveEncoding() const { return progressiveEncoding_; }
  void SetProgressiveEncoding(bool progressive) { progressiveEncoding_ = progressive; }

  // Settings for reading and display; they do not change what is saved.
  TJPEGPerformance Performance() const { return performance_; }
  void SetPerformance(TJPEGPerformance performance) { performance_ = performance; }
  TJPEGPixelFormat PixelFormat() const { return pixelFormat_; }
  void SetPixelFormat(TJPEGPixelFormat format) { pixelFormat_ = format; }
  bool ProgressiveDisplay() const { return progressiveDisplay_; }
  void SetProgressiveDisplay(bool progressive) { progressiveDisplay_ = progressive; }
  TJPEGScale Scale() const { return scale_; }
  void SetScale(TJPEGScale scale) { scale_ = scale; }
  bool Smoothing() const { return smoothing_; }
  void SetSmoothing(bool smoothing) { smoothing_ = smoothing; }

  // Takes the bitmap as the image, sharing its raster rather than copying
  // it: the bitmap must stay alive and unchanged until the object is saved
  // (or given another bitmap). Drops any compressed data held.
  void Assign(const TBitmap& source);
  // A temporary would be gone before the save.
  void Assign(const TBitmap&& source) = delete;

  int Width() const;
  int Height() const;
  bool Empty() const { return Width() == 0 || Height() == 0; }

  // Compresses on the first save after an assignment and keeps the result;
  // then writes it to the stream in one block. An image without pixels
  // writes nothing. Raises EJPEG for a library error (the image too large,
  // above all), EOutOfResources when the 24-bit copy cannot be made,
  // EOutOfMemory when the library cannot get memory and EStreamError when
  // the compressed data cannot grow.
  void SaveToStream(TStream& stream);

  // Creates the file first (EFCreateError naming the absolute path), then
  // compresses and writes. Any failure leaves the path as it was; an image
  // without pixels gives a file of length 0.
  void SaveToFile(const std::string& path);

  // The compressed file held after a save; empty before.
  const std::vector<std::uint8_t>& Data() const { return data_; }

 private:
  void Compress();

  int compressionQuality_ = 90;
  bool grayscale_ = false;
  bool progressiveEncoding_ = false;
  TJPEGPerformance performance_ = TJPEGPerformance::jpBestQuality;
  // A true-colour display: decoding would give 24 bits per pixel.
  TJPEGPixelFormat pixelFormat_ = TJPEGPixelFormat::jf24Bit;
  bool progressiveDisplay_ = false;
  TJPEGScale scale_ = TJPEGScale::jsFullSize;
  bool smoothing_ = true;

  const TBitmap* bitmap_ = nullptr;  // shared, not owned
  bool compressed_ = false;
  std::vector<std::uint8_t> data_;
  int dataWidth_ = 0;
  int dataHeight_ = 0;
};

}  // namespace vornesk
