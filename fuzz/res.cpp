// Lists the icons of hostile 32-bit resource files: the empty header entry is given, so every input
// reaches the resource reader, the grouping and the raw walk.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "modules/dcrreader.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
  bytes.resize(32, 0);
  bytes.insert(bytes.end(), data, data + size);
  glyphmill::TIconLibrary library;
  glyphmill::LoadResourceFileIcons(bytes, library);
  return 0;
}
