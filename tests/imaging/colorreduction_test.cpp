#include "imaging/colorreduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "imaging/bitmaptools.h"

namespace glyphmill {
namespace {

constexpr TColor Black = 0, White = 0xFFFFFF;

TBitmap Bitmap24(int width, int height) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(width, height);
  return bitmap;
}

TColor Entry(const TBitmap& bitmap, int index) { return QuadToColor(bitmap.Palette()[static_cast<size_t>(index)]); }

TEST(ColorReduction, StandardPalettes) {
  const auto table = StandardPalette256();
  ASSERT_EQ(table.size(), 256u);
  const struct {
    int FIndex;
    TColor FColor;
  } entries[] = {{0, RGBColor(0, 0, 0)},        {1, RGBColor(128, 0, 0)},      {8, RGBColor(192, 192, 192)},
                 {15, RGBColor(255, 255, 255)}, {16, RGBColor(9, 9, 9)},       {35, RGBColor(248, 248, 248)},
                 {36, RGBColor(255, 251, 240)}, {39, RGBColor(166, 202, 240)}, {40, RGBColor(62, 0, 0)},
                 {46, RGBColor(240, 0, 0)},     {47, RGBColor(255, 36, 36)},   {51, RGBColor(255, 180, 180)},
                 {52, RGBColor(62, 20, 0)},     {76, RGBColor(62, 62, 0)},     {88, RGBColor(42, 62, 0)},
                 {255, RGBColor(255, 180, 205)}};
  for (const auto& e : entries) EXPECT_EQ(QuadToColor(table[static_cast<size_t>(e.FIndex)]), e.FColor) << e.FIndex;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(table[static_cast<size_t>(i)], StandardPalette16()[static_cast<size_t>(i)]);
  EXPECT_EQ(StandardPalette2().size(), 2u);
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf8bit);
  SetStandardPalette(bitmap);
  EXPECT_TRUE(std::equal(table.begin(), table.end(), bitmap.Palette().begin()));
}

// Ten colours: black, white, the bottom-left colour, then the rest in first-seen order.
TEST(ColorReduction, FewColoursKeepFirstSeenOrder) {
  TBitmap picture = Bitmap24(32, 32);
  std::vector<TColor> colours;
  for (int i = 0; i < 10; ++i)
    colours.push_back(RGBColor(static_cast<uint8_t>(20 * i + 5), static_cast<uint8_t>(7 * i), 100));
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) picture.SetPixel(x, y, colours[static_cast<size_t>((x / 4 + y) % 10)]);
  const TColor corner = picture.GetPixel(0, 31);
  TBitmap target;
  ReduceTo8Bit(picture, target, true, 80, 256);
  ASSERT_EQ(target.PixelFormat(), pf8bit);
  std::vector<TColor> expected = {Black, White, corner};
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if (std::find(expected.begin(), expected.end(), picture.GetPixel(x, y)) == expected.end())
        expected.push_back(picture.GetPixel(x, y));
  ASSERT_EQ(expected.size(), 12u);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Entry(target, static_cast<int>(i)), expected[i]) << i;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(target.GetPixel(x, y), picture.GetPixel(x, y));
}

// 300 colours that differ only in their lowest bits go through the 7-bit list.
TEST(ColorReduction, NearColoursUseTheSevenBitList) {
  TBitmap picture = Bitmap24(30, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 30; ++x) {
      const int i = y * 15 + x / 2;  // 150 even bases, each also with its odd neighbour
      const TColor even =
          RGBColor(static_cast<uint8_t>(2 * (i % 100) + 20), static_cast<uint8_t>(2 * (i / 100) + 60), 90);
      picture.SetPixel(x, y, x % 2 ? even : even | 0x010101);  // the corner is odd
    }
  const TColor corner = picture.GetPixel(0, 9);
  TBitmap target;
  ReduceTo8Bit(picture, target, true, 80, 256);
  EXPECT_EQ(Entry(target, 0), Black);
  EXPECT_EQ(Entry(target, 1), White);
  EXPECT_EQ(Entry(target, 2), corner);
  // 150 cut colours follow, all with even channels ...
  std::set<TColor> seen;
  for (int i = 3; i < 153; ++i) {
    EXPECT_EQ(Entry(target, i) & 0x010101, 0u) << i;
    seen.insert(Entry(target, i));
  }
  EXPECT_EQ(seen.size(), 150u);
  // ... then the top-up from the exact colours, new ones only, up to the budget.
  for (int i = 153; i < 256; ++i) {
    EXPECT_EQ(Entry(target, i) & 0x010101, 0x010101u) << i;
    EXPECT_TRUE(seen.insert(Entry(target, i)).second) << i;
  }
  // Every exact colour in the palette is mapped to itself.
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 30; ++x)
      if (seen.count(picture.GetPixel(x, y))) {
        ASSERT_EQ(target.GetPixel(x, y), picture.GetPixel(x, y));
      }
}

// A photograph-like picture overflows every list: the popularity of the coarse grid comes first.
TEST(ColorReduction, PhotographUsesTheHistogram) {
  TBitmap picture = Bitmap24(160, 160);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x)
      picture.SetPixel(x, y,
                       RGBColor(static_cast<uint8_t>(x * 255 / 159), static_cast<uint8_t>(y * 255 / 159),
                                static_cast<uint8_t>((x * 7 + y * 3) % 256)));
  TBitmap target;
  ReduceTo8Bit(picture, target, true, 80, 256);
  EXPECT_EQ(Entry(target, 0), Black);
  EXPECT_EQ(Entry(target, 1), White);
  EXPECT_EQ(Entry(target, 2), picture.GetPixel(0, 159));
  // The coarse grid's cells the picture touches (channels 0, 64, 128, 192, 255) come first ...
  auto coordinate = [](int v) { return (v + 4) >> 3; };
  auto channel = [](int c) { return c == 32 ? 255 : c * 8; };
  std::set<TColor> coarse;
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) {
      const TColor p = picture.GetPixel(x, y);
      const int r = coordinate(GetRValue(p)), g = coordinate(GetGValue(p)), b = coordinate(GetBValue(p));
      if (r % 8 == 0 && g % 8 == 0 && b % 8 == 0)
        coarse.insert(RGBColor(static_cast<uint8_t>(channel(r)), static_cast<uint8_t>(channel(g)),
                               static_cast<uint8_t>(channel(b))));
    }
  coarse.erase(Black);
  coarse.erase(White);
  ASSERT_GT(coarse.size(), 10u);
  const int firstFiner = 3 + static_cast<int>(coarse.size());
  for (int i = 3; i < firstFiner; ++i) EXPECT_TRUE(coarse.count(Entry(target, i))) << i;
  // ... then the finer grid of step 4 (channels multiples of 32, or 255).
  auto onFinerGrid = [](int v) { return v % 32 == 0 || v == 255; };
  const TColor next = Entry(target, firstFiner);
  EXPECT_TRUE(onFinerGrid(GetRValue(next)) && onFinerGrid(GetGValue(next)) && onFinerGrid(GetBValue(next)));
  EXPECT_FALSE(coarse.count(next));
  std::set<TColor> distinct;
  for (int i = 0; i < 256; ++i) distinct.insert(Entry(target, i));
  EXPECT_EQ(distinct.size(), 256u);
  // Every pixel takes the nearest entry, the lowest index among equals.
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) {
      const TColor p = picture.GetPixel(x, y);
      int best = 0, bestDistance = 1 << 30;
      for (int i = 0; i < 256; ++i) {
        const TColor e = Entry(target, i);
        const int dr = GetRValue(p) - GetRValue(e), dg = GetGValue(p) - GetGValue(e), db = GetBValue(p) - GetBValue(e);
        if (dr * dr + dg * dg + db * db < bestDistance) {
          bestDistance = dr * dr + dg * dg + db * db;
          best = i;
        }
      }
      ASSERT_EQ(target.GetIndex(x, y), best) << x << "," << y;
    }
}

// Budget 2 forces the histogram; (21, 0, 0) lies as far from (10, 0, 0) as from (32, 0, 0) and
// takes the lower index.
TEST(ColorReduction, EqualDistancesTakeTheLowerIndex) {
  TBitmap picture = Bitmap24(3, 2);
  picture.SetPixel(0, 0, RGBColor(30, 0, 0));
  picture.SetPixel(1, 0, RGBColor(21, 0, 0));
  picture.SetPixel(2, 0, RGBColor(30, 0, 0));
  for (int x = 0; x < 3; ++x) picture.SetPixel(x, 1, RGBColor(10, 0, 0));
  TBitmap target;
  ReduceTo8Bit(picture, target, false, 80, 2);
  EXPECT_EQ(Entry(target, 0), RGBColor(10, 0, 0));
  EXPECT_EQ(Entry(target, 1), RGBColor(32, 0, 0));
  EXPECT_EQ(target.GetIndex(1, 0), 0);
  EXPECT_EQ(target.GetIndex(0, 0), 1);
}

TEST(ColorReduction, TransparentPixelsOfA32BitSourceTakeBlack) {
  TBitmap picture;
  SizeAndFill32(picture, 4, 4, 0xFF8040C0);
  const uint8_t alphas[4] = {0, 79, 80, 255};
  for (int x = 0; x < 4; ++x) {
    const uint32_t value = (static_cast<uint32_t>(alphas[x]) << 24) | 0x00FF00FF;
    std::memcpy(picture.ScanLine(0) + 4 * x, &value, 4);
  }
  TBitmap target, mask;
  ConvertBitmapSameSize(picture, nullptr, target, &mask, pf8bit, 80);
  ASSERT_EQ(target.PixelFormat(), pf8bit);
  EXPECT_EQ(Entry(target, 0), Black);
  EXPECT_EQ(Entry(target, 1), White);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(target.GetIndex(x, 0) == 0, alphas[x] < 80) << x;
    EXPECT_EQ(mask.GetPixel(x, 0) == White, alphas[x] < 80) << x;
  }
  EXPECT_EQ(target.GetPixel(2, 0), RGBColor(255, 0, 255));
}

// One 32-bit picture with a transparent and an inverting pixel, converted to every depth.
TEST(ColorReduction, SameSizeConversionToEveryDepth) {
  TBitmap picture;
  SizeAndFill32(picture, 3, 2, 0xFFFFFF00);  // opaque yellow
  const uint32_t transparent = 0x10123456, inverting = 0x00FFFFFF;
  std::memcpy(picture.ScanLine(0) + 4, &transparent, 4);
  std::memcpy(picture.ScanLine(1) + 8, &inverting, 4);
  const struct {
    TPixelFormat FFormat;
    TColor FOpaque;
  } cases[] = {{pf1bit, White},
               {pf4bit, RGBColor(255, 255, 0)},
               {pf8bit, RGBColor(255, 255, 0)},
               {pf24bit, RGBColor(255, 255, 0)},
               {pf32bit, RGBColor(255, 255, 0)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.FFormat);
    TBitmap target, mask;
    ConvertBitmapSameSize(picture, nullptr, target, &mask, c.FFormat, 80);
    ASSERT_EQ(target.PixelFormat(), c.FFormat);
    ASSERT_EQ(target.Width(), 3);
    ASSERT_EQ(mask.PixelFormat(), pf1bit);
    EXPECT_EQ(target.GetPixel(0, 0), c.FOpaque);
    if (c.FFormat == pf4bit) {
      EXPECT_TRUE(std::equal(target.Palette().begin(), target.Palette().end(), StandardPalette16().begin()));
    }
    if (c.FFormat == pf32bit) {
      EXPECT_EQ(GetPixel32(target, 1, 0), transparent);  // 32 bits keep the alpha; the mask copies none
      EXPECT_EQ(mask.GetPixel(1, 0), Black);
      continue;
    }
    EXPECT_EQ(target.GetPixel(1, 0), Black);
    EXPECT_EQ(target.GetPixel(2, 1), Black);
    EXPECT_EQ(mask.GetPixel(1, 0), White);
    EXPECT_EQ(mask.GetPixel(2, 1), White);
    EXPECT_EQ(mask.GetPixel(0, 0), Black);
  }
}

// A 16-colour picture keeps its colours at the start, followed by the default table's others.
TEST(ColorReduction, SixteenColoursExpandToTheDefaultTable) {
  TBitmap picture;
  picture.SetPixelFormat(pf4bit);
  SetStandardPalette(picture);
  picture.SetSize(16, 1);
  for (int x = 0; x < 16; ++x) picture.SetIndex(x, 0, 15 - x);
  TBitmap target, mask;
  ConvertBitmapSameSize(picture, nullptr, target, &mask, pf8bit, 80);
  const auto table = StandardPalette256();
  EXPECT_TRUE(std::equal(table.begin(), table.end(), target.Palette().begin()));
  for (int x = 0; x < 16; ++x) EXPECT_EQ(target.GetIndex(x, 0), 15 - x);
  EXPECT_EQ(mask.GetPixel(3, 0), Black);
}

// Padding entries count as black, so a palette without black gets it only by the repair.
TEST(ColorReduction, ExpandPaletteAndEnsureBlackAndWhite) {
  const TRGBQuad source[3] = {ColorToQuad(RGBColor(1, 2, 3)), ColorToQuad(RGBColor(4, 5, 6)),
                              ColorToQuad(RGBColor(7, 8, 9))};
  TBitmap target;
  target.SetPixelFormat(pf8bit);
  ExpandPaletteTo8Bit(target, source, false);
  EXPECT_EQ(Entry(target, 0), RGBColor(1, 2, 3));
  EXPECT_EQ(Entry(target, 3), RGBColor(128, 0, 0));  // table entry 1; black (entry 0) is skipped
  EXPECT_EQ(Entry(target, 255), QuadToColor(StandardPalette256()[253]));
  std::set<TColor> colours;
  for (int i = 0; i < 256; ++i) colours.insert(Entry(target, i));
  EXPECT_FALSE(colours.count(Black));
  EXPECT_TRUE(colours.count(White));
  ExpandPaletteTo8Bit(target, source, true);
  EXPECT_EQ(Entry(target, 0), Black);  // the entry nearest to black
  EXPECT_EQ(Entry(target, 1), RGBColor(4, 5, 6));

  // Two source colours from the table leave it one short: the last entry stays 0 (black).
  const TRGBQuad fromTable[2] = {ColorToQuad(RGBColor(255, 0, 0)), ColorToQuad(RGBColor(0, 255, 0))};
  ExpandPaletteTo8Bit(target, fromTable, false);
  EXPECT_EQ(Entry(target, 255), Black);

  TListLongint list;
  for (TColor c : {RGBColor(10, 10, 10), RGBColor(250, 250, 240), RGBColor(5, 5, 5), RGBColor(250, 250, 240)})
    list.Add(static_cast<int32_t>(c));
  EnsureBlackAndWhite(list);
  EXPECT_EQ(list.ToVector(), (std::vector<int32_t>{0x0A0A0A, 0xFFFFFF, 0, 0xF0FAFA}));
}

TEST(ColorReduction, ExactPaletteConversion) {
  TBitmap picture = Bitmap24(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      picture.SetPixel(x, y, RGBColor(static_cast<uint8_t>(x * 16 + 1), static_cast<uint8_t>(y * 16 + 1), 7));
  TBitmap target;
  // 256 colours plus black and white do not fit ...
  EXPECT_FALSE(ExactPaletteConversion(picture, target, true, true));
  // ... without the reserve they do.
  ASSERT_TRUE(ExactPaletteConversion(picture, target, false, false));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(target.GetPixel(x, y), picture.GetPixel(x, y));
  EXPECT_EQ(target.GetIndex(1, 0), 1);
  // A few colours: black and white first, the rest filled from the table's missing colours.
  TBitmap small = Bitmap24(2, 1);
  small.SetPixel(0, 0, RGBColor(128, 0, 0));
  small.SetPixel(1, 0, RGBColor(1, 2, 3));
  ASSERT_TRUE(ExactPaletteConversion(small, target, true, true));
  EXPECT_EQ(Entry(target, 0), Black);
  EXPECT_EQ(Entry(target, 1), White);
  EXPECT_EQ(Entry(target, 2), RGBColor(128, 0, 0));
  EXPECT_EQ(Entry(target, 3), RGBColor(1, 2, 3));
  EXPECT_EQ(Entry(target, 4), RGBColor(0, 128, 0));  // table entry 2: entries 0, 1 and 15 are present
  EXPECT_EQ(target.GetIndex(1, 0), 3);
  ASSERT_TRUE(ExactPaletteConversion(small, target, true, false));
  EXPECT_EQ(Entry(target, 4), Black);
}

TEST(ColorReduction, ReserveTransparentIndexWithAFreeEntry) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf8bit);
  std::vector<TRGBQuad> palette(256, ColorToQuad(RGBColor(1, 0, 0)));
  palette[0] = ColorToQuad(Black);
  palette[1] = ColorToQuad(RGBColor(0, 0, 9));
  palette[2] = ColorToQuad(RGBColor(0, 9, 0));
  bitmap.SetPalette(palette);
  bitmap.SetSize(4, 1);
  const int indexes[4] = {0, 1, 2, 4};  // entry 3 is free
  for (int x = 0; x < 4; ++x) bitmap.SetIndex(x, 0, indexes[x]);
  TBitmap mask = NewMonochromeBitmap();
  mask.SetSize(4, 1);
  mask.FillRect(Rect(0, 0, 4, 1), Black);
  mask.SetPixel(1, 0, White);
  EXPECT_EQ(ReserveTransparentIndex(bitmap, &mask, NoColor), 0);
  // The smallest colour value absent: 0 and 1 are present (1 is red 1), so 2.
  EXPECT_EQ(Entry(bitmap, 0), 2u);
  EXPECT_EQ(Entry(bitmap, 1), Black);
  EXPECT_EQ(Entry(bitmap, 3), RGBColor(0, 9, 0));
  EXPECT_EQ(Entry(bitmap, 4), RGBColor(1, 0, 0));
  const int expected[4] = {1, 0, 3, 4};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(bitmap.GetIndex(x, 0), expected[x]) << x;
}

// Sixteen colours all in use: silver and white are the closest pair and are merged.
TEST(ColorReduction, ReserveTransparentIndexMergesTheClosestPair) {
  const int merged = (192 * 5 + 255 * 2) / 7;
  const struct {
    int FSilverUses;
    int FWhiteUses;
    int FKeptAfter;  // where the kept entry ends up
    TColor FKept;
  } cases[] = {
      {1, 3, 15, White},                            // silver dropped; white is pure
      {5, 2, 9, RGBColor(merged, merged, merged)},  // white dropped; silver averaged
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.FSilverUses);
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf4bit);
    SetStandardPalette(bitmap);
    bitmap.SetSize(16 + c.FSilverUses - 1 + c.FWhiteUses - 1, 1);
    for (int x = 0; x < 16; ++x) bitmap.SetIndex(x, 0, x);
    int x = 16;
    for (int i = 1; i < c.FSilverUses; ++i) bitmap.SetIndex(x++, 0, 8);
    for (int i = 1; i < c.FWhiteUses; ++i) bitmap.SetIndex(x++, 0, 15);
    EXPECT_EQ(ReserveTransparentIndex(bitmap, nullptr, RGBColor(1, 2, 3)), 0);
    EXPECT_EQ(Entry(bitmap, 0), RGBColor(1, 2, 3));
    EXPECT_EQ(Entry(bitmap, c.FKeptAfter), c.FKept);
    EXPECT_EQ(Entry(bitmap, 1), Black);
    // Both former colours now show the kept entry; nothing uses index 0.
    EXPECT_EQ(bitmap.GetIndex(8, 0), c.FKeptAfter);
    EXPECT_EQ(bitmap.GetIndex(15, 0), c.FKeptAfter);
    for (int p = 0; p < bitmap.Width(); ++p) ASSERT_NE(bitmap.GetIndex(p, 0), 0);
    EXPECT_EQ(bitmap.GetPixel(9, 0), RGBColor(255, 0, 0));  // red, shifted only when before the freed entry
  }
}

}  // namespace
}  // namespace glyphmill
