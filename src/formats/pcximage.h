// PCX pictures: the 128-byte header, its palettes (header, version 3 standard, grey, the trailing
// 256-colour block), run-length rows and the plane layouts, read into an ordinary bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "formats/colormanager.h"
#include "platform/bitmap.h"
#include "platform/picture.h"

namespace glyphmill {

// The PCX run-length decoder: a byte of 192 or more repeats the next byte (its low 6 bits) times,
// any other byte stands for itself. Runs may cross the ends of the rows it is asked for.
class TPCXRLEDecoder {
public:
  explicit TPCXRLEDecoder(std::span<const uint8_t> source) : FSource(source) {}
  // Fills target from where the last call stopped; returns the bytes written (fewer when the
  // source runs out).
  size_t Decode(std::span<uint8_t> target);

private:
  std::span<const uint8_t> FSource;
  size_t FPosition = 0;
  size_t FPendingCount = 0;
  uint8_t FPendingValue = 0;
};

class TPCXImage {
public:
  // A manufacturer byte other than 10 or 205 leaves the picture empty without an error. A header
  // cut short or pixel data that could never fill the picture fails with "Stream read error",
  // a plane layout without a pixel format with "Invalid Color Format", a bad sample layout with the
  // colour manager's messages. Pixel data that ends early leaves the rest of the picture 0.
  void LoadFromBytes(std::span<const uint8_t> bytes);
  void LoadFromFile(const std::string& fileName);

  // 1-bit (black, white), 4-bit, 8-bit, 24-bit, or 32-bit for 4 planes of 8 bits (the fourth
  // plane as alpha).
  const TBitmap& Bitmap() const { return FBitmap; }
  TBitmap& Bitmap() { return FBitmap; }

  int Width() const { return FBitmap.Width(); }
  int Height() const { return FBitmap.Height(); }
  int BitsPerSample() const { return FBitsPerSample; }
  int SamplesPerPixel() const { return FSamplesPerPixel; }
  int BitsPerPixel() const { return FBitsPerPixel; }
  TColorScheme ColorScheme() const { return FColorScheme; }
  bool RunLength() const { return FRunLength; }
  double HorizontalResolution() const { return FHorizontalResolution; }
  double VerticalResolution() const { return FVerticalResolution; }
  const TColorManager& ColorManager() const { return FColorManager; }

private:
  TBitmap FBitmap;
  int FBitsPerSample = 0;
  int FSamplesPerPixel = 0;
  uint8_t FBitsPerPixel = 0;
  TColorScheme FColorScheme = TColorScheme::Indexed;
  bool FRunLength = false;
  double FHorizontalResolution = 0;
  double FVerticalResolution = 0;
  TColorManager FColorManager;
};

// Picture-registry loader for "pcx"; a 32-bit result draws with its alpha.
std::unique_ptr<TGraphic> LoadPcxGraphic(std::span<const uint8_t> bytes);

}  // namespace glyphmill
