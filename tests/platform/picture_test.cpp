#include "platform/picture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

std::string LoadError(const std::string& fileName) {
  try {
    LoadPictureFile(fileName);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(PictureRegistry, ExtensionsDecideTheReader) {
  EXPECT_EQ(LoadError("/no/such/picture.tga"), "Unknown picture file extension (.tga)");
  EXPECT_EQ(LoadError("/no/such/PICTURE.TGA"), "Unknown picture file extension (.tga)");
  EXPECT_EQ(LoadError("/no/such.dir/picture"), "Unknown picture file extension (.)");
  EXPECT_EQ(PictureExtension("/a.b/c.Jpeg"), "jpeg");
  EXPECT_EQ(PictureExtension("/a.b/c"), "");
  for (const char* own : {"bmp", "gif", "png", "jpg", "jpeg", "tif", "tiff", "jp2", "j2k", "jpc"})
    EXPECT_TRUE(IsPictureFormatRegistered(own)) << own;

  // Readers of higher layers register themselves; until then their extensions say so.
  if (!IsPictureFormatRegistered("pcx")) {
    EXPECT_EQ(LoadError("/no/such/picture.pcx"), "No reader for picture file extension (.pcx)");
  }
  RegisterPictureFormat("TestPic", [](std::span<const uint8_t> bytes) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(static_cast<int>(bytes.size()), 1);
    return std::make_unique<TBitmapGraphic>(std::move(bitmap));
  });
  const std::vector<uint8_t> three = {1, 2, 3};
  EXPECT_EQ(LoadPicture(three, "testpic")->Width(), 3);
}

TEST(PictureRegistry, BitmapGraphicDrawsWithAlphaMaskAndStretch) {
  TBitmap picture;
  picture.SetPixelFormat(pf32bit);
  picture.SetSize(2, 1);
  uint8_t* p = picture.ScanLine(0);
  const uint8_t pixels[8] = {0, 0, 255, 255, 0, 0, 255, 128};  // opaque red, half-transparent red
  std::copy(pixels, pixels + 8, p);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(4, 2);
  target.FillRect(Rect(0, 0, 4, 2), RGBColor(255, 255, 255));
  TBitmapGraphic(picture, true).Draw(target, Rect(0, 0, 4, 2));
  EXPECT_EQ(target.GetPixel(1, 1), RGBColor(255, 0, 0));
  EXPECT_EQ(target.GetPixel(2, 0), RGBColor(255, 127, 127));
  EXPECT_EQ(target.GetPixel(3, 1), RGBColor(255, 127, 127));

  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(2, 1);
  mask.SetIndex(0, 0, 0);
  mask.SetIndex(1, 0, 1);
  target.FillRect(Rect(0, 0, 4, 2), RGBColor(0, 0, 0));
  TBitmapGraphic(picture, std::move(mask)).Draw(target, Rect(-1, 0, 3, 1));
  EXPECT_EQ(target.GetPixel(0, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(target.GetPixel(1, 0), RGBColor(0, 0, 0)) << "masked pixels leave the target";
  EXPECT_EQ(target.GetPixel(0, 1), RGBColor(0, 0, 0)) << "drawing stays in its rectangle";
}

// Files of SOURCES.md whose row says they are malformed on purpose.
std::set<std::string> RobustnessFiles(const std::filesystem::path& corpus) {
  std::set<std::string> names;
  std::ifstream sources(corpus / "SOURCES.md");
  // Rows look like: | `name` | ... robustness ...
  for (std::string line; std::getline(sources, line);) {
    if (line.rfind("| `", 0) != 0 || line.find("robustness") == std::string::npos) continue;
    const size_t end = line.find('`', 3);
    if (end != std::string::npos) names.insert(line.substr(3, end - 3));
  }
  return names;
}

TEST(PictureRegistry, EveryCorpusPictureLoadsOrFailsCleanly) {
  const auto corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const std::set<std::string> robustness = RobustnessFiles(corpus);
  ASSERT_TRUE(robustness.count("pillow_truncated_jpeg.jpg"));
  // The JP2 box holds only 148 bytes of codestream; no decoder can draw it.
  const std::set<std::string> undecodable = {"pillow_balloon_eciRGBv2_aware.jp2"};
  for (const char* folder : {"png", "jpeg", "jp2", "gif", "tiff"})
    for (const auto& entry : std::filesystem::directory_iterator(corpus / folder)) {
      const std::string name = entry.path().filename().string();
      if (robustness.count(name) || undecodable.count(name)) {
        // Rejected with a message, or (a JPEG cut short) drawn as far as it goes: never a crash.
        try {
          LoadPictureFile(entry.path().string());
        } catch (const EGlyphmillError& e) {
          EXPECT_NE(std::string(e.what()), "") << name;
        }
        continue;
      }
      std::unique_ptr<TGraphic> picture;
      EXPECT_NO_THROW(picture = LoadPictureFile(entry.path().string())) << name;
      if (picture) {
        EXPECT_GT(picture->Width() * picture->Height(), 0) << name;
      }
    }
  EXPECT_THROW(LoadPictureFile((corpus / "gif/pillow_decompression_bomb.gif").string()), EReadError);
  EXPECT_THROW(LoadPictureFile((corpus / "jp2/pillow_not_enough_data.jp2").string()), EReadError);
}

}  // namespace
}  // namespace glyphmill
