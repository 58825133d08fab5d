// Integers written as text the way the command line and library icon names read them:
// decimal, or hexadecimal after "$", with an optional sign.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/errors.h"

namespace glyphmill {

// A text that should have held a number or a colour and did not.
class EConvertError : public EGlyphmillError {
public:
  using EGlyphmillError::EGlyphmillError;
};

// The 32-bit value of text, or nothing. Hexadecimal may use all 32 bits ("$FFFFFFFF" is −1);
// decimal must fit a signed 32-bit integer.
std::optional<int32_t> TryStrToInt(const std::string& text);

// As TryStrToInt, but fails with EConvertError "'text' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// A non-negative decimal number that fits a signed 32-bit integer, or nothing.
std::optional<int32_t> TryDecimal(const std::string& text);

}  // namespace glyphmill
