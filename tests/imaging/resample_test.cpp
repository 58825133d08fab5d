#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include "imaging/filters.h"
#include "imaging/resample.h"

namespace glyphmill {
namespace {

// 32-bit pixels as 0xAARRGGBB.
uint32_t Pixel(const TBitmap& bitmap, int x, int y) {
  uint32_t value;
  std::memcpy(&value, bitmap.ScanLine(y) + 4 * x, 4);
  return value;
}

void SetPixel32(TBitmap& bitmap, int x, int y, uint32_t value) { std::memcpy(bitmap.ScanLine(y) + 4 * x, &value, 4); }

TBitmap Picture32(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixel32(bitmap, x, y, pixel(x, y));
  return bitmap;
}

TBitmap Target(int width, int height) {
  TBitmap bitmap;
  bitmap.SetSize(width, height);
  return bitmap;
}

uint8_t Alpha(uint32_t pixel) { return static_cast<uint8_t>(pixel >> 24); }

TEST(Filters, ChooseFilter) {
  struct Case {
    bool smooth;
    int sw, sh, tw, th;
    int filter;
  } cases[] = {
      {false, 100, 100, 16, 16, NoFilter},     {false, 8, 8, 16, 16, NoFilter},
      {true, 100, 100, 16, 16, LanczosFilter}, {true, 8, 8, 16, 16, MitchellFilter},
      {true, 8, 20, 16, 16, LanczosFilter},    {true, 16, 8, 16, 16, LanczosFilter},
      {true, 16, 16, 16, 16, LanczosFilter},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseFilter(c.smooth, c.sw, c.sh, c.tw, c.th), c.filter) << c.sw << "x" << c.sh << " to " << c.tw;
}

TEST(Filters, KernelValuesAtKnownPoints) {
  struct Case {
    int filter;
    double t, value;
  } cases[] = {
      {1, 0.25, 0.75}, {2, 0.5, 0.5},    {3, 0.25, 0.6875}, {3, 1.0, 0.125},    {4, 0.0, 2 / 3.},  {4, 1.0, 1 / 6.},
      {5, 0.0, 1.0},   {5, 1.0, 0.0},    {5, -3.5, 0.0},    {6, 0.0, 16 / 18.}, {6, 1.0, 1 / 18.}, {7, -0.5, 0.0},
      {7, 0.5, 1.0},   {8, -0.25, 0.75}, {8, 1.0, 0.0},     {9, 0.0, 0.0},
  };
  for (const Case& c : cases) EXPECT_NEAR(FilterKernel(c.filter, c.t), c.value, 1e-12) << c.filter << " at " << c.t;
}

TEST(Filters, WeightsOfEveryTargetPixelSumToUnity) {
  const std::pair<int, int> lines[] = {{16, 48}, {48, 16}, {1024, 256}, {1024, 16}, {100, 37}, {10, 10}, {3, 40}};
  for (int filter = 1; filter <= LastFilter; ++filter) {
    for (const auto& [n, m] : lines) {
      // A box narrower than three pixels covers two or three of them by where it falls; only the
      // normalisation by the weight sum evens that out.
      if (filter == 7 && m < n) continue;
      const TLineWeights weights = ComputeLineWeights(n, m, filter);
      ASSERT_EQ(weights.Count(), m);
      for (int i = 0; i < m; ++i) {
        int sum = 0;
        for (const TContribution* tap = weights.Begin(i); tap != weights.End(i); ++tap) {
          ASSERT_GE(tap->FIndex, 0);
          ASSERT_LT(tap->FIndex, n);
          sum += tap->FWeight;
        }
        // Each weight is rounded by up to a half, and Lanczos is a partition of unity only nearly.
        const auto taps = static_cast<int>(weights.End(i) - weights.Begin(i));
        EXPECT_NEAR(sum, 256, taps / 2 + 6) << "filter " << filter << ", " << n << " to " << m << ", pixel " << i;
      }
    }
  }
}

TEST(Filters, ExtremeReductionKeepsEveryTargetPixelWeighted) {
  // 1:4000 makes every rounded weight 0; the pixel must still see its source.
  const TLineWeights weights = ComputeLineWeights(16000, 4, LanczosFilter);
  for (int i = 0; i < 4; ++i) EXPECT_GT(weights.End(i) - weights.Begin(i), 0) << i;
}

TEST(Filters, MirrorIndex) {
  struct Case {
    int64_t j;
    int n, expected;
  } cases[] = {
      {-1, 5, 1}, {-4, 5, 4}, {-7, 5, 4}, {5, 5, 4}, {6, 5, 3}, {9, 5, 0}, {12, 5, 0}, {3, 5, 3}, {-3, 2, 1}, {4, 2, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(MirrorIndex(c.j, c.n), c.expected) << c.j << " in " << c.n;
}

TEST(Filters, FirstAndLastTargetPixelsTakeTheFullWeightAtDistanceZero) {
  const TLineWeights enlarge = ComputeLineWeights(8, 20, LanczosFilter);
  for (const int i : {0, 19}) {
    ASSERT_EQ(enlarge.End(i) - enlarge.Begin(i), 1);
    EXPECT_EQ(enlarge.Begin(i)->FIndex, i == 0 ? 0 : 7);
    EXPECT_EQ(enlarge.Begin(i)->FWeight, 256);
  }
  // Reducing 10 to 4: scale 1/3, so the weight at distance 0 is round(256 / 3).
  const TLineWeights reduce = ComputeLineWeights(10, 4, LanczosFilter);
  int largest = 0, atZero = 0;
  for (const TContribution* tap = reduce.Begin(0); tap != reduce.End(0); ++tap) {
    largest = std::max(largest, tap->FWeight);
    if (tap->FIndex == 0) atZero = tap->FWeight;
  }
  EXPECT_EQ(atZero, 85);
  EXPECT_EQ(largest, 85);
}

TEST(ResampleBitmap, ConstantPictureStaysConstant) {
  struct Case {
    uint32_t value;
    int sw, sh, tw, th;
  } cases[] = {
      {0xFF0AC85A, 37, 23, 16, 16}, {0xFF0AC85A, 37, 23, 64, 50}, {0xFF123456, 1024, 64, 16, 16},
      {0xFF123456, 5, 5, 48, 7},    {0xFFFFFFFF, 40, 40, 32, 32},
  };
  for (int filter = 0; filter <= LastFilter; ++filter) {
    for (const Case& c : cases) {
      const TBitmap source = Picture32(c.sw, c.sh, [&](int, int) { return c.value; });
      TBitmap target = Target(c.tw, c.th);
      ResampleBitmap(source, target, filter);
      ASSERT_EQ(target.PixelFormat(), pf32bit);
      ASSERT_EQ(target.Width(), c.tw);
      ASSERT_EQ(target.Height(), c.th);
      for (int y = 0; y < c.th; ++y)
        for (int x = 0; x < c.tw; ++x)
          ASSERT_EQ(Pixel(target, x, y), c.value) << "filter " << filter << " at " << x << "," << y;
    }
  }
}

TEST(FilteredResample, SemiTransparentConstantPictureStaysConstant) {
  // Without the soft-edge padding (the core alone) colour and coverage both stay exactly as they are.
  const TBitmap source = Picture32(30, 20, [](int, int) { return 0x80C86432u; });
  for (const auto& [tw, th] : {std::pair{8, 8}, std::pair{45, 31}}) {
    TBitmap target = Target(tw, th);
    FilteredResample(source, target, LanczosFilter);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x) ASSERT_EQ(Pixel(target, x, y), 0x80C86432u) << x << "," << y;
  }
}

TEST(ResampleBitmap, DegenerateSizes) {
  struct Case {
    int sw, sh, tw, th;
  } cases[] = {
      {1, 10, 1, 4}, {10, 1, 4, 1}, {1, 1, 5, 5}, {1, 4, 1, 10}, {7, 9, 1, 3}, {7, 9, 3, 1},
      {7, 9, 1, 9},  {7, 9, 7, 1},  {1, 6, 8, 8}, {6, 1, 8, 8},  {2, 2, 1, 1}, {9, 9, 9, 9},
  };
  const uint32_t value = 0xFF2050F0;
  for (const int filter : {NoFilter, LanczosFilter, MitchellFilter}) {
    for (const Case& c : cases) {
      const TBitmap source = Picture32(c.sw, c.sh, [&](int, int) { return value; });
      TBitmap target = Target(c.tw, c.th);
      ResampleBitmap(source, target, filter);
      ASSERT_EQ(target.Width(), c.tw);
      ASSERT_EQ(target.Height(), c.th);
      for (int y = 0; y < c.th; ++y)
        for (int x = 0; x < c.tw; ++x)
          ASSERT_EQ(Pixel(target, x, y), value) << c.sw << "x" << c.sh << " to " << c.tw << "x" << c.th;
    }
  }
  TBitmap empty;
  empty.SetPixelFormat(pf32bit);
  TBitmap target = Target(3, 2);
  ResampleBitmap(empty, target, LanczosFilter);
  ASSERT_EQ(target.PixelFormat(), pf32bit);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Pixel(target, x, y), 0u);
}

TEST(ResampleBitmap, TransparentPixelsLendNoColour) {
  // Left half transparent red, right half opaque blue.
  const TBitmap source = Picture32(64, 16, [](int x, int) { return x < 32 ? 0x00FF0000u : 0xFF0000FFu; });
  for (const int filter : {LanczosFilter, MitchellFilter, 1}) {
    TBitmap target = Target(16, 4);
    ResampleBitmap(source, target, filter);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 16; ++x) {
        const uint32_t pixel = Pixel(target, x, y);
        if (Alpha(pixel) != 0) {
          EXPECT_EQ(pixel & 0x00FFFFFF, 0x0000FFu) << "filter " << filter << " at " << x;
        }
      }
      // Far from the blue half the result is empty, colour included.
      EXPECT_EQ(Pixel(target, 0, y), 0u);
      EXPECT_EQ(Pixel(target, 1, y), 0u);
      EXPECT_EQ(Pixel(target, 15, y), 0xFF0000FFu);
    }
  }
}

TEST(ResampleBitmap, SoftEdgesFadeAndHardEdgesAreMirrored) {
  struct Case {
    uint32_t value;
    bool fades;
  } cases[] = {{0x80406080u, true}, {0xFF406080u, false}};
  for (const Case& c : cases) {
    const TBitmap source = Picture32(64, 64, [&](int, int) { return c.value; });
    TBitmap target = Target(16, 16);
    ResampleBitmap(source, target, LanczosFilter);
    EXPECT_EQ(Pixel(target, 8, 8), c.value);
    if (c.fades) {
      EXPECT_LT(Alpha(Pixel(target, 0, 0)), Alpha(c.value));
      EXPECT_LT(Alpha(Pixel(target, 15, 8)), Alpha(c.value));
      // Colour is weighted by alpha, so the transparent frame does not darken it.
      EXPECT_EQ(Pixel(target, 0, 0) & 0x00FFFFFF, c.value & 0x00FFFFFF);
    } else {
      EXPECT_EQ(Pixel(target, 0, 0), c.value);
    }
  }
}

TEST(ResampleBitmap, SoftEdgePaddingMatchesAnExplicitTransparentFrame) {
  // Soft rim: alpha falls off over the outer 6 pixels; colours vary so misplaced weights show.
  const int sw = 70, sh = 50;
  const TBitmap source = Picture32(sw, sh, [&](int x, int y) {
    const int rim = std::min({x, y, sw - 1 - x, sh - 1 - y});
    const uint32_t alpha = rim >= 6 ? 255u : 40u * static_cast<uint32_t>(rim) + 10u;
    return alpha << 24 | static_cast<uint32_t>(x * 3) << 16 | static_cast<uint32_t>(y * 5) << 8 | (x * y) % 256;
  });
  TBitmap framed = Picture32(sw + 60, sh + 60, [](int, int) { return 0u; });
  for (int y = 0; y < sh; ++y) std::memcpy(framed.ScanLine(y + 30) + 4 * 30, source.ScanLine(y), 4 * sw);
  for (const auto& [tw, th] : {std::pair{16, 16}, std::pair{48, 20}, std::pair{100, 90}}) {
    const int px = static_cast<int>(std::nearbyint(tw * 30.0 / sw)),
              py = static_cast<int>(std::nearbyint(th * 30.0 / sh));
    TBitmap large = Target(tw + 2 * px, th + 2 * py);
    FilteredResample(framed, large, LanczosFilter);
    TBitmap target = Target(tw, th);
    ResampleBitmap(source, target, LanczosFilter);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x)
        ASSERT_EQ(Pixel(target, x, y), Pixel(large, x + px, y + py)) << tw << "x" << th << " at " << x << "," << y;
  }
}

TEST(EdgeBandAlphas, BandsAndWhenThereAreNone) {
  // 64 wide: bands are 3 pixels thick. Alpha = 10 × column on the left, 200 at the right edge.
  const TBitmap graded = Picture32(64, 40, [](int x, int y) {
    const uint32_t alpha = x < 3 ? 10u * x : x >= 61 ? 200u : y < 3 ? 90u : y >= 37 ? 30u : 255u;
    return alpha << 24;
  });
  const auto bands = EdgeBandAlphas(graded);
  ASSERT_TRUE(bands.has_value());
  EXPECT_EQ(bands->FLeft, 10);
  EXPECT_EQ(bands->FRight, 200);
  // Per row of the top band: 0 + 10 + 20 at the left, 3 × 200 at the right, 58 × 90 between.
  EXPECT_EQ(bands->FTop, (30 + 600 + 58 * 90) / 64);
  EXPECT_EQ(bands->FBottom, (30 + 600 + 58 * 30) / 64);

  struct Case {
    int width, height;
    TPixelFormat format;
    bool present;
  } cases[] = {
      {3, 10, pf32bit, false}, {10, 3, pf32bit, false}, {200, 4, pf32bit, false}, {4, 200, pf32bit, false},
      {160, 4, pf32bit, true}, {4, 160, pf32bit, true}, {64, 64, pf24bit, false},
  };
  for (const Case& c : cases) {
    TBitmap bitmap = Picture32(c.width, c.height, [](int, int) { return 0x7F000000u; });
    bitmap.SetPixelFormat(c.format);
    const auto result = EdgeBandAlphas(bitmap);
    ASSERT_EQ(result.has_value(), c.present) << c.width << "x" << c.height;
    // A band thicker than the picture is high stops at the picture.
    if (result) {
      EXPECT_EQ(*result, (TEdgeBandAlphas{0x7F, 0x7F, 0x7F, 0x7F}));
    }
  }
}

TEST(ResampleOpaque, MatchesTheAlphaPathOnOpaquePictures) {
  std::mt19937 random(7);
  const TBitmap source = Picture32(50, 33, [&](int, int) { return 0xFF000000u | (random() & 0xFFFFFF); });
  TBitmap source24(source);
  source24.SetPixelFormat(pf24bit);
  for (const auto& [tw, th] : {std::pair{16, 16}, std::pair{80, 20}}) {
    TBitmap withAlpha = Target(tw, th), opaque = Target(tw, th);
    ResampleBitmap(source, withAlpha, LanczosFilter);
    ResampleOpaque(source24, opaque, LanczosFilter);
    ASSERT_EQ(opaque.PixelFormat(), pf24bit);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x) ASSERT_EQ(opaque.GetPixel(x, y), withAlpha.GetPixel(x, y)) << x << "," << y;
  }
}

}  // namespace
}  // namespace glyphmill
