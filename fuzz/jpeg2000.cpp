// Fuzzes the JPEG 2000 decoder over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "platform/jpeg2000_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try {
    const glyphmill::TJpeg2000Info info = glyphmill::ReadJpeg2000Info(bytes);
    // Pictures that are large but legal only cost the fuzzer memory.
    if (static_cast<int64_t>(info.Width) * info.Height > 4 * 1024 * 1024) return 0;
    glyphmill::TBitmap bitmap;
    glyphmill::DecodeJpeg2000(bytes, bitmap);
  } catch (const std::exception&) {
  }
  return 0;
}
