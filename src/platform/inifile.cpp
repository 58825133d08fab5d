#include "platform/inifile.h"

#include <filesystem>

#include "support/errors.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

constexpr const char* Utf8Bom = "\xEF\xBB\xBF";

struct TIniText {
  std::vector<std::string> Lines;
  bool Bom = false;
};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

TIniText Load(const std::string& fileName) {
  TIniText text;
  std::error_code error;
  if (!std::filesystem::is_regular_file(fileName, error)) return text;
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadFileBytes(fileName);
  } catch (const EStreamError&) {
    return text;
  }
  std::string content(bytes.begin(), bytes.end());
  if (content.starts_with(Utf8Bom)) {
    text.Bom = true;
    content.erase(0, 3);
  }
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text.Lines.push_back(std::move(line));
    start = end + 1;
  }
  return text;
}

void Save(const std::string& fileName, const TIniText& text) {
  std::string content = text.Bom ? Utf8Bom : "";
  for (const std::string& line : text.Lines) content += line + "\n";
  try {
    WriteFileAtomically(fileName, std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
  } catch (const std::exception&) {
    throw EGlyphmillError("Unable to write to " + fileName);
  }
}

// The section name of a "[name]" line.
bool SectionHeader(const std::string& line, std::string& name) {
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() != '[') return false;
  const size_t close = trimmed.rfind(']');
  name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// The key and value of a "key=value" line; a line without "=" is a key with an empty value.
bool KeyLine(const std::string& line, std::string& key, std::string& value) {
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return false;
  const size_t equals = trimmed.find('=');
  key = Trim(trimmed.substr(0, equals));
  value = equals == std::string::npos ? std::string() : Trim(trimmed.substr(equals + 1));
  return !key.empty();
}

// Lines [First, Last) of the first section of that name: its header at First − 1.
struct TSectionRange {
  size_t First = 0;
  size_t Last = 0;
  bool Found = false;
};

TSectionRange FindSection(const std::vector<std::string>& lines, const std::string& section, size_t from = 0) {
  TSectionRange range;
  std::string name;
  for (size_t i = from; i < lines.size(); ++i) {
    if (!SectionHeader(lines[i], name)) continue;
    if (range.Found) {
      range.Last = i;
      return range;
    }
    if (SameName(name, Trim(section))) {
      range.Found = true;
      range.First = i + 1;
    }
  }
  range.Last = lines.size();
  return range;
}

// The index of the key's line inside the section, or npos.
size_t FindKey(const std::vector<std::string>& lines, TSectionRange range, const std::string& key) {
  std::string name, value;
  for (size_t i = range.First; i < range.Last; ++i)
    if (KeyLine(lines[i], name, value) && SameName(name, Trim(key))) return i;
  return std::string::npos;
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Decimal, or hexadecimal after "$", "x" or "0x", with an optional sign; the whole text must be used
// and the value must fit 32 bits (hexadecimal wraps into the sign bit, as in "$FFFFFFFF" = −1).
bool ParseInteger(const std::string& text, int& result) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = LowerAscii(text[i]);
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    if (digit < 0) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return false;
  }
  if (base == 10 && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return false;
  const uint32_t bits = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  result = static_cast<int>(bits);
  return true;
}

}  // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  const TIniText text = Load(FFileName);
  const TSectionRange range = FindSection(text.Lines, section);
  if (!range.Found) return defaultValue;
  const size_t line = FindKey(text.Lines, range, key);
  if (line == std::string::npos) return defaultValue;
  std::string name, value;
  KeyLine(text.Lines[line], name, value);
  return Unquote(value);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
  int value = 0;
  return ParseInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  const TIniText text = Load(FFileName);
  const TSectionRange range = FindSection(text.Lines, section);
  std::vector<std::string> keys;
  if (!range.Found) return keys;
  std::string name, value;
  for (size_t i = range.First; i < range.Last; ++i)
    if (KeyLine(text.Lines[i], name, value)) keys.push_back(name);
  return keys;
}

bool TIniFile::SectionExists(const std::string& section) const { return !ReadSection(section).empty(); }

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  for (const std::string& name : ReadSection(section))
    if (SameName(name, Trim(key))) return true;
  return false;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  // A line break inside a value would start a new line of the file and could forge other keys.
  std::string oneLine = value;
  for (char& c : oneLine)
    if (c == '\r' || c == '\n') c = ' ';
  TIniText text = Load(FFileName);
  const TSectionRange range = FindSection(text.Lines, section);
  if (!range.Found) {
    if (!text.Lines.empty() && !Trim(text.Lines.back()).empty()) text.Lines.emplace_back();
    text.Lines.push_back("[" + section + "]");
    text.Lines.push_back(key + "=" + oneLine);
    Save(FFileName, text);
    return;
  }
  const size_t line = FindKey(text.Lines, range, key);
  if (line != std::string::npos) {
    std::string name, old;
    KeyLine(text.Lines[line], name, old);
    text.Lines[line] = name + "=" + oneLine;
  } else {
    // After the section's last non-blank line, so blank lines before the next section stay there.
    size_t insertAt = range.First;
    for (size_t i = range.First; i < range.Last; ++i)
      if (!Trim(text.Lines[i]).empty()) insertAt = i + 1;
    text.Lines.insert(text.Lines.begin() + static_cast<std::ptrdiff_t>(insertAt), key + "=" + oneLine);
  }
  Save(FFileName, text);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section) {
  TIniText text = Load(FFileName);
  bool changed = false;
  for (TSectionRange range = FindSection(text.Lines, section); range.Found;
       range = FindSection(text.Lines, section, range.First - 1)) {
    text.Lines.erase(text.Lines.begin() + static_cast<std::ptrdiff_t>(range.First - 1),
                     text.Lines.begin() + static_cast<std::ptrdiff_t>(range.Last));
    changed = true;
  }
  if (changed) Save(FFileName, text);
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  TIniText text = Load(FFileName);
  TSectionRange range = FindSection(text.Lines, section);
  if (!range.Found) return;
  bool changed = false;
  for (size_t line = FindKey(text.Lines, range, key); line != std::string::npos;
       line = FindKey(text.Lines, range, key)) {
    text.Lines.erase(text.Lines.begin() + static_cast<std::ptrdiff_t>(line));
    --range.Last;
    changed = true;
  }
  if (changed) Save(FFileName, text);
}

}  // namespace glyphmill
