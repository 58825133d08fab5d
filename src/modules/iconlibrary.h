// Icon libraries: the named icons of a module or icon library file. Decides by content what a file
// is (PE32, PE32+ or NE module), reads it with the matching reader, and when a module that claims
// icons yields none, recovers them with a byte scan of the whole file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "icons/iconlist.h"
#include "icons/subicon.h"
#include "support/errors.h"

namespace glyphmill {

// An error of the 16-bit reader; it never leaves ReadIcons.
class EICLReadError : public EReadError {
public:
  using EReadError::EReadError;
};

struct TModuleKind {
  bool IsModule = false;
  bool IsPE = false;
};

// A DOS header followed by a PE or NE signature. A file that cannot be opened throws EStreamError.
TModuleKind IsModuleFile(const std::string& fileName);

// The module probe: headers only, over the file's mapped bytes (a file that cannot be opened has none).
struct TModuleProbe {
  bool HasIcons = false;
  // Icon groups (every language variant of a 32-bit module's groups); -1 without a resource table.
  int IconCount = -1;
  bool Is64Bit = false;
};
TModuleProbe ProbeModule(std::span<const uint8_t> bytes);
bool ModuleHasIcons(const std::string& fileName);
int ModuleIconCount(const std::string& fileName, bool& is64Bit);

// An image of a 16-bit module.
class TICL16IconImage : public TSubIcon {
public:
  using TSubIcon::TSubIcon;
};

// Base of the module readers: a file and the named icons read from it.
class TICLReader {
public:
  explicit TICLReader(std::string fileName) : FFileName(std::move(fileName)) {}
  virtual ~TICLReader() = default;
  TICLReader(const TICLReader&) = delete;
  TICLReader& operator=(const TICLReader&) = delete;

  const std::string& FileName() const { return FFileName; }
  TIconList& Icons() { return FIcons; }
  // Fills Icons(); true on success.
  virtual bool ReadIcons() = 0;

protected:
  std::string FFileName;
  TIconList FIcons;
};

// The loader path for modules the 32-bit decode does not take (64-bit modules): the icon groups in
// directory order, each assembled as the Windows loader resolves it.
class T32BitReader : public TICLReader {
public:
  using TICLReader::TICLReader;
  bool ReadIcons() override { return EnumerateGroupIcons(); }
  // True when at least one group was listed. A group naming a missing image throws.
  bool EnumerateGroupIcons();
};

// NE modules and classic ICL files. Names come from the resource-name strings when there is one
// per icon group, else "base 001", "base 002", ...
class T16BitReader : public TICLReader {
public:
  // Opens the file (EStreamError when it cannot be opened).
  explicit T16BitReader(const std::string& fileName);
  // Over bytes already in memory; baseName stands for the file's base name.
  T16BitReader(const std::string& baseName, std::span<const uint8_t> bytes);
  ~T16BitReader() override;

  bool ReadIcons() override;

private:
  struct TNameInfo {
    uint16_t Offset = 0;
    uint16_t Length = 0;
    uint16_t Id = 0;
  };
  void ReadTables(std::vector<std::string>& names);
  std::span<const uint8_t> ResourceBytes(const TNameInfo& info) const;
  std::unique_ptr<TAdvancedIcon> ReadGroup(const TNameInfo& group);

  std::unique_ptr<class TFileMappingStream> FStream;
  std::span<const uint8_t> FBytes;
  std::string FBaseName;
  uint16_t FAlignShift = 0;
  uint32_t FNEOffset = 0;
  uint32_t FResourceTableOffset = 0;
  uint32_t FResidentNameTableOffset = 0;
  std::vector<TNameInfo> FIconEntries;
  std::vector<TNameInfo> FGroupEntries;
};

class TIconLibrary {
public:
  TIconLibrary() = default;
  TIconLibrary(const TIconLibrary&) = delete;
  TIconLibrary& operator=(const TIconLibrary&) = delete;

  // Clears, then reads the file by its content. True when a module reader succeeded; callers that
  // only want the icons look at Icons().
  bool LoadFromFile(const std::string& fileName);
  // Recovers icon images (DIB headers and PNG streams) from raw bytes and regroups them by the
  // icon-group directories found among the same bytes; appends to Icons().
  void ScanForIcons(std::span<const uint8_t> bytes);
  void Clear() { FIcons.Clear(); }

  const std::string& FileName() const { return FFileName; }
  bool IsModule() const { return FIsModule; }
  bool IsPEModule() const { return FIsPEModule; }
  int ProbedIconCount() const { return FProbedIconCount; }
  TIconList& Icons() { return FIcons; }
  const TIconList& Icons() const { return FIcons; }

private:
  void Load32Bit(const std::string& fileName);
  void Regroup(std::span<const uint8_t> bytes, int first);

  std::string FFileName;
  bool FIsModule = false;
  bool FIsPEModule = false;
  int FProbedIconCount = 0;
  TIconList FIcons;
};

}  // namespace glyphmill
