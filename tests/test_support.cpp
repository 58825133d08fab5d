#include "test_support.h"

#include <unistd.h>

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace glyphmill::test {

std::filesystem::path FixturesDir() { return GLYPHMILL_FIXTURES; }

std::filesystem::path CorpusDir() {
  if (const char* env = std::getenv("GLYPHMILL_CORPUS")) return env;
  std::filesystem::path path = GLYPHMILL_CORPUS;
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) return {};
  return std::filesystem::canonical(path, error);
}

std::filesystem::path BinaryDir() { return GLYPHMILL_BINARY_DIR; }

TTempDir::TTempDir() {
  std::random_device random;
  FPath = std::filesystem::temp_directory_path() /
          ("glyphmill-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
  std::filesystem::create_directories(FPath);
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadText(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = ReadAll(path);
  return {bytes.begin(), bytes.end()};
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool ToolExists(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    if (output) output->append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace glyphmill::test
