// Fuzzes the reader of Photoshop documents (header, layer records, merged image of every mode) over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/psdimage.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    glyphmill::TPSDImage image;
    image.LoadFromBytes(std::span<const uint8_t>(data, size));
  } catch (const glyphmill::EGlyphmillError&) {
  }
  return 0;
}
