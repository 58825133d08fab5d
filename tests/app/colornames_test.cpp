#include "app/colornames.h"

#include <gtest/gtest.h>

#include "app/integertext.h"

namespace glyphmill {
namespace {

TEST(TextToColorTest, Forms) {
  const std::pair<const char*, TColor> cases[] = {
      {"#FF0000", 0x0000FF},
      {"#00ff00", 0x00FF00},
      {"#0000FF", 0xFF0000},
      {"#123456", 0x563412},
      {"255", 255},
      {"$FF0000", 0xFF0000},
      {"$1fffffff", NoColor},
      {"0x00FF00", 0x00FF00},
      {"0XABCDEF", 0xABCDEF},
      {"16777215", 0xFFFFFF},
      {"red", 0x0000FF},
      {"clRed", 0x0000FF},
      {"CLRED", 0x0000FF},
      {"white", 0xFFFFFF},
      {"navy", 0x800000},
      {"clFuchsia", 0xFF00FF},
      {"clNone", NoColor},
      {"none", NoColor},
      {"cldefault", clDefault},
      {"Default", clDefault},
      {"btnface", RGBColor(212, 208, 200)},
      {"clHighlight", RGBColor(10, 36, 106)},
      {"infobk", RGBColor(255, 255, 225)},
      {"cl3ddkshadow", RGBColor(64, 64, 64)},
  };
  for (const auto& [text, color] : cases) EXPECT_EQ(TextToColor(text), color) << text;
}

TEST(TextToColorTest, InvalidTextsFailWithTheIntegerMessage) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "'' is not a valid integer value"},
      {"nosuchcolour", "'clnosuchcolour' is not a valid integer value"},
      {"clNoSuch", "'clnosuch' is not a valid integer value"},
      {"12abc", "'12abc' is not a valid integer value"},
      {"$", "'$' is not a valid integer value"},
      {"#", "'#' is not a valid integer value"},
      {"#gg0000", "'#gg0000' is not a valid integer value"},
      {"0x", "'0x' is not a valid integer value"},
      {"99999999999", "'99999999999' is not a valid integer value"},
      {"-1", "'cl-1' is not a valid integer value"},
      {"cl255", "'cl255' is not a valid integer value"},
  };
  for (const auto& [text, message] : cases) {
    try {
      TextToColor(text);
      ADD_FAILURE() << text << " was accepted";
    } catch (const EConvertError& error) {
      EXPECT_STREQ(error.what(), message);
    }
  }
}

TEST(TextToColorTest, EveryTableNameReadsBack) {
  EXPECT_EQ(StandardColors().size(), 48u);
  for (const TColorIdent& ident : StandardColors()) EXPECT_EQ(TextToColor(ident.Name), ident.Value) << ident.Name;
}

TEST(IntegerTextTest, PlatformSyntax) {
  const std::pair<const char*, std::optional<int32_t>> cases[] = {
      {"0", 0},
      {"42", 42},
      {"-1", -1},
      {"+7", 7},
      {"$ff", 255},
      {"$FFFFFFFF", -1},
      {"-$10", -16},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"$123456789", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"1 ", std::nullopt},
      {"MAINICON", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(TryStrToInt(text), value) << text;
}

}  // namespace
}  // namespace glyphmill
