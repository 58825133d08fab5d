// Compiled resource files (.res, the 32-bit format resource compilers write): a list of resources
// read entry by entry, each becoming a resource of the details class the registry chooses.
#pragma once

#include <memory>
#include <vector>

#include "modules/unitresourcedetails.h"
#include "support/streams.h"

namespace glyphmill {

// A resource container over an owned, ordered list.
class TResourceList : public TResourceModule {
public:
  int ResourceCount() const override { return static_cast<int>(FResources.size()); }
  TResourceDetails* ResourceAt(int index) const override;
  int AddResource(std::unique_ptr<TResourceDetails> details) override;
  int IndexOfResource(const TResourceDetails* details) const override;

protected:
  void ClearResources() { FResources.clear(); }

private:
  std::vector<std::unique_ptr<TResourceDetails>> FResources;
};

class TResModule : public TResourceList {
public:
  // Reads every entry from the stream's position to its end. An entry whose header or data runs
  // past the end, or whose header is too short for its fields, ends the reading; the entries
  // before it remain.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName) override;

  // Cleared when the file begins with the empty header entry.
  bool Flag() const { return FFlag; }

private:
  bool FFlag = false;
};

}  // namespace glyphmill
