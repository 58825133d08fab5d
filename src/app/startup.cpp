#include "app/startup.h"

#include <unistd.h>

#include <iostream>

#include "app/commandlinerun.h"
#include "app/integertext.h"

namespace glyphmill {

bool CommandLineMode = false;

bool HandleUninstallArgument(const std::vector<std::string>& arguments) {
  return arguments.size() == 1 && arguments[0] == "-uninstall";
}

int ExecuteApplication(const std::vector<std::string>& arguments) {
  CommandLineMode = !arguments.empty();
  try {
    if (!CommandLineMode) return PrintOptionsText(std::cout, std::cerr) ? 0 : 1;
    return RunCommandLine(arguments, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
  } catch (const EConvertError& error) {
    std::cerr << error.what() << std::endl;
    return 2;
  } catch (const std::exception& error) {
    std::cerr << error.what() << std::endl;
    return 1;
  }
}

}  // namespace glyphmill
