#include "formats/psdimage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imagemagick_reference.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::CorpusDir;
using test::TTempDir;

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v >> 16));
  PutU16(out, static_cast<uint16_t>(v));
}
void PutBytes(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }

// A document: header, colour mode data, no resources, an optional layer section, then the merged
// image data (compression word included).
std::vector<uint8_t> Psd(uint16_t mode, uint16_t depth, uint16_t channels, uint32_t width, uint32_t height,
                         const std::vector<uint8_t>& composite, const std::vector<uint8_t>& modeData = {},
                         const std::vector<uint8_t>& layerSection = {}) {
  std::vector<uint8_t> out = {'8', 'B', 'P', 'S'};
  PutU16(out, 1);
  out.insert(out.end(), 6, 0);
  PutU16(out, channels);
  PutU32(out, height);
  PutU32(out, width);
  PutU16(out, depth);
  PutU16(out, mode);
  PutU32(out, static_cast<uint32_t>(modeData.size()));
  out.insert(out.end(), modeData.begin(), modeData.end());
  PutU32(out, 0);
  PutU32(out, static_cast<uint32_t>(layerSection.size()));
  out.insert(out.end(), layerSection.begin(), layerSection.end());
  out.insert(out.end(), composite.begin(), composite.end());
  return out;
}

// Raw planes, one after the other.
std::vector<uint8_t> Raw(const std::vector<std::vector<uint8_t>>& planes) {
  std::vector<uint8_t> out = {0, 0};
  for (const auto& plane : planes) out.insert(out.end(), plane.begin(), plane.end());
  return out;
}

TPSDImage Load(const std::vector<uint8_t>& bytes) {
  TPSDImage image;
  image.LoadFromBytes(bytes);
  return image;
}

std::vector<uint8_t> PixelBytes(const TBitmap& bitmap, int x, int y, int count) {
  const uint8_t* p = bitmap.ScanLine(y) + x * count;
  return std::vector<uint8_t>(p, p + count);
}

TEST(PackbitsRLE, DecodesRunsLiteralsAndNoOpsWithinTheTarget) {
  struct TCase {
    std::vector<uint8_t> Source;
    size_t TargetSize;
    std::vector<uint8_t> Expected;
  } cases[] = {
      {{0x02, 1, 2, 3}, 3, {1, 2, 3}},
      {{0xFE, 9}, 3, {9, 9, 9}},
      {{0x80, 0x00, 5}, 1, {5}},        // −128 consumes one byte and writes nothing
      {{0xFD, 7}, 2, {7, 7}},           // a run is cut at the end of the target
      {{0x05, 1, 2}, 4, {1, 2, 0, 0}},  // a literal cut by the end of the source
      {{0x00}, 2, {0, 0}},              // a header without its byte
  };
  for (const TCase& c : cases) {
    std::vector<uint8_t> target(c.TargetSize, 0);
    TPackbitsRLE::Decode(c.Source, target);
    EXPECT_EQ(target, c.Expected);
  }
}

TEST(PSDImage, RgbDocumentsGiveBlueGreenRedAndKeepTheFourthChannelAsAlpha) {
  const TPSDImage three = Load(Psd(psdRGB, 8, 3, 2, 1, Raw({{10, 11}, {20, 21}, {30, 31}})));
  EXPECT_EQ(three.Bitmap().PixelFormat(), pf24bit);
  EXPECT_EQ(PixelBytes(three.Bitmap(), 1, 0, 3), (std::vector<uint8_t>{31, 21, 11}));

  const TPSDImage five = Load(Psd(psdRGB, 8, 5, 2, 1, Raw({{10, 11}, {20, 21}, {30, 31}, {0, 200}, {99, 99}})));
  EXPECT_EQ(five.Bitmap().PixelFormat(), pf32bit);
  EXPECT_EQ(PixelBytes(five.Bitmap(), 0, 0, 4), (std::vector<uint8_t>{30, 20, 10, 0}));
  EXPECT_EQ(PixelBytes(five.Bitmap(), 1, 0, 4), (std::vector<uint8_t>{31, 21, 11, 200}));

  // 16-bit samples are big-endian: their high bytes are the colour.
  const TPSDImage deep = Load(Psd(psdRGB, 16, 3, 1, 1, Raw({{0x12, 0xFF}, {0x34, 0x00}, {0x56, 0x80}})));
  EXPECT_EQ(PixelBytes(deep.Bitmap(), 0, 0, 3), (std::vector<uint8_t>{0x56, 0x34, 0x12}));
}

TEST(PSDImage, CmykAndLabFollowTheirFormulas) {
  // Stored CMYK is ink-inverted: 255 everywhere is white, stored cyan 0 is full cyan.
  const TPSDImage cmyk = Load(
      Psd(psdCMYK, 8, 5, 3, 1, Raw({{255, 0, 127}, {255, 255, 255}, {255, 255, 255}, {255, 255, 191}, {1, 2, 3}})));
  EXPECT_EQ(cmyk.Bitmap().PixelFormat(), pf24bit);
  EXPECT_EQ(cmyk.Bitmap().GetPixel(0, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(cmyk.Bitmap().GetPixel(1, 0), RGBColor(0, 255, 255));
  // c = 128, k = 64: 128·64/255 − 128 − 64 + 255 = 95 for red; 0·64/255 − 64 + 255 = 191 for the others.
  EXPECT_EQ(cmyk.Bitmap().GetPixel(2, 0), RGBColor(95, 191, 191));

  const TPSDImage cmyk16 = Load(
      Psd(psdCMYK, 16, 4, 2, 1,
          Raw({{0xFF, 0xFF, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}})));
  EXPECT_EQ(cmyk16.Bitmap().GetPixel(0, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(cmyk16.Bitmap().GetPixel(1, 0), RGBColor(0, 255, 255));

  // L 255 → 100 and a = b = 0 is white, L 0 black; L 136 (53.3) is the grey of Y = fy³ = 0.2135,
  // 255 × 0.999 × 0.2135 = 54; a stored 255 (+127) turns it red.
  const TPSDImage lab =
      Load(Psd(psdLab, 8, 3, 4, 1, Raw({{255, 0, 136, 136}, {128, 128, 128, 255}, {128, 128, 128, 128}})));
  EXPECT_EQ(lab.Bitmap().PixelFormat(), pf24bit);
  EXPECT_EQ(lab.Bitmap().GetPixel(0, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(lab.Bitmap().GetPixel(1, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(lab.Bitmap().GetPixel(2, 0), RGBColor(54, 54, 54));
  const TColor reddish = lab.Bitmap().GetPixel(3, 0);
  EXPECT_GT(GetRValue(reddish), 150);
  EXPECT_LT(GetGValue(reddish), 30);
}

TEST(PSDImage, SingleChannelModesGiveEightBitPalettesAndBitmapModeOneBit) {
  // Grey with a width of 37: rows are exactly 37 bytes apart.
  std::vector<uint8_t> grey(37 * 2);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i);
  const TPSDImage gray = Load(Psd(psdGrayscale, 8, 1, 37, 2, Raw({grey})));
  EXPECT_EQ(gray.Bitmap().PixelFormat(), pf8bit);
  EXPECT_EQ(gray.Bitmap().GetIndex(0, 1), 37);
  EXPECT_EQ(gray.Bitmap().GetPixel(36, 1), RGBColor(73, 73, 73));

  // Duotone reads as grey; its colour mode data is skipped.
  const TPSDImage duotone = Load(Psd(psdDuotone, 8, 1, 2, 1, Raw({{5, 250}}), std::vector<uint8_t>(40, 0xAB)));
  EXPECT_EQ(duotone.Bitmap().GetPixel(1, 0), RGBColor(250, 250, 250));

  const TPSDImage deepGrey = Load(Psd(psdGrayscale, 16, 1, 2, 1, Raw({{0x80, 0x01, 0x10, 0xFF}})));
  EXPECT_EQ(deepGrey.Bitmap().GetIndex(0, 0), 0x80);
  EXPECT_EQ(deepGrey.Bitmap().GetIndex(1, 0), 0x10);

  std::vector<uint8_t> palette(768, 0);
  palette[3] = 200;        // red of index 3
  palette[256 + 3] = 100;  // green
  palette[512 + 3] = 50;   // blue
  const TPSDImage indexed = Load(Psd(psdIndexed, 8, 1, 1, 1, Raw({{3}}), palette));
  EXPECT_EQ(indexed.Bitmap().GetPixel(0, 0), RGBColor(200, 100, 50));
  EXPECT_EQ(indexed.PaletteArea()[3], 200);

  const TPSDImage bitmap = Load(Psd(psdBitmap, 1, 1, 10, 1, Raw({{0x80, 0x40}})));
  EXPECT_EQ(bitmap.Bitmap().PixelFormat(), pf1bit);
  EXPECT_EQ(bitmap.Bitmap().GetPixel(0, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(bitmap.Bitmap().GetPixel(1, 0), RGBColor(255, 255, 255));
  EXPECT_EQ(bitmap.Bitmap().GetPixel(9, 0), RGBColor(0, 0, 0));
}

TEST(PSDImage, PackBitsMergedImageDecodesEveryRowFromItsCount) {
  // Two rows of three pixels in three channels; each row's count is its own.
  std::vector<uint8_t> composite = {0, 1};
  const std::vector<std::vector<uint8_t>> rows = {{0xFE, 10}, {0x02, 1, 2, 3}, {0xFE, 20},
                                                  {0xFE, 21}, {0xFE, 30},      {0x80, 0xFE, 31}};
  for (const auto& row : rows) PutU16(composite, static_cast<uint16_t>(row.size()));
  for (const auto& row : rows) composite.insert(composite.end(), row.begin(), row.end());
  const TPSDImage image = Load(Psd(psdRGB, 8, 3, 3, 2, composite));
  EXPECT_EQ(image.Bitmap().GetPixel(2, 0), RGBColor(10, 20, 30));
  EXPECT_EQ(image.Bitmap().GetPixel(1, 1), RGBColor(2, 21, 31));
}

// A layer section with the given count and one layer record of a 2 × 1 rectangle per layer, each
// with one raw channel and one PackBits channel.
std::vector<uint8_t> LayerSection(int16_t count, const char* signature = "8BIM") {
  std::vector<uint8_t> info;
  PutU16(info, static_cast<uint16_t>(count));
  const int layers = count < 0 ? -count : count;
  for (int i = 0; i < layers; ++i) {
    PutU32(info, 0);
    PutU32(info, 0);
    PutU32(info, 1);
    PutU32(info, 2);
    PutU16(info, 2);
    PutU16(info, 0);
    PutU32(info, 4);
    PutU16(info, 0xFFFF);
    PutU32(info, 6);
    info.insert(info.end(), signature, signature + 4);
    info.insert(info.end(), {'m', 'u', 'l', 't', 128, 0, 0, 0});
    PutU32(info, 3);
    PutBytes(info, {1, 2, 3});
  }
  for (int i = 0; i < layers; ++i) {
    PutBytes(info, {0, 0, static_cast<uint8_t>(i), 7});
    PutBytes(info, {0, 1, 0, 2, 0xFF, static_cast<uint8_t>(9 + i)});
  }
  std::vector<uint8_t> section;
  PutU32(section, static_cast<uint32_t>(info.size()));
  section.insert(section.end(), info.begin(), info.end());
  return section;
}

TEST(PSDImage, LayerRecordsAreReadAndKeptBesideTheMergedImage) {
  const TPSDImage image = Load(Psd(psdGrayscale, 8, 1, 1, 1, Raw({{77}}), {}, LayerSection(-2)));
  ASSERT_EQ(image.Layers().size(), 2u);
  const TPSDLayer& second = image.Layers()[1];
  EXPECT_EQ(second.FRight, 2);
  EXPECT_EQ(second.FBottom, 1);
  EXPECT_EQ(second.FOpacity, 128);
  EXPECT_EQ(std::string(second.FBlendModeKey.data(), 4), "mult");
  EXPECT_EQ(second.FExtraData, (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_EQ(second.FChannelData.size(), 2u);
  EXPECT_EQ(second.FChannelData[0], (std::vector<uint8_t>{1, 7}));
  EXPECT_EQ(second.FChannelData[1], (std::vector<uint8_t>{10, 10}));
  EXPECT_EQ(image.Bitmap().GetIndex(0, 0), 77);

  try {
    Load(Psd(psdGrayscale, 8, 1, 1, 1, Raw({{77}}), {}, LayerSection(1, "8BIX")));
    FAIL() << "a bad layer signature loaded";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Invalid stream format");
  }
}

TEST(PSDImage, RefusesBadSignaturesDepthsAndCutFiles) {
  std::vector<uint8_t> bad = Psd(psdRGB, 8, 3, 1, 1, Raw({{1}, {2}, {3}}));
  bad[3] = 'X';
  EXPECT_THROW(
      {
        try {
          Load(bad);
        } catch (const EReadError& e) {
          EXPECT_STREQ(e.what(), "Invalid stream format");
          throw;
        }
      },
      EReadError);
  EXPECT_THROW(Load(Psd(psdRGB, 32, 3, 1, 1, Raw({{1}, {2}, {3}}))), EReadError);

  // Every cut of a layered PackBits document fails with a message, never a crash.
  std::vector<uint8_t> composite = {0, 1};
  for (int i = 0; i < 3; ++i) PutU16(composite, 2);
  for (int i = 0; i < 3; ++i) PutBytes(composite, {0xFD, static_cast<uint8_t>(i)});
  const std::vector<uint8_t> whole = Psd(psdRGB, 8, 3, 4, 1, composite, {}, LayerSection(1));
  ASSERT_NO_THROW(Load(whole));
  for (size_t length = 0; length < whole.size(); ++length) {
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
    try {
      Load(cut);
      ADD_FAILURE() << "a cut at " << length << " loaded";
    } catch (const EGlyphmillError& e) {
      if (length >= 26) {
        EXPECT_STREQ(e.what(), "Stream read error") << length;
      }
    }
  }
}

TEST(PSDImage, RefusesSizesTheDataCannotHoldBeforeAllocating) {
  // 16000 × 16000 RGB claimed by a file of a few bytes of PackBits.
  std::vector<uint8_t> composite = {0, 1};
  composite.resize(composite.size() + 16000 * 3 * 2, 0);
  EXPECT_THROW(Load(Psd(psdRGB, 8, 3, 16000, 16000, composite)), EGlyphmillError);
  EXPECT_THROW(Load(Psd(psdRGB, 8, 3, 20000, 1, Raw({{1}, {2}, {3}}))), EGlyphmillError);
}

TEST(PSDImage, CorpusFilesDecodeOrFailCleanly) {
  const auto folder = CorpusDir() / "psd";
  if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no corpus";
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    TPSDImage image;
    try {
      image.LoadFromFile(entry.path().string());
    } catch (const EGlyphmillError& e) {
      const bool robustness =
          name.find("oob") != std::string::npos || name.find("larger_than_size") != std::string::npos;
      EXPECT_TRUE(robustness) << name << " failed: " << e.what();
      continue;
    }
    EXPECT_FALSE(image.Bitmap().Empty()) << name;
    if (name == "pillow_rgba.psd") {
      EXPECT_EQ(image.Bitmap().PixelFormat(), pf32bit);
    }
  }
}

TEST(PSDImage, MatchesImageMagickOnItsOwnDocumentsAndTheCorpus) {
  if (!test::ToolExists(test::ConvertTool)) GTEST_SKIP() << "ImageMagick is not installed";
  TTempDir temp;
  const std::string source = (temp / "in.png").string();
  ASSERT_TRUE(test::RunConvert("-size 48x40 -seed 7 plasma:fractal '" + source + "'"));
  struct TCase {
    const char* Options;
    const char* Name;
  };
  // No indexed case: ImageMagick writes indexed documents with two bytes an index and cannot read
  // them back.
  const TCase cases[] = {{"", "rgb.psd"},
                         {"-alpha set -channel A -fx 'i<20?0:1' +channel", "rgba.psd"},
                         {"-colorspace gray", "grey.psd"},
                         {"-compress none", "raw.psd"},
                         {"-depth 16", "deep.psd"},
                         {"-colorspace cmyk", "cmyk.psd"},
                         {"-monochrome", "mono.psd"}};
  for (const TCase& c : cases) {
    const std::string target = (temp / c.Name).string();
    ASSERT_TRUE(test::RunConvert("'" + source + "' " + c.Options + " '" + target + "'")) << c.Name;
    TPSDImage image;
    image.LoadFromFile(target);
    test::ExpectMatchesImageMagick(target, image.Bitmap(), image.Bitmap().PixelFormat() == pf32bit, nullptr, 1);
  }
  for (const char* name : {"pillow_hopper_merged.psd", "pillow_rgba.psd"}) {
    const auto file = CorpusDir() / "psd" / name;
    if (!std::filesystem::exists(file)) continue;
    TPSDImage image;
    image.LoadFromFile(file.string());
    test::ExpectMatchesImageMagick(file, image.Bitmap(), image.Bitmap().PixelFormat() == pf32bit, nullptr, 1);
  }
}

}  // namespace
}  // namespace glyphmill
