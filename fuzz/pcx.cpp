// Fuzzes the reader of PCX pictures (header rules, palettes, run-length rows, plane layouts) over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/pcximage.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    glyphmill::TPCXImage image;
    image.LoadFromBytes(std::span<const uint8_t>(data, size));
  } catch (const glyphmill::EGlyphmillError&) {
  }
  return 0;
}
