#include "platform/metafile.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <functional>

#include "support/byte_reader.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::CorpusDir;
using test::FixturesDir;
using test::ReadAll;

constexpr TColor White = 0xFFFFFF, Black = 0, Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000;
constexpr TColor Yellow = 0x00FFFF;

// An EMF written record by record; its frame is 25.4 mm on a 96-dpi reference device, so one
// logical MM_TEXT unit is one pixel of a 96 × 96 rendering.
class TEmfBuilder {
public:
  TEmfBuilder& Add(uint32_t type, std::initializer_list<int32_t> values, std::vector<uint8_t> tail = {}) {
    const size_t start = FRecords.size();
    Put(type);
    Put(0);
    for (int32_t v : values) Put(static_cast<uint32_t>(v));
    FRecords.insert(FRecords.end(), tail.begin(), tail.end());
    while ((FRecords.size() - start) % 4) FRecords.push_back(0);
    StoreU32LE(&FRecords[start + 4], static_cast<uint32_t>(FRecords.size() - start));
    ++FCount;
    return *this;
  }
  TEmfBuilder& Brush(uint32_t index, TColor color) { return Add(39, {int32_t(index), 0, int32_t(color), 0}); }
  TEmfBuilder& Select(uint32_t index) { return Add(37, {int32_t(index)}); }
  TEmfBuilder& NullPen() { return Select(0x80000008); }
  TEmfBuilder& Rectangle(int l, int t, int r, int b) { return Add(43, {l, t, r, b}); }
  TEmfBuilder& Polygon16(std::initializer_list<int16_t> xy) {
    std::vector<uint8_t> points;
    for (int16_t v : xy) points.insert(points.end(), {uint8_t(v), uint8_t(uint16_t(v) >> 8)});
    return Add(86, {0, 0, 0, 0, int32_t(xy.size() / 2)}, points);
  }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> header(88, 0);
    StoreU32LE(&header[0], 1);
    StoreU32LE(&header[4], 88);
    const int32_t frame[8] = {0, 0, 95, 95, 0, 0, 2540, 2540};
    for (int i = 0; i < 8; ++i) StoreU32LE(&header[8 + i * 4], static_cast<uint32_t>(frame[i]));
    StoreU32LE(&header[40], 0x464D4520);
    StoreU32LE(&header[44], 0x10000);
    StoreU32LE(&header[48], static_cast<uint32_t>(88 + FRecords.size() + 20));
    StoreU32LE(&header[52], FCount + 2);
    StoreU32LE(&header[72], 960);
    StoreU32LE(&header[76], 960);
    StoreU32LE(&header[80], 254);
    StoreU32LE(&header[84], 254);
    std::vector<uint8_t> bytes = header;
    bytes.insert(bytes.end(), FRecords.begin(), FRecords.end());
    const uint8_t eof[20] = {14, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 20, 0, 0, 0};
    bytes.insert(bytes.end(), eof, eof + 20);
    return bytes;
  }

private:
  void Put(uint32_t v) {
    const size_t at = FRecords.size();
    FRecords.resize(at + 4);
    StoreU32LE(&FRecords[at], v);
  }
  std::vector<uint8_t> FRecords;
  uint32_t FCount = 0;
};

int32_t FloatBits(float f) { return std::bit_cast<int32_t>(f); }

TBitmap Render(const std::vector<uint8_t>& bytes, int width, int height, TColor background = White) {
  TMetafile metafile;
  metafile.LoadFromBytes(bytes);
  TBitmap bitmap;
  metafile.Render(bitmap, width, height, background);
  return bitmap;
}

// Colours compared with a little room for anti-aliased edges nearby.
::testing::AssertionResult Near(TColor actual, TColor expected) {
  for (int shift : {0, 8, 16})
    if (std::abs(int((actual >> shift) & 0xFF) - int((expected >> shift) & 0xFF)) > 24)
      return ::testing::AssertionFailure() << std::hex << "colour 0x" << actual << ", expected 0x" << expected;
  return ::testing::AssertionSuccess();
}

struct TProbe {
  int X, Y;
  TColor Color;
};

struct TDrawingCase {
  const char* Name;
  std::function<void(TEmfBuilder&)> Build;
  std::vector<TProbe> Probes;
};

// Each case draws red with a null pen; the probes tell where the red must and must not land.
TEST(MetafileTest, EmfStateAndDrawingRecords) {
  const std::vector<TDrawingCase> cases = {
      {"rectangle in device units", [](TEmfBuilder&) {}, {{30, 30, Red}, {60, 60, White}}},
      {"world transform moves the drawing",
       [](TEmfBuilder& b) {
         b.Add(35, {FloatBits(1), 0, 0, FloatBits(1), FloatBits(40), 0});
       },
       {{60, 20, Red}, {20, 20, White}}},
      {"world transform composed on the left",
       [](TEmfBuilder& b) {
         b.Add(36, {FloatBits(0.5f), 0, 0, FloatBits(0.5f), 0, 0, 2});
       },
       {{20, 20, Red}, {40, 40, White}}},
      {"anisotropic window onto viewport",
       [](TEmfBuilder& b) {
         b.Add(17, {8}).Add(9, {100, 100}).Add(11, {192, 96});
       },
       {{90, 20, Red}, {20, 90, White}}},
      {"isotropic keeps the aspect",
       [](TEmfBuilder& b) {
         b.Add(17, {7}).Add(9, {100, 100}).Add(11, {192, 96});
       },
       {{40, 40, Red}, {90, 20, White}}},
      {"metric mapping points y up",
       [](TEmfBuilder& b) {
         b.Add(17, {2}).Add(12, {0, 96});
       },
       // 50 units of 0.1 mm from the bottom edge.
       {{10, 90, Red}, {10, 50, White}}},
      {"intersect clip rectangle",
       [](TEmfBuilder& b) {
         b.Add(30, {0, 0, 20, 96});
       },
       {{15, 30, Red}, {40, 30, White}}},
      {"exclude clip rectangle",
       [](TEmfBuilder& b) {
         b.Add(29, {20, 20, 40, 40});
       },
       {{30, 30, White}, {45, 45, Red}}},
      {"restore brings back the clip",
       [](TEmfBuilder& b) {
         b.Add(33, {}).Add(30, {0, 0, 5, 5}).Add(34, {-1});
       },
       {{30, 30, Red}}},
      {"clip region replaces the clip",
       [](TEmfBuilder& b) {
         std::vector<uint8_t> region(48, 0);
         const int32_t values[12] = {32, 1, 1, 16, 0, 0, 96, 96, 0, 0, 15, 96};
         for (int i = 0; i < 12; ++i) StoreU32LE(&region[i * 4], static_cast<uint32_t>(values[i]));
         b.Add(30, {40, 40, 50, 50}).Add(75, {48, 5}, region);
       },
       {{10, 30, Red}, {45, 45, White}}},
      {"null brush fills nothing", [](TEmfBuilder& b) { b.Select(0x80000005); }, {{30, 30, White}}},
  };
  for (const TDrawingCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TEmfBuilder builder;
    builder.Brush(1, Red).Select(1).NullPen();
    c.Build(builder);
    builder.Rectangle(0, 0, 50, 50);
    const TBitmap bitmap = Render(builder.Bytes(), 96, 96);
    ASSERT_EQ(bitmap.PixelFormat(), pf24bit);
    for (const TProbe& p : c.Probes) EXPECT_TRUE(Near(bitmap.GetPixel(p.X, p.Y), p.Color)) << p.X << "," << p.Y;
  }
}

TEST(MetafileTest, PathsFillWithThePolygonFillModeAndClip) {
  for (int mode : {1, 2}) {
    TEmfBuilder b;
    b.Brush(1, Blue).Select(1).NullPen().Add(19, {mode}).Add(59, {});
    b.Polygon16({10, 10, 86, 10, 86, 86, 10, 86}).Polygon16({30, 30, 66, 30, 66, 66, 30, 66});
    b.Add(60, {}).Add(62, {0, 0, 0, 0});
    const TBitmap bitmap = Render(b.Bytes(), 96, 96);
    EXPECT_TRUE(Near(bitmap.GetPixel(20, 20), Blue));
    EXPECT_TRUE(Near(bitmap.GetPixel(48, 48), mode == 1 ? White : Blue)) << "fill mode " << mode;
  }
  TEmfBuilder b;
  b.Add(59, {}).Add(42, {0, 0, 96, 96}).Add(60, {}).Add(67, {5});
  b.Brush(1, Green).Select(1).NullPen().Rectangle(0, 0, 96, 96);
  const TBitmap clipped = Render(b.Bytes(), 96, 96);
  EXPECT_TRUE(Near(clipped.GetPixel(3, 3), White));
  EXPECT_TRUE(Near(clipped.GetPixel(48, 48), Green));
}

TEST(MetafileTest, PenWidthFollowsTheMapping) {
  TEmfBuilder b;
  // A 10-unit geometric flat-capped pen on a window twice the size of the viewport: 5 pixels.
  b.Add(17, {8}).Add(9, {192, 192}).Add(11, {96, 96});
  b.Add(95, {1, 0, 0, 0, 0, 0x10200, 10, 0, 0, 0, 0}).Select(1);
  b.Add(27, {0, 96}).Add(54, {192, 96});
  const TBitmap bitmap = Render(b.Bytes(), 96, 96);
  EXPECT_TRUE(Near(bitmap.GetPixel(48, 48), Black));
  EXPECT_TRUE(Near(bitmap.GetPixel(48, 46), Black));
  EXPECT_TRUE(Near(bitmap.GetPixel(48, 43), White));
}

TEST(MetafileTest, StretchDibitsPlacesTheBitmapRightWayUp) {
  // A bottom-up 2 × 2 DIB: bottom row blue, yellow; top row red, green.
  std::vector<uint8_t> dib(40 + 16, 0);
  StoreU32LE(&dib[0], 40);
  StoreU32LE(&dib[4], 2);
  StoreU32LE(&dib[8], 2);
  StoreU16LE(&dib[12], 1);
  StoreU16LE(&dib[14], 24);
  const uint8_t pixels[16] = {255, 0, 0, 0, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
  std::copy(pixels, pixels + 16, dib.begin() + 40);
  TEmfBuilder b;
  // bounds, dest x/y, src x/y/cx/cy, offBmi, cbBmi, offBits, cbBits, usage, rop, cx/cy dest
  b.Add(81, {0, 0, 0, 0, 8, 8, 0, 0, 2, 2, 80, 40, 120, 16, 0, int32_t(0x00CC0020), 80, 80}, dib);
  const TBitmap bitmap = Render(b.Bytes(), 96, 96);
  EXPECT_TRUE(Near(bitmap.GetPixel(20, 20), Red));
  EXPECT_TRUE(Near(bitmap.GetPixel(70, 20), Green));
  EXPECT_TRUE(Near(bitmap.GetPixel(20, 70), Blue));
  EXPECT_TRUE(Near(bitmap.GetPixel(70, 70), Yellow));
  EXPECT_TRUE(Near(bitmap.GetPixel(4, 4), White));
}

TEST(MetafileTest, UnknownRecordsAreSkippedAndAMalformedOneEndsPlayback) {
  TEmfBuilder skipped;
  skipped.Brush(1, Red).Select(1).NullPen().Add(9999, {1, 2, 3}).Rectangle(0, 0, 50, 50);
  EXPECT_TRUE(Near(Render(skipped.Bytes(), 96, 96).GetPixel(30, 30), Red));

  TEmfBuilder broken;
  broken.Brush(1, Red).Select(1).NullPen().Add(86, {0, 0, 0, 0, 1000000000}).Rectangle(0, 0, 50, 50);
  EXPECT_TRUE(Near(Render(broken.Bytes(), 96, 96).GetPixel(30, 30), White));
}

TEST(MetafileTest, NaturalSizeAt96Dpi) {
  const struct {
    std::filesystem::path File;
    int Width, Height;
    bool Enhanced;
  } cases[] = {
      {FixturesDir() / "metafile/clipart_house.wmf", 133, 100, false},    // 2000 × 1500 at 1440 per inch
      {FixturesDir() / "metafile/plain_shapes.wmf", 200, 100, false},     // window extent, no placeable header
      {FixturesDir() / "metafile/badge_transforms.emf", 160, 160, true},  // frame in 0.01 mm
  };
  for (const auto& c : cases) {
    TMetafile metafile;
    metafile.LoadFromFile(c.File.string());
    EXPECT_EQ(metafile.Width(), c.Width) << c.File;
    EXPECT_EQ(metafile.Height(), c.Height) << c.File;
    EXPECT_EQ(metafile.Enhanced(), c.Enhanced) << c.File;
  }
  TEmfBuilder b;
  TMetafile built;
  built.LoadFromBytes(b.Bytes());
  EXPECT_EQ(built.Width(), 96);
}

TEST(MetafileTest, RejectsWhatIsNotAMetafile) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {}, {1, 2, 3}, std::vector<uint8_t>(200, 0), ReadAll(FixturesDir() / "metafile/plain_shapes.wmf")};
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::vector<uint8_t> bytes = inputs[i];
    // The last one loses its window extent: a WMF without any extent has no size.
    if (i == 3) bytes.resize(18);
    TMetafile metafile;
    try {
      metafile.LoadFromBytes(bytes);
      ADD_FAILURE() << "input " << i << " was accepted";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Metafile is not valid");
    }
  }
}

TEST(MetafileTest, ClipArtFixturesRenderStretchedOverTheBackground) {
  const std::vector<uint8_t> house = ReadAll(FixturesDir() / "metafile/clipart_house.wmf");
  // Logical points of the drawing, probed at two sizes: sun, roof, window frame and hole, DIB.
  const struct {
    double X, Y;
    TColor Color;
  } probes[] = {{1700, 300, RGBColor(255, 220, 0)},
                {800, 600, RGBColor(200, 0, 0)},
                {540, 900, RGBColor(0, 0, 160)},
                {625, 900, White},
                {1000, 1100, Red},
                {1100, 1100, Green}};
  for (const double scale : {1.0, 3.0}) {
    const int width = int(133 * scale), height = int(100 * scale);
    const TBitmap bitmap = Render(house, width, height);
    for (const auto& p : probes)
      EXPECT_TRUE(Near(bitmap.GetPixel(int(p.X * width / 2000), int(p.Y * height / 1500)), p.Color))
          << p.X << "," << p.Y << " at scale " << scale;
  }
  const std::vector<uint8_t> plain = ReadAll(FixturesDir() / "metafile/plain_shapes.wmf");
  const TBitmap wide = Render(plain, 40, 10, Black);
  EXPECT_TRUE(Near(wide.GetPixel(5, 5), Red));
  EXPECT_TRUE(Near(wide.GetPixel(30, 5), Black));

  // Drawn over white and over black, only the pixels the picture leaves alone differ.
  const std::vector<uint8_t> badge = ReadAll(FixturesDir() / "metafile/badge_transforms.emf");
  const TBitmap onWhite = Render(badge, 160, 160, White), onBlack = Render(badge, 160, 160, Black);
  EXPECT_EQ(onWhite.GetPixel(2, 2), White);
  EXPECT_EQ(onBlack.GetPixel(2, 2), Black);
  EXPECT_EQ(onWhite.GetPixel(80, 40), onBlack.GetPixel(80, 40));
  // The rotated square is red at the centre, its white "OK" text sits on it.
  EXPECT_TRUE(Near(onWhite.GetPixel(80, 62), RGBColor(200, 30, 30)));
  int whiteInSquare = 0;
  for (int y = 66; y < 82; ++y)
    for (int x = 66; x < 94; ++x) whiteInSquare += onBlack.GetPixel(x, y) == White;
  EXPECT_GT(whiteInSquare, 15);
}

// Every prefix of a file must load with "Metafile is not valid" or play without harm.
void SweepCuts(const std::vector<uint8_t>& bytes, size_t step) {
  for (size_t length = 0; length < bytes.size(); length += step) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    TMetafile metafile;
    try {
      metafile.LoadFromBytes(cut);
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Metafile is not valid");
      continue;
    }
    TBitmap bitmap;
    metafile.Render(bitmap, 32, 32, White);
  }
}

TEST(MetafileTest, TruncatedFilesNeverCrash) {
  for (const char* name : {"clipart_house.wmf", "plain_shapes.wmf", "badge_transforms.emf"})
    SweepCuts(ReadAll(FixturesDir() / "metafile" / name), 7);
}

TEST(MetafileTest, CorpusMetafilesRenderOrFailCleanly) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int rendered = 0;
  for (const char* folder : {"wmf", "emf"}) {
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir() / folder)) {
      const std::string name = entry.path().filename().string();
      const std::vector<uint8_t> bytes = ReadAll(entry.path());
      TMetafile metafile;
      if (name.find("corrupted") != std::string::npos) {
        EXPECT_THROW(metafile.LoadFromBytes(bytes), EReadError) << name;
        continue;
      }
      metafile.LoadFromBytes(bytes);
      TBitmap bitmap;
      metafile.Render(bitmap, std::min(metafile.Width(), 400), std::min(metafile.Height(), 400), White);
      ++rendered;
      SweepCuts(bytes, std::max<size_t>(bytes.size() / 25, 1));
    }
  }
  EXPECT_GE(rendered, 15);
}

}  // namespace
}  // namespace glyphmill
