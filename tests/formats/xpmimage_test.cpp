#include "formats/xpmimage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imagemagick_reference.h"
#include "imaging/colorreduction.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::CorpusDir;
using test::TTempDir;

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// The pixel as 0xAARRGGBB.
uint32_t PixelValue(const TBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
  return static_cast<uint32_t>(p[0]) | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

TXPMImage LoadXpm(const std::string& text) {
  TXPMImage image;
  image.LoadFromBytes(Bytes(text));
  return image;
}

std::string XpmMessage(const std::string& text) {
  try {
    LoadXpm(text);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(XpmColors, TheNameTableRunsFromBlackAndWhiteThroughTheX11NamesToTeal) {
  const auto& table = XpmColorNames();
  ASSERT_EQ(table.size(), 146u);
  EXPECT_EQ(table[0].first, "black");
  EXPECT_EQ(table[1].first, "white");
  EXPECT_EQ(table[1].second, RGBColor(255, 255, 255));
  EXPECT_EQ(table[2].first, "aliceblue");
  EXPECT_EQ(table[3].first, "antiquewhite");
  EXPECT_EQ(table[4].first, "aqua");
  EXPECT_EQ(table.back().first, "teal");
  for (size_t i = 3; i + 1 < table.size(); ++i) EXPECT_LT(table[i - 1].first, table[i].first);
}

TEST(XpmColors, SpecificationsGiveTheirValues) {
  struct TCase {
    const char* Specification;
    uint32_t Expected;
  } cases[] = {
      {"none", 0},
      {"red", 0xFFFF0000},
      {"teal", 0xFF008080},
      {"gray", 0xFFBEBEBE},
      {"grey", 0xFFBEBEBE},
      {"green", 0xFF00FF00},
      {"brown", 0xFF8B2323},
      {"grey50", 0xFF808080},  // 127.5 rounds to the even 128
      {"gray100", 0xFFFFFFFF},
      {"grey0", 0xFF000000},
      {"red3", 0xFFCD0000},
      {"red1", 0xFFFF0000},
      {"red4", 0xFF8B0000},
      {"red5", 0xFF000000},
      {"nosuchcolour", 0xFF000000},
      {"#ff8000", 0xFFFF8000},
      {"#ffff00000000", 0xFFFF0000},
      {"#12345678abcd", 0xFF1256AB},
      {"#fffa00", 0xFFFFFA00},
      {"#f80", 0xFFFF8800},
      {"#123456789", 0xFF124578},
  };
  for (const TCase& c : cases) EXPECT_EQ(XpmColorValue(c.Specification), c.Expected) << c.Specification;
}

TEST(XPMImage, ReadsKeysColourLinesAndRowsAroundComments) {
  const TXPMImage image = LoadXpm(
      "/* XPM */\n"
      "static char * sample_xpm[] = {\n"
      "/* columns rows colors chars-per-pixel */\n"
      "\"3 2 4 2\",\n"
      "\"  c None\",\n"
      "\"r.\tc red s red_sym\",\n"
      "\"g. s magic c #00FF00\",\n"
      "\"b. c #FFFF00000000 m black\",\n"
      "/* pixels */\n"
      "\"r.g.  \",\n"
      "\"b.zzr.\"};\n");
  EXPECT_EQ(image.ImageName(), "sample");
  ASSERT_EQ(image.Bitmap().Width(), 3);
  ASSERT_EQ(image.Bitmap().Height(), 2);
  EXPECT_EQ(image.Bitmap().PixelFormat(), pf32bit);
  EXPECT_EQ(PixelValue(image.Bitmap(), 0, 0), 0xFFFF0000u);
  EXPECT_EQ(PixelValue(image.Bitmap(), 1, 0), 0xFF00FF00u);
  EXPECT_EQ(PixelValue(image.Bitmap(), 2, 0), 0u);
  EXPECT_EQ(PixelValue(image.Bitmap(), 0, 1), 0xFFFF0000u);
  EXPECT_EQ(PixelValue(image.Bitmap(), 1, 1), 0u);  // an undefined key is transparent
  EXPECT_EQ(PixelValue(image.Bitmap(), 2, 1), 0xFFFF0000u);
}

TEST(XPMImage, ShortRowsAndMissingRowsStayTransparent) {
  const TXPMImage image = LoadXpm("{\"4 3 1 1\", \"x c blue\", \"xx\", \"xxxxxxxx\"}");
  EXPECT_EQ(PixelValue(image.Bitmap(), 1, 0), 0xFF0000FFu);
  EXPECT_EQ(PixelValue(image.Bitmap(), 2, 0), 0u);
  EXPECT_EQ(PixelValue(image.Bitmap(), 3, 1), 0xFF0000FFu);
  EXPECT_EQ(PixelValue(image.Bitmap(), 0, 2), 0u);
}

TEST(XPMImage, RefusesMissingAndOutOfRangeValues) {
  struct TCase {
    const char* Text;
    const char* Expected;
  } cases[] = {
      {"static char *x[] = \"1 1 1 1\";", "Invalid XPM image data, err. 1"},
      {"{ no strings }", "Invalid XPM image data, err. 1"},
      {"{\"1 1 1\"}", "Invalid XPM image data, err. 2"},
      {"{\"0 1 1 1\"}", "Invalid XPM image data, err. 2"},
      {"{\"1 65536 1 1\"}", "Invalid XPM image data, err. 2"},
      {"{\"1 1 0 1\"}", "Invalid XPM image data, err. 2"},
      {"{\"1 1 1 5\"}", "Invalid XPM image data, err. 2"},
      {"{\"16000 16000 1 1\"}", "Invalid XPM image data, err. 2"},
      {"{\"99999999999999999999999999 1 1 1\"}", "Invalid XPM image data, err. 2"},
      {"P7 332\nno marker", "#END_OF_COMMENTS: not found"},
      {"P7 332\n#END_OF_COMMENTS:\n0 1 255\n", "Invalid XPM image data, err. 3"},
      {"P7 332\n#END_OF_COMMENTS:\n1 1 0\n", "Invalid XPM image data, err. 3"},
  };
  for (const TCase& c : cases) EXPECT_EQ(XpmMessage(c.Text), c.Expected) << c.Text;
}

TEST(XPMImage, ThumbnailsTakeOneBytePerPixel) {
  std::string text = "P7 332\n#IMGINFO:2x2 RGB (1 bytes)\n#END_OF_COMMENTS:\n2 2 255\n";
  text += static_cast<char>(224);
  text += static_cast<char>(0xF3);
  text += static_cast<char>(0x10);
  const TXPMImage image = LoadXpm(text);
  ASSERT_EQ(image.Bitmap().Width(), 2);
  EXPECT_EQ(PixelValue(image.Bitmap(), 0, 0), 0xFFFF0000u);
  const TColor white = QuadToColor(StandardPalette16()[15]);
  EXPECT_EQ(PixelValue(image.Bitmap(), 1, 0),
            0xFF000000u | (GetRValue(white) << 16) | (GetGValue(white) << 8) | GetBValue(white));
  EXPECT_EQ(PixelValue(image.Bitmap(), 0, 1) >> 24, 0xFFu);
  EXPECT_EQ(PixelValue(image.Bitmap(), 1, 1), 0u);  // beyond the end of the text
}

// An XBM text of the given size and values.
std::string Xbm(int width, int height, const std::string& values) {
  return "#define t_width " + std::to_string(width) + "\n#define t_height " + std::to_string(height) +
         "\nstatic unsigned char t_bits[] = {\n" + values + "};\n";
}

std::string XbmMessage(const std::string& text) {
  try {
    TXBMImage image;
    image.LoadFromBytes(Bytes(text));
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(XBMImage, ReversesAndInvertsEachByteAndRoundsRowsUpToBytes) {
  // Width 9: two bytes a row. 0x01 sets the leftmost pixel (black); 0x01 in the second byte the 9th.
  TXBMImage image;
  image.LoadFromBytes(Bytes(Xbm(9, 2, "0x01, 0x00, 0x00, 0x01")));
  const TBitmap& bitmap = image.Bitmap();
  ASSERT_EQ(bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(bitmap.GetPixel(1, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(bitmap.GetPixel(8, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(bitmap.GetPixel(8, 1), RGBColor(0, 0, 0));
  EXPECT_EQ(bitmap.GetPixel(0, 1), RGBColor(255, 255, 255));
  EXPECT_EQ(image.Mask(), nullptr);

  TXBMImage hex;
  hex.LoadFromBytes(Bytes(Xbm(8, 1, "0x3c")));
  for (int x = 0; x < 8; ++x)
    EXPECT_EQ(hex.Bitmap().GetPixel(x, 0), (x >= 2 && x <= 5) ? RGBColor(0, 0, 0) : RGBColor(255, 255, 255)) << x;
}

TEST(XBMImage, RefusesEmptyFilesBadSizesAndTooManyValues) {
  EXPECT_EQ(XbmMessage(""), "Zero file");
  EXPECT_EQ(XbmMessage(Xbm(0, 4, "")), "Invalid XPM image data, err. 4");
  EXPECT_EQ(XbmMessage(Xbm(65535, 1, "")), "Invalid XPM image data, err. 4");
  EXPECT_EQ(XbmMessage(Xbm(4, 65536, "")), "Invalid XPM image data, err. 4");
  EXPECT_EQ(XbmMessage("static char x[] = {0x00};"), "Invalid XPM image data, err. 4");
  EXPECT_EQ(XbmMessage(Xbm(8, 1, "0x00, 0x01")), "Invalid XPM image data, err. 5");
  EXPECT_EQ(XbmMessage(Xbm(16000, 16000, "0x00")), "Invalid XPM image data, err. 4");
  EXPECT_EQ(XbmMessage("#define t_width 99999999999999999999999\n#define t_height 1\n"),
            "Invalid XPM image data, err. 4");
}

TEST(XBMImage, TheMaskFileInvertsExactlyThePixelsUnderItsWhitePixels) {
  TTempDir temp;
  const auto picture = temp / "p.xbm";
  // Picture: row 0 all black, row 1 all white. Mask: bit 0 (white, transparent) at the four corners.
  test::WriteAll(picture, Bytes(Xbm(8, 2, "0xFF, 0x00")));
  test::WriteAll(temp / "p.xbm.mask", Bytes(Xbm(8, 2, "0x7E, 0x7E")));
  TXBMImage image;
  image.LoadFromFile(picture.string());
  ASSERT_NE(image.Mask(), nullptr);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool corner = x == 0 || x == 7;
      EXPECT_EQ(image.Mask()->GetPixel(x, y), corner ? RGBColor(255, 255, 255) : RGBColor(0, 0, 0));
      const bool black = (y == 0) != corner;
      EXPECT_EQ(image.Bitmap().GetPixel(x, y), black ? RGBColor(0, 0, 0) : RGBColor(255, 255, 255)) << x << "," << y;
    }
  }
  const auto graphic = LoadXbmGraphicFile(picture.string());
  ASSERT_NE(dynamic_cast<TBitmapGraphic*>(graphic.get())->Mask(), nullptr);

  std::filesystem::remove(temp / "p.xbm.mask");
  image.LoadFromFile(picture.string());
  EXPECT_EQ(image.Mask(), nullptr);
  EXPECT_EQ(image.Bitmap().GetPixel(0, 0), RGBColor(0, 0, 0));
}

// Every XPM and XBM of the corpus, the pixmaps Debian packages ship, and files ImageMagick writes
// decode to ImageMagick's own colours.
TEST(XPMImage, MatchesImageMagick) {
  const bool tool = test::ToolExists(test::ConvertTool);
  std::vector<std::filesystem::path> xpms, xbms;
  auto collect = [](const std::filesystem::path& folder, const char* extension,
                    std::vector<std::filesystem::path>& into) {
    if (!std::filesystem::exists(folder)) return;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.path().extension() == extension) into.push_back(entry.path());
  };
  collect(CorpusDir() / "xpm", ".xpm", xpms);
  collect(CorpusDir() / "xbm", ".xbm", xbms);
  if (tool) collect("/usr/share/pixmaps", ".xpm", xpms);
  TTempDir temp;
  if (tool) {
    const std::string source = (temp / "in.png").string();
    ASSERT_TRUE(test::RunConvert("-size 33x21 -seed 9 plasma:fractal -alpha set -channel A -fx 'i<8?0:1' +channel '" +
                                 source + "'"));
    ASSERT_TRUE(test::RunConvert("'" + source + "' -colors 40 '" + (temp / "im.xpm").string() + "'"));
    ASSERT_TRUE(test::RunConvert("'" + source + "' -alpha off -monochrome '" + (temp / "im.xbm").string() + "'"));
    xpms.push_back(temp / "im.xpm");
    xbms.push_back(temp / "im.xbm");
  }
  for (const auto& file : xpms) {
    TXPMImage image;
    image.LoadFromFile(file.string());
    EXPECT_FALSE(image.Bitmap().Empty()) << file;
    // ImageMagick scales 16-bit components where the reader takes their high byte: 1 apart at most.
    if (tool) test::ExpectMatchesImageMagick(file, image.Bitmap(), true, nullptr, 1);
  }
  for (const auto& file : xbms) {
    TXBMImage image;
    image.LoadFromFile(file.string());
    EXPECT_FALSE(image.Bitmap().Empty()) << file;
    if (tool) test::ExpectMatchesImageMagick(file, image.Bitmap(), false, nullptr, 0);
  }
}

}  // namespace
}  // namespace glyphmill
