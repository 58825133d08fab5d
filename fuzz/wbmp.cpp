// Fuzzes the reader of WAP bitmaps (multi-byte sizes, rows) over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/wbmpimage.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    glyphmill::TWapBitmap image;
    image.LoadFromBytes(std::span<const uint8_t>(data, size));
  } catch (const glyphmill::EGlyphmillError&) {
  }
  return 0;
}
