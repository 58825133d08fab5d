#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/conversionoptions.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::ReadText;
using test::TTempDir;
using test::WriteText;

TConversionOptions OptionsFromFile(const std::filesystem::path& path) {
  TPageSettings settings;
  settings.Load(TIniFile(path.string()));
  TConversionOptions options;
  OptionsFromSettings(settings, options);
  return options;
}

TEST(SettingsTest, DefaultsWithoutASettingsFile) {
  TTempDir temp;
  TPageSettings settings;
  settings.Load(TIniFile((temp / "config.ini").string()));
  EXPECT_EQ(settings.Destination.FCustomWidth, 64);
  EXPECT_EQ(settings.Destination.FCustomHeight, 64);
  EXPECT_TRUE(settings.AddFolder.FIncludeSubFolders);
  EXPECT_EQ(settings.Transparency.FColor24, 0xFFFFFFu);
  EXPECT_EQ(settings.Transparency.FCheckedMode, tmNone);

  TConversionOptions options;
  OptionsFromSettings(settings, options);
  EXPECT_EQ(options.FWidths.ToVector(), (std::vector<int32_t>{16, 32, 48, 256}));
  EXPECT_EQ(options.FHeights.ToVector(), (std::vector<int32_t>{16, 32, 48, 256}));
  EXPECT_EQ(options.FDepths.ToVector(), std::vector<int32_t>{32});
  EXPECT_FALSE(options.ZoomToFit);
  EXPECT_TRUE(options.ShrinkToFit);
  EXPECT_TRUE(options.KeepProportions);
  EXPECT_TRUE(options.Smooth);
  EXPECT_TRUE(options.Overwrite);
  EXPECT_TRUE(options.PngLargeImages);
  EXPECT_EQ(options.TransparencyMode, tmNone);
  EXPECT_EQ(options.TransparentColor, NoColor);
  EXPECT_EQ(options.DestFolder, "");
  EXPECT_FALSE(std::filesystem::exists(temp / "config.ini")) << "reading never writes";
}

TEST(SettingsTest, KeysInAnyLetterCaseAndTheBoxOrder) {
  TTempDir temp;
  WriteText(temp / "config.ini",
            "[destination]\r\nszasis=1\r\nSz16=0\r\nSZ256=0\r\nszcustom=1\r\nSZW=100\r\nszh=0\r\n"
            "bpp1=1\r\nBpp32=0\r\nbppasis=1\r\nszzoom=1\r\nSZSMOOTH=0\r\ndir=/icons\r\n"
            "[TRANSPARENCY]\r\ncolor24=255\r\nMODE=Color\r\n");
  const TConversionOptions options = OptionsFromFile(temp / "config.ini");
  EXPECT_EQ(options.FWidths.ToVector(), (std::vector<int32_t>{0, 32, 48, 100}));
  EXPECT_EQ(options.FHeights.ToVector(), (std::vector<int32_t>{0, 32, 48, 768})) << "a stored 0 keeps the start value";
  EXPECT_EQ(options.FDepths.ToVector(), (std::vector<int32_t>{0, 1}));
  EXPECT_TRUE(options.ZoomToFit);
  EXPECT_FALSE(options.Smooth);
  EXPECT_EQ(options.DestFolder, "/icons/");
  EXPECT_EQ(options.TransparencyMode, tmColor);
  EXPECT_EQ(options.TransparentColor, 255u);
}

TEST(SettingsTest, TransparencyModeWords) {
  const std::pair<const char*, int> cases[] = {
      {"None", tmNone},
      {"", tmNone},
      {"Color", tmColor},
      {"LeftTop", tmLeftTop},
      {"LeftBottom", tmLeftBottom},
      {"RightTop", tmRightTop},
      {"RightBottom", tmRightBottom},
      {"color", TTransparencySettings::NoModeChecked},
      {"lefttop", TTransparencySettings::NoModeChecked},
  };
  TTempDir temp;
  for (const auto& [word, mode] : cases) {
    WriteText(temp / "config.ini", std::string("[Transparency]\nColor24=255\nMode=") + word + "\n");
    TTransparencySettings settings;
    settings.Load(TIniFile((temp / "config.ini").string()));
    EXPECT_EQ(settings.FCheckedMode, mode) << word;
    const TConversionOptions options = OptionsFromFile(temp / "config.ini");
    EXPECT_EQ(options.TransparencyMode, mode < 0 ? tmNone : mode) << word;
    EXPECT_EQ(options.TransparentColor, mode == tmColor ? 255u : NoColor) << word;
  }
}

TEST(SettingsTest, SaveKeepsTheCustomSizeWhileItsBoxIsUnchecked) {
  TTempDir temp;
  const std::string fileName = (temp / "config.ini").string();
  WriteText(fileName, "[Destination]\nSZW=300\nSZH=200\n");
  TIniFile ini(fileName);
  TDestinationSettings destination;
  destination.Load(ini);
  destination.FCustomWidth = 5;
  destination.Save(ini);
  EXPECT_EQ(ini.ReadInteger("Destination", "SZW", 0), 300);
  EXPECT_NE(ReadText(fileName).find("sz256=1"), std::string::npos) << "sz256 is written in lower case";

  destination.FSizeCustom = true;
  destination.Save(ini);
  EXPECT_EQ(ini.ReadInteger("Destination", "SZW", 0), 5);
  EXPECT_EQ(ini.ReadInteger("Destination", "SZH", 0), 200);
}

TEST(SettingsTest, RoundTripOfEverySection) {
  TTempDir temp;
  TIniFile ini((temp / "config.ini").string());
  TPageSettings saved;
  saved.Last.FAddFilesDir = "/pictures";
  saved.Last.FAddFolder = "/icons";
  saved.AddFolder.FIncludeSubFolders = false;
  saved.AddFolder.FFolders = {"/b", "/a"};
  saved.AddFolder.FMasks = {"*.xyz"};
  saved.AddFolder.FLastMask = "*.xyz";
  saved.Destination.FDir = "/out";
  saved.Destination.FSize24 = true;
  saved.Destination.FDepth8 = true;
  saved.Destination.FDirAsSource = true;
  saved.Transparency.FColor24 = 0x123456;
  saved.Transparency.FCheckedMode = tmRightBottom;
  saved.Save(ini);
  saved.AddFolder.SaveHistory(ini);

  TPageSettings loaded;
  loaded.Load(ini);
  EXPECT_EQ(loaded.Last.FAddFilesDir, "/pictures");
  EXPECT_EQ(loaded.Last.FAddFolder, "/icons");
  EXPECT_FALSE(loaded.AddFolder.FIncludeSubFolders);
  EXPECT_EQ(loaded.AddFolder.FFolders, saved.AddFolder.FFolders);
  EXPECT_EQ(loaded.AddFolder.FMasks, saved.AddFolder.FMasks);
  EXPECT_EQ(loaded.AddFolder.FLastMask, "*.xyz");
  EXPECT_EQ(loaded.Destination.FDir, "/out");
  EXPECT_TRUE(loaded.Destination.FSize24);
  EXPECT_TRUE(loaded.Destination.FDepth8);
  EXPECT_TRUE(loaded.Destination.FDirAsSource);
  EXPECT_EQ(loaded.Transparency.FColor24, 0x123456u);
  EXPECT_EQ(loaded.Transparency.FCheckedMode, tmRightBottom);

  TConversionOptions options;
  OptionsFromSettings(loaded, options);
  EXPECT_EQ(options.DestFolder, "") << "saving beside the source wins over the stored folder";
}

TEST(SettingsTest, EmptyLastValuesAreNotWrittenAndHugeCountsAreBounded) {
  TTempDir temp;
  const std::string fileName = (temp / "config.ini").string();
  WriteText(fileName, "[Last]\nAddFolder=/kept\n[AddFolder]\nCntFolder=2000000000\nFolder0=/x\nFolder1=\nFolder2=/y\n");
  TIniFile ini(fileName);
  TLastSettings().Save(ini);
  EXPECT_EQ(ini.ReadString("Last", "AddFolder", ""), "/kept");
  TAddFolderSettings addFolder;
  addFolder.Load(ini);
  EXPECT_EQ(addFolder.FFolders, (std::vector<std::string>{"/x", "/y"}));
}

}  // namespace
}  // namespace glyphmill
