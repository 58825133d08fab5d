#include <gtest/gtest.h>

#include "imaging/bitmapfix32.h"
#include "imaging/bitmaptools.h"

namespace glyphmill {
namespace {

const std::vector<TRGBQuad> BlackWhite = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};

// A 32-bit bitmap whose pixel (x, y) holds 0xA0000000 + y * 16 + x.
TBitmap Numbered(int width, int height) {
  TBitmap bitmap = NewBitmap32(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      FillRect32(bitmap, 0xA0000000u + static_cast<uint32_t>(y * 16 + x), Rect(x, y, x + 1, y + 1));
  return bitmap;
}

TEST(BitmapTools, MonochromeBitmapsHaveTheBlackWhitePalette) {
  MakeMonochrome(nullptr);
  TBitmapFix32 fix;
  fix.SetPixelFormat(pf8bit);
  fix.SetSize(7, 7);
  TBitmap plain = NewMonochromeBitmap();
  MakeMonochrome(&fix);
  for (TBitmap* bitmap : {&plain, static_cast<TBitmap*>(&fix)}) {
    EXPECT_EQ(bitmap->PixelFormat(), pf1bit);
    EXPECT_EQ(bitmap->Width(), 1);
    EXPECT_EQ(bitmap->Height(), 1);
    EXPECT_EQ(bitmap->Palette(), BlackWhite);
    EXPECT_EQ(bitmap->GetIndex(0, 0), 1);
  }
  TBitmap sized;
  SetFormatAndSize(sized, 9, 4, pf1bit);
  EXPECT_EQ(sized.Palette(), BlackWhite);
  EXPECT_EQ(sized.Width(), 9);
  SetFormatAndSize(sized, 2, 3, pf24bit);
  EXPECT_EQ(sized.PixelFormat(), pf24bit);
  EXPECT_EQ(sized.Height(), 3);
}

TEST(BitmapTools, CreateFilledBitmap) {
  struct TCase {
    TPixelFormat Format;
    TColor Fill;
    TColor Expected;  // colour of every pixel
  };
  const std::vector<TCase> cases = {
      {pf1bit, 0xFFFFFF, 0xFFFFFF},
      {pf1bit, 0, 0},
      {pf1bit, RGBColor(200, 190, 180), 0xFFFFFF},
      {pf1bit, RGBColor(20, 30, 40), 0},
      {pf8bit, RGBColor(255, 0, 0), RGBColor(255, 0, 0)},
      {pf24bit, RGBColor(1, 2, 3), RGBColor(1, 2, 3)},
      {pfDevice, RGBColor(1, 2, 3), RGBColor(1, 2, 3)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Format << " " << std::hex << c.Fill);
    const TBitmap bitmap = CreateFilledBitmap(c.Format, 11, 3, c.Fill);
    EXPECT_EQ(bitmap.PixelFormat(), c.Format);
    ASSERT_EQ(bitmap.Width(), 11);
    ASSERT_EQ(bitmap.Height(), 3);
    if (c.Format == pf1bit) {
      EXPECT_EQ(bitmap.Palette(), BlackWhite);
    }
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 11; ++x) ASSERT_EQ(bitmap.GetPixel(x, y), c.Expected) << x << "," << y;
  }
  // White in a 1-bit bitmap sets whole bytes, padding included.
  const TBitmap white = CreateFilledBitmap(pf1bit, 11, 3, 0xFFFFFF);
  for (size_t i = 0; i < white.BitsSize(); ++i) EXPECT_EQ(white.Bits()[i], 0xFF);
  // Format 7 stores the fill as a pixel value, NoColor included.
  const TBitmap none = CreateFilledBitmap(pf32bit, 2, 2, NoColor);
  EXPECT_EQ(GetPixel32(none, 1, 1), NoColor);
  EXPECT_EQ(GetPixel32(CreateFilledBitmap(pf32bit, 2, 2, 0x80112233), 0, 0), 0x80112233u);
}

TEST(BitmapTools, FillRect32ClipsToTheBitmap) {
  TBitmap bitmap;
  SizeAndFill32(bitmap, 4, 3, 0x11111111);
  FillRect32(bitmap, 0x22222222, Rect(-5, 2, 2, 10));
  FillRect32(bitmap, 0x33333333, Rect(3, 0, 3, 3));  // empty
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(GetPixel32(bitmap, x, y), y == 2 && x < 2 ? 0x22222222u : 0x11111111u);
  TBitmap empty = NewBitmap32(0, 5);
  FillRect32(empty, 1, Rect(0, 0, 5, 5));
  FillBitmap32(empty, 1);
  EXPECT_EQ(GetPixel32(bitmap, -1, 0), 0u);
  EXPECT_EQ(GetPixel32(bitmap, 0, 3), 0u);
}

TEST(BitmapTools, CopyRect32CopiesOnlyTheOverlap) {
  struct TCase {
    const char* Name;
    TRect SourceRect;
    int X, Y;
  };
  const std::vector<TCase> cases = {
      {"whole source inside", Rect(0, 0, 4, 3), 1, 1},
      {"target position partly left and below", Rect(0, 0, 4, 3), -2, 3},
      {"target position partly right and above", Rect(0, 0, 4, 3), 3, -1},
      {"rectangle partly outside the source", Rect(-1, -1, 6, 2), 0, 0},
      {"inner rectangle", Rect(1, 1, 3, 3), 4, 4},
      {"entirely outside", Rect(0, 0, 4, 3), 5, 0},
  };
  const TBitmap source = Numbered(4, 3);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBitmap target;
    SizeAndFill32(target, 5, 5, 0);
    CopyRect32(source, target, c.SourceRect, c.X, c.Y);
    for (int ty = 0; ty < 5; ++ty)
      for (int tx = 0; tx < 5; ++tx) {
        const int sx = c.SourceRect.Left + tx - c.X, sy = c.SourceRect.Top + ty - c.Y;
        const bool inside = sx >= std::max(c.SourceRect.Left, 0) && sx < std::min(c.SourceRect.Right, 4) &&
                            sy >= std::max(c.SourceRect.Top, 0) && sy < std::min(c.SourceRect.Bottom, 3);
        EXPECT_EQ(GetPixel32(target, tx, ty), inside ? GetPixel32(source, sx, sy) : 0u) << tx << "," << ty;
      }
  }
  // Overlapping copy within one bitmap reads the pixels as they were before the copy.
  TBitmap same = Numbered(4, 3);
  CopyRect32(same, same, Rect(0, 0, 4, 3), 1, 1);
  EXPECT_EQ(GetPixel32(same, 3, 2), GetPixel32(source, 2, 1));
  EXPECT_EQ(GetPixel32(same, 0, 0), GetPixel32(source, 0, 0));
  // PlaceBitmap32 is the copy of the whole source.
  TBitmap placed;
  SizeAndFill32(placed, 3, 3, 0);
  PlaceBitmap32(source, placed, -1, 1);
  EXPECT_EQ(GetPixel32(placed, 0, 1), GetPixel32(source, 1, 0));
  EXPECT_EQ(GetPixel32(placed, 0, 0), 0u);
}

TEST(BitmapTools, CopyTo24Bit) {
  TBitmap palette;
  palette.SetPixelFormat(pf4bit);
  palette.SetSize(2, 1);
  palette.SetPixel(1, 0, RGBColor(255, 0, 0));
  TBitmap copy = CopyTo24Bit(palette);
  EXPECT_EQ(copy.PixelFormat(), pf24bit);
  EXPECT_EQ(copy.GetPixel(1, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(palette.PixelFormat(), pf4bit);
  TBitmap full = Numbered(2, 2);
  EXPECT_EQ(CopyTo24Bit(full).GetPixel(1, 1), RGBColor(0, 0, 0x11));
}

TEST(BitmapTools, CombineTo32Bit) {
  // Source 24-bit 3 × 1: white, red, white; mask marks the first two transparent.
  TBitmap source;
  source.SetPixelFormat(pf24bit);
  source.SetSize(3, 1);
  source.SetPixel(0, 0, 0xFFFFFF);
  source.SetPixel(1, 0, RGBColor(255, 0, 0));
  source.SetPixel(2, 0, 0xFFFFFF);
  TBitmap mask = NewMonochromeBitmap();
  mask.SetSize(3, 1);
  mask.SetIndex(0, 0, 1);
  mask.SetIndex(1, 0, 1);
  mask.SetIndex(2, 0, 0);

  TBitmap target;
  CombineTo32Bit(source, &mask, target);
  EXPECT_EQ(target.PixelFormat(), pf32bit);
  EXPECT_EQ(GetPixel32(target, 0, 0), 0x00FFFFFFu);  // inverting pixel kept
  EXPECT_EQ(GetPixel32(target, 1, 0), 0x00000000u);
  EXPECT_EQ(GetPixel32(target, 2, 0), 0xFFFFFFFFu);

  CombineTo32Bit(source, nullptr, target);
  EXPECT_EQ(GetPixel32(target, 1, 0), 0xFFFF0000u);

  // In place: a palette picture becomes 32-bit.
  TBitmap inPlace;
  inPlace.SetPixelFormat(pf8bit);
  inPlace.SetSize(2, 2);
  inPlace.SetPixel(1, 1, RGBColor(0, 0, 255));
  CombineTo32Bit(inPlace, nullptr, inPlace);
  EXPECT_EQ(inPlace.PixelFormat(), pf32bit);
  EXPECT_EQ(GetPixel32(inPlace, 1, 1), 0xFF0000FFu);

  // A 32-bit source is copied unchanged; the mask is not consulted.
  const TBitmap numbered = Numbered(3, 1);
  CombineTo32Bit(numbered, &mask, target);
  EXPECT_EQ(GetPixel32(target, 0, 0), GetPixel32(numbered, 0, 0));

  // A source of width 0 leaves the target as it was.
  TBitmap empty;
  empty.SetPixelFormat(pf24bit);
  CombineTo32Bit(empty, nullptr, target);
  EXPECT_EQ(target.Width(), 3);
  EXPECT_EQ(GetPixel32(target, 2, 0), GetPixel32(numbered, 2, 0));
}

}  // namespace
}  // namespace glyphmill
