#include "platform/folders.h"

#include <cstdlib>
#include <filesystem>

namespace glyphmill {

namespace {

namespace fs = std::filesystem;

// One character of a file name for matching: a UTF-8 sequence is one character, ASCII letters
// compare in lower case.
std::u32string FoldName(const std::string& text) {
  std::u32string result;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (i + length > text.size()) length = 1;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    result.push_back(c);
    i += length;
  }
  return result;
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

}  // namespace

std::string ProgramFolder() {
  static const std::string folder = [] {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    const fs::path parent = error ? fs::current_path(error) : program.parent_path();
    return AddTrailingBackslash(parent.string());
  }();
  return folder;
}

std::string SettingsFolder() {
  fs::path base;
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  // Only an absolute $XDG_CONFIG_HOME counts; a relative one is to be ignored.
  if (configHome != nullptr && configHome[0] == '/' && IsFolder(configHome))
    base = configHome;
  else if (home != nullptr && home[0] != '\0' && IsFolder(fs::path(home) / ".config"))
    base = fs::path(home) / ".config";
  else
    return ProgramFolder();
  const fs::path folder = base / "Brightfold" / "Glyphmill";
  std::error_code error;
  fs::create_directories(folder, error);
  if (!IsFolder(folder)) return ProgramFolder();
  return AddTrailingBackslash(folder.string());
}

std::string AddTrailingBackslash(const std::string& name) {
  if (name.empty() || name.back() == '/') return name;
  return name + '/';
}

std::string RemoveTrailingBackslash(const std::string& name) {
  std::string result = AddTrailingBackslash(name);
  if (result.size() > 1) result.pop_back();
  return result;
}

std::string LongPathName(const std::string& name) {
  if (name.empty() || name.front() == '/') return name;
  std::error_code error;
  const fs::path absolute = fs::absolute(name, error);
  return error ? name : absolute.string();
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask == "*.*") return true;
  const std::u32string n = FoldName(name), m = FoldName(mask);
  // Greedy matching with one backtrack point: the last '*' seen.
  size_t ni = 0, mi = 0, starMask = std::u32string::npos, starName = 0;
  while (ni < n.size()) {
    if (mi < m.size() && (m[mi] == U'?' || m[mi] == n[ni])) {
      ++ni;
      ++mi;
    } else if (mi < m.size() && m[mi] == U'*') {
      starMask = mi++;
      starName = ni;
    } else if (starMask != std::u32string::npos) {
      mi = starMask + 1;
      ni = ++starName;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == U'*') ++mi;
  return mi == m.size();
}

std::vector<std::string> FindFilesInFolder(const std::string& folder, const std::string& mask) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator entries(folder.empty() ? fs::path(".") : fs::path(folder),
                                 fs::directory_options::skip_permission_denied, error);
  if (error) return names;
  for (auto it = entries; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    std::error_code statusError;
    if (it->is_directory(statusError)) continue;
    const std::string name = it->path().filename().string();
    if (MatchesMask(name, mask)) names.push_back(name);
  }
  return names;
}

}  // namespace glyphmill
