#include "platform/gif_codec.h"

#include <gtest/gtest.h>

#include <gif_lib.h>

#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

TBitmap PaletteFrame(int width, int height, int seed) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf8bit);
  std::vector<TRGBQuad> palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = TRGBQuad{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
  bitmap.SetPalette(palette);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bitmap.SetIndex(x, y, (x + y * 3 + seed) % 8);
  return bitmap;
}

TEST(GifCodec, EncodedAnimationDecodesToItsFirstFrame) {
  TGifAnimation animation;
  animation.Width = 12;
  animation.Height = 10;
  animation.LoopCount = 0;
  animation.Comments = {"made by a test"};
  animation.Frames.push_back({PaletteFrame(12, 10, 0), 0, 0, 10, gdRestoreBackground, 3});
  animation.Frames.push_back({PaletteFrame(4, 4, 5), 2, 3, 25, gdKeep, -1});
  const std::vector<uint8_t> bytes = EncodeGif(animation);

  const TGifPicture picture = DecodeGif(bytes);
  ASSERT_EQ(picture.Bitmap.PixelFormat(), pf8bit);
  ASSERT_EQ(picture.Bitmap.Width(), 12);
  ASSERT_EQ(picture.Bitmap.Height(), 10);
  EXPECT_EQ(picture.TransparentIndex, 3);
  const TBitmap expected = PaletteFrame(12, 10, 0);
  const TBitmap mask = picture.Mask();
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      ASSERT_EQ(picture.Bitmap.GetPixel(x, y), expected.GetPixel(x, y)) << x << "," << y;
      EXPECT_EQ(mask.GetIndex(x, y), expected.GetIndex(x, y) == 3 ? 1 : 0);
    }

  // An independent reader sees both frames with their delays, disposal, loop and comment.
  if (!test::ToolExists("/usr/bin/identify")) GTEST_SKIP() << "no ImageMagick";
  test::TTempDir dir;
  test::WriteAll(dir / "a.gif", bytes);
  std::string output;
  test::RunCommand("/usr/bin/identify -format '%T/%D/%wx%h%X%Y;' " + (dir / "a.gif").string() + " 2>&1", &output);
  EXPECT_EQ(output, "10/Background/12x10+0+0;25/None/4x4+2+3;");
  output.clear();
  test::RunCommand("/usr/bin/identify -format '%c' " + (dir / "a.gif").string() + "'[0]' 2>&1", &output);
  EXPECT_EQ(output, "made by a test");
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find(std::string("NETSCAPE2.0\x03\x01\x00\x00", 15)), std::string::npos) << "loop forever";
}

TEST(GifCodec, InterlacedRowsAndFramesSmallerThanTheScreen) {
  // Written with giflib itself: an interlaced 3 × 9 frame at (1, 1) on a 6 × 12 screen with a
  // global palette and background index 5.
  test::TTempDir dir;
  const std::string name = (dir / "i.gif").string();
  int error = 0;
  GifFileType* gif = EGifOpenFileName(name.c_str(), false, &error);
  ASSERT_NE(gif, nullptr);
  GifColorType colours[8];
  for (int i = 0; i < 8; ++i) colours[i] = {uint8_t(i * 30), uint8_t(i * 20), uint8_t(i * 10)};
  ColorMapObject* map = GifMakeMapObject(8, colours);
  EGifPutScreenDesc(gif, 6, 12, 3, 5, map);
  EGifPutImageDesc(gif, 1, 1, 3, 9, true, nullptr);
  GifPixelType row[3];
  for (const int start : {0, 4, 2, 1})
    for (int y = start; y < 9; y += start == 0 || start == 4 ? 8 : start == 2 ? 4 : 2) {
      row[0] = row[1] = row[2] = static_cast<GifPixelType>(y % 5);
      EGifPutLine(gif, row, 3);
    }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);

  const TGifPicture picture = DecodeGif(test::ReadAll(name));
  EXPECT_EQ(picture.TransparentIndex, -1);
  for (int y = 0; y < 9; ++y) EXPECT_EQ(picture.Bitmap.GetIndex(2, y + 1), y % 5) << "frame row " << y;
  EXPECT_EQ(picture.Bitmap.GetIndex(0, 0), 5) << "uncovered screen pixels show the background index";
  EXPECT_EQ(picture.Bitmap.GetIndex(5, 11), 5);
  EXPECT_EQ(picture.Bitmap.GetPixel(2, 2), RGBColor(30, 20, 10));
}

TEST(GifCodec, HostileAndWrongInput) {
  // A 44-byte file claiming a 65535 × 65535 screen.
  std::vector<uint8_t> huge = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0};
  try {
    DecodeGif(huge);
    FAIL() << "no error";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Picture too large (65535 x 65535)");
  }
  TGifAnimation animation{4, 4, 0, {}, {{PaletteFrame(4, 4, 0)}}};
  const auto bytes = EncodeGif(animation);
  for (size_t cut : {size_t(6), size_t(13), bytes.size() - 6})
    EXPECT_THROW(DecodeGif(std::span(bytes).first(cut)), EReadError) << cut;
  const std::vector<uint8_t> noImage = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B};
  EXPECT_THROW(DecodeGif(noImage), EReadError);

  TBitmap truecolour;
  truecolour.SetPixelFormat(pf24bit);
  truecolour.SetSize(4, 4);
  animation.Frames[0].Bitmap = truecolour;
  EXPECT_THROW(EncodeGif(animation), EGlyphmillError);
  animation.Frames[0].Bitmap = PaletteFrame(4, 4, 0);
  animation.Frames[0].Left = 1;
  EXPECT_THROW(EncodeGif(animation), EGlyphmillError) << "frame outside the screen";
}

}  // namespace
}  // namespace glyphmill
