// The generic picture object: a registry from lower-case file extension to a loader that turns a
// file's bytes into a drawable picture. The platform's own codecs (BMP, GIF, PNG, JPEG, TIFF,
// JPEG 2000) are registered from the start; readers of higher layers (icons, cursors, metafiles,
// PSD, PCX, WBMP, XPM, XBM, animated cursors, icon projects) register themselves at program
// start-up through RegisterPictureFormat.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/bitmap.h"

namespace glyphmill {

// A loaded picture: its natural size and how it draws onto a bitmap.
class TGraphic {
public:
  virtual ~TGraphic() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Draws the picture stretched into rect (clipped to target) over what target holds there.
  // Transparent parts leave the target's pixels; a 32-bit target keeps its alpha bytes.
  virtual void Draw(TBitmap& target, TRect rect) const = 0;
};

// A raster picture: a bitmap of any format, with either a mask (1-bit, white = transparent) or,
// for a 32-bit bitmap, its alpha (straight, not premultiplied), or neither (opaque).
// Stretching picks the nearest pixel.
class TBitmapGraphic : public TGraphic {
public:
  explicit TBitmapGraphic(TBitmap bitmap, bool useAlpha = false);
  TBitmapGraphic(TBitmap bitmap, TBitmap mask);

  int Width() const override { return FBitmap.Width(); }
  int Height() const override { return FBitmap.Height(); }
  void Draw(TBitmap& target, TRect rect) const override;

  const TBitmap& Bitmap() const { return FBitmap; }
  // The mask, or null when the picture has none.
  const TBitmap* Mask() const { return FHasMask ? &FMask : nullptr; }
  bool UsesAlpha() const { return FUseAlpha; }

private:
  TBitmap FBitmap;
  TBitmap FMask;
  bool FHasMask = false;
  bool FUseAlpha = false;
};

using TPictureLoader = std::function<std::unique_ptr<TGraphic>(std::span<const uint8_t> bytes)>;

// Registers (or replaces) the loader of an extension, given without the dot in any letter case.
void RegisterPictureFormat(const std::string& extension, TPictureLoader loader);
bool IsPictureFormatRegistered(const std::string& extension);

// The lower-cased text after the last "." of the file-name part, or empty when there is none.
std::string PictureExtension(const std::string& fileName);

// Loads by extension. An extension nobody knows fails with EReadError
// "Unknown picture file extension (.%s)"; one of the generic picture object's formats whose reader
// is not registered fails with EReadError "No reader for picture file extension (.%s)".
// Readers fail with their own errors.
std::unique_ptr<TGraphic> LoadPicture(std::span<const uint8_t> bytes, const std::string& extension);
std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName);

}  // namespace glyphmill
