#include "icons/macicons.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/png_codec.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32BE(Bytes& bytes, uint32_t value) {
  for (int i = 3; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes Element(const std::string& type, const Bytes& data) {
  Bytes element(type.begin(), type.end());
  Put32BE(element, static_cast<uint32_t>(data.size() + 8));
  element.insert(element.end(), data.begin(), data.end());
  return element;
}

Bytes Icns(const std::vector<Bytes>& elements) {
  Bytes file = {'i', 'c', 'n', 's'};
  size_t total = 8;
  for (const Bytes& e : elements) total += e.size();
  Put32BE(file, static_cast<uint32_t>(total));
  for (const Bytes& e : elements) file.insert(file.end(), e.begin(), e.end());
  return file;
}

// Run-length coding of one channel with repeat runs only.
void RunLength(Bytes& out, size_t count, uint8_t value) {
  for (; count >= 3; count -= std::min<size_t>(count, 130)) {
    const size_t run = std::min<size_t>(count, 130);
    if (run < 3) break;
    out.push_back(static_cast<uint8_t>(run + 125));
    out.push_back(value);
    if (count == run) return;
  }
  for (size_t i = 0; i < count % 130 && count < 3; ++i) out.insert(out.end(), {0, value});
}

Bytes Rgb(int size, uint8_t r, uint8_t g, uint8_t b, bool it32 = false) {
  Bytes data;
  if (it32) data = {0, 0, 0, 0};
  for (const uint8_t v : {r, g, b}) RunLength(data, static_cast<size_t>(size) * size, v);
  return data;
}

// 1-bit icon bits (all black) over a mask whose first row is transparent.
Bytes MonoWithMask(int size) {
  Bytes data(static_cast<size_t>(size) * size / 8, 0xFF);
  Bytes mask(static_cast<size_t>(size) * size / 8, 0xFF);
  std::fill(mask.begin(), mask.begin() + size / 8, 0);
  data.insert(data.end(), mask.begin(), mask.end());
  return data;
}

Bytes PngBytes(int size) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(size, size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      uint8_t* p = bitmap.ScanLine(y) + 4 * x;
      p[0] = 200, p[1] = 100, p[2] = 50, p[3] = x == 0 ? 0 : 255;
    }
  TPNGImage png;
  png.Assign(bitmap);
  return png.SaveToBytes();
}

std::unique_ptr<TAdvancedIcon> Load(const Bytes& bytes) {
  auto icon = std::make_unique<TAdvancedIcon>();
  LoadMacIconBytes(bytes, *icon);
  return icon;
}

std::string Layout(const TAdvancedIcon& icon) {
  std::string text;
  for (const auto& image : icon.Images)
    text += std::to_string(image->GetWidth()) + "x" + std::to_string(image->GetBitsPerPixel()) +
            (image->IsMacCompressed() ? "c" : "") + (image->Packed() ? "p" : "") + " ";
  return text;
}

TEST(MacIcons, PalettesAreTheClassicOnes) {
  const auto p16 = MacPalette16();
  EXPECT_EQ(QuadToColor(p16[1]), RGBColor(0xFC, 0xF3, 0x05));
  EXPECT_EQ(QuadToColor(p16[15]), RGBColor(0, 0, 0));
  const auto p256 = MacPalette256();
  EXPECT_EQ(QuadToColor(p256[0]), RGBColor(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(QuadToColor(p256[1]), RGBColor(0xFF, 0xFF, 0xCC));
  EXPECT_EQ(QuadToColor(p256[6]), RGBColor(0xFF, 0xCC, 0xFF));
  EXPECT_EQ(QuadToColor(p256[214]), RGBColor(0x00, 0x00, 0x33));
  EXPECT_EQ(QuadToColor(p256[215]), RGBColor(0xEE, 0, 0));
  EXPECT_EQ(QuadToColor(p256[225]), RGBColor(0, 0xEE, 0));
  EXPECT_EQ(QuadToColor(p256[235]), RGBColor(0, 0, 0xEE));
  EXPECT_EQ(QuadToColor(p256[254]), RGBColor(0x11, 0x11, 0x11));
  EXPECT_EQ(QuadToColor(p256[255]), RGBColor(0, 0, 0));
}

TEST(MacIcons, ElementsAndTheirPairing) {
  struct TCase {
    const char* Name;
    Bytes File;
    const char* Layout;
  };
  const Bytes alpha(32 * 32, 0x80);
  const Bytes whole = Icns({Element("icl8", Bytes(1024, 5))});
  const Bytes cutShort(whole.begin(), whole.end() - 1);
  const TCase cases[] = {
      {"il32 + l8mk", Icns({Element("il32", Rgb(32, 10, 20, 30)), Element("l8mk", alpha)}), "32x32 "},
      {"icl8 + icn#", Icns({Element("icl8", Bytes(1024, 5)), Element("icn#", MonoWithMask(32))}), "32x8 32x1 "},
      {"upper-case ICN#", Icns({Element("ICN#", MonoWithMask(32))}), "32x1 "},
      {"ic07 + it32 + t8mk",
       Icns({Element("ic07", PngBytes(128)), Element("it32", Rgb(128, 1, 2, 3, true)),
             Element("t8mk", Bytes(128 * 128, 255))}),
       "128x32 128x32c "},
      {"ic08 is packed", Icns({Element("ic08", PngBytes(256))}), "256x32p "},
      {"icl4 of 511 bytes", Icns({Element("icl4", Bytes(511, 0))}), ""},
      {"unknown and ignored types", Icns({Element("toc ", Bytes(8, 0)), Element("abcd", Bytes(3, 0))}), ""},
      {"element longer than the file", cutShort, ""},
  };
  for (const TCase& c : cases) EXPECT_EQ(Layout(*Load(c.File)), c.Layout) << c.Name;

  const auto il32 = Load(cases[0].File);
  TBitmap colour;
  il32->Images[0]->RenderBitmaps(nullptr, &colour, nullptr, 0);
  EXPECT_EQ(colour.ScanLine(5)[4 * 5 + 3], 0x80) << "alpha from l8mk";
  EXPECT_EQ(colour.GetPixel(5, 5), RGBColor(10, 20, 30));

  const auto icl8 = Load(cases[1].File);
  TBitmap mask;
  icl8->Images[0]->RenderBitmaps(nullptr, &colour, &mask, 0);
  EXPECT_EQ(mask.GetPixel(3, 0), 0xFFFFFFu) << "icn#'s transparent first row masks the 8-bit image";
  EXPECT_EQ(mask.GetPixel(3, 1), 0u);
  EXPECT_EQ(colour.GetPixel(3, 1), QuadToColor(MacPalette256()[5]));
  EXPECT_EQ(icl8->Images[0]->HotSpot().X, MacMarkX);
}

TEST(MacIcons, RunLengthCoding) {
  // Literal run of 3, then a repeat run of 128 + 3 - 125 ... covering a 16 × 16 channel.
  Bytes channel = {2, 7, 8, 9};
  size_t left = 256 - 3;
  while (left > 0) {
    const size_t run = std::min<size_t>(left, 130);
    channel.push_back(static_cast<uint8_t>(run + 125));
    channel.push_back(0x44);
    left -= run;
  }
  Bytes data = channel;
  data.insert(data.end(), channel.begin(), channel.end());
  data.insert(data.end(), channel.begin(), channel.end());
  const TMacElement element = DecodeIcnsElement("is32", data);
  ASSERT_TRUE(element.Colour);
  EXPECT_EQ(element.Colour->GetPixel(0, 0), RGBColor(7, 7, 7));
  EXPECT_EQ(element.Colour->GetPixel(2, 0), RGBColor(9, 9, 9));
  EXPECT_EQ(element.Colour->GetPixel(15, 15), RGBColor(0x44, 0x44, 0x44));
  EXPECT_EQ(element.Colour->ScanLine(0)[3], 255);
  // Cut data decodes as far as it goes and never reads past it.
  const TMacElement cut = DecodeIcnsElement("is32", Bytes(data.begin(), data.begin() + 5));
  EXPECT_EQ(cut.Colour->GetPixel(0, 0), RGBColor(7, 0, 0));
  EXPECT_FALSE(DecodeIcnsElement("ics8", Bytes(255, 0)).Colour);
}

// A bare resource fork whose data area holds items of the given bytes.
Bytes Fork(const std::vector<Bytes>& items, bool appleDouble = false) {
  Bytes file(appleDouble ? 338 : 256, 0);
  if (appleDouble) file[1] = 0x05, file[2] = 0x16, file[3] = 0x07;
  for (const Bytes& item : items) {
    Put32BE(file, static_cast<uint32_t>(item.size()));
    file.insert(file.end(), item.begin(), item.end());
  }
  return file;
}

TEST(MacIcons, ResourceForkItemsByLength) {
  Bytes text(64, 1);
  std::memcpy(text.data() + 10, "TEXT", 4);
  struct TCase {
    const char* Name;
    Bytes File;
    const char* Layout;
  };
  const TCase cases[] = {
      {"ICN# then ics8", Fork({MonoWithMask(32), Bytes(256, 7)}), "16x8 32x1 "},
      {"AppleDouble: icl8 and ICN#", Fork({Bytes(1024, 3), MonoWithMask(32)}, true), "32x8 32x1 "},
      {"two icl8 give one", Fork({Bytes(1024, 3), Bytes(1024, 4)}), "32x8 "},
      {"64 bytes with TEXT", Fork({text}), ""},
      {"64 bytes without", Fork({Bytes(64, 1)}), "16x1 "},
      {"ich8 of 2312 bytes", Fork({Bytes(2312, 9)}), "48x8 "},
      {"icl4 and ics4", Fork({Bytes(512, 0x12), Bytes(128, 0x34)}), "32x4 16x4 "},
      {"embedded icns ends the walk",
       Fork({Icns({Element("il32", Rgb(32, 1, 1, 1)), Element("info", Bytes(10, 0))}), Bytes(1024, 3)}), "32x32 "},
      {"too short", Bytes(100, 0), ""},
  };
  for (const TCase& c : cases) EXPECT_EQ(Layout(*Load(c.File)), c.Layout) << c.Name;
  // A length with its top byte set is no item: the walk moves on by 4 bytes.
  Bytes skip = Fork({});
  skip.insert(skip.end(), {0xFF, 0, 0, 0});
  Put32BE(skip, 128);
  skip.resize(skip.size() + 128, 0x11);
  EXPECT_EQ(Layout(*Load(skip)), "16x4 ");

  // Forks store ICN# before the colour families; those still take its mask.
  const auto family = Load(Fork({MonoWithMask(32), Bytes(1024, 3), Bytes(512, 0x12)}));
  ASSERT_EQ(Layout(*family), "32x8 32x4 32x1 ");
  for (int i = 0; i < 2; ++i) {
    TBitmap colour, mask;
    family->Images[i]->RenderBitmaps(nullptr, &colour, &mask, 0);
    EXPECT_EQ(mask.GetPixel(3, 0), 0xFFFFFFu) << i;
    EXPECT_EQ(mask.GetPixel(3, 1), 0u) << i;
  }
}

TEST(MacIcons, FilesWrittenByPng2icns) {
  if (!test::ToolExists("/usr/bin/png2icns")) GTEST_SKIP() << "png2icns missing";
  test::TTempDir dir;
  std::string command = "/usr/bin/png2icns " + (dir / "out.icns").string();
  for (const int size : {16, 32, 48, 128, 256, 512}) {
    const std::string name = (dir / ("p" + std::to_string(size) + ".png")).string();
    test::WriteAll(name, PngBytes(size));
    command += " " + name;
  }
  ASSERT_EQ(test::RunCommand(command + " >/dev/null 2>&1"), 0);
  TAdvancedIcon icon;
  LoadMacIconFile((dir / "out.icns").string(), icon);
  EXPECT_EQ(Layout(icon), "512x32p 256x32p 128x32 48x32 32x32 16x32 ");
  for (const auto& image : icon.Images) {
    TBitmap colour;
    image->RenderBitmaps(nullptr, &colour, nullptr, 0);
    const int w = colour.Width();
    EXPECT_EQ(colour.ScanLine(w / 2)[4 * 0 + 3], 0) << w;
    const uint8_t* p = colour.ScanLine(w / 2) + 4 * (w / 2);
    EXPECT_EQ(int(p[0]), 200) << w;
    EXPECT_EQ(int(p[1]), 100) << w;
    EXPECT_EQ(int(p[2]), 50) << w;
    EXPECT_EQ(int(p[3]), 255) << w;
  }
}

TEST(MacIconCorpus, EveryFileLoadsOrFailsCleanly) {
  const auto corpus = test::CorpusDir();
  if (!std::filesystem::exists(corpus / "icns")) GTEST_SKIP() << "no corpus";
  struct TCase {
    const char* File;
    int Images;
  };
  const TCase cases[] = {
      {"icns/pillow_pillow.icns", 10},
      {"icns/pillow_pillow2.icns", 5},
      {"icns/pillow_pillow3.icns", 8},
      {"rsrc/appledouble_DashBoard.ntkc", 6},
      {"rsrc/appledouble_extras2GC.RSRC", 6},
      {"rsrc/appledouble_NewDBPicts.rsrc", -1},
      {"rsrc/nethack_NetHack.rsrc", -1},
      {"rsrc/rsrcfork_empty.rsrc", 0},
      {"rsrc/rsrcfork_testfile.rsrc", -1},
      {"rsrc/rsrcfork_unicode.textClipping.rsrc", -1},
      {"rsrc/appledouble_button_bar_pattern", -1},
  };
  for (const TCase& c : cases) {
    TAdvancedIcon icon;
    LoadMacIconFile((corpus / c.File).string(), icon);
    if (c.Images >= 0) {
      EXPECT_EQ(icon.Images.Count(), c.Images) << c.File << ": " << Layout(icon);
    }
  }
}

}  // namespace
}  // namespace glyphmill
