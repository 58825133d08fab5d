// Fuzzes icns data: element decoding, pairing and the icon built from it.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "icons/macicons.h"

using namespace glyphmill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes = {'i', 'c', 'n', 's'};
  bytes.insert(bytes.end(), data, data + size);
  try {
    TAdvancedIcon icon;
    LoadMacIconBytes(bytes, icon);
  } catch (const std::exception&) {
  }
  return 0;
}
