// Building icon images: every requested size and depth of one source made from the picture in the
// working bitmap (with its transparency), or from the images of an icon the source already is.
// Metafiles and vector drawings are drawn again at each size instead of being scaled.
#pragma once

#include <string>

#include "app/conversionoptions.h"
#include "icons/advancedicon.h"
#include "imaging/bitmapfix32.h"
#include "platform/bitmap.h"

namespace glyphmill {

// No image is made wider or taller than this.
inline constexpr int MaxIconSide = 1024;

// The picture a source was loaded into, and how it may be drawn again at another size.
struct TPictureSource {
  TBitmapFix32& FBitmap;  // the working bitmap
  TBitmap& FMask;         // white = transparent; used only when FMaskValid
  bool FMaskValid = false;
  std::string FFileName;  // for drawing a metafile or a vector drawing again
  bool FIsMetafile = false;
  int FNaturalWidth = 0;  // a metafile's natural size
  int FNaturalHeight = 0;
  bool FIsVector = false;
};

// Makes every requested size and depth from the picture into icon (empty on entry).
void BuildPictureIcon(TPictureSource& source, const TConversionOptions& options, TRunFlags& flags, TAdvancedIcon& icon);

// Replaces the images of an icon by the requested sizes and depths: images that already match are
// taken over unchanged, the others are built from the best-matching image. bitmap and mask are the
// run's working bitmaps, used as scratch. Nothing happens to an icon without images.
void RebuildIcon(TAdvancedIcon& icon, TBitmapFix32& bitmap, TBitmap& mask, const TConversionOptions& options,
                 TRunFlags& flags);

// Draws a metafile for one icon size: the placement of the picture's size (pictureWidth ×
// pictureHeight, its natural size) in width × height decides the drawing's size, four times larger
// with smoothing when the picture is shrunk to fit, for the resampler to work with. It is drawn
// over white into bitmap and over black into a scratch bitmap; what differs is transparent in
// mask, as is the transparent colour when there is one.
void RenderMetafileAt(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask, int pictureWidth,
                      int pictureHeight, int width, int height, const TConversionOptions& options,
                      TColor transparentColor);

}  // namespace glyphmill
