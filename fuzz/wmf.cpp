// Plays hostile WMF bytes (placeable or not) onto a small bitmap: any input must end in an
// EReadError or a picture, never a crash, a hang or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/metafile.h"
#include "platform/metafile_wmf.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (!glyphmill::IsWmf(bytes)) return 0;
  try {
    glyphmill::TMetafile metafile;
    metafile.LoadFromBytes(bytes);
    glyphmill::TBitmap bitmap;
    metafile.Render(bitmap, 48, 40, 0x00FFFFFF);
  } catch (const glyphmill::EReadError&) {
  }
  return 0;
}
