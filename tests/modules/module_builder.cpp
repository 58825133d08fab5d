#include "module_builder.h"

#include <algorithm>
#include <map>

namespace glyphmill::test {

void PutU16(TBytes& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(TBytes& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendU16(TBytes& bytes, uint16_t value) {
  bytes.resize(bytes.size() + 2);
  PutU16(bytes, bytes.size() - 2, value);
}

void AppendU32(TBytes& bytes, uint32_t value) {
  bytes.resize(bytes.size() + 4);
  PutU32(bytes, bytes.size() - 4, value);
}

namespace {

uint32_t RowBytes(uint32_t width, uint32_t bits) { return ((width * bits + 31) & ~31u) / 8; }

size_t Align(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

bool IsId(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// UTF-8 to UTF-16 for the names the tests use (no characters beyond the basic plane).
std::vector<uint16_t> Utf16(const std::string& text) {
  std::vector<uint16_t> units;
  for (size_t i = 0; i < text.size();) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80) {
      units.push_back(lead);
      i += 1;
    } else if (lead < 0xE0) {
      units.push_back(static_cast<uint16_t>(((lead & 0x1F) << 6) | (text[i + 1] & 0x3F)));
      i += 2;
    } else {
      units.push_back(
          static_cast<uint16_t>(((lead & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F)));
      i += 3;
    }
  }
  return units;
}

// Keys of one directory level in stored order: string entries first, then ids, each in first-seen order.
template <class TKeyOf>
std::vector<std::string> DirectoryKeys(const std::vector<const TPeResource*>& resources, TKeyOf keyOf) {
  std::vector<std::string> named;
  std::vector<std::string> ids;
  for (const TPeResource* resource : resources) {
    const std::string key = keyOf(*resource);
    auto& list = IsId(key) ? ids : named;
    if (std::find(list.begin(), list.end(), key) == list.end()) list.push_back(key);
  }
  named.insert(named.end(), ids.begin(), ids.end());
  return named;
}

}  // namespace

TBytes DibIconImage(int side, int bits, uint8_t seed) {
  const uint32_t colours = bits <= 8 ? 1u << bits : 0;
  const uint32_t xorSize = RowBytes(side, bits) * side;
  const uint32_t andSize = RowBytes(side, 1) * side;
  TBytes bytes(40);
  PutU32(bytes, 0, 40);
  PutU32(bytes, 4, side);
  PutU32(bytes, 8, 2 * side);
  PutU16(bytes, 12, 1);
  PutU16(bytes, 14, static_cast<uint16_t>(bits));
  PutU32(bytes, 20, xorSize + andSize);
  for (uint32_t i = 0; i < colours; ++i) {
    bytes.push_back(static_cast<uint8_t>(i * 37 + seed));
    bytes.push_back(static_cast<uint8_t>(i * 11));
    bytes.push_back(static_cast<uint8_t>(255 - i));
    bytes.push_back(0);
  }
  for (uint32_t i = 0; i < xorSize; ++i) bytes.push_back(static_cast<uint8_t>(i * 13 + seed * 7));
  for (uint32_t i = 0; i < andSize; ++i) bytes.push_back(static_cast<uint8_t>((i % 3 == 0) ? 0xF0 : 0x00));
  return bytes;
}

TBytes IcoFile(const std::vector<TIcoImage>& images) {
  TBytes bytes;
  AppendU16(bytes, 0);
  AppendU16(bytes, 1);
  AppendU16(bytes, static_cast<uint16_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const TIcoImage& image : images) {
    bytes.push_back(static_cast<uint8_t>(image.Side < 256 ? image.Side : 0));
    bytes.push_back(static_cast<uint8_t>(image.Side < 256 ? image.Side : 0));
    bytes.push_back(static_cast<uint8_t>(image.Bits < 8 ? 1 << image.Bits : 0));
    bytes.push_back(0);
    AppendU16(bytes, 1);
    AppendU16(bytes, static_cast<uint16_t>(image.Bits));
    AppendU32(bytes, static_cast<uint32_t>(image.Bytes.size()));
    AppendU32(bytes, offset);
    offset += static_cast<uint32_t>(image.Bytes.size());
  }
  for (const TIcoImage& image : images) bytes.insert(bytes.end(), image.Bytes.begin(), image.Bytes.end());
  return bytes;
}

TBytes GroupResource(const std::vector<TGroupEntry>& entries, uint16_t kind) {
  TBytes bytes;
  AppendU16(bytes, 0);
  AppendU16(bytes, kind);
  AppendU16(bytes, static_cast<uint16_t>(entries.size()));
  for (const TGroupEntry& entry : entries) {
    bytes.push_back(static_cast<uint8_t>(entry.Side < 256 ? entry.Side : 0));
    bytes.push_back(static_cast<uint8_t>(entry.Side < 256 ? entry.Side : 0));
    bytes.push_back(static_cast<uint8_t>(entry.Bits < 8 ? 1 << entry.Bits : 0));
    bytes.push_back(0);
    AppendU16(bytes, 1);
    AppendU16(bytes, static_cast<uint16_t>(entry.Bits));
    AppendU32(bytes, entry.Size != 0 ? entry.Size : static_cast<uint32_t>(DibIconImage(entry.Side, entry.Bits).size()));
    AppendU16(bytes, entry.Id);
  }
  return bytes;
}

TBytes ResourceSection(const std::vector<TPeResource>& resources, uint32_t sectionAddress, uint32_t directoryOffset) {
  std::vector<const TPeResource*> all;
  for (const auto& resource : resources) all.push_back(&resource);
  auto select = [&](auto predicate) {
    std::vector<const TPeResource*> chosen;
    for (const TPeResource* resource : all)
      if (predicate(*resource)) chosen.push_back(resource);
    return chosen;
  };

  // Lay out: directories, data entries, strings, data.
  struct TLanguage {
    std::string Key;
    const TPeResource* Resource;
    size_t EntryOffset = 0;
  };
  struct TName {
    std::string Key;
    std::vector<TLanguage> Languages;
    size_t Offset = 0;
  };
  struct TType {
    std::string Key;
    std::vector<TName> Names;
    size_t Offset = 0;
  };
  std::vector<TType> types;
  for (const std::string& typeKey : DirectoryKeys(all, [](const TPeResource& r) { return r.Type; })) {
    TType type{typeKey, {}, 0};
    const auto ofType = select([&](const TPeResource& r) { return r.Type == typeKey; });
    for (const std::string& nameKey : DirectoryKeys(ofType, [](const TPeResource& r) { return r.Name; })) {
      TName name{nameKey, {}, 0};
      for (const TPeResource* resource : ofType)
        if (resource->Name == nameKey) name.Languages.push_back({resource->Language, resource});
      std::stable_partition(name.Languages.begin(), name.Languages.end(),
                            [](const TLanguage& language) { return !IsId(language.Key); });
      type.Names.push_back(std::move(name));
    }
    types.push_back(std::move(type));
  }

  size_t offset = directoryOffset + 16 + 8 * types.size();
  for (auto& type : types) {
    type.Offset = offset;
    offset += 16 + 8 * type.Names.size();
  }
  for (auto& type : types)
    for (auto& name : type.Names) {
      name.Offset = offset;
      offset += 16 + 8 * name.Languages.size();
    }
  for (auto& type : types)
    for (auto& name : type.Names)
      for (auto& language : name.Languages) {
        language.EntryOffset = offset;
        offset += 16;
      }
  std::map<std::string, size_t> strings;
  auto placeString = [&](const std::string& key) {
    if (IsId(key) || strings.count(key)) return;
    strings[key] = offset;
    offset += 2 + 2 * Utf16(key).size();
  };
  for (auto& type : types) {
    placeString(type.Key);
    for (auto& name : type.Names) {
      placeString(name.Key);
      for (auto& language : name.Languages) placeString(language.Key);
    }
  }
  std::map<const TPeResource*, size_t> dataOffsets;
  for (const TPeResource* resource : all) {
    if (resource->DataAddress) continue;
    offset = Align(offset, 4);
    dataOffsets[resource] = offset;
    offset += resource->Data.size();
  }

  TBytes bytes(Align(offset, 4), 0);
  auto keyField = [&](const std::string& key) {
    return IsId(key) ? static_cast<uint32_t>(std::stoul(key)) : 0x80000000u | static_cast<uint32_t>(strings[key]);
  };
  auto writeDirectory = [&](size_t at, const std::vector<std::pair<std::string, uint32_t>>& entries) {
    PutU16(bytes, at + 8, 4);  // version 4.0
    const auto named = std::count_if(entries.begin(), entries.end(), [](const auto& e) { return !IsId(e.first); });
    PutU16(bytes, at + 12, static_cast<uint16_t>(named));
    PutU16(bytes, at + 14, static_cast<uint16_t>(entries.size() - named));
    for (size_t i = 0; i < entries.size(); ++i) {
      PutU32(bytes, at + 16 + 8 * i, keyField(entries[i].first));
      PutU32(bytes, at + 20 + 8 * i, entries[i].second);
    }
  };
  std::vector<std::pair<std::string, uint32_t>> root;
  for (const auto& type : types) root.emplace_back(type.Key, 0x80000000u | static_cast<uint32_t>(type.Offset));
  writeDirectory(directoryOffset, root);
  for (const auto& type : types) {
    std::vector<std::pair<std::string, uint32_t>> names;
    for (const auto& name : type.Names) names.emplace_back(name.Key, 0x80000000u | static_cast<uint32_t>(name.Offset));
    writeDirectory(type.Offset, names);
    for (const auto& name : type.Names) {
      std::vector<std::pair<std::string, uint32_t>> languages;
      for (const auto& language : name.Languages)
        languages.emplace_back(language.Key, static_cast<uint32_t>(language.EntryOffset));
      writeDirectory(name.Offset, languages);
      for (const auto& language : name.Languages) {
        const TPeResource& resource = *language.Resource;
        const uint32_t address = resource.DataAddress ? *resource.DataAddress
                                                      : sectionAddress + static_cast<uint32_t>(dataOffsets[&resource]);
        PutU32(bytes, language.EntryOffset, address);
        PutU32(bytes, language.EntryOffset + 4,
               resource.DeclaredSize ? *resource.DeclaredSize : static_cast<uint32_t>(resource.Data.size()));
      }
    }
  }
  for (const auto& [text, at] : strings) {
    const auto units = Utf16(text);
    PutU16(bytes, at, static_cast<uint16_t>(units.size()));
    for (size_t i = 0; i < units.size(); ++i) PutU16(bytes, at + 2 + 2 * i, units[i]);
  }
  for (const auto& [resource, at] : dataOffsets)
    std::copy(resource->Data.begin(), resource->Data.end(), bytes.begin() + at);
  return bytes;
}

TBytes PeFile(const std::vector<TPeSection>& sections, uint32_t resourceAddress, uint16_t magic) {
  const bool wide = magic == 0x20B;
  const size_t optionalSize = wide ? 240 : 224;
  const size_t sectionTable = 0x40 + 24 + optionalSize;
  TBytes bytes(Align(sectionTable + 40 * sections.size(), 0x200), 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutU32(bytes, 60, 0x40);
  bytes[0x40] = 'P';
  bytes[0x41] = 'E';
  PutU16(bytes, 0x44, wide ? 0x8664 : 0x14C);
  PutU16(bytes, 0x46, static_cast<uint16_t>(sections.size()));
  PutU16(bytes, 0x54, static_cast<uint16_t>(optionalSize));
  PutU16(bytes, 0x56, wide ? 0x2022 : 0x2102);
  const size_t optional = 0x58;
  PutU16(bytes, optional, magic);
  PutU32(bytes, optional + 32, 0x1000);  // section alignment
  PutU32(bytes, optional + 36, 0x200);   // file alignment
  const size_t directories = optional + (wide ? 108 : 92);
  PutU32(bytes, directories, 16);
  uint32_t resourceSize = 0;
  for (const auto& section : sections)
    if (section.VirtualAddress == resourceAddress) resourceSize = static_cast<uint32_t>(section.Data.size());
  PutU32(bytes, directories + 4 + 8 * 2, resourceAddress);
  PutU32(bytes, directories + 8 + 8 * 2, resourceSize);
  for (size_t i = 0; i < sections.size(); ++i) {
    const TPeSection& section = sections[i];
    const size_t header = sectionTable + 40 * i;
    const std::string name = ".s" + std::to_string(i);
    std::copy(name.begin(), name.end(), bytes.begin() + header);
    PutU32(bytes, header + 8,
           section.VirtualSize != 0 ? section.VirtualSize : static_cast<uint32_t>(section.Data.size()));
    PutU32(bytes, header + 12, section.VirtualAddress);
    const size_t raw = Align(section.Data.size(), 0x200);
    PutU32(bytes, header + 16, static_cast<uint32_t>(raw));
    PutU32(bytes, header + 20, static_cast<uint32_t>(bytes.size()));
    PutU32(bytes, header + 36, section.Characteristics);
    const size_t start = bytes.size();
    bytes.resize(start + raw, 0);
    std::copy(section.Data.begin(), section.Data.end(), bytes.begin() + start);
  }
  uint32_t imageEnd = 0x1000;
  for (const auto& section : sections)
    imageEnd = std::max<uint32_t>(imageEnd,
                                  section.VirtualAddress + static_cast<uint32_t>(Align(section.Data.size(), 0x1000)));
  PutU32(bytes, optional + 56, imageEnd);  // size of image
  PutU32(bytes, optional + 60, static_cast<uint32_t>(Align(sectionTable + 40 * sections.size(), 0x200)));
  return bytes;
}

TBytes PeWithResources(const std::vector<TPeResource>& resources, uint16_t magic) {
  return PeFile({{0x1000, ResourceSection(resources, 0x1000)}}, 0x1000, magic);
}

TBytes NeFile(const std::vector<TNeResource>& resources, const std::vector<std::string>& names) {
  constexpr uint16_t shift = 4;
  std::vector<uint16_t> typeIds;
  for (const auto& resource : resources)
    if (std::find(typeIds.begin(), typeIds.end(), resource.TypeId) == typeIds.end()) typeIds.push_back(resource.TypeId);

  TBytes table;
  AppendU16(table, shift);
  std::vector<size_t> entryPositions(resources.size());
  for (const uint16_t typeId : typeIds) {
    AppendU16(table, typeId | 0x8000);
    AppendU16(table, static_cast<uint16_t>(std::count_if(resources.begin(), resources.end(),
                                                         [&](const auto& r) { return r.TypeId == typeId; })));
    AppendU32(table, 0);
    for (size_t i = 0; i < resources.size(); ++i) {
      if (resources[i].TypeId != typeId) continue;
      entryPositions[i] = table.size();
      AppendU16(table, 0);  // offset, filled below
      AppendU16(table, static_cast<uint16_t>((resources[i].Data.size() + 15) >> shift));
      AppendU16(table, 0x30);
      AppendU16(table, resources[i].Id | 0x8000);
      AppendU32(table, 0);
    }
  }
  AppendU16(table, 0);
  for (const std::string& name : names) {
    table.push_back(static_cast<uint8_t>(name.size()));
    table.insert(table.end(), name.begin(), name.end());
  }
  table.push_back(0);
  const size_t residentNames = 64 + table.size();
  table.push_back(0);

  TBytes bytes(0x40 + 64, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutU32(bytes, 60, 0x40);
  bytes[0x40] = 'N';
  bytes[0x41] = 'E';
  PutU16(bytes, 0x40 + 36, 64);
  PutU16(bytes, 0x40 + 38, static_cast<uint16_t>(residentNames));
  const size_t tableStart = bytes.size();
  bytes.insert(bytes.end(), table.begin(), table.end());
  for (size_t i = 0; i < resources.size(); ++i) {
    bytes.resize(Align(bytes.size(), 16), 0);
    PutU16(bytes, tableStart + entryPositions[i], static_cast<uint16_t>(bytes.size() >> shift));
    bytes.insert(bytes.end(), resources[i].Data.begin(), resources[i].Data.end());
  }
  bytes.resize(Align(bytes.size(), 16), 0);
  return bytes;
}

}  // namespace glyphmill::test
