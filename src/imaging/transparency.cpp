#include "imaging/transparency.h"

#include <algorithm>
#include <cstring>

#include "imaging/bitmaptools.h"
#include "imaging/blendtable.h"

namespace glyphmill {

namespace {

// Transparency modes of the conversion options.
constexpr int ModeNone = 0, ModeFixedColor = 1, ModeLeftTop = 2, ModeLeftBottom = 3, ModeRightTop = 4,
              ModeRightBottom = 5;

constexpr TColor Black = 0x000000;
constexpr TColor White = 0xFFFFFF;

// Colours carry no system-colour constants here; only the RGB bytes take part in a match.
inline TColor ToRGB(TColor color) { return color & 0xFFFFFF; }

inline bool MatchesBGR(const uint8_t* pixel, TColor color) {
  return pixel[0] == GetBValue(color) && pixel[1] == GetGValue(color) && pixel[2] == GetRValue(color);
}

inline void SetBit(uint8_t* row, int x) { row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7)); }
inline bool GetBit(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// Makes the mask a width × height monochrome bitmap (black, white palette) with every pixel black.
void PrepareMask(TBitmap& mask, int width, int height) {
  MakeMonochrome(&mask);
  mask.SetSize(width, height);
  if (mask.BitsSize() > 0) std::memset(mask.Bits(), 0, mask.BitsSize());
}

bool IsMaskOfSize(const TBitmap& mask, int width, int height) {
  return mask.PixelFormat() == pf1bit && mask.Width() == width && mask.Height() == height &&
         mask.Palette().size() == 2 && QuadToColor(mask.Palette()[0]) == Black &&
         QuadToColor(mask.Palette()[1]) == White;
}

// Reads "is this mask pixel transparent (not black)" for any mask format; outside the mask a pixel
// counts as opaque.
class TMaskReader {
public:
  explicit TMaskReader(const TBitmap* mask) : FMask(mask) {
    if (FMask && FMask->PixelFormat() == pf1bit)
      for (size_t i = 0; i < 2 && i < FMask->Palette().size(); ++i)
        FTransparent[i] = QuadToColor(FMask->Palette()[i]) != Black;
  }
  bool Transparent(int x, int y) const {
    if (!FMask || x >= FMask->Width() || y >= FMask->Height()) return false;
    if (FMask->PixelFormat() == pf1bit) return FTransparent[GetBit(FMask->ScanLine(y), x)];
    return ToRGB(FMask->GetPixel(x, y)) != Black;
  }

private:
  const TBitmap* FMask;
  bool FTransparent[2] = {false, true};
};

// Writes colour into pixel x of a row of any format, with the palette index chosen once.
class TPixelWriter {
public:
  TPixelWriter(TBitmap& bitmap, TColor color) : FBitmap(bitmap), FColor(color) {
    if (bitmap.PaletteCapacity() > 0) FIndex = bitmap.NearestIndex(color);
  }
  void Write(int x, int y) {
    if (FIndex >= 0)
      FBitmap.SetIndex(x, y, FIndex);
    else
      FBitmap.SetPixel(x, y, FColor);
  }

private:
  TBitmap& FBitmap;
  TColor FColor;
  int FIndex = -1;
};

// Cuts the colour out of the picture, marking the cut pixels white in a mask of the picture's size.
void CutColor(TColor color, TBitmap& picture, TBitmap& mask) {
  const int width = picture.Width(), height = picture.Height();
  if (picture.Empty()) return;
  const TPixelFormat format = picture.PixelFormat();
  if (format == pf32bit || format == pf24bit) {
    const int bytes = format == pf32bit ? 4 : 3;
    for (int y = 0; y < height; ++y) {
      uint8_t* row = picture.ScanLine(y);
      uint8_t* maskRow = mask.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        uint8_t* pixel = row + x * bytes;
        if (MatchesBGR(pixel, color)) {
          std::memset(pixel, 0, static_cast<size_t>(bytes));
          SetBit(maskRow, x);
        }
      }
    }
    return;
  }
  // Other formats are worked on in 24 bits and copied back, the platform mapping the colours.
  TBitmap copy = CopyTo24Bit(picture);
  CutColor(color, copy, mask);
  picture.Draw(0, 0, copy);
}

void MaskFromAlphaCompare(const TBitmap& picture, TBitmap& mask, int threshold, bool inclusive) {
  for (int y = 0; y < picture.Height(); ++y) {
    const uint8_t* row = picture.ScanLine(y);
    uint8_t* maskRow = mask.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x) {
      const int alpha = row[4 * x + 3];
      if (inclusive ? alpha <= threshold : alpha < threshold) SetBit(maskRow, x);
    }
  }
}

inline uint8_t ClampByte(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

// cB + a × cP / 255 − a × cB / 255: an opaque background channel under a picture channel.
inline uint8_t OverOpaque(int background, int picture, int alpha) {
  return ClampByte(background + alpha * picture / 255 - alpha * background / 255);
}

}  // namespace

TColor TransparencyColorForMode(const TBitmap& picture, int mode, TColor& color) {
  const bool is32 = picture.PixelFormat() == pf32bit;
  int x = 0, y = 0;
  switch (mode) {
    case ModeNone: color = NoColor; return color;
    case ModeFixedColor: return color;
    case ModeLeftTop: break;
    case ModeLeftBottom: y = picture.Height() - 1; break;
    case ModeRightTop: x = picture.Width() - 1; break;
    case ModeRightBottom:
      x = picture.Width() - 1;
      y = picture.Height() - 1;
      break;
    default:
      if (is32) color = NoColor;
      return color;
  }
  if (picture.Empty() || (is32 && picture.ScanLine(y)[4 * x + 3] == 0))
    color = NoColor;
  else
    color = picture.GetPixel(x, y);
  return color;
}

void DropEmptyAlpha(TBitmap& picture) {
  if (picture.PixelFormat() != pf32bit) return;
  for (int y = 0; y < picture.Height(); ++y) {
    const uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x)
      if (row[4 * x + 3] != 0) return;
  }
  picture.SetPixelFormat(pf24bit);
}

void ClearColor32(TBitmap& picture, TColor color) {
  if (color == NoColor || picture.PixelFormat() != pf32bit) return;
  color = ToRGB(color);
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x)
      if (MatchesBGR(row + 4 * x, color)) std::memset(row + 4 * x, 0, 4);
  }
}

void MaskFromColor(TColor color, TBitmap& picture, TBitmap& mask) {
  PrepareMask(mask, picture.Width(), picture.Height());
  if (color == NoColor) return;
  CutColor(ToRGB(color), picture, mask);
}

void AddColorToMask(TColor color, TBitmap& picture, TBitmap& mask) {
  if (!IsMaskOfSize(mask, picture.Width(), picture.Height())) PrepareMask(mask, picture.Width(), picture.Height());
  if (color == NoColor) return;
  CutColor(ToRGB(color), picture, mask);
}

void MaskFromAlpha(const TBitmap& picture, TBitmap& mask, int threshold, bool keep) {
  if (!keep || !IsMaskOfSize(mask, picture.Width(), picture.Height()))
    PrepareMask(mask, picture.Width(), picture.Height());
  if (picture.PixelFormat() == pf32bit) MaskFromAlphaCompare(picture, mask, threshold, true);
}

void MaskFromAlphaBelow(const TBitmap& picture, TBitmap& mask, int threshold) {
  if (picture.PixelFormat() != pf32bit) return;
  PrepareMask(mask, picture.Width(), picture.Height());
  MaskFromAlphaCompare(picture, mask, threshold, false);
}

void To24BitWithMask(const TBitmap& source, TBitmap& target, TBitmap* mask, bool keepWhite, int threshold) {
  const int width = source.Width(), height = source.Height();
  if (mask) PrepareMask(*mask, width, height);
  if (source.PixelFormat() != pf32bit) {
    TBitmap copy = CopyTo24Bit(source);
    target = std::move(copy);
    return;
  }
  TBitmap result;
  result.SetPixelFormat(pf24bit);
  result.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = source.ScanLine(y);
    uint8_t* out = result.ScanLine(y);
    uint8_t* maskRow = mask ? mask->ScanLine(y) : nullptr;
    for (int x = 0; x < width; ++x, row += 4, out += 3) {
      if (row[3] < threshold) {
        const uint8_t fill = keepWhite && row[0] == 255 && row[1] == 255 && row[2] == 255 && row[3] == 0 ? 255 : 0;
        out[0] = out[1] = out[2] = fill;
        if (maskRow) SetBit(maskRow, x);
      } else {
        out[0] = row[0];
        out[1] = row[1];
        out[2] = row[2];
      }
    }
  }
  target = std::move(result);
}

void ApplyAlphaMask(const TBitmap& source, TBitmap& target, TBitmap* mask, bool keepWhite, int threshold) {
  const int width = std::min(source.Width(), target.Width());
  const int height = std::min(source.Height(), target.Height());
  if (mask) PrepareMask(*mask, target.Width(), target.Height());
  if (source.PixelFormat() != pf32bit) return;
  const bool is24 = target.PixelFormat() == pf24bit;
  TPixelWriter black(target, Black), white(target, White);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = source.ScanLine(y);
    uint8_t* out = target.ScanLine(y);
    uint8_t* maskRow = mask ? mask->ScanLine(y) : nullptr;
    for (int x = 0; x < width; ++x) {
      const uint8_t* pixel = row + 4 * x;
      if (pixel[3] >= threshold) continue;
      const bool whitePixel = keepWhite && pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255 && pixel[3] == 0;
      if (is24)
        std::memset(out + 3 * x, whitePixel ? 255 : 0, 3);
      else
        (whitePixel ? white : black).Write(x, y);
      if (maskRow) SetBit(maskRow, x);
    }
  }
}

void CopyMaskOrOpaque(const TBitmap* sourceMask, TBitmap& mask, int width, int height) {
  if (sourceMask == &mask && IsMaskOfSize(mask, width, height)) return;
  if (sourceMask && IsMaskOfSize(*sourceMask, width, height)) {
    mask.Assign(*sourceMask);
    return;
  }
  const TBitmap copy = sourceMask ? *sourceMask : TBitmap();
  const TMaskReader reader(sourceMask ? &copy : nullptr);
  PrepareMask(mask, width, height);
  if (!sourceMask) return;
  for (int y = 0; y < std::min(height, copy.Height()); ++y) {
    uint8_t* maskRow = mask.ScanLine(y);
    for (int x = 0; x < std::min(width, copy.Width()); ++x)
      if (reader.Transparent(x, y)) SetBit(maskRow, x);
  }
}

void AlphaFromMask(TBitmap& picture, const TBitmap* mask, uint8_t alpha) {
  if (picture.PixelFormat() != pf32bit) return;
  const TMaskReader reader(mask);
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x) row[4 * x + 3] = reader.Transparent(x, y) ? 0 : alpha;
  }
}

void MaskFromTwoRenderings(TBitmap& kept, const TBitmap& other, TBitmap& mask) {
  PrepareMask(mask, kept.Width(), kept.Height());
  const int width = std::min(kept.Width(), other.Width());
  const int height = std::min(kept.Height(), other.Height());
  const bool direct = kept.PixelFormat() == pf24bit && other.PixelFormat() == pf24bit;
  TPixelWriter black(kept, Black);
  for (int y = 0; y < height; ++y) {
    uint8_t* keptRow = kept.ScanLine(y);
    const uint8_t* otherRow = other.ScanLine(y);
    uint8_t* maskRow = mask.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      bool transparent;
      if (direct) {
        const uint8_t* a = keptRow + 3 * x;
        const uint8_t* b = otherRow + 3 * x;
        transparent = a[0] != b[0] || (a[1] != b[1] && a[2] != b[2]);
      } else {
        const TColor a = kept.GetPixel(x, y), b = other.GetPixel(x, y);
        transparent = GetBValue(a) != GetBValue(b) || (GetGValue(a) != GetGValue(b) && GetRValue(a) != GetRValue(b));
      }
      if (!transparent) continue;
      if (direct)
        std::memset(keptRow + 3 * x, 0, 3);
      else
        black.Write(x, y);
      SetBit(maskRow, x);
    }
  }
}

void FillBitmap(TBitmap& bitmap, TColor color) {
  if (color == NoColor) return;
  color = ToRGB(color);
  const TPixelFormat format = bitmap.PixelFormat();
  if ((format == pf1bit || format == pf24bit) && (color == Black || color == White)) {
    if (bitmap.BitsSize() > 0) std::memset(bitmap.Bits(), color == Black ? 0x00 : 0xFF, bitmap.BitsSize());
    return;
  }
  FillRectColor(bitmap, color, Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void FillRectColor(TBitmap& bitmap, TColor color, TRect rect) {
  if (color == NoColor) return;
  // The canvas clips the rectangle and, on 1-bit bitmaps, picks black or white for every pixel.
  bitmap.FillRect(rect, ToRGB(color));
}

void SizeAndFill(TBitmap& bitmap, int width, int height, TColor color) {
  bitmap.SetSize(width, height);
  FillBitmap(bitmap, color);
}

uint32_t BlendPixel(uint32_t upper, uint32_t lower) {
  const uint32_t upperAlpha = upper >> 24, lowerAlpha = lower >> 24;
  if (upperAlpha == 255 || lowerAlpha == 0) return upper;
  if (upperAlpha == 0) return lower;
  const int aU = static_cast<int>(upperAlpha), aL = static_cast<int>(lowerAlpha);
  const uint32_t alpha = static_cast<uint8_t>(aU + aL - aU * aL / 255);
  uint32_t result = alpha << 24;
  if (aL == 255) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int cU = static_cast<int>((upper >> shift) & 0xFF), cL = static_cast<int>((lower >> shift) & 0xFF);
      result |= static_cast<uint32_t>(static_cast<uint8_t>(cL + (cU - cL) * aU / 255)) << shift;
    }
    return result;
  }
  const int w = BlendTable()[aL * 256 + aU];
  for (int shift = 0; shift < 24; shift += 8) {
    const int cU = static_cast<int>((upper >> shift) & 0xFF), cL = static_cast<int>((lower >> shift) & 0xFF);
    result |= static_cast<uint32_t>(static_cast<uint8_t>((cU * w + cL * (255 - w)) / 255)) << shift;
  }
  return result;
}

void BlendOverColor(TBitmap& picture, uint32_t lower) {
  if (picture.PixelFormat() != pf32bit) return;
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, row + 4 * x, 4);
      pixel = BlendPixel(pixel, lower);
      std::memcpy(row + 4 * x, &pixel, 4);
    }
  }
}

void ComposeOverColor(const TBitmap& picture, TBitmap& target, TColor color) {
  color = ToRGB(color);
  if (picture.PixelFormat() != pf32bit) {
    target.Draw(0, 0, picture);
    return;
  }
  const int width = std::min(picture.Width(), target.Width());
  const int height = std::min(picture.Height(), target.Height());
  const int bB = GetBValue(color), bG = GetGValue(color), bR = GetRValue(color);
  const TPixelFormat format = target.PixelFormat();
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = picture.ScanLine(y);
    uint8_t* out = target.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = row + 4 * x;
      const int a = p[3];
      const uint8_t b = OverOpaque(bB, p[0], a), g = OverOpaque(bG, p[1], a), r = OverOpaque(bR, p[2], a);
      if (format == pf24bit) {
        out[3 * x] = b;
        out[3 * x + 1] = g;
        out[3 * x + 2] = r;
      } else if (format == pf32bit) {
        out[4 * x] = b;
        out[4 * x + 1] = g;
        out[4 * x + 2] = r;
        out[4 * x + 3] = 255;
      } else {
        target.SetPixel(x, y, RGBColor(r, g, b));
      }
    }
  }
}

void ComposeOver(const TBitmap& picture, TBitmap& target) {
  if (picture.PixelFormat() != pf32bit) {
    target.Draw(0, 0, picture);
    return;
  }
  const int width = std::min(picture.Width(), target.Width());
  const int height = std::min(picture.Height(), target.Height());
  const TPixelFormat format = target.PixelFormat();
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = picture.ScanLine(y);
    uint8_t* out = target.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = row + 4 * x;
      const int a = p[3];
      if (format == pf32bit) {
        uint32_t upper, lower;
        std::memcpy(&upper, p, 4);
        std::memcpy(&lower, out + 4 * x, 4);
        lower = BlendPixel(upper, lower);
        std::memcpy(out + 4 * x, &lower, 4);
      } else if (format == pf24bit) {
        uint8_t* t = out + 3 * x;
        t[0] = OverOpaque(t[0], p[0], a);
        t[1] = OverOpaque(t[1], p[1], a);
        t[2] = OverOpaque(t[2], p[2], a);
      } else {
        const TColor under = target.GetPixel(x, y);
        target.SetPixel(x, y,
                        RGBColor(OverOpaque(GetRValue(under), p[2], a), OverOpaque(GetGValue(under), p[1], a),
                                 OverOpaque(GetBValue(under), p[0], a)));
      }
    }
  }
}

}  // namespace glyphmill
