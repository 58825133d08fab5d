// The picture readers of source loading: JPEG (reduced while decoding when large), PNG with its
// palette, grey-alpha and partial-transparency rules, GIF with its two renderings and palette
// repair, TIFF, and any other picture through the generic picture object with two renderings.
// Each fills the run's working bitmap and mask bitmap and returns MaskValid: true when the mask
// holds the picture's transparency (white = transparent), false when the mask is not to be used.
// The byte forms let fuzzers and files share one path.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/bitmapfix32.h"
#include "platform/bitmap.h"

namespace glyphmill {

// Width + height above 2000 decodes reduced by 2, 4 or 8 and fits (width div b) × (height div b),
// b = (width + height) div 2000. 24-bit, no mask.
bool LoadJpegPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, TBitmap& mask);
bool LoadJpegPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask);

// Pixels with alpha (or palette transparency) below threshold are transparent in the mask.
bool LoadPngPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, TBitmap& mask, int threshold);
bool LoadPngPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask, int threshold);

// First frame as an 8-bit palette picture holding black and white; transparent pixels black.
bool LoadGifPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, TBitmap& mask);
bool LoadGifPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask);

// First page, 24-bit or 32-bit with alpha; no mask.
bool LoadTiffPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, TBitmap& mask);
bool LoadTiffPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask);

// Through the generic picture object by extension (its errors, "Unknown picture file extension
// (.%s)" among them, propagate). The picture drawn over black is kept in 24 bits; what differs
// from its drawing over white is transparent. Always returns true.
bool LoadAnyPicture(std::span<const uint8_t> bytes, const std::string& extension, TBitmapFix32& bitmap, TBitmap& mask);
bool LoadAnyPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask);

}  // namespace glyphmill
