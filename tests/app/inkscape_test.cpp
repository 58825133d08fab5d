#include "app/inkscape.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/png_codec.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::TTempDir;
using test::WriteText;

// Sets an environment variable (or removes it) for one test and puts the old value back.
class TEnvGuard {
public:
  TEnvGuard(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
    ResetInkscapeSearch();
  }
  ~TEnvGuard() {
    if (FOld)
      setenv(FName.c_str(), FOld->c_str(), 1);
    else
      unsetenv(FName.c_str());
    ResetInkscapeSearch();
  }

private:
  std::string FName;
  std::optional<std::string> FOld;
};

// A stand-in Inkscape: a shell script that logs its arguments, one per line, and copies a sample
// PNG to the output named by the 1.x form ("modern"), the 0.92 form ("legacy") or neither ("never").
class TFakeInkscape {
public:
  TFakeInkscape(const TTempDir& dir, const std::string& mode) : FProgram(dir / "bin/inkscape"), FLog(dir / "args.log") {
    std::filesystem::create_directories(dir / "bin");
    TBitmap sample;
    sample.SetPixelFormat(pf32bit);
    sample.SetSize(4, 2);
    for (int x = 0; x < 4; ++x) sample.ScanLine(0)[x * 4 + 3] = 255;
    TPNGImage png;
    png.Assign(sample);
    png.SaveToFile((dir / "sample.png").string());
    std::ofstream script(FProgram);
    script << "#!/bin/sh\n"
           << "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << FLog.string() << "'; done\n"
           << "echo --- >> '" << FLog.string() << "'\n"
           << "prev=\n"
           << "for a in \"$@\"; do\n"
           << "  case \"$a\" in --export-filename=*) [ " << mode << " = modern ] && cp '"
           << (dir / "sample.png").string() << "' \"${a#--export-filename=}\";; esac\n"
           << "  [ \"$prev\" = -e ] && [ " << mode << " = legacy ] && cp '" << (dir / "sample.png").string()
           << "' \"$a\"\n"
           << "  prev=$a\n"
           << "done\n"
           << "exit 0\n";
    script.close();
    chmod(FProgram.c_str(), 0755);
  }
  std::string Program() const { return FProgram.string(); }
  // The logged invocations, each a list of arguments.
  std::vector<std::vector<std::string>> Calls() const {
    std::vector<std::vector<std::string>> calls(1);
    std::ifstream log(FLog);
    for (std::string line; std::getline(log, line);) {
      if (line == "---")
        calls.emplace_back();
      else
        calls.back().push_back(line);
    }
    calls.pop_back();
    return calls;
  }

private:
  std::filesystem::path FProgram;
  std::filesystem::path FLog;
};

TEST(InkscapeTest, SearchOrder) {
  TTempDir dir;
  TFakeInkscape fake(dir, "modern");
  {
    TEnvGuard chosen("GLYPHMILL_INKSCAPE", fake.Program().c_str());
    EXPECT_EQ(FindInkscape(), fake.Program());
  }
  {
    // Set but not an executable: no Inkscape at all, whatever else is installed.
    TEnvGuard chosen("GLYPHMILL_INKSCAPE", (dir / "missing").c_str());
    EXPECT_EQ(FindInkscape(), "");
  }
  {
    TEnvGuard unset("GLYPHMILL_INKSCAPE", nullptr);
    TEnvGuard path("PATH", ((dir / "bin").string() + ":/usr/bin:/bin").c_str());
    EXPECT_EQ(FindInkscape(), fake.Program());
  }
  {
    TEnvGuard unset("GLYPHMILL_INKSCAPE", nullptr);
    TEnvGuard path("PATH", (dir / "nowhere").c_str());
    const std::string found = FindInkscape();
    if (test::ToolExists("/usr/bin/inkscape")) {
      EXPECT_EQ(found, "/usr/bin/inkscape");
    }
  }
}

TEST(InkscapeTest, ArgumentsReachInkscapeWithoutAShell) {
  TTempDir dir;
  TFakeInkscape fake(dir, "modern");
  TEnvGuard chosen("GLYPHMILL_INKSCAPE", fake.Program().c_str());
  const std::string source = (dir / "a b $(touch pwned) 'q'.svg").string();
  WriteText(source, "<svg/>");
  const std::string output = (dir / "out.png").string();
  ASSERT_TRUE(RunInkscape(source, output, 16, 24));
  const auto calls = fake.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], (std::vector<std::string>{"--export-type=png", "--export-filename=" + output, "-w", "16", "-h",
                                                "24", source}));
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
}

TEST(InkscapeTest, FallsBackToTheOldCommandLineAndGivesUpAfterFiveAttempts) {
  TTempDir dir;
  WriteText(dir / "d.svg", "<svg/>");
  {
    TFakeInkscape fake(dir, "legacy");
    TEnvGuard chosen("GLYPHMILL_INKSCAPE", fake.Program().c_str());
    ASSERT_TRUE(RunInkscape((dir / "d.svg").string(), (dir / "o.png").string(), 0, 0));
    const auto calls = fake.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], (std::vector<std::string>{"-f", (dir / "d.svg").string(), "-e", (dir / "o.png").string()}));
  }
  TTempDir other;
  WriteText(other / "d.svg", "<svg/>");
  TFakeInkscape never(other, "never");
  TEnvGuard chosen("GLYPHMILL_INKSCAPE", never.Program().c_str());
  EXPECT_FALSE(RunInkscape((other / "d.svg").string(), (other / "o.png").string(), 0, 0));
  EXPECT_EQ(never.Calls().size(), 10u);  // 5 attempts, each with both command lines
  EXPECT_FALSE(RunInkscape((other / "missing.svg").string(), (other / "o.png").string(), 0, 0));
  EXPECT_EQ(never.Calls().size(), 10u);
}

TEST(InkscapeTest, RenderVectorFileUsesAPrivateFolderThatIsRemoved) {
  TTempDir dir;
  TFakeInkscape fake(dir, "modern");
  TEnvGuard chosen("GLYPHMILL_INKSCAPE", fake.Program().c_str());
  WriteText(dir / "logo.svg", "<svg/>");
  TBitmapFix32 bitmap;
  ASSERT_TRUE(RenderVectorFile((dir / "logo.svg").string(), bitmap, 0, 0));
  EXPECT_EQ(bitmap.Width(), 4);
  EXPECT_EQ(bitmap.Height(), 2);
  const auto calls = fake.Calls();
  ASSERT_EQ(calls.size(), 1u);
  const std::filesystem::path output = calls[0][1].substr(std::string("--export-filename=").size());
  EXPECT_EQ(output.filename(), "logo.png");
  EXPECT_FALSE(std::filesystem::exists(output.parent_path()));
}

constexpr const char* BarSvg =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="160" height="160" viewBox="0 0 16 16">)"
    R"(<rect x="3" y="0" width="1" height="16" fill="#000"/></svg>)";

TEST(InkscapeTest, OwnSizeRenderingOfAHugeDrawingFitsWithin4096) {
  TTempDir dir;
  WriteText(dir / "plan.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="100000" height="50000">)"
                              R"(<rect width="100000" height="50000" fill="#f00"/></svg>)");
  WriteText(dir / "bar.svg", BarSvg);
  const std::string plan = (dir / "plan.svg").string();
  {
    TFakeInkscape fake(dir, "modern");
    TEnvGuard chosen("GLYPHMILL_INKSCAPE", fake.Program().c_str());
    TBitmapFix32 bitmap;
    ASSERT_TRUE(RenderVectorFile(plan, bitmap, 0, 0));
    ASSERT_TRUE(RenderVectorFile((dir / "bar.svg").string(), bitmap, 0, 0));
    const auto calls = fake.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"--export-type=png", calls[0][1], "-w", "4096", "-h", "2048", plan}));
    EXPECT_EQ(calls[1].size(), 3u) << "a drawing of its own size below the limit is asked for without a size";
  }
  // The embedded renderer would refuse the own size outright.
  TEnvGuard missing("GLYPHMILL_INKSCAPE", (dir / "no-inkscape").c_str());
  TBitmapFix32 bitmap;
  ASSERT_TRUE(RenderVectorFile(plan, bitmap, 0, 0));
  EXPECT_EQ(bitmap.Width(), 4096);
  EXPECT_EQ(bitmap.Height(), 2048);
  EXPECT_EQ(bitmap.GetPixel(2000, 1000), RGBColor(255, 0, 0));
}

TEST(InkscapeTest, SvgRendersWithInkscapeWithTheEmbeddedRendererOrFailsClearly) {
  TTempDir dir;
  WriteText(dir / "bar.svg", BarSvg);
  const std::string source = (dir / "bar.svg").string();
  if (test::ToolExists("/usr/bin/inkscape")) {
    TEnvGuard chosen("GLYPHMILL_INKSCAPE", "/usr/bin/inkscape");
    TEnvGuard off("GLYPHMILL_NO_EMBEDDED_RENDERER", "1");
    TBitmapFix32 bitmap;
    ASSERT_TRUE(RenderVectorFile(source, bitmap, 16, 16));
    EXPECT_EQ(bitmap.Width(), 16);
    EXPECT_EQ(bitmap.GetPixel(3, 8), 0u);
    EXPECT_EQ(bitmap.ScanLine(8)[3 * 4 + 3], 255);
    EXPECT_EQ(bitmap.ScanLine(8)[5 * 4 + 3], 0);
  }
  TEnvGuard missing("GLYPHMILL_INKSCAPE", (dir / "no-inkscape").c_str());
  {
    TBitmapFix32 bitmap;
    ASSERT_TRUE(RenderVectorFile(source, bitmap, 16, 16));
    EXPECT_EQ(bitmap.Width(), 16);
    EXPECT_EQ(bitmap.ScanLine(8)[3 * 4 + 3], 255);
    EXPECT_EQ(bitmap.ScanLine(8)[5 * 4 + 3], 0);
  }
  TEnvGuard off("GLYPHMILL_NO_EMBEDDED_RENDERER", "1");
  TBitmapFix32 bitmap;
  try {
    LoadVectorFile(source, bitmap, 0, 0);
    ADD_FAILURE() << "rendered without any renderer";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Please install Inkscape to convert AI, SVG, PDF images");
  }
}

}  // namespace
}  // namespace glyphmill
