// Fuzzes the PNG picture loader (palette, grey-alpha and partial-transparency rules) over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "app/pictureloaders.h"
#include "support/byte_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Large but legal pictures (IHDR width and height) only cost the fuzzer memory.
  if (size >= 24 &&
      static_cast<uint64_t>(glyphmill::LoadU32BE(data + 16)) * glyphmill::LoadU32BE(data + 20) > 4 * 1024 * 1024)
    return 0;
  try {
    glyphmill::TBitmapFix32 bitmap;
    glyphmill::TBitmap mask;
    glyphmill::LoadPngPicture(std::span<const uint8_t>(data, size), bitmap, mask, 80);
  } catch (const std::exception&) {
  }
  return 0;
}
