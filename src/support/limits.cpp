#include "support/limits.h"

#include "support/errors.h"

namespace glyphmill {

bool PictureSizeAllowed(int64_t width, int64_t height) {
  return width >= 0 && height >= 0 && width <= MaxPictureSide && height <= MaxPictureSide &&
         width * height <= MaxPicturePixels;
}

void CheckPictureSize(int64_t width, int64_t height) {
  if (!PictureSizeAllowed(width, height))
    throw EReadError(
        Format("Picture too large (%lld x %lld)", static_cast<long long>(width), static_cast<long long>(height)));
}

size_t CheckedMul(size_t a, size_t b) {
  size_t result = 0;
  if (__builtin_mul_overflow(a, b, &result)) throw EReadError("Size overflow");
  return result;
}

size_t CheckedAdd(size_t a, size_t b) {
  size_t result = 0;
  if (__builtin_add_overflow(a, b, &result)) throw EReadError("Size overflow");
  return result;
}

}  // namespace glyphmill
