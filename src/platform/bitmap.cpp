#include "platform/bitmap.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

int RowBytes(int width, int bits) {
  return static_cast<int>(((static_cast<int64_t>(width) * bits + 31) & ~int64_t{31}) / 8);
}

int StorageBitsOfFormat(TPixelFormat format) {
  switch (format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf32bit: return 32;
    default: return 24;
  }
}

namespace {

int PaletteSizeOf(TPixelFormat format) {
  switch (format) {
    case pf1bit: return 2;
    case pf4bit: return 16;
    case pf8bit: return 256;
    default: return 0;
  }
}

bool IsPaletteFormat(TPixelFormat format) { return PaletteSizeOf(format) > 0; }

constexpr TRGBQuad Quad(uint8_t r, uint8_t g, uint8_t b) { return TRGBQuad{b, g, r, 0}; }

// The sixteen colours of the VGA palette in their classic order.
constexpr TRGBQuad VgaColors[16] = {
    Quad(0, 0, 0),       Quad(128, 0, 0),   Quad(0, 128, 0),   Quad(128, 128, 0),
    Quad(0, 0, 128),     Quad(128, 0, 128), Quad(0, 128, 128), Quad(128, 128, 128),
    Quad(192, 192, 192), Quad(255, 0, 0),   Quad(0, 255, 0),   Quad(255, 255, 0),
    Quad(0, 0, 255),     Quad(255, 0, 255), Quad(0, 255, 255), Quad(255, 255, 255),
};

uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
uint8_t Expand6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

// Reads the colour of pixel x of a row in a non-palette layout.
TColor ReadDirect(const uint8_t* row, int x, TPixelFormat format) {
  switch (format) {
    case pf15bit: {
      const unsigned v = static_cast<unsigned>(row[2 * x] | (row[2 * x + 1] << 8));
      return RGBColor(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
    }
    case pf16bit: {
      const unsigned v = static_cast<unsigned>(row[2 * x] | (row[2 * x + 1] << 8));
      return RGBColor(Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31));
    }
    case pf32bit: {
      const uint8_t* p = row + 4 * x;
      return RGBColor(p[2], p[1], p[0]);
    }
    default: {
      const uint8_t* p = row + 3 * x;
      return RGBColor(p[2], p[1], p[0]);
    }
  }
}

// Writes a colour into pixel x of a row in a non-palette layout (32-bit alpha becomes 0, as GDI does).
void WriteDirect(uint8_t* row, int x, TPixelFormat format, TColor c) {
  const unsigned r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  switch (format) {
    case pf15bit: {
      const unsigned v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
      row[2 * x] = static_cast<uint8_t>(v);
      row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      break;
    }
    case pf16bit: {
      const unsigned v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
      row[2 * x] = static_cast<uint8_t>(v);
      row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      break;
    }
    case pf32bit: {
      uint8_t* p = row + 4 * x;
      p[0] = static_cast<uint8_t>(b);
      p[1] = static_cast<uint8_t>(g);
      p[2] = static_cast<uint8_t>(r);
      p[3] = 0;
      break;
    }
    default: {
      uint8_t* p = row + 3 * x;
      p[0] = static_cast<uint8_t>(b);
      p[1] = static_cast<uint8_t>(g);
      p[2] = static_cast<uint8_t>(r);
      break;
    }
  }
}

int ReadIndex(const uint8_t* row, int x, int bits) {
  switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default: return row[x];
  }
}

void WriteIndex(uint8_t* row, int x, int bits, int index) {
  switch (bits) {
    case 1: {
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      if (index & 1)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= static_cast<uint8_t>(~bit);
      break;
    }
    case 4: {
      uint8_t& byte = row[x >> 1];
      if (x & 1)
        byte = static_cast<uint8_t>((byte & 0xF0) | (index & 0x0F));
      else
        byte = static_cast<uint8_t>((byte & 0x0F) | ((index & 0x0F) << 4));
      break;
    }
    default: row[x] = static_cast<uint8_t>(index); break;
  }
}

// Maps colours to the nearest entry of one palette, remembering answers (pictures repeat colours).
class TNearestIndex {
public:
  explicit TNearestIndex(const std::vector<TRGBQuad>& palette) : FPalette(palette) {}
  int operator()(TColor color) {
    const auto found = FCache.find(color);
    if (found != FCache.end()) return found->second;
    const int index = Search(color);
    if (FCache.size() < 65536) FCache.emplace(color, index);
    return index;
  }

private:
  int Search(TColor color) const {
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    int best = 0;
    int bestDistance = 1 << 30;
    for (size_t i = 0; i < FPalette.size(); ++i) {
      const int dr = r - FPalette[i].Red, dg = g - FPalette[i].Green, db = b - FPalette[i].Blue;
      const int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) {
        bestDistance = distance;
        best = static_cast<int>(i);
        if (distance == 0) break;
      }
    }
    return best;
  }

  const std::vector<TRGBQuad>& FPalette;
  std::unordered_map<TColor, int> FCache;
};

}  // namespace

std::vector<TRGBQuad> DefaultPalette(TPixelFormat format) {
  switch (format) {
    case pf1bit: return {Quad(0, 0, 0), Quad(255, 255, 255)};
    case pf4bit: return {std::begin(VgaColors), std::end(VgaColors)};
    case pf8bit: {
      // VGA colours, a 6×6×6 colour cube, then 24 greys.
      std::vector<TRGBQuad> palette(std::begin(VgaColors), std::end(VgaColors));
      for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
          for (int b = 0; b < 6; ++b)
            palette.push_back(
                Quad(static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51)));
      for (int i = 1; i <= 24; ++i) {
        const auto v = static_cast<uint8_t>(i * 10 + 3);
        palette.push_back(Quad(v, v, v));
      }
      return palette;
    }
    default: return {};
  }
}

int TBitmap::StorageBits() const { return StorageBitsOfFormat(FFormat); }

int TBitmap::PaletteCapacity() const { return PaletteSizeOf(FFormat); }

uint8_t* TBitmap::ScanLine(int y) {
  return FBits.data() + static_cast<size_t>(FHeight - 1 - y) * static_cast<size_t>(RowByteCount());
}

const uint8_t* TBitmap::ScanLine(int y) const {
  return FBits.data() + static_cast<size_t>(FHeight - 1 - y) * static_cast<size_t>(RowByteCount());
}

void TBitmap::SetPalette(std::span<const TRGBQuad> palette) {
  const int capacity = PaletteCapacity();
  if (capacity == 0) return;
  FPalette.assign(palette.begin(), palette.begin() + std::min<size_t>(palette.size(), static_cast<size_t>(capacity)));
  FPalette.resize(static_cast<size_t>(capacity), TRGBQuad{});
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == FWidth && height == FHeight) return;
  CheckPictureSize(width, height);
  TBitmap resized;
  resized.FFormat = FFormat;
  resized.FPalette = FPalette;
  resized.FBrushColor = FBrushColor;
  resized.FWidth = width;
  resized.FHeight = height;
  resized.FBits.assign(static_cast<size_t>(RowBytes(width, StorageBits())) * static_cast<size_t>(height), 0);
  if (!resized.Empty()) {
    resized.FillRect(Rect(0, 0, width, height), FBrushColor);
    const int rows = std::min(height, FHeight);
    const int bytes = std::min(RowBytes(width, StorageBits()), RowByteCount());
    const int bits = StorageBits();
    for (int y = 0; y < rows; ++y) {
      if (bits >= 8) {
        const int used = std::min(width, FWidth) * bits / 8;
        std::memcpy(resized.ScanLine(y), ScanLine(y), static_cast<size_t>(std::min(used, bytes)));
      } else {
        for (int x = 0; x < std::min(width, FWidth); ++x)
          WriteIndex(resized.ScanLine(y), x, bits, ReadIndex(ScanLine(y), x, bits));
      }
    }
  }
  FWidth = width;
  FHeight = height;
  FBits = std::move(resized.FBits);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format < pfDevice || format > pf32bit) format = pfDevice;
  if (format == FFormat) return;
  ConvertPixels(format);
}

void TBitmap::ConvertPixels(TPixelFormat format) {
  TBitmap converted;
  converted.FFormat = format;
  converted.FPalette = DefaultPalette(format);
  converted.FBrushColor = FBrushColor;
  converted.FWidth = FWidth;
  converted.FHeight = FHeight;
  converted.FBits.assign(
      static_cast<size_t>(RowBytes(FWidth, StorageBitsOfFormat(format))) * static_cast<size_t>(FHeight), 0);
  if (!Empty()) converted.Draw(0, 0, *this);
  *this = std::move(converted);
}

TColor TBitmap::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return NoColor;
  const uint8_t* row = ScanLine(y);
  if (IsPaletteFormat(FFormat)) {
    const int index = ReadIndex(row, x, StorageBits());
    return index < static_cast<int>(FPalette.size()) ? QuadToColor(FPalette[static_cast<size_t>(index)]) : 0;
  }
  return ReadDirect(row, x, FFormat);
}

void TBitmap::SetPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
  if (IsPaletteFormat(FFormat))
    WriteIndex(ScanLine(y), x, StorageBits(), NearestIndex(color));
  else
    WriteDirect(ScanLine(y), x, FFormat, color);
}

int TBitmap::GetIndex(int x, int y) const {
  if (!IsPaletteFormat(FFormat) || x < 0 || y < 0 || x >= FWidth || y >= FHeight) return 0;
  return ReadIndex(ScanLine(y), x, StorageBits());
}

void TBitmap::SetIndex(int x, int y, int index) {
  if (!IsPaletteFormat(FFormat) || x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
  WriteIndex(ScanLine(y), x, StorageBits(), index);
}

int TBitmap::NearestIndex(TColor color) const { return TNearestIndex(FPalette)(color); }

void TBitmap::FillRect(TRect rect, TColor color) {
  const int left = std::max(rect.Left, 0), top = std::max(rect.Top, 0);
  const int right = std::min(rect.Right, FWidth), bottom = std::min(rect.Bottom, FHeight);
  if (left >= right || top >= bottom) return;
  const int bits = StorageBits();
  // The first row is filled pixel by pixel; every further row copies its bytes (edge bytes of
  // 1- and 4-bit rows are merged so that pixels outside the rectangle keep their values).
  uint8_t* first = ScanLine(top);
  if (IsPaletteFormat(FFormat)) {
    const int index = NearestIndex(color);
    for (int x = left; x < right; ++x) WriteIndex(first, x, bits, index);
  } else {
    const int bytesPerPixel = bits / 8;
    uint8_t pixel[4] = {};
    WriteDirect(pixel, 0, FFormat, color);
    for (int x = left; x < right; ++x)
      std::memcpy(first + x * bytesPerPixel, pixel, static_cast<size_t>(bytesPerPixel));
  }
  const int64_t firstBit = static_cast<int64_t>(left) * bits, endBit = static_cast<int64_t>(right) * bits;
  const size_t firstByte = static_cast<size_t>(firstBit / 8), endByte = static_cast<size_t>((endBit + 7) / 8);
  const uint8_t headMask = static_cast<uint8_t>(0xFF >> (firstBit % 8));
  const uint8_t tailMask = static_cast<uint8_t>(endBit % 8 == 0 ? 0xFF : 0xFF << (8 - endBit % 8));
  for (int y = top + 1; y < bottom; ++y) {
    uint8_t* row = ScanLine(y);
    if (endByte - firstByte == 1) {
      const uint8_t mask = headMask & tailMask;
      row[firstByte] = static_cast<uint8_t>((row[firstByte] & ~mask) | (first[firstByte] & mask));
      continue;
    }
    row[firstByte] = static_cast<uint8_t>((row[firstByte] & ~headMask) | (first[firstByte] & headMask));
    const size_t last = endByte - 1;
    row[last] = static_cast<uint8_t>((row[last] & ~tailMask) | (first[last] & tailMask));
    if (last > firstByte + 1) std::memcpy(row + firstByte + 1, first + firstByte + 1, last - firstByte - 1);
  }
}

void TBitmap::Draw(int x, int y, const TBitmap& source) {
  CopyRect(Rect(x, y, x + source.Width(), y + source.Height()), source, Rect(0, 0, source.Width(), source.Height()));
}

void TBitmap::StretchDraw(TRect target, const TBitmap& source) {
  CopyRect(target, source, Rect(0, 0, source.Width(), source.Height()));
}

bool TBitmap::CopyUnscaledDirect(TRect target, const TBitmap& source, TRect sourceRect) {
  const bool bytes24or32 = (FFormat == pf24bit || FFormat == pf32bit || FFormat == pfDevice) &&
                           (source.FFormat == pf24bit || source.FFormat == pf32bit || source.FFormat == pfDevice);
  const bool sameByteFormat = FFormat == source.FFormat && !IsPaletteFormat(FFormat);
  if (!bytes24or32 && !sameByteFormat) return false;
  // Clip the rectangle pair to both bitmaps.
  int dx = target.Left, dy = target.Top, sx = sourceRect.Left, sy = sourceRect.Top;
  int width = target.Width(), height = target.Height();
  const auto clip = [&](int& t, int& s, int& length, int targetLimit, int sourceLimit) {
    const int shift = std::max({0, -t, -s});
    t += shift;
    s += shift;
    length -= shift;
    length = std::min({length, targetLimit - t, sourceLimit - s});
  };
  clip(dx, sx, width, FWidth, source.FWidth);
  clip(dy, sy, height, FHeight, source.FHeight);
  if (width <= 0 || height <= 0) return true;
  const int targetStep = StorageBits() / 8, sourceStep = source.StorageBits() / 8;
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = source.ScanLine(sy + y) + static_cast<size_t>(sx) * sourceStep;
    uint8_t* to = ScanLine(dy + y) + static_cast<size_t>(dx) * targetStep;
    if (targetStep == sourceStep) {
      std::memcpy(to, from, static_cast<size_t>(width) * targetStep);
    } else if (targetStep == 4) {
      // Canvas copies into 32 bits leave alpha 0, as GDI does.
      for (int x = 0; x < width; ++x, from += 3, to += 4) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = 0;
      }
    } else {
      for (int x = 0; x < width; ++x, from += 4, to += 3) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
      }
    }
  }
  return true;
}

void TBitmap::CopyRect(TRect target, const TBitmap& source, TRect sourceRect) {
  const int targetWidth = target.Width(), targetHeight = target.Height();
  const int sourceWidth = sourceRect.Width(), sourceHeight = sourceRect.Height();
  if (targetWidth <= 0 || targetHeight <= 0 || sourceWidth <= 0 || sourceHeight <= 0 || Empty() || source.Empty())
    return;
  if (targetWidth == sourceWidth && targetHeight == sourceHeight && CopyUnscaledDirect(target, source, sourceRect))
    return;
  const bool sameFormat = source.FFormat == FFormat && !IsPaletteFormat(FFormat);
  const bool samePalette = IsPaletteFormat(FFormat) && source.FFormat == FFormat && source.FPalette == FPalette;
  TNearestIndex nearest(FPalette);
  const int sourceBits = source.StorageBits();
  const int targetBits = StorageBits();
  const int bytesPerPixel = targetBits / 8;
  const int x0 = std::max(target.Left, 0), x1 = std::min(target.Right, FWidth);
  const int y0 = std::max(target.Top, 0), y1 = std::min(target.Bottom, FHeight);
  // Nearest pixel: the source pixel whose centre maps onto the target pixel's centre.
  std::vector<int> sourceColumns;
  for (int x = x0; x < x1; ++x) {
    const int64_t offset = (2LL * (x - target.Left) + 1) * sourceWidth / (2LL * targetWidth);
    sourceColumns.push_back(sourceRect.Left + static_cast<int>(offset));
  }
  for (int y = y0; y < y1; ++y) {
    const int64_t rowOffset = (2LL * (y - target.Top) + 1) * sourceHeight / (2LL * targetHeight);
    const int sy = sourceRect.Top + static_cast<int>(rowOffset);
    if (sy < 0 || sy >= source.FHeight) continue;
    const uint8_t* sourceRow = source.ScanLine(sy);
    uint8_t* targetRow = ScanLine(y);
    for (int x = x0; x < x1; ++x) {
      const int sx = sourceColumns[static_cast<size_t>(x - x0)];
      if (sx < 0 || sx >= source.FWidth) continue;
      if (sameFormat) {
        std::memcpy(targetRow + x * bytesPerPixel, sourceRow + sx * bytesPerPixel, static_cast<size_t>(bytesPerPixel));
      } else if (samePalette) {
        WriteIndex(targetRow, x, targetBits, ReadIndex(sourceRow, sx, sourceBits));
      } else {
        TColor color = 0;
        if (IsPaletteFormat(source.FFormat)) {
          const int index = ReadIndex(sourceRow, sx, sourceBits);
          color = index < static_cast<int>(source.FPalette.size())
                      ? QuadToColor(source.FPalette[static_cast<size_t>(index)])
                      : 0;
        } else {
          color = ReadDirect(sourceRow, sx, source.FFormat);
        }
        if (IsPaletteFormat(FFormat))
          WriteIndex(targetRow, x, targetBits, nearest(color));
        else
          WriteDirect(targetRow, x, FFormat, color);
      }
    }
  }
}

void TBitmap::Assign(const TBitmap& source) {
  if (&source == this) return;
  FWidth = source.FWidth;
  FHeight = source.FHeight;
  FFormat = source.FFormat;
  FPalette = source.FPalette;
  FBits = source.FBits;
  FBrushColor = source.FBrushColor;
}

void TBitmap::LoadFromFile(const std::string& fileName) {
  TFileMappingStream stream(fileName);
  LoadFromStream(stream);
}

void TBitmap::SaveToFile(const std::string& fileName) const {
  TMemoryStream stream;
  SaveToStream(stream);
  WriteFileAtomically(fileName, stream.Bytes());
}

}  // namespace glyphmill
