// Helpers shared by the test suites: where fixtures and the shared corpus live, temporary folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace glyphmill::test {

// tests/fixtures/
std::filesystem::path FixturesDir();
// ../shared/corpus/ (GLYPHMILL_CORPUS in the environment overrides); empty when absent.
std::filesystem::path CorpusDir();
// The build folder (where build/glyphmill and options.txt live).
std::filesystem::path BinaryDir();

// A fresh folder under the system temporary folder, removed when the object dies.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& name) const { return FPath / name; }

private:
  std::filesystem::path FPath;
};

std::vector<uint8_t> ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// Whole files as text; a file that cannot be read reads as "".
std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);
// text as one word for /bin/sh: in single quotes, inner single quotes escaped.
std::string ShellQuote(const std::string& text);
// True when an executable exists at this absolute path.
bool ToolExists(const std::string& path);
// Runs a command through /bin/sh, returning its exit status and standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace glyphmill::test
