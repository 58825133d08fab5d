#include "imagemagick_reference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

namespace glyphmill::test {

bool RunConvert(const std::string& arguments) {
  return RunCommand(ConvertTool + " " + arguments + " 2>/dev/null") == 0;
}

bool ImageMagickReads(const std::filesystem::path& file) {
  return RunCommand(ConvertTool + " '" + file.string() + "[0]' rgba:- >/dev/null 2>&1") == 0;
}

void ExpectMatchesImageMagick(const std::filesystem::path& file, const TBitmap& bitmap, bool useAlpha,
                              const TBitmap* mask, int tolerance) {
  std::string size;
  ASSERT_EQ(RunCommand("/usr/bin/identify -format '%w %h\\n' '" + file.string() + "[0]' 2>/dev/null", &size), 0)
      << file;
  int width = 0, height = 0;
  ASSERT_EQ(std::sscanf(size.c_str(), "%d %d", &width, &height), 2) << size;
  ASSERT_EQ(bitmap.Width(), width) << file;
  ASSERT_EQ(bitmap.Height(), height) << file;
  std::string rgba;
  ASSERT_EQ(RunCommand(ConvertTool + " '" + file.string() + "[0]' -depth 8 rgba:- 2>/dev/null", &rgba), 0) << file;
  ASSERT_EQ(rgba.size(), static_cast<size_t>(width) * height * 4) << file;

  int mismatches = 0;
  for (int y = 0; y < height && mismatches < 5; ++y) {
    for (int x = 0; x < width && mismatches < 5; ++x) {
      const auto* expected = reinterpret_cast<const uint8_t*>(rgba.data()) + (static_cast<size_t>(y) * width + x) * 4;
      int alpha = 255;
      if (useAlpha) alpha = bitmap.ScanLine(y)[4 * x + 3];
      if (mask && mask->GetPixel(x, y) != 0) alpha = 0;
      const bool visible = alpha >= 128;
      if (visible != (expected[3] >= 128)) {
        ADD_FAILURE() << file << ": transparency differs at " << x << "," << y;
        ++mismatches;
        continue;
      }
      if (!visible) continue;
      const TColor color = bitmap.GetPixel(x, y);
      const int dr = std::abs(GetRValue(color) - expected[0]);
      const int dg = std::abs(GetGValue(color) - expected[1]);
      const int db = std::abs(GetBValue(color) - expected[2]);
      if (dr > tolerance || dg > tolerance || db > tolerance) {
        ADD_FAILURE() << file << ": colour at " << x << "," << y << " is " << int(GetRValue(color)) << ","
                      << int(GetGValue(color)) << "," << int(GetBValue(color)) << ", ImageMagick gives "
                      << int(expected[0]) << "," << int(expected[1]) << "," << int(expected[2]);
        ++mismatches;
      }
    }
  }
}

}  // namespace glyphmill::test
