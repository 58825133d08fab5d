// Fitting pictures to icon sizes: where a picture lands in an image of another size (scaled with
// its proportions kept, or placed unscaled, centred or cropped), and ConvertBitmap, which turns a
// bitmap and its mask into a bitmap and mask of a requested pixel format and size.
#pragma once

#include "platform/bitmap.h"

namespace glyphmill {

// The largest rectangle of the picture's proportions inside rect, centred (edges rounded to the
// nearest pixel, halves to even) and clipped to rect. rect itself when any size is 0.
TRect FitRect(TRect rect, int pictureWidth, int pictureHeight);

// inner's size centred in rect (centres by integer division).
TRect CenterRect(TRect rect, TRect inner);

// How a picture of one size goes into an image of another.
struct TPlacement {
  bool FScale = false;
  // The part of the picture used and where it lands in the image.
  TRect FSource;
  TRect FTarget;
  bool operator==(const TPlacement&) const = default;
};

// Scales (proportions kept) when shrink is set and the picture reaches the target size in some
// direction, or when zoom is set and the picture fits; otherwise places it unscaled: centred when
// it fits, cropped from its top-left corner when not. A target width of 0 means the picture's size.
TPlacement PlaceImage(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, bool shrink, bool zoom);

// When both format and size change: true when the size changes first (in the source's format),
// false when the format changes first (at the source's size). With a filter the resampler wants the
// richer format; the palette of a reduced format is best fitted to the picture that remains.
bool SizeGoesFirst(TPixelFormat sourceFormat, TPixelFormat targetFormat, int sourceWidth, int sourceHeight,
                   int targetWidth, int targetHeight, int filter);

// Converts source (with its mask, or none meaning all opaque) into target of the format and size.
// targetMask, when given, is always produced: a monochrome mask of the target size, white where
// transparent. With fit the picture keeps its proportions inside the target (the rest
// transparent); otherwise it fills the target. filter is a number of filters.h (0: plain stretch).
// Colour depth changes at equal size are ConvertBitmapSameSize's; a change of both format and size
// goes through an intermediate bitmap, size first or format first, whichever loses less.
// Transparent pixels come out black in targets of 24 bits or fewer. Source and target (and their
// masks) may be the same bitmaps.
void ConvertBitmap(const TBitmap& source, const TBitmap* sourceMask, TBitmap& target, TBitmap* targetMask,
                   TPixelFormat format, int width, int height, int threshold, bool fit, int filter);

}  // namespace glyphmill
