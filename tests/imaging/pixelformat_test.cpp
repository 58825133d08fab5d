#include <gtest/gtest.h>

#include "imaging/pixelformat.h"

namespace glyphmill {
namespace {

TEST(PixelFormat, BitsCodesAndNames) {
  const std::vector<std::pair<int, int>> bitsOfFormat = {{-1, 0}, {0, 0},  {1, 1},  {2, 4},  {3, 8},
                                                         {4, 16}, {5, 16}, {6, 24}, {7, 32}, {8, 0}};
  for (const auto& [format, bits] : bitsOfFormat) EXPECT_EQ(BitsOfFormat(format), bits) << format;

  const std::vector<std::tuple<int, TPixelFormat, const char*>> byBits = {
      {1, pf1bit, "2 colors"},
      {4, pf4bit, "16 colors"},
      {8, pf8bit, "256 colors"},
      {15, pf15bit, "High Color (15 bpp)"},
      {16, pf16bit, "High Color (16 bpp)"},
      {24, pf24bit, "True Color (24 bpp)"},
      {32, pf32bit, "True Color (32 bpp)"},
      {0, pfDevice, "0 bpp"},
      {2, pfDevice, "2 bpp"},
      {48, pfDevice, "48 bpp"},
      {-3, pfDevice, "-3 bpp"},
  };
  for (const auto& [bits, format, name] : byBits) {
    EXPECT_EQ(FormatOfBits(bits), format) << bits;
    EXPECT_EQ(FormatName(bits), name) << bits;
  }
}

TEST(PixelFormat, SwapRedBlueTurnsColoursIntoPixelsAndBack) {
  uint32_t values[] = {RGBColor(0x11, 0x22, 0x33), 0xAABBCCDD, 0};
  SwapRedBlue(values, 3);
  EXPECT_EQ(values[0], 0x00112233u);
  EXPECT_EQ(values[1], 0xAADDCCBBu);
  EXPECT_EQ(values[2], 0u);
  SwapRedBlue(values, 2);
  EXPECT_EQ(values[0], RGBColor(0x11, 0x22, 0x33));
  EXPECT_EQ(values[1], 0xAABBCCDDu);
}

}  // namespace
}  // namespace glyphmill
