#include "app/pictureloaders.h"

#include <gtest/gtest.h>

#include "imaging/filetype.h"
#include "platform/gif_codec.h"
#include "platform/picture_builders.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

bool IsBlack(TColor c) { return c == RGBColor(0, 0, 0); }

bool PaletteHas(const TBitmap& bitmap, TColor colour) {
  for (const TRGBQuad& q : bitmap.Palette())
    if (QuadToColor(q) == colour) return true;
  return false;
}

TEST(LoadJpegPicture, LargePicturesAreReducedWhileDecoding) {
  const struct {
    int Width, Height, ExpectedWidth, ExpectedHeight;
  } cases[] = {
      {3000, 1000, 1500, 500},  // b = 2: half scale
      {1600, 300, 1600, 300},   // width + height below 2001: full size
      {1600, 500, 1600, 500},   // b = 1: decoding at half scale and stretching back would only blur
      {4000, 2100, 1333, 700},  // b = 3: half scale, then fitted
  };
  for (const auto& c : cases) {
    const auto bytes = test::MakeJpeg(
        c.Width, c.Height, 3, [](int x, int, uint8_t* s) { s[0] = static_cast<uint8_t>(x), s[1] = 80, s[2] = 160; },
        50);
    TBitmapFix32 bitmap;
    TBitmap mask;
    EXPECT_FALSE(LoadJpegPicture(bytes, bitmap, mask));
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.Width(), c.ExpectedWidth) << c.Width << "x" << c.Height;
    EXPECT_EQ(bitmap.Height(), c.ExpectedHeight) << c.Width << "x" << c.Height;
  }
}

TBitmap GifFrame() {
  TBitmap frame;
  frame.SetPixelFormat(pf8bit);
  std::vector<TRGBQuad> palette(256, TRGBQuad{0, 0, 0, 0});
  palette[0] = ColorToQuad(RGBColor(200, 10, 10));
  palette[1] = ColorToQuad(RGBColor(10, 200, 10));
  palette[2] = ColorToQuad(RGBColor(10, 10, 200));
  frame.SetPalette(palette);
  frame.SetSize(6, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) frame.SetIndex(x, y, (x + y) % 3);
  return frame;
}

TEST(LoadGifPicture, TransparentColourGivesBlackPixelsAndAWhiteMask) {
  for (const int transparent : {-1, 2}) {
    TGifAnimation animation{6, 4, -1, {}, {{GifFrame(), 0, 0, 0, gdUnspecified, transparent}}};
    TBitmapFix32 bitmap;
    TBitmap mask;
    const bool maskValid = LoadGifPicture(EncodeGif(animation), bitmap, mask);
    EXPECT_EQ(maskValid, transparent >= 0);
    ASSERT_EQ(bitmap.PixelFormat(), pf8bit);
    EXPECT_TRUE(PaletteHas(bitmap, RGBColor(0, 0, 0)));
    EXPECT_TRUE(PaletteHas(bitmap, RGBColor(255, 255, 255)));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool clear = transparent >= 0 && (x + y) % 3 == transparent;
        EXPECT_EQ(IsBlack(bitmap.GetPixel(x, y)), clear) << x << "," << y;
        if (maskValid) {
          EXPECT_EQ(mask.GetIndex(x, y), clear ? 1 : 0) << x << "," << y;
        }
      }
    EXPECT_EQ(bitmap.GetPixel(1, 0), RGBColor(10, 200, 10));
  }
}

TEST(LoadGifPicture, FullPaletteMakesRoomForBlackAndWhite) {
  TBitmap frame;
  frame.SetPixelFormat(pf8bit);
  std::vector<TRGBQuad> palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = TRGBQuad{uint8_t(i / 2 + 1), uint8_t(60), uint8_t(i / 3 + 1), 0};
  frame.SetPalette(palette);
  frame.SetSize(256, 2);
  for (int x = 0; x < 256; ++x) frame.SetIndex(x, 0, x), frame.SetIndex(x, 1, x < 5 ? 9 : x);
  TBitmapFix32 bitmap;
  TBitmap mask;
  LoadGifPicture(EncodeGif({256, 2, -1, {}, {{frame}}}), bitmap, mask);
  EXPECT_TRUE(PaletteHas(bitmap, RGBColor(0, 0, 0)));
  EXPECT_TRUE(PaletteHas(bitmap, RGBColor(255, 255, 255)));
  EXPECT_EQ(bitmap.GetPixel(9, 1), QuadToColor(palette[9])) << "the most-used colours stay";
}

TEST(LoadPngPicture, PaletteAndGreyAlphaKeepTheirTransparency) {
  TBitmapFix32 bitmap;
  TBitmap mask;
  // Palette with a tRNS chunk making entry 1 transparent; entry 2 is black.
  const std::vector<uint8_t> palette = {255, 0, 0, 0, 255, 0, 0, 0, 0};
  const auto paletted = test::MakePng(4, 1, PNG_COLOR_TYPE_PALETTE, 8,
                                      [](int x, int, uint8_t* s) { s[0] = uint8_t(x % 2); }, palette, {255, 0});
  EXPECT_TRUE(LoadPngPicture(paletted, bitmap, mask, 80));
  EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(bitmap.GetPixel(1, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(mask.GetIndex(0, 0), 0);
  EXPECT_EQ(mask.GetIndex(1, 0), 1);

  // Partial transparency makes the picture 32-bit.
  const auto partial = test::MakePng(2, 1, PNG_COLOR_TYPE_PALETTE, 8, [](int x, int, uint8_t* s) { s[0] = uint8_t(x); },
                                     palette, {40, 200});
  EXPECT_TRUE(LoadPngPicture(partial, bitmap, mask, 80));
  ASSERT_EQ(bitmap.PixelFormat(), pf32bit);
  EXPECT_EQ(bitmap.ScanLine(0)[3], 40);
  EXPECT_EQ(bitmap.ScanLine(0)[7], 200);
  EXPECT_EQ(mask.GetIndex(0, 0), 1);
  EXPECT_EQ(mask.GetIndex(1, 0), 0);

  // Without black in the palette the picture is reduced again around a black entry.
  const auto noBlack = test::MakePng(2, 1, PNG_COLOR_TYPE_PALETTE, 4, [](int x, int, uint8_t* s) { s[0] = uint8_t(x); },
                                     {255, 0, 0, 0, 0, 255}, {0});
  EXPECT_TRUE(LoadPngPicture(noBlack, bitmap, mask, 80));
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(bitmap.GetPixel(1, 0), RGBColor(0, 0, 255));
  EXPECT_EQ(mask.GetIndex(0, 0), 1);
  EXPECT_EQ(mask.GetIndex(1, 0), 0);

  // Grey with alpha: 8-bit grey, alpha below the threshold black and transparent.
  const auto greyAlpha = test::MakePng(3, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, [](int x, int, uint8_t* s) {
    s[0] = 150;
    s[1] = x == 0 ? 0 : x == 1 ? 79 : 80;
  });
  EXPECT_TRUE(LoadPngPicture(greyAlpha, bitmap, mask, 80));
  EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(bitmap.GetPixel(2, 0), RGBColor(150, 150, 150));
  EXPECT_EQ(mask.GetIndex(1, 0), 1);
  EXPECT_EQ(mask.GetIndex(2, 0), 0);

  // RGB without transparency: no mask to use.
  const auto rgb =
      test::MakePng(2, 2, PNG_COLOR_TYPE_RGB, 8, [](int, int, uint8_t* s) { s[0] = 1, s[1] = 2, s[2] = 3; });
  EXPECT_FALSE(LoadPngPicture(rgb, bitmap, mask, 80));
  EXPECT_EQ(bitmap.GetPixel(1, 1), RGBColor(1, 2, 3));
}

TEST(SourcePictures, ContentDecidesAndUnknownExtensionsFail) {
  test::TTempDir dir;
  const auto png = test::MakePng(3, 2, PNG_COLOR_TYPE_RGBA, 8, [](int x, int, uint8_t* s) {
    s[0] = 10, s[1] = 20, s[2] = 30, s[3] = x == 0 ? 0 : 255;
  });
  test::WriteAll(dir / "x.jpg", png);
  EXPECT_EQ(DetectFileType((dir / "x.jpg").string()).Code, ftPng);
  TBitmapFix32 bitmap;
  TBitmap mask;
  EXPECT_TRUE(LoadPngPicture((dir / "x.jpg").string(), bitmap, mask, 80));
  EXPECT_EQ(mask.GetIndex(0, 0), 1);

  test::WriteAll(dir / "x.tga", png);
  try {
    LoadAnyPicture((dir / "x.tga").string(), bitmap, mask);
    FAIL() << "no error";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Unknown picture file extension (.tga)");
  }

  // Through the generic picture object: drawn over black and white, what differs is transparent.
  test::WriteAll(dir / "x.png", png);
  EXPECT_TRUE(LoadAnyPicture((dir / "x.png").string(), bitmap, mask));
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(mask.GetIndex(0, 0), 1);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(mask.GetIndex(1, 0), 0);
  EXPECT_EQ(bitmap.GetPixel(1, 0), RGBColor(10, 20, 30));
}

TEST(SourcePictures, JpegTwoThousandThroughTheGenericPictureObject) {
  const auto corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  TBitmapFix32 bitmap;
  TBitmap mask;
  EXPECT_TRUE(LoadAnyPicture((corpus / "jp2/pillow_test-card-lossless.jp2").string(), bitmap, mask));
  EXPECT_EQ(bitmap.Width(), mask.Width());
  EXPECT_GT(bitmap.Width(), 0);
  EXPECT_TRUE(LoadTiffPicture((corpus / "tiff/pillow_hopper.tif").string(), bitmap, mask) == false);
  EXPECT_EQ(bitmap.Width(), 128);
}

}  // namespace
}  // namespace glyphmill
