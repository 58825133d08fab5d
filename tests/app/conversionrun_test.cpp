#include "app/conversionrun.h"

#include <gtest/gtest.h>

#include <map>

#include "support/errors.h"
#include "support/streams.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::ReadText;
using test::TTempDir;
using test::WriteText;

// An icon that writes its label, or fails with its label when that starts with "!".
class TFakeIcon : public TOutputIcon {
public:
  explicit TFakeIcon(std::string label) : FLabel(std::move(label)) {}
  void Rebuild(const TConversionOptions&, TRunFlags&) override { FLabel += "+rebuilt"; }
  void SaveToFile(const std::string& fileName) const override {
    if (FLabel.starts_with("!")) throw EGlyphmillError(FLabel.substr(1));
    WriteFileAtomically(fileName, std::span(reinterpret_cast<const uint8_t*>(FLabel.data()), FLabel.size()));
  }

private:
  std::string FLabel;
};

// Turns a source into an icon labelled by the source's content: "icon:X" one icon, "lib:A,B" named
// library icons ("-" an unnamed one, "!A" one named A that fails to save), "none" nothing,
// "throw:M" an error M.
TSourceOutput FakeConverter(const std::string& source, const TConversionOptions&, TRunFlags& flags) {
  const std::string text = ReadText(source);
  TSourceOutput output;
  if (text == "icon:cut") flags.FSizeLimited = true;
  if (text.starts_with("icon:")) {
    output.Icon = std::make_unique<TFakeIcon>(text.substr(5));
  } else if (text.starts_with("lib:")) {
    std::string names = text.substr(4) + ",";
    for (size_t start = 0, comma; (comma = names.find(',', start)) != std::string::npos; start = comma + 1) {
      const std::string name = names.substr(start, comma - start);
      if (name == "-")
        output.Library.push_back({"", std::make_unique<TFakeIcon>("frame")});
      else
        output.Library.push_back({name.starts_with("!") ? name.substr(1) : name, std::make_unique<TFakeIcon>(name)});
    }
  } else if (text.starts_with("throw:")) {
    throw EReadError(text.substr(6));
  }
  return output;
}

class TRecordingProgress : public TRunProgress {
public:
  void SourceStarted(int, const std::string& sourceName, int) override { Events.push_back("source " + sourceName); }
  void OutputChosen(const std::string& outputName) override { Events.push_back("output " + outputName); }
  void FileSaved(const std::string& fileName, int saved) override {
    Events.push_back("saved " + fileName + " " + std::to_string(saved));
  }
  void IconStarted(int index, int count) override {
    Events.push_back("icon " + std::to_string(index) + "/" + std::to_string(count));
  }
  void FailureNoted(const std::string& line) override { Events.push_back("failed " + line); }
  bool StopRequested() override { return StopAfterEvents > 0 && static_cast<int>(Events.size()) >= StopAfterEvents; }

  std::vector<std::string> Events;
  int StopAfterEvents = 0;
};

class TConversionRunTest : public ::testing::Test {
protected:
  std::string Source(const std::string& name, const std::string& content) {
    const std::string path = (FTemp / name).string();
    WriteText(path, content);
    return path;
  }
  std::string Path(const std::string& name) const { return (FTemp / name).string(); }

  void Run(const std::vector<std::string>& sources, const std::function<void(TConversionOptions&)>& fill) {
    FRun.Execute(sources, fill);
  }

  TTempDir FTemp;
  TRecordingProgress FProgress;
  TConversionRun FRun{FProgress, FakeConverter};
};

TEST_F(TConversionRunTest, NamesSavesAndCounts) {
  const std::vector<std::string> sources = {Source("a.png", "icon:1"),
                                            Source("a.jpg", "icon:2"),
                                            Source("a.bmp", "icon:3"),
                                            Source("none.exe", "none"),
                                            Source("bad.png", "throw:Invalid image"),
                                            Path("missing.png")};
  Run(sources, [&](TConversionOptions& options) { options.DestFolder = Path("out/deeper"); });

  EXPECT_EQ(FRun.Options().DestFolder, Path("out/deeper") + "/");
  EXPECT_EQ(ReadText(Path("out/deeper/a.ico")), "1");
  EXPECT_EQ(ReadText(Path("out/deeper/a1.ico")), "2");
  EXPECT_EQ(ReadText(Path("out/deeper/a2.ico")), "3");
  EXPECT_EQ(FRun.SourceCount(), 6);
  EXPECT_EQ(FRun.Processed(), 6);
  EXPECT_EQ(FRun.Saved(), 3);
  EXPECT_EQ(FRun.ErrorLines(), (std::vector<std::string>{"Invalid image, source: " + Path("bad.png"),
                                                         "文件未找到: " + Path("missing.png")}));
  EXPECT_FALSE(FRun.Flags().FRunning);
}

TEST_F(TConversionRunTest, OverwriteOffReportsAnExistingFile) {
  const std::string source = Source("a.png", "icon:new");
  WriteText(Path("a.ico"), "old");
  Run({source}, [](TConversionOptions& options) { options.Overwrite = false; });
  EXPECT_EQ(ReadText(Path("a.ico")), "old");
  EXPECT_EQ(FRun.ErrorLines(),
            std::vector<std::string>{"File " + Path("a.ico") + " already exists, source: " + Path("a.png")});
  EXPECT_EQ(FRun.Saved(), 0);

  Run({source}, [](TConversionOptions& options) { options.Overwrite = true; });
  EXPECT_EQ(ReadText(Path("a.ico")), "new");
  EXPECT_FALSE(std::filesystem::exists(Path("a.ico.bak"))) << "only a source that is its own output is kept";
}

TEST_F(TConversionRunTest, ConvertingAnIconOntoItselfKeepsABackup) {
  const std::string source = Source("X.ico", "icon:converted");
  WriteText(Path("X.ico.bak"), "older backup");
  Run({source}, [](TConversionOptions&) {});
  EXPECT_EQ(ReadText(Path("X.ico")), "converted");
  EXPECT_EQ(ReadText(Path("X.ico.bak")), "icon:converted") << "the source as it was, replacing the older copy";
  EXPECT_TRUE(FRun.ErrorLines().empty());
}

TEST_F(TConversionRunTest, ASourceThatCannotBeBackedUpIsNotReplaced) {
  const std::string source = Source("x.ico", "icon:converted");
  std::filesystem::create_directory(Path("x.ico.bak"));
  Run({source}, [](TConversionOptions&) {});
  EXPECT_EQ(ReadText(source), "icon:converted");
  EXPECT_EQ(FRun.ErrorLines(), std::vector<std::string>{"Cannot copy " + source + " to " + source + ".bak"});
  EXPECT_EQ(FRun.Saved(), 0);
}

TEST_F(TConversionRunTest, WizardLinesNoteACutSize) {
  Run({Source("a.png", "icon:1")}, [](TConversionOptions&) {});
  EXPECT_TRUE(WizardErrorLines(FRun).empty());
  Run({Path("missing.png"), Source("big.png", "icon:cut")}, [](TConversionOptions&) {});
  EXPECT_EQ(WizardErrorLines(FRun),
            (std::vector<std::string>{"文件未找到: " + Path("missing.png"),
                                      "允许的最大图标大小为 1024x1024。 额外尺寸的图片缩小了。"}));
}

TEST_F(TConversionRunTest, DestinationFileServesTheFirstSourceOnly) {
  std::filesystem::create_directory(Path("out"));
  const std::vector<std::string> sources = {Source("a.png", "icon:1"), Source("b.png", "icon:2")};
  WriteText(Path("out/b.ico"), "old");
  Run(sources, [&](TConversionOptions& options) {
    options.DestFolder = Path("out") + "/";
    options.DestFile = Path("out/b.ico");
    options.Overwrite = true;
  });
  EXPECT_EQ(ReadText(Path("out/b.ico")), "1") << "written exactly there";
  EXPECT_EQ(ReadText(Path("out/b1.ico")), "2") << "the second source avoids the name written before";
}

TEST_F(TConversionRunTest, MultiIconSources) {
  const std::string walk = Source("walk.ani", "lib:-,-,-");
  const std::string prog = Source("prog.exe", "lib:1,2,MAINICON,!failing");
  Run({walk, prog}, [&](TConversionOptions& options) { options.DestFolder = Path("out/"); });

  EXPECT_EQ(ReadText(Path("out/walk0.ico")), "frame+rebuilt") << "frames get numbers; each icon is rebuilt";
  EXPECT_TRUE(std::filesystem::exists(Path("out/walk2.ico")));
  EXPECT_EQ(ReadText(Path("out/prog1.ico")), "1+rebuilt");
  EXPECT_EQ(ReadText(Path("out/prog2.ico")), "2+rebuilt");
  EXPECT_EQ(ReadText(Path("out/MAINICON.ico")), "MAINICON+rebuilt");
  EXPECT_EQ(FRun.Saved(), 6);
  EXPECT_EQ(FRun.ErrorLines(), std::vector<std::string>{"failing+rebuilt, source: " + prog + ",3"});
  EXPECT_NE(std::find(FProgress.Events.begin(), FProgress.Events.end(), "icon 3/4"), FProgress.Events.end());
}

TEST_F(TConversionRunTest, LibraryIconsRespectOverwriteOff) {
  const std::string lib = Source("lib.dll", "lib:1,2");
  WriteText(Path("lib2.ico"), "old");
  Run({lib}, [](TConversionOptions& options) { options.Overwrite = false; });
  EXPECT_EQ(ReadText(Path("lib1.ico")), "1+rebuilt");
  EXPECT_EQ(ReadText(Path("lib2.ico")), "old");
  EXPECT_EQ(FRun.ErrorLines(),
            std::vector<std::string>{"File " + Path("lib2.ico") + " already exists, source: " + lib + ",1"});
}

TEST_F(TConversionRunTest, StopFinishesTheCurrentSourceOnly) {
  std::vector<std::string> sources;
  for (int i = 0; i < 10; ++i) sources.push_back(Source("s" + std::to_string(i) + ".png", "icon:x"));
  // Events per source: started, output chosen, saved. Stop while the third source converts.
  FProgress.StopAfterEvents = 7;
  Run(sources, [](TConversionOptions&) {});
  EXPECT_EQ(FRun.Processed(), 3);
  EXPECT_EQ(FRun.Saved(), 3);
  EXPECT_TRUE(FRun.Flags().FStopRequested);
  EXPECT_FALSE(std::filesystem::exists(Path("s3.ico")));

  FProgress.StopAfterEvents = 0;
  Run(sources, [](TConversionOptions&) {});
  EXPECT_EQ(FRun.Processed(), 10) << "the next run clears the flag";

  FRun.RequestStop();
  EXPECT_FALSE(FRun.Flags().FStopRequested) << "Cancel outside a run does not stop anything";
}

TEST_F(TConversionRunTest, StopBetweenIconsOfALibrary) {
  const std::string lib = Source("lib.dll", "lib:1,2,3");
  FProgress.StopAfterEvents = 5;  // source, output, icon 0/3, output, saved
  Run({lib, Source("next.png", "icon:x")}, [](TConversionOptions&) {});
  EXPECT_EQ(FRun.Saved(), 1);
  EXPECT_EQ(FRun.Processed(), 1);
}

TEST_F(TConversionRunTest, AnOptionsErrorKeepsTheCounts) {
  EXPECT_THROW(Run({Path("x.png")}, [](TConversionOptions&) { throw EGlyphmillError("bad option"); }), EGlyphmillError);
  EXPECT_EQ(FRun.SourceCount(), 1);
  EXPECT_EQ(FRun.Processed(), 0);
  EXPECT_FALSE(FRun.Flags().FRunning);
}

}  // namespace
}  // namespace glyphmill
