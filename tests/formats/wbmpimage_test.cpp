#include "formats/wbmpimage.h"

#include <gtest/gtest.h>

#include <vector>

#include "imagemagick_reference.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::CorpusDir;
using test::TTempDir;

std::string Message(const std::vector<uint8_t>& bytes) {
  try {
    TWapBitmap image;
    image.LoadFromBytes(bytes);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(WapBitmap, ReadsSizesInEveryMultiByteFormAndRowsOfBits) {
  struct TCase {
    std::vector<uint8_t> Size;
    int Width;
  } cases[] = {
      {{0x09}, 9},
      {{0x80, 0x05}, 5},
      {{0x81, 0x48}, 200},  // the two-byte form of 200
      {{0x82, 0x2C}, 300},  // sizes of 256 and more continue the same way
      {{0x81, 0x80, 0x00}, 16384},
  };
  for (const TCase& c : cases) {
    std::vector<uint8_t> file = {0, 0};
    file.insert(file.end(), c.Size.begin(), c.Size.end());
    file.push_back(2);
    const size_t rowBytes = (c.Width + 7) / 8;
    for (size_t i = 0; i < 2 * rowBytes; ++i) file.push_back(i == 0 ? 0x80 : 0x00);
    TWapBitmap image;
    image.LoadFromBytes(file);
    EXPECT_EQ(image.Width(), c.Width);
    EXPECT_EQ(image.Height(), 2);
    EXPECT_EQ(image.Bitmap().PixelFormat(), pf1bit);
    EXPECT_EQ(image.Bitmap().GetPixel(0, 0), RGBColor(255, 255, 255));
    EXPECT_EQ(image.Bitmap().GetPixel(1, 0), RGBColor(0, 0, 0));
    EXPECT_EQ(image.Bitmap().GetPixel(0, 1), RGBColor(0, 0, 0));
  }
}

TEST(WapBitmap, RefusesOtherTypesAndCutFiles) {
  EXPECT_EQ(Message({1, 0, 1, 1, 0}), "Invalid file header");
  EXPECT_EQ(Message({0, 0x80, 1, 1, 0}), "Invalid file header");
  EXPECT_EQ(Message({0, 0, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01, 1}), "Invalid file header");
  EXPECT_EQ(Message({0, 0, 16, 2, 0xFF, 0xFF, 0xFF}), "Stream read error");
  EXPECT_EQ(Message({0, 0, 0x81}), "Stream read error");
  EXPECT_NE(Message({0, 0, 0x8F, 0xFF, 0x7F, 0x8F, 0xFF, 0x7F}), "");
  // A width of 0 has no rows to copy.
  EXPECT_EQ(Message({0, 0, 0, 5}), "");
}

TEST(WapBitmap, CorpusAndImageMagickFilesMatchImageMagick) {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::exists(CorpusDir() / "wbmp"))
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir() / "wbmp")) files.push_back(entry.path());
  TTempDir temp;
  const bool tool = test::ToolExists(test::ConvertTool);
  if (tool) {
    const std::string source = (temp / "in.png").string();
    ASSERT_TRUE(test::RunConvert("-size 300x70 -seed 5 plasma:fractal '" + source + "'"));
    ASSERT_TRUE(test::RunConvert("'" + source + "' -monochrome '" + (temp / "wide.wbmp").string() + "'"));
    files.push_back(temp / "wide.wbmp");
  }
  for (const auto& file : files) {
    TWapBitmap image;
    image.LoadFromFile(file.string());
    EXPECT_FALSE(image.Empty()) << file;
    if (tool) test::ExpectMatchesImageMagick(file, image.Bitmap(), false, nullptr, 0);
  }
}

}  // namespace
}  // namespace glyphmill
