#include "app/iconbuilder.h"

#include <algorithm>
#include <memory>

#include "app/inkscape.h"
#include "imaging/bitmaptools.h"
#include "imaging/filters.h"
#include "imaging/fitting.h"
#include "imaging/pixelformat.h"
#include "imaging/transparency.h"
#include "platform/metafile.h"

namespace glyphmill {

namespace {

// Alpha at or below this is transparent when a 32-bit image gets its AND mask.
constexpr int AlphaThreshold = 80;
// A metafile drawn for smoothing is this many times larger than its place in the image.
constexpr int SmoothFactor = 4;

struct TRequest {
  int Width;
  int Height;
  int Depth;
};

// The requested sizes and depths, sizes outermost.
std::vector<TRequest> Requests(const TConversionOptions& options) {
  std::vector<TRequest> requests;
  const int sizes = std::min(options.FWidths.Count(), options.FHeights.Count());
  for (int s = 0; s < sizes; ++s)
    for (int d = 0; d < options.FDepths.Count(); ++d)
      requests.push_back({options.FWidths[s], options.FHeights[s], options.FDepths[d]});
  return requests;
}

// Own values for 0, then the size limit.
TRequest Resolve(TRequest request, int sourceWidth, int sourceHeight, int sourceDepth, TRunFlags& flags) {
  if (request.Depth == 0) request.Depth = sourceDepth;
  if (request.Height == 0) request.Height = sourceHeight;
  if (request.Width == 0) request.Width = sourceWidth;
  if (request.Width > MaxIconSide) {
    request.Width = MaxIconSide;
    flags.FSizeLimited = true;
  }
  if (request.Height > MaxIconSide) {
    request.Height = MaxIconSide;
    flags.FSizeLimited = true;
  }
  return request;
}

// The picture the images are built from, with its size, depth and mask (or none).
struct TWorkPicture {
  const TBitmap& Bitmap;
  int Width;
  int Height;
  int Depth;
  const TBitmap* Mask;
};

// One image of width × height at depth from the picture, fitted and reduced; scratchMask receives its mask.
void BuildOneImage(const TWorkPicture& picture, int width, int height, int depth, const TConversionOptions& options,
                   TBitmap& scratchMask, TAdvancedIcon& icon) {
  const TPixelFormat format = FormatOfBits(depth);
  int filter = NoFilter;
  TPlacement placement{true, Rect(0, 0, picture.Width, picture.Height), Rect(0, 0, width, height)};
  if (width != picture.Width || height != picture.Height) {
    filter = ChooseFilter(options.Smooth, picture.Width, picture.Height, width, height);
    placement = PlaceImage(picture.Width, picture.Height, width, height, options.ShrinkToFit, options.ZoomToFit);
  }
  const bool placed = !placement.FScale;
  const bool partial = placed && placement.FTarget != Rect(0, 0, width, height);

  std::unique_ptr<TBitmap> image =
      depth == 1 ? std::make_unique<TBitmap>(NewMonochromeBitmap()) : std::make_unique<TBitmapFix32>();
  if (!placed) {
    ConvertBitmap(picture.Bitmap, picture.Mask, *image, &scratchMask, format, width, height, AlphaThreshold, true,
                  filter);
    icon.Images.AddFromBitmap(*image, &scratchMask, 0);
    return;
  }

  // A depth change at the source's size comes first; the placing itself never scales.
  const TBitmap* converted = &picture.Bitmap;
  const TBitmap* convertedMask = picture.Mask;
  TBitmapFix32 depthChanged;
  TBitmap depthChangedMask = NewMonochromeBitmap();
  if (depth != picture.Depth) {
    ConvertBitmap(picture.Bitmap, picture.Mask, depthChanged, &depthChangedMask, format, picture.Width, picture.Height,
                  AlphaThreshold, false, NoFilter);
    converted = &depthChanged;
    convertedMask = &depthChangedMask;
  }

  const TRect& from = placement.FSource;
  const TRect& to = placement.FTarget;
  if (depth == 32) {
    if (partial)
      SizeAndFill32(*image, width, height, 0);
    else
      SetFormatAndSize(*image, width, height, pf32bit);
    CopyRect32(*converted, *image, from, to.Left, to.Top);
    MaskFromAlpha(*image, scratchMask, AlphaThreshold);
  } else {
    // The image takes the picture's palette before it is filled, so the copy keeps every index.
    if (depth == 8) image->Assign(*converted);
    SetFormatAndSize(*image, width, height, format);
    if (converted->PixelFormat() == format && depth != 1) image->SetPalette(converted->Palette());
    if (partial) FillBitmap(*image, RGBColor(0, 0, 0));
    image->CopyRect(to, *converted, from);
    if (partial)
      SizeAndFill(scratchMask, width, height, RGBColor(255, 255, 255));
    else
      scratchMask.SetSize(width, height);
    if (convertedMask)
      scratchMask.CopyRect(to, *convertedMask, from);
    else
      FillRectColor(scratchMask, RGBColor(0, 0, 0), to);
  }
  icon.Images.AddFromBitmap(*image, &scratchMask, 0);
}

// Every requested size of a picture divides 1024, so one reduction to 1024 loses nothing later.
// A picture drawn again at every size (a vector drawing or a metafile) never gains from it.
bool WantsLargeSourceReduction(const std::vector<TRequest>& requests, const TConversionOptions& options, int width,
                               int height, int depth, bool redrawn) {
  if (options.FWidths.Count() <= 1) return false;
  if (options.FDepths.IndexOf(0) >= 0 && depth != 24 && depth != 32) return false;
  if (redrawn || (width <= 2048 && height <= 2048)) return false;
  for (const TRequest& request : requests) {
    const int w = request.Width == 0 ? std::min(width, MaxIconSide) : request.Width;
    const int h = request.Height == 0 ? std::min(height, MaxIconSide) : request.Height;
    if (w <= 0 || h <= 0 || MaxIconSide % w != 0 || MaxIconSide % h != 0) return false;
  }
  return true;
}

void ReduceLargeSource(TBitmapFix32& bitmap, const TBitmap* mask, int& width, int& height, int& depth, bool hasMask,
                       const TConversionOptions& options) {
  const TRect fitted = FitRect(Rect(0, 0, MaxIconSide, MaxIconSide), width, height);
  const int filter = ChooseFilter(options.Smooth, width, height, MaxIconSide, MaxIconSide);
  const TPixelFormat format = depth > 24 || hasMask ? pf32bit : pf24bit;
  TBitmapFix32 reduced;
  if (depth >= 24) {
    ConvertBitmap(bitmap, mask, reduced, nullptr, format, fitted.Width(), fitted.Height(), AlphaThreshold, true,
                  filter);
  } else {
    TBitmap deeper;
    ConvertBitmap(bitmap, mask, deeper, nullptr, format, width, height, AlphaThreshold, true, filter);
    ConvertBitmap(deeper, nullptr, reduced, nullptr, format, fitted.Width(), fitted.Height(), AlphaThreshold, true,
                  filter);
  }
  bitmap = std::move(reduced);
  depth = BitsOfFormat(format);
  width = fitted.Width();
  height = fitted.Height();
}

}  // namespace

void RenderMetafileAt(const std::string& fileName, TBitmapFix32& bitmap, TBitmap& mask, int pictureWidth,
                      int pictureHeight, int width, int height, const TConversionOptions& options,
                      TColor transparentColor) {
  TMetafile metafile;
  metafile.LoadFromFile(fileName);
  const TPlacement placement =
      PlaceImage(pictureWidth, pictureHeight, width, height, options.ShrinkToFit, options.ZoomToFit);
  int drawWidth = std::max(placement.FTarget.Width(), 1);
  int drawHeight = std::max(placement.FTarget.Height(), 1);
  // A larger drawing only helps when the fitting will shrink it again; unshrunk it would be cropped,
  // and a picture placed unscaled would be scaled after all.
  if (options.Smooth && options.ShrinkToFit && placement.FScale) {
    drawWidth *= SmoothFactor;
    drawHeight *= SmoothFactor;
  }
  TBitmap overBlack;
  metafile.Render(bitmap, drawWidth, drawHeight, RGBColor(255, 255, 255));
  metafile.Render(overBlack, drawWidth, drawHeight, RGBColor(0, 0, 0));
  MaskFromTwoRenderings(bitmap, overBlack, mask);
  if (transparentColor != NoColor) AddColorToMask(transparentColor, bitmap, mask);
}

void BuildPictureIcon(TPictureSource& source, const TConversionOptions& options, TRunFlags& flags,
                      TAdvancedIcon& icon) {
  TBitmapFix32& bitmap = source.FBitmap;
  TBitmap scratchMask = NewMonochromeBitmap();
  DropEmptyAlpha(bitmap);
  int width = bitmap.Width(), height = bitmap.Height();
  int depth = BitsOfFormat(bitmap.PixelFormat());
  TColor colour = options.TransparentColor;
  TransparencyColorForMode(bitmap, options.TransparencyMode, colour);
  bool hasMask = source.FMaskValid;
  if (colour != NoColor && !source.FIsMetafile) {
    if (depth == 32) {
      ClearColor32(bitmap, colour);
      hasMask = false;
    } else {
      if (hasMask)
        AddColorToMask(colour, bitmap, source.FMask);
      else
        MaskFromColor(colour, bitmap, source.FMask);
      hasMask = true;
    }
  }

  const std::vector<TRequest> requests = Requests(options);
  if (WantsLargeSourceReduction(requests, options, width, height, depth, source.FIsVector || source.FIsMetafile)) {
    ReduceLargeSource(bitmap, hasMask ? &source.FMask : nullptr, width, height, depth, hasMask, options);
    hasMask = false;
  }

  bool renderingFailed = false;
  // The size the vector drawing was last rendered at, as asked for (0 × 0: its own size).
  int renderedWidth = 0, renderedHeight = 0;
  for (const TRequest& request : requests) {
    if (source.FIsMetafile) {
      width = source.FNaturalWidth;
      height = source.FNaturalHeight;
    } else if (source.FIsVector && !renderingFailed) {
      const int wantedWidth = std::min(request.Width, MaxIconSide);
      const int wantedHeight = std::min(request.Height, MaxIconSide);
      const bool drawn = (wantedWidth == renderedWidth && wantedHeight == renderedHeight) ||
                         (bitmap.Width() == wantedWidth && bitmap.Height() == wantedHeight);
      if (!drawn) {
        if (RenderVectorFile(source.FFileName, bitmap, wantedWidth, wantedHeight)) {
          renderedWidth = wantedWidth;
          renderedHeight = wantedHeight;
          // Every rendering loses its transparent colour, as the first one did; its transparency
          // lives in alpha, so an earlier mask no longer applies.
          ClearColor32(bitmap, colour);
          hasMask = false;
        } else {
          renderingFailed = true;
        }
      }
      width = bitmap.Width();
      height = bitmap.Height();
      depth = BitsOfFormat(bitmap.PixelFormat());
    }
    const TRequest wanted = Resolve(request, width, height, depth, flags);
    if (icon.Images.FindExact(wanted.Width, wanted.Height, wanted.Depth) >= 0) continue;
    if (source.FIsMetafile) {
      RenderMetafileAt(source.FFileName, bitmap, source.FMask, width, height, wanted.Width, wanted.Height, options,
                       colour);
      hasMask = true;
      width = bitmap.Width();
      height = bitmap.Height();
      depth = BitsOfFormat(bitmap.PixelFormat());
    }
    const TBitmap* mask = hasMask ? &source.FMask : nullptr;
    if (wanted.Width == width && wanted.Height == height && wanted.Depth == depth) {
      icon.Images.AddFromBitmap(bitmap, mask, depth == 32 ? AlphaThreshold : 0);
      continue;
    }
    BuildOneImage({bitmap, width, height, depth, mask}, wanted.Width, wanted.Height, wanted.Depth, options, scratchMask,
                  icon);
  }
}

void RebuildIcon(TAdvancedIcon& icon, TBitmapFix32& bitmap, TBitmap& mask, const TConversionOptions& options,
                 TRunFlags& flags) {
  if (icon.Images.Count() == 0) return;
  TBitmap scratchMask = NewMonochromeBitmap();
  TAdvancedIcon rebuilt;
  const std::vector<TRequest> requests = Requests(options);

  for (const TRequest& request : requests)
    for (const auto& image : icon.Images) {
      const int w = image->GetWidth(), h = image->GetHeight(), d = image->GetBitsPerPixel();
      const bool matches = (request.Width == 0 || request.Width == w) && (request.Height == 0 || request.Height == h) &&
                           (request.Depth == 0 || request.Depth == d);
      if (matches && rebuilt.Images.FindExact(w, h, d) < 0) rebuilt.Images.Add(TSubIcon::CreateCopy(*image));
    }

  TColor colour = options.TransparentColor;
  for (const TRequest& request : requests) {
    const TSubIcon* best = icon.FindBest(request.Width, request.Height, request.Depth);
    const int sw = best->GetWidth(), sh = best->GetHeight(), sd = best->GetBitsPerPixel();
    const TRequest wanted = Resolve(request, sw, sh, sd, flags);
    if (rebuilt.Images.FindExact(wanted.Width, wanted.Height, wanted.Depth) >= 0) continue;

    // Through the working bitmap's own stream load, so colour bits without alpha arrive opaque.
    TBitmap colourBits;
    best->RenderBitmaps(nullptr, &colourBits, &mask, 0);
    TMemoryStream stream;
    colourBits.SaveToStream(stream);
    stream.SetPosition(0);
    bitmap.LoadFromStream(stream);

    DropEmptyAlpha(bitmap);
    TransparencyColorForMode(bitmap, options.TransparencyMode, colour);
    const TBitmap* imageMask = &mask;
    if (colour != NoColor) {
      if (sd == 32) {
        ClearColor32(bitmap, colour);
        imageMask = nullptr;
      } else {
        AddColorToMask(colour, bitmap, mask);
      }
    }
    if (wanted.Width == sw && wanted.Height == sh && wanted.Depth == sd) {
      rebuilt.Images.AddFromBitmap(bitmap, imageMask, sd == 32 ? AlphaThreshold : 0);
      continue;
    }
    BuildOneImage({bitmap, sw, sh, sd, imageMask}, wanted.Width, wanted.Height, wanted.Depth, options, scratchMask,
                  rebuilt);
  }
  icon.Images.Clear();
  icon.Images.TakeAll(&rebuilt);
}

}  // namespace glyphmill
