#include "app/commandline.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/integertext.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::TTempDir;

TEST(CommandLineTest, SwitchForms) {
  struct TCase {
    const char* Argument;
    const char* Name;
    std::optional<bool> State;
  };
  const TCase cases[] = {
      {"o", "o", true},           {"/o", "o", true},           {"-o", "o", true},
      {"/o+", "o", true},         {"-o+", "o", true},          {"/o-", "o", false},
      {"-o-", "o", false},        {"o-", "o", false},          {"//o", "o", std::nullopt},
      {"/ox", "o", std::nullopt}, {"/o+-", "o", std::nullopt}, {"/zf", "zf", true},
      {"-sr-", "sr", false},      {"/sp", "sf", std::nullopt}, {"?", "?", true},
      {"/?", "?", true},          {"-?-", "?", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(SwitchState(c.Argument, c.Name), c.State) << c.Argument;
}

TEST(CommandLineTest, ValuedOptionsAndValues) {
  EXPECT_TRUE(IsValuedOption("-d=out", "d"));
  EXPECT_TRUE(IsValuedOption("/d=out", "d"));
  EXPECT_TRUE(IsValuedOption("d=out", "d"));
  EXPECT_FALSE(IsValuedOption("--d=out", "d"));
  EXPECT_FALSE(IsValuedOption("-df=a.ico", "d"));
  EXPECT_FALSE(IsValuedOption("-d", "d"));
  EXPECT_EQ(OptionValue("-t= red  "), "red");
  EXPECT_EQ(OptionValue("-d=a=b"), "a=b");
  EXPECT_EQ(OptionValue("-t="), "");
}

struct TSizeCase {
  std::vector<std::string> Arguments;
  std::vector<int32_t> Widths;
  std::vector<int32_t> Heights;
  std::vector<int32_t> Depths;
};

TEST(CommandLineTest, SizeLists) {
  const TSizeCase cases[] = {
      {{"/sz=16x16,32x32,48x48"}, {16, 32, 48}, {16, 32, 48}, {32}},
      {{"/sz=winxp"}, {16, 32, 48}, {16, 32, 48}, {8, 32}},
      {{"/sz=winxp,64x64x24"}, {16, 32, 48, 64}, {16, 32, 48, 64}, {8, 32, 24}},
      {{"/sz=16x16,16x16"}, {16}, {16}, {32}},
      {{"/sz=16x16", "/sz=16x16"}, {16, 16}, {16, 16}, {32, 32}},
      {{"/sz=128x64x8"}, {128}, {64}, {8}},
      {{"/sz=32"}, {32}, {32}, {32}},
      {{"/sz=16,32,48,256"}, {16, 32, 48, 256}, {16, 32, 48, 256}, {32}},
      {{"/sz=0"}, {0}, {0}, {32}},
      {{"/sz=0x0x0"}, {0}, {0}, {0}},
      {{"-SIZE=32X32"}, {32}, {32}, {32}},
      {{"/sz=,16x16,, 32x32 ,"}, {16, 32}, {16, 32}, {32}},
      {{"/sz=abcx16xz"}, {0}, {16}, {0}},
      {{"/sz=-5x16"}, {0}, {16}, {32}},
      {{"/sz=16x16x32x8"}, {16}, {16}, {0}},
      {{"/sz=winxp", "/sz=winxp"}, {16, 32, 48, 16, 32, 48}, {16, 32, 48, 16, 32, 48}, {8, 32, 8, 32}},
      {{"/sz=16x16x8,16x16x32"}, {16}, {16}, {8, 32}},
      {{"/sz="}, {}, {}, {}},
      {{}, {}, {}, {}},
  };
  for (const TSizeCase& c : cases) {
    std::vector<std::string> arguments{"source.png"};
    arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
    TConversionOptions options;
    options.AddSize(99, 99);
    options.FDepths.Add(99);
    ParseCommandLineOptions(arguments, options);
    const std::string label = c.Arguments.empty() ? "(none)" : c.Arguments.front();
    EXPECT_EQ(options.FWidths.ToVector(), c.Widths) << label;
    EXPECT_EQ(options.FHeights.ToVector(), c.Heights) << label;
    EXPECT_EQ(options.FDepths.ToVector(), c.Depths) << label;
  }
}

TEST(CommandLineTest, ResetsThenAppliesOptionsInOrder) {
  TConversionOptions options;
  options.Overwrite = true;
  options.ZoomToFit = true;
  options.ShrinkToFit = false;
  options.KeepProportions = false;
  options.Smooth = false;
  options.TransparencyMode = tmLeftTop;
  options.TransparentColor = 0x123456;
  options.DestFolder = "/saved/";
  options.DestFile = "stale.ico";

  ParseCommandLineOptions({"a.png"}, options);
  EXPECT_FALSE(options.Overwrite);
  EXPECT_FALSE(options.ZoomToFit);
  EXPECT_TRUE(options.ShrinkToFit);
  EXPECT_TRUE(options.KeepProportions);
  EXPECT_FALSE(options.Smooth) << "smoothing keeps the stored setting";
  EXPECT_EQ(options.TransparencyMode, tmNone);
  EXPECT_EQ(options.TransparentColor, 0xFFFFFFu);
  EXPECT_EQ(options.DestFolder, "/saved/") << "the destination keeps the stored setting";
  EXPECT_EQ(options.DestFile, "");

  ParseCommandLineOptions({"a.png", "/o", "/O-", "-ZF", "/sf-", "-sp-", "/sr", "/t=lt", "/tr=#FF0000", "unknown"},
                          options);
  EXPECT_FALSE(options.Overwrite) << "/O- after /o";
  EXPECT_TRUE(options.ZoomToFit);
  EXPECT_FALSE(options.ShrinkToFit);
  EXPECT_FALSE(options.KeepProportions);
  EXPECT_TRUE(options.Smooth);
  EXPECT_EQ(options.TransparencyMode, tmColor);
  EXPECT_EQ(options.TransparentColor, 0x0000FFu);
}

TEST(CommandLineTest, TransparencyCorners) {
  const std::pair<const char*, int> cases[] = {
      {"lt", tmLeftTop},  {"TL", tmLeftTop},  {"lb", tmLeftBottom},  {"bl", tmLeftBottom},
      {"rt", tmRightTop}, {"tr", tmRightTop}, {"rb", tmRightBottom}, {"br", tmRightBottom},
  };
  for (const auto& [value, mode] : cases) {
    TConversionOptions options;
    ParseCommandLineOptions({"a.png", std::string("-t=") + value}, options);
    EXPECT_EQ(options.TransparencyMode, mode) << value;
  }
  TConversionOptions options;
  ParseCommandLineOptions({"a.png", "/t=red"}, options);
  const TColor red = options.TransparentColor;
  ParseCommandLineOptions({"a.png", "/t=clred"}, options);
  EXPECT_EQ(options.TransparentColor, red);
  EXPECT_EQ(red, 0x0000FFu);
  EXPECT_THROW(ParseCommandLineOptions({"a.png", "/t="}, options), EConvertError);
}

TEST(CommandLineTest, DestinationPathsKeepTheirCaseAndPlaceTheFile) {
  TTempDir temp;
  const std::string folder = (temp / "Out Dir").string();
  TConversionOptions options;
  ParseCommandLineOptions({"a.png", "-D=" + folder, "-DF=First.ICO"}, options);
  EXPECT_EQ(options.DestFolder, folder + "/");
  EXPECT_EQ(options.DestFile, folder + "/First.ICO");

  ParseCommandLineOptions({"a.png", "-df=/elsewhere/x.ico", "-dest=" + folder}, options);
  EXPECT_EQ(options.DestFile, "/elsewhere/x.ico") << "a file with a folder stays where it is";

  const std::string existing = (temp / "taken.ico").string();
  test::WriteAll(existing, {1});
  ParseCommandLineOptions({"a.png", "/d=" + existing}, options);
  EXPECT_EQ(options.DestFolder, existing) << "an existing file gets no trailing separator";
}

TEST(CommandLineTest, HelpRequested) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"/?"}, true},     {{"a.png", "-?"}, true}, {{"a.png", "?+"}, true},      {{"a.png", "/?-"}, true},
      {{"-h"}, true},     {{"--help"}, true},      {{"a.png", "/sz=32"}, false}, {{"a.png", "/??"}, false},
      {{"-help"}, false},
  };
  for (const auto& [arguments, expected] : cases) EXPECT_EQ(HelpRequested(arguments), expected) << arguments.back();
}

TEST(CommandLineTest, ExpandSourceArgument) {
  TTempDir temp;
  for (const char* name : {"b.PNG", "a.png", "c.jpg"}) test::WriteAll(temp / name, {1});
  std::filesystem::create_directory(temp / "sub.png");

  std::vector<std::string> found = ExpandSourceArgument((temp / "*.png").string());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{(temp / "a.png").string(), (temp / "b.PNG").string()}));
  EXPECT_TRUE(ExpandSourceArgument((temp / "*.gif").string()).empty());
  EXPECT_EQ(ExpandSourceArgument((temp / "?.jpg").string()), std::vector<std::string>{(temp / "c.jpg").string()});
  EXPECT_EQ(ExpandSourceArgument("/no/such/file.png"), std::vector<std::string>{"/no/such/file.png"});

  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(temp.Path());
  const std::vector<std::string> bare = ExpandSourceArgument("missing.png");
  const std::vector<std::string> uninstall = ExpandSourceArgument("-uninstall");
  std::filesystem::current_path(previous);
  EXPECT_EQ(bare, std::vector<std::string>{(temp / "missing.png").string()});
  EXPECT_EQ(uninstall, std::vector<std::string>{(temp / "-uninstall").string()});
}

TEST(CommandLineTest, FurtherArgumentsNamingFilesAreFurtherSources) {
  TTempDir temp;
  const std::string a = (temp / "a.png").string();
  const std::string b = (temp / "b.png").string();
  const std::string o = (temp / "o").string();
  for (const std::string& name : {a, b}) test::WriteAll(name, {1});
  test::WriteAll(o, {1});
  EXPECT_EQ(CommandLineSources({a, "-sz=32", b, "/no/such.png", temp.Path().string(), "-t=zz"}),
            (std::vector<std::string>{a, b}));

  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(temp.Path());
  const std::vector<std::string> sources = CommandLineSources({a, "o"});
  std::filesystem::current_path(previous);
  EXPECT_EQ(sources, std::vector<std::string>{a}) << "an argument that is an option stays an option";
}

}  // namespace
}  // namespace glyphmill
