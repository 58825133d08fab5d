#include "platform/jpeg2000_codec.h"

#include <gtest/gtest.h>

#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

// Largest difference of any channel (alpha included) from ImageMagick's reading of the file.
int LargestDifferenceFromImageMagick(const std::filesystem::path& file, const TBitmap& bitmap) {
  std::string rgba;
  test::RunCommand("/usr/bin/convert '" + file.string() + "' -depth 8 rgba:- 2>/dev/null", &rgba);
  if (rgba.size() != static_cast<size_t>(bitmap.Width()) * bitmap.Height() * 4) return 999;
  int largest = 0;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint8_t* ref =
          reinterpret_cast<const uint8_t*>(rgba.data()) + (static_cast<size_t>(y) * bitmap.Width() + x) * 4;
      const TColor c = bitmap.GetPixel(x, y);
      const int alpha = bitmap.PixelFormat() == pf32bit ? bitmap.ScanLine(y)[x * 4 + 3] : 255;
      if (alpha == 0 && ref[3] == 0) continue;
      largest = std::max({largest, std::abs(GetRValue(c) - ref[0]), std::abs(GetGValue(c) - ref[1]),
                          std::abs(GetBValue(c) - ref[2]), std::abs(alpha - ref[3])});
    }
  return largest;
}

TEST(Jpeg2000Codec, CorpusPicturesMatchAnIndependentDecoder) {
  const auto corpus = test::CorpusDir();
  if (corpus.empty() || !test::ToolExists("/usr/bin/convert")) GTEST_SKIP() << "no corpus or ImageMagick";
  const struct {
    const char* Name;
    TPixelFormat Format;
  } cases[] = {
      {"pillow_16bit.cropped.j2k", pf24bit},
      {"pillow_16bit.cropped.jp2", pf24bit},
      {"pillow_9bit.j2k", pf24bit},
      {"pillow_rgb_trns_ycbc.jp2", pf32bit},
      {"pillow_test-card-lossless.jp2", pf24bit},
      {"pillow_test-card-lossy-tiled.jp2", pf24bit},
  };
  for (const auto& c : cases) {
    TBitmap bitmap;
    DecodeJpeg2000(test::ReadAll(corpus / "jp2" / c.Name), bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), c.Format) << c.Name;
    EXPECT_LE(LargestDifferenceFromImageMagick(corpus / "jp2" / c.Name, bitmap), 1) << c.Name;
  }
}

TEST(Jpeg2000Codec, GreyWithAlphaKeepsItsAlpha) {
  const auto corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  TBitmap bitmap;
  DecodeJpeg2000(test::ReadAll(corpus / "jp2/pillow_00r1_graya_la.jp2"), bitmap);
  ASSERT_EQ(bitmap.PixelFormat(), pf32bit);
  bool partial = false, grey = true;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint8_t* p = bitmap.ScanLine(y) + x * 4;
      partial |= p[3] > 0 && p[3] < 255;
      grey &= p[0] == p[1] && p[1] == p[2];
    }
  EXPECT_TRUE(partial);
  EXPECT_TRUE(grey);
}

TEST(Jpeg2000Codec, HostileAndWrongInput) {
  TBitmap bitmap;
  testing::internal::CaptureStderr();
  try {
    DecodeJpeg2000(std::vector<uint8_t>{'G', 'I', 'F', '8'}, bitmap);
    ADD_FAILURE() << "no error";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Invalid JPEG 2000 image: unknown signature");
  }
  // A codestream whose size marker claims 100000 × 100000 in one tile.
  const std::vector<uint8_t> huge = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0x00, 0x00, 0x00, 0x01, 0x86, 0xA0, 0x00, 0x01,
                                     0x86, 0xA0, 0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0x01, 0x86, 0xA0,
                                     0x00, 0x01, 0x86, 0xA0, 0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0x01,
                                     0x07, 0x01, 0x01, 0xFF, 0x52, 0x00, 0x0C, 0,    0,    0x00, 0x01, 0,    0x05, 0x04,
                                     0x04, 0,    0x01, 0xFF, 0x5C, 0x00, 0x04, 0x40, 0x48, 0xFF, 0x90, 0x00, 0x0A, 0,
                                     0,    0,    0,    0,    0,    0,    1,    0xFF, 0x93, 0xFF, 0xD9};
  EXPECT_THROW(DecodeJpeg2000(huge, bitmap), EReadError);
  const auto corpus = test::CorpusDir();
  if (!corpus.empty()) {
    const auto bytes = test::ReadAll(corpus / "jp2/pillow_test-card-lossless.jp2");
    for (size_t cut : {size_t(12), size_t(40), size_t(300)})
      EXPECT_THROW(DecodeJpeg2000(std::span(bytes).first(cut), bitmap), EReadError) << cut;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "OpenJPEG must not talk on the terminal";
}

}  // namespace
}  // namespace glyphmill
