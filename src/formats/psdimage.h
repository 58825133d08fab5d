// Photoshop documents (.psd, .pdd): the merged image of every colour mode and depth the
// conversion meets becomes an ordinary bitmap; layer records are read and kept beside it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/picture.h"

namespace glyphmill {

// The 26-byte file header; numbers in machine order.
struct TPSDHeader {
  std::array<char, 4> FSignature{};
  uint16_t FVersion = 0;
  std::array<uint8_t, 6> FReserved{};
  uint16_t FChannels = 0;
  uint32_t FHeight = 0;
  uint32_t FWidth = 0;
  uint16_t FDepth = 0;
  uint16_t FMode = 0;
};

// Colour modes of the header.
enum TPSDColorMode : uint16_t {
  psdBitmap = 0,
  psdGrayscale = 1,
  psdIndexed = 2,
  psdRGB = 3,
  psdCMYK = 4,
  psdDuotone = 8,
  psdLab = 9,
};

// PackBits: header h 0..127 copies h + 1 bytes, −127..−1 repeats the next byte 1 − h times,
// −128 does nothing. Decoding stops when the source is used up or the target is full.
class TPackbitsRLE {
public:
  // Returns the number of bytes written into target.
  static size_t Decode(std::span<const uint8_t> source, std::span<uint8_t> target);
};

struct TPSDChannelInfo {
  int16_t FId = 0;
  uint32_t FLength = 0;
};

// One layer record with the pixels of each of its channels ((right − left) × (bottom − top)
// bytes each; empty for an empty rectangle).
class TPSDLayer {
public:
  int32_t FTop = 0;
  int32_t FLeft = 0;
  int32_t FBottom = 0;
  int32_t FRight = 0;
  uint16_t FChannelCount = 0;
  std::vector<TPSDChannelInfo> FChannelInfo;
  std::array<char, 4> FBlendModeKey{'n', 'o', 'r', 'm'};
  uint8_t FOpacity = 255;
  uint8_t FClipping = 0;
  uint8_t FFlags = 0;
  std::vector<uint8_t> FExtraData;
  std::vector<std::vector<uint8_t>> FChannelData;
};

class TPSDImage {
public:
  // A wrong signature fails with "Invalid stream format", data that ends early with
  // "Stream read error", a depth the mode cannot hold with "Unsupported PSD depth (%d bits)".
  void LoadFromBytes(std::span<const uint8_t> bytes);
  void LoadFromFile(const std::string& fileName);

  // 1-bit (bitmap), 8-bit with palette (grey, duotone, indexed), 24-bit (RGB, CMYK, Lab) or
  // 32-bit with the fourth channel as alpha (RGB with 4 or more channels).
  const TBitmap& Bitmap() const { return FBitmap; }
  TBitmap& Bitmap() { return FBitmap; }
  const TPSDHeader& Header() const { return FHeader; }
  // 256 red values, then 256 green, then 256 blue (indexed documents only).
  const std::array<uint8_t, 768>& PaletteArea() const { return FPaletteArea; }
  const std::vector<TPSDLayer>& Layers() const { return FLayers; }

private:
  void ReadLayers(class TByteReader& reader);
  void ReadComposite(class TByteReader& reader);

  TPSDHeader FHeader;
  std::array<uint8_t, 768> FPaletteArea{};
  std::vector<TPSDLayer> FLayers;
  TBitmap FBitmap;
};

// Picture-registry loader for "psd" and "pdd": a 32-bit result draws with its alpha.
std::unique_ptr<TGraphic> LoadPsdGraphic(std::span<const uint8_t> bytes);

}  // namespace glyphmill
