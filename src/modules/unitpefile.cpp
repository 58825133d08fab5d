#include "modules/unitpefile.h"

#include <algorithm>
#include <unordered_set>

#include "support/byte_reader.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

constexpr uint32_t ResourceDirectoryIndex = 2;
constexpr uint32_t HighBit = 0x80000000u;
// Type, name and language: a subdirectory below the language level is never walked.
constexpr int ResourceLevels = 3;

void AppendUtf8(std::string& text, uint32_t codePoint) {
  if (codePoint < 0x80) {
    text += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    text += static_cast<char>(0xC0 | (codePoint >> 6));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    text += static_cast<char>(0xE0 | (codePoint >> 12));
    text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (codePoint >> 18));
    text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

}  // namespace

std::string WideNameToText(std::span<const uint16_t> units) {
  std::string text;
  text.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t unit = units[i];
    if (unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(text, 0xFFFD);
    } else {
      AppendUtf8(text, unit);
    }
  }
  return text;
}

std::string AnsiNameToText(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const uint8_t byte : bytes) AppendUtf8(text, byte);
  return text;
}

const std::vector<uint8_t>& TImageSection::Data() {
  if (FLoaded) return FData;
  FLoaded = true;
  if ((FHeader.Characteristics & ImageScnCntUninitializedData) != 0) return FData;
  size_t count;
  if (FHeader.SizeOfRawData < FHeader.VirtualSize) {
    count = FHeader.SizeOfRawData;
    FUninitializedDataSize = FHeader.VirtualSize - FHeader.SizeOfRawData;
  } else {
    // Some linkers leave the virtual size 0 or tiny; the raw size is then the real one.
    count = FHeader.VirtualSize < 32 ? FHeader.SizeOfRawData : FHeader.VirtualSize;
  }
  count = std::min(count, FRawBytes.size());
  FData.assign(FRawBytes.begin(), FRawBytes.begin() + static_cast<ptrdiff_t>(count));
  return FData;
}

void TPEModule::DecodeModule(std::span<const uint8_t> bytes) {
  FSections.clear();
  FOptionalHeader.clear();
  TByteReader reader(bytes, "Invalid Windows Image");
  if (bytes.size() < 2 || LoadU16LE(bytes.data()) != 0x5A4D) throw EPEException("Invalid DOS signature");
  if (bytes.size() < FDOSHeader.size()) throw EPEException("Invalid DOS signature");
  std::copy_n(bytes.begin(), FDOSHeader.size(), FDOSHeader.begin());

  const uint32_t newHeader = LoadU32LE(bytes.data() + 60);
  if (!reader.Contains(newHeader, 4) || LoadU32LE(bytes.data() + newHeader) != 0x4550)
    throw EPEException("Invalid COFF signature");
  reader.Seek(newHeader + 4);
  FCOFFHeader.Machine = reader.U16LE();
  FCOFFHeader.NumberOfSections = reader.U16LE();
  FCOFFHeader.TimeDateStamp = reader.U32LE();
  FCOFFHeader.PointerToSymbolTable = reader.U32LE();
  FCOFFHeader.NumberOfSymbols = reader.U32LE();
  FCOFFHeader.SizeOfOptionalHeader = reader.U16LE();
  FCOFFHeader.Characteristics = reader.U16LE();

  const size_t optionalStart = reader.Offset();
  if (!reader.Contains(optionalStart, 2) || !AcceptsMagic(LoadU16LE(bytes.data() + optionalStart)))
    throw EPEException("Invalid Windows Image");
  const auto optional = reader.Take(FCOFFHeader.SizeOfOptionalHeader);
  FOptionalHeader.assign(optional.begin(), optional.end());

  for (int i = 0; i < FCOFFHeader.NumberOfSections; ++i) {
    TImageSectionHeader header;
    const auto name = reader.Take(8);
    std::copy(name.begin(), name.end(), header.Name.begin());
    header.VirtualSize = reader.U32LE();
    header.VirtualAddress = reader.U32LE();
    header.SizeOfRawData = reader.U32LE();
    header.PointerToRawData = reader.U32LE();
    header.PointerToRelocations = reader.U32LE();
    header.PointerToLinenumbers = reader.U32LE();
    header.NumberOfRelocations = reader.U16LE();
    header.NumberOfLinenumbers = reader.U16LE();
    header.Characteristics = reader.U32LE();
    std::span<const uint8_t> raw;
    if (header.PointerToRawData < bytes.size())
      raw = bytes.subspan(header.PointerToRawData,
                          std::min<size_t>(header.SizeOfRawData, bytes.size() - header.PointerToRawData));
    FSections.push_back(std::make_unique<TImageSection>(header, raw));
  }
}

TPEModule::TDataDirectory TPEModule::DataDirectory(uint32_t index) const {
  // The table sits 16 bytes further into a PE32+ optional header (its image base is 64-bit).
  const bool wide = FOptionalHeader.size() >= 2 && LoadU16LE(FOptionalHeader.data()) == 0x20B;
  const size_t countOffset = wide ? 108 : 92;
  const size_t tableOffset = countOffset + 4;
  TByteReader reader(FOptionalHeader, "Index exceeds data dictionary count");
  uint32_t count = 0;
  if (reader.Contains(countOffset, 4)) count = LoadU32LE(FOptionalHeader.data() + countOffset);
  const size_t entryOffset = tableOffset + static_cast<size_t>(index) * 8;
  if (index >= count || !reader.Contains(entryOffset, 8)) throw EReadError("Index exceeds data dictionary count");
  return {LoadU32LE(FOptionalHeader.data() + entryOffset), LoadU32LE(FOptionalHeader.data() + entryOffset + 4)};
}

void TPEModule::ForgetRawBytes() {
  for (auto& section : FSections) section->ForgetRawBytes();
}

TResourceDetails* TPEResourceModule::ResourceAt(int index) const {
  if (index < 0 || index >= ResourceCount()) return nullptr;
  return FResources[static_cast<size_t>(index)].get();
}

int TPEResourceModule::AddResource(std::unique_ptr<TResourceDetails> details) {
  FResources.push_back(std::move(details));
  return ResourceCount() - 1;
}

int TPEResourceModule::IndexOfResource(const TResourceDetails* details) const {
  for (size_t i = 0; i < FResources.size(); ++i)
    if (FResources[i].get() == details) return static_cast<int>(i);
  return -1;
}

void TPEResourceModule::LoadFromFile(const std::string& fileName) {
  std::unique_ptr<TFileMappingStream> stream;
  try {
    stream = std::make_unique<TFileMappingStream>(fileName);
  } catch (const EStreamError&) {
    return;
  }
  if (stream->Size() == 0) return;
  try {
    DecodeModule(stream->Bytes());
  } catch (...) {
    // Callers only see fewer resources; what the walk found before the fault stays.
  }
  ForgetRawBytes();
}

void TPEResourceModule::DecodeModule(std::span<const uint8_t> bytes) {
  FResources.clear();
  FDataOutsideResourceSection = false;
  TPEModule::DecodeModule(bytes);
  const TDataDirectory directory = DataDirectory(ResourceDirectoryIndex);
  for (int i = 0; i < SectionCount(); ++i) {
    if (Section(i).Header().VirtualAddress == directory.VirtualAddress) {
      // Each resource holds its own copy; a hostile tree sharing one huge data entry among many
      // entries must not multiply the file into memory without end.
      const uint64_t budget = 16 * static_cast<uint64_t>(bytes.size()) + (1u << 20);
      WalkResources(i, budget);
      return;
    }
  }
}

void TPEResourceModule::WalkResources(int sectionIndex, uint64_t budget) {
  TImageSection& resourceSection = Section(sectionIndex);
  const std::vector<uint8_t>& data = resourceSection.Data();
  const uint32_t sectionAddress = resourceSection.Header().VirtualAddress;
  TByteReader reader(data, "Resource directory out of bounds");
  std::unordered_set<uint32_t> visited;
  // Overlapping name strings could otherwise make the walk quadratic in the section size.
  uint64_t nameBudget = 4 * static_cast<uint64_t>(data.size()) + 65536;

  struct TPath {
    std::string TypeText;
    std::string NameText;
    bool NameIsString = false;
    uint32_t LanguageId = 0;
  } path;

  auto located = [&](uint32_t address, uint32_t size) -> std::span<const uint8_t> {
    const uint32_t d = address - sectionAddress;
    if (d < data.size()) return std::span<const uint8_t>(data).subspan(d, std::min<size_t>(size, data.size() - d));
    FDataOutsideResourceSection = true;
    for (int i = 0; i < SectionCount(); ++i) {
      TImageSection& section = Section(i);
      const uint64_t start = section.Header().VirtualAddress;
      if (start > address || start + section.Header().SizeOfRawData <= address) continue;
      const std::vector<uint8_t>& other = section.Data();
      const uint64_t offset = address - start;
      if (offset < other.size())
        return std::span<const uint8_t>(other).subspan(offset, std::min<size_t>(size, other.size() - offset));
    }
    return {};
  };

  auto addResource = [&](uint32_t entryOffset, uint32_t characteristics, uint32_t dataVersion) {
    if (!reader.Contains(entryOffset, 16)) return;
    const uint32_t address = LoadU32LE(data.data() + entryOffset);
    const uint32_t size = LoadU32LE(data.data() + entryOffset + 4);
    const uint32_t codePage = LoadU32LE(data.data() + entryOffset + 8);
    const std::span<const uint8_t> bytes = located(address, size);
    if (bytes.data() == nullptr) return;
    if (bytes.size() > budget) throw EPEException("Resource data exceeds the module");
    budget -= bytes.size();
    auto details = CreateResourceDetails(this, path.LanguageId, path.NameText, path.TypeText, bytes);
    details->SetNameIsString(path.NameIsString);
    details->SetCodePage(codePage);
    details->SetCharacteristics(characteristics);
    details->SetDataVersion(dataVersion);
    AddResource(std::move(details));
  };

  auto walk = [&](auto& self, uint32_t offset, int level) -> void {
    if (!reader.Contains(offset, 16) || !visited.insert(offset).second) return;
    const uint8_t* header = data.data() + offset;
    const uint32_t characteristics = LoadU32LE(header);
    const uint32_t dataVersion = (static_cast<uint32_t>(LoadU16LE(header + 8)) << 16) + LoadU16LE(header + 10);
    const uint32_t namedCount = LoadU16LE(header + 12);
    const uint32_t entryCount = namedCount + LoadU16LE(header + 14);
    for (uint32_t i = 0; i < entryCount; ++i) {
      const uint64_t entryOffset = offset + 16 + 8 * static_cast<uint64_t>(i);
      if (!reader.Contains(entryOffset, 8)) return;
      const uint32_t name = LoadU32LE(data.data() + entryOffset);
      const uint32_t target = LoadU32LE(data.data() + entryOffset + 4);
      const bool named = i < namedCount;
      if (level == 2) {
        if (named) throw EPEException("Unsupported non-integer language ID in resource");
        path.LanguageId = name;
      } else {
        std::string text;
        if (named) {
          const uint32_t nameOffset = name & ~HighBit;
          if (!reader.Contains(nameOffset, 2)) continue;
          const size_t length = LoadU16LE(data.data() + nameOffset);
          if (!reader.Contains(nameOffset + 2, length * 2)) continue;
          if (length > nameBudget) throw EPEException("Resource names exceed the module");
          nameBudget -= length;
          std::vector<uint16_t> units(length);
          for (size_t k = 0; k < length; ++k) units[k] = LoadU16LE(data.data() + nameOffset + 2 + 2 * k);
          text = WideNameToText(units);
        } else {
          text = std::to_string(name);
        }
        if (level == 0) {
          path.TypeText = std::move(text);
        } else {
          path.NameText = std::move(text);
          path.NameIsString = named;
        }
      }
      const bool isDirectory = (target & HighBit) != 0;
      if (isDirectory && level + 1 < ResourceLevels)
        self(self, target & ~HighBit, level + 1);
      else if (!isDirectory && level == ResourceLevels - 1)
        addResource(target, characteristics, dataVersion);
    }
  };
  walk(walk, 0, 0);
}

TResourceDetails* TPE64ResourceModule::FindResourceAsLoader(const std::string& typeText, bool nameIsString,
                                                            const std::string& nameText) const {
  TResourceDetails* first = nullptr;
  for (int i = 0; i < ResourceCount(); ++i) {
    TResourceDetails* details = ResourceAt(i);
    if (details->TypeText() != typeText || details->NameIsString() != nameIsString || details->NameText() != nameText)
      continue;
    if (details->LanguageId() == 0) return details;
    if (first == nullptr) first = details;
  }
  return first;
}

}  // namespace glyphmill
