#include "program_sandbox.h"

namespace glyphmill::test {

namespace fs = std::filesystem;

void TProgramSandbox::SetUp() {
  fs::create_directories(FTemp / "bin");
  fs::create_directories(FTemp / "config");
  fs::create_directories(FTemp / "work");
  fs::copy_file(BinaryDir() / "glyphmill", FTemp / "bin" / "glyphmill");
  fs::copy_file(BinaryDir() / "options.txt", FTemp / "bin" / "options.txt");
}

TProgramSandbox::TResult TProgramSandbox::Run(const std::string& arguments, int timeout) {
  const std::string command = "cd " + ShellQuote((FTemp / "work").string()) +
                              " && XDG_CONFIG_HOME=" + ShellQuote((FTemp / "config").string()) +
                              " HOME=" + ShellQuote(FTemp.Path().string()) + " timeout -s KILL " +
                              std::to_string(timeout) + " " + ShellQuote((FTemp / "bin" / "glyphmill").string()) + " " +
                              arguments + " 2>" + ShellQuote((FTemp / "stderr.txt").string());
  TResult result;
  result.Status = RunCommand(command, &result.Out);
  result.Err = ReadText(FTemp / "stderr.txt");
  return result;
}

}  // namespace glyphmill::test
