// TIconList: the ordered, named icons that a multi-icon source yields (icon libraries, modules,
// animated cursors). The list owns its icons; it also streams itself as the "ICONS" property.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "icons/advancedicon.h"
#include "support/streams.h"

namespace glyphmill {

class TIconList {
public:
  TIconList() = default;
  TIconList(const TIconList&) = delete;
  TIconList& operator=(const TIconList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  // Bad indexes throw EGlyphmillError("List index out of bounds (%d)").
  const std::string& Name(int index) const;
  TAdvancedIcon* IconAt(int index) const;
  void SetName(int index, const std::string& name);

  // Appends and takes the icon over (a null icon is ignored). An empty name becomes "Icon N",
  // N being the new count.
  void AddIcon(const std::string& name, std::unique_ptr<TAdvancedIcon> icon);
  // Frees the icon and removes its pair.
  void Delete(int index);
  // Removes the pair and hands its icon to the caller.
  std::unique_ptr<TAdvancedIcon> Extract(int index);
  void Clear();
  // Moves the pair at from to index to, shifting those between; from = to does nothing.
  void MoveIcon(int from, int to);
  // Replaces the pairs by those of source, whose icons pass to this list (source ends empty).
  void Assign(TIconList& source);

  // The property form: nothing for an empty list, else the property name "ICONS", the integers 0
  // and 1, the count, per icon its name and its images in filer form, and a closing integer 0.
  void WriteProperty(TStream& stream) const;
  // Reads that form (the stream positioned at the property name), replacing the list. A stream of
  // another form throws EReadError("Invalid property value").
  void ReadProperty(TStream& stream);

private:
  void CheckIndex(int index) const;

  std::vector<std::pair<std::string, std::unique_ptr<TAdvancedIcon>>> FItems;
};

}  // namespace glyphmill
