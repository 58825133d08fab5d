#include "app/outputnames.h"

#include <gtest/gtest.h>

namespace glyphmill {
namespace {

TEST(OutputNamesTest, IncrementNumericSuffix) {
  const std::pair<const char*, const char*> cases[] = {
      {"a", "a1"}, {"a1", "a2"},   {"a9", "a10"}, {"x199", "x200"}, {"99", "100"},
      {"", "1"},   {"a09", "a10"}, {"1a", "1a1"}, {"a 9", "a 10"},  {"com1", "com2"},
  };
  for (const auto& [text, next] : cases) EXPECT_EQ(IncrementNumericSuffix(text), next) << text;
}

TEST(OutputNamesTest, SafeFileBaseNameAndDeviceNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"con", "con_"}, {"CON", "CON_"},    {"lpt1", "lpt1_"},  {"Com9", "Com9_"}, {"com", "com_"},
      {"lpt", "lpt_"}, {"com0", "com0"},   {"com10", "com10"}, {"x:y", "xy"},     {"a\"*/:;<>?\\b", "ab"},
      {"a|b", "a|b"},  {"nul.x", "nul.x"}, {"aux", "aux_"},    {"prn", "prn_"},   {"photo", "photo"},
  };
  for (const auto& [base, safe] : cases) EXPECT_EQ(SafeFileBaseName(base), safe) << base;

  for (const char* name : {"aux", "CON", "prn", "nul", "com1", "LPT9"}) EXPECT_TRUE(IsReservedDeviceName(name)) << name;
  for (const char* name : {"com", "lpt", "com0", "com10", "con_", "auxx"})
    EXPECT_FALSE(IsReservedDeviceName(name)) << name;
}

TEST(OutputNamesTest, NamesAreUniqueWithinTheRunIgnoringCase) {
  TSavedNames saved;
  std::vector<std::string> names;
  for (const char* source : {"/in/a.png", "/in/A.jpg", "/in/a.bmp", "/in/con.png", "/in/lpt1.gif"}) {
    names.push_back(OutputNameFor(FileBaseName(source), "/out/", source, saved));
    saved.Add(names.back());
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"/out/a.ico", "/out/A1.ico", "/out/a2.ico", "/out/con_.ico", "/out/lpt1_.ico"}));
  EXPECT_EQ(OutputNameFor("x:y", "", "/in/lib.dll", saved), "/in/xy.ico") << "beside the source without a folder";
  EXPECT_EQ(UniqueOutputName("/out/com", ".ico", saved), "/out/com.ico");
  EXPECT_EQ(UniqueOutputName("/out/nul", ".ico", saved), "/out/nul1.ico");
}

// The names a multi-icon source gets for its icons, made unique as the run makes them.
std::vector<std::string> LibraryNames(const std::string& source, const std::vector<std::string>& iconNames) {
  TSavedNames saved;
  const std::string base = FileBaseName(source);
  const int digits = LibraryIconDigits(base, static_cast<int>(iconNames.size()));
  std::vector<std::string> names;
  for (size_t j = 0; j < iconNames.size(); ++j) {
    const std::string candidate = LibraryIconCandidate(base, iconNames[j], static_cast<int>(j), digits);
    names.push_back(OutputNameFor(candidate, "/out/", source, saved).substr(5));
    saved.Add("/out/" + names.back());
  }
  return names;
}

TEST(OutputNamesTest, LibraryIconNames) {
  EXPECT_EQ(LibraryNames("/in/walk.ani", std::vector<std::string>(5)),
            (std::vector<std::string>{"walk0.ico", "walk1.ico", "walk2.ico", "walk3.ico", "walk4.ico"}));
  const std::vector<std::string> twelve = LibraryNames("/in/walk.ani", std::vector<std::string>(12));
  EXPECT_EQ(twelve.front(), "walk00.ico");
  EXPECT_EQ(twelve.back(), "walk11.ico");
  EXPECT_EQ(LibraryNames("/in/com.ani", std::vector<std::string>(5)),
            (std::vector<std::string>{"com00.ico", "com01.ico", "com02.ico", "com03.ico", "com04.ico"}));
  EXPECT_EQ(LibraryNames("/in/prog.exe", {"1", "2", "MAINICON"}),
            (std::vector<std::string>{"prog1.ico", "prog2.ico", "MAINICON.ico"}));
  EXPECT_EQ(LibraryNames("/in/tools.icl", {"tools 001", "tools 002"}),
            (std::vector<std::string>{"tools 001.ico", "tools 002.ico"}));
  EXPECT_EQ(LibraryNames("/in/lib.dll", {"-1", "$10", "x:y", "con"}),
            (std::vector<std::string>{"-1.ico", "lib$10.ico", "xy.ico", "con_.ico"}));
  EXPECT_EQ(LibraryNames("/in/lib.dll", {"A", "a"}), (std::vector<std::string>{"A.ico", "a1.ico"}));
}

TEST(OutputNamesTest, FailureLineSuffix) {
  struct TCase {
    const char* Message;
    int Icon;
    const char* Line;
  };
  const TCase cases[] = {
      {"Invalid image", -1, "Invalid image, source: /in/a.png"},
      {"文件未找到: /in/a.png", -1, "文件未找到: /in/a.png"},
      {"File /out/a.ico already exists", -1, "File /out/a.ico already exists, source: /in/a.png"},
      {"Cannot open /IN/A.PNG", -1, "Cannot open /IN/A.PNG, source: /in/a.png"},
      {"No images in icon", 3, "No images in icon, source: /in/a.png,3"},
      {"Bad /in/a.png", 0, "Bad /in/a.png"},
  };
  for (const TCase& c : cases) EXPECT_EQ(FailureLine(c.Message, "/in/a.png", c.Icon), c.Line) << c.Message;
}

}  // namespace
}  // namespace glyphmill
