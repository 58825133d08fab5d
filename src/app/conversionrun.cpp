#include "app/conversionrun.h"

#include <filesystem>

#include "app/commandline.h"
#include "platform/folders.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

bool IsFile(const std::string& name) {
  std::error_code error;
  return std::filesystem::is_regular_file(name, error);
}

// Clears the running flag however the run is left.
class TRunningScope {
public:
  explicit TRunningScope(TRunFlags& flags) : FFlags(flags) {
    FFlags.FStopRequested = false;
    FFlags.FSizeLimited = false;
    FFlags.FRunning = true;
  }
  ~TRunningScope() { FFlags.FRunning = false; }
  TRunningScope(const TRunningScope&) = delete;
  TRunningScope& operator=(const TRunningScope&) = delete;

private:
  TRunFlags& FFlags;
};

}  // namespace

TConversionRun::TConversionRun(TRunProgress& progress, TSourceConverter converter)
    : FProgress(progress), FConverter(std::move(converter)) {}

void TConversionRun::Execute(const std::vector<std::string>& sources,
                             const std::function<void(TConversionOptions&)>& fillOptions) {
  TRunningScope running(FFlags);
  FOptions = TConversionOptions();
  FOptions.Sources = sources;
  FSourceCount = static_cast<int>(sources.size());
  FProcessed = 0;
  FSaved = 0;
  FErrorLines.clear();
  FSavedNames = TSavedNames();

  FProgress.RunStarted(FSourceCount);
  FProgress.ProcessMessages();
  fillOptions(FOptions);
  if (FOptions.DestFile.empty() && !FOptions.DestFolder.empty()) {
    std::error_code ignored;  // a folder that cannot be made shows up as a failed write per source
    std::filesystem::create_directories(RemoveTrailingBackslash(FOptions.DestFolder), ignored);
    FOptions.DestFolder = AddTrailingBackslash(FOptions.DestFolder);
  }

  for (int i = 0; i < FSourceCount && !Stopping(); ++i) ConvertSource(i, FOptions.Sources[static_cast<size_t>(i)]);
}

void TConversionRun::RequestStop() {
  if (FFlags.FRunning) FFlags.FStopRequested = true;
}

bool TConversionRun::Stopping() {
  if (!FFlags.FStopRequested && FProgress.StopRequested()) RequestStop();
  return FFlags.FStopRequested;
}

void TConversionRun::ConvertSource(int index, const std::string& source) {
  ++FProcessed;
  FProgress.SourceStarted(index, source, FProcessed);
  FProgress.ProcessMessages();
  try {
    if (!IsFile(source)) throw EGlyphmillError(Format("文件未找到: %s", source.c_str()));
    const std::string outputName = index == 0 && !FOptions.DestFile.empty()
                                       ? FOptions.DestFile
                                       : OutputNameFor(FileBaseName(source), FOptions.DestFolder, source, FSavedNames);
    FProgress.OutputChosen(outputName);
    FProgress.ProcessMessages();
    if (FOptions.Overwrite && LowerCase(outputName) == LowerCase(source)) {
      // The copy is the only way back to the original, so a source that cannot be copied is not replaced.
      const std::string backup = outputName + ".bak";
      std::error_code error;
      std::filesystem::copy_file(source, backup, std::filesystem::copy_options::overwrite_existing, error);
      if (error) throw EGlyphmillError(Format("Cannot copy %s to %s", source.c_str(), backup.c_str()));
    }
    TSourceOutput output = FConverter(source, FOptions, FFlags);
    if (output.Icon) {
      CheckOverwrite(outputName);
      output.Icon->SaveToFile(outputName);
      NoteSaved(outputName);
    } else if (!output.Library.empty()) {
      WriteLibrary(source, output.Library);
    }
  } catch (const std::exception& error) {
    NoteFailure(FailureLine(error.what(), source));
  } catch (...) {
    NoteFailure(FailureLine("Unknown error", source));
  }
}

void TConversionRun::WriteLibrary(const std::string& source, std::vector<TNamedIcon>& library) {
  const std::string base = FileBaseName(source);
  const int count = static_cast<int>(library.size());
  const int digits = LibraryIconDigits(base, count);
  FProgress.IconsStarted(count);
  for (int j = 0; j < count && !Stopping(); ++j) {
    FProgress.IconStarted(j, count);
    TNamedIcon& icon = library[static_cast<size_t>(j)];
    try {
      const std::string candidate = LibraryIconCandidate(base, icon.Name, j, digits);
      const std::string outputName = OutputNameFor(candidate, FOptions.DestFolder, source, FSavedNames);
      FProgress.OutputChosen(outputName);
      CheckOverwrite(outputName);
      icon.Icon->Rebuild(FOptions, FFlags);
      icon.Icon->SaveToFile(outputName);
      NoteSaved(outputName);
    } catch (const std::exception& error) {
      NoteFailure(FailureLine(error.what(), source, j));
    } catch (...) {
      NoteFailure(FailureLine("Unknown error", source, j));
    }
    FProgress.ProcessMessages();
  }
  FProgress.IconsFinished();
}

void TConversionRun::CheckOverwrite(const std::string& outputName) const {
  if (!FOptions.Overwrite && IsFile(outputName))
    throw EGlyphmillError(Format("File %s already exists", outputName.c_str()));
}

void TConversionRun::NoteSaved(const std::string& fileName) {
  FSavedNames.Add(fileName);
  ++FSaved;
  FProgress.FileSaved(fileName, FSaved);
  FProgress.ProcessMessages();
}

void TConversionRun::NoteFailure(const std::string& line) {
  FErrorLines.push_back(line);
  FProgress.FailureNoted(line);
}

std::vector<std::string> WizardErrorLines(const TConversionRun& run) {
  std::vector<std::string> lines = run.ErrorLines();
  if (run.Flags().FSizeLimited)
    lines.push_back(Format("允许的最大图标大小为 %dx%d。 额外尺寸的图片缩小了。", MaxIconSide, MaxIconSide));
  return lines;
}

}  // namespace glyphmill
