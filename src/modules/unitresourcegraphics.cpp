#include "modules/unitresourcegraphics.h"

#include <algorithm>

#include "support/byte_reader.h"
#include "support/errors.h"

namespace glyphmill {

bool TDIBResourceDetails::AcceptsData(std::span<const uint8_t> data) {
  if (data.size() < 18) return false;
  const uint32_t headerSize = LoadU32LE(data.data() + 14);
  return LoadU16LE(data.data()) == 0x4D42 && LoadU16LE(data.data() + 6) == 0 && LoadU16LE(data.data() + 8) == 0 &&
         (headerSize == 40 || headerSize == 108 || headerSize == 124);
}

namespace {

const TResourceDetailsClass* const GraphicsClasses[] = {
    &DetailsClassOf<TBitmapResourceDetails>(),    &DetailsClassOf<TDIBResourceDetails>(),
    &DetailsClassOf<TIconGroupResourceDetails>(), &DetailsClassOf<TCursorGroupResourceDetails>(),
    &DetailsClassOf<TIconResourceDetails>(),      &DetailsClassOf<TCursorResourceDetails>(),
};

// Registered for as long as the program runs, like the unit's initialisation and finalisation.
struct TGraphicsRegistration {
  TGraphicsRegistration() { RegisterGraphicsResourceClasses(); }
  ~TGraphicsRegistration() { UnregisterGraphicsResourceClasses(); }
} GraphicsRegistration;

const char* const ResourceNotFound = "The specified resource name cannot be found in the image file.";

// Reads the group header and hands each 14-byte entry to addEntry; false for an invalid header.
// Entries beyond the resource's bytes are not there: the group ends with its last whole entry.
template <class TAddEntry>
bool ReadGroup(TAdvancedIcon& icon, std::span<const uint8_t> group, TAddEntry addEntry) {
  if (group.size() < TIconDirHeader::Size) return false;
  TMemoryStream stream(std::vector<uint8_t>(group.begin(), group.end()));
  TIconDirHeader header;
  if (!icon.ReadHeader(stream, header)) return false;
  for (int i = 0; i < header.Count && stream.Remaining() >= TGroupIconEntry::Size; ++i)
    addEntry(TGroupIconEntry::Read(stream));
  return true;
}

void AddImage(TAdvancedIcon& icon, const TIconEntry& entry, std::span<const uint8_t> bytes) {
  // The image is taken whole; its size, not the group's claim, becomes dwBytesInRes.
  auto image = std::make_unique<TResourceIconImage>(entry, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  if (!image->Empty()) icon.Images.Add(std::move(image));
}

}  // namespace

void RegisterGraphicsResourceClasses() {
  const auto& registered = RegisteredDetailsClasses();
  for (const TResourceDetailsClass* detailsClass : GraphicsClasses)
    if (std::find(registered.begin(), registered.end(), detailsClass) == registered.end())
      RegisterDetailsClass(*detailsClass);
}

void UnregisterGraphicsResourceClasses() {
  for (const TResourceDetailsClass* detailsClass : GraphicsClasses) UnregisterDetailsClass(*detailsClass);
}

bool LoadFromModuleGroup(TAdvancedIcon& icon, const TResourceModule& module, const std::string& groupName) {
  const TResourceDetails* group = module.FindByTypeAndName("14", groupName);
  if (group == nullptr) return false;
  return ReadGroup(icon, group->Data(), [&](const TGroupIconEntry& entry) {
    if (const TResourceDetails* image = module.FindByTypeAndName("3", std::to_string(entry.Id)))
      AddImage(icon, entry.Entry, image->Data());
  });
}

bool LoadFromGroupResource(TAdvancedIcon& icon, const TPE64ResourceModule& module, bool nameIsString,
                           const std::string& groupName) {
  const TResourceDetails* group = module.FindResourceAsLoader("14", nameIsString, groupName);
  if (group == nullptr) throw EReadError(ResourceNotFound);
  return ReadGroup(icon, group->Data(), [&](const TGroupIconEntry& entry) {
    const TResourceDetails* image = module.FindResourceAsLoader("3", false, std::to_string(entry.Id));
    if (image == nullptr) throw EReadError(ResourceNotFound);
    AddImage(icon, entry.Entry, image->Data());
  });
}

}  // namespace glyphmill
