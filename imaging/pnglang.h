// The messages of the PNG writer's exceptions. Each exception class carries
// exactly one of these texts.
#pragma once

namespace vornesk::pnglang {

inline constexpr const char* EPNGHeaderNotPresentText =
    "This operation is not valid because the current image contains no valid header.";
inline constexpr const char* EPngInvalidCopyText = "The chunks must be compatible to be assigned.";
inline constexpr const char* EPngInvalidPaletteIndexText = "There is no such palette entry.";
inline constexpr const char* EPNGOutMemoryText =
    "Some operation could not be performed because the system is out of resources. Close some "
    "windows and try again.";
inline constexpr const char* EPNGInvalidNewSizeText =
    "The new size provided for image resizing is invalid.";
inline constexpr const char* EPngUnexpectedEndText =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected "
    "end of the file.";
inline constexpr const char* EPngInvalidCRCText =
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of "
    "data (crc error)";
inline constexpr const char* EPngInvalidIHDRText =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of "
    "data (ihdr) might be corrupted";
inline constexpr const char* EPNGMissingMultipleIDATText =
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
// Followed by CR LF, " Description: " and zlib's text for the error.
inline constexpr const char* EPNGZLIBErrorText =
    "Could not decompress the image because it contains invalid compressed data.";
inline constexpr const char* EPNGZLIBErrorDescriptionText = "\r\n Description: ";
inline constexpr const char* EPNGInvalidPaletteText =
    "The \"Portable Network Graphics\" image contains an invalid palette.";
inline constexpr const char* EPNGInvalidFileHeaderText =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it contains "
    "an invalid header. This file may be corruped, try obtaining it again.";
inline constexpr const char* EPNGIHDRNotFirstText =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n"
    "(IHDR chunk is not the first)";
inline constexpr const char* EPNGSizeExceedsText =
    "This \"Portable Network Graphics\" image is not supported because either it's width or "
    "height exceeds the maximum size, which is 65535 pixels length.";
inline constexpr const char* EPNGUnknownCriticalChunkText =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not be "
    "decoded.";
inline constexpr const char* EPNGUnknownCompressionText =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which "
    "could not be decoded.";
inline constexpr const char* EPNGUnknownInterlaceText =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
    "decoded.";
inline constexpr const char* EPNGNoImageDataText =
    "This \"Portable Network Graphics\" image contains no data.";

// Refusals of the writer: a PNG image must have at least one pixel, and the
// encoder writes only the layouts a bitmap import produces.
inline constexpr const char* EPngEmptyImageText =
    "Cannot write a PNG image without pixels: its width or height is 0.";
inline constexpr const char* EPngUnsupportedLayoutText =
    "Cannot write this PNG image: only non-interlaced palette images of 1, 2, 4 or 8 bits per "
    "pixel and RGB images of 8 bits per sample, with pixels for every row of the header, can be "
    "written.";

}  // namespace vornesk::pnglang
