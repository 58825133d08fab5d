// Feeds arbitrary bytes to the working bitmap's BMP stream load: it must load or raise, never
// read outside the stream or crash.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "imaging/bitmapfix32.h"
#include "support/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  glyphmill::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  glyphmill::TBitmapFix32 bitmap;
  try {
    bitmap.LoadFromStream(stream);
  } catch (const std::exception&) {
    return 0;
  }
  // Touch every pixel so a wrongly sized buffer shows up under the sanitizers.
  volatile uint32_t sum = 0;
  for (int y = 0; y < bitmap.Height(); ++y) sum = sum + bitmap.GetPixel(bitmap.Width() - 1, y) + bitmap.ScanLine(y)[0];
  glyphmill::TMemoryStream saved;
  bitmap.SaveToStream(saved);
  return 0;
}
