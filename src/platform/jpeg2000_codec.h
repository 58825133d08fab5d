// JPEG 2000 pictures over OpenJPEG: JP2 files and raw codestreams (.j2k, .jpc) into a 24-bit
// bitmap, or a 32-bit one when the picture has an alpha channel. Grey, RGB, sYCC and CMYK
// pictures of any precision and with sub-sampled components come out as true colours.
// Reads bytes, so files and fuzzers share one path; OpenJPEG's messages never reach the terminal.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bitmap.h"

namespace glyphmill {

struct TJpeg2000Info {
  int Width = 0;
  int Height = 0;
  int Components = 0;
};

// True when the bytes start like a JP2 file or a raw codestream.
bool HasJpeg2000Signature(std::span<const uint8_t> bytes);

// Fails with EReadError "Invalid JPEG 2000 image: <reason>".
TJpeg2000Info ReadJpeg2000Info(std::span<const uint8_t> bytes);

// Decodes the picture. Fails with EReadError "Invalid JPEG 2000 image: <reason>" on malformed or
// truncated data (OpenJPEG's lenient mode would trust lengths the data cannot back); refuses a
// picture above the pixel cap before decoding. On failure the bitmap
// keeps its previous contents.
void DecodeJpeg2000(std::span<const uint8_t> bytes, TBitmap& bitmap);

}  // namespace glyphmill
