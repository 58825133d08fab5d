#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "support/errors.h"

extern char** environ;

namespace glyphmill {

int RunProcess(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> storage;
  storage.reserve(arguments.size() + 1);
  storage.push_back(program);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  // The child's chatter must not reach our own output; it is not ours to show.
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  pid_t pid = 0;
  const int status = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0) return -1;
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

TPrivateTempDir::TPrivateTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base && *base ? std::string(base) : std::string("/tmp")) + "/glyphmill-XXXXXX";
  // mkdtemp makes the folder with mode 0700, so no other user can place or read files in it.
  if (!::mkdtemp(pattern.data())) {
    pattern = "/tmp/glyphmill-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw EGlyphmillError("Cannot create a temporary folder");
  }
  FPath = pattern;
}

TPrivateTempDir::~TPrivateTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

}  // namespace glyphmill
