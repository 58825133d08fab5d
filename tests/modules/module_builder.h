// Builders of small Windows modules and icon images for the module tests: PE32/PE32+ files with a
// resource tree, NE files with a resource table, DIB icon images and icon-group resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glyphmill::test {

using TBytes = std::vector<uint8_t>;

void PutU16(TBytes& bytes, size_t offset, uint16_t value);
void PutU32(TBytes& bytes, size_t offset, uint32_t value);
void AppendU16(TBytes& bytes, uint16_t value);
void AppendU32(TBytes& bytes, uint32_t value);

// A DIB icon image (header with doubled height, palette, colour bits, mask) of side × side pixels;
// seed varies the pixels so that images differ.
TBytes DibIconImage(int side, int bits, uint8_t seed = 1);

// An ICO file holding these images (DIB or PNG bytes) with the given directory sides and depths.
struct TIcoImage {
  int Side = 16;
  int Bits = 4;
  TBytes Bytes;
};
TBytes IcoFile(const std::vector<TIcoImage>& images);

// One entry of an icon-group resource.
struct TGroupEntry {
  int Side = 16;
  int Bits = 4;
  uint32_t Size = 0;
  uint16_t Id = 1;
};
TBytes GroupResource(const std::vector<TGroupEntry>& entries, uint16_t kind = 1);

// A resource of a PE tree. Type, name and language written as digits are ids, anything else a
// string entry. DataAddress, when set, is stored as the data entry's address instead of the
// bytes' own (the bytes are then not stored); DeclaredSize overrides the data entry's size.
struct TPeResource {
  std::string Type;
  std::string Name;
  std::string Language = "1033";
  TBytes Data;
  std::optional<uint32_t> DataAddress{};
  std::optional<uint32_t> DeclaredSize{};
};

// The resource section's bytes for a section at sectionAddress; the tree starts at directoryOffset.
TBytes ResourceSection(const std::vector<TPeResource>& resources, uint32_t sectionAddress,
                       uint32_t directoryOffset = 0);

struct TPeSection {
  uint32_t VirtualAddress = 0;
  TBytes Data;
  uint32_t VirtualSize = 0;  // 0: the data size
  uint32_t Characteristics = 0x40000040;
};

// A PE file: DOS header, signature, file header, optional header (magic 0x10B: 224 bytes, 0x20B: 240)
// and the sections. The resource data directory holds resourceAddress.
TBytes PeFile(const std::vector<TPeSection>& sections, uint32_t resourceAddress, uint16_t magic = 0x10B);

// A PE32 module whose resource section at 0x1000 holds these resources.
TBytes PeWithResources(const std::vector<TPeResource>& resources, uint16_t magic = 0x10B);

// A resource of an NE resource table.
struct TNeResource {
  uint16_t TypeId = 0;
  uint16_t Id = 0;
  TBytes Data;
};
// An NE file with resource alignment shift 4; names are the strings after the type table.
TBytes NeFile(const std::vector<TNeResource>& resources, const std::vector<std::string>& names);

}  // namespace glyphmill::test
