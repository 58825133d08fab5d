#include "support/streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

std::span<const uint8_t> Text(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(WriteFileAtomically, ReplacesTheFileAndLeavesNothingElseBehind) {
  test::TTempDir dir;
  const std::string target = (dir / "a.ico").string();
  WriteFileAtomically(target, Text("first"));
  WriteFileAtomically(target, Text("second, longer"));
  const auto bytes = ReadFileBytes(target);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "second, longer");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(WriteFileAtomically, FailuresNameTheRequestedFile) {
  test::TTempDir dir;
  const std::string inMissingFolder = (dir / "missing" / "a.ico").string();
  const std::string onAFolder = (dir / "folder").string();
  std::filesystem::create_directory(onAFolder);
  for (const std::string& target : {inMissingFolder, onAFolder}) {
    try {
      WriteFileAtomically(target, Text("x"));
      ADD_FAILURE() << target << " was written";
    } catch (const EStreamError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + target + "\". ", 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "a temporary file was left";
}

}  // namespace
}  // namespace glyphmill
