// Fuzzes the resource-fork walk (bare forks and AppleDouble companions) and the icon built from it.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "icons/macicons.h"

using namespace glyphmill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TAdvancedIcon icon;
    LoadMacIconBytes({data, size}, icon);
  } catch (const std::exception&) {
  }
  return 0;
}
