// Fuzzes the conversion's scan of animated cursors for frame chunks, into a list and into one icon.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "icons/animatedcursor.h"

using namespace glyphmill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  TAdvancedIcon icon;
  std::vector<std::unique_ptr<TAdvancedIcon>> list;
  LoadFromRiffBytes(icon, bytes, 0, &list);
  LoadFromRiffBytes(icon, bytes, 2, nullptr);
  return 0;
}
