// Fuzzes the icon-project reader, its drawing and writing back what was read.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "icons/iconproject.h"

using namespace glyphmill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const auto graphic = LoadIconProjectGraphic({data, size});
    const auto& project = static_cast<const TIconProject&>(*graphic);
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(8, 8);
    project.Draw(target, Rect(0, 0, 8, 8));
    TMemoryStream written;
    project.SaveToStream(written);
    TAdvancedIcon icon;
    icon.Assign(project.ProjectIcon);
  } catch (const std::exception&) {
  }
  return 0;
}
