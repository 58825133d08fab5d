// Probes hostile bytes for a module's icon groups (NE, PE32, PE32+): headers only, never a crash.
#include <cstddef>
#include <cstdint>
#include <span>

#include "modules/iconlibrary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  glyphmill::ProbeModule(std::span<const uint8_t>(data, size));
  return 0;
}
