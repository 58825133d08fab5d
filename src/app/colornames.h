// Colour names and colour texts: the standard colour table of the user interface and the
// reading of a colour typed on the command line ("t" option).
//
// The system colours (clBtnFace, clWindow ...) have no live desktop theme to come from here, so
// they take the fixed values of the classic default Windows scheme (button face 212,208,200,
// highlight 10,36,106, info background 255,255,225 ...), as plain red-green-blue values.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "platform/bitmap.h"

namespace glyphmill {

inline constexpr TColor clNone = NoColor;
inline constexpr TColor clDefault = 0x20000000;

struct TColorIdent {
  const char* Name;  // as the user interface shows it, e.g. "clBtnFace"
  TColor Value;
};

// The sixteen named colours, the system colours, clNone and clDefault.
std::span<const TColorIdent> StandardColors();

// The value of a colour name (letter case ignored), or nothing.
std::optional<TColor> IdentToColor(const std::string& name);

// Reads a colour text: "#RRGGBB", a number (decimal, "$" or "0x" hexadecimal, red in the low
// byte), "default", a colour name with or without "cl". Fails with EConvertError
// "'text' is not a valid integer value" when the text is none of these.
TColor TextToColor(const std::string& text);

}  // namespace glyphmill
