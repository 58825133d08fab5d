#include "platform/tiff_codec.h"

#include <gtest/gtest.h>

#include "platform/picture_builders.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

std::vector<uint8_t> Tiff(int width, int height, int samples, int bits, int photometric, bool alpha,
                          const std::vector<uint8_t>& pixels) {
  test::TTempDir dir;
  test::WriteTiff((dir / "t.tif").string(), width, height, samples, bits, photometric, alpha, pixels);
  return test::ReadAll(dir / "t.tif");
}

TEST(TiffCodec, KeepsStraightAlpha) {
  // Unassociated alpha: libtiff premultiplies it, the decoder must undo that.
  const auto bytes = Tiff(2, 1, 4, 8, PHOTOMETRIC_RGB, true, {200, 100, 50, 128, 10, 20, 30, 0});
  TBitmap bitmap;
  DecodeTiff(bytes, bitmap);
  ASSERT_EQ(bitmap.PixelFormat(), pf32bit);
  const uint8_t* p = bitmap.ScanLine(0);
  EXPECT_NEAR(p[2], 200, 2);
  EXPECT_NEAR(p[1], 100, 2);
  EXPECT_NEAR(p[0], 50, 2);
  EXPECT_EQ(p[3], 128);
  EXPECT_EQ(p[7], 0);

  const auto opaque = Tiff(1, 1, 3, 8, PHOTOMETRIC_RGB, false, {1, 2, 3});
  DecodeTiff(opaque, bitmap);
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(1, 2, 3));
}

TEST(TiffCodec, DepthsAndColourSpacesBeyondLibtiffsRgbaPath) {
  // 12-bit grey 0, 4095, 2048, 1 packed MSB-first.
  const auto grey12 = Tiff(4, 1, 1, 12, PHOTOMETRIC_MINISBLACK, false, {0x00, 0x0F, 0xFF, 0x80, 0x00, 0x01});
  // 8-bit L*a*b*: white, black and a saturated red (L 54, a 81, b 70 → about 255, 0, 0).
  const auto lab = Tiff(3, 1, 3, 8, PHOTOMETRIC_CIELAB, false, {255, 0, 0, 0, 0, 0, 138, 81, 70});
  TBitmap bitmap;
  DecodeTiff(grey12, bitmap);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(bitmap.GetPixel(1, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(bitmap.GetPixel(2, 0), RGBColor(128, 128, 128));
  EXPECT_EQ(bitmap.GetPixel(3, 0), RGBColor(0, 0, 0));
  DecodeTiff(lab, bitmap);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(bitmap.GetPixel(1, 0), RGBColor(0, 0, 0));
  const TColor red = bitmap.GetPixel(2, 0);
  EXPECT_GT(GetRValue(red), 230);
  EXPECT_LT(GetGValue(red), 40);
  EXPECT_LT(GetBValue(red), 40);
}

TEST(TiffCodec, FailsQuietlyOnHostileInput) {
  auto bytes = Tiff(2, 2, 3, 8, PHOTOMETRIC_RGB, false, std::vector<uint8_t>(12, 7));
  TBitmap bitmap;
  testing::internal::CaptureStderr();
  // Every width field 2 becomes 100000 (the tag holds a 16- or 32-bit value after its type).
  auto huge = bytes;
  for (size_t i = 8; i + 12 <= huge.size(); ++i)
    if (huge[i] == 0x00 && huge[i + 1] == 0x01 && huge[i + 2] == 3 && huge[i + 3] == 0) {
      huge[i + 2] = 4;
      huge[i + 8] = 0xA0, huge[i + 9] = 0x86, huge[i + 10] = 0x01, huge[i + 11] = 0;
      break;
    }
  try {
    DecodeTiff(huge, bitmap);
    ADD_FAILURE() << "no error";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Picture too large (100000 x 2)");
  }
  for (size_t cut : {size_t(4), size_t(8), bytes.size() / 2})
    EXPECT_THROW(DecodeTiff(std::span(bytes).first(cut), bitmap), EReadError);
  const std::vector<uint8_t> noTiff = {'I', 'I', '*', 0, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_THROW(DecodeTiff(noTiff, bitmap), EReadError);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "libtiff must not talk on the terminal";
}

}  // namespace
}  // namespace glyphmill
