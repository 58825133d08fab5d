// Program start-up: the uninstall hook, the choice between the command-line converter and the
// wizard, and the exit status of the process.
#pragma once

#include <string>
#include <vector>

namespace glyphmill {

// True when the program was started with arguments; decided once at start-up.
extern bool CommandLineMode;

// True exactly when the only argument is "-uninstall"; the program then ends at once. There is no
// feedback page to open on this platform, so it ends quietly.
bool HandleUninstallArgument(const std::vector<std::string>& arguments);

// Sets CommandLineMode and runs: with arguments one command-line run, without arguments (a
// build without the wizard) the options text on standard output. Errors that end the whole run
// are shown on standard error. Returns the exit status: 0 nothing failed, 1 something failed,
// 2 the command line was invalid.
int ExecuteApplication(const std::vector<std::string>& arguments);

}  // namespace glyphmill
