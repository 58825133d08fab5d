// Fuzzes the reader of XBM texts (sizes and bit values) over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/xpmimage.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    glyphmill::TXBMImage image;
    image.LoadFromBytes(std::span<const uint8_t>(data, size));
  } catch (const glyphmill::EGlyphmillError&) {
  }
  return 0;
}
