// TIniFile: the settings file reader/writer. Section and key names are compared without regard to
// letter case; every read parses the file afresh and every write rewrites it at once, so several
// objects over one file always agree. A missing file, section or key gives the caller's default.
#pragma once

#include <string>
#include <vector>

namespace glyphmill {

class TIniFile {
public:
  explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

  const std::string& FileName() const { return FFileName; }

  // The value with surrounding blanks removed (and one pair of matching quotes around it).
  std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
  // Decimal, or hexadecimal after "$", "0x" or "x", with an optional sign; anything else gives the default.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // An integer other than 0 is true.
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // The key names of a section in file order.
  std::vector<std::string> ReadSection(const std::string& section) const;

  // Writes fail with EGlyphmillError("Unable to write to <file name>").
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  // Written as 1 or 0.
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

private:
  std::string FFileName;
};

}  // namespace glyphmill
