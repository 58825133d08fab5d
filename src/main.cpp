// Program entry: the uninstall hook first, then the application in the mode its arguments choose.
#include <string>
#include <vector>

#include "app/startup.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (glyphmill::HandleUninstallArgument(arguments)) return 0;
  return glyphmill::ExecuteApplication(arguments);
}
