#include <gtest/gtest.h>

#include "platform/inifile.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::WriteText;

std::string Text(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(IniFile, RoundTripsIgnoringLetterCase) {
  test::TTempDir dir;
  TIniFile ini((dir / "config.ini").string());
  ini.WriteString("Destination", "Folder", "/tmp/icons");
  ini.WriteInteger("Destination", "Count", -42);
  ini.WriteBool("Transparency", "Smooth", true);
  ini.WriteBool("Transparency", "Zoom", false);
  EXPECT_EQ(ini.ReadString("DESTINATION", "folder", "x"), "/tmp/icons");
  EXPECT_EQ(ini.ReadInteger("destination", "COUNT", 0), -42);
  EXPECT_TRUE(ini.ReadBool("transparency", "smooth", false));
  EXPECT_FALSE(ini.ReadBool("TRANSPARENCY", "ZOOM", true));
  // A write in other letter case replaces the value and keeps the spelling already in the file.
  ini.WriteString("destination", "FOLDER", "/other");
  EXPECT_EQ(Text(dir / "config.ini"), "[Destination]\nFolder=/other\nCount=-42\n\n[Transparency]\nSmooth=1\nZoom=0\n");
  // A second object over the same file sees every write at once.
  EXPECT_EQ(TIniFile((dir / "config.ini").string()).ReadString("Destination", "Folder", ""), "/other");
}

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
  test::TTempDir dir;
  TIniFile ini((dir / "none.ini").string());
  EXPECT_EQ(ini.ReadString("A", "B", "default"), "default");
  EXPECT_EQ(ini.ReadInteger("A", "B", 7), 7);
  EXPECT_TRUE(ini.ReadBool("A", "B", true));
  EXPECT_FALSE(ini.SectionExists("A"));
  EXPECT_TRUE(ini.ReadSection("A").empty());
  ini.DeleteKey("A", "B");
  ini.EraseSection("A");
  EXPECT_FALSE(std::filesystem::exists(dir / "none.ini"));
}

TEST(IniFile, ReadsIntegersLeniently) {
  test::TTempDir dir;
  WriteText(dir / "n.ini",
            "[n]\ndec= 12 \nneg=-7\nplus=+5\nhex=$1F\nhex0x=0x10\nhexx=x20\nwrap=$FFFFFFFF\nmin=-2147483648\n"
            "big=2147483648\ntext=12a\nempty=\nspace=1 2\nfloat=1.5\n");
  TIniFile ini((dir / "n.ini").string());
  const std::vector<std::pair<const char*, int>> cases = {
      {"dec", 12},        {"neg", -7}, {"plus", 5},  {"hex", 31},   {"hex0x", 16}, {"hexx", 32},  {"wrap", -1},
      {"min", INT32_MIN}, {"big", 99}, {"text", 99}, {"empty", 99}, {"space", 99}, {"float", 99}, {"missing", 99}};
  for (const auto& [key, value] : cases) EXPECT_EQ(ini.ReadInteger("N", key, 99), value) << key;
  EXPECT_TRUE(ini.ReadBool("n", "hex", false));
  EXPECT_TRUE(ini.ReadBool("n", "text", true));
}

TEST(IniFile, ParsesHandWrittenFiles) {
  test::TTempDir dir;
  WriteText(
      dir / "h.ini",
      "\xEF\xBB\xBF; comment\r\n[ Last ]\r\n  Name = \"quoted value\" \r\nbare\r\n;x=1\r\n\r\n[Other]\r\nName=2\r\n"
      "[last]\r\nName=duplicate section\r\n");
  TIniFile ini((dir / "h.ini").string());
  EXPECT_EQ(ini.ReadString("last", "name", ""), "quoted value");
  EXPECT_EQ(ini.ReadSection("LAST"), (std::vector<std::string>{"Name", "bare"}));
  EXPECT_TRUE(ini.ValueExists("Last", "BARE"));
  EXPECT_FALSE(ini.ValueExists("Last", "x"));
  ini.WriteString("Other", "New", "v");
  EXPECT_EQ(Text(dir / "h.ini"),
            "\xEF\xBB\xBF; comment\n[ Last ]\n  Name = \"quoted value\" \nbare\n;x=1\n\n[Other]\nName=2\nNew=v\n"
            "[last]\nName=duplicate section\n");
}

TEST(IniFile, DeletesKeysAndSections) {
  test::TTempDir dir;
  WriteText(dir / "d.ini", "[A]\nx=1\ny=2\n[B]\nz=3\n[a]\nw=4\n");
  TIniFile ini((dir / "d.ini").string());
  ini.DeleteKey("a", "X");
  EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"y"}));
  ini.EraseSection("a");
  EXPECT_FALSE(ini.SectionExists("A"));
  EXPECT_EQ(ini.ReadString("A", "w", "gone"), "gone");
  EXPECT_EQ(Text(dir / "d.ini"), "[B]\nz=3\n");
  // A section without keys does not count as existing.
  WriteText(dir / "d.ini", "[Empty]\n[B]\nz=3\n");
  EXPECT_FALSE(ini.SectionExists("Empty"));
  EXPECT_TRUE(ini.SectionExists("b"));
}

TEST(IniFile, KeepsEachValueOnOneLine) {
  test::TTempDir dir;
  TIniFile ini((dir / "v.ini").string());
  ini.WriteString("S", "Name", "a\n[Evil]\nk=1");
  EXPECT_FALSE(ini.SectionExists("Evil"));
  EXPECT_EQ(ini.ReadString("S", "Name", ""), "a [Evil] k=1");
}

TEST(IniFile, FailedWriteRaises) {
  test::TTempDir dir;
  TIniFile ini((dir / "missing-folder" / "x.ini").string());
  try {
    ini.WriteInteger("S", "K", 1);
    FAIL();
  } catch (const EGlyphmillError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + (dir / "missing-folder" / "x.ini").string());
  }
}

}  // namespace
}  // namespace glyphmill
