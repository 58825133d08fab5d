#include "app/colornames.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "app/integertext.h"

namespace glyphmill {

namespace {

constexpr std::array<TColorIdent, 48> ColorTable{{
    {"clBlack", RGBColor(0, 0, 0)},
    {"clMaroon", RGBColor(128, 0, 0)},
    {"clGreen", RGBColor(0, 128, 0)},
    {"clOlive", RGBColor(128, 128, 0)},
    {"clNavy", RGBColor(0, 0, 128)},
    {"clPurple", RGBColor(128, 0, 128)},
    {"clTeal", RGBColor(0, 128, 128)},
    {"clGray", RGBColor(128, 128, 128)},
    {"clSilver", RGBColor(192, 192, 192)},
    {"clRed", RGBColor(255, 0, 0)},
    {"clLime", RGBColor(0, 255, 0)},
    {"clYellow", RGBColor(255, 255, 0)},
    {"clBlue", RGBColor(0, 0, 255)},
    {"clFuchsia", RGBColor(255, 0, 255)},
    {"clAqua", RGBColor(0, 255, 255)},
    {"clWhite", RGBColor(255, 255, 255)},
    {"clScrollBar", RGBColor(212, 208, 200)},
    {"clBackground", RGBColor(58, 110, 165)},
    {"clActiveCaption", RGBColor(10, 36, 106)},
    {"clInactiveCaption", RGBColor(128, 128, 128)},
    {"clMenu", RGBColor(212, 208, 200)},
    {"clWindow", RGBColor(255, 255, 255)},
    {"clWindowFrame", RGBColor(0, 0, 0)},
    {"clMenuText", RGBColor(0, 0, 0)},
    {"clWindowText", RGBColor(0, 0, 0)},
    {"clCaptionText", RGBColor(255, 255, 255)},
    {"clActiveBorder", RGBColor(212, 208, 200)},
    {"clInactiveBorder", RGBColor(212, 208, 200)},
    {"clAppWorkSpace", RGBColor(128, 128, 128)},
    {"clHighlight", RGBColor(10, 36, 106)},
    {"clHighlightText", RGBColor(255, 255, 255)},
    {"clBtnFace", RGBColor(212, 208, 200)},
    {"clBtnShadow", RGBColor(128, 128, 128)},
    {"clGrayText", RGBColor(128, 128, 128)},
    {"clBtnText", RGBColor(0, 0, 0)},
    {"clInactiveCaptionText", RGBColor(212, 208, 200)},
    {"clBtnHighlight", RGBColor(255, 255, 255)},
    {"cl3DDkShadow", RGBColor(64, 64, 64)},
    {"cl3DLight", RGBColor(212, 208, 200)},
    {"clInfoText", RGBColor(0, 0, 0)},
    {"clInfoBk", RGBColor(255, 255, 225)},
    {"clHotLight", RGBColor(0, 0, 128)},
    {"clGradientActiveCaption", RGBColor(166, 202, 240)},
    {"clGradientInactiveCaption", RGBColor(192, 192, 192)},
    {"clMenuHighlight", RGBColor(10, 36, 106)},
    {"clMenuBar", RGBColor(212, 208, 200)},
    {"clNone", clNone},
    {"clDefault", clDefault},
}};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A known colour name, else the text as an integer (failing with the integer message).
TColor StringToColor(const std::string& text) {
  if (const auto value = IdentToColor(text)) return *value;
  return static_cast<TColor>(StrToInt(text));
}

TColor HexToColor(const std::string& digits, const std::string& shownText) {
  const auto value = digits.empty() ? std::nullopt : TryStrToInt("$" + digits);
  if (!value) throw EConvertError("'" + shownText + "' is not a valid integer value");
  return static_cast<TColor>(*value);
}

}  // namespace

std::span<const TColorIdent> StandardColors() { return ColorTable; }

std::optional<TColor> IdentToColor(const std::string& name) {
  const std::string wanted = Lower(name);
  const auto found = std::find_if(ColorTable.begin(), ColorTable.end(),
                                  [&](const TColorIdent& ident) { return Lower(ident.Name) == wanted; });
  if (found == ColorTable.end()) return std::nullopt;
  return found->Value;
}

TColor TextToColor(const std::string& text) {
  const std::string lower = Lower(text);
  if (lower.empty()) throw EConvertError("'' is not a valid integer value");
  if (lower[0] == '#') {
    const TColor rgb = HexToColor(lower.substr(1), lower);
    return RGBColor(GetBValue(rgb), GetGValue(rgb), GetRValue(rgb)) | (rgb & 0xFF000000u);
  }
  // "0x" before the digit rule: its leading 0 is a digit, but the integer syntax has no "0x".
  if (lower.starts_with("0x")) return HexToColor(lower.substr(2), lower);
  if (lower[0] == '$' || IsDigit(lower[0])) return static_cast<TColor>(StrToInt(lower));
  if (lower.starts_with("cl")) return lower == "cldefault" ? clDefault : StringToColor(lower);
  if (lower == "default") return clDefault;
  return StringToColor("cl" + lower);
}

}  // namespace glyphmill
