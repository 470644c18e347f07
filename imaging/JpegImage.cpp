#include "imaging/JpegImage.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "imaging/JpegCompress.h"
#include "platform/DibCopy.h"
#include "platform/OutputFile.h"

namespace vornesk {

namespace {

std::string JpegErrorMessage(int code) {
  char text[32];
  std::snprintf(text, sizeof text, "JPEG error #%d", code);
  return text;
}

bool AppendToBlock(void* context, const std::uint8_t* bytes, std::size_t count) noexcept {
  auto& block = *static_cast<std::vector<std::uint8_t>*>(context);
  try {
    block.insert(block.end(), bytes, bytes + count);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

EJPEG::EJPEG(int code) : Exception(JpegErrorMessage(code)), code_(code) {}

void TJPEGImage::SetCompressionQuality(int quality) {
  compressionQuality_ = std::clamp(quality, 1, 100);
}

void TJPEGImage::Assign(const TBitmap& source) {
  bitmap_ = &source;
  data_ = {};
  compressed_ = false;
  dataWidth_ = 0;
  dataHeight_ = 0;
}

int TJPEGImage::Width() const {
  if (compressed_) return dataWidth_;
  return bitmap_ != nullptr ? bitmap_->Width() : 0;
}

int TJPEGImage::Height() const {
  if (compressed_) return dataHeight_;
  return bitmap_ != nullptr ? bitmap_->Height() : 0;
}

void TJPEGImage::Compress() {
  const int width = bitmap_ != nullptr ? bitmap_->Width() : 0;
  const int height = bitmap_ != nullptr ? bitmap_->Height() : 0;

  // The library takes every pixel as three 8-bit samples, whatever the
  // bitmap's depth. Neither buffer is zeroed: every byte of both is written
  // before it is read.
  std::unique_ptr<std::uint8_t[]> copy;
  std::unique_ptr<std::uint8_t[]> rowBuffer;
  std::size_t stride = 0;
  if (width > 0 && height > 0) {
    stride = static_cast<std::size_t>(DibRowStride(width, 24));
    try {
      copy =
          std::make_unique_for_overwrite<std::uint8_t[]>(stride * static_cast<std::size_t>(height));
      rowBuffer =
          std::make_unique_for_overwrite<std::uint8_t[]>(3 * static_cast<std::size_t>(width));
    } catch (const std::bad_alloc&) {
      throw EOutOfResources();
    }
    GetDIBits(*bitmap_, 24, copy.get(), nullptr);
  }

  std::vector<std::uint8_t> block;
  jpeg::CompressJob job;
  job.rows = copy.get();
  job.stride = stride;
  job.width = width;
  job.height = height;
  job.rowBuffer = rowBuffer.get();
  job.quality = compressionQuality_;
  job.grayscale = grayscale_;
  job.progressive = progressiveEncoding_;
  job.append = AppendToBlock;
  job.appendContext = &block;

  const jpeg::CompressOutcome outcome = jpeg::CompressRows(job);
  switch (outcome.status) {
    case jpeg::CompressStatus::kDone:
      break;
    case jpeg::CompressStatus::kAppendFailed:
      throw EStreamError("Out of memory while expanding memory stream");
    case jpeg::CompressStatus::kLibraryError:
      if (outcome.messageCode == JERR_OUT_OF_MEMORY) throw EOutOfMemory();
      throw EJPEG(outcome.messageCode);
  }

  data_ = std::move(block);
  dataWidth_ = width;
  dataHeight_ = height;
  compressed_ = true;
}

void TJPEGImage::SaveToStream(TStream& stream) {
  if (!compressed_) Compress();
  if (!data_.empty()) stream.WriteBuffer(data_.data(), data_.size());
}

void TJPEGImage::SaveToFile(const std::string& path) {
  TOutputFile file(path);
  SaveToStream(file);
  file.Commit();
}

}  // namespace vornesk
