#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "imaging/bitmaptools.h"
#include "imaging/filters.h"
#include "imaging/fitting.h"

namespace glyphmill {
namespace {

constexpr TColor Black = 0x000000, White = 0xFFFFFF, Red = 0x0000FF;

std::string Show(TRect r) {
  return "(" + std::to_string(r.Left) + ", " + std::to_string(r.Top) + ", " + std::to_string(r.Right) + ", " +
         std::to_string(r.Bottom) + ")";
}

uint32_t Pixel32(const TBitmap& bitmap, int x, int y) {
  uint32_t value;
  std::memcpy(&value, bitmap.ScanLine(y) + 4 * x, 4);
  return value;
}

TEST(FitRect, WorkedExamples) {
  struct Case {
    TRect rect;
    int width, height;
    TRect expected;
  } cases[] = {
      {Rect(0, 0, 48, 24), 32, 32, Rect(12, 0, 36, 24)},
      // Width 15 centred: round(0.5) = 0 and round(15.5) = 16, so the full width.
      {Rect(0, 0, 16, 16), 15, 16, Rect(0, 0, 16, 16)},
      {Rect(0, 0, 16, 16), 16, 8, Rect(0, 4, 16, 12)},
      {Rect(10, 10, 26, 26), 8, 16, Rect(14, 10, 22, 26)},
      // round(16.5) is 16, not 17.
      {Rect(0, 0, 17, 17), 16, 17, Rect(0, 0, 16, 17)},
      {Rect(0, 0, 16, 16), 1000, 1, Rect(0, 8, 16, 8)},
      {Rect(0, 0, 16, 16), 0, 5, Rect(0, 0, 16, 16)},
      {Rect(0, 0, 16, 16), 5, 0, Rect(0, 0, 16, 16)},
      {Rect(0, 0, 0, 16), 5, 5, Rect(0, 0, 0, 16)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FitRect(c.rect, c.width, c.height), c.expected)
        << c.width << "x" << c.height << " in " << Show(c.rect) << " gave " << Show(FitRect(c.rect, c.width, c.height));
}

TEST(CenterRect, WorkedExamples) {
  struct Case {
    TRect rect, inner, expected;
  } cases[] = {
      {Rect(0, 0, 16, 16), Rect(0, 0, 8, 8), Rect(4, 4, 12, 12)},
      {Rect(0, 0, 16, 16), Rect(0, 0, 10, 10), Rect(3, 3, 13, 13)},
      {Rect(0, 0, 16, 16), Rect(0, 0, 15, 15), Rect(1, 1, 16, 16)},
      {Rect(0, 0, 16, 16), Rect(5, 5, 25, 25), Rect(-2, -2, 18, 18)},
      {Rect(0, 0, 15, 9), Rect(0, 0, 4, 3), Rect(5, 3, 9, 6)},
  };
  for (const Case& c : cases) EXPECT_EQ(CenterRect(c.rect, c.inner), c.expected) << Show(c.inner);
}

TEST(PlaceImage, ScalesCentresOrCrops) {
  struct Case {
    int sw, sh, tw, th;
    bool shrink, zoom;
    TPlacement expected;
  } cases[] = {
      // Shrink: a picture reaching the size in one direction is scaled, a smaller one centred.
      {20, 10, 16, 16, true, false, {true, Rect(0, 0, 20, 10), Rect(0, 4, 16, 12)}},
      {8, 8, 16, 16, true, false, {false, Rect(0, 0, 8, 8), Rect(4, 4, 12, 12)}},
      // Zoom: a picture that fits is scaled up.
      {8, 8, 16, 16, false, true, {true, Rect(0, 0, 8, 8), Rect(0, 0, 16, 16)}},
      {20, 10, 16, 16, false, true, {false, Rect(0, 0, 16, 10), Rect(0, 0, 16, 10)}},
      // Neither: centred when it fits, cropped from the top-left corner when not.
      {10, 10, 16, 16, false, false, {false, Rect(0, 0, 10, 10), Rect(3, 3, 13, 13)}},
      {15, 15, 16, 16, false, false, {false, Rect(0, 0, 15, 15), Rect(1, 1, 16, 16)}},
      {40, 40, 32, 32, false, false, {false, Rect(0, 0, 32, 32), Rect(0, 0, 32, 32)}},
      {17, 17, 16, 16, false, false, {false, Rect(0, 0, 16, 16), Rect(0, 0, 16, 16)}},
      {10, 40, 16, 16, false, false, {false, Rect(0, 0, 10, 16), Rect(0, 0, 10, 16)}},
      // Target width 0: the picture's own size.
      {30, 20, 0, 0, false, false, {false, Rect(0, 0, 30, 20), Rect(0, 0, 30, 20)}},
      {30, 20, 0, 0, true, false, {true, Rect(0, 0, 30, 20), Rect(0, 0, 30, 20)}},
  };
  for (const Case& c : cases) {
    const TPlacement placement = PlaceImage(c.sw, c.sh, c.tw, c.th, c.shrink, c.zoom);
    EXPECT_EQ(placement, c.expected) << c.sw << "x" << c.sh << " into " << c.tw << "x" << c.th << " shrink " << c.shrink
                                     << " zoom " << c.zoom << ": " << placement.FScale << " " << Show(placement.FSource)
                                     << " " << Show(placement.FTarget);
  }
}

TEST(ConvertBitmap, SizeOrFormatFirst) {
  struct Case {
    TPixelFormat source, target;
    int sw, tw, filter;
    bool sizeFirst;
  } cases[] = {
      {pf32bit, pf8bit, 64, 16, LanczosFilter, true},   {pf24bit, pf32bit, 64, 16, LanczosFilter, false},
      {pf8bit, pf24bit, 64, 16, LanczosFilter, false},  {pf4bit, pf8bit, 64, 16, LanczosFilter, false},
      {pf8bit, pf4bit, 8, 16, MitchellFilter, true},    {pf16bit, pf8bit, 8, 16, MitchellFilter, true},
      {pf16bit, pf32bit, 8, 16, MitchellFilter, false}, {pf32bit, pf8bit, 16, 64, NoFilter, true},
      {pf8bit, pf24bit, 16, 64, NoFilter, true},        {pf8bit, pf24bit, 64, 16, NoFilter, false},
      {pf4bit, pf8bit, 64, 16, NoFilter, false},        {pf24bit, pf32bit, 64, 16, NoFilter, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SizeGoesFirst(c.source, c.target, c.sw, c.sw, c.tw, c.tw, c.filter), c.sizeFirst)
        << c.source << " to " << c.target << " filter " << c.filter;
}

// 8 × 8 pictures whose left half is transparent red and right half opaque white, in several forms.
struct TSource {
  const char* name;
  TBitmap picture;
  std::optional<TBitmap> mask;
};

std::vector<TSource> HalfTransparentSources() {
  std::vector<TSource> sources;
  TBitmap mask = NewMonochromeBitmap();
  mask.SetSize(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) mask.SetPixel(x, y, x < 4 ? White : Black);
  for (const TPixelFormat format : {pf24bit, pf8bit, pf4bit}) {
    TBitmap picture;
    picture.SetPixelFormat(format);
    picture.SetSize(8, 8);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) picture.SetPixel(x, y, x < 4 ? Red : White);
    sources.push_back({format == pf24bit ? "24-bit" : format == pf8bit ? "8-bit" : "4-bit", picture, mask});
  }
  TBitmap picture = NewBitmap32(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const uint32_t value = x < 4 ? 0x00FF0000u : 0xFFFFFFFFu;
      std::memcpy(picture.ScanLine(y) + 4 * x, &value, 4);
    }
  sources.push_back({"32-bit", picture, std::nullopt});
  return sources;
}

TEST(ConvertBitmap, EveryPathKeepsTransparencyAndColour) {
  for (const TSource& source : HalfTransparentSources()) {
    for (const TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit}) {
      for (const int size : {16, 4}) {
        for (const int filter : {NoFilter, LanczosFilter, MitchellFilter}) {
          SCOPED_TRACE(std::string(source.name) + " to format " + std::to_string(format) + " at " +
                       std::to_string(size) + " with filter " + std::to_string(filter));
          TBitmap target, mask;
          ConvertBitmap(source.picture, source.mask ? &*source.mask : nullptr, target, &mask, format, size, size, 80,
                        true, filter);
          ASSERT_EQ(target.PixelFormat(), format);
          ASSERT_EQ(target.Width(), size);
          ASSERT_EQ(target.Height(), size);
          ASSERT_EQ(mask.PixelFormat(), pf1bit);
          ASSERT_EQ(mask.Width(), size);
          ASSERT_EQ(mask.Height(), size);
          const int middle = size / 2;
          EXPECT_EQ(mask.GetPixel(0, middle), White);
          EXPECT_EQ(mask.GetPixel(size - 1, middle), Black);
          EXPECT_EQ(target.GetPixel(size - 1, middle), White);
          if (format == pf32bit) {
            EXPECT_LT(Pixel32(target, 0, middle) >> 24, 80u);
            EXPECT_GE(Pixel32(target, size - 1, middle) >> 24, 80u);
          } else {
            EXPECT_EQ(target.GetPixel(0, middle), Black);
          }
        }
      }
    }
  }
}

TEST(ConvertBitmap, FittingLeavesTransparentBands) {
  const TBitmap wide = CreateFilledBitmap(pf32bit, 32, 16, 0xFF3366CC);
  const TBitmap line = CreateFilledBitmap(pf32bit, 1000, 1, 0xFF3366CC);
  struct Case {
    const TBitmap& source;
    bool fit;
    int firstRow, endRow;  // opaque rows
  } cases[] = {{wide, true, 4, 12}, {wide, false, 0, 16}, {line, true, 8, 9}};
  for (const Case& c : cases) {
    for (const TPixelFormat format : {pf32bit, pf24bit, pf8bit}) {
      for (const int filter : {NoFilter, LanczosFilter}) {
        SCOPED_TRACE(std::to_string(c.source.Width()) + " wide, fit " + std::to_string(c.fit) + ", format " +
                     std::to_string(format) + ", filter " + std::to_string(filter));
        TBitmap target, mask;
        ConvertBitmap(c.source, nullptr, target, &mask, format, 16, 16, 80, c.fit, filter);
        for (int y = 0; y < 16; ++y) {
          const bool opaque = y >= c.firstRow && y < c.endRow;
          EXPECT_EQ(mask.GetPixel(7, y), opaque ? Black : White) << "row " << y;
          if (format == pf32bit && !opaque) {
            EXPECT_EQ(Pixel32(target, 7, y), 0u) << "row " << y;
          }
          if (format != pf32bit && !opaque) {
            EXPECT_EQ(target.GetPixel(7, y), Black) << "row " << y;
          }
        }
      }
    }
  }
}

TEST(ConvertBitmap, SameSizeAndFormatCopies) {
  const TSource source = HalfTransparentSources()[1];
  TBitmap target, mask;
  ConvertBitmap(source.picture, &*source.mask, target, &mask, pf8bit, 8, 8, 80, true, LanczosFilter);
  EXPECT_EQ(target.Palette(), source.picture.Palette());
  ASSERT_EQ(target.BitsSize(), source.picture.BitsSize());
  EXPECT_EQ(std::memcmp(target.Bits(), source.picture.Bits(), target.BitsSize()), 0);
  EXPECT_EQ(mask.GetPixel(0, 0), White);

  // Without a source mask the target's is all opaque; a bitmap converted into itself works too.
  TBitmap self = source.picture;
  ConvertBitmap(self, nullptr, self, &mask, pf8bit, 8, 8, 80, true, LanczosFilter);
  EXPECT_EQ(std::memcmp(self.Bits(), source.picture.Bits(), self.BitsSize()), 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(mask.GetPixel(x, y), Black);
  ConvertBitmap(self, nullptr, self, nullptr, pf24bit, 16, 16, 80, true, LanczosFilter);
  EXPECT_EQ(self.PixelFormat(), pf24bit);
  EXPECT_EQ(self.GetPixel(15, 8), White);
}

TEST(ConvertBitmap, FormatChangeAtTheSameSizeKeepsTheMask) {
  const TSource source = HalfTransparentSources()[0];
  TBitmap target, mask;
  ConvertBitmap(source.picture, &*source.mask, target, &mask, pf32bit, 8, 8, 80, true, LanczosFilter);
  ASSERT_EQ(target.PixelFormat(), pf32bit);
  EXPECT_EQ(Pixel32(target, 0, 4), 0u);
  EXPECT_EQ(Pixel32(target, 7, 4), 0xFFFFFFFFu);
  EXPECT_EQ(mask.GetPixel(0, 4), White);
  EXPECT_EQ(mask.GetPixel(7, 4), Black);
}

TEST(ConvertBitmap, SweepOfSizesAndFormats) {
  // Tiny and lopsided sizes reach the one-pixel and staged paths of the resampler.
  std::mt19937 random(2024);
  const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};
  const auto side = [&] {
    return random() % 3 == 0 ? 1 + static_cast<int>(random() % 3) : 1 + static_cast<int>(random() % 70);
  };
  for (int i = 0; i < 200; ++i) {
    const int sw = side(), sh = side(), tw = side(), th = side();
    const TPixelFormat from = formats[random() % 7], to = formats[random() % 7];
    const bool fit = random() % 2 == 0, withMask = random() % 2 == 0;
    const int filter = static_cast<int>(random() % 9);
    SCOPED_TRACE(std::to_string(sw) + "x" + std::to_string(sh) + " format " + std::to_string(from) + " to " +
                 std::to_string(tw) + "x" + std::to_string(th) + " format " + std::to_string(to) + " filter " +
                 std::to_string(filter) + " fit " + std::to_string(fit));
    TBitmap source = NewBitmap32(sw, sh);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) {
        const uint32_t value = random();
        std::memcpy(source.ScanLine(y) + 4 * x, &value, 4);
      }
    if (from != pf32bit) source.SetPixelFormat(from);
    TBitmap mask = NewMonochromeBitmap();
    mask.SetSize(sw, sh);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) mask.SetPixel(x, y, (x + y) % 3 == 0 ? White : Black);
    TBitmap target, targetMask;
    ConvertBitmap(source, withMask ? &mask : nullptr, target, &targetMask, to, tw, th, 80, fit, filter);
    ASSERT_EQ(target.PixelFormat(), to);
    ASSERT_EQ(target.Width(), tw);
    ASSERT_EQ(target.Height(), th);
    ASSERT_EQ(targetMask.PixelFormat(), pf1bit);
    ASSERT_EQ(targetMask.Width(), tw);
    ASSERT_EQ(targetMask.Height(), th);
  }
}

}  // namespace
}  // namespace glyphmill
