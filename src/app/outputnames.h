// Names of the icon files a run writes: safe base names, reserved device names, names made unique
// against the files already written in the run, names of the icons of a multi-icon source, and
// the report line of a failure.
#pragma once

#include <string>
#include <vector>

namespace glyphmill {

// "aux", "con", "prn", "nul", "com1".."com9", "lpt1".."lpt9", letter case ignored. Kept on Linux so
// that the files stay valid when copied to Windows.
bool IsReservedDeviceName(const std::string& name);

// Appends "_" to a device name (and to "com", "lpt"), then removes the characters a Windows file
// name cannot hold: double quote, "*", "/", ":", ";", "<", ">", "?" and "\".
std::string SafeFileBaseName(const std::string& base);

// Adds one to the decimal number at the end of text: "a" -> "a1", "a9" -> "a10", "99" -> "100".
std::string IncrementNumericSuffix(const std::string& text);

// The file names written so far in a run, compared without regard to letter case.
class TSavedNames {
public:
  void Add(const std::string& fileName);
  bool Contains(const std::string& fileName) const;

private:
  std::vector<std::string> FNames;
};

// folderAndBase + extension, with the base's numeric suffix increased while that name was already
// written in this run or its base is a device name. Files on disk are not looked at.
std::string UniqueOutputName(const std::string& folderAndBase, const std::string& extension, const TSavedNames& saved);

// The output name of an icon from a base name: safe base, put into folder (or, when folder is
// empty, into the folder of source), made unique with ".ico".
std::string OutputNameFor(const std::string& base, const std::string& folder, const std::string& source,
                          const TSavedNames& saved);

// The file name of a path without folder and without its last extension.
std::string FileBaseName(const std::string& path);

// How many digits the numbers of the unnamed icons of a multi-icon source get: the digits of
// count, but at least 2 when base followed by "1" would be a device name.
int LibraryIconDigits(const std::string& base, int count);

// The base name of icon index of a multi-icon source: an empty name gives base + index with at
// least digits digits; a name that is no integer (or is −1) stands alone; an integer id follows base.
std::string LibraryIconCandidate(const std::string& base, const std::string& iconName, int index, int digits);

// The report line of a failure: message, then ", source: " and the source name (and "," and the
// icon index for an icon of a multi-icon source), unless message already holds the source name.
std::string FailureLine(const std::string& message, const std::string& source, int iconIndex = -1);

}  // namespace glyphmill
