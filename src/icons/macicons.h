// Mac OS icons: icns files and resource forks (bare, or AppleDouble companions) turned into one
// icon. Every colour element becomes an image paired with the transparency the file gives for it;
// images keep the Mac marks, large ones are stored PNG-compressed, and the icon is sorted.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "icons/advancedicon.h"
#include "platform/bitmap.h"
#include "support/byte_reader.h"

namespace glyphmill {

// One decoded element or resource item: a colour bitmap and a mask, either possibly absent.
// Masks are 1-bit (white = transparent) or, from the 8-bit mask types, 8-bit alpha values.
struct TMacElement {
  std::string Name;
  std::unique_ptr<TBitmap> Colour;
  std::unique_ptr<TBitmap> Mask;
};

// A colour bitmap with its mask (null: none; a 32-bit colour then carries its alpha).
struct TMacIconPair {
  std::string Name;
  TBitmap Colour;
  std::unique_ptr<TBitmap> Mask;
};
using TMacIconPairs = std::vector<TMacIconPair>;

// The 16 and 256 colours of the classic Mac icon types.
std::span<const TRGBQuad> MacPalette16();
std::span<const TRGBQuad> MacPalette256();

// Decodes one icns element of a known type (lower case) from its data. Unknown types, lengths
// that do not fit the type and the ignored types give an element without bitmaps. PNG and JPEG
// 2000 codec errors pass on.
TMacElement DecodeIcnsElement(const std::string& type, std::span<const uint8_t> data);

// Reads icns elements with the reader just after "icns" (at the total length) and pairs colours
// with masks.
TMacIconPairs ReadIcns(TByteReader& reader);

// Walks the resource data of a resource fork from offset 256 (338 behind an AppleDouble header),
// items recognised by their length, merged with an embedded icns, duplicates removed.
TMacIconPairs WalkResourceData(std::span<const uint8_t> bytes);

// icns data or a resource fork, by the first four bytes.
TMacIconPairs ReadMacIcons(std::span<const uint8_t> bytes);
TMacIconPairs ReadMacIcons(const std::string& fileName);

// Replaces the icon's images by those of the file.
void LoadMacIconFile(const std::string& fileName, TAdvancedIcon& icon);
void LoadMacIconBytes(std::span<const uint8_t> bytes, TAdvancedIcon& icon);

}  // namespace glyphmill
