// Scans hostile bytes for icon images and group directories and regroups what it finds; a PNG that
// cannot be decoded ends the scan with an error, anything else must not crash or hang.
#include <cstddef>
#include <cstdint>
#include <span>

#include "modules/iconlibrary.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  glyphmill::TIconLibrary library;
  try {
    library.ScanForIcons(std::span<const uint8_t>(data, size));
  } catch (const glyphmill::EGlyphmillError&) {
  }
  return 0;
}
