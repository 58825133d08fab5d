// Where the program and its settings live, path-name helpers, and file-mask listing.
#pragma once

#include <string>
#include <vector>

namespace glyphmill {

// The folder of the running program, with a trailing '/'.
std::string ProgramFolder();
// $XDG_CONFIG_HOME, else $HOME/.config, with Brightfold/Glyphmill/ below it (created when missing);
// the program folder when neither base folder exists or the subfolders cannot be created.
// Always ends in '/'.
std::string SettingsFolder();

// An empty name stays empty; a name not ending in '/' gets one.
std::string AddTrailingBackslash(const std::string& name);
// Removes the trailing '/' except from the root "/".
std::string RemoveTrailingBackslash(const std::string& name);
// Linux has no short names: an absolute name is returned unchanged, a relative one is made
// absolute against the current folder.
std::string LongPathName(const std::string& name);

// True when name matches mask: '*' any run of characters, '?' exactly one, letter case ignored;
// "*.*" matches every name.
bool MatchesMask(const std::string& name, const std::string& mask);
// The names (without folder) of the entries of folder that are not directories and match mask,
// in the order the file system lists them. A missing or unreadable folder gives an empty list.
std::vector<std::string> FindFilesInFolder(const std::string& folder, const std::string& mask);

}  // namespace glyphmill
