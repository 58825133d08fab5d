#include "modules/iconlibrary.h"

#include <algorithm>
#include <filesystem>
#include <unordered_set>

#include "modules/unitpefile.h"
#include "modules/unitresourcegraphics.h"
#include "platform/png_codec.h"
#include "support/byte_reader.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

constexpr uint16_t DosSignature = 0x5A4D;
constexpr uint16_t PESignature = 0x4550;
constexpr uint16_t NESignature = 0x454E;
constexpr uint32_t HighBit = 0x80000000u;
// The probe reads the optional header into a fixed room, as a PE32 header of 16 directories needs.
constexpr size_t OptionalHeaderRoom = 224;

// The icon groups of a 64-bit module in directory order, as the loader enumerates them.
std::vector<const TResourceDetails*> GroupsAsLoader(const TPE64ResourceModule& module) {
  std::vector<const TResourceDetails*> groups;
  for (int i = 0; i < module.ResourceCount(); ++i) {
    const TResourceDetails* details = module.ResourceAt(i);
    if (details->TypeText() != "14") continue;
    const bool seen = std::any_of(groups.begin(), groups.end(), [&](const TResourceDetails* group) {
      return group->NameIsString() == details->NameIsString() && group->NameText() == details->NameText();
    });
    if (!seen) groups.push_back(details);
  }
  return groups;
}

// What the shell's icon count reports for a 64-bit module: its icon groups, each once.
int CountGroups64(std::span<const uint8_t> bytes) {
  TPE64ResourceModule module;
  try {
    module.DecodeModule(bytes);
  } catch (...) {
    // Groups found before a fault still count.
  }
  return static_cast<int>(GroupsAsLoader(module).size());
}

void ProbeNEGroups(std::span<const uint8_t> bytes, size_t table, TModuleProbe& probe) {
  const size_t size = bytes.size();
  probe.IconCount = 0;
  size_t position = table + 2;  // past the alignment shift
  while (position <= size && size - position >= 8) {
    const uint16_t typeId = LoadU16LE(bytes.data() + position);
    const size_t count = LoadU16LE(bytes.data() + position + 2);
    if (typeId == 0x800E) {
      probe.HasIcons = true;
      probe.IconCount = static_cast<int>(count);
      return;
    }
    if (typeId == 0) return;
    position += 8 + count * 12;
    if (position > size || size - position < count * 12) return;
  }
}

void ProbePEGroups(std::span<const uint8_t> bytes, size_t table, TModuleProbe& probe) {
  const TByteReader reader(bytes);
  probe.IconCount = 0;
  std::unordered_set<size_t> visited;
  auto entriesOf = [&](size_t directory, auto visit) {
    if (!reader.Contains(directory, 16) || !visited.insert(directory).second) return;
    const size_t count = LoadU16LE(bytes.data() + directory + 12) + LoadU16LE(bytes.data() + directory + 14);
    for (size_t i = 0; i < count; ++i) {
      const size_t entry = directory + 16 + 8 * i;
      if (!reader.Contains(entry, 8)) return;
      visit(LoadU32LE(bytes.data() + entry), LoadU32LE(bytes.data() + entry + 4));
    }
  };
  entriesOf(table, [&](uint32_t typeName, uint32_t typeTarget) {
    if (typeName != 14) return;
    probe.HasIcons = true;
    if ((typeTarget & HighBit) == 0) return;
    entriesOf(table + (typeTarget & ~HighBit), [&](uint32_t, uint32_t nameTarget) {
      const size_t languages = table + (nameTarget & ~HighBit);
      if ((nameTarget & HighBit) == 0 || !reader.Contains(languages, 16) || !visited.insert(languages).second) return;
      probe.IconCount += LoadU16LE(bytes.data() + languages + 12) + LoadU16LE(bytes.data() + languages + 14);
    });
  });
}

void ProbePE(std::span<const uint8_t> bytes, size_t newHeader, TModuleProbe& probe) {
  const TByteReader reader(bytes);
  if (!reader.Contains(newHeader, 24)) return;
  const uint16_t sectionCount = LoadU16LE(bytes.data() + newHeader + 6);
  const size_t declared = LoadU16LE(bytes.data() + newHeader + 20);
  const size_t optionalStart = newHeader + 24;
  std::array<uint8_t, OptionalHeaderRoom> room{};
  if (optionalStart < bytes.size())
    std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(optionalStart),
                std::min({declared, OptionalHeaderRoom, bytes.size() - optionalStart}), room.begin());
  const uint16_t magic = LoadU16LE(room.data());
  if (magic == 0x20B) {
    probe.Is64Bit = true;
    probe.IconCount = CountGroups64(bytes);
    probe.HasIcons = probe.IconCount > 0;
    return;
  }
  if (magic != 0x10B && magic != 0x107) return;
  const uint32_t resourceAddress = LoadU32LE(room.data() + 112);
  bool found = false;
  size_t table = 0;
  size_t section = optionalStart + declared;
  for (int i = 0; i < sectionCount && reader.Contains(section, 40); ++i, section += 40) {
    if (LoadU32LE(bytes.data() + section + 12) == resourceAddress) {
      found = true;
      table = LoadU32LE(bytes.data() + section + 20);
    }
  }
  if (found) ProbePEGroups(bytes, table, probe);
}

TModuleProbe ProbeFile(const std::string& fileName) {
  try {
    TFileMappingStream stream(fileName);
    return ProbeModule(stream.Bytes());
  } catch (const EStreamError&) {
    return {};
  }
}

// The byte length a DIB icon image with this header needs: colour rows, mask rows, header and table.
uint32_t ScannedImageSize(uint32_t width, uint32_t bits) {
  auto rowBytes = [](uint32_t w, uint32_t b) { return ((w * b + 31) & ~31u) / 8; };
  const uint32_t header = bits <= 8 ? 40 + 4 * (1u << bits) : 40;
  return rowBytes(width, bits) * width + rowBytes(width, 1) * width + header;
}

bool IsScanWidth(uint32_t width) {
  static constexpr uint32_t widths[] = {16, 18, 20, 22, 24, 28, 30, 32, 40, 48, 50, 64, 80, 96, 128, 256, 512, 768};
  return std::find(std::begin(widths), std::end(widths), width) != std::end(widths);
}

bool IsScanDepth(uint32_t bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

// Where a PNG stream starting at start ends (after IEND's CRC), or 0 when it runs past the bytes.
size_t PngStreamEnd(std::span<const uint8_t> bytes, size_t start) {
  uint64_t position = start + 8;
  while (position + 12 <= bytes.size()) {
    const uint64_t next = position + 12 + LoadU32BE(bytes.data() + position);
    if (next > bytes.size()) return 0;
    if (std::equal(bytes.begin() + static_cast<ptrdiff_t>(position) + 4,
                   bytes.begin() + static_cast<ptrdiff_t>(position) + 8, "IEND"))
      return static_cast<size_t>(next);
    position = next;
  }
  return 0;
}

// A decoded PNG as a 32-bit picture and its mask (transparent below alpha 80), as one new icon.
std::unique_ptr<TAdvancedIcon> IconFromPng(const TPNGImage& png) {
  TBitmap picture(png.Bitmap());
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(picture.Width(), picture.Height());
  mask.FillRect(Rect(0, 0, picture.Width(), picture.Height()), RGBColor(0, 0, 0));
  const bool hasAlpha = picture.PixelFormat() == pf32bit;
  if (!hasAlpha) picture.SetPixelFormat(pf32bit);
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x) {
      uint8_t* pixel = row + 4 * x;
      if (!hasAlpha) {
        pixel[3] = 255;
      } else if (pixel[3] < 80) {
        if (pixel[3] == 0) std::fill_n(pixel, 4, 0);
        mask.SetPixel(x, y, RGBColor(255, 255, 255));
      }
    }
  }
  auto icon = std::make_unique<TAdvancedIcon>();
  icon->Images.AddFromBitmap(picture, &mask, 80);
  return icon;
}

struct TScannedEntry {
  int Group = 0;
  uint8_t Width = 0;
  uint8_t Height = 0;
  uint16_t BitCount = 0;
};

// Icon-group directories anywhere in the bytes, as (group, entry) pairs in file order.
std::vector<TScannedEntry> ScanGroupDirectories(std::span<const uint8_t> bytes) {
  std::vector<TScannedEntry> pairs;
  const size_t size = bytes.size();
  int group = 0;
  size_t q = 64;
  while (q + 14 < size) {
    const uint8_t* header = bytes.data() + q;
    const uint16_t count = LoadU16LE(header + 4);
    const size_t end = q + 6 + 14 * static_cast<size_t>(count);
    bool valid = LoadU16LE(header) == 0 && LoadU16LE(header + 2) == 1 && count >= 1 && count <= 99 && end <= size;
    for (size_t k = 0; valid && k < count; ++k) {
      const uint8_t* entry = header + 6 + 14 * k;
      const uint8_t colours = entry[2];
      const uint32_t imageSize = LoadU32LE(entry + 8);
      valid = (entry[1] != 0 || entry[0] == 0) && (colours == 0 || colours == 1 || colours == 2 || colours == 16) &&
              entry[3] == 0 && LoadU16LE(entry + 4) == 1 && IsScanDepth(LoadU16LE(entry + 6)) && imageSize > 2 &&
              imageSize < 2000000;
    }
    if (!valid) {
      q += 2;
      continue;
    }
    for (size_t k = 0; k < count; ++k) {
      const uint8_t* entry = header + 6 + 14 * k;
      pairs.push_back({group, entry[0], entry[1], LoadU16LE(entry + 6)});
    }
    ++group;
    q = end;
  }
  return pairs;
}

}  // namespace

TModuleKind IsModuleFile(const std::string& fileName) {
  TFileStream stream(fileName, TFileMode::OpenRead);
  uint8_t buffer[4] = {};
  if (stream.Read(buffer, 2) != 2 || LoadU16LE(buffer) != DosSignature) return {};
  stream.SetPosition(60);
  if (stream.Read(buffer, 4) != 4) return {};
  stream.SetPosition(LoadU32LE(buffer));
  if (stream.Read(buffer, 2) != 2) return {};
  const uint16_t signature = LoadU16LE(buffer);
  if (signature != PESignature && signature != NESignature) return {};
  return {true, signature == PESignature};
}

TModuleProbe ProbeModule(std::span<const uint8_t> bytes) {
  TModuleProbe probe;
  if (bytes.size() < 64 || LoadU16LE(bytes.data()) != DosSignature) return probe;
  const size_t newHeader = LoadU32LE(bytes.data() + 60);
  const TByteReader reader(bytes);
  if (!reader.Contains(newHeader, 2)) return probe;
  const uint16_t signature = LoadU16LE(bytes.data() + newHeader);
  if (signature == NESignature) {
    if (!reader.Contains(newHeader, 64)) return probe;
    const uint16_t resourceTable = LoadU16LE(bytes.data() + newHeader + 36);
    // The linker leaves the resource-table offset equal to the next table's when there is none.
    if (resourceTable == 0 || resourceTable == LoadU16LE(bytes.data() + newHeader + 38)) return probe;
    ProbeNEGroups(bytes, newHeader + resourceTable, probe);
  } else if (signature == PESignature) {
    ProbePE(bytes, newHeader, probe);
  }
  return probe;
}

bool ModuleHasIcons(const std::string& fileName) { return ProbeFile(fileName).HasIcons; }

int ModuleIconCount(const std::string& fileName, bool& is64Bit) {
  const TModuleProbe probe = ProbeFile(fileName);
  is64Bit = probe.Is64Bit;
  return probe.IconCount;
}

bool T32BitReader::EnumerateGroupIcons() {
  TPE64ResourceModule module;
  module.LoadFromFile(FFileName);
  for (const TResourceDetails* group : GroupsAsLoader(module)) {
    auto icon = std::make_unique<TAdvancedIcon>();
    LoadFromGroupResource(*icon, module, group->NameIsString(), group->NameText());
    FIcons.AddIcon(group->NameText(), std::move(icon));
  }
  return FIcons.Count() > 0;
}

T16BitReader::T16BitReader(const std::string& fileName)
    : TICLReader(fileName),
      FStream(std::make_unique<TFileMappingStream>(fileName)),
      FBytes(FStream->Bytes()),
      FBaseName(std::filesystem::path(fileName).stem().string()) {}

T16BitReader::T16BitReader(const std::string& baseName, std::span<const uint8_t> bytes)
    : TICLReader(baseName), FBytes(bytes), FBaseName(baseName) {}

T16BitReader::~T16BitReader() = default;

void T16BitReader::ReadTables(std::vector<std::string>& names) {
  const TByteReader file(FBytes, "Not a valid ICL File");
  if (!file.Contains(0, 2) || LoadU16LE(FBytes.data()) != DosSignature) throw EICLReadError("Not a valid ICL File");
  if (!file.Contains(60, 4) || LoadU32LE(FBytes.data() + 60) < 60) throw EICLReadError("Invalid Windows 16 Offset");
  FNEOffset = LoadU32LE(FBytes.data() + 60);
  if (!file.Contains(FNEOffset, 40) || LoadU16LE(FBytes.data() + FNEOffset) != NESignature)
    throw EICLReadError("Invalid Windows 16 Header");
  const uint16_t resourceTable = LoadU16LE(FBytes.data() + FNEOffset + 36);
  if (resourceTable == 0) throw EICLReadError("No Resources in file");
  FResourceTableOffset = FNEOffset + resourceTable;
  const uint16_t residentNames = LoadU16LE(FBytes.data() + FNEOffset + 38);
  if (residentNames == 0) throw EICLReadError("Names Table not found");
  FResidentNameTableOffset = FNEOffset + residentNames;

  TByteReader table(FBytes, "ResourceTable has an Error");
  table.Seek(FResourceTableOffset);
  FAlignShift = table.U16LE();
  // Offsets are shifted into 32-bit file positions; a wider shift cannot address this file.
  if (FAlignShift >= 32) throw EICLReadError("ResourceTable has an Error");
  bool haveIcons = false;
  bool haveGroups = false;
  while (table.Remaining() >= 2 && LoadU16LE(table.Bytes().data() + table.Offset()) != 0) {
    const uint16_t typeId = table.U16LE();
    const uint16_t count = table.U16LE();
    table.Skip(4);
    const bool icons = (typeId & 0x8000) != 0 && (typeId & 0xFF) == 3;
    const bool groups = (typeId & 0x8000) != 0 && (typeId & 0xFF) == 14;
    haveIcons = haveIcons || icons;
    haveGroups = haveGroups || groups;
    for (int i = 0; i < count; ++i) {
      TNameInfo info;
      info.Offset = table.U16LE();
      info.Length = table.U16LE();
      table.Skip(2);
      info.Id = table.U16LE();
      table.Skip(4);
      if (icons) FIconEntries.push_back(info);
      if (groups) FGroupEntries.push_back(info);
    }
  }
  if (!haveIcons || !haveGroups) throw EICLReadError("ResourceTable has an Error");

  // The resource-name strings follow the terminating type id; a file ending early ends them too.
  size_t position = table.Offset() + 2;
  while (position < FBytes.size()) {
    const size_t length = FBytes[position++];
    if (length == 0 || length > FBytes.size() - position) break;
    const auto name = FBytes.subspan(position, length);
    position += length;
    if (names.empty() && std::equal(name.begin(), name.end(), "ICL", "ICL" + 3)) continue;
    names.push_back(AnsiNameToText(name));
  }
}

std::span<const uint8_t> T16BitReader::ResourceBytes(const TNameInfo& info) const {
  // A read at the end of the file gives what is there, as the alignment padding may be cut off.
  const uint64_t offset = static_cast<uint64_t>(info.Offset) << FAlignShift;
  const uint64_t length = static_cast<uint64_t>(info.Length) << FAlignShift;
  if (offset >= FBytes.size()) return {};
  return FBytes.subspan(offset, std::min<uint64_t>(length, FBytes.size() - offset));
}

std::unique_ptr<TAdvancedIcon> T16BitReader::ReadGroup(const TNameInfo& group) {
  auto icon = std::make_unique<TAdvancedIcon>();
  try {
    const std::span<const uint8_t> groupBytes = ResourceBytes(group);
    if (groupBytes.size() < TIconDirHeader::Size) return icon;
    TMemoryStream stream(std::vector<uint8_t>(groupBytes.begin(), groupBytes.end()));
    TIconDirHeader header;
    if (!icon->ReadHeader(stream, header)) return icon;
    for (int i = 0; i < header.Count; ++i) {
      const TGroupIconEntry entry = TGroupIconEntry::Read(stream);
      const uint16_t wanted = entry.Id ^ 0x8000;
      const auto image = std::find_if(FIconEntries.begin(), FIconEntries.end(),
                                      [&](const TNameInfo& info) { return info.Id == wanted; });
      if (image == FIconEntries.end()) throw EICLReadError("Icon Resource Not Found");
      const std::span<const uint8_t> imageBytes = ResourceBytes(*image);
      if (imageBytes.empty()) continue;
      icon->Images.Add(
          std::make_unique<TICL16IconImage>(entry.Entry, std::vector<uint8_t>(imageBytes.begin(), imageBytes.end())));
    }
  } catch (...) {
    // The icon keeps the images read before the fault; the next group is read as usual.
  }
  return icon;
}

bool T16BitReader::ReadIcons() {
  std::vector<std::string> names;
  try {
    ReadTables(names);
  } catch (...) {
    return false;
  }
  const bool namesUsable = names.size() == FGroupEntries.size();
  for (size_t i = 0; i < FGroupEntries.size(); ++i) {
    const std::string name = namesUsable ? names[i] : Format("%s %.3d", FBaseName.c_str(), static_cast<int>(i + 1));
    FIcons.AddIcon(name, ReadGroup(FGroupEntries[i]));
  }
  return true;
}

bool TIconLibrary::LoadFromFile(const std::string& fileName) {
  FFileName = fileName;
  FIcons.Clear();
  bool result = false;
  const TModuleKind kind = IsModuleFile(fileName);
  FIsModule = kind.IsModule;
  FIsPEModule = kind.IsPE;
  const TModuleProbe probe = ProbeFile(fileName);
  if (FIsModule) {
    FProbedIconCount = 0;
    if (!probe.HasIcons) return false;
  }
  FProbedIconCount = probe.IconCount;
  if (!FIsModule || FProbedIconCount == 0) return false;

  if (FIsPEModule && probe.Is64Bit) {
    T32BitReader reader(fileName);
    result = reader.EnumerateGroupIcons();
    while (reader.Icons().Count() > 0) {
      const std::string name = reader.Icons().Name(0);
      FIcons.AddIcon(name, reader.Icons().Extract(0));
    }
  } else if (FIsPEModule) {
    Load32Bit(fileName);
    result = true;
  } else {
    T16BitReader reader(fileName);
    result = reader.ReadIcons();
    if (result) FIcons.Assign(reader.Icons());
  }
  if (FIcons.Count() == 0) ScanForIcons(ReadFileBytes(fileName));
  return result;
}

void TIconLibrary::Load32Bit(const std::string& fileName) {
  TPEResourceModule module;
  module.LoadFromFile(fileName);
  for (int i = 0; i < module.ResourceCount(); ++i) {
    const TResourceDetails* details = module.ResourceAt(i);
    if (details->TypeText() != "14") continue;
    auto icon = std::make_unique<TAdvancedIcon>();
    LoadFromModuleGroup(*icon, module, details->NameText());
    FIcons.AddIcon(details->NameText(), std::move(icon));
  }
}

void TIconLibrary::ScanForIcons(std::span<const uint8_t> bytes) {
  const int first = FIcons.Count();
  const size_t size = bytes.size();
  size_t p = 0;
  while (p + 500 < size) {
    const uint8_t* at = bytes.data() + p;
    const uint32_t width = LoadU32LE(at + 4);
    const uint16_t bits = LoadU16LE(at + 14);
    if (LoadU32LE(at) == 40 && IsScanWidth(width) && LoadU32LE(at + 8) == 2 * width && LoadU16LE(at + 12) == 1 &&
        IsScanDepth(bits) && LoadU32LE(at + 16) == 0 && LoadU32LE(at + 20) < size - p &&
        LoadU32LE(at + 36) <= LoadU32LE(at + 32)) {
      TIconEntry entry;
      entry.bWidth = width < 256 ? static_cast<uint8_t>(width) : 0;
      entry.bHeight = entry.bWidth;
      entry.bColorCount = at[32];
      entry.wPlanes = 1;
      entry.wBitCount = bits;
      const uint32_t imageSize = ScannedImageSize(width, bits);
      const auto image = bytes.subspan(p, std::min<size_t>(imageSize, size - p));
      try {
        auto icon = std::make_unique<TAdvancedIcon>();
        icon->Images.Add(std::make_unique<TFileIconImage>(entry, std::vector<uint8_t>(image.begin(), image.end())));
        FIcons.AddIcon("", std::move(icon));
      } catch (...) {
        // Something that only looked like an icon image.
      }
      p += imageSize;
    } else if (std::equal(std::begin(PngSignature), std::end(PngSignature), at)) {
      const size_t end = PngStreamEnd(bytes, p);
      TPNGImage png;
      png.LoadFromBytes(bytes.subspan(p, (end != 0 ? end : size) - p));
      FIcons.AddIcon("", IconFromPng(png));
      p = std::max(p + 1, (end != 0 ? end : size) - 1);
    } else {
      ++p;
    }
  }
  Regroup(bytes, first);
}

void TIconLibrary::Regroup(std::span<const uint8_t> bytes, int first) {
  const std::vector<TScannedEntry> pairs = ScanGroupDirectories(bytes);
  const int count = FIcons.Count();
  const int m = static_cast<int>(pairs.size());
  auto matches = [&](int index, int k) {
    const TSubIcon* image = FIcons.IconAt(index)->Images.Get(0);
    if (image == nullptr) return false;
    const TIconEntry& entry = image->Entry();
    return entry.bWidth == pairs[k].Width && entry.bHeight == pairs[k].Height && entry.wBitCount == pairs[k].BitCount;
  };

  int best = first;
  int bestCount = 0;
  for (int start = first; start < count; ++start) {
    int run = 0;
    while (start + run < count && run < m && matches(start + run, run)) ++run;
    if (run > bestCount) {
      best = start;
      bestCount = run;
    }
  }

  std::vector<bool> emptied(static_cast<size_t>(count), false);
  TAdvancedIcon* current = nullptr;
  int kept = 0;
  bool merged = false;
  for (int i = best; i < count; ++i) {
    const int k = i - best;
    if (k >= m || !matches(i, k)) break;
    if (k == 0 || pairs[k].Group != pairs[k - 1].Group) {
      current = FIcons.IconAt(i);
      ++kept;
    } else {
      current->Images.TakeAll(FIcons.IconAt(i));
      emptied[static_cast<size_t>(i)] = true;
      merged = true;
    }
  }
  for (int i = count - 1; i >= first; --i)
    if (emptied[static_cast<size_t>(i)]) FIcons.Delete(i);
  if (best != first)
    for (int k = 0; k < kept; ++k)
      if (best + k < FIcons.Count() && first + k < FIcons.Count()) FIcons.MoveIcon(best + k, first + k);
  if (merged)
    for (int i = first; i < FIcons.Count(); ++i) FIcons.SetName(i, Format("Icon %d", i + 1));
}

}  // namespace glyphmill
