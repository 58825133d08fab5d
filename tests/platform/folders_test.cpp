#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/folders.h"
#include "test_support.h"

namespace glyphmill {
namespace {

TEST(Folders, TrailingSeparators) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      // name, AddTrailingBackslash, RemoveTrailingBackslash
      {"", "", ""},     {"/", "/", "/"},     {"/tmp", "/tmp/", "/tmp"}, {"/tmp/", "/tmp/", "/tmp"},
      {"a", "a/", "a"}, {"C:", "C:/", "C:"},
  };
  for (const auto& [name, added, removed] : cases) {
    EXPECT_EQ(AddTrailingBackslash(name), added) << name;
    EXPECT_EQ(RemoveTrailingBackslash(name), removed) << name;
  }
}

TEST(Folders, ProgramFolderHoldsTheRunningProgram) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "tests_platform"));
}

TEST(Folders, LongPathNameMakesNamesAbsolute) {
  EXPECT_EQ(LongPathName("/no/such/file.png"), "/no/such/file.png");
  EXPECT_EQ(LongPathName("x.png"), (std::filesystem::current_path() / "x.png").string());
}

TEST(Folders, MasksIgnoreLetterCase) {
  const std::vector<std::tuple<const char*, const char*, bool>> cases = {
      {"photo.PNG", "*.png", true},
      {"photo.png", "*.PnG", true},
      {"photo.png.bak", "*.png", false},
      {"a.png", "?.png", true},
      {"ab.png", "?.png", false},
      {"noext", "*.*", true},
      {"x", "*", true},
      {"", "*", true},
      {"abcabd", "*abd", true},
      {"ÄÖ.png", "??.png", true},
      {"ä.png", "Ä.png", false},
      {"icon-1.ico", "icon-?.ICO", true},
  };
  for (const auto& [name, mask, matches] : cases) EXPECT_EQ(MatchesMask(name, mask), matches) << name << " ~ " << mask;
}

TEST(Folders, FindFilesListsMatchingFilesOnly) {
  test::TTempDir dir;
  for (const char* name : {"a.png", "B.PNG", "c.jpg", ".hidden.png"}) test::WriteAll(dir / name, {1});
  std::filesystem::create_directory(dir / "sub.png");
  std::vector<std::string> found = FindFilesInFolder(dir.Path().string() + "/", "*.png");
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{".hidden.png", "B.PNG", "a.png"}));
  EXPECT_TRUE(FindFilesInFolder((dir / "missing").string(), "*").empty());
}

TEST(Folders, SettingsFolderFollowsTheConfigHome) {
  test::TTempDir dir;
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedConfig = oldConfig ? oldConfig : "", savedHome = oldHome ? oldHome : "";
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(SettingsFolder(), dir.Path().string() + "/Brightfold/Glyphmill/");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Brightfold" / "Glyphmill"));
  // Without a config home, $HOME/.config when it exists, else the program folder.
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", (dir / "home").c_str(), 1);
  EXPECT_EQ(SettingsFolder(), ProgramFolder());
  std::filesystem::create_directories(dir / "home" / ".config");
  EXPECT_EQ(SettingsFolder(), (dir / "home" / ".config").string() + "/Brightfold/Glyphmill/");
  if (oldConfig) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
  setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace glyphmill
