#include <gtest/gtest.h>

#include "platform/bitmap.h"

namespace glyphmill {
namespace {

TEST(Bitmap, MemoryIsABottomUpPaddedDib) {
  EXPECT_EQ(RowBytes(1, 1), 4);
  EXPECT_EQ(RowBytes(33, 1), 8);
  EXPECT_EQ(RowBytes(3, 24), 12);
  EXPECT_EQ(RowBytes(5, 4), 4);
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(3, 2);
  ASSERT_EQ(bitmap.BitsSize(), 24u);
  bitmap.SetPixel(0, 0, RGBColor(1, 2, 3));
  // Top row 0 is the last row in memory; pixels are blue, green, red.
  EXPECT_EQ(bitmap.Bits()[12], 3);
  EXPECT_EQ(bitmap.Bits()[13], 2);
  EXPECT_EQ(bitmap.Bits()[14], 1);
  EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits() + 12);
}

TEST(Bitmap, DrawingOntoPaletteBitmapsPicksTheNearestEntry) {
  TBitmap target;
  target.SetPixelFormat(pf4bit);
  target.SetPalette(std::vector<TRGBQuad>{ColorToQuad(RGBColor(0, 0, 0)), ColorToQuad(RGBColor(100, 0, 0)),
                                          ColorToQuad(RGBColor(0, 100, 0)), ColorToQuad(RGBColor(100, 0, 0))});
  target.SetSize(4, 1);
  TBitmap source;
  source.SetPixelFormat(pf24bit);
  source.SetSize(4, 1);
  source.SetPixel(0, 0, RGBColor(90, 0, 0));   // nearest: entry 1 (entry 3 is equal, the lower index wins)
  source.SetPixel(1, 0, RGBColor(60, 60, 0));  // equally far from 1 and 2: 1
  source.SetPixel(2, 0, RGBColor(10, 60, 5));  // 2
  source.SetPixel(3, 0, RGBColor(0, 0, 255));  // black is nearest (distance 65025 vs 75025)
  target.Draw(0, 0, source);
  EXPECT_EQ(target.GetIndex(0, 0), 1);
  EXPECT_EQ(target.GetIndex(1, 0), 1);
  EXPECT_EQ(target.GetIndex(2, 0), 2);
  EXPECT_EQ(target.GetIndex(3, 0), 0);
}

TEST(Bitmap, FormatChangesConvertThePixels) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(2, 1);
  bitmap.SetPixel(0, 0, RGBColor(255, 128, 8));
  bitmap.SetPixel(1, 0, RGBColor(255, 255, 255));
  struct TCase {
    TPixelFormat Format;
    TColor First;
  };
  for (const TCase& c : {TCase{pf24bit, RGBColor(255, 128, 8)}, TCase{pf16bit, RGBColor(255, 130, 8)},
                         TCase{pf15bit, RGBColor(255, 132, 8)}, TCase{pf1bit, RGBColor(255, 255, 255)}}) {
    TBitmap converted(bitmap);
    converted.SetPixelFormat(c.Format);
    EXPECT_EQ(converted.PixelFormat(), c.Format);
    EXPECT_EQ(converted.GetPixel(0, 0), c.First) << c.Format;
    EXPECT_EQ(converted.GetPixel(1, 0), RGBColor(255, 255, 255)) << c.Format;
  }
}

TEST(Bitmap, ResizeKeepsTheTopLeftAndFillsWithTheBrush) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf8bit);
  bitmap.SetSize(2, 2);
  bitmap.SetPixel(0, 0, RGBColor(255, 0, 0));
  bitmap.SetPixel(1, 1, RGBColor(0, 0, 255));
  bitmap.SetBrushColor(RGBColor(0, 255, 0));
  bitmap.SetSize(3, 3);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(bitmap.GetPixel(1, 1), RGBColor(0, 0, 255));
  EXPECT_EQ(bitmap.GetPixel(2, 0), RGBColor(0, 255, 0));
  EXPECT_EQ(bitmap.GetPixel(0, 2), RGBColor(0, 255, 0));
  EXPECT_EQ(bitmap.GetPixel(3, 0), NoColor);
  EXPECT_THROW(bitmap.SetSize(20000, 20000), std::runtime_error);
  EXPECT_EQ(bitmap.Width(), 3);
}

TEST(Bitmap, StretchDrawTakesTheNearestPixel) {
  TBitmap source;
  source.SetPixelFormat(pf24bit);
  source.SetSize(2, 1);
  source.SetPixel(0, 0, RGBColor(255, 0, 0));
  source.SetPixel(1, 0, RGBColor(0, 0, 255));
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(4, 2);
  target.StretchDraw(Rect(0, 0, 4, 2), source);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(target.GetPixel(x, y), x < 2 ? RGBColor(255, 0, 0) : RGBColor(0, 0, 255));
  // Drawing partly outside the target is clipped.
  target.Draw(3, 1, source);
  EXPECT_EQ(target.GetPixel(3, 1), RGBColor(255, 0, 0));
}

}  // namespace
}  // namespace glyphmill
