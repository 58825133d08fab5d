#include "icons/iconproject.h"

#include <gtest/gtest.h>

#include "imaging/bitmaptools.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using Bytes = std::vector<uint8_t>;

TBitmap Square(int size, TPixelFormat format, TColor colour) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(format);
  bitmap.SetSize(size, size);
  bitmap.FillRect(Rect(0, 0, size, size), colour);
  if (format == pf32bit)
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) bitmap.ScanLine(y)[4 * x + 3] = 255;
  return bitmap;
}

void AddImage(TAdvancedIcon& icon, int size, TPixelFormat format, TColor colour) {
  TBitmap mask = CreateFilledBitmap(pf1bit, size, size, 0);
  icon.Images.AddFromBitmap(Square(size, format, colour), format == pf32bit ? nullptr : &mask, 0);
}

// A project of images of 16, 32 and 48 pixels, each with one layer list holding one layer.
Bytes ProjectBytes(uint8_t flag, bool hotSpot = false) {
  TIconProject project;
  AddImage(project.ProjectIcon, 16, pf4bit, RGBColor(255, 0, 0));
  AddImage(project.ProjectIcon, 32, pf8bit, RGBColor(0, 255, 0));
  AddImage(project.ProjectIcon, 48, pf32bit, RGBColor(0, 0, 255));
  if (hotSpot) project.ProjectIcon.Images[1]->SetHotSpot({3, 4});
  for (int i = 0; i < 3; ++i) {
    project.LayerLists.push_back(std::make_unique<TIconLayersList>());
    auto layer = std::make_unique<TIconLayer>();
    layer->Bitmap = Square(2 + i, pf32bit, RGBColor(1, 2, 3));
    layer->Name = "layer";
    project.LayerLists.back()->Layers.push_back(std::move(layer));
  }
  TMemoryStream stream;
  project.SaveToStream(stream);
  Bytes bytes = stream.Bytes();
  bytes[4] = flag;
  return bytes;
}

TEST(TIconProject, FlagFourSplitsOneIconPerImage) {
  test::TTempDir dir;
  test::WriteAll(dir / "name.icpr", ProjectBytes(SplitProjectFlag, true));
  test::WriteAll(dir / "whole.icpr", ProjectBytes(0));
  TAdvancedIcon icon;
  std::vector<std::unique_ptr<TAdvancedIcon>> split;
  EXPECT_TRUE(LoadIconProjectSource((dir / "name.icpr").string(), icon, split));
  EXPECT_EQ(icon.Images.Count(), 0);
  ASSERT_EQ(split.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(split[i]->Images.Count(), 1);
    EXPECT_EQ(split[i]->Images[0]->GetWidth(), 16 * static_cast<int>(i + 1));
  }
  split.clear();
  EXPECT_FALSE(LoadIconProjectSource((dir / "whole.icpr").string(), icon, split));
  EXPECT_EQ(icon.Images.Count(), 3);
  EXPECT_TRUE(split.empty());
}

TEST(TIconProject, PngImageBecomesPackedDib) {
  TIconProject project;
  AddImage(project.ProjectIcon, 256, pf32bit, RGBColor(10, 20, 30));
  project.ProjectIcon.Images[0]->SetPacked(true);
  TMemoryStream stream;
  project.SaveToStream(stream);
  test::TTempDir dir;
  test::WriteAll(dir / "big.icpr", stream.Bytes());

  TIconProject read;
  read.LoadFromFile((dir / "big.icpr").string());
  EXPECT_TRUE(read.ProjectIcon.Images[0]->IsPngData()) << "the project keeps PNG bytes as read";
  TAdvancedIcon icon;
  LoadIconProjectFile(icon, (dir / "big.icpr").string());
  ASSERT_EQ(icon.Images.Count(), 1);
  const TSubIcon& image = *icon.Images[0];
  EXPECT_FALSE(image.IsPngData());
  EXPECT_TRUE(image.Packed());
  EXPECT_EQ(image.GetWidth(), 256);
  EXPECT_EQ(image.GetBitsPerPixel(), 32);
}

TEST(TIconProject, HotSpotFlagLayersAndExtensionBlock) {
  for (const bool hotSpot : {false, true}) {
    const Bytes bytes = ProjectBytes(hotSpot ? 1 : 0, hotSpot);
    EXPECT_EQ(bytes[4], hotSpot ? 1 : 0);
    if (hotSpot) {
      EXPECT_EQ(Bytes(bytes.end() - 8, bytes.end()), (Bytes{4, 0, 0, 0, 0, 0, 0, 0}));
    }
    TIconProject project;
    TMemoryStream stream(bytes);
    project.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), stream.Size()) << hotSpot;
    ASSERT_EQ(project.ProjectIcon.Images.Count(), 3);
    EXPECT_EQ(project.ProjectIcon.Images[1]->HotSpot(), (hotSpot ? THotSpot{3, 4} : THotSpot{}));
    ASSERT_EQ(project.LayerLists.size(), 3u);
    const TIconLayer& layer = *project.LayerLists[2]->Layers[0];
    EXPECT_EQ(layer.Name, "layer");
    EXPECT_EQ(layer.Bitmap.Width(), 4);
    EXPECT_EQ(layer.Bitmap.GetPixel(3, 3), RGBColor(1, 2, 3));
    EXPECT_EQ(project.Width(), 48);
    EXPECT_EQ(project.Height(), 48);
  }
}

TEST(TIconProject, CompactLengths) {
  struct TCase {
    uint32_t Length;
    Bytes Prefix;
  };
  for (const TCase& c :
       {TCase{5, {5}}, TCase{251, {251}}, TCase{300, {252, 0x2C, 0x01}}, TCase{70000, {254, 0x70, 0x11, 0x01, 0}}}) {
    TMemoryStream stream;
    WriteCompactLength(stream, c.Length);
    EXPECT_EQ(stream.Bytes(), c.Prefix) << c.Length;
    stream.SetPosition(0);
    EXPECT_EQ(ReadCompactLength(stream), c.Length);
  }
  for (const auto& [byte, length] : {std::pair<uint8_t, int64_t>{253, -1}, {255, 255}}) {
    TMemoryStream stream(Bytes{byte});
    EXPECT_EQ(ReadCompactLength(stream), length);
  }
  TIconLayer layer;
  layer.Name = std::string(300, 'n');
  layer.Effect = 1;
  layer.EffectC = 9;
  TMemoryStream stream;
  layer.SaveToStream(stream);
  stream.SetPosition(0);
  TIconLayer read;
  read.LoadFromStream(stream);
  EXPECT_EQ(read.Name, layer.Name);
  EXPECT_EQ(read.EffectC, 9);
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(TIconProject, IconAndCursorFilesAndDamagedData) {
  TAdvancedIcon icon;
  AddImage(icon, 16, pf8bit, RGBColor(1, 1, 1));
  AddImage(icon, 32, pf24bit, RGBColor(2, 2, 2));
  icon.Images[1]->SetHotSpot({5, 6});
  TMemoryStream ico, cur;
  icon.SaveToStream(ico);
  icon.SaveCursorToStream(cur);
  for (TMemoryStream* file : {&ico, &cur}) {
    TIconProject project;
    file->SetPosition(0);
    project.LoadFromStream(*file);
    EXPECT_EQ(project.ProjectIcon.Images.Count(), 2);
    EXPECT_EQ(project.LayerLists.size(), 2u);
    EXPECT_TRUE(project.LayerLists[0]->Layers.empty());
    EXPECT_EQ(project.ProjectIcon.Images[1]->HotSpot(), (file == &cur ? THotSpot{5, 6} : THotSpot{}));
  }
  const Bytes whole = ProjectBytes(0);
  for (const size_t length : {size_t(0), size_t(3), size_t(9), whole.size() / 2, whole.size() - 1}) {
    TIconProject project;
    TMemoryStream stream(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    project.LoadFromStream(stream);
    EXPECT_LE(project.ProjectIcon.Images.Count(), 3) << length;
  }
  TIconProject garbage;
  TMemoryStream stream(Bytes(64, 0x5A));
  garbage.LoadFromStream(stream);
  EXPECT_TRUE(garbage.Empty());
}

TEST(TIconProject, DrawsTheImageNearest32) {
  const Bytes bytes = ProjectBytes(0);
  const auto graphic = LoadIconProjectGraphic(bytes);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(64, 64);
  target.FillRect(Rect(0, 0, 64, 64), 0);
  graphic->Draw(target, Rect(0, 0, 64, 64));
  EXPECT_EQ(target.GetPixel(40, 40), RGBColor(0, 255, 0));
}

}  // namespace
}  // namespace glyphmill
