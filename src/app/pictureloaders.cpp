#include "app/pictureloaders.h"

#include <algorithm>
#include <array>
#include <vector>

#include "imaging/bitmaptools.h"
#include "imaging/colorreduction.h"
#include "imaging/transparency.h"
#include "platform/gif_codec.h"
#include "platform/jpeg_codec.h"
#include "platform/picture.h"
#include "platform/png_codec.h"
#include "platform/tiff_codec.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

constexpr TRGBQuad Black{0, 0, 0, 0};
constexpr TRGBQuad White{255, 255, 255, 0};

// The mask as a two-colour bitmap of the picture's size, all opaque.
void ResetMask(TBitmap& mask, int width, int height) {
  MakeMonochrome(&mask);
  mask.SetSize(width, height);
  FillBitmap(mask, 0);
}

void Take(TBitmapFix32& bitmap, TBitmap&& picture) { static_cast<TBitmap&>(bitmap) = std::move(picture); }

int FindEntry(std::span<const TRGBQuad> palette, TRGBQuad colour) {
  for (size_t i = 0; i < palette.size(); ++i)
    if (palette[i].Red == colour.Red && palette[i].Green == colour.Green && palette[i].Blue == colour.Blue)
      return static_cast<int>(i);
  return -1;
}

// Palette PNGs: per-entry transparency decides the mask; partial transparency makes the picture
// 32-bit; transparent pixels take the palette's black, and a palette without black is rebuilt.
void ConvertPalettePng(const TPNGImage& png, TBitmapFix32& bitmap, TBitmap& mask, int threshold) {
  const TBitmap& indexed = png.Bitmap();
  const int width = indexed.Width(), height = indexed.Height();
  const std::vector<TRGBQuad>& filePalette = png.Palette();
  std::vector<uint8_t> alphas(256, 255);
  std::copy(png.PaletteAlpha().begin(), png.PaletteAlpha().end(), alphas.begin());

  const bool partial =
      std::any_of(png.PaletteAlpha().begin(), png.PaletteAlpha().end(), [](uint8_t a) { return a > 0 && a < 255; });
  if (partial) {
    TBitmap full;
    full.SetPixelFormat(pf32bit);
    full.SetSize(width, height);
    const std::vector<TRGBQuad>& palette = indexed.Palette();
    for (int y = 0; y < height; ++y) {
      const uint8_t* source = indexed.ScanLine(y);
      uint8_t* target = full.ScanLine(y);
      for (int x = 0; x < width; ++x, target += 4) {
        const TRGBQuad entry = palette[source[x]];
        target[0] = entry.Blue;
        target[1] = entry.Green;
        target[2] = entry.Red;
        target[3] = alphas[source[x]];
        if (target[3] < threshold) mask.SetIndex(x, y, 1);
      }
    }
    Take(bitmap, std::move(full));
    return;
  }

  TBitmap picture = indexed;
  const int black = FindEntry(filePalette, Black);
  bool anyTransparent = false;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      if (alphas[row[x]] >= threshold) continue;
      anyTransparent = true;
      mask.SetIndex(x, y, 1);
      if (black >= 0) row[x] = static_cast<uint8_t>(black);
    }
  }
  if (anyTransparent && black < 0) {
    // Reduce a 24-bit copy with its transparent pixels black; the reduction reserves black.
    TBitmap rgb = CopyTo24Bit(picture);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = rgb.ScanLine(y);
      for (int x = 0; x < width; ++x)
        if (mask.GetIndex(x, y) != 0) row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = 0;
    }
    ReduceTo8Bit(rgb, picture, true, threshold, 255);
  }
  Take(bitmap, std::move(picture));
}

// GIF palette repair: unused entries become black, then black and white are made present.
void RepairGifPalette(TBitmap& picture, const TBitmap& mask) {
  std::array<int64_t, 256> uses{};
  for (int y = 0; y < picture.Height(); ++y) {
    const uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x) ++uses[row[x]];
  }
  std::vector<TRGBQuad> palette = picture.Palette();
  palette.resize(256, Black);
  std::vector<int> unused;
  for (int i = 0; i < 256; ++i)
    if (uses[i] == 0) {
      palette[i] = Black;
      unused.push_back(i);
    }
  // An unused entry, else the least-used entry, that does not hold the colour kept first.
  auto freeEntry = [&](int keep) {
    for (int i : unused)
      if (i != keep) return i;
    int best = keep == 0 ? 1 : 0;
    for (int i = 0; i < 256; ++i)
      if (i != keep && uses[i] < uses[best]) best = i;
    return best;
  };
  int black = FindEntry(palette, Black);
  if (black < 0) {
    black = freeEntry(-1);
    palette[black] = Black;
  }
  if (FindEntry(palette, White) < 0) palette[freeEntry(black)] = White;
  picture.SetPalette(palette);

  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x)
      if (mask.GetIndex(x, y) != 0) row[x] = static_cast<uint8_t>(black);
  }
}

// Pixel for pixel, leaving out the row padding (which the black and white fills set differently).
bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  const size_t rowBytes = static_cast<size_t>(a.Width()) * 3;
  for (int y = 0; y < a.Height(); ++y)
    if (!std::equal(a.ScanLine(y), a.ScanLine(y) + rowBytes, b.ScanLine(y))) return false;
  return true;
}

// Draws the picture at its natural size over black into kept and over white into a second
// bitmap; returns the second.
TBitmap RenderTwice(const TGraphic& picture, TBitmap& kept) {
  const int width = picture.Width(), height = picture.Height();
  kept.SetPixelFormat(pf24bit);
  SizeAndFill(kept, width, height, RGBColor(0, 0, 0));
  TBitmap other;
  other.SetPixelFormat(pf24bit);
  SizeAndFill(other, width, height, RGBColor(255, 255, 255));
  picture.Draw(kept, Rect(0, 0, width, height));
  picture.Draw(other, Rect(0, 0, width, height));
  return other;
}

// The picture over black goes into the working bitmap; what differs over white is transparent.
bool TakeWithTwoRenderings(const TGraphic& picture, TBitmapFix32& bitmap, TBitmap& mask) {
  TBitmap overBlack;
  const TBitmap overWhite = RenderTwice(picture, overBlack);
  ResetMask(mask, picture.Width(), picture.Height());
  MaskFromTwoRenderings(overBlack, overWhite, mask);
  Take(bitmap, std::move(overBlack));
  return true;
}

}  // namespace

bool LoadJpegPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, [[maybe_unused]] TBitmap& mask) {
  const TJpegInfo info = ReadJpegInfo(bytes);
  const int sum = info.Width + info.Height;
  if (sum < 2001) {
    TBitmap picture;
    DecodeJpeg(bytes, picture, 1);
    Take(bitmap, std::move(picture));
    return false;
  }
  const int divisor = std::max(sum / 2000, 1);
  // A divisor of 1 keeps the full size: decoding at half and stretching back up would only blur.
  const int scale = divisor >= 8 ? 8 : divisor >= 4 ? 4 : divisor >= 2 ? 2 : 1;
  TBitmap decoded;
  DecodeJpeg(bytes, decoded, scale);
  TBitmap fitted;
  fitted.SetPixelFormat(pf24bit);
  fitted.SetSize(std::max(info.Width / divisor, 1), std::max(info.Height / divisor, 1));
  if (fitted.Width() == decoded.Width() && fitted.Height() == decoded.Height())
    fitted = std::move(decoded);
  else
    fitted.StretchDraw(Rect(0, 0, fitted.Width(), fitted.Height()), decoded);
  Take(bitmap, std::move(fitted));
  return false;
}

bool LoadPngPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, TBitmap& mask, int threshold) {
  TPNGImage png;
  png.LoadFromBytes(bytes);
  const TPngHeader& header = png.Header();
  const int width = png.Width(), height = png.Height();
  ResetMask(mask, width, height);
  const bool lowDepth = header.FBitDepth <= 8;

  if (lowDepth && header.FColorType == pctGreyAlpha) {
    // 8-bit grey with the grey palette; alpha below the threshold becomes black and transparent.
    const TBitmap& decoded = png.Bitmap();
    TBitmap grey;
    grey.SetPixelFormat(pf8bit);
    std::vector<TRGBQuad> ramp(256);
    for (int i = 0; i < 256; ++i) ramp[i] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    grey.SetPalette(ramp);
    grey.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
      const uint8_t* source = decoded.ScanLine(y);
      uint8_t* target = grey.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        const uint8_t alpha = source[x * 4 + 3];
        if (alpha < threshold) {
          target[x] = 0;
          mask.SetIndex(x, y, 1);
        } else {
          target[x] = source[x * 4];
        }
      }
    }
    Take(bitmap, std::move(grey));
  } else if (lowDepth && header.FColorType == pctPalette) {
    ConvertPalettePng(png, bitmap, mask, threshold);
  } else {
    TBitmap picture;
    png.AssignTo(picture);
    if (picture.PixelFormat() == pf32bit) {
      for (int y = 0; y < height; ++y) {
        uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < width; ++x)
          if (row[x * 4 + 3] == 0) {
            row[x * 4] = row[x * 4 + 1] = row[x * 4 + 2] = 0;
            mask.SetIndex(x, y, 1);
          }
      }
    }
    Take(bitmap, std::move(picture));
  }
  return header.FColorType == pctGreyAlpha || header.FColorType == pctRGBA ||
         (header.FColorType == pctPalette && png.HasTransparencyChunk());
}

bool LoadGifPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, TBitmap& mask) {
  TGifPicture decoded = DecodeGif(bytes);
  const int width = decoded.Bitmap.Width(), height = decoded.Bitmap.Height();
  const TBitmapGraphic picture =
      decoded.TransparentIndex >= 0 ? TBitmapGraphic(decoded.Bitmap, decoded.Mask()) : TBitmapGraphic(decoded.Bitmap);
  TBitmap overBlack;
  const TBitmap overWhite = RenderTwice(picture, overBlack);
  ResetMask(mask, width, height);
  const bool maskValid = !SamePixels(overBlack, overWhite);
  if (maskValid) MaskFromTwoRenderings(overBlack, overWhite, mask);

  RepairGifPalette(decoded.Bitmap, mask);
  Take(bitmap, std::move(decoded.Bitmap));
  return maskValid;
}

bool LoadTiffPicture(std::span<const uint8_t> bytes, TBitmapFix32& bitmap, [[maybe_unused]] TBitmap& mask) {
  TBitmap picture;
  DecodeTiff(bytes, picture);
  Take(bitmap, std::move(picture));
  return false;
}

bool LoadAnyPicture(std::span<const uint8_t> bytes, const std::string& extension, TBitmapFix32& bitmap, TBitmap& mask) {
  return TakeWithTwoRenderings(*LoadPicture(bytes, extension), bitmap, mask);
}

bool LoadJpegPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask) {
  return LoadJpegPicture(ReadFileBytes(fileName), bitmap, mask);
}

bool LoadPngPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask, int threshold) {
  return LoadPngPicture(ReadFileBytes(fileName), bitmap, mask, threshold);
}

bool LoadGifPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask) {
  return LoadGifPicture(ReadFileBytes(fileName), bitmap, mask);
}

bool LoadTiffPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask) {
  return LoadTiffPicture(ReadFileBytes(fileName), bitmap, mask);
}

bool LoadAnyPicture(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask) {
  return TakeWithTwoRenderings(*LoadPictureFile(fileName), bitmap, mask);
}

}  // namespace glyphmill
