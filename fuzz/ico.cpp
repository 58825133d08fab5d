// Fuzzes the ICO/CUR readers: the tolerant file reader, the strict stream readers with absolute and
// relative offsets, and writing back whatever was read.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "icons/advancedicon.h"

using namespace glyphmill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  {
    TMemoryStream stream(bytes);
    TAdvancedIcon icon;
    icon.LoadFromFileStream(stream);
    TMemoryStream written;
    icon.SaveToStream(written);
    for (const auto& image : icon.Images) {
      TBitmap colour, mask;
      image->RenderBitmaps(nullptr, &colour, &mask, 0);
    }
  }
  try {
    TMemoryStream stream(bytes);
    TAdvancedCursor cursor;
    cursor.LoadCursorFromStream(stream);
    TMemoryStream written;
    cursor.SaveCursorToStream(written);
  } catch (const std::exception&) {
  }
  try {
    TMemoryStream stream(bytes);
    stream.SetPosition(size > 0 ? data[0] % 8 : 0);
    TAdvancedIcon icon;
    icon.LoadFromStreamAt(stream);
  } catch (const std::exception&) {
  }
  return 0;
}
