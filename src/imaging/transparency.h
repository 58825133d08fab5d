// Transparency and masks: finding the transparent colour of a picture and cutting it out, masks
// from alpha and alpha from masks (with their two thresholds), masks from two renderings, the fill
// rules (including 1-bit bitmaps) and the composition of semi-transparent pixels.
// A mask is a 1-bit bitmap with the palette black, white; white marks a transparent pixel.
// 32-bit pixels are the values 0xAARRGGBB; colours are TColor values 0x00BBGGRR.
#pragma once

#include <cstdint>

#include "platform/bitmap.h"

namespace glyphmill {

// The transparent colour of a picture for a transparency mode (0 none, 1 fixed colour, 2 left-top,
// 3 left-bottom, 4 right-top, 5 right-bottom corner): NoColor for mode 0, the given colour for mode 1,
// the colour of the mode's corner pixel for modes 2..5 (NoColor when the picture is 32-bit and that
// corner has alpha 0, or when the picture is empty). Modes above 5 keep the colour, except on a
// 32-bit picture, which gives NoColor. color receives the result, which is also returned.
TColor TransparencyColorForMode(const TBitmap& picture, int mode, TColor& color);

// A 32-bit picture without any non-zero alpha byte becomes 24-bit (colours kept).
void DropEmptyAlpha(TBitmap& picture);

// 32-bit picture: every pixel whose red, green and blue equal the colour becomes 0x00000000.
void ClearColor32(TBitmap& picture, TColor color);

// Makes the mask anew (picture's size, all black) and cuts the colour out: matching pixels become
// black and white in the mask. Exact match, no tolerance; NoColor cuts nothing. On a 32-bit
// picture matching pixels become 0x00000000 and the other pixels keep their alpha.
void MaskFromColor(TColor color, TBitmap& picture, TBitmap& mask);
// As MaskFromColor, but the existing mask is kept and only added to. A mask of another size than
// the picture is made anew first.
void AddColorToMask(TColor color, TBitmap& picture, TBitmap& mask);

// Mask from the alpha of a 32-bit picture: transparent where alpha <= threshold. Unless keep is
// set the mask is first made the picture's size and all black; with keep only white is added.
void MaskFromAlpha(const TBitmap& picture, TBitmap& mask, int threshold, bool keep = false);
// Mask from the alpha of a 32-bit picture: white where alpha < threshold, black elsewhere.
// Other pictures leave the mask alone.
void MaskFromAlphaBelow(const TBitmap& picture, TBitmap& mask, int threshold);
// 32-bit source to a 24-bit target of its size and (when given) a mask: pixels with
// alpha < threshold become black (white when keepWhite is set and the pixel is 0x00FFFFFF) and
// white in the mask; the others keep their colour and are black in the mask.
void To24BitWithMask(const TBitmap& source, TBitmap& target, TBitmap* mask, bool keepWhite, int threshold);
// After a 32-bit source was converted into target (same size, any format): pixels with
// alpha < threshold are recoloured black (white under the keepWhite rule) and white in the mask
// (when given); the mask is black elsewhere.
void ApplyAlphaMask(const TBitmap& source, TBitmap& target, TBitmap* mask, bool keepWhite, int threshold);

// A copy of the source mask as a width × height mask, or, without one, an all-black (all opaque)
// mask; a source mask of another size is copied over the area both cover.
void CopyMaskOrOpaque(const TBitmap* sourceMask, TBitmap& mask, int width, int height);

// Sets the alpha bytes of a 32-bit picture: 0 where the mask (when given) is not black, alpha elsewhere.
void AlphaFromMask(TBitmap& picture, const TBitmap* mask, uint8_t alpha);

// Two renderings of one picture over black and over white: a pixel is transparent when their blue
// bytes differ, or when both their green and their red bytes differ. The mask is made the kept
// rendering's size; transparent pixels are white in it and black in the kept rendering.
void MaskFromTwoRenderings(TBitmap& kept, const TBitmap& other, TBitmap& mask);

// Fills: 1-bit and 24-bit bitmaps filled with black or white have every byte of their pixel data set
// (0x00 or 0xFF, padding included); other cases go through FillRectColor. On a 1-bit bitmap every
// pixel takes the nearer of black and white.
void FillBitmap(TBitmap& bitmap, TColor color);
void FillRectColor(TBitmap& bitmap, TColor color, TRect rect);
void SizeAndFill(TBitmap& bitmap, int width, int height, TColor color);

// Composes the 32-bit pixel upper over lower (both 0xAARRGGBB, not premultiplied).
uint32_t BlendPixel(uint32_t upper, uint32_t lower);
// Every pixel of a 32-bit picture becomes BlendPixel(pixel, lower); other formats are left alone.
void BlendOverColor(TBitmap& picture, uint32_t lower);
// The 32-bit picture composed over an opaque colour into target (of the picture's size; 24-bit,
// 32-bit with alpha 255, or any other format through its canvas).
void ComposeOverColor(const TBitmap& picture, TBitmap& target, TColor color);
// The 32-bit picture composed over the target's own pixels, over the area both cover from (0, 0).
void ComposeOver(const TBitmap& picture, TBitmap& target);

}  // namespace glyphmill
