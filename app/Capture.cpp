#include "app/Capture.h"

#include <cstring>

#include "imaging/BmpWriter.h"
#include "imaging/JpegImage.h"
#include "imaging/pngimage.h"
#include "platform/Exceptions.h"

namespace vornesk {

TBitmap TrimFrame(const TBitmap& raster) {
  TBitmap capture(raster.Width() - 2 * kFrame, raster.Height() - 2 * kFrame, raster.BitsPerPixel());
  const std::size_t bytesPerPixel = static_cast<std::size_t>(raster.BitsPerPixel()) / 8;
  const std::size_t rowBytes = static_cast<std::size_t>(capture.Width()) * bytesPerPixel;
  const std::size_t skip = kFrame * bytesPerPixel;
  if (rowBytes == 0) return capture;
  for (int y = 0; y < capture.Height(); ++y)
    std::memcpy(capture.ScanLine(y), raster.ScanLine(y + kFrame) + skip, rowBytes);
  return capture;
}

TImageFormat FormatForExtension(const std::string& extension) {
  if (extension == ".bmp") return TImageFormat::Bmp;
  if (extension == ".jpg") return TImageFormat::Jpeg;
  if (extension == ".png") return TImageFormat::Png;
  return TImageFormat::Unsupported;
}

std::string UnsupportedFormatMessage(const std::string& extension) {
  return "Unsupported image format: " + extension + "\r\nSupported formats: .bmp, .png, .jpg";
}

void SaveCapture(const TBitmap& capture, const std::string& path, TImageFormat format) {
  switch (format) {
    case TImageFormat::Bmp:
      SaveBitmapToFile(capture, path);
      return;
    case TImageFormat::Jpeg: {
      TJPEGImage jpeg;
      jpeg.SetCompressionQuality(100);
      jpeg.Assign(capture);
      jpeg.SaveToFile(path);
      return;
    }
    case TImageFormat::Png: {
      TPNGObject png;
      png.Assign(&capture);
      png.SaveToFile(path);
      return;
    }
    case TImageFormat::Unsupported:
      break;
  }
  throw Exception(UnsupportedFormatMessage(""));
}

}  // namespace vornesk
