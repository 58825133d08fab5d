// Child processes started without a shell (an argument vector handed to posix_spawn) and waited
// for, and private temporary folders that are removed with everything in them.
#pragma once

#include <string>
#include <vector>

namespace glyphmill {

// Starts program (an absolute path) with arguments (not counting the program itself), its standard
// input, output and error on /dev/null, and waits without time limit until it ends. Returns its
// exit status, or -1 when it could not be started or ended by a signal.
int RunProcess(const std::string& program, const std::vector<std::string>& arguments);

// True when path names a regular file this process may execute.
bool IsExecutableFile(const std::string& path);

// A fresh folder only this user can enter, under $TMPDIR (else /tmp); removed with its contents
// when the object dies, whatever happened in between.
class TPrivateTempDir {
public:
  TPrivateTempDir();
  ~TPrivateTempDir();
  TPrivateTempDir(const TPrivateTempDir&) = delete;
  TPrivateTempDir& operator=(const TPrivateTempDir&) = delete;

  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
};

}  // namespace glyphmill
