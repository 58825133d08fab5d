// JPEG pictures over libjpeg: the header facts, and decoding into a 24-bit bitmap at full size or
// reduced by 2, 4 or 8 while decoding. Grey, RGB, CMYK and YCCK files (Adobe's inverted CMYK
// included) all come out as true colours. Reads bytes, so files and fuzzers share one path.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bitmap.h"

namespace glyphmill {

struct TJpegInfo {
  int Width = 0;
  int Height = 0;
  int Components = 0;
};

// Fails with EReadError "Invalid JPEG image: <reason>" on bytes libjpeg cannot read.
TJpegInfo ReadJpegInfo(std::span<const uint8_t> bytes);

// Decodes into a 24-bit bitmap. scaleDenominator 1, 2, 4 or 8 asks libjpeg for that reduction
// (each side becomes ceil(side / denominator)). A picture above the pixel cap is refused before
// any pixel memory is allocated. A file cut short decodes what it holds (libjpeg fills the rest
// with grey), as viewers do. On failure the bitmap keeps its previous contents.
void DecodeJpeg(std::span<const uint8_t> bytes, TBitmap& bitmap, int scaleDenominator = 1);

}  // namespace glyphmill
