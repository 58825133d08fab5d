// Fuzzes file-type detection over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/filetype.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  glyphmill::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  glyphmill::DetectFileType(stream);
  stream.SetPosition(0);
  glyphmill::JpegComponentCount(stream);
  return 0;
}
