// TConversionRun: one conversion run over a source list. Each source gets its output name, is
// turned into an icon or a list of named icons by the converter, and is written; every failure
// becomes one line of the error list and the run goes on. Only a stop request ends it early.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/conversionoptions.h"
#include "app/outputnames.h"
#include "app/runprogress.h"
#include "app/sourceoutput.h"

namespace glyphmill {

// The largest icon side the image builders make; larger requests are cut to it.
inline constexpr int MaxIconSide = 1024;

// Turns one existing source file into what the run writes (ProcessSource in the program).
using TSourceConverter =
    std::function<TSourceOutput(const std::string& sourceName, const TConversionOptions& options, TRunFlags& flags)>;

class TConversionRun {
public:
  TConversionRun(TRunProgress& progress, TSourceConverter converter);

  // Runs the sources in order. fillOptions fills the options (page settings, then the command
  // line) once the running state is shown; what it throws ends the run and reaches the caller,
  // with the counts kept for the log. Missing destination folders are created unless a
  // destination file is set.
  void Execute(const std::vector<std::string>& sources, const std::function<void(TConversionOptions&)>& fillOptions);

  // Cancel: takes effect only while a run is going on, after the current source or icon.
  void RequestStop();

  const TRunFlags& Flags() const { return FFlags; }
  const TConversionOptions& Options() const { return FOptions; }
  int SourceCount() const { return FSourceCount; }
  int Processed() const { return FProcessed; }
  int Saved() const { return FSaved; }
  const std::vector<std::string>& ErrorLines() const { return FErrorLines; }

private:
  bool Stopping();
  void ConvertSource(int index, const std::string& source);
  void WriteLibrary(const std::string& source, std::vector<TNamedIcon>& library);
  void CheckOverwrite(const std::string& outputName) const;
  void NoteSaved(const std::string& fileName);
  void NoteFailure(const std::string& line);

  TRunProgress& FProgress;
  TSourceConverter FConverter;
  TRunFlags FFlags;
  TConversionOptions FOptions;
  int FSourceCount = 0;
  int FProcessed = 0;
  int FSaved = 0;
  std::vector<std::string> FErrorLines;
  TSavedNames FSavedNames;
};

// The lines a wizard shows at the end of a run: the failure lines, then a note when a requested
// size had to be cut to MaxIconSide.
std::vector<std::string> WizardErrorLines(const TConversionRun& run);

}  // namespace glyphmill
