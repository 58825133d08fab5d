// X Window System text pictures: XPM (a colour table and rows of pixel keys, plus the "P7 332"
// thumbnail form) into a 32-bit picture whose alpha is 0 where a pixel is transparent, and XBM
// (a C bit array) into a black-and-white picture with the mask of a companion ".mask" file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/bitmap.h"
#include "platform/picture.h"

namespace glyphmill {

// The colour names an XPM colour line may use, in table order (black, white, the X11 names in
// alphabetical order, teal), each with its colour value.
const std::vector<std::pair<std::string, TColor>>& XpmColorNames();

// The colour of an XPM colour specification as the pixel value 0xAARRGGBB: "none" is 0, every
// other specification has alpha 255; unknown names are black.
uint32_t XpmColorValue(std::string_view specification);

class TXPMImage {
public:
  // Fails with "Invalid XPM image data, err. 1" (no values line), "... err. 2" (values out of
  // range, or more pixels than the text could describe), "#END_OF_COMMENTS: not found" and
  // "... err. 3" (thumbnail form).
  void LoadFromBytes(std::span<const uint8_t> bytes);
  void LoadFromFile(const std::string& fileName);

  // 32-bit; alpha 0 marks transparent pixels (undefined keys and "None").
  const TBitmap& Bitmap() const { return FBitmap; }
  TBitmap& Bitmap() { return FBitmap; }
  // The text between the first "*" and "[]", trimmed, without a trailing "_xpm".
  const std::string& ImageName() const { return FImageName; }

private:
  void LoadThumbnail(std::string_view text);

  TBitmap FBitmap;
  std::string FImageName;
};

class TXBMImage {
public:
  // Reads fileName; when fileName + ".mask" exists it becomes the mask and every picture pixel
  // under a white mask pixel is inverted. Fails with "Zero file" (empty file), "Invalid XPM image
  // data, err. 4" (bad size) and "Invalid XPM image data, err. 5" (too many values).
  void LoadFromFile(const std::string& fileName);
  // One XBM text without a mask file; any old mask is dropped.
  void LoadFromBytes(std::span<const uint8_t> bytes);

  // 1 bit per pixel, palette index 0 black, index 1 white.
  const TBitmap& Bitmap() const { return FBitmap; }
  TBitmap& Bitmap() { return FBitmap; }
  // The mask (white = transparent), or null when no mask file was read.
  const TBitmap* Mask() const { return FHasMask ? &FMask : nullptr; }

private:
  TBitmap FBitmap;
  TBitmap FMask;
  bool FHasMask = false;
};

// Picture-registry loaders for "xpm" (drawn with its alpha) and "xbm" (no mask: the bytes carry no
// file name); LoadXbmGraphicFile also reads the ".mask" companion file.
std::unique_ptr<TGraphic> LoadXpmGraphic(std::span<const uint8_t> bytes);
std::unique_ptr<TGraphic> LoadXbmGraphic(std::span<const uint8_t> bytes);
std::unique_ptr<TGraphic> LoadXbmGraphicFile(const std::string& fileName);

}  // namespace glyphmill
