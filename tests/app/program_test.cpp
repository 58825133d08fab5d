// Runs the built program the way a user does. Each test works on a copy of the program in a
// folder of its own (log.txt goes beside the program) with a settings folder of its own.
#include <gtest/gtest.h>

#include <filesystem>

#include "program_sandbox.h"
#include "test_support.h"

namespace glyphmill {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::ShellQuote;
using test::WriteText;

// True when text has the shape of pattern, where '9' stands for any digit and every other
// character for itself.
bool HasShape(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool ok = pattern[i] == '9' ? text[i] >= '0' && text[i] <= '9' : text[i] == pattern[i];
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

class TProgramTest : public test::TProgramSandbox {
protected:
  fs::path LogFile() const { return FTemp / "bin" / "log.txt"; }
  std::string OptionsText() const { return ReadText(test::BinaryDir() / "options.txt"); }

  // The log's lines after the date line, which is checked here.
  std::vector<std::string> LogBody() {
    std::vector<std::string> lines = CrLfLines(ReadText(LogFile()));
    if (lines.empty()) return lines;
    const std::string& date = lines.front();
    const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (date.size() != 20) {
      ADD_FAILURE() << "date line: " << date;
      return {};
    }
    const size_t month = months.find(date.substr(5, 3));
    EXPECT_TRUE(HasShape(date.substr(0, 5) + date.substr(8), "9999--99 99:99:99") && month != std::string::npos &&
                month % 3 == 0)
        << date;
    lines.erase(lines.begin());
    return lines;
  }
};

TEST_F(TProgramTest, MissingSourceFailsWithItsLineAndLog) {
  const TResult result = Run("/no/such/file.png -sz=32");
  EXPECT_EQ(result.Status, 1);
  EXPECT_EQ(result.Err, "文件未找到: /no/such/file.png\n");
  EXPECT_EQ(result.Out, "");
  EXPECT_EQ(LogBody(), (std::vector<std::string>{"文件未找到: /no/such/file.png", "Source files:    1",
                                                 "Processed files: 1", "保存文件：    0"}));
}

TEST_F(TProgramTest, MaskWithoutMatchesLogsZeroCounts) {
  fs::create_directories(FTemp / "empty-dir");
  const TResult result = Run(ShellQuote((FTemp / "empty-dir" / "*.png").string()) + " -sz=32");
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(LogBody(), (std::vector<std::string>{"Source files:    0", "Processed files: 0", "保存文件：    0"}));
}

TEST_F(TProgramTest, HelpPrintsTheOptionsTextAndConvertsNothing) {
  for (const char* arguments : {"-?", "/?", "-h", "--help", "a.png -sz=32 ?-", ""}) {
    const TResult result = Run(arguments);
    EXPECT_EQ(result.Status, 0) << arguments;
    EXPECT_EQ(result.Out, OptionsText()) << arguments;
    EXPECT_FALSE(fs::exists(LogFile())) << arguments;
  }
  EXPECT_NE(OptionsText().find("-sz="), std::string::npos);
}

TEST_F(TProgramTest, InvalidColourExitsTwoAfterTheLog) {
  const std::pair<const char*, const char*> cases[] = {
      {"x.png -t=", "'' is not a valid integer value\n"},
      {"x.png -t=nosuch", "'clnosuch' is not a valid integer value\n"},
  };
  for (const auto& [arguments, message] : cases) {
    const TResult result = Run(arguments);
    EXPECT_EQ(result.Status, 2) << arguments;
    EXPECT_EQ(result.Err, message) << arguments;
    EXPECT_EQ(LogBody(), (std::vector<std::string>{"Source files:    1", "Processed files: 0", "保存文件：    0"}));
  }
}

TEST_F(TProgramTest, UninstallAloneEndsQuietly) {
  TResult result = Run("-uninstall");
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out + result.Err, "");
  EXPECT_FALSE(fs::exists(LogFile()));

  result = Run("-uninstall x");
  EXPECT_EQ(result.Status, 1) << "with a second argument it is a source name";
  EXPECT_EQ(result.Err, "文件未找到: " + (FTemp / "work" / "-uninstall").string() + "\n");
}

TEST_F(TProgramTest, Version) {
  const TResult result = Run("--version");
  EXPECT_EQ(result.Status, 0);
  EXPECT_TRUE(result.Out.starts_with("Glyphmill ") && result.Out.ends_with("\n") &&
              result.Out.find_first_not_of("0123456789.", 10) == result.Out.size() - 1)
      << result.Out;
}

TEST_F(TProgramTest, StoredDestinationAndOptionFoldersAreCreated) {
  const fs::path stored = FTemp / "stored" / "icons";
  fs::create_directories(FTemp / "config" / "Brightfold" / "Glyphmill");
  WriteText(FTemp / "config" / "Brightfold" / "Glyphmill" / "config.ini",
            "[Destination]\nDir=" + stored.string() + "\n");
  Run("/no/such.png");
  EXPECT_TRUE(fs::is_directory(stored)) << "the command line starts from the stored settings";

  Run("/no/such.png -d=out/sub");
  EXPECT_TRUE(fs::is_directory(FTemp / "work" / "out" / "sub")) << "relative to the current folder";

  Run("/no/such.png -d=notmade -df=a.ico");
  EXPECT_FALSE(fs::exists(FTemp / "work" / "notmade")) << "with a destination file the folder must exist";
  EXPECT_EQ(ReadText(FTemp / "config" / "Brightfold" / "Glyphmill" / "config.ini"),
            "[Destination]\nDir=" + stored.string() + "\n")
      << "the command line never writes the settings";
}

TEST_F(TProgramTest, FurtherFilesAndUnreadableSources) {
  WriteText(FTemp / "work" / "notes.txt", "hello");
  WriteText(FTemp / "work" / "broken.bmp", "BMxxxx not really a bitmap");
  WriteText(FTemp / "work" / "dos.exe", "MZ no module");
  const TResult result = Run("notes.txt -sz=32 broken.bmp dos.exe");
  EXPECT_EQ(result.Status, 1);
  const std::string work = (FTemp / "work").string();
  EXPECT_EQ(result.Err, "Unknown picture file extension (.txt), source: " + work +
                            "/notes.txt\n"
                            "Bitmap image is not valid, source: " +
                            work + "/broken.bmp\n");
  const std::vector<std::string> body = LogBody();
  ASSERT_EQ(body.size(), 5u);
  EXPECT_EQ(body[2], "Source files:    3");
  EXPECT_EQ(body[3], "Processed files: 3");
}

}  // namespace
}  // namespace glyphmill
