#include "app/integertext.h"

namespace glyphmill {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<int32_t> TryStrToInt(const std::string& text) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  if (pos < text.size() && text[pos] == '$') {
    ++pos;
    if (pos == text.size() || text.size() - pos > 8) return std::nullopt;
    uint32_t value = 0;
    for (; pos < text.size(); ++pos) {
      const int digit = HexDigit(text[pos]);
      if (digit < 0) return std::nullopt;
      value = value << 4 | static_cast<uint32_t>(digit);
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
  }
  if (pos == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    if (text[pos] < '0' || text[pos] > '9') return std::nullopt;
    value = value * 10 + (text[pos] - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t StrToInt(const std::string& text) {
  if (const auto value = TryStrToInt(text)) return *value;
  throw EConvertError("'" + text + "' is not a valid integer value");
}

std::optional<int32_t> TryDecimal(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

}  // namespace glyphmill
