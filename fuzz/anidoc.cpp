// Fuzzes the animated-cursor document and its GIF picture.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "icons/aniimage.h"

using namespace glyphmill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const auto graphic = LoadAniGraphic({data, size});
    TMemoryStream gif;
    static_cast<const TAniCursorImage&>(*graphic).SaveToStream(gif);
  } catch (const std::exception&) {
  }
  return 0;
}
