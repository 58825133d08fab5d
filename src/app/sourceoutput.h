// What one source becomes for the run to write: one finished icon, or the named icons of a
// multi-icon source (a module, an icon library, an animated cursor, a split icon project), or
// nothing. The run depends only on this, never on a container type.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/conversionoptions.h"

namespace glyphmill {

// An icon holding at least one image.
class TOutputIcon {
public:
  virtual ~TOutputIcon() = default;
  // Makes the requested sizes and depths from the icon's own images and puts them into the
  // standard order (done for the icons of a multi-icon source before each is written).
  virtual void Rebuild(const TConversionOptions& options, TRunFlags& flags) = 0;
  // Writes an ICO file through a temporary file renamed into place; fails with the writer's message.
  virtual void SaveToFile(const std::string& fileName) const = 0;
};

struct TNamedIcon {
  std::string Name;  // empty for frames and split project images; a resource id or a name otherwise
  std::unique_ptr<TOutputIcon> Icon;
};

struct TSourceOutput {
  std::unique_ptr<TOutputIcon> Icon;  // the finished icon, already ordered and marked for PNG storage
  std::vector<TNamedIcon> Library;    // used when there is no finished icon
};

}  // namespace glyphmill
