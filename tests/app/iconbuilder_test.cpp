#include "app/iconbuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "imaging/bitmaptools.h"
#include "support/byte_reader.h"
#include "test_support.h"

namespace glyphmill {
namespace {

struct TSize {
  int Width;
  int Height;
};

TConversionOptions Options(std::vector<TSize> sizes, std::vector<int> depths, bool zoom = false, bool shrink = true,
                           bool smooth = true) {
  TConversionOptions options;
  for (const TSize& size : sizes) options.AddSize(size.Width, size.Height);
  for (const int depth : depths) options.FDepths.Add(depth);
  options.ZoomToFit = zoom;
  options.ShrinkToFit = shrink;
  options.Smooth = smooth;
  return options;
}

TBitmapFix32 Picture24(int width, int height, const std::function<TColor(int, int)>& color) {
  TBitmapFix32 picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) picture.SetPixel(x, y, color(x, y));
  return picture;
}

// pixel gives 0xAARRGGBB values.
TBitmapFix32 Picture32(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
  TBitmapFix32 picture;
  picture.SetPixelFormat(pf32bit);
  picture.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) StoreU32LE(picture.ScanLine(y) + 4 * x, pixel(x, y));
  return picture;
}

TBitmapFix32 Solid24(int width, int height, TColor color) {
  TBitmapFix32 picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(width, height);
  picture.FillRect(Rect(0, 0, width, height), color);
  return picture;
}

TColor Distinct(int x, int y) { return RGBColor(uint8_t(x * 12), uint8_t(y * 12), 200); }

// "16x16x8 16x16x32 ...", the images in icon order.
std::string Describe(const TAdvancedIcon& icon) {
  std::string text;
  for (const auto& image : icon.Images)
    text += (text.empty() ? "" : " ") + std::to_string(image->GetWidth()) + "x" + std::to_string(image->GetHeight()) +
            "x" + std::to_string(image->GetBitsPerPixel());
  return text;
}

struct TRendered {
  TBitmap Colour;
  TBitmap Mask;
  bool Transparent(int x, int y) const { return Mask.GetPixel(x, y) == RGBColor(255, 255, 255); }
};

TRendered Render(const TSubIcon& image) {
  TRendered rendered;
  image.RenderBitmaps(nullptr, &rendered.Colour, &rendered.Mask, 0);
  return rendered;
}

// Builds the picture (its mask when given) into a fresh icon.
void Build(TBitmapFix32& picture, const TConversionOptions& options, TAdvancedIcon& icon, TRunFlags& flags,
           const TBitmap* mask = nullptr) {
  TBitmap workMask = mask ? *mask : NewMonochromeBitmap();
  TPictureSource source{picture, workMask, mask != nullptr, std::string()};
  BuildPictureIcon(source, options, flags, icon);
}

TEST(IconBuilderTest, MakesEverySizeInEveryDepthOnceInRequestOrder) {
  const struct {
    std::vector<TSize> Sizes;
    std::vector<int> Depths;
    const char* Images;
  } cases[] = {
      {{{16, 16}, {32, 32}}, {8, 32}, "16x16x8 16x16x32 32x32x8 32x32x32"},
      {{{16, 16}, {16, 16}}, {8, 32}, "16x16x8 16x16x32"},
      {{{0, 0}, {40, 30}}, {0, 24}, "40x30x24"},  // own size and depth resolve to one combination
      {{{24, 0}}, {4}, "24x30x4"},
  };
  for (const auto& c : cases) {
    TBitmapFix32 picture = Picture24(40, 30, Distinct);
    TAdvancedIcon icon;
    TRunFlags flags;
    Build(picture, Options(c.Sizes, c.Depths), icon, flags);
    EXPECT_EQ(Describe(icon), c.Images);
    EXPECT_FALSE(flags.FSizeLimited);
  }
}

TEST(IconBuilderTest, OwnSizeAboveTheLimitIsCutTo1024WithTransparentBands) {
  TBitmapFix32 picture = Solid24(2000, 1500, RGBColor(10, 200, 30));
  TAdvancedIcon icon;
  TRunFlags flags;
  Build(picture, Options({{0, 0}}, {32}, true, true, false), icon, flags);
  ASSERT_EQ(Describe(icon), "1024x1024x32");
  EXPECT_TRUE(flags.FSizeLimited);
  // 2000 × 1500 fitted into 1024 × 1024 is 1024 × 768 from row 128 on.
  const TRendered image = Render(*icon.Images[0]);
  for (const int y : {0, 127, 896, 1023}) {
    EXPECT_EQ(GetPixel32(image.Colour, 512, y), 0u) << y;
    EXPECT_TRUE(image.Transparent(512, y)) << y;
  }
  for (const int y : {128, 512, 895}) {
    EXPECT_EQ(GetPixel32(image.Colour, 512, y), 0xFF0AC81Eu) << y;
    EXPECT_FALSE(image.Transparent(512, y)) << y;
  }
}

TEST(IconBuilderTest, PictureOfTheRequestedSizeAndDepthIsHandedOverUnchanged) {
  // 32 bits: the colour bits keep every byte and the AND mask comes from alpha (80 and less transparent).
  auto pixel = [](int x, int y) { return uint32_t((x * 5) << 24) | uint32_t(Distinct(x, y)); };
  TBitmapFix32 picture32 = Picture32(48, 48, pixel);
  TAdvancedIcon icon32;
  TRunFlags flags;
  Build(picture32, Options({{48, 48}}, {32}), icon32, flags);
  ASSERT_EQ(Describe(icon32), "48x48x32");
  const TRendered image32 = Render(*icon32.Images[0]);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      ASSERT_EQ(GetPixel32(image32.Colour, x, y), pixel(x, y)) << x << "," << y;
      ASSERT_EQ(image32.Transparent(x, y), x * 5 <= 80) << x << "," << y;
    }

  // 24 bits with the source's own mask.
  TBitmapFix32 picture24 = Picture24(48, 48, Distinct);
  TBitmap mask = NewMonochromeBitmap();
  mask.SetSize(48, 48);
  mask.FillRect(Rect(0, 0, 48, 48), RGBColor(0, 0, 0));
  mask.FillRect(Rect(0, 0, 10, 5), RGBColor(255, 255, 255));
  TAdvancedIcon icon24;
  Build(picture24, Options({{48, 48}}, {24}), icon24, flags, &mask);
  ASSERT_EQ(Describe(icon24), "48x48x24");
  const TRendered image24 = Render(*icon24.Images[0]);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      ASSERT_EQ(image24.Colour.GetPixel(x, y), Distinct(x, y)) << x << "," << y;
      ASSERT_EQ(image24.Transparent(x, y), x < 10 && y < 5) << x << "," << y;
    }
}

TEST(IconBuilderTest, UnscaledPicturesAreCentredWithATransparentBorderOrCropped) {
  // Zoom and shrink off: nothing is scaled. The picture lands on target; everything else is
  // transparent (black and white in the mask, or alpha 0), even the one-pixel rim of a 15 × 15.
  const struct {
    int Side;
    TRect Target;
  } cases[] = {{10, Rect(3, 3, 13, 13)}, {15, Rect(1, 1, 16, 16)}, {17, Rect(0, 0, 16, 16)}};
  for (const auto& c : cases)
    for (const int depth : {1, 4, 8, 24, 32}) {
      SCOPED_TRACE(std::to_string(c.Side) + " at depth " + std::to_string(depth));
      TBitmapFix32 picture = Picture24(c.Side, c.Side, Distinct);
      TAdvancedIcon icon;
      TRunFlags flags;
      Build(picture, Options({{16, 16}}, {depth}, false, false), icon, flags);
      ASSERT_EQ(Describe(icon), "16x16x" + std::to_string(depth));
      const TRendered image = Render(*icon.Images[0]);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const bool inside = x >= c.Target.Left && x < c.Target.Right && y >= c.Target.Top && y < c.Target.Bottom;
          ASSERT_EQ(image.Transparent(x, y), !inside) << x << "," << y;
          if (!inside) {
            ASSERT_EQ(GetPixel32(image.Colour, x, y) & (depth == 32 ? 0xFFFFFFFFu : 0xFFFFFFu), 0u) << x << "," << y;
          } else if (depth >= 8) {
            // 100 to 289 colours: the 8-bit palette holds them all only for the 10 × 10.
            if (depth == 8 && c.Side > 10) continue;
            const int sx = x - c.Target.Left, sy = y - c.Target.Top;
            ASSERT_EQ(image.Colour.GetPixel(x, y), Distinct(sx, sy)) << x << "," << y;
          }
        }
    }
}

// An icon of 16×16×4 (navy, with its own transparent pixel at (5, 5) and teal at the left-top
// corner) and 32×32×32 (opaque red, teal at the left-top corner).
void MakeTwoImageIcon(TAdvancedIcon& icon) {
  const TColor navy = RGBColor(0, 0, 128), teal = RGBColor(0, 128, 128);
  TBitmapFix32 small = Picture24(16, 16, [&](int x, int y) { return x + y == 0 ? teal : navy; });
  small.SetPixelFormat(pf4bit);
  TBitmap smallMask = NewMonochromeBitmap();
  smallMask.SetSize(16, 16);
  smallMask.FillRect(Rect(0, 0, 16, 16), RGBColor(0, 0, 0));
  smallMask.SetPixel(5, 5, RGBColor(255, 255, 255));
  icon.Images.AddFromBitmap(small, &smallMask, 0);
  const TBitmapFix32 large = Picture32(32, 32, [](int x, int y) { return x + y == 0 ? 0xFF008080u : 0xFFFF0000u; });
  icon.Images.AddFromBitmap(large, nullptr, 80);
}

TEST(IconBuilderTest, RebuildTakesOverMatchingImagesAndBuildsTheOthersFromTheBestMatch) {
  TAdvancedIcon icon;
  MakeTwoImageIcon(icon);
  ASSERT_EQ(Describe(icon), "16x16x4 32x32x32");
  const std::vector<uint8_t> small(icon.Images[0]->Data().begin(), icon.Images[0]->Data().end());
  const std::vector<uint8_t> large(icon.Images[1]->Data().begin(), icon.Images[1]->Data().end());

  TBitmapFix32 bitmap;
  TBitmap mask = NewMonochromeBitmap();
  TRunFlags flags;
  RebuildIcon(icon, bitmap, mask, Options({{16, 16}, {32, 32}}, {4, 32}), flags);
  ASSERT_EQ(Describe(icon), "16x16x4 32x32x32 16x16x32 32x32x4");
  EXPECT_EQ(std::vector<uint8_t>(icon.Images[0]->Data().begin(), icon.Images[0]->Data().end()), small);
  EXPECT_EQ(std::vector<uint8_t>(icon.Images[1]->Data().begin(), icon.Images[1]->Data().end()), large);
  // 16×16×32 comes from the navy 16×16×4 image (same size beats same depth), with its mask.
  const TRendered built32 = Render(*icon.Images[2]);
  EXPECT_EQ(GetPixel32(built32.Colour, 8, 8), 0xFF000080u);
  EXPECT_EQ(GetPixel32(built32.Colour, 5, 5), 0u);
  EXPECT_TRUE(built32.Transparent(5, 5));
  // 32×32×4 comes from the red 32×32×32 image.
  const TRendered built4 = Render(*icon.Images[3]);
  EXPECT_EQ(built4.Colour.GetPixel(20, 20), RGBColor(255, 0, 0));
  EXPECT_FALSE(built4.Transparent(20, 20));
}

TEST(IconBuilderTest, RebuildWithACornerColourKeepsEachImagesOwnMask) {
  // 32×32×8 is built first, from the 32-bit image (its teal corner cleared to alpha 0); then
  // 16×16×8 from the 4-bit image: its teal corner is added to the mask it already has.
  TAdvancedIcon icon;
  MakeTwoImageIcon(icon);
  TConversionOptions options = Options({{32, 32}, {16, 16}}, {8});
  options.TransparencyMode = tmLeftTop;
  TBitmapFix32 bitmap;
  TBitmap mask = NewMonochromeBitmap();
  TRunFlags flags;
  RebuildIcon(icon, bitmap, mask, options, flags);
  ASSERT_EQ(Describe(icon), "32x32x8 16x16x8");
  const TRendered large = Render(*icon.Images[0]);
  EXPECT_TRUE(large.Transparent(0, 0));
  EXPECT_FALSE(large.Transparent(1, 0));
  const TRendered small = Render(*icon.Images[1]);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_EQ(small.Transparent(x, y), (x == 0 && y == 0) || (x == 5 && y == 5)) << x << "," << y;
}

TEST(IconBuilderTest, LargeSourcesAreReducedOnceWhenEverySizeDivides1024) {
  const struct {
    int Width, Height;
    std::vector<TSize> Sizes;
    std::vector<int> Depths;
    int ReducedWidth, ReducedHeight;
  } cases[] = {
      {3000, 2000, {{16, 16}, {32, 32}, {256, 256}}, {32}, 1024, 682},
      {3000, 2000, {{16, 16}, {0, 0}}, {0}, 1024, 682},                  // own size counts as 1024
      {3000, 2000, {{16, 16}, {24, 24}, {256, 256}}, {32}, 3000, 2000},  // 24 does not divide 1024
      {3000, 2000, {{16, 16}, {48, 48}}, {32}, 3000, 2000},
      {3000, 2000, {{256, 256}}, {32}, 3000, 2000},          // a single size
      {2048, 2048, {{16, 16}, {32, 32}}, {32}, 2048, 2048},  // not larger than 2048
  };
  for (const auto& c : cases) {
    TBitmapFix32 picture = Solid24(c.Width, c.Height, RGBColor(200, 90, 9));
    TAdvancedIcon icon;
    TRunFlags flags;
    Build(picture, Options(c.Sizes, c.Depths, false, true, false), icon, flags);
    EXPECT_EQ(picture.Width(), c.ReducedWidth) << c.Sizes.size() << " sizes, second " << c.Sizes.back().Width;
    EXPECT_EQ(picture.Height(), c.ReducedHeight) << c.Sizes.size() << " sizes, second " << c.Sizes.back().Width;
    EXPECT_EQ(icon.Images.Count(), static_cast<int>(c.Sizes.size()));
  }
}

// A WMF of natural size 10 × 10 filled red.
std::vector<uint8_t> RedSquareWmf() {
  std::vector<uint16_t> words = {1, 9, 0x0300, 0, 0, 2, 7, 0, 0};
  const std::vector<std::vector<uint16_t>> records = {
      {0x020B, 0, 0},             // window origin
      {0x020C, 10, 10},           // window extent
      {0x02FC, 0, 0x00FF, 0, 0},  // red solid brush
      {0x012D, 0},
      {0x02FA, 5, 0, 0, 0, 0},  // null pen
      {0x012D, 1},
      {0x041B, 11, 11, 0, 0},  // rectangle
      {0x0000},
  };
  for (const auto& record : records) {
    const auto size = static_cast<uint32_t>(record.size() + 2);
    words.push_back(uint16_t(size));
    words.push_back(uint16_t(size >> 16));
    words.insert(words.end(), record.begin(), record.end());
  }
  words[3] = uint16_t(words.size());
  std::vector<uint8_t> bytes;
  for (const uint16_t word : words) bytes.insert(bytes.end(), {uint8_t(word), uint8_t(word >> 8)});
  return bytes;
}

TEST(IconBuilderTest, MetafilesAreDrawnAgainForEachSizeAndPlacedLikePictures) {
  // Smoothing draws larger only what is shrunk to fit afterwards: a picture placed unscaled
  // keeps its size whether or not smoothing is on.
  const struct {
    bool Zoom, Smooth;
    TRect Red;
  } cases[] = {
      {false, true, Rect(11, 11, 21, 21)}, {false, false, Rect(11, 11, 21, 21)}, {true, true, Rect(0, 0, 32, 32)}};
  test::TTempDir temp;
  const std::string fileName = (temp / "red.wmf").string();
  test::WriteAll(fileName, RedSquareWmf());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("zoom ") + (c.Zoom ? "on" : "off") + ", smooth " + (c.Smooth ? "on" : "off"));
    TBitmapFix32 picture = Solid24(10, 10, RGBColor(255, 0, 0));
    TBitmap mask = NewMonochromeBitmap();
    TPictureSource source{picture, mask, false, fileName, true, 10, 10};
    TAdvancedIcon icon;
    TRunFlags flags;
    BuildPictureIcon(source, Options({{32, 32}}, {32}, c.Zoom, true, c.Smooth), flags, icon);
    ASSERT_EQ(Describe(icon), "32x32x32");
    const TRendered image = Render(*icon.Images[0]);
    // Probes away from the edges, which smoothing softens.
    for (const int at : {1, 5, 15, 26, 30}) {
      const bool red = at >= c.Red.Left + 1 && at < c.Red.Right - 1;
      const bool clear = at < c.Red.Left - 1 || at >= c.Red.Right + 1;
      if (red) {
        EXPECT_EQ(GetPixel32(image.Colour, at, at), 0xFFFF0000u) << at;
      }
      if (clear) {
        EXPECT_TRUE(image.Transparent(at, at)) << at;
      }
    }
  }
}

}  // namespace
}  // namespace glyphmill
