#include "platform/jpeg_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/picture_builders.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

void ExpectColour(const TBitmap& bitmap, int x, int y, TColor expected, int tolerance, const char* what) {
  const TColor c = bitmap.GetPixel(x, y);
  EXPECT_NEAR(GetRValue(c), GetRValue(expected), tolerance) << what;
  EXPECT_NEAR(GetGValue(c), GetGValue(expected), tolerance) << what;
  EXPECT_NEAR(GetBValue(c), GetBValue(expected), tolerance) << what;
}

// Four quadrants: red, green, blue, white.
TColor QuadrantColour(int x, int y, int width, int height) {
  const bool right = x >= width / 2, bottom = y >= height / 2;
  return !right && !bottom  ? RGBColor(255, 0, 0)
         : right && !bottom ? RGBColor(0, 255, 0)
         : !right           ? RGBColor(0, 0, 255)
                            : RGBColor(255, 255, 255);
}

TEST(JpegCodec, DecodesRgbGreyAndAdobeCmykToTheSameColours) {
  const int w = 64, h = 48;
  const auto rgb = test::MakeJpeg(w, h, 3, [&](int x, int y, uint8_t* s) {
    const TColor c = QuadrantColour(x, y, w, h);
    s[0] = GetRValue(c), s[1] = GetGValue(c), s[2] = GetBValue(c);
  });
  // Adobe CMYK stores the inks inverted: 255 means no ink.
  const auto cmyk = test::MakeJpeg(w, h, 4, [&](int x, int y, uint8_t* s) {
    const TColor c = QuadrantColour(x, y, w, h);
    s[0] = GetRValue(c), s[1] = GetGValue(c), s[2] = GetBValue(c), s[3] = 255;
  });
  for (const auto* bytes : {&rgb, &cmyk}) {
    TBitmap bitmap;
    DecodeJpeg(*bytes, bitmap);
    ASSERT_EQ(bitmap.PixelFormat(), pf24bit);
    ASSERT_EQ(bitmap.Width(), w);
    ASSERT_EQ(bitmap.Height(), h);
    ExpectColour(bitmap, 8, 8, RGBColor(255, 0, 0), 12, "red");
    ExpectColour(bitmap, w - 8, 8, RGBColor(0, 255, 0), 12, "green");
    ExpectColour(bitmap, 8, h - 8, RGBColor(0, 0, 255), 12, "blue");
    ExpectColour(bitmap, w - 8, h - 8, RGBColor(255, 255, 255), 12, "white");
  }
  EXPECT_EQ(ReadJpegInfo(cmyk).Components, 4);

  const auto grey = test::MakeJpeg(w, h, 1, [](int x, int, uint8_t* s) { s[0] = static_cast<uint8_t>(x * 4); });
  TBitmap bitmap;
  DecodeJpeg(grey, bitmap);
  ExpectColour(bitmap, 32, 10, RGBColor(128, 128, 128), 4, "grey");
}

TEST(JpegCodec, ReducedDecodingRoundsSidesUp) {
  const auto bytes = test::MakeJpeg(100, 60, 3, [](int, int, uint8_t* s) { s[0] = s[1] = s[2] = 90; });
  const struct { int Scale, Width, Height; } cases[] = {{1, 100, 60}, {2, 50, 30}, {4, 25, 15}, {8, 13, 8}};
  for (const auto& c : cases) {
    TBitmap bitmap;
    DecodeJpeg(bytes, bitmap, c.Scale);
    EXPECT_EQ(bitmap.Width(), c.Width) << c.Scale;
    EXPECT_EQ(bitmap.Height(), c.Height) << c.Scale;
  }
  TBitmap bitmap;
  EXPECT_THROW(DecodeJpeg(bytes, bitmap, 3), EGlyphmillError);
}

TEST(JpegCodec, HostileAndDamagedFiles) {
  auto bytes = test::MakeJpeg(16, 16, 3, [](int, int, uint8_t* s) { s[0] = s[1] = s[2] = 200; });
  TBitmap bitmap;
  bitmap.SetSize(3, 3);

  // A frame header claiming 20000 × 20000 is refused before anything is allocated.
  auto huge = bytes;
  for (size_t i = 0; i + 9 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 7] = 20000 >> 8;
      huge[i + 6] = huge[i + 8] = 20000 & 0xFF;
      break;
    }
  try {
    DecodeJpeg(huge, bitmap);
    FAIL() << "no error";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Picture too large (20000 x 20000)");
  }

  const std::vector<uint8_t> notJpeg = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  EXPECT_THROW(DecodeJpeg(notJpeg, bitmap), EReadError);
  EXPECT_THROW(DecodeJpeg({}, bitmap), EReadError);
  EXPECT_EQ(bitmap.Width(), 3) << "a failed decode leaves the bitmap alone";

  // Cut in the middle of the scan: the rows that never came are grey, the size is right.
  const auto noisy = test::MakeJpeg(128, 128, 3, [](int x, int y, uint8_t* s) {
    s[0] = static_cast<uint8_t>(x * y), s[1] = static_cast<uint8_t>(x ^ y), s[2] = static_cast<uint8_t>(x + 3 * y);
  });
  const std::vector<uint8_t> cut(noisy.begin(), noisy.begin() + static_cast<std::ptrdiff_t>(noisy.size() * 2 / 3));
  DecodeJpeg(cut, bitmap);
  EXPECT_EQ(bitmap.Width(), 128);
  EXPECT_EQ(bitmap.Height(), 128);
  EXPECT_EQ(bitmap.GetPixel(64, 127), RGBColor(128, 128, 128));
}

}  // namespace
}  // namespace glyphmill
