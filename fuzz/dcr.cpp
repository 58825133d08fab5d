// Reads hostile DCR files (the FF 02 00 lead is given): a header fault raises its message, anything
// else must give one icon, never a crash or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "modules/dcrreader.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes = {0xFF, 0x02, 0x00};
  bytes.insert(bytes.end(), data, data + size);
  glyphmill::TIconLibrary library;
  try {
    glyphmill::LoadResourceFileIcons(bytes, library);
  } catch (const glyphmill::EGlyphmillError&) {
  }
  return 0;
}
