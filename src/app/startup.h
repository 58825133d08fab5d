// Program start-up: chooses between the command-line converter and the wizard.
#pragma once

namespace glyphmill {

// Runs the program with the process arguments; returns the exit status.
int RunMain(int argc, char** argv);

}  // namespace glyphmill
