#include "app/outputnames.h"

#include <algorithm>

#include "app/commandline.h"
#include "app/integertext.h"
#include "platform/folders.h"

namespace glyphmill {

namespace {

bool IsComOrLptWithDigit(const std::string& lower) {
  return lower.size() == 4 && (lower.starts_with("com") || lower.starts_with("lpt")) && lower[3] >= '1' &&
         lower[3] <= '9';
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool IsReservedDeviceName(const std::string& name) {
  const std::string lower = LowerCase(name);
  return lower == "aux" || lower == "con" || lower == "prn" || lower == "nul" || IsComOrLptWithDigit(lower);
}

std::string SafeFileBaseName(const std::string& base) {
  const std::string lower = LowerCase(base);
  std::string result = base;
  if (lower == "aux" || lower == "con" || lower == "com" || lower == "prn" || lower == "lpt" || lower == "nul" ||
      IsComOrLptWithDigit(lower))
    result += '_';
  std::erase_if(result, [](char c) { return std::string_view("\"*/:;<>?\\").find(c) != std::string_view::npos; });
  return result;
}

std::string IncrementNumericSuffix(const std::string& text) {
  std::string result = text;
  size_t pos = result.size();
  while (pos > 0) {
    char& digit = result[pos - 1];
    if (digit < '0' || digit > '9') break;
    if (digit != '9') {
      ++digit;
      return result;
    }
    digit = '0';
    --pos;
  }
  result.insert(pos, 1, '1');
  return result;
}

void TSavedNames::Add(const std::string& fileName) { FNames.push_back(fileName); }

bool TSavedNames::Contains(const std::string& fileName) const {
  const std::string wanted = LowerCase(fileName);
  return std::any_of(FNames.begin(), FNames.end(), [&](const std::string& name) { return LowerCase(name) == wanted; });
}

std::string UniqueOutputName(const std::string& folderAndBase, const std::string& extension, const TSavedNames& saved) {
  const std::string folder = FolderOf(folderAndBase);
  std::string base = folderAndBase.substr(folder.size());
  // Each step makes the number longer or larger, so a free name always turns up.
  while (saved.Contains(folder + base + extension) || IsReservedDeviceName(base)) base = IncrementNumericSuffix(base);
  return folder + base + extension;
}

std::string OutputNameFor(const std::string& base, const std::string& folder, const std::string& source,
                          const TSavedNames& saved) {
  const std::string target = folder.empty() ? FolderOf(source) : folder;
  return UniqueOutputName(target + SafeFileBaseName(base), ".ico", saved);
}

std::string FileBaseName(const std::string& path) {
  const std::string name = path.substr(FolderOf(path).size());
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

int LibraryIconDigits(const std::string& base, int count) {
  const int digits = static_cast<int>(std::to_string(count).size());
  return digits == 1 && IsReservedDeviceName(base + "1") ? 2 : digits;
}

std::string LibraryIconCandidate(const std::string& base, const std::string& iconName, int index, int digits) {
  if (iconName.empty()) {
    std::string number = std::to_string(index);
    if (static_cast<int>(number.size()) < digits) number.insert(0, static_cast<size_t>(digits) - number.size(), '0');
    return base + number;
  }
  const auto id = TryStrToInt(iconName);
  if (!id || *id == -1) return iconName;
  return base + iconName;
}

std::string FailureLine(const std::string& message, const std::string& source, int iconIndex) {
  if (message.find(source) != std::string::npos) return message;
  std::string line = message + ", source: " + source;
  if (iconIndex >= 0) line += "," + std::to_string(iconIndex);
  return line;
}

}  // namespace glyphmill
