// The one place that bounds what a reader may allocate: pixel caps and overflow-checked sizes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glyphmill {

// A picture above either cap is refused before any pixel memory is allocated.
inline constexpr int64_t MaxPictureSide = 16384;
inline constexpr int64_t MaxPicturePixels = 256LL * 1024 * 1024;

// True when width × height is a picture we are willing to hold.
bool PictureSizeAllowed(int64_t width, int64_t height);

// Throws EReadError("Picture too large (W x H)") unless PictureSizeAllowed.
void CheckPictureSize(int64_t width, int64_t height);

// a × b, or throws EReadError("Size overflow") when the product does not fit in size_t.
size_t CheckedMul(size_t a, size_t b);

// a + b, or throws EReadError("Size overflow").
size_t CheckedAdd(size_t a, size_t b);

}  // namespace glyphmill
