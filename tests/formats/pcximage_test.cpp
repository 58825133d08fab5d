#include "formats/pcximage.h"

#include <gtest/gtest.h>

#include <vector>

#include "imagemagick_reference.h"
#include "imaging/colorreduction.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::CorpusDir;
using test::TTempDir;

struct THeader {
  uint8_t Manufacturer = 10;
  uint8_t Version = 5;
  uint8_t Encoding = 1;
  uint8_t Bits = 8;
  int Width = 1;
  int Height = 1;
  uint8_t Planes = 1;
  int BytesPerLine = 2;
  int PaletteInfo = 1;
};

std::vector<uint8_t> Pcx(const THeader& h, const std::vector<uint8_t>& data,
                         const std::vector<uint8_t>& headerPalette = {}) {
  std::vector<uint8_t> out(128, 0);
  out[0] = h.Manufacturer;
  out[1] = h.Version;
  out[2] = h.Encoding;
  out[3] = h.Bits;
  out[8] = static_cast<uint8_t>(h.Width - 1);
  out[9] = static_cast<uint8_t>((h.Width - 1) >> 8);
  out[10] = static_cast<uint8_t>(h.Height - 1);
  out[11] = static_cast<uint8_t>((h.Height - 1) >> 8);
  out[12] = 72;
  out[14] = 96;
  for (size_t i = 0; i < headerPalette.size() && i < 48; ++i) out[16 + i] = headerPalette[i];
  out[65] = h.Planes;
  out[66] = static_cast<uint8_t>(h.BytesPerLine);
  out[67] = static_cast<uint8_t>(h.BytesPerLine >> 8);
  out[68] = static_cast<uint8_t>(h.PaletteInfo);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

void AppendPaletteBlock(std::vector<uint8_t>& file) {
  file.push_back(12);
  for (int i = 0; i < 256; ++i) file.insert(file.end(), {static_cast<uint8_t>(i), 0, static_cast<uint8_t>(255 - i)});
}

TPCXImage Load(const std::vector<uint8_t>& bytes) {
  TPCXImage image;
  image.LoadFromBytes(bytes);
  return image;
}

std::string Message(const std::vector<uint8_t>& bytes) {
  try {
    Load(bytes);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(PCXRLEDecoder, RunsRepeatAndCrossTheRowsAskedFor) {
  const std::vector<uint8_t> data = {0xC5, 0x07, 0x01, 0xC3, 0x09};
  TPCXRLEDecoder decoder(data);
  std::vector<uint8_t> first(3), second(6);
  EXPECT_EQ(decoder.Decode(first), 3u);
  EXPECT_EQ(first, (std::vector<uint8_t>{7, 7, 7}));
  EXPECT_EQ(decoder.Decode(second), 6u);
  EXPECT_EQ(second, (std::vector<uint8_t>{7, 7, 1, 9, 9, 9}));
  std::vector<uint8_t> rest(2, 0xEE);
  EXPECT_EQ(decoder.Decode(rest), 0u);
}

TEST(PCXImage, EightBitRowsTakeTheTrailingPaletteOrGreyOrNone) {
  THeader h;
  h.Width = 5;
  h.BytesPerLine = 6;
  std::vector<uint8_t> file = Pcx(h, {0xC5, 0x07, 0x00});
  AppendPaletteBlock(file);
  const TPCXImage image = Load(file);
  ASSERT_EQ(image.Bitmap().PixelFormat(), pf8bit);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(image.Bitmap().GetIndex(x, 0), 7);
  EXPECT_EQ(image.Bitmap().GetPixel(0, 0), RGBColor(7, 0, 248));
  EXPECT_DOUBLE_EQ(image.HorizontalResolution(), 72);
  EXPECT_DOUBLE_EQ(image.VerticalResolution(), 96);

  // No block, palette information 1: the 8-bit default table stays.
  const TPCXImage plain = Load(Pcx(h, {0xC5, 0x07, 0x00}));
  EXPECT_EQ(plain.Bitmap().Palette(), DefaultPalette(pf8bit));
  h.PaletteInfo = 2;
  const TPCXImage grey = Load(Pcx(h, {0xC5, 0x07, 0x00}));
  EXPECT_EQ(grey.Bitmap().GetPixel(0, 0), RGBColor(7, 7, 7));
}

TEST(PCXImage, GreyFilesWithoutAPaletteBlockKeepTheirLastPixels) {
  THeader h;
  h.Encoding = 0;
  h.Width = 40;
  h.Height = 20;
  h.BytesPerLine = 40;
  h.PaletteInfo = 2;
  std::vector<uint8_t> pixels(800);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i % 251 + 1);
  const TPCXImage image = Load(Pcx(h, pixels));
  EXPECT_EQ(image.Bitmap().GetIndex(39, 19), pixels[799]);
  EXPECT_EQ(image.Bitmap().GetIndex(0, 1), pixels[40]);
}

TEST(PCXImage, SixteenColourPalettesComeFromTheHeaderTheStandardTableOrGrey) {
  THeader h;
  h.Bits = 4;
  h.Width = 2;
  h.BytesPerLine = 1;
  std::vector<uint8_t> triples(48);
  for (size_t i = 0; i < 48; ++i) triples[i] = static_cast<uint8_t>(i * 5);
  const TPCXImage own = Load(Pcx(h, {0x1F}, triples));
  EXPECT_EQ(own.Bitmap().PixelFormat(), pf4bit);
  EXPECT_EQ(own.Bitmap().GetPixel(0, 0), RGBColor(15, 20, 25));
  EXPECT_EQ(own.Bitmap().GetPixel(1, 0), RGBColor(225, 230, 235));

  h.Version = 3;
  const TPCXImage standard = Load(Pcx(h, {0x1F}, triples));
  EXPECT_EQ(standard.Bitmap().GetPixel(1, 0), QuadToColor(StandardPalette16()[15]));

  h.Version = 5;
  h.PaletteInfo = 2;
  const TPCXImage grey = Load(Pcx(h, {0x1F}, triples));
  EXPECT_EQ(grey.Bitmap().GetPixel(0, 0), RGBColor(17, 17, 17));
}

TEST(PCXImage, PlaneLayoutsBecomeFourTwentyFourAndThirtyTwoBitPixels) {
  // CGA: one plane of 2 bits; indices 0..3 become 0, 5, 10, 15.
  THeader cga;
  cga.Bits = 2;
  cga.Width = 4;
  cga.BytesPerLine = 2;
  const TPCXImage c = Load(Pcx(cga, {0x1B, 0x00}));
  ASSERT_EQ(c.Bitmap().PixelFormat(), pf4bit);
  EXPECT_EQ(c.BitsPerPixel(), 2);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(c.Bitmap().GetIndex(x, 0), x * 5) << x;

  // Four planes of one bit: plane p gives bit p of each pixel.
  THeader planar;
  planar.Bits = 1;
  planar.Planes = 4;
  planar.Width = 3;
  planar.BytesPerLine = 1;
  planar.Encoding = 0;
  const TPCXImage p = Load(Pcx(planar, {0x80, 0x40, 0xC0, 0x20}));
  ASSERT_EQ(p.Bitmap().PixelFormat(), pf4bit);
  EXPECT_EQ(p.Bitmap().GetIndex(0, 0), 0b0101);
  EXPECT_EQ(p.Bitmap().GetIndex(1, 0), 0b0110);
  EXPECT_EQ(p.Bitmap().GetIndex(2, 0), 0b1000);

  THeader rgb;
  rgb.Planes = 3;
  rgb.Width = 2;
  rgb.BytesPerLine = 2;
  rgb.Encoding = 0;
  const TPCXImage r = Load(Pcx(rgb, {10, 11, 20, 21, 30, 31}));
  ASSERT_EQ(r.Bitmap().PixelFormat(), pf24bit);
  EXPECT_EQ(r.Bitmap().GetPixel(1, 0), RGBColor(11, 21, 31));

  rgb.Planes = 4;
  const TPCXImage a = Load(Pcx(rgb, {10, 11, 20, 21, 30, 31, 0, 255}));
  ASSERT_EQ(a.Bitmap().PixelFormat(), pf32bit);
  EXPECT_EQ(a.Bitmap().ScanLine(0)[3], 0);
  EXPECT_EQ(a.Bitmap().ScanLine(0)[7], 255);

  THeader mono;
  mono.Bits = 1;
  mono.Width = 9;
  mono.BytesPerLine = 2;
  const TPCXImage m = Load(Pcx(mono, {0xC1, 0x80, 0xC1, 0x80}));
  ASSERT_EQ(m.Bitmap().PixelFormat(), pf1bit);
  EXPECT_EQ(m.Bitmap().GetPixel(0, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(m.Bitmap().GetPixel(1, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(m.Bitmap().GetPixel(8, 0), RGBColor(255, 255, 255));
}

TEST(PCXImage, HeaderRulesAndErrors) {
  THeader other;
  other.Manufacturer = 11;
  EXPECT_TRUE(Load(Pcx(other, {0, 0})).Bitmap().Empty());

  struct TCase {
    uint8_t Bits;
    uint8_t Planes;
    const char* Expected;
  } cases[] = {
      {0, 1, "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16"},
      {17, 1, "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16"},
      {8, 5, "Sample count per pixel does not correspond to the given color scheme"},
      {8, 2, "Invalid Color Format"},
      {1, 3, "Invalid Color Format"},
      {16, 1, "Invalid Color Format"},
  };
  for (const TCase& c : cases) {
    THeader h;
    h.Bits = c.Bits;
    h.Planes = c.Planes;
    EXPECT_EQ(Message(Pcx(h, std::vector<uint8_t>(64, 0))), c.Expected) << int(c.Bits) << "x" << int(c.Planes);
  }
  EXPECT_EQ(Message(std::vector<uint8_t>(100, 10)), "Stream read error");
  // A header alone cannot fill a picture.
  EXPECT_EQ(Message(Pcx(THeader{}, {})), "Stream read error");
}

TEST(PCXImage, ShortRowsAndShortDataStayInsideTheBuffers) {
  // Rows of 2 bytes for a width of 300: the rest of each row is 0.
  THeader wide;
  wide.Width = 300;
  wide.Height = 2;
  wide.BytesPerLine = 2;
  std::vector<uint8_t> data = {0xC3, 0x05, 0x06};
  data.resize(48, 0);
  const TPCXImage image = Load(Pcx(wide, data));
  EXPECT_EQ(image.Bitmap().GetIndex(1, 0), 5);
  EXPECT_EQ(image.Bitmap().GetIndex(2, 0), 0);
  EXPECT_EQ(image.Bitmap().GetIndex(0, 1), 5);
  EXPECT_EQ(image.Bitmap().GetIndex(1, 1), 6);
  EXPECT_EQ(image.Bitmap().GetIndex(299, 1), 0);

  // Run-length data that stops early leaves the rest of the picture 0.
  THeader cut;
  cut.Width = 8;
  cut.Height = 4;
  cut.BytesPerLine = 8;
  const TPCXImage partial = Load(Pcx(cut, {0xC3, 0x05, 0x06}));
  EXPECT_EQ(partial.Bitmap().GetIndex(2, 0), 5);
  EXPECT_EQ(partial.Bitmap().GetIndex(3, 0), 6);
  EXPECT_EQ(partial.Bitmap().GetIndex(4, 0), 0);
  EXPECT_EQ(partial.Bitmap().GetIndex(7, 3), 0);

  // Rows of no bytes at all give a picture of 0s.
  cut.BytesPerLine = 0;
  EXPECT_EQ(Load(Pcx(cut, {0xC3, 0x05, 0x06})).Bitmap().GetIndex(0, 0), 0);
}

TEST(PCXImage, CorpusFilesDecodeOrFailCleanly) {
  const auto folder = CorpusDir() / "pcx";
  if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no corpus";
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    TPCXImage image;
    try {
      image.LoadFromFile(entry.path().string());
    } catch (const EGlyphmillError& e) {
      EXPECT_NE(name.find("ossfuzz"), std::string::npos) << name << " failed: " << e.what();
      continue;
    }
    if (name.find("ossfuzz") != std::string::npos) continue;
    EXPECT_FALSE(image.Bitmap().Empty()) << name;
    if (!test::ToolExists(test::ConvertTool) || !test::ImageMagickReads(entry.path())) continue;
    TBitmap compared = image.Bitmap();
    if (compared.PixelFormat() == pf1bit) {
      // ImageMagick reads monochrome PCX with 1 as black; the format and other readers use 1 as white.
      const TRGBQuad swapped[2] = {compared.Palette()[1], compared.Palette()[0]};
      compared.SetPalette(swapped);
    }
    test::ExpectMatchesImageMagick(entry.path(), compared, false, nullptr, 0);
  }
}

TEST(PCXImage, MatchesImageMagickOnItsOwnFiles) {
  if (!test::ToolExists(test::ConvertTool)) GTEST_SKIP() << "ImageMagick is not installed";
  TTempDir temp;
  const std::string source = (temp / "in.png").string();
  ASSERT_TRUE(test::RunConvert("-size 37x23 -seed 3 plasma:fractal '" + source + "'"));
  struct TCase {
    const char* Options;
    const char* Name;
  } cases[] = {{"", "rgb.pcx"},
               {"-colors 200 -type Palette", "palette.pcx"},
               {"-colors 16 -type Palette", "sixteen.pcx"},
               {"-colorspace gray -type Grayscale", "grey.pcx"},
               {"-monochrome", "mono.pcx"}};
  for (const TCase& c : cases) {
    const std::string target = (temp / c.Name).string();
    ASSERT_TRUE(test::RunConvert("'" + source + "' " + c.Options + " '" + target + "'")) << c.Name;
    TPCXImage image;
    image.LoadFromFile(target);
    test::ExpectMatchesImageMagick(target, image.Bitmap(), false, nullptr, 0);
  }
}

}  // namespace
}  // namespace glyphmill
