// Fuzzes the TIFF decoder over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "platform/tiff_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try {
    const glyphmill::TTiffInfo info = glyphmill::ReadTiffInfo(bytes);
    // Pictures that are large but legal only cost the fuzzer memory.
    if (static_cast<int64_t>(info.Width) * info.Height > 4 * 1024 * 1024) return 0;
    glyphmill::TBitmap bitmap;
    glyphmill::DecodeTiff(bytes, bitmap);
  } catch (const std::exception&) {
  }
  return 0;
}
