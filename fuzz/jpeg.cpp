// Fuzzes the JPEG picture loader (header, reduced decoding, fitting) over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "app/pictureloaders.h"
#include "platform/jpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try {
    const glyphmill::TJpegInfo info = glyphmill::ReadJpegInfo(bytes);
    // Pictures that are large but legal only cost the fuzzer memory.
    if (static_cast<int64_t>(info.Width) * info.Height > 16 * 1024 * 1024) return 0;
    glyphmill::TBitmapFix32 bitmap;
    glyphmill::TBitmap mask;
    glyphmill::LoadJpegPicture(bytes, bitmap, mask);
  } catch (const std::exception&) {
  }
  return 0;
}
