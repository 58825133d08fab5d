#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "platform/bitmap.h"
#include "platform/bmp_builder.h"
#include "support/errors.h"
#include "support/streams.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::MakeBmp;
using test::TBmpBuild;

constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF, K = 0x000000, Y = 0xFFFF00;
const std::vector<std::vector<uint32_t>> Expected = {{R, G, B}, {W, K, Y}};
const std::vector<uint32_t> SixColours = {R, G, B, W, K, Y};
const std::vector<std::vector<uint32_t>> SixIndexes = {{0, 1, 2}, {3, 4, 5}};

// The colour at (x, y) as 0xRRGGBB.
uint32_t Rgb(const TBitmap& bitmap, int x, int y) {
  const TColor c = bitmap.GetPixel(x, y);
  return (static_cast<uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

void Load(TBitmap& bitmap, const std::vector<uint8_t>& bytes) {
  TMemoryStream stream(bytes);
  bitmap.LoadFromStream(stream);
}

std::string LoadError(const std::vector<uint8_t>& bytes) {
  TBitmap bitmap;
  try {
    Load(bitmap, bytes);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

struct TVariant {
  const char* Name;
  TBmpBuild Build;
  TPixelFormat Format;
  std::vector<std::vector<uint32_t>> Colours;  // top-down, 0xRRGGBB
  int Alpha = -1;                              // expected alpha of every 32-bit pixel, -1: not checked
};

std::vector<TVariant> Variants() {
  auto build = [](int bits) {
    TBmpBuild b;
    b.Width = 3;
    b.Height = 2;
    b.Bits = bits;
    return b;
  };
  std::vector<TVariant> v;
  {
    TBmpBuild b = build(1);
    b.Palette = {R, G};
    b.Rows = {{0, 1, 0}, {1, 1, 0}};
    v.push_back({"1 bit", b, pf1bit, {{R, G, R}, {G, G, R}}});
  }
  {
    TBmpBuild b = build(2);
    b.Palette = {R, G, B, W};
    b.Rows = {{0, 1, 2}, {3, 0, 1}};
    v.push_back({"2 bit as 4 bit", b, pf4bit, {{R, G, B}, {W, R, G}}});
  }
  {
    TBmpBuild b = build(4);
    b.ColorsUsed = 6;
    b.Palette = SixColours;
    b.Rows = SixIndexes;
    v.push_back({"4 bit short table", b, pf4bit, Expected});
  }
  {
    TBmpBuild b = build(8);
    b.Height = -2;
    b.ColorsUsed = 6;
    b.Palette = SixColours;
    b.Rows = SixIndexes;
    v.push_back({"8 bit top-down", b, pf8bit, Expected});
  }
  {
    TBmpBuild b = build(8);
    b.Palette = SixColours;  // colours used 0: the pixel offset tells the table is short
    b.Rows = SixIndexes;
    v.push_back({"8 bit table length from offset", b, pf8bit, Expected});
  }
  {
    TBmpBuild b = build(8);
    b.ColorsUsed = 6;
    b.Palette = SixColours;
    b.Gap = 10;
    b.Rows = SixIndexes;
    v.push_back({"8 bit gap before pixels", b, pf8bit, Expected});
  }
  {
    TBmpBuild b = build(24);
    b.Rows = Expected;
    v.push_back({"24 bit", b, pf24bit, Expected});
  }
  {
    TBmpBuild b = build(24);
    b.HeaderSize = 124;
    b.Rows = Expected;
    v.push_back({"24 bit V5 header", b, pf24bit, Expected});
  }
  {
    TBmpBuild b = build(24);
    b.ColorsUsed = 2;
    b.Palette = {0x123456, 0x654321};
    b.Rows = Expected;
    v.push_back({"24 bit with optimisation palette", b, pf24bit, Expected});
  }
  {
    TBmpBuild b = build(32);
    b.Rows = {{0x80FF0000, 0x8000FF00, 0x800000FF}, {0x80FFFFFF, 0x80000000, 0x80FFFF00}};
    v.push_back({"32 bit", b, pf32bit, Expected, 0x80});
  }
  {
    TBmpBuild b = build(16);
    b.Rows = {{0x7C00, 0x03E0, 0x001F}, {0x7FFF, 0, 0x7FE0}};
    v.push_back({"16 bit 5-5-5", b, pf15bit, Expected});
  }
  {
    TBmpBuild b = build(16);
    b.Compression = 3;
    b.Masks = {0xF800, 0x07E0, 0x001F};
    b.Rows = {{0xF800, 0x07E0, 0x001F}, {0xFFFF, 0, 0xFFE0}};
    v.push_back({"16 bit bit fields 5-6-5", b, pf16bit, Expected});
  }
  {
    TBmpBuild b = build(16);
    b.HeaderSize = 52;
    b.Compression = 3;
    b.Masks = {0xF800, 0x07E0, 0x001F};
    b.Rows = {{0xF800, 0x07E0, 0x001F}, {0xFFFF, 0, 0xFFE0}};
    v.push_back({"16 bit 5-6-5 in a 52-byte header", b, pf16bit, Expected});
  }
  {
    TBmpBuild b = build(16);
    b.Compression = 3;
    b.Masks = {0x7C00, 0x03E0, 0x001F};
    b.Rows = {{0x7C00, 0x03E0, 0x001F}, {0x7FFF, 0, 0x7FE0}};
    v.push_back({"16 bit bit fields 5-5-5", b, pf15bit, Expected});
  }
  {
    TBmpBuild b = build(16);
    b.HeaderSize = 124;
    b.Compression = 3;
    b.Masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    b.Rows = {{0xFF00, 0xF0F0, 0xF00F}, {0xFFFF, 0xF000, 0xFFF0}};
    v.push_back({"16 bit 4-4-4-4 with alpha", b, pf32bit, Expected, 255});
  }
  {
    TBmpBuild b = build(32);
    b.HeaderSize = 108;
    b.Compression = 3;
    b.Masks = {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF};
    b.Rows = {{0xFF000040, 0x00FF0040, 0x0000FF40}, {0xFFFFFF40, 0x00000040, 0xFFFF0040}};
    v.push_back({"32 bit R-G-B-A bit fields", b, pf32bit, Expected, 0x40});
  }
  {
    TBmpBuild b = build(32);
    b.Compression = 3;
    b.Masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
    b.Rows = {{0x0000FF, 0x00FF00, 0xFF0000}, {0xFFFFFF, 0, 0x00FFFF}};
    v.push_back({"32 bit x-B-G-R bit fields", b, pf24bit, Expected});
  }
  {
    TBmpBuild b = build(8);
    b.HeaderSize = 12;
    b.Palette = SixColours;
    b.Rows = SixIndexes;
    v.push_back({"core header 8 bit", b, pf8bit, Expected});
  }
  {
    TBmpBuild b = build(24);
    b.HeaderSize = 12;
    b.Rows = Expected;
    v.push_back({"core header 24 bit", b, pf24bit, Expected});
  }
  {
    TBmpBuild b = build(8);
    b.HeaderSize = 16;
    b.Palette = SixColours;
    b.Rows = SixIndexes;
    v.push_back({"16-byte header 8 bit", b, pf8bit, Expected});
  }
  {
    TBmpBuild b = build(8);
    b.Compression = 1;
    b.ColorsUsed = 6;
    b.Palette = SixColours;
    // Bottom row W K Y as an absolute run, end of line, top row R G B as runs, end of bitmap.
    b.RawPixels = {0, 3, 3, 4, 5, 0, 0, 0, 1, 0, 1, 1, 1, 2, 0, 1};
    v.push_back({"RLE8", b, pf8bit, Expected});
  }
  {
    TBmpBuild b = build(4);
    b.Compression = 2;
    b.ColorsUsed = 6;
    b.Palette = SixColours;
    b.RawPixels = {0, 3, 0x34, 0x50, 0, 0, 2, 0x01, 1, 0x22, 0, 1};
    v.push_back({"RLE4", b, pf4bit, Expected});
  }
  {
    TBmpBuild b = build(8);
    b.Compression = 1;
    b.ColorsUsed = 6;
    b.Palette = SixColours;
    // A delta to (2, 1) then one yellow pixel; skipped pixels keep index 0. No end-of-bitmap code.
    b.RawPixels = {0, 2, 2, 1, 1, 5};
    v.push_back({"RLE8 delta", b, pf8bit, {{R, R, Y}, {R, R, R}}});
  }
  {
    TBmpBuild b = build(8);
    b.Compression = 1;
    b.ColorsUsed = 6;
    b.Palette = SixColours;
    // A run longer than the row is cut at the right edge; it does not spill into the next row.
    b.RawPixels = {9, 3, 0, 0, 3, 1, 0, 1};
    v.push_back({"RLE8 overlong run", b, pf8bit, {{G, G, G}, {W, W, W}}});
  }
  return v;
}

TEST(BmpCodec, LoadsEveryVariant) {
  for (const TVariant& variant : Variants()) {
    SCOPED_TRACE(variant.Name);
    TBitmap bitmap;
    ASSERT_NO_THROW(Load(bitmap, MakeBmp(variant.Build)));
    ASSERT_EQ(bitmap.PixelFormat(), variant.Format);
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(Rgb(bitmap, x, y), variant.Colours[y][x]) << "pixel " << x << "," << y;
        if (variant.Alpha >= 0) {
          EXPECT_EQ(bitmap.ScanLine(y)[4 * x + 3], variant.Alpha);
        }
      }
  }
}

TEST(BmpCodec, LeavesTheStreamAfterThePixels) {
  TBmpBuild b;
  b.Width = 3;
  b.Height = 2;
  b.Rows = Expected;
  b.Trailer = {'x', 'y', 'z'};
  TMemoryStream stream(MakeBmp(b));
  TBitmap bitmap;
  bitmap.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), stream.Size() - 3);
}

TEST(BmpCodec, MalformedFilesFailAndKeepTheBitmap) {
  auto valid = [] {
    TBmpBuild b;
    b.Width = 3;
    b.Height = 2;
    b.Rows = Expected;
    return b;
  };
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
  };
  std::vector<TCase> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"not BM", [&] {
                     auto bytes = MakeBmp(valid());
                     bytes[1] = 'A';
                     return bytes;
                   }()});
  cases.push_back({"header cut", [&] {
                     auto bytes = MakeBmp(valid());
                     bytes.resize(30);
                     return bytes;
                   }()});
  cases.push_back({"pixels one byte short", [&] {
                     auto bytes = MakeBmp(valid());
                     bytes.pop_back();
                     return bytes;
                   }()});
  auto with = [&](const char* name, auto change) {
    TBmpBuild b = valid();
    change(b);
    cases.push_back({name, MakeBmp(b)});
  };
  with("width 0", [](TBmpBuild& b) { b.Width = 0; });
  with("negative width", [](TBmpBuild& b) { b.Width = -3; });
  with("height 0", [](TBmpBuild& b) {
    b.Height = 0;
    b.Rows.clear();
  });
  with("3 bits per pixel", [](TBmpBuild& b) { b.Bits = 3; });
  with("JPEG compression", [](TBmpBuild& b) { b.Compression = 4; });
  with("RLE8 at 24 bits", [](TBmpBuild& b) { b.Compression = 1; });
  with("bit fields at 24 bits", [](TBmpBuild& b) {
    b.Compression = 3;
    b.Masks = {0xFF0000, 0xFF00, 0xFF};
  });
  with("header size 8", [](TBmpBuild& b) { b.HeaderSize = 8; });
  with("OS/2 Huffman", [](TBmpBuild& b) {
    b.HeaderSize = 64;
    b.Bits = 1;
    b.Compression = 3;
  });
  with("RLE top-down", [](TBmpBuild& b) {
    b.Bits = 8;
    b.Compression = 1;
    b.Height = -2;
    b.Palette = SixColours;
    b.RawPixels = {0, 1};
  });
  with("colour table past the end", [](TBmpBuild& b) {
    b.Bits = 8;
    b.ColorsUsed = 200;
    b.Palette = {R};
    b.Rows.clear();
    b.RawPixels = {0};
  });
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(2, 2);
    bitmap.FillRect(Rect(0, 0, 2, 2), RGBColor(1, 2, 3));
    TMemoryStream stream(c.Bytes);
    try {
      bitmap.LoadFromStream(stream);
      ADD_FAILURE() << "loaded";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.GetPixel(1, 1), RGBColor(1, 2, 3));
  }
}

TEST(BmpCodec, RefusesPicturesAboveTheCapBeforeAllocating) {
  TBmpBuild b;
  b.Width = 20000;
  b.Height = 20000;
  b.Bits = 8;
  b.Compression = 1;
  b.Palette = {R};
  b.RawPixels = {0, 1};
  EXPECT_EQ(LoadError(MakeBmp(b)), "Picture too large (20000 x 20000)");
}

// Every cut of a valid file either loads or fails with the one message; nothing else happens.
void SweepCuts(const std::vector<uint8_t>& bytes, size_t step) {
  for (size_t length = 0; length < bytes.size(); length += step) {
    const std::string error =
        LoadError(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length)));
    if (!error.empty()) {
      EXPECT_EQ(error, "Bitmap image is not valid") << "cut at " << length;
    }
  }
}

TEST(BmpCodec, CutFilesLoadOrFailCleanly) {
  for (const TVariant& variant : Variants()) {
    SCOPED_TRACE(variant.Name);
    SweepCuts(MakeBmp(variant.Build), 1);
  }
  const std::filesystem::path corpus = test::CorpusDir() / "bmp";
  if (!std::filesystem::exists(corpus)) GTEST_SKIP() << "no corpus";
  for (const char* name : {"bmpsuite_g_pal4rle.bmp", "bmpsuite_g_rgb16-565.bmp", "bmpsuite_q_rgba32.bmp",
                           "bmpsuite_g_pal8os2.bmp", "pillow_hopper_rle8.bmp"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = test::ReadAll(corpus / name);
    SweepCuts(bytes, 1 + bytes.size() / 400);
  }
}

TEST(BmpCodec, SaveAndLoadKeepEveryFormat) {
  for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
    SCOPED_TRACE(format);
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(5, 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        bitmap.SetPixel(x, y, RGBColor(static_cast<uint8_t>(x * 60), 0, static_cast<uint8_t>(y * 120)));
    if (format == pf32bit) bitmap.ScanLine(1)[3] = 0x7F;
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    stream.SetPosition(0);
    TBitmap loaded;
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.PixelFormat(), format);
    EXPECT_EQ(loaded.Palette(), bitmap.Palette());
    ASSERT_EQ(loaded.BitsSize(), bitmap.BitsSize());
    EXPECT_EQ(0, memcmp(loaded.Bits(), bitmap.Bits(), bitmap.BitsSize()));
    EXPECT_EQ(stream.Position(), stream.Size());
  }
}

// The corpus loaded next to ImageMagick's reading of the same files.
TEST(BmpCodec, CorpusMatchesImageMagick) {
  const std::filesystem::path corpus = test::CorpusDir() / "bmp";
  if (!std::filesystem::exists(corpus) || !test::ToolExists("/usr/bin/convert")) GTEST_SKIP();
  // Files ImageMagick reads that we refuse: RLE stored top-down, a header size no format has.
  const std::set<std::string> weRefuse = {"bmpsuite_b_rletopdown.bmp", "bmpsuite_b_badheadersize.bmp"};
  // Channels of fewer than 8 bits: we scale them to the full byte range (15 -> 255), ImageMagick
  // shifts them (15 -> 240), so they may differ by up to the lowest missing bits.
  const std::map<std::string, int> tolerance = {
      {"bmpsuite_q_rgb16-231.bmp", 127}, {"bmpsuite_q_rgba16-4444.bmp", 15}, {"bmpsuite_q_rgb32-111110.bmp", 3}};
  // ImageMagick misreads the 64-byte OS/2 header; the file shows the same picture as pal8.bmp.
  const std::map<std::string, std::string> reference = {{"bmpsuite_q_pal8os2v2.bmp", "bmpsuite_g_pal8.bmp"}};
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    std::string rgba;
    const std::filesystem::path shown = reference.contains(name) ? corpus / reference.at(name) : entry.path();
    const int status = test::RunCommand("/usr/bin/convert '" + shown.string() + "' -depth 8 rgba:- 2>/dev/null", &rgba);
    TBitmap bitmap;
    const std::string error = [&] {
      try {
        bitmap.LoadFromFile(entry.path().string());
      } catch (const std::exception& e) {
        return std::string(e.what());
      }
      return std::string();
    }();
    if (!error.empty()) {
      EXPECT_EQ(error, "Bitmap image is not valid");
      EXPECT_TRUE(status != 0 || rgba.empty() || weRefuse.contains(name)) << "ImageMagick reads it";
      continue;
    }
    // The bad set only has to load or fail cleanly; what a broken file shows is nobody's standard.
    if (status != 0 || rgba.empty() || name.starts_with("bmpsuite_b_")) continue;
    ASSERT_EQ(rgba.size(), static_cast<size_t>(bitmap.Width()) * bitmap.Height() * 4);
    const int allowed = tolerance.contains(name) ? tolerance.at(name) : 0;
    int mismatches = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
      for (int x = 0; x < bitmap.Width(); ++x) {
        const auto* p =
            reinterpret_cast<const uint8_t*>(rgba.data()) + 4 * (static_cast<size_t>(y) * bitmap.Width() + x);
        const TColor c = bitmap.GetPixel(x, y);
        if (std::abs(GetRValue(c) - p[0]) > allowed || std::abs(GetGValue(c) - p[1]) > allowed ||
            std::abs(GetBValue(c) - p[2]) > allowed)
          ++mismatches;
      }
    EXPECT_EQ(mismatches, 0);
    ++compared;
  }
  EXPECT_GT(compared, 40);
}

}  // namespace
}  // namespace glyphmill
