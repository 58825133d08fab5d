#include "imaging/transparency.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/bitmaptools.h"
#include "imaging/blendtable.h"
#include "test_support.h"

namespace glyphmill {
namespace {

// Transparency modes.
constexpr int tmNone = 0, tmFixedColor = 1, tmLeftTop = 2, tmLeftBottom = 3, tmRightTop = 4, tmRightBottom = 5;

constexpr TColor Magenta = RGBColor(255, 0, 255);
constexpr TColor NearMagenta = RGBColor(254, 0, 255);

TBitmap Bitmap24(int width, int height, TColor fill) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(width, height);
  bitmap.FillRect(Rect(0, 0, width, height), fill);
  return bitmap;
}

TBitmap Bitmap32(int width, int height, uint32_t fill) {
  TBitmap bitmap;
  SizeAndFill32(bitmap, width, height, fill);
  return bitmap;
}

void Set32(TBitmap& bitmap, int x, int y, uint32_t value) { std::memcpy(bitmap.ScanLine(y) + 4 * x, &value, 4); }
uint32_t Get32(const TBitmap& bitmap, int x, int y) { return GetPixel32(bitmap, x, y); }
bool MaskWhite(const TBitmap& mask, int x, int y) { return mask.GetPixel(x, y) == 0xFFFFFF; }

TEST(Transparency, ColorForModeReadsTheCorners) {
  TBitmap picture = Bitmap24(4, 3, RGBColor(9, 9, 9));
  picture.SetPixel(0, 0, RGBColor(1, 0, 0));
  picture.SetPixel(0, 2, RGBColor(2, 0, 0));
  picture.SetPixel(3, 0, RGBColor(3, 0, 0));
  picture.SetPixel(3, 2, RGBColor(4, 0, 0));
  const struct {
    int FMode;
    TColor FExpected;
  } cases[] = {{tmNone, NoColor},
               {tmFixedColor, Magenta},
               {tmLeftTop, RGBColor(1, 0, 0)},
               {tmLeftBottom, RGBColor(2, 0, 0)},
               {tmRightTop, RGBColor(3, 0, 0)},
               {tmRightBottom, RGBColor(4, 0, 0)},
               {6, Magenta}};
  for (const auto& c : cases) {
    TColor color = Magenta;
    EXPECT_EQ(TransparencyColorForMode(picture, c.FMode, color), c.FExpected) << c.FMode;
    EXPECT_EQ(color, c.FExpected) << c.FMode;
  }
}

TEST(Transparency, ColorForModeOnTransparentCornersGivesNoColor) {
  TBitmap picture = Bitmap32(3, 3, 0xFF102030);
  Set32(picture, 2, 2, 0x00112233);
  TColor color = Magenta;
  EXPECT_EQ(TransparencyColorForMode(picture, tmRightBottom, color), NoColor);
  color = Magenta;
  EXPECT_EQ(TransparencyColorForMode(picture, tmLeftTop, color), RGBColor(0x10, 0x20, 0x30));
  color = Magenta;
  EXPECT_EQ(TransparencyColorForMode(picture, 6, color), NoColor);
  TBitmap empty;
  color = Magenta;
  EXPECT_EQ(TransparencyColorForMode(empty, tmLeftTop, color), NoColor);
}

// The colour is cut out by exact match only: a pixel one step away stays.
TEST(Transparency, CuttingOutMatchesExactly) {
  TBitmap picture = Bitmap24(5, 2, RGBColor(10, 20, 30));
  picture.SetPixel(0, 0, Magenta);
  picture.SetPixel(3, 1, Magenta);
  picture.SetPixel(1, 0, NearMagenta);
  TColor color = NoColor;
  TransparencyColorForMode(picture, tmLeftTop, color);
  TBitmap mask;
  MaskFromColor(color, picture, mask);
  ASSERT_EQ(mask.PixelFormat(), pf1bit);
  ASSERT_EQ(mask.Width(), 5);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) {
      const bool cut = (x == 0 && y == 0) || (x == 3 && y == 1);
      EXPECT_EQ(MaskWhite(mask, x, y), cut) << x << "," << y;
      if (cut) {
        EXPECT_EQ(picture.GetPixel(x, y), 0u);
      }
    }
  EXPECT_EQ(picture.GetPixel(1, 0), NearMagenta);

  // Adding a second colour keeps the first cut-out.
  AddColorToMask(NearMagenta, picture, mask);
  EXPECT_TRUE(MaskWhite(mask, 0, 0));
  EXPECT_TRUE(MaskWhite(mask, 1, 0));
  EXPECT_FALSE(MaskWhite(mask, 2, 0));

  // NoColor still makes the all-opaque mask and cuts nothing.
  MaskFromColor(NoColor, picture, mask);
  for (int x = 0; x < 5; ++x) EXPECT_FALSE(MaskWhite(mask, x, 0));
}

TEST(Transparency, CuttingOutPalettePicturesAndClearingColor32) {
  TBitmap picture;
  picture.SetPixelFormat(pf4bit);
  picture.SetSize(3, 1);
  picture.SetPixel(0, 0, RGBColor(255, 0, 255));
  picture.SetPixel(1, 0, RGBColor(0, 0, 255));
  picture.SetPixel(2, 0, RGBColor(255, 0, 255));
  TBitmap mask;
  MaskFromColor(Magenta, picture, mask);
  EXPECT_EQ(picture.PixelFormat(), pf4bit);
  EXPECT_EQ(picture.GetPixel(0, 0), 0u);
  EXPECT_EQ(picture.GetPixel(1, 0), RGBColor(0, 0, 255));
  EXPECT_TRUE(MaskWhite(mask, 2, 0));

  // Mode 3 on a 32-bit picture: every pixel of the bottom-left colour becomes 0, whatever its alpha.
  TBitmap picture32 = Bitmap32(3, 2, 0xFF000000 | 0x00FF00FF);
  Set32(picture32, 1, 0, 0x40FF00FF);
  Set32(picture32, 2, 0, 0xFFFE00FF);
  TColor color = NoColor;
  ClearColor32(picture32, TransparencyColorForMode(picture32, tmLeftBottom, color));
  EXPECT_EQ(Get32(picture32, 0, 0), 0u);
  EXPECT_EQ(Get32(picture32, 1, 0), 0u);
  EXPECT_EQ(Get32(picture32, 2, 0), 0xFFFE00FFu);
  // A 32-bit picture given to MaskFromColor keeps the alpha of the pixels it does not cut.
  TBitmap soft = Bitmap32(2, 1, 0x80102030);
  Set32(soft, 1, 0, 0xFFFF00FF);
  MaskFromColor(Magenta, soft, mask);
  EXPECT_EQ(Get32(soft, 0, 0), 0x80102030u);
  EXPECT_EQ(Get32(soft, 1, 0), 0u);
  EXPECT_TRUE(MaskWhite(mask, 1, 0));
}

// The two thresholds side by side: ≤ for MaskFromAlpha, < for the others.
TEST(Transparency, AlphaThresholds) {
  TBitmap picture = Bitmap32(4, 1, 0);
  const uint8_t alphas[4] = {0, 79, 80, 81};
  for (int x = 0; x < 4; ++x) Set32(picture, x, 0, (static_cast<uint32_t>(alphas[x]) << 24) | 0x123456);
  TBitmap inclusive, below, converted24Mask, applied;
  MaskFromAlpha(picture, inclusive, 80);
  MaskFromAlphaBelow(picture, below, 80);
  TBitmap converted24;
  To24BitWithMask(picture, converted24, &converted24Mask, false, 80);
  TBitmap target = CopyTo24Bit(picture);
  ApplyAlphaMask(picture, target, &applied, false, 80);
  ASSERT_EQ(converted24.PixelFormat(), pf24bit);
  for (int x = 0; x < 4; ++x) {
    SCOPED_TRACE(x);
    EXPECT_EQ(MaskWhite(inclusive, x, 0), alphas[x] <= 80);
    EXPECT_EQ(MaskWhite(below, x, 0), alphas[x] < 80);
    EXPECT_EQ(MaskWhite(converted24Mask, x, 0), alphas[x] < 80);
    EXPECT_EQ(MaskWhite(applied, x, 0), alphas[x] < 80);
    const TColor colour = alphas[x] < 80 ? 0 : RGBColor(0x12, 0x34, 0x56);
    EXPECT_EQ(converted24.GetPixel(x, 0), colour);
    EXPECT_EQ(target.GetPixel(x, 0), colour);
  }
  // MaskFromAlpha with keep adds to a mask instead of replacing it.
  TBitmap kept = below;
  kept.SetPixel(3, 0, 0xFFFFFF);
  MaskFromAlpha(picture, kept, 0, true);
  EXPECT_TRUE(MaskWhite(kept, 3, 0));
  EXPECT_TRUE(MaskWhite(kept, 1, 0));
}

TEST(Transparency, KeepWhiteRestoresInvertingPixels) {
  TBitmap picture = Bitmap32(2, 1, 0x00FFFFFF);
  Set32(picture, 1, 0, 0x00FFFFFE);
  for (bool keepWhite : {false, true}) {
    TBitmap target, mask;
    To24BitWithMask(picture, target, &mask, keepWhite, 80);
    EXPECT_EQ(target.GetPixel(0, 0), keepWhite ? 0xFFFFFFu : 0u);
    EXPECT_EQ(target.GetPixel(1, 0), 0u);
    TBitmap palette;
    palette.SetPixelFormat(pf4bit);
    palette.SetSize(2, 1);
    ApplyAlphaMask(picture, palette, &mask, keepWhite, 80);
    EXPECT_EQ(palette.GetPixel(0, 0), keepWhite ? 0xFFFFFFu : 0u);
    EXPECT_TRUE(MaskWhite(mask, 0, 0));
  }
}

TEST(Transparency, AlphaFromMask) {
  TBitmap picture = Bitmap32(3, 1, 0x11223344);
  AlphaFromMask(picture, nullptr, 200);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(Get32(picture, x, 0), 0xC8223344u);
  TBitmap mask = NewMonochromeBitmap();
  mask.SetSize(3, 1);
  mask.FillRect(Rect(0, 0, 3, 1), 0);
  mask.SetPixel(1, 0, 0xFFFFFF);
  AlphaFromMask(picture, &mask, 255);
  EXPECT_EQ(Get32(picture, 0, 0), 0xFF223344u);
  EXPECT_EQ(Get32(picture, 1, 0), 0x00223344u);
}

// A pixel is transparent when blue differs, or when green and red both differ.
TEST(Transparency, MaskFromTwoRenderings) {
  const struct {
    TColor FOnWhite;
    bool FTransparent;
  } cases[] = {
      {RGBColor(10, 20, 30), false},  // identical
      {RGBColor(10, 21, 30), false},  // green only
      {RGBColor(11, 20, 30), false},  // red only
      {RGBColor(10, 20, 31), true},   // blue only
      {RGBColor(11, 21, 30), true},   // green and red
  };
  const int count = static_cast<int>(std::size(cases));
  TBitmap onBlack = Bitmap24(count, 1, RGBColor(10, 20, 30));
  TBitmap onWhite = Bitmap24(count, 1, 0);
  for (int x = 0; x < count; ++x) onWhite.SetPixel(x, 0, cases[x].FOnWhite);
  TBitmap mask;
  MaskFromTwoRenderings(onBlack, onWhite, mask);
  for (int x = 0; x < count; ++x) {
    EXPECT_EQ(MaskWhite(mask, x, 0), cases[x].FTransparent) << x;
    EXPECT_EQ(onBlack.GetPixel(x, 0), cases[x].FTransparent ? 0u : RGBColor(10, 20, 30)) << x;
  }
}

TEST(Transparency, FillRules) {
  // Black and white fill 1- and 24-bit pixel data byte for byte, padding included.
  TBitmap bitmap = Bitmap24(3, 2, RGBColor(1, 1, 1));
  FillBitmap(bitmap, 0xFFFFFF);
  for (size_t i = 0; i < bitmap.BitsSize(); ++i) ASSERT_EQ(bitmap.Bits()[i], 0xFF);
  // Another colour goes through the canvas and leaves the padding alone.
  std::memset(bitmap.Bits(), 0xEE, bitmap.BitsSize());
  FillBitmap(bitmap, RGBColor(1, 2, 3));
  EXPECT_EQ(bitmap.GetPixel(2, 1), RGBColor(1, 2, 3));
  EXPECT_EQ(bitmap.ScanLine(0)[9], 0xEE);

  TBitmap mono = NewMonochromeBitmap();
  SizeAndFill(mono, 9, 2, 0);
  for (size_t i = 0; i < mono.BitsSize(); ++i) ASSERT_EQ(mono.Bits()[i], 0);
  FillRectColor(mono, RGBColor(200, 200, 200), Rect(-5, 1, 3, 9));
  EXPECT_EQ(mono.GetPixel(2, 1), 0xFFFFFFu);
  EXPECT_EQ(mono.GetPixel(3, 1), 0u);
  EXPECT_EQ(mono.GetPixel(0, 0), 0u);
  FillRectColor(mono, RGBColor(20, 20, 20), Rect(0, 0, 9, 2));
  EXPECT_EQ(mono.GetPixel(2, 1), 0u);
  // NoColor means no fill.
  FillBitmap(mono, NoColor);
  EXPECT_EQ(mono.GetPixel(2, 1), 0u);
}

TEST(Transparency, DropEmptyAlpha) {
  TBitmap empty = Bitmap32(2, 2, 0x00405060);
  DropEmptyAlpha(empty);
  EXPECT_EQ(empty.PixelFormat(), pf24bit);
  EXPECT_EQ(empty.GetPixel(1, 1), RGBColor(0x40, 0x50, 0x60));
  TBitmap some = Bitmap32(2, 2, 0);
  Set32(some, 1, 1, 0x01000000);
  DropEmptyAlpha(some);
  EXPECT_EQ(some.PixelFormat(), pf32bit);
}

TEST(Transparency, BlendPixel) {
  ResetBlendTable();
  const uint8_t* table = BlendTable();
  const int w = table[100 * 256 + 60];
  // Both semi-transparent: the table's weight of the upper colour.
  const uint32_t semi = 0x3C000000 | 0x00C80064, under = 0x64000000 | 0x000A00FA;
  const struct {
    uint32_t FUpper;
    uint32_t FLower;
    uint32_t FExpected;
  } cases[] = {
      {0xFF010203, 0x80FFFFFF, 0xFF010203},  // opaque upper
      {0x40010203, 0x00FFFFFF, 0x40010203},  // lower fully transparent
      {0x00010203, 0x80FFFFFF, 0x80FFFFFF},  // upper fully transparent
      // 128 over opaque: cL + (cU − cL) × 128 / 255 per channel, alpha 255.
      {0x80FF0010, 0xFF1020F0,
       0xFF000000u | (static_cast<uint32_t>(0x10 + (0xFF - 0x10) * 128 / 255) << 16) |
           (static_cast<uint32_t>(0x20 + (0x00 - 0x20) * 128 / 255) << 8) |
           static_cast<uint32_t>(0xF0 + (0x10 - 0xF0) * 128 / 255)},
      {semi, under,
       (static_cast<uint32_t>(60 + 100 - 60 * 100 / 255) << 24) |
           (static_cast<uint32_t>((0xC8 * w + 0x0A * (255 - w)) / 255) << 16) |
           (static_cast<uint32_t>((0x00 * w + 0x00 * (255 - w)) / 255) << 8) |
           static_cast<uint32_t>((0x64 * w + 0xFA * (255 - w)) / 255)},
  };
  for (const auto& c : cases) EXPECT_EQ(BlendPixel(c.FUpper, c.FLower), c.FExpected) << std::hex << c.FUpper;
  // The computed table gives the upper pixel's share of the combined coverage.
  EXPECT_EQ(w, static_cast<int>(255.0 * 60 / (60 + 100 - 60 * 100 / 255.0) + 0.5));
  EXPECT_EQ(table[255 * 256 + 255], 255);
}

TEST(Transparency, BlendTableFromFile) {
  test::TTempDir temp;
  test::WriteAll(temp / "short.dat", std::vector<uint8_t>(100, 0));
  EXPECT_FALSE(LoadBlendTable(temp / "short.dat"));
  EXPECT_FALSE(LoadBlendTable(temp / "missing.dat"));
  test::WriteAll(temp / "blend.dat", std::vector<uint8_t>(BlendTableSize, 0));
  ASSERT_TRUE(LoadBlendTable(temp / "blend.dat"));
  // Weight 0: the lower colour wins.
  EXPECT_EQ(BlendPixel(0x40FFFFFF, 0x40102030) & 0xFFFFFF, 0x102030u);
  ResetBlendTable();
  EXPECT_NE(BlendPixel(0x40FFFFFF, 0x40102030) & 0xFFFFFF, 0x102030u);
}

TEST(Transparency, Composition) {
  TBitmap picture = Bitmap32(2, 1, 0xFF112233);
  Set32(picture, 1, 0, 0x80FF0000);
  // Over a colour into 24 and 32 bits.
  const TColor background = RGBColor(0, 0, 200);  // blue 200
  for (TPixelFormat format : {pf24bit, pf32bit}) {
    TBitmap target;
    target.SetPixelFormat(format);
    target.SetSize(2, 1);
    ComposeOverColor(picture, target, background);
    EXPECT_EQ(target.GetPixel(0, 0), RGBColor(0x11, 0x22, 0x33));
    EXPECT_EQ(target.GetPixel(1, 0), RGBColor(0x80 * 0xFF / 255, 0, 200 - 0x80 * 200 / 255));
    if (format == pf32bit) {
      EXPECT_EQ(target.ScanLine(0)[7], 255);
    }
  }
  // Over a 32-bit target: BlendPixel pixel by pixel, over the area both cover.
  TBitmap target = Bitmap32(3, 2, 0xFF0000C8);
  ComposeOver(picture, target);
  EXPECT_EQ(Get32(target, 0, 0), 0xFF112233u);
  EXPECT_EQ(Get32(target, 1, 0), BlendPixel(0x80FF0000, 0xFF0000C8));
  EXPECT_EQ(Get32(target, 2, 0), 0xFF0000C8u);
  EXPECT_EQ(Get32(target, 0, 1), 0xFF0000C8u);
  // BlendOverColor turns every pixel into BlendPixel(pixel, colour).
  TBitmap copy = picture;
  BlendOverColor(copy, 0xFF0000C8);
  EXPECT_EQ(Get32(copy, 1, 0), BlendPixel(0x80FF0000, 0xFF0000C8));
}

}  // namespace
}  // namespace glyphmill
