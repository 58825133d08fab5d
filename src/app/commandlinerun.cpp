#include "app/commandlinerun.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <fstream>
#include <ostream>

#include "app/commandline.h"
#include "app/conversionrun.h"
#include "app/processsource.h"
#include "app/runlog.h"
#include "app/settings.h"
#include "platform/folders.h"
#include "platform/inifile.h"

namespace glyphmill {

const char* const ProductName = "Glyphmill";
const char* const ProductVersion = GLYPHMILL_VERSION;

TQuietProgress::TQuietProgress(std::ostream& output, bool terminal) : FOutput(output), FTerminal(terminal) {}

TQuietProgress::~TQuietProgress() { ClearLine(); }

void TQuietProgress::RunStarted(int sourceCount) { FSourceCount = sourceCount; }

void TQuietProgress::SourceStarted(int index, const std::string& sourceName, int /*processed*/) {
  if (!FTerminal) return;
  FOutput << "\r\x1b[K[" << index + 1 << '/' << FSourceCount << "] " << sourceName << std::flush;
  FLineShown = true;
}

void TQuietProgress::FailureNoted(const std::string& line) {
  ClearLine();
  FOutput << line << '\n' << std::flush;
}

void TQuietProgress::ClearLine() {
  if (!FLineShown) return;
  FOutput << "\r\x1b[K" << std::flush;
  FLineShown = false;
}

bool PrintOptionsText(std::ostream& output, std::ostream& errors) {
  const std::string fileName = ProgramFolder() + "options.txt";
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    errors << "Cannot open " << fileName << '\n';
    return false;
  }
  output << file.rdbuf() << std::flush;
  return true;
}

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& output, std::ostream& errors,
                   bool errorsIsTerminal) {
  if (HelpRequested(arguments)) return PrintOptionsText(output, errors) ? 0 : 1;
  if (std::find(arguments.begin(), arguments.end(), "--version") != arguments.end()) {
    output << ProductName << ' ' << ProductVersion << '\n';
    return 0;
  }

  // Every page reads its stored settings first, exactly as when the wizard creates them.
  TPageSettings settings;
  settings.Load(TIniFile(GetConfigFileName()));

  TSourceWork work;
  TQuietProgress progress(errors, errorsIsTerminal);
  TConversionRun run(progress, [&work](const std::string& source, const TConversionOptions& options, TRunFlags& flags) {
    return ProcessSource(source, work, options, flags);
  });
  std::exception_ptr failure;
  try {
    run.Execute(CommandLineSources(arguments), [&](TConversionOptions& options) {
      OptionsFromSettings(settings, options);
      ParseCommandLineOptions(arguments, options);
    });
  } catch (...) {
    failure = std::current_exception();
  }

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  WriteRunLog(LogFileName(), RunLogLines(local, run.ErrorLines(), run.SourceCount(), run.Processed(), run.Saved()));
  if (failure) std::rethrow_exception(failure);
  return run.ErrorLines().empty() ? 0 : 1;
}

}  // namespace glyphmill
