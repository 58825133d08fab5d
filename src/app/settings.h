// The settings file config.ini: where it lives, and the stored choices of the wizard pages as
// plain records, one per section. The command line reads them exactly as the wizard does and
// never writes them.
#pragma once

#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/inifile.h"

namespace glyphmill {

// The full name of config.ini in the settings folder; worked out once and cached for the process.
const std::string& GetConfigFileName();

// Section "Destination": the destination page (sizes, depths, fitting, folder).
struct TDestinationSettings {
  // Starting value of the custom size boxes, kept when the file stores 0.
  static constexpr int CustomSizeStart = 768;

  std::string FDir;
  int FCustomWidth = 64;
  int FCustomHeight = 64;
  bool FSizeAsIs = false;
  bool FSize16 = true;
  bool FSize24 = false;
  bool FSize32 = true;
  bool FSize48 = true;
  bool FSize256 = true;
  bool FSizeCustom = false;
  bool FDepthAsIs = false;
  bool FDepth1 = false;
  bool FDepth4 = false;
  bool FDepth8 = false;
  bool FDepth24 = false;
  bool FDepth32 = true;
  bool FZoom = false;
  bool FShrink = true;
  bool FSmooth = true;
  bool FStoreProportions = true;
  bool FDirAsSource = false;
  // Not stored: every program start begins with both on.
  bool FOverwrite = true;
  bool FPackLargeImages = true;

  void Load(const TIniFile& ini);
  // The custom size is written only while its box is checked, so an unchecked box keeps the stored one.
  void Save(TIniFile& ini) const;
};

// The radio buttons of the transparency page, in the order a run reads them.
enum TTransparencyMode : int {
  tmNone = 0,
  tmColor = 1,
  tmLeftTop = 2,
  tmLeftBottom = 3,
  tmRightTop = 4,
  tmRightBottom = 5,
};

// Section "Transparency": the transparency page.
struct TTransparencySettings {
  // FCheckedMode when the stored "Mode" matched no button: none is checked.
  static constexpr int NoModeChecked = -1;

  TColor FColor24 = 0xFFFFFF;
  int FCheckedMode = tmNone;

  // "Mode" is compared case-sensitively; an unknown word leaves no button checked.
  void Load(const TIniFile& ini);
  void Save(TIniFile& ini) const;
};

// Section "Last": folders the source files page and the add-files dialog remember.
struct TLastSettings {
  std::string FAddFilesDir;
  std::string FAddFolder;

  void Load(const TIniFile& ini);
  // Each key is written only when its value is not empty.
  void Save(TIniFile& ini) const;
};

// Section "AddFolder": the add-folder dialog's memory.
struct TAddFolderSettings {
  // Upper bound on remembered folders and masks read back, so a damaged count cannot stall start-up.
  static constexpr int MaxRemembered = 256;

  bool FIncludeSubFolders = true;
  std::vector<std::string> FFolders;  // newest first
  std::vector<std::string> FMasks;    // typed by the user
  std::string FLastMask;

  void Load(const TIniFile& ini);
  // Written with the source files page's settings after a wizard run.
  void SaveIncludeSubFolders(TIniFile& ini) const;
  // Written when the add-folder dialog closes with OK.
  void SaveHistory(TIniFile& ini) const;
};

// Everything the pages store, read as if every page had been created.
struct TPageSettings {
  TLastSettings Last;
  TAddFolderSettings AddFolder;
  TDestinationSettings Destination;
  TTransparencySettings Transparency;

  void Load(const TIniFile& ini);
  // The pages' own keys in page creation order (source files, destination, transparency).
  void Save(TIniFile& ini) const;
};

}  // namespace glyphmill
