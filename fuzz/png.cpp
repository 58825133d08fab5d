// Decodes arbitrary bytes as PNG and, when they decode, encodes the picture again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/png_codec.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  glyphmill::TPNGImage image;
  try {
    image.LoadFromBytes(std::span(data, size));
  } catch (const glyphmill::EGlyphmillError&) {
    return 0;
  }
  glyphmill::TBitmap bitmap;
  image.AssignTo(bitmap);
  if (bitmap.Width() * bitmap.Height() <= 256 * 256) {
    glyphmill::TPNGImage copy;
    copy.Assign(bitmap, image.PaletteAlpha().empty() ? -1 : 0);
    copy.SaveToBytes();
  }
  return 0;
}
