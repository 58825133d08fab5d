#include "imaging/bitmaptools.h"

#include <algorithm>
#include <cstring>

#include "support/byte_reader.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

// A 1 × 1 1-bit BMP with the colour table black, white and its one pixel white.
constexpr uint8_t MonochromeBmp[66] = {
    'B',  'M', 66, 0, 0,    0,    0,    0, 0,    0,    62, 0, 0, 0,  // file header
    40,   0,   0,  0, 1,    0,    0,    0, 1,    0,    0,  0, 1, 0,
    1,    0,   0,  0, 0,    0,  // size, width, height, planes, bits
    4,    0,   0,  0, 0xCE, 0x0E, 0,    0, 0xD8, 0x0E, 0,  0, 0, 0,
    0,    0,   0,  0, 0,    0,              // image size 4, 3790 × 3800 px/m
    0,    0,   0,  0, 0xFF, 0xFF, 0xFF, 0,  // black, white
    0x80, 0,   0,  0,
};

constexpr TColor White = 0x00FFFFFF;

uint32_t ColorToPixel(TColor color, uint8_t alpha) {
  return (static_cast<uint32_t>(alpha) << 24) | (static_cast<uint32_t>(GetRValue(color)) << 16) |
         (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

// Fills a 1-bit bitmap: black and white set whole bytes (padding included), any other colour goes
// to whichever of the two is nearer.
void FillMonochrome(TBitmap& bitmap, TColor color) {
  if (color == 0 || color == White) {
    std::memset(bitmap.Bits(), color == 0 ? 0 : 0xFF, bitmap.BitsSize());
    return;
  }
  bitmap.FillRect(Rect(0, 0, bitmap.Width(), bitmap.Height()), color);
}

}  // namespace

void MakeMonochrome(TBitmap* bitmap) {
  if (bitmap == nullptr) return;
  TMemoryStream stream(std::vector<uint8_t>(std::begin(MonochromeBmp), std::end(MonochromeBmp)));
  bitmap->TBitmap::LoadFromStream(stream);
}

TBitmap NewMonochromeBitmap() {
  TBitmap bitmap;
  MakeMonochrome(&bitmap);
  return bitmap;
}

void SetFormatAndSize(TBitmap& bitmap, int width, int height, TPixelFormat format) {
  if (format == pf1bit)
    MakeMonochrome(&bitmap);
  else
    bitmap.SetPixelFormat(format);
  bitmap.SetSize(width, height);
}

TBitmap CreateFilledBitmap(TPixelFormat format, int width, int height, TColor fill) {
  TBitmap bitmap;
  if (format == pf1bit) {
    MakeMonochrome(&bitmap);
    bitmap.SetSize(width, height);
    if (fill != NoColor) FillMonochrome(bitmap, fill);
  } else if (format == pf32bit) {
    SizeAndFill32(bitmap, width, height, fill);
  } else {
    if (format != pfDevice) bitmap.SetPixelFormat(format);
    if (fill != NoColor) bitmap.SetBrushColor(fill);
    bitmap.SetSize(width, height);
  }
  return bitmap;
}

TBitmap NewBitmap32(int width, int height) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(width, height);
  return bitmap;
}

void FillBitmap32(TBitmap& bitmap, uint32_t value) {
  bitmap.SetPixelFormat(pf32bit);
  FillRect32(bitmap, value, Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void FillRect32(TBitmap& bitmap, uint32_t value, TRect rect) {
  if (bitmap.PixelFormat() != pf32bit) return;
  const int left = std::max(rect.Left, 0), right = std::min(rect.Right, bitmap.Width());
  const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, bitmap.Height());
  if (left >= right || top >= bottom) return;
  uint8_t pixel[4];
  StoreU32LE(pixel, value);
  uint8_t* first = bitmap.ScanLine(top) + 4 * left;
  for (int x = left; x < right; ++x) std::memcpy(first + 4 * (x - left), pixel, 4);
  const size_t bytes = static_cast<size_t>(right - left) * 4;
  for (int y = top + 1; y < bottom; ++y) std::memcpy(bitmap.ScanLine(y) + 4 * left, first, bytes);
}

void SizeAndFill32(TBitmap& bitmap, int width, int height, uint32_t value) {
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(width, height);
  FillRect32(bitmap, value, Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void CopyRect32(const TBitmap& source, TBitmap& target, TRect sourceRect, int x, int y) {
  if (source.PixelFormat() != pf32bit || target.PixelFormat() != pf32bit) return;
  if (&source == &target) {
    const TBitmap copy(source);
    CopyRect32(copy, target, sourceRect, x, y);
    return;
  }
  // Source columns sx with 0 <= sx < source width and 0 <= x + sx - left < target width; rows alike.
  const int64_t left = sourceRect.Left, top = sourceRect.Top;
  const int64_t sx0 = std::max<int64_t>({left, 0, left - x});
  const int64_t sx1 = std::min<int64_t>({sourceRect.Right, source.Width(), left - x + target.Width()});
  const int64_t sy0 = std::max<int64_t>({top, 0, top - y});
  const int64_t sy1 = std::min<int64_t>({sourceRect.Bottom, source.Height(), top - y + target.Height()});
  if (sx0 >= sx1 || sy0 >= sy1) return;
  const size_t bytes = static_cast<size_t>(sx1 - sx0) * 4;
  for (int64_t sy = sy0; sy < sy1; ++sy) {
    const uint8_t* from = source.ScanLine(static_cast<int>(sy)) + 4 * sx0;
    uint8_t* to = target.ScanLine(static_cast<int>(y + sy - top)) + 4 * (x + sx0 - left);
    std::memcpy(to, from, bytes);
  }
}

void PlaceBitmap32(const TBitmap& source, TBitmap& target, int x, int y) {
  CopyRect32(source, target, Rect(0, 0, source.Width(), source.Height()), x, y);
}

uint32_t GetPixel32(const TBitmap& bitmap, int x, int y) {
  if (x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height()) return 0;
  if (bitmap.PixelFormat() == pf32bit) return LoadU32LE(bitmap.ScanLine(y) + 4 * x);
  return ColorToPixel(bitmap.GetPixel(x, y), 255);
}

TBitmap CopyTo24Bit(const TBitmap& bitmap) {
  TBitmap result(bitmap);
  result.SetPixelFormat(pf24bit);
  return result;
}

void CombineTo32Bit(const TBitmap& source, const TBitmap* mask, TBitmap& target) {
  if (&source == &target && source.PixelFormat() == pf32bit) return;
  if (source.Width() == 0) return;
  if (&source == &target || mask == &target) {
    TBitmap combined;
    CombineTo32Bit(source, mask, combined);
    target = std::move(combined);
    return;
  }
  if (source.PixelFormat() == pf32bit) {
    target.Assign(source);
    return;
  }
  target.SetPixelFormat(pf32bit);
  target.SetSize(source.Width(), source.Height());
  target.Draw(0, 0, source);
  for (int y = 0; y < target.Height(); ++y) {
    uint8_t* row = target.ScanLine(y);
    for (int x = 0; x < target.Width(); ++x) {
      uint8_t* p = row + 4 * x;
      if (mask != nullptr && mask->GetPixel(x, y) == White) {
        const bool white = p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF;
        StoreU32LE(p, white ? 0x00FFFFFFu : 0u);
      } else {
        p[3] = 255;
      }
    }
  }
}

}  // namespace glyphmill
