// Reads hostile bytes as a 16-bit module or ICL file: ReadIcons must answer, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <span>

#include "modules/iconlibrary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  glyphmill::T16BitReader reader("fuzz", std::span<const uint8_t>(data, size));
  reader.ReadIcons();
  return 0;
}
