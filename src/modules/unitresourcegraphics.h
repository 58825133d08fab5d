// Graphic resources of modules: the details classes the resource factory chooses for bitmaps, DIB
// files, icon and cursor groups and their images (registered in that order while the program runs),
// and the assembly of one icon from an icon-group resource and its image resources.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "icons/advancedicon.h"
#include "modules/unitpefile.h"
#include "modules/unitresourcedetails.h"

namespace glyphmill {

class TGraphicsResourceDetails : public TResourceDetails {
public:
  using TResourceDetails::TResourceDetails;
};

// A bitmap resource: a DIB without file header.
class TBitmapResourceDetails : public TGraphicsResourceDetails {
public:
  using TGraphicsResourceDetails::TGraphicsResourceDetails;
  static std::string DetailsTypeKey() { return "2"; }
};

// A resource of any type whose bytes are a whole bitmap file.
class TDIBResourceDetails : public TBitmapResourceDetails {
public:
  using TBitmapResourceDetails::TBitmapResourceDetails;
  static std::string DetailsTypeKey() { return "DIB"; }
  // "BM", both reserved words 0 and an info header of 40, 108 or 124 bytes.
  static bool AcceptsData(std::span<const uint8_t> data);
};

class TIconCursorGroupResourceDetails : public TResourceDetails {
public:
  using TResourceDetails::TResourceDetails;
};

class TIconGroupResourceDetails : public TIconCursorGroupResourceDetails {
public:
  using TIconCursorGroupResourceDetails::TIconCursorGroupResourceDetails;
  static std::string DetailsTypeKey() { return "14"; }
};

class TCursorGroupResourceDetails : public TIconCursorGroupResourceDetails {
public:
  using TIconCursorGroupResourceDetails::TIconCursorGroupResourceDetails;
  static std::string DetailsTypeKey() { return "12"; }
};

class TIconCursorResourceDetails : public TGraphicsResourceDetails {
public:
  using TGraphicsResourceDetails::TGraphicsResourceDetails;
};

class TIconResourceDetails : public TIconCursorResourceDetails {
public:
  using TIconCursorResourceDetails::TIconCursorResourceDetails;
  static std::string DetailsTypeKey() { return "3"; }
};

// A cursor image; its bytes begin with the 4-byte hot spot.
class TCursorResourceDetails : public TIconCursorResourceDetails {
public:
  using TIconCursorResourceDetails::TIconCursorResourceDetails;
  static std::string DetailsTypeKey() { return "1"; }
};

// Registers the six classes (idempotent); done at start-up by this unit itself, callable again after
// UnregisterGraphicsResourceClasses.
void RegisterGraphicsResourceClasses();
void UnregisterGraphicsResourceClasses();

// Appends the images of icon group groupName of a decoded module to icon. The first group of that
// name wins whatever its language; entries whose image resource is missing are skipped. False when
// the group is missing or its header is invalid. An image that fails to decode throws.
bool LoadFromModuleGroup(TAdvancedIcon& icon, const TResourceModule& module, const std::string& groupName);

// The same over a 64-bit module as the Windows loader resolves it: the group and each image by id in
// the loader's language. False when the header is invalid; a missing group or image resource throws
// EReadError("Resource not found").
bool LoadFromGroupResource(TAdvancedIcon& icon, const TPE64ResourceModule& module, bool nameIsString,
                           const std::string& groupName);

}  // namespace glyphmill
