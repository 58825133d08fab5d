// The small bitmap toolbox the imaging layer is written with: monochrome bitmaps with the
// black/white palette, 32-bit fills and copies that never write outside a bitmap, and the
// conversion of a picture plus mask into a 32-bit picture with alpha.
// 32-bit values are pixels as a little-endian integer reads them: 0xAARRGGBB.
#pragma once

#include <cstdint>

#include "platform/bitmap.h"

namespace glyphmill {

// Makes the bitmap a 1 × 1 1-bit bitmap with the palette black, white (pixel white). Null is ignored.
void MakeMonochrome(TBitmap* bitmap);
TBitmap NewMonochromeBitmap();
// Format 1 goes through MakeMonochrome, any other format is set directly; then the size is set.
// Pixels are not filled.
void SetFormatAndSize(TBitmap& bitmap, int width, int height, TPixelFormat format);
// A new bitmap of that format and size. Format 1: black/white palette, filled with the colour
// (black or white, whichever is nearer) unless NoColor. Format 7: every pixel holds fill as a
// 32-bit value (so NoColor stores 0x1FFFFFFF). Other formats: the colour is the brush that fills
// the new area unless NoColor; format 0 keeps the device format.
TBitmap CreateFilledBitmap(TPixelFormat format, int width, int height, TColor fill);

TBitmap NewBitmap32(int width, int height);
// Sets the 32-bit format and stores value in every pixel.
void FillBitmap32(TBitmap& bitmap, uint32_t value);
// Stores value in every pixel of rect clipped to the bitmap (a 32-bit bitmap).
void FillRect32(TBitmap& bitmap, uint32_t value, TRect rect);
void SizeAndFill32(TBitmap& bitmap, int width, int height, uint32_t value);
// Copies the pixels of sourceRect to (x, y) onwards; only pixels inside the source whose target
// position lies inside the target are copied. Both bitmaps are 32-bit.
void CopyRect32(const TBitmap& source, TBitmap& target, TRect sourceRect, int x, int y);
void PlaceBitmap32(const TBitmap& source, TBitmap& target, int x, int y);
// The 32-bit value at (x, y); 0 outside the bitmap. Bitmaps of other formats give their colour
// there as an opaque pixel.
uint32_t GetPixel32(const TBitmap& bitmap, int x, int y);
// A new 24-bit bitmap holding the picture.
TBitmap CopyTo24Bit(const TBitmap& bitmap);
// Makes target a 32-bit bitmap of the source's size. A 32-bit source is copied as it is. With a
// mask, white mask pixels become 0x00FFFFFF where the source is white and 0x00000000 elsewhere,
// other pixels the source colour with alpha 255; without a mask every pixel gets alpha 255.
// Source and target may be the same bitmap; a source of width 0 changes nothing.
void CombineTo32Bit(const TBitmap& source, const TBitmap* mask, TBitmap& target);

}  // namespace glyphmill
