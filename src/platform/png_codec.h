// PNG pictures over libpng: decoding of every colour type, bit depth and interlacing into a TBitmap
// with its alpha, the header and palette facts the picture readers need, and encoding of bitmaps
// (32-bit with alpha, palette bitmaps with one fully transparent index, and the other formats).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "support/streams.h"

namespace glyphmill {

// PNG colour types as IHDR stores them.
enum TPngColorType : int {
  pctGrey = 0,
  pctRGB = 2,
  pctPalette = 3,
  pctGreyAlpha = 4,
  pctRGBA = 6,
};

// The IHDR facts of a decoded (or assigned) picture.
struct TPngHeader {
  uint32_t FWidth = 0;
  uint32_t FHeight = 0;
  int FBitDepth = 0;
  int FColorType = 0;
  bool FInterlaced = false;
};

// The first 8 bytes of every PNG stream.
inline constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// True when the bytes start with the PNG signature.
bool HasPngSignature(std::span<const uint8_t> bytes);

struct TPngInput;

class TPNGImage {
public:
  // Decoding. A stream that is not a valid PNG fails with EReadError "Invalid PNG image: <reason>";
  // a picture above the pixel cap fails before any pixel memory is allocated. On failure the
  // image keeps its previous contents. LoadFromStream leaves the stream just after IEND.
  void LoadFromBytes(std::span<const uint8_t> bytes);
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);

  // Encoding source. 32-bit bitmaps become RGBA, 24-bit RGB, 1/4/8-bit palette images of that bit
  // depth (with transparentIndex >= 0 a tRNS chunk makes that index fully transparent and every
  // other index opaque); 15/16-bit and device bitmaps are written as RGB.
  void Assign(const TBitmap& bitmap, int transparentIndex = -1);
  void SaveToStream(TStream& stream) const;
  std::vector<uint8_t> SaveToBytes() const;
  void SaveToFile(const std::string& fileName) const;

  const TPngHeader& Header() const { return FHeader; }
  int Width() const { return FBitmap.Width(); }
  int Height() const { return FBitmap.Height(); }
  bool Empty() const { return FBitmap.Empty(); }

  // Palette images: the file's PLTE entries with their exact count; empty for other colour types.
  const std::vector<TRGBQuad>& Palette() const { return FPalette; }
  // Palette images with a tRNS chunk: the alpha of every palette entry (as long as Palette(),
  // 255 for entries the chunk does not cover); empty without the chunk or for other colour types.
  const std::vector<uint8_t>& PaletteAlpha() const { return FPaletteAlpha; }
  // True when the file carries a tRNS chunk (any colour type).
  bool HasTransparencyChunk() const { return FHasTransparencyChunk; }
  // True for grey-and-alpha and RGBA images and for images with a tRNS chunk.
  bool HasAlpha() const;

  // The decoded picture in working form:
  // - palette images: 8-bit, palette = Palette() (padded with black to 256), one index per pixel;
  // - grey without tRNS: 8-bit with the 256-step grey palette (1/2/4-bit grey scaled up);
  // - grey with alpha or tRNS, RGB with tRNS, RGBA: 32-bit with alpha (grey in all three channels);
  // - RGB without tRNS: 24-bit.
  // 16-bit samples are scaled to 8 bits.
  const TBitmap& Bitmap() const { return FBitmap; }
  // The picture as the codec hands it to a bitmap: as Bitmap(), except that palette images of bit
  // depth 1 become 1-bit and of bit depth 2 or 4 become 4-bit bitmaps (same indexes and palette).
  void AssignTo(TBitmap& target) const;

private:
  void LoadFrom(TPngInput& input);

  TPngHeader FHeader;
  TBitmap FBitmap;
  std::vector<TRGBQuad> FPalette;
  std::vector<uint8_t> FPaletteAlpha;
  bool FHasTransparencyChunk = false;
};

}  // namespace glyphmill
