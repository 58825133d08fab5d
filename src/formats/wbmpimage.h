// WAP bitmaps (WBMP type 0): a small header with multi-byte width and height, then rows of one bit
// per pixel, read into a black-and-white bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/bitmap.h"
#include "platform/picture.h"

namespace glyphmill {

class TWapBitmap {
public:
  // A non-zero type or fixed-header byte fails with "Invalid file header", a file cut short with
  // "Stream read error".
  void LoadFromBytes(std::span<const uint8_t> bytes);
  void LoadFromFile(const std::string& fileName);

  int Width() const { return FBitmap.Width(); }
  int Height() const { return FBitmap.Height(); }
  bool Empty() const { return FBitmap.Empty(); }
  // 1 bit per pixel, palette index 0 black, index 1 white.
  const TBitmap& Bitmap() const { return FBitmap; }
  TBitmap& Bitmap() { return FBitmap; }

private:
  TBitmap FBitmap;
};

// Picture-registry loader for "wbmp".
std::unique_ptr<TGraphic> LoadWbmpGraphic(std::span<const uint8_t> bytes);

}  // namespace glyphmill
