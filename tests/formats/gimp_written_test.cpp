// Files GIMP writes, decoded by our readers, against ImageMagick's decoding of the same files.
#include <gtest/gtest.h>

#include <fstream>

#include "formats/pcximage.h"
#include "formats/psdimage.h"
#include "formats/xpmimage.h"
#include "imagemagick_reference.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::TTempDir;

const char* const GimpConsole = "/usr/bin/gimp-console";
// GIMP's XPM plug-in opens a display even in batch mode.
const char* const XvfbRun = "/usr/bin/xvfb-run";

// One GIMP image per colour mode, each exported to the formats GIMP writes for that mode.
const char* const ExportScript = R"scheme(
(define (duplicate-flat image) (let* ((copy (car (gimp-image-duplicate image)))) (gimp-image-flatten copy) copy))
(define (active image) (car (gimp-image-get-active-drawable image)))
(define (psd image name compression) (file-psd-save RUN-NONINTERACTIVE image (active image) name name compression 0))
(define (pcx image name) (file-pcx-save RUN-NONINTERACTIVE image (active image) name name))
(define (xpm image name) (file-xpm-save RUN-NONINTERACTIVE image (active image) name name 127))
(let* ((source (car (gimp-file-load RUN-NONINTERACTIVE "in.png" "in.png"))))
  (let* ((image (car (gimp-image-duplicate source))))
    (psd image "rgba.psd" 1)
    (xpm image "rgba.xpm")
    (gimp-image-convert-precision image PRECISION-U16-GAMMA)
    (psd image "rgba16.psd" 1))
  (let* ((image (duplicate-flat source)))
    (psd image "rgb-raw.psd" 0)
    (pcx image "rgb.pcx"))
  (let* ((image (duplicate-flat source)))
    (gimp-image-convert-grayscale image)
    (psd image "grey.psd" 1)
    (pcx image "grey.pcx"))
  (let* ((image (duplicate-flat source)))
    (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 200 FALSE FALSE "")
    (psd image "indexed.psd" 1)
    (pcx image "indexed.pcx")
    (xpm image "indexed.xpm"))
  (let* ((image (duplicate-flat source)))
    (gimp-image-convert-indexed image CONVERT-DITHER-FS CONVERT-PALETTE-MONO 2 FALSE FALSE "")
    (pcx image "mono.pcx")
    (file-xbm-save RUN-NONINTERACTIVE image (active image) "mono.xbm" "mono.xbm" "" FALSE 0 0 "mono" FALSE "-mask")))
(gimp-quit 0)
)scheme";

template <class TImage>
TBitmap Decode(const std::filesystem::path& file) {
  TImage image;
  image.LoadFromFile(file.string());
  return image.Bitmap();
}

TEST(GimpWrittenFiles, DecodeToImageMagicksColours) {
  if (!test::ToolExists(GimpConsole) || !test::ToolExists(XvfbRun) || !test::ToolExists(test::ConvertTool))
    GTEST_SKIP() << "GIMP, Xvfb or ImageMagick is not installed";
  TTempDir temp;
  ASSERT_TRUE(
      test::RunConvert("-size 48x40 -seed 7 plasma:fractal -alpha set -channel A -fx 'i<20?0:1' +channel "
                       "-depth 8 '" +
                       (temp / "in.png").string() + "'"));
  {
    std::ofstream script(temp / "export.scm");
    script << ExportScript;
  }
  // A profile of its own keeps the run independent of the user's GIMP settings.
  const std::string command = "cd '" + temp.Path().string() + "' && GIMP2_DIRECTORY='" + (temp / "profile").string() +
                              "' " + XvfbRun + " -a " + GimpConsole + " -i -d -f -b - < export.scm >/dev/null 2>&1";
  ASSERT_EQ(test::RunCommand(command), 0);

  struct TCase {
    const char* Name;
    TBitmap (*Decode)(const std::filesystem::path&);
    // Another file GIMP wrote from the same image, where ImageMagick misreads the file itself.
    const char* Reference;
    bool UseAlpha;
    int Tolerance;
  };
  const TCase cases[] = {
      {"rgba.psd", Decode<TPSDImage>, nullptr, true, 1},
      // The 16-bit document takes each sample's high byte; ImageMagick rounds.
      {"rgba16.psd", Decode<TPSDImage>, nullptr, true, 1},
      {"rgb-raw.psd", Decode<TPSDImage>, nullptr, false, 0},
      {"grey.psd", Decode<TPSDImage>, nullptr, false, 0},
      // ImageMagick cannot read GIMP's indexed PSD.
      {"indexed.psd", Decode<TPSDImage>, "indexed.pcx", false, 0},
      {"rgb.pcx", Decode<TPCXImage>, nullptr, false, 0},
      {"grey.pcx", Decode<TPCXImage>, nullptr, false, 0},
      {"indexed.pcx", Decode<TPCXImage>, nullptr, false, 0},
      // ImageMagick takes bit 1 of a monochrome PCX as black whatever its header palette says.
      {"mono.pcx", Decode<TPCXImage>, "mono.xbm", false, 0},
      {"rgba.xpm", Decode<TXPMImage>, nullptr, true, 0},
      {"indexed.xpm", Decode<TXPMImage>, nullptr, true, 0},
      {"mono.xbm", Decode<TXBMImage>, nullptr, false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(std::filesystem::exists(temp / c.Name)) << "GIMP wrote no " << c.Name;
    const TBitmap bitmap = c.Decode(temp / c.Name);
    const bool withAlpha = c.UseAlpha && bitmap.PixelFormat() == pf32bit;
    test::ExpectMatchesImageMagick(temp / (c.Reference ? c.Reference : c.Name), bitmap, withAlpha, nullptr,
                                   c.Tolerance);
  }
}

}  // namespace
}  // namespace glyphmill
