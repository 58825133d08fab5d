#include "platform/vector_render.h"

#include <cairo-pdf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace glyphmill {
namespace {

using test::TTempDir;
using test::WriteText;

// A 160 × 160 drawing on a 16-unit grid: a one-unit black bar at x = 3 and a red square.
constexpr const char* GridSvg =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="160" height="160" viewBox="0 0 16 16">)"
    R"(<rect x="3" y="0" width="1" height="16" fill="#000"/><rect x="8" y="8" width="8" height="8" fill="#f00"/></svg>)";

uint8_t Alpha(const TBitmap& bitmap, int x, int y) { return bitmap.ScanLine(y)[x * 4 + 3]; }

TEST(VectorRenderTest, SvgIsRenderedAtTheRequestedSizeNotShrunk) {
  TTempDir dir;
  WriteText(dir / "grid.svg", GridSvg);
  TBitmap small;
  ASSERT_TRUE(RenderVectorEmbedded((dir / "grid.svg").string(), 16, 16, small));
  ASSERT_EQ(small.Width(), 16);
  ASSERT_EQ(small.PixelFormat(), pf32bit);
  // The bar covers exactly column 3: a rendering at 16 × 16 keeps it sharp.
  for (int y : {0, 7, 15}) {
    EXPECT_EQ(Alpha(small, 3, y), 255);
    EXPECT_EQ(small.GetPixel(3, y), 0u);
    EXPECT_EQ(Alpha(small, 2, y), 0);
    EXPECT_EQ(Alpha(small, 4, y), 0);
  }
  EXPECT_EQ(Alpha(small, 12, 12), 255);
  EXPECT_EQ(small.GetPixel(12, 12), RGBColor(255, 0, 0));
  // Fully transparent pixels are 0 in all four bytes.
  EXPECT_EQ(small.ScanLine(0)[0] | small.ScanLine(0)[1] | small.ScanLine(0)[2], 0);

  const struct {
    int Width, Height, ExpectedWidth, ExpectedHeight;
  } sizes[] = {{0, 0, 160, 160}, {32, 0, 32, 32}, {0, 48, 48, 48}, {40, 20, 40, 20}};
  for (const auto& s : sizes) {
    TBitmap bitmap;
    ASSERT_TRUE(RenderVectorEmbedded((dir / "grid.svg").string(), s.Width, s.Height, bitmap));
    EXPECT_EQ(bitmap.Width(), s.ExpectedWidth);
    EXPECT_EQ(bitmap.Height(), s.ExpectedHeight);
  }
}

TEST(VectorRenderTest, PdfAndAiRenderTheirFirstPage) {
  TTempDir dir;
  // 72 × 36 points (96 × 48 pixels at 96 dpi), the left half red.
  cairo_surface_t* surface = cairo_pdf_surface_create((dir / "page.pdf").c_str(), 72, 36);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_rectangle(cr, 0, 0, 36, 36);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  std::filesystem::copy_file(dir / "page.pdf", dir / "page.ai");
  for (const char* name : {"page.pdf", "page.ai"}) {
    double width = 0, height = 0;
    ASSERT_TRUE(VectorNaturalSize((dir / name).string(), width, height)) << name;
    EXPECT_DOUBLE_EQ(width, 96);
    EXPECT_DOUBLE_EQ(height, 48);
    TBitmap bitmap;
    ASSERT_TRUE(RenderVectorEmbedded((dir / name).string(), 0, 0, bitmap)) << name;
    EXPECT_EQ(bitmap.Width(), 96);
    EXPECT_EQ(bitmap.Height(), 48);
    EXPECT_EQ(bitmap.GetPixel(10, 10), RGBColor(255, 0, 0));
    EXPECT_EQ(Alpha(bitmap, 10, 10), 255);
    EXPECT_EQ(Alpha(bitmap, 80, 10), 0);
  }
}

TEST(VectorRenderTest, FailsWithoutTouchingTheTarget) {
  TTempDir dir;
  WriteText(dir / "broken.svg", "<svg");
  WriteText(dir / "broken.pdf", "%PDF-1.4 nothing");
  WriteText(dir / "grid.svg", GridSvg);
  WriteText(dir / "grid.txt", GridSvg);
  TBitmap bitmap;
  bitmap.SetSize(3, 3);
  for (const char* name : {"broken.svg", "broken.pdf", "grid.txt", "missing.svg"}) {
    EXPECT_FALSE(RenderVectorEmbedded((dir / name).string(), 16, 16, bitmap)) << name;
    double width = 0, height = 0;
    EXPECT_FALSE(VectorNaturalSize((dir / name).string(), width, height)) << name;
  }

  setenv("GLYPHMILL_NO_EMBEDDED_RENDERER", "1", 1);
  EXPECT_FALSE(EmbeddedRenderersEnabled());
  EXPECT_FALSE(RenderVectorEmbedded((dir / "grid.svg").string(), 16, 16, bitmap));
  unsetenv("GLYPHMILL_NO_EMBEDDED_RENDERER");
  EXPECT_EQ(bitmap.Width(), 3);
}

TEST(VectorRenderTest, CorpusPdfsDoNotHang) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  for (const auto& entry : std::filesystem::directory_iterator(test::CorpusDir() / "pdf")) {
    TBitmap bitmap;
    if (RenderVectorEmbedded(entry.path().string(), 64, 64, bitmap)) {
      EXPECT_EQ(bitmap.Width(), 64);
    }
  }
}

}  // namespace
}  // namespace glyphmill
