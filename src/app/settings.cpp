#include "app/settings.h"

#include <array>

#include "platform/folders.h"

namespace glyphmill {

namespace {

constexpr const char* DestinationSection = "Destination";
constexpr const char* TransparencySection = "Transparency";
constexpr const char* LastSection = "Last";
constexpr const char* AddFolderSection = "AddFolder";

// The words of "Mode", indexed by TTransparencyMode.
constexpr std::array<const char*, 6> ModeWords{"None", "Color", "LeftTop", "LeftBottom", "RightTop", "RightBottom"};

// The size and depth boxes in the order they are stored.
struct TBoxKey {
  const char* Key;
  bool TDestinationSettings::*Field;
};
constexpr std::array<TBoxKey, 13> BoxKeys{{
    {"SZAsIs", &TDestinationSettings::FSizeAsIs},
    {"SZ16", &TDestinationSettings::FSize16},
    {"SZ24", &TDestinationSettings::FSize24},
    {"SZ32", &TDestinationSettings::FSize32},
    {"SZ48", &TDestinationSettings::FSize48},
    {"sz256", &TDestinationSettings::FSize256},
    {"SZCustom", &TDestinationSettings::FSizeCustom},
    {"BPPAsIs", &TDestinationSettings::FDepthAsIs},
    {"BPP1", &TDestinationSettings::FDepth1},
    {"BPP4", &TDestinationSettings::FDepth4},
    {"BPP8", &TDestinationSettings::FDepth8},
    {"BPP24", &TDestinationSettings::FDepth24},
    {"BPP32", &TDestinationSettings::FDepth32},
}};

std::vector<std::string> ReadList(const TIniFile& ini, const char* countKey, const std::string& itemKey,
                                  bool skipEmpty) {
  std::vector<std::string> items;
  const int count = std::min(ini.ReadInteger(AddFolderSection, countKey, 0), TAddFolderSettings::MaxRemembered);
  for (int i = 0; i < count; ++i) {
    std::string item = ini.ReadString(AddFolderSection, itemKey + std::to_string(i), "");
    if (!skipEmpty || !item.empty()) items.push_back(std::move(item));
  }
  return items;
}

void WriteList(TIniFile& ini, const char* countKey, const std::string& itemKey, const std::vector<std::string>& items) {
  ini.WriteInteger(AddFolderSection, countKey, static_cast<int>(items.size()));
  for (size_t i = 0; i < items.size(); ++i) ini.WriteString(AddFolderSection, itemKey + std::to_string(i), items[i]);
}

}  // namespace

const std::string& GetConfigFileName() {
  static const std::string fileName = SettingsFolder() + "config.ini";
  return fileName;
}

void TDestinationSettings::Load(const TIniFile& ini) {
  const int width = ini.ReadInteger(DestinationSection, "SZW", 64);
  const int height = ini.ReadInteger(DestinationSection, "SZH", 64);
  FCustomWidth = width != 0 ? width : CustomSizeStart;
  FCustomHeight = height != 0 ? height : CustomSizeStart;
  const TDestinationSettings defaults;
  for (const TBoxKey& box : BoxKeys) this->*box.Field = ini.ReadBool(DestinationSection, box.Key, defaults.*box.Field);
  FZoom = ini.ReadBool(DestinationSection, "SZZoom", false);
  FShrink = ini.ReadBool(DestinationSection, "SZShrink", true);
  FSmooth = ini.ReadBool(DestinationSection, "SZSmooth", true);
  FStoreProportions = ini.ReadBool(DestinationSection, "SZStoreProportions", true);
  FDir = ini.ReadString(DestinationSection, "Dir", "");
  FDirAsSource = ini.ReadBool(DestinationSection, "DirAsSource", false);
}

void TDestinationSettings::Save(TIniFile& ini) const {
  if (FSizeCustom) {
    ini.WriteInteger(DestinationSection, "SZW", FCustomWidth);
    ini.WriteInteger(DestinationSection, "SZH", FCustomHeight);
  }
  for (const TBoxKey& box : BoxKeys) ini.WriteBool(DestinationSection, box.Key, this->*box.Field);
  ini.WriteBool(DestinationSection, "SZZoom", FZoom);
  ini.WriteBool(DestinationSection, "SZShrink", FShrink);
  ini.WriteBool(DestinationSection, "SZSmooth", FSmooth);
  ini.WriteBool(DestinationSection, "SZStoreProportions", FStoreProportions);
  ini.WriteString(DestinationSection, "Dir", FDir);
  ini.WriteBool(DestinationSection, "DirAsSource", FDirAsSource);
}

void TTransparencySettings::Load(const TIniFile& ini) {
  FColor24 = static_cast<TColor>(ini.ReadInteger(TransparencySection, "Color24", 0xFFFFFF));
  const std::string mode = ini.ReadString(TransparencySection, "Mode", "");
  FCheckedMode = mode.empty() ? tmNone : NoModeChecked;
  for (size_t i = 0; i < ModeWords.size(); ++i)
    if (mode == ModeWords[i]) FCheckedMode = static_cast<int>(i);
}

void TTransparencySettings::Save(TIniFile& ini) const {
  ini.WriteInteger(TransparencySection, "Color24", static_cast<int>(FColor24));
  const bool known = FCheckedMode >= 0 && FCheckedMode < static_cast<int>(ModeWords.size());
  ini.WriteString(TransparencySection, "Mode", known ? ModeWords[static_cast<size_t>(FCheckedMode)] : "");
}

void TLastSettings::Load(const TIniFile& ini) {
  FAddFilesDir = ini.ReadString(LastSection, "AddFilesDir", "");
  FAddFolder = ini.ReadString(LastSection, "AddFolder", "");
}

void TLastSettings::Save(TIniFile& ini) const {
  if (!FAddFilesDir.empty()) ini.WriteString(LastSection, "AddFilesDir", FAddFilesDir);
  if (!FAddFolder.empty()) ini.WriteString(LastSection, "AddFolder", FAddFolder);
}

void TAddFolderSettings::Load(const TIniFile& ini) {
  FIncludeSubFolders = ini.ReadBool(AddFolderSection, "IncludeSubFolders", true);
  FFolders = ReadList(ini, "CntFolder", "Folder", true);
  FMasks = ReadList(ini, "CntMask", "Mask", false);
  FLastMask = ini.ReadString(AddFolderSection, "LastMask", "");
}

void TAddFolderSettings::SaveIncludeSubFolders(TIniFile& ini) const {
  ini.WriteBool(AddFolderSection, "IncludeSubFolders", FIncludeSubFolders);
}

void TAddFolderSettings::SaveHistory(TIniFile& ini) const {
  WriteList(ini, "CntFolder", "Folder", FFolders);
  WriteList(ini, "CntMask", "Mask", FMasks);
  ini.WriteString(AddFolderSection, "LastMask", FLastMask);
}

void TPageSettings::Load(const TIniFile& ini) {
  Last.Load(ini);
  AddFolder.Load(ini);
  Destination.Load(ini);
  Transparency.Load(ini);
}

void TPageSettings::Save(TIniFile& ini) const {
  Last.Save(ini);
  AddFolder.SaveIncludeSubFolders(ini);
  Destination.Save(ini);
  Transparency.Save(ini);
}

}  // namespace glyphmill
