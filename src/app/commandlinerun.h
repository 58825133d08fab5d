// The command-line converter: one run over the sources and options of the arguments, the log,
// and the exit status (0 nothing failed, 1 a source failed, 2 the command line was invalid).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/runprogress.h"

namespace glyphmill {

extern const char* const ProductName;
extern const char* const ProductVersion;

// Shows a run on standard error: failure lines always, a one-line progress display only when
// standard error is a terminal.
class TQuietProgress : public TRunProgress {
public:
  TQuietProgress(std::ostream& output, bool terminal);
  ~TQuietProgress() override;
  TQuietProgress(const TQuietProgress&) = delete;
  TQuietProgress& operator=(const TQuietProgress&) = delete;

  void RunStarted(int sourceCount) override;
  void SourceStarted(int index, const std::string& sourceName, int processed) override;
  void FailureNoted(const std::string& line) override;

private:
  void ClearLine();

  std::ostream& FOutput;
  bool FTerminal;
  bool FLineShown = false;
  int FSourceCount = 0;
};

// Prints options.txt from the program's folder; false (with a message on errors) when it is missing.
bool PrintOptionsText(std::ostream& output, std::ostream& errors);

// Runs the command line (arguments without the program name) and returns the exit status.
// Failure lines go to errors as they happen. An invalid option value is rethrown as
// EConvertError after the log has been written.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& output, std::ostream& errors,
                   bool errorsIsTerminal);

}  // namespace glyphmill
