// Fuzzes the GIF picture loader (first frame, two renderings, palette repair) over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "app/pictureloaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Large but legal logical screens only cost the fuzzer memory.
  if (size >= 10 && static_cast<int64_t>(data[6] | (data[7] << 8)) * (data[8] | (data[9] << 8)) > 4 * 1024 * 1024)
    return 0;
  try {
    glyphmill::TBitmapFix32 bitmap;
    glyphmill::TBitmap mask;
    glyphmill::LoadGifPicture(std::span<const uint8_t>(data, size), bitmap, mask);
  } catch (const std::exception&) {
  }
  return 0;
}
