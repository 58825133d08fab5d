#include "imaging/fitting.h"

#include <algorithm>
#include <optional>

#include "imaging/bitmaptools.h"
#include "imaging/colorreduction.h"
#include "imaging/filters.h"
#include "imaging/resample.h"
#include "imaging/transparency.h"

namespace glyphmill {

TRect FitRect(TRect rect, int pictureWidth, int pictureHeight) {
  const int width = rect.Width(), height = rect.Height();
  if (pictureWidth == 0 || pictureHeight == 0 || width == 0 || height == 0) return rect;
  const double aspect = static_cast<double>(pictureWidth) / pictureHeight;
  double fittedWidth, fittedHeight;
  if (static_cast<double>(width) / height < aspect) {
    fittedWidth = width;
    fittedHeight = width / aspect;
  } else {
    fittedHeight = height;
    fittedWidth = height * aspect;
  }
  const double cx2 = static_cast<double>(rect.Left) + rect.Right;
  const double cy2 = static_cast<double>(rect.Top) + rect.Bottom;
  TRect fitted{RoundHalfEven((cx2 - fittedWidth) * 0.5), RoundHalfEven((cy2 - fittedHeight) * 0.5),
               RoundHalfEven((cx2 + fittedWidth) * 0.5), RoundHalfEven((cy2 + fittedHeight) * 0.5)};
  fitted.Left = std::max(fitted.Left, rect.Left);
  fitted.Top = std::max(fitted.Top, rect.Top);
  fitted.Right = std::min(fitted.Right, rect.Right);
  fitted.Bottom = std::min(fitted.Bottom, rect.Bottom);
  return fitted;
}

TRect CenterRect(TRect rect, TRect inner) {
  const int cx = (rect.Left + rect.Right) / 2, cy = (rect.Top + rect.Bottom) / 2;
  const int width = inner.Width(), height = inner.Height();
  const int left = cx - width / 2, top = cy - height / 2;
  return Rect(left, top, left + width, top + height);
}

TPlacement PlaceImage(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, bool shrink, bool zoom) {
  if (targetWidth == 0) {
    targetWidth = sourceWidth;
    targetHeight = sourceHeight;
  }
  TPlacement placement;
  placement.FSource = Rect(0, 0, sourceWidth, sourceHeight);
  const bool fits = sourceWidth <= targetWidth && sourceHeight <= targetHeight;
  placement.FScale = (shrink && (sourceWidth >= targetWidth || sourceHeight >= targetHeight)) || (zoom && fits);
  if (placement.FScale) {
    placement.FTarget = FitRect(Rect(0, 0, targetWidth, targetHeight), sourceWidth, sourceHeight);
  } else if (fits) {
    placement.FTarget = CenterRect(Rect(0, 0, targetWidth, targetHeight), placement.FSource);
  } else {
    placement.FSource = placement.FTarget = Rect(0, 0, targetWidth, targetHeight);
    if (sourceWidth <= targetWidth)
      placement.FSource.Right = placement.FTarget.Right = sourceWidth;
    else if (sourceHeight <= targetHeight)
      placement.FSource.Bottom = placement.FTarget.Bottom = sourceHeight;
  }
  return placement;
}

namespace {

// Fills a 32-bit picture of the target size with the 32-bit source resampled into placement (the
// whole picture when full, the rest transparent otherwise).
void ResampleInto(const TBitmap& source32, TBitmap& result, TRect placement, bool full, int width, int height,
                  int filter) {
  if (full) {
    SetFormatAndSize(result, width, height, pf32bit);
    ResampleBitmap(source32, result, filter);
    return;
  }
  SizeAndFill32(result, width, height, 0);
  TBitmap part = NewBitmap32(placement.Width(), placement.Height());
  ResampleBitmap(source32, part, filter);
  PlaceBitmap32(part, result, placement.Left, placement.Top);
}

// Same format, another size.
void ResizeBitmap(const TBitmap& source, const TBitmap* sourceMask, TBitmap& target, TBitmap* targetMask,
                  TPixelFormat format, int width, int height, int threshold, TRect placement, bool full, int filter) {
  SetFormatAndSize(target, width, height, format);
  if (targetMask) SetFormatAndSize(*targetMask, width, height, pf1bit);
  if (format == pf8bit) target.SetPalette(source.Palette());
  if (!full) {
    if (format == pf32bit)
      FillBitmap32(target, 0);
    else
      FillBitmap(target, RGBColor(0, 0, 0));
    if (targetMask) FillBitmap(*targetMask, RGBColor(255, 255, 255));
  }

  if (!IsResamplingFilter(filter)) {
    if (format == pf32bit) {
      target.StretchDraw(placement, source);
      if (targetMask) MaskFromAlphaBelow(target, *targetMask, threshold);
      return;
    }
    TBitmap source32, stretched;
    CombineTo32Bit(source, sourceMask, source32);
    SizeAndFill32(stretched, width, height, 0);
    stretched.StretchDraw(placement, source32);
    if (format == pf24bit) {
      To24BitWithMask(stretched, target, targetMask, false, threshold);
    } else {
      target.Draw(0, 0, stretched);
      ApplyAlphaMask(stretched, target, targetMask, false, threshold);
    }
    return;
  }

  if (format == pf32bit) {
    ResampleInto(source, target, placement, full, width, height, filter);
    if (targetMask) MaskFromAlphaBelow(target, *targetMask, threshold);
    return;
  }
  TBitmap source32, resampled;
  CombineTo32Bit(source, sourceMask, source32);
  ResampleInto(source32, resampled, placement, full, width, height, filter);
  switch (format) {
    case pf24bit: To24BitWithMask(resampled, target, targetMask, false, threshold); break;
    case pf8bit:
      ReduceTo8Bit(resampled, target, true, threshold, 256);
      ApplyAlphaMask(resampled, target, targetMask, false, threshold);
      break;
    default: {
      TBitmap opaque;
      To24BitWithMask(resampled, opaque, targetMask, false, threshold);
      target.Draw(0, 0, opaque);
      break;
    }
  }
}

}  // namespace

bool SizeGoesFirst(TPixelFormat sourceFormat, TPixelFormat targetFormat, int sourceWidth, int sourceHeight,
                   int targetWidth, int targetHeight, int filter) {
  if (IsResamplingFilter(filter))
    return targetFormat != pf32bit && (targetFormat <= sourceFormat || sourceFormat > pf8bit);
  return (targetFormat <= pf8bit && sourceFormat > targetFormat) ||
         static_cast<int64_t>(targetWidth) * targetHeight > static_cast<int64_t>(sourceWidth) * sourceHeight;
}

void ConvertBitmap(const TBitmap& source, const TBitmap* sourceMask, TBitmap& target, TBitmap* targetMask,
                   TPixelFormat format, int width, int height, int threshold, bool fit, int filter) {
  // Work from copies when a caller converts a bitmap or mask into itself.
  if (&source == &target || (sourceMask && (sourceMask == &target || sourceMask == targetMask)) ||
      (targetMask && &source == targetMask)) {
    const TBitmap sourceCopy(source);
    std::optional<TBitmap> maskCopy;
    if (sourceMask) maskCopy.emplace(*sourceMask);
    ConvertBitmap(sourceCopy, maskCopy ? &*maskCopy : nullptr, target, targetMask, format, width, height, threshold,
                  fit, filter);
    return;
  }
  width = std::max(width, 0);
  height = std::max(height, 0);
  const int sourceWidth = source.Width(), sourceHeight = source.Height();
  const TPixelFormat sourceFormat = source.PixelFormat();
  if (targetMask) MakeMonochrome(targetMask);

  const bool sameSize = sourceWidth == width && sourceHeight == height;
  if (sameSize && sourceFormat == format) {
    target.Assign(source);
    if (targetMask) {
      if (sourceMask) {
        targetMask->Assign(*sourceMask);
      } else {
        SetFormatAndSize(*targetMask, width, height, pf1bit);
        FillBitmap(*targetMask, RGBColor(0, 0, 0));
      }
    }
    return;
  }

  TRect placement = Rect(0, 0, width, height);
  if (fit) {
    placement = FitRect(placement, sourceWidth, sourceHeight);
    if (placement.Height() == 0) ++placement.Bottom;
    if (placement.Width() == 0) ++placement.Right;
  }
  const bool full = placement == Rect(0, 0, width, height);
  if (targetMask) targetMask->SetSize(width, height);

  if (sameSize) {
    ConvertBitmapSameSize(source, sourceMask, target, targetMask, format, threshold);
    return;
  }
  if (sourceFormat != format) {
    TBitmap intermediate, intermediateMask;
    if (SizeGoesFirst(sourceFormat, format, sourceWidth, sourceHeight, width, height, filter)) {
      ConvertBitmap(source, sourceMask, intermediate, &intermediateMask, sourceFormat, width, height, threshold, fit,
                    filter);
    } else {
      ConvertBitmap(source, sourceMask, intermediate, &intermediateMask, format, sourceWidth, sourceHeight, threshold,
                    fit, filter);
    }
    ConvertBitmap(intermediate, &intermediateMask, target, targetMask, format, width, height, threshold, fit, filter);
    return;
  }
  ResizeBitmap(source, sourceMask, target, targetMask, format, width, height, threshold, placement, full, filter);
}

}  // namespace glyphmill
