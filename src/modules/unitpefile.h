// Portable Executable modules: the decoded headers and sections of a module, and the module's
// resource tree flattened into an ordered list of resources (type, name, language, bytes).
// 32-bit modules (PE32) are read by TPEResourceModule; TPE64ResourceModule applies the same walk
// to 64-bit modules (PE32+) and answers group lookups the way the Windows loader would.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "modules/unitresourcedetails.h"
#include "support/errors.h"

namespace glyphmill {

// An error while decoding a module; it carries a message only.
class EPEException : public EReadError {
public:
  using EReadError::EReadError;
};

struct TImageFileHeader {
  uint16_t Machine = 0;
  uint16_t NumberOfSections = 0;
  uint32_t TimeDateStamp = 0;
  uint32_t PointerToSymbolTable = 0;
  uint32_t NumberOfSymbols = 0;
  uint16_t SizeOfOptionalHeader = 0;
  uint16_t Characteristics = 0;
};

struct TImageSectionHeader {
  std::array<char, 8> Name{};
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t SizeOfRawData = 0;
  uint32_t PointerToRawData = 0;
  uint32_t PointerToRelocations = 0;
  uint32_t PointerToLinenumbers = 0;
  uint16_t NumberOfRelocations = 0;
  uint16_t NumberOfLinenumbers = 0;
  uint32_t Characteristics = 0;
};

inline constexpr uint32_t ImageScnCntUninitializedData = 0x80;

// One section: its header, its raw bytes in the module's file image (cut at the end of the file)
// and its data, copied from them the first time it is asked for.
class TImageSection {
public:
  TImageSection(const TImageSectionHeader& header, std::span<const uint8_t> rawBytes)
      : FHeader(header), FRawBytes(rawBytes) {}

  const TImageSectionHeader& Header() const { return FHeader; }
  const std::vector<uint8_t>& Data();
  bool Loaded() const { return FLoaded; }
  uint32_t UninitializedDataSize() const { return FUninitializedDataSize; }
  // The file image goes away after loading; data already copied stays.
  void ForgetRawBytes() { FRawBytes = {}; }

private:
  TImageSectionHeader FHeader;
  std::span<const uint8_t> FRawBytes;
  bool FLoaded = false;
  std::vector<uint8_t> FData;
  uint32_t FUninitializedDataSize = 0;
};

// A decoded module: DOS header, file header, the optional header kept whole and the sections.
class TPEModule : public TResourceModule {
public:
  // Decodes the headers; raises EPEException on a module this class does not read.
  virtual void DecodeModule(std::span<const uint8_t> bytes);

  const std::array<uint8_t, 64>& DOSHeader() const { return FDOSHeader; }
  const TImageFileHeader& COFFHeader() const { return FCOFFHeader; }
  const std::vector<uint8_t>& OptionalHeader() const { return FOptionalHeader; }
  int SectionCount() const { return static_cast<int>(FSections.size()); }
  TImageSection& Section(int index) { return *FSections[static_cast<size_t>(index)]; }

  // Entry index of the data-directory table as (relative virtual address, size); an index beyond
  // the table raises "Index exceeds data dictionary count".
  struct TDataDirectory {
    uint32_t VirtualAddress = 0;
    uint32_t Size = 0;
  };
  TDataDirectory DataDirectory(uint32_t index) const;

protected:
  // The optional-header magic this class reads: 0x10B (PE32).
  virtual bool AcceptsMagic(uint16_t magic) const { return magic == 0x10B; }
  void ForgetRawBytes();

private:
  std::array<uint8_t, 64> FDOSHeader{};
  TImageFileHeader FCOFFHeader;
  std::vector<uint8_t> FOptionalHeader;
  std::vector<std::unique_ptr<TImageSection>> FSections;
};

// A module's resources, in the order the walk of its resource tree found them.
class TPEResourceModule : public TPEModule {
public:
  int ResourceCount() const override { return static_cast<int>(FResources.size()); }
  TResourceDetails* ResourceAt(int index) const override;
  int AddResource(std::unique_ptr<TResourceDetails> details) override;
  int IndexOfResource(const TResourceDetails* details) const override;

  // Decodes the file's mapped bytes; every decoding error is swallowed and the resources found
  // before it remain. A file that cannot be opened gives an empty module.
  void LoadFromFile(const std::string& fileName) override;
  // Decodes headers and walks the resource tree; errors pass to the caller.
  void DecodeModule(std::span<const uint8_t> bytes) override;

  // Set when some resource's data lies outside the resource section.
  bool HasDataOutsideResourceSection() const { return FDataOutsideResourceSection; }

private:
  void WalkResources(int sectionIndex, uint64_t budget);

  std::vector<std::unique_ptr<TResourceDetails>> FResources;
  bool FDataOutsideResourceSection = false;
};

// The same reader for 64-bit modules (optional-header magic 0x20B).
class TPE64ResourceModule : public TPEResourceModule {
public:
  // The resource a data-file load of the module would give for this type and name: the
  // language-neutral variant, else the first one in directory order.
  TResourceDetails* FindResourceAsLoader(const std::string& typeText, bool nameIsString,
                                         const std::string& nameText) const;

protected:
  bool AcceptsMagic(uint16_t magic) const override { return magic == 0x20B; }
};

// Text of a resource name stored as UTF-16 units: UTF-8, ending at the first NUL; units that are not
// valid UTF-16 become U+FFFD.
std::string WideNameToText(std::span<const uint16_t> units);
// Text of a name stored as ANSI bytes (16-bit modules, DCR files): Latin-1 read as UTF-8.
std::string AnsiNameToText(std::span<const uint8_t> bytes);

}  // namespace glyphmill
