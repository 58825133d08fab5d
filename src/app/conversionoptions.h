// TConversionOptions: the choices of one conversion run, and how the stored page settings fill them.
#pragma once

#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/bitmap.h"
#include "support/listlongint.h"

namespace glyphmill {

struct TConversionOptions {
  std::vector<std::string> Sources;
  std::string DestFolder;  // ends in '/', or empty: each icon goes beside its source
  std::string DestFile;    // the first source's output name, or empty
  bool Overwrite = true;
  // Entry i of FWidths and FHeights is one size; 0 stands for the source's own width or height.
  TListLongint FWidths;
  TListLongint FHeights;
  // Bits per pixel (1, 4, 8, 24, 32), 0 for the source's own depth; every size in every depth.
  TListLongint FDepths;
  bool ZoomToFit = false;
  bool ShrinkToFit = true;
  bool KeepProportions = true;
  bool Smooth = true;
  int TransparencyMode = tmNone;
  TColor TransparentColor = NoColor;
  bool PngLargeImages = true;

  // Appends one size to FWidths and FHeights.
  void AddSize(int32_t width, int32_t height);
  // True when this width-and-height pair is already listed.
  bool HasSize(int32_t width, int32_t height) const;
};

// Flags of a run that the host and the image builders share.
struct TRunFlags {
  bool FRunning = false;        // from the start of a run to its end
  bool FStopRequested = false;  // Cancel: looked at after each source and each icon of a library
  bool FSizeLimited = false;    // a requested size above 1024 was cut to 1024
};

// Fills every field but Sources and DestFile from the pages' stored settings, as a wizard run
// reads the page controls: sizes and depths in box order, the custom size last.
void OptionsFromSettings(const TPageSettings& settings, TConversionOptions& options);

}  // namespace glyphmill
