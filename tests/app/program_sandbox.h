// A copy of the built program in a folder of its own (log.txt goes beside it), with a settings
// folder and a work folder of its own, run the way a user runs it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace glyphmill::test {

class TProgramSandbox : public ::testing::Test {
protected:
  void SetUp() override;

  struct TResult {
    int Status = -1;
    std::string Out;
    std::string Err;
  };

  // Runs the program in the work folder with arguments already quoted for the shell; it is killed
  // after timeout seconds.
  TResult Run(const std::string& arguments, int timeout = 120);

  std::filesystem::path Work(const std::string& name) const { return FTemp / "work" / name; }

  TTempDir FTemp;
};

}  // namespace glyphmill::test
