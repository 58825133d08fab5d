// TIFF pictures over libtiff: the first page of a file in any photometric interpretation and bit
// depth libtiff can render as RGBA, into a 24-bit bitmap, or a 32-bit one with straight (not
// premultiplied) alpha when the file has an alpha channel. Reads bytes, so files and fuzzers
// share one path; libtiff's errors and warnings never reach the terminal.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bitmap.h"

namespace glyphmill {

struct TTiffInfo {
  int Width = 0;
  int Height = 0;
};

// The first page's size. Fails with EReadError "Invalid TIFF image: <reason>".
TTiffInfo ReadTiffInfo(std::span<const uint8_t> bytes);

// Decodes the first page. Fails with EReadError "Invalid TIFF image: <reason>" on malformed data
// or a variant libtiff cannot render; refuses a page above the pixel cap before allocating. On
// failure the bitmap keeps its previous contents.
void DecodeTiff(std::span<const uint8_t> bytes, TBitmap& bitmap);

}  // namespace glyphmill
