// TBitmap: the platform's device-independent bitmap, built here without a windowing system.
// Memory is an exact DIB: rows bottom-up, each padded to 4 bytes; 24-bit pixels are B, G, R and
// 32-bit pixels B, G, R, A (not premultiplied). Coordinates of every method are top-down.
// Canvas operations behave as GDI does on a DIB section: drawing onto 1/4/8-bit bitmaps maps each
// colour to the nearest palette entry (squared RGB distance, lowest index on ties, no dithering),
// and canvas writes into a 32-bit bitmap store alpha 0.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "support/streams.h"

namespace glyphmill {

// Pixel-format codes 0..7 as stored in a bitmap and passed between operations.
enum TPixelFormat : int {
  pfDevice = 0,
  pf1bit = 1,
  pf4bit = 2,
  pf8bit = 3,
  pf15bit = 4,
  pf16bit = 5,
  pf24bit = 6,
  pf32bit = 7,
};

// A colour value: red in the lowest byte (0x00BBGGRR).
using TColor = uint32_t;
// Means "no colour" wherever a colour may be absent.
inline constexpr TColor NoColor = 0x1FFFFFFF;

inline constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
inline constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c); }
inline constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>(c >> 8); }
inline constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>(c >> 16); }

// A palette entry as a DIB colour table stores it.
struct TRGBQuad {
  uint8_t Blue = 0;
  uint8_t Green = 0;
  uint8_t Red = 0;
  uint8_t Reserved = 0;
  bool operator==(const TRGBQuad&) const = default;
};
inline constexpr TColor QuadToColor(TRGBQuad q) { return RGBColor(q.Red, q.Green, q.Blue); }
inline constexpr TRGBQuad ColorToQuad(TColor c) { return TRGBQuad{GetBValue(c), GetGValue(c), GetRValue(c), 0}; }

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};
inline constexpr TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

// Bits per pixel of a format's memory layout (24 for pfDevice, 16 for both 15- and 16-bit).
int StorageBitsOfFormat(TPixelFormat format);

// ((width × bits + 31) and not 31) / 8: the byte length of one DIB row.
int RowBytes(int width, int bits);

class TBitmap {
public:
  TBitmap() = default;
  virtual ~TBitmap() = default;
  TBitmap(const TBitmap& other) { Assign(other); }
  TBitmap& operator=(const TBitmap& other) {
    Assign(other);
    return *this;
  }
  TBitmap(TBitmap&&) noexcept = default;
  TBitmap& operator=(TBitmap&&) noexcept = default;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  // Resizing keeps the overlapping top-left pixels and fills new pixels with the brush colour.
  // Sizes above the picture cap fail with EReadError.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, FHeight); }
  void SetHeight(int height) { SetSize(FWidth, height); }

  TPixelFormat PixelFormat() const { return FFormat; }
  // Converts the pixels. A device-dependent bitmap is held in 24-bit layout.
  // Entering a palette format sets that format's default palette.
  void SetPixelFormat(TPixelFormat format);
  // Bits per pixel of the memory layout (24 for pfDevice).
  int StorageBits() const;
  int RowByteCount() const { return RowBytes(FWidth, StorageBits()); }

  // The colour table: 2, 16 or 256 entries for palette formats (SetPalette truncates or pads with
  // black to the format's size); empty otherwise.
  const std::vector<TRGBQuad>& Palette() const { return FPalette; }
  void SetPalette(std::span<const TRGBQuad> palette);
  // Number of palette entries the format holds (0 for non-palette formats).
  int PaletteCapacity() const;

  // Row y counted from the top (memory row Height − 1 − y).
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  // The whole DIB pixel memory, bottom row first.
  uint8_t* Bits() { return FBits.data(); }
  const uint8_t* Bits() const { return FBits.data(); }
  size_t BitsSize() const { return FBits.size(); }

  // Canvas brush colour: fills new area on resize (default white).
  TColor BrushColor() const { return FBrushColor; }
  void SetBrushColor(TColor color) { FBrushColor = color; }

  // Canvas.Pixels: the pixel as a colour value (palette looked up); outside the bitmap gives NoColor
  // for reads and is ignored for writes.
  TColor GetPixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);
  // Palette index at (x, y) of a 1/4/8-bit bitmap (0 outside).
  int GetIndex(int x, int y) const;
  void SetIndex(int x, int y, int index);
  // Nearest palette entry of a 1/4/8-bit bitmap.
  int NearestIndex(TColor color) const;

  // Canvas.FillRect with a colour, clipped to the bitmap.
  void FillRect(TRect rect, TColor color);
  // Canvas.Draw: copies source pixels (converting colours) with the source's top-left at (x, y).
  void Draw(int x, int y, const TBitmap& source);
  // Canvas.StretchDraw: nearest-pixel scaling of the whole source into target.
  void StretchDraw(TRect target, const TBitmap& source);
  // Canvas.CopyRect: nearest-pixel copy of sourceRect of source into target.
  void CopyRect(TRect target, const TBitmap& source, TRect sourceRect);

  // Copies size, format, palette, brush and pixels.
  void Assign(const TBitmap& source);

  // BMP streams: every variant a user meets is read (1/4/8/16/24/32 bits, RLE4/RLE8, bit fields,
  // core headers, top-down rows); a malformed stream fails with "Bitmap image is not valid" and
  // leaves the bitmap unchanged. Save writes a BITMAPFILEHEADER + BITMAPINFOHEADER DIB.
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

private:
  void ConvertPixels(TPixelFormat format);
  // CopyRect without scaling between 24- and 32-bit layouts or equal direct formats; false when
  // the formats need the general path.
  bool CopyUnscaledDirect(TRect target, const TBitmap& source, TRect sourceRect);

  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FFormat = pfDevice;
  std::vector<TRGBQuad> FPalette;
  std::vector<uint8_t> FBits;
  TColor FBrushColor = 0x00FFFFFF;
};

// The default colour table the platform gives a bitmap entering a palette format.
std::vector<TRGBQuad> DefaultPalette(TPixelFormat format);

}  // namespace glyphmill
