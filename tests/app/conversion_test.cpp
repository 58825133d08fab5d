// Converts pictures, icons and cursors with the built program the way a user does, then reads the
// written icons byte by byte and, where they are installed, with independent readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "imaging/bitmapfix32.h"
#include "program_sandbox.h"
#include "support/byte_reader.h"
#include "test_support.h"

namespace glyphmill {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::ShellQuote;

// One image of an ICO file as its directory and its bytes say.
struct TIcoImage {
  int EntryWidth = 0, EntryHeight = 0, ColorCount = 0, Reserved = 0, Planes = 0, BitCount = 0;
  uint32_t Offset = 0;
  std::vector<uint8_t> Data;

  bool IsPng() const { return Data.size() >= 8 && Data[0] == 0x89 && Data[1] == 'P'; }
  int Bits() const { return LoadU16LE(&Data[14]); }
  int DibWidth() const { return int(LoadU32LE(&Data[4])); }
  int DibHeight() const { return int(LoadU32LE(&Data[8])) / 2; }
  int PaletteSize() const {
    const uint32_t used = LoadU32LE(&Data[32]);
    return Bits() > 8 ? 0 : used != 0 ? int(used) : 1 << Bits();
  }
  std::array<int, 3> PaletteEntry(int index) const {
    const uint8_t* p = &Data[40 + 4 * index];
    return {p[2], p[1], p[0]};
  }
  size_t RowStart(int y, int bits) const {
    const int rowBytes = (DibWidth() * bits + 31) / 32 * 4;
    return static_cast<size_t>(DibHeight() - 1 - y) * rowBytes;
  }
  size_t ColourStart() const { return 40 + 4 * static_cast<size_t>(PaletteSize()); }
  // Red, green, blue and (32 bits) alpha of a pixel of the colour image.
  std::array<int, 4> Pixel(int x, int y) const {
    const uint8_t* row = &Data[ColourStart() + RowStart(y, Bits())];
    if (Bits() >= 24) {
      const uint8_t* p = row + x * (Bits() / 8);
      return {p[2], p[1], p[0], Bits() == 32 ? p[3] : 255};
    }
    const int bit = x * Bits();
    const int index = (row[bit / 8] >> (8 - Bits() - bit % 8)) & ((1 << Bits()) - 1);
    const auto [r, g, b] = PaletteEntry(index);
    return {r, g, b, 255};
  }
  bool AndBit(int x, int y) const {
    const size_t colourBytes = static_cast<size_t>((DibWidth() * Bits() + 31) / 32 * 4) * DibHeight();
    const uint8_t* row = &Data[ColourStart() + colourBytes + RowStart(y, 1)];
    return (row[x / 8] >> (7 - x % 8)) & 1;
  }
};

struct TIcoFile {
  int Reserved = -1, Type = -1;
  std::vector<TIcoImage> Images;

  const TIcoImage* Find(int width, int bits) const {
    for (const TIcoImage& image : Images)
      if (!image.IsPng() && image.DibWidth() == width && image.Bits() == bits) return &image;
    return nullptr;
  }
};

TIcoFile ReadIco(const fs::path& path) {
  TIcoFile ico;
  const std::vector<uint8_t> bytes = test::ReadAll(path);
  if (bytes.size() < 6) return ico;
  ico.Reserved = LoadU16LE(&bytes[0]);
  ico.Type = LoadU16LE(&bytes[2]);
  const int count = LoadU16LE(&bytes[4]);
  for (int i = 0; i < count && 6 + 16 * (i + 1) <= int(bytes.size()); ++i) {
    const uint8_t* e = &bytes[6 + 16 * i];
    TIcoImage image{e[0], e[1], e[2], e[3], LoadU16LE(e + 4), LoadU16LE(e + 6), LoadU32LE(e + 12), {}};
    const uint32_t length = LoadU32LE(e + 8);
    if (image.Offset <= bytes.size() && length <= bytes.size() - image.Offset)
      image.Data.assign(bytes.begin() + image.Offset, bytes.begin() + image.Offset + length);
    ico.Images.push_back(std::move(image));
  }
  return ico;
}

// "48x8 32x8 ...": each image's DIB width and bit count ("png256" for a PNG image).
std::string Describe(const TIcoFile& ico) {
  std::string text;
  for (const TIcoImage& image : ico.Images) {
    if (!text.empty()) text += " ";
    text += image.IsPng() ? "png" + std::to_string(LoadU32BE(&image.Data[16]))
                          : std::to_string(image.DibWidth()) + "x" + std::to_string(image.Bits());
  }
  return text;
}

using TConversionTest = test::TProgramSandbox;

void SaveBmp(const fs::path& path, int width, int height, TPixelFormat format,
             const std::function<uint32_t(int, int)>& pixel) {
  TBitmapFix32 bitmap;
  bitmap.SetPixelFormat(format);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = bitmap.ScanLine(y) + x * (format == pf32bit ? 4 : 3);
      const uint32_t v = pixel(x, y);
      p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16);
      if (format == pf32bit) p[3] = uint8_t(v >> 24);
    }
  bitmap.SaveToFile(path.string());
}

// A round badge: a coloured disc on white.
uint32_t Logo(int x, int y) {
  const int dx = x - 31, dy = y - 31;
  return dx * dx + dy * dy < 26 * 26 ? 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 4) << 8 | 0x60 : 0xFFFFFFFFu;
}

TEST_F(TConversionTest, WinXpGivesSixImagesInStandardOrderThatOtherReadersAccept) {
  SaveBmp(Work("logo.bmp"), 64, 64, pf24bit, Logo);
  const TResult result = Run("logo.bmp -sz=winxp -d=out");
  ASSERT_EQ(result.Status, 0) << result.Err;
  const fs::path out = Work("out/logo.ico");
  const TIcoFile ico = ReadIco(out);
  EXPECT_EQ(ico.Type, 1);
  EXPECT_EQ(Describe(ico), "48x8 32x8 16x8 48x32 32x32 16x32");
  for (const TIcoImage& image : ico.Images) EXPECT_EQ(image.Planes, 1);

  if (test::ToolExists("/usr/bin/identify")) {
    std::string listing;
    EXPECT_EQ(test::RunCommand("/usr/bin/identify -format '%wx%h\\n' " + ShellQuote(out.string()), &listing), 0);
    EXPECT_EQ(listing, "48x48\n32x32\n16x16\n48x48\n32x32\n16x16\n");
  }
  if (test::ToolExists("/usr/bin/python3") && test::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0) {
    const std::string script =
        "import sys\nfrom PIL import IcoImagePlugin\nf = IcoImagePlugin.IcoFile(open(sys.argv[1], 'rb'))\n"
        "images = []\nfor i in range(len(f.entry)):\n    im = f.frame(i)\n    im.load()\n"
        "    images.append((im.size[0], f.entry[i]['bpp']))\nfor w, bpp in sorted(images):\n    print(w, bpp)\n";
    std::ofstream(FTemp / "read.py") << script;
    std::string listing;
    EXPECT_EQ(
        test::RunCommand(
            "/usr/bin/python3 " + ShellQuote((FTemp / "read.py").string()) + " " + ShellQuote(out.string()), &listing),
        0);
    EXPECT_EQ(listing, "16 8\n16 32\n32 8\n32 32\n48 8\n48 32\n");
  }
  if (test::ToolExists("/usr/bin/icotool")) {
    std::string listing;
    EXPECT_EQ(test::RunCommand("/usr/bin/icotool -l " + ShellQuote(out.string()) + " 2>&1", &listing), 0);
    for (const char* line :
         {"--index=1 --width=48 --height=48 --bit-depth=8", "--index=3 --width=16 --height=16 --bit-depth=8",
          "--index=4 --width=48 --height=48 --bit-depth=32", "--index=6 --width=16 --height=16 --bit-depth=32"})
      EXPECT_NE(listing.find(line), std::string::npos) << line << " in\n" << listing;
  }
}

TEST_F(TConversionTest, LargeImagesAreStoredAsPngAndOwnSizeIsLimited) {
  SaveBmp(Work("photo.bmp"), 300, 200, pf24bit, [](int x, int y) { return uint32_t(x << 16 | y << 8 | 0x40); });
  TResult result = Run("photo.bmp -sz=16,32,48,256 -d=out");
  ASSERT_EQ(result.Status, 0) << result.Err;
  const std::vector<uint8_t> bytes = test::ReadAll(Work("out/photo.ico"));
  const TIcoFile ico = ReadIco(Work("out/photo.ico"));
  EXPECT_EQ(Describe(ico), "png256 48x32 32x32 16x32");
  ASSERT_GE(bytes.size(), 6u + 16 * 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 6, bytes.begin() + 14),
            (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 32, 0}));
  EXPECT_EQ(ico.Images[0].Offset, 6u + 16 * 4);

  SaveBmp(Work("wide.bmp"), 2000, 1500, pf24bit, [](int, int) { return 0x204080u; });
  result = Run("wide.bmp -sz=0 -d=out");
  ASSERT_EQ(result.Status, 0) << result.Err;
  const TIcoFile limited = ReadIco(Work("out/wide.ico"));
  EXPECT_EQ(Describe(limited), "png1024");
  ASSERT_EQ(limited.Images.size(), 1u);
  EXPECT_EQ(LoadU32BE(&limited.Images[0].Data[20]), 1024u) << "height";
}

TEST_F(TConversionTest, EveryDepthFromOpaqueAndFromAlphaSources) {
  // The alpha source has its first eight columns fully transparent (in a colour that must not
  // survive) and a semi-transparent column at the threshold.
  SaveBmp(Work("opaque.bmp"), 32, 32, pf24bit, [](int x, int y) { return uint32_t(x * 8 << 16 | y * 8 << 8 | 0x80); });
  SaveBmp(Work("alpha.bmp"), 32, 32, pf32bit, [](int x, int y) {
    const uint32_t alpha = x < 8 ? 0 : x == 8 ? 80 : 255;
    return alpha << 24 | uint32_t(x * 8 << 16 | y * 8 << 8 | 0x80);
  });
  const std::array<std::array<int, 3>, 16> standard = {{{0, 0, 0},
                                                        {128, 0, 0},
                                                        {0, 128, 0},
                                                        {128, 128, 0},
                                                        {0, 0, 128},
                                                        {128, 0, 128},
                                                        {0, 128, 128},
                                                        {128, 128, 128},
                                                        {192, 192, 192},
                                                        {255, 0, 0},
                                                        {0, 255, 0},
                                                        {255, 255, 0},
                                                        {0, 0, 255},
                                                        {255, 0, 255},
                                                        {0, 255, 255},
                                                        {255, 255, 255}}};
  for (const char* name : {"opaque", "alpha"}) {
    SCOPED_TRACE(name);
    const bool alpha = std::string(name) == "alpha";
    const TResult result = Run(std::string(name) + ".bmp -sz=32x32x1,32x32x4,32x32x8,32x32x24,32x32x32 -d=out");
    ASSERT_EQ(result.Status, 0) << result.Err;
    const TIcoFile ico = ReadIco(Work("out/" + std::string(name) + ".ico"));
    ASSERT_EQ(ico.Images.size(), 5u);
    for (const int bits : {1, 4, 8, 24, 32}) {
      SCOPED_TRACE(bits);
      const TIcoImage* image = ico.Find(32, bits);
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->BitCount, bits);
      if (bits <= 8) {
        EXPECT_LE(image->PaletteSize(), 1 << bits);
      }
      if (bits == 8) {
        EXPECT_EQ(image->PaletteEntry(0), (std::array<int, 3>{0, 0, 0}));
        EXPECT_EQ(image->PaletteEntry(1), (std::array<int, 3>{255, 255, 255}));
      }
      if (bits == 4) {
        ASSERT_EQ(image->PaletteSize(), 16);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(image->PaletteEntry(i), standard[size_t(i)]) << i;
      }
      // Alpha 80 is transparent in the AND mask of a 32-bit image, which keeps its pixels as
      // they are; reduced images cut only what lies below 80, and in black.
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
          const bool transparent = alpha && (x < 8 || (x == 8 && bits == 32));
          ASSERT_EQ(image->AndBit(x, y), transparent) << x << "," << y;
          if (transparent && bits == 32) {
            ASSERT_EQ(image->Pixel(x, y)[3], x == 8 ? 80 : 0) << x << "," << y;
          } else if (transparent) {
            ASSERT_EQ(image->Pixel(x, y), (std::array<int, 4>{0, 0, 0, 255})) << x << "," << y;
          }
        }
    }
  }
}

TEST_F(TConversionTest, TransparencyModesCutExactlyTheirColour) {
  // Corners red, green, blue and magenta, each colour also inside; beside the magenta inside
  // pixel one that differs from it in one unit of red.
  const uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, magenta = 0xFF00FF, nearMagenta = 0xFE00FF;
  auto pixel = [&](int x, int y) -> uint32_t {
    if ((x == 0 && y == 0) || (x == 5 && y == 5)) return red;
    if ((x == 0 && y == 15) || (x == 6 && y == 5)) return green;
    if ((x == 15 && y == 0) || (x == 7 && y == 5)) return blue;
    if ((x == 15 && y == 15) || (x == 8 && y == 5)) return magenta;
    if (x == 9 && y == 5) return nearMagenta;
    return 0x808080;
  };
  SaveBmp(Work("corners.bmp"), 16, 16, pf24bit, pixel);
  const struct {
    const char* Option;
    uint32_t Cut;
  } cases[] = {{"", 0x1000000}, {"-t=lt", red},     {"-t=lb", green},
               {"-t=rt", blue}, {"-t=rb", magenta}, {"-t=#FF00FF", magenta}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Option);
    fs::remove_all(Work("out"));
    const TResult result = Run(std::string("corners.bmp -sz=16x16x24,16x16x32 -d=out ") + c.Option);
    ASSERT_EQ(result.Status, 0) << result.Err;
    const TIcoFile ico = ReadIco(Work("out/corners.ico"));
    for (const int bits : {24, 32}) {
      const TIcoImage* image = ico.Find(16, bits);
      ASSERT_NE(image, nullptr) << bits;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const bool cut = pixel(x, y) == c.Cut;
          ASSERT_EQ(image->AndBit(x, y), cut) << bits << " bits at " << x << "," << y;
          if (cut) {
            ASSERT_EQ(image->Pixel(x, y)[0] + image->Pixel(x, y)[1] + image->Pixel(x, y)[2], 0) << x << "," << y;
          }
          if (cut && bits == 32) {
            ASSERT_EQ(image->Pixel(x, y)[3], 0) << x << "," << y;
          }
        }
    }
  }
}

TEST_F(TConversionTest, IconImagesOfTheRequestedSizesAndDepthsAreTakenOverByteForByte) {
  const fs::path corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const struct {
    const char* File;
    const char* Sizes;
  } cases[] = {
      {"ico/pillow_python.ico", "16x16x32,32x32x32,48x48x32"},
      {"ico/neko_AppIcon.ico", "32x32x4,16x16x4"},
      {"ico/pillow_hopper.ico", "16x16x8"},
      {"ico/pillow_black_and_white.ico", "0x0x0"},
      {"cur/pillow_deerstalker.cur", "0x0x0"},
      {"cur/neko_playing.cur", "32x32x1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    const fs::path source = corpus / c.File;
    fs::copy_file(source, Work(source.filename().string()), fs::copy_options::overwrite_existing);
    const TResult result = Run(ShellQuote(source.filename().string()) + " -sz=" + c.Sizes + " -d=out");
    ASSERT_EQ(result.Status, 0) << result.Err;
    const TIcoFile original = ReadIco(source);
    const TIcoFile converted = ReadIco(Work("out/" + source.stem().string() + ".ico"));
    // A cursor comes out as an icon: type 1, planes 1 and the bit count in the entry.
    EXPECT_EQ(converted.Reserved, 0);
    EXPECT_EQ(converted.Type, 1);
    ASSERT_EQ(converted.Images.size(), original.Images.size());
    for (const TIcoImage& image : original.Images) {
      const TIcoImage* same = converted.Find(image.DibWidth(), image.Bits());
      ASSERT_NE(same, nullptr) << image.DibWidth() << "x" << image.Bits();
      EXPECT_TRUE(same->Data == image.Data) << image.DibWidth() << "x" << image.Bits();
      EXPECT_EQ(same->Planes, 1);
      EXPECT_EQ(same->BitCount, image.Bits());
    }
  }
}

TEST_F(TConversionTest, PngIconImagesAreTakenOverInEveryVisiblePixel) {
  // Expanded when read and packed again when written: the bytes change, the visible pixels do not.
  const fs::path source = test::CorpusDir() / "ico/pillow_pillow.ico";
  if (!fs::exists(source) || test::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    GTEST_SKIP() << "no corpus or no Pillow";
  const TResult result = Run(ShellQuote(source.string()) + " -sz=256x256x32 -d=out");
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(Describe(ReadIco(Work("out/pillow_pillow.ico"))), "png256");
  std::ofstream(FTemp / "compare.py")
      << "import sys\nfrom PIL import Image\na, b = (Image.open(p).convert('RGBA') for p in sys.argv[1:3])\n"
         "print(a.size, b.size, sum(1 for x, y in zip(a.getdata(), b.getdata()) if x[3] and x != y))\n";
  std::string differing;
  EXPECT_EQ(test::RunCommand("/usr/bin/python3 " + ShellQuote((FTemp / "compare.py").string()) + " " +
                                 ShellQuote(source.string()) + " " + ShellQuote(Work("out/pillow_pillow.ico").string()),
                             &differing),
            0);
  EXPECT_EQ(differing, "(256, 256) (256, 256) 0\n");
}

// The corpus rows of SOURCES.md marked "robustness": malformed on purpose.
std::set<std::string> RobustnessFiles(const fs::path& corpus) {
  std::set<std::string> names;
  std::ifstream sources(corpus / "SOURCES.md");
  for (std::string line; std::getline(sources, line);) {
    if (line.rfind("| `", 0) != 0 || line.find("robustness") == std::string::npos) continue;
    const size_t end = line.find('`', 3);
    if (end != std::string::npos) names.insert(line.substr(3, end - 3));
  }
  return names;
}

class TCorpusConversionTest : public TConversionTest, public ::testing::WithParamInterface<const char*> {};

// Every file converts; a file malformed on purpose fails with one clean line or writes nothing.
// None crashes, trips the sanitizers or hangs.
TEST_P(TCorpusConversionTest, EveryFileConvertsOrFailsCleanly) {
  const fs::path corpus = test::CorpusDir();
  if (corpus.empty() || !fs::is_directory(corpus / GetParam())) GTEST_SKIP() << "no corpus";
  std::set<std::string> mayFail = RobustnessFiles(corpus);
  // Files without an image this program can take: a cursor header without entries, a Windows 1
  // icon, cursors whose one entry claims 8 bytes (the reader skips entries of 40 or fewer), BMP
  // files that wrap JPEG or PNG data, and a JPEG 2000 file whose data stops short.
  mayFail.insert({"pillow_no_cursors.cur", "transmissionzero_win1_App.ico", "pillow_mask_1.cur", "pillow_mask_L.cur",
                  "bmpsuite_q_rgb24jpeg.bmp", "bmpsuite_q_rgb24png.bmp", "pillow_balloon_eciRGBv2_aware.jp2"});
  const std::string folder = GetParam();
  std::vector<std::string> sizes = {"winxp"};
  if (folder == "ico" || folder == "cur") sizes.push_back("0x0x0");
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus / folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files)
    for (const std::string& size : sizes) {
      const std::string name = file.filename().string();
      SCOPED_TRACE(name + " -sz=" + size);
      fs::remove_all(Work("out"));
      const TResult result = Run(ShellQuote(file.string()) + " -sz=" + size + " -d=out", 300);
      EXPECT_LT(result.Status, 2) << "crashed or hung: " << result.Err;
      EXPECT_EQ(result.Err.find("Sanitizer"), std::string::npos) << result.Err;
      EXPECT_EQ(result.Err.find("runtime error"), std::string::npos) << result.Err;
      if (mayFail.count(name)) {
        EXPECT_LE(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
        continue;
      }
      EXPECT_EQ(result.Status, 0) << result.Err;
      EXPECT_EQ(result.Err, "");
      const fs::path icon = Work("out/" + file.stem().string() + ".ico");
      EXPECT_TRUE(fs::exists(icon)) << "no icon written";
      if (fs::exists(icon) && size == "winxp") {
        EXPECT_EQ(ReadIco(icon).Images.size(), 6u);
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, TCorpusConversionTest,
                         ::testing::Values("ico", "cur", "bmp", "png", "jpeg", "gif", "tiff", "jp2", "wmf", "emf",
                                           "pdf"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace glyphmill
