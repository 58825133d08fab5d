// Colour depth reduction and palettes: the standard palettes, reduction of a picture to an 8-bit
// image with its own palette of at most 256 colours, exact palette conversion, palette expansion and
// repair, the transparent palette index of PNG-compressed icon images, and the conversion of a
// bitmap and mask to another pixel format at the same size. No dithering anywhere.
#pragma once

#include <span>

#include "platform/bitmap.h"
#include "support/listlongint.h"

namespace glyphmill {

// The two colours black, white.
std::span<const TRGBQuad> StandardPalette2();
// The sixteen standard colours (black, maroon, green, ..., aqua, white).
std::span<const TRGBQuad> StandardPalette16();
// The default 256-colour table: the sixteen colours, twenty greys, four system colours and
// eighteen hue ramps of twelve colours.
std::span<const TRGBQuad> StandardPalette256();

// 1-bit → the two colours, 4-bit → the sixteen, 8-bit → the default 256-colour table; other
// formats unchanged.
void SetStandardPalette(TBitmap& bitmap);

// A palette list (colour values 0x00BBGGRR) becomes the bitmap's palette, one entry per item
// (padded with black to the format's palette size).
void ApplyPaletteList(TBitmap& bitmap, const TListLongint& list);

// When white is missing the entry nearest to white becomes white; then, when black is missing,
// the entry nearest to black becomes black (squared distance, first of equals).
void EnsureBlackAndWhite(TListLongint& list);

// Gives target (made 8-bit when it is not) a palette of the source palette's entries followed by
// the default table's colours not yet present; with ensure, black and white are made present.
void ExpandPaletteTo8Bit(TBitmap& target, std::span<const TRGBQuad> sourcePalette, bool ensure);

// Reduces source (any format; 24- and 32-bit read directly) to an 8-bit target of its size with
// its own palette of at most budget (at most 256) colours. With reserve, black is index 0 and
// white index 1. Pixels of a 32-bit source with alpha < threshold take the index of black.
// Source and target may be the same bitmap.
void ReduceTo8Bit(const TBitmap& source, TBitmap& target, bool reserve, int threshold, int budget);

// Converts source to an 8-bit target with one palette entry per distinct colour (black and white
// first with reserve). Returns false, leaving the target 8-bit but unfinished, when more than 256
// colours are needed. The rest of the 256 entries are filled from the default table (fillUp) or 0.
bool ExactPaletteConversion(const TBitmap& source, TBitmap& target, bool reserve, bool fillUp);

// Frees palette index 0 of a bitmap of at most 8 bits for transparency (merging the two closest
// entries when every index is used), gives it the colour (or, with NoColor, the smallest colour
// value absent from the palette) and moves every pixel whose mask pixel is white to it.
// Returns the transparent index, 0. Bitmaps without a palette are left alone.
int ReserveTransparentIndex(TBitmap& bitmap, const TBitmap* mask, TColor color);

// Converts source (with its mask, or none meaning all opaque) to targetFormat at the source's size.
// targetMask, when given, is always produced. Transparent pixels (alpha < threshold in a 32-bit
// source) come out black and white in the mask. Source and target must be different bitmaps.
void ConvertBitmapSameSize(const TBitmap& source, const TBitmap* sourceMask, TBitmap& target, TBitmap* targetMask,
                           TPixelFormat targetFormat, int threshold);

}  // namespace glyphmill
