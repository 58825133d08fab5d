#include <gtest/gtest.h>

#include <sstream>

#include "app/commandlinerun.h"

namespace glyphmill {
namespace {

// Drives a sink through two sources, the second failing, and returns what it wrote.
std::string Shown(bool terminal) {
  std::ostringstream output;
  {
    TQuietProgress progress(output, terminal);
    progress.RunStarted(2);
    progress.SourceStarted(0, "/in/a.png", 1);
    progress.FileSaved("/out/a.ico", 1);
    progress.SourceStarted(1, "/in/b.png", 2);
    progress.FailureNoted("Invalid image, source: /in/b.png");
  }
  return output.str();
}

TEST(QuietProgressTest, ProgressLineOnlyOnATerminal) {
  EXPECT_EQ(Shown(false), "Invalid image, source: /in/b.png\n");
  EXPECT_EQ(Shown(true),
            "\r\x1b[K[1/2] /in/a.png"
            "\r\x1b[K[2/2] /in/b.png"
            "\r\x1b[KInvalid image, source: /in/b.png\n");
}

}  // namespace
}  // namespace glyphmill
