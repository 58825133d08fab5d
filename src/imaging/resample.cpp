#include "imaging/resample.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/filters.h"

namespace glyphmill {

namespace {

// Transparent pixels this many pixels wide surround a picture with soft edges while it is resampled.
constexpr int EdgePadding = 30;
// Edge bands averaging more alpha than this count as hard edges and are mirrored as usual.
constexpr int SoftEdgeAlpha = 230;
constexpr uint32_t InvertingPixel = 0x00FFFFFF;

// Gives target the 32-bit format at this size without converting the pixels it held before.
void PrepareTarget32(TBitmap& target, int width, int height) {
  if (target.PixelFormat() != pf32bit) {
    target.SetSize(0, 0);
    target.SetPixelFormat(pf32bit);
  }
  target.SetSize(width, height);
}

void PrepareTarget24(TBitmap& target, int width, int height) {
  if (target.PixelFormat() != pf24bit) {
    target.SetSize(0, 0);
    target.SetPixelFormat(pf24bit);
  }
  target.SetSize(width, height);
}

void FillZero(TBitmap& bitmap) {
  if (bitmap.BitsSize() > 0) std::memset(bitmap.Bits(), 0, bitmap.BitsSize());
}

// A copy of a picture of another format as opaque 32-bit pixels.
TBitmap OpaqueCopy32(const TBitmap& source) {
  TBitmap copy(source);
  copy.SetPixelFormat(pf32bit);
  for (int y = 0; y < copy.Height(); ++y) {
    uint8_t* row = copy.ScanLine(y);
    for (int x = 0; x < copy.Width(); ++x) row[4 * x + 3] = 255;
  }
  return copy;
}

// Where no filter is used: nearest pixels, 32-bit pixels copied with their alpha.
void PlainStretch32(const TBitmap& source, TBitmap& target, int width, int height) {
  PrepareTarget32(target, width, height);
  FillZero(target);
  target.StretchDraw(Rect(0, 0, width, height), source);
}

bool ContainsInvertingPixel(const TBitmap& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, row + 4 * x, 4);
      if (pixel == InvertingPixel) return true;
    }
  }
  return false;
}

void ClearInvertingPixels(TBitmap& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, row + 4 * x, 4);
      if (pixel == InvertingPixel) std::memset(row + 4 * x, 0, 4);
    }
  }
}

// A weighted sum divided by its weight, or, when the weights cancel out, the sum taken as fixed
// point; clamped to a byte either way.
inline uint8_t Resolve(int32_t sum, int32_t weight) {
  const int32_t value = weight != 0 ? sum / weight : sum >> 8;
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// Sum of the plain weights of each target pixel, padding included.
std::vector<int32_t> PlainWeightSums(const TLineWeights& weights) {
  std::vector<int32_t> sums(static_cast<size_t>(weights.Count()));
  for (int i = 0; i < weights.Count(); ++i) {
    int32_t sum = weights.FPaddingWeight[static_cast<size_t>(i)];
    for (const TContribution* tap = weights.Begin(i); tap != weights.End(i); ++tap) sum += tap->FWeight;
    sums[static_cast<size_t>(i)] = sum;
  }
  return sums;
}

struct TPadding {
  int FSource = 0;
  int FTargetX = 0;
  int FTargetY = 0;
};

// Both passes over a 32-bit source. The horizontal pass writes, per work pixel, the alpha-weighted
// colour and the alpha-weighted alpha (which weights the vertical pass's colour) plus, apart, the
// plain alpha average; the vertical pass writes colour and plain alpha into the target.
void ResampleAlphaWeighted(const TBitmap& source, TBitmap& target, int filter, TPadding padding) {
  const int sourceWidth = source.Width(), sourceHeight = source.Height();
  const int targetWidth = target.Width(), targetHeight = target.Height();
  const TLineWeights columns =
      ComputeLineWeights(sourceWidth, targetWidth, filter, padding.FSource, padding.FTargetX);
  const TLineWeights rows = ComputeLineWeights(sourceHeight, targetHeight, filter, padding.FSource, padding.FTargetY);
  const std::vector<int32_t> columnSums = PlainWeightSums(columns);
  const std::vector<int32_t> rowSums = PlainWeightSums(rows);

  const size_t workStride = static_cast<size_t>(targetWidth) * 4;
  std::vector<uint8_t> work(workStride * static_cast<size_t>(sourceHeight));
  std::vector<uint8_t> workAlpha(static_cast<size_t>(targetWidth) * static_cast<size_t>(sourceHeight));

  for (int y = 0; y < sourceHeight; ++y) {
    const uint8_t* row = source.ScanLine(y);
    uint8_t* out = work.data() + workStride * static_cast<size_t>(y);
    uint8_t* outAlpha = workAlpha.data() + static_cast<size_t>(targetWidth) * static_cast<size_t>(y);
    for (int x = 0; x < targetWidth; ++x) {
      int32_t coverage = 0, blue = 0, green = 0, red = 0, alpha = 0, plainAlpha = 0;
      for (const TContribution *tap = columns.Begin(x), *end = columns.End(x); tap != end; ++tap) {
        const uint8_t* pixel = row + 4 * tap->FIndex;
        const int32_t a = pixel[3];
        const int32_t effective = tap->FWeight * a / 255;
        coverage += effective;
        blue += pixel[0] * effective;
        green += pixel[1] * effective;
        red += pixel[2] * effective;
        alpha += a * effective;
        plainAlpha += a * tap->FWeight;
      }
      out[4 * x] = Resolve(blue, coverage);
      out[4 * x + 1] = Resolve(green, coverage);
      out[4 * x + 2] = Resolve(red, coverage);
      out[4 * x + 3] = Resolve(alpha, coverage);
      outAlpha[x] = Resolve(plainAlpha, columnSums[static_cast<size_t>(x)]);
    }
  }

  const auto width = static_cast<size_t>(targetWidth);
  std::vector<int32_t> sums(width * 5);
  int32_t* coverage = sums.data();
  int32_t* blue = coverage + width;
  int32_t* green = blue + width;
  int32_t* red = green + width;
  int32_t* plainAlpha = red + width;
  for (int y = 0; y < targetHeight; ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    for (const TContribution *tap = rows.Begin(y), *end = rows.End(y); tap != end; ++tap) {
      const uint8_t* in = work.data() + workStride * static_cast<size_t>(tap->FIndex);
      const uint8_t* inAlpha = workAlpha.data() + width * static_cast<size_t>(tap->FIndex);
      const int32_t weight = tap->FWeight;
      for (size_t x = 0; x < width; ++x) {
        const int32_t effective = weight * in[4 * x + 3] / 255;
        coverage[x] += effective;
        blue[x] += in[4 * x] * effective;
        green[x] += in[4 * x + 1] * effective;
        red[x] += in[4 * x + 2] * effective;
        plainAlpha[x] += inAlpha[x] * weight;
      }
    }
    const int32_t plainWeight = rowSums[static_cast<size_t>(y)];
    uint8_t* out = target.ScanLine(y);
    for (size_t x = 0; x < width; ++x) {
      out[4 * x] = Resolve(blue[x], coverage[x]);
      out[4 * x + 1] = Resolve(green[x], coverage[x]);
      out[4 * x + 2] = Resolve(red[x], coverage[x]);
      out[4 * x + 3] = Resolve(plainAlpha[x], plainWeight);
    }
  }
}

// The filtered core with the rule for inverting pixels: resampling must not invent them.
void ResampleCore(const TBitmap& source, TBitmap& target, int filter, TPadding padding) {
  const bool sourceInverts = ContainsInvertingPixel(source);
  ResampleAlphaWeighted(source, target, filter, padding);
  if (!sourceInverts) ClearInvertingPixels(target);
}

void Resample32(const TBitmap& source, TBitmap& target, int filter);

// Resamples a one-pixel line through a copy two pixels wide (or high), which the filtered path
// handles, and cuts the result back.
void ResampleThroughDoubledLine(const TBitmap& source, TBitmap& target, int filter, bool doubleColumns) {
  const int width = target.Width(), height = target.Height();
  TBitmap doubled;
  PrepareTarget32(doubled, doubleColumns ? 2 : source.Width(), doubleColumns ? source.Height() : 2);
  doubled.Draw(0, 0, source);
  doubled.Draw(doubleColumns ? 1 : 0, doubleColumns ? 0 : 1, source);
  TBitmap result;
  PrepareTarget32(result, doubleColumns ? 2 : width, doubleColumns ? height : 2);
  Resample32(doubled, result, filter);
  PrepareTarget32(target, width, height);
  target.Draw(0, 0, result);
}

// Two steps through an intermediate size.
void ResampleThrough(const TBitmap& source, TBitmap& target, int filter, int width, int height) {
  TBitmap intermediate;
  PrepareTarget32(intermediate, width, height);
  Resample32(source, intermediate, filter);
  Resample32(intermediate, target, filter);
}

void Resample32(const TBitmap& source, TBitmap& target, int filter) {
  const int sourceWidth = source.Width(), sourceHeight = source.Height();
  const int targetWidth = target.Width(), targetHeight = target.Height();
  if (sourceWidth == targetWidth && sourceHeight == targetHeight) {
    target.Assign(source);
    return;
  }
  if (sourceWidth == 0 || sourceHeight == 0) {
    PrepareTarget32(target, targetWidth, targetHeight);
    FillZero(target);
    return;
  }
  if (targetWidth == 0 || targetHeight == 0) return;
  if (targetWidth == 1 && sourceWidth == 1) return ResampleThroughDoubledLine(source, target, filter, true);
  if (targetHeight == 1 && sourceHeight == 1) return ResampleThroughDoubledLine(source, target, filter, false);
  if (targetWidth == 1) {
    if (sourceHeight == targetHeight) return PlainStretch32(source, target, targetWidth, targetHeight);
    return ResampleThrough(source, target, filter, sourceWidth, targetHeight);
  }
  if (targetHeight == 1) {
    if (sourceWidth == targetWidth) return PlainStretch32(source, target, targetWidth, targetHeight);
    return ResampleThrough(source, target, filter, targetWidth, sourceHeight);
  }
  if ((sourceWidth < 2 && sourceHeight < 2) || !IsResamplingFilter(filter))
    return PlainStretch32(source, target, targetWidth, targetHeight);

  PrepareTarget32(target, targetWidth, targetHeight);
  TPadding padding;
  const std::optional<TEdgeBandAlphas> edges = EdgeBandAlphas(source);
  if (edges && targetWidth >= 4 && targetHeight >= 4) {
    const int bands[] = {edges->FLeft, edges->FTop, edges->FRight, edges->FBottom};
    const bool anySoft = std::any_of(std::begin(bands), std::end(bands), [](int a) { return a != 0; });
    const bool noneHard = std::all_of(std::begin(bands), std::end(bands), [](int a) { return a <= SoftEdgeAlpha; });
    if (anySoft && noneHard) {
      // The picture is resampled inside a transparent frame and the frame's share of the result is
      // cut away again; only the wanted part of the larger result is computed.
      padding.FSource = EdgePadding;
      padding.FTargetX = RoundHalfEven(static_cast<double>(targetWidth) * EdgePadding / sourceWidth);
      padding.FTargetY = RoundHalfEven(static_cast<double>(targetHeight) * EdgePadding / sourceHeight);
    }
  }
  ResampleCore(source, target, filter, padding);
}

// Plain weights over 24-bit colour.
void ResampleOpaqueColor(const TBitmap& source, TBitmap& target, int filter) {
  const int sourceHeight = source.Height();
  const int targetWidth = target.Width(), targetHeight = target.Height();
  const TLineWeights columns = ComputeLineWeights(source.Width(), targetWidth, filter);
  const TLineWeights rows = ComputeLineWeights(sourceHeight, targetHeight, filter);
  const std::vector<int32_t> columnSums = PlainWeightSums(columns);
  const std::vector<int32_t> rowSums = PlainWeightSums(rows);

  const size_t workStride = static_cast<size_t>(targetWidth) * 3;
  std::vector<uint8_t> work(workStride * static_cast<size_t>(sourceHeight));
  for (int y = 0; y < sourceHeight; ++y) {
    const uint8_t* row = source.ScanLine(y);
    uint8_t* out = work.data() + workStride * static_cast<size_t>(y);
    for (int x = 0; x < targetWidth; ++x) {
      int32_t blue = 0, green = 0, red = 0;
      for (const TContribution *tap = columns.Begin(x), *end = columns.End(x); tap != end; ++tap) {
        const uint8_t* pixel = row + 3 * tap->FIndex;
        blue += pixel[0] * tap->FWeight;
        green += pixel[1] * tap->FWeight;
        red += pixel[2] * tap->FWeight;
      }
      const int32_t weight = columnSums[static_cast<size_t>(x)];
      out[3 * x] = Resolve(blue, weight);
      out[3 * x + 1] = Resolve(green, weight);
      out[3 * x + 2] = Resolve(red, weight);
    }
  }

  std::vector<int32_t> sums(workStride);
  for (int y = 0; y < targetHeight; ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    for (const TContribution *tap = rows.Begin(y), *end = rows.End(y); tap != end; ++tap) {
      const uint8_t* in = work.data() + workStride * static_cast<size_t>(tap->FIndex);
      const int32_t weight = tap->FWeight;
      for (size_t i = 0; i < workStride; ++i) sums[i] += in[i] * weight;
    }
    const int32_t weight = rowSums[static_cast<size_t>(y)];
    uint8_t* out = target.ScanLine(y);
    for (size_t i = 0; i < workStride; ++i) out[i] = Resolve(sums[i], weight);
  }
}

}  // namespace

std::optional<TEdgeBandAlphas> EdgeBandAlphas(const TBitmap& source) {
  const int width = source.Width(), height = source.Height();
  if (source.PixelFormat() != pf32bit || width < 4 || height < 4 || width / height > 40 || height / width > 40)
    return std::nullopt;
  // A wide picture can be lower than the band is thick; the bands then stop at the picture.
  const int thickness = width / 32 + 1;
  const int columns = std::min(thickness, width);
  const int rows = std::min(thickness, height);
  int64_t left = 0, right = 0, top = 0, bottom = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = source.ScanLine(y);
    for (int x = 0; x < columns; ++x) {
      left += row[4 * x + 3];
      right += row[4 * (width - 1 - x) + 3];
    }
  }
  for (int y = 0; y < rows; ++y) {
    const uint8_t* topRow = source.ScanLine(y);
    const uint8_t* bottomRow = source.ScanLine(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      top += topRow[4 * x + 3];
      bottom += bottomRow[4 * x + 3];
    }
  }
  const int64_t sidePixels = static_cast<int64_t>(columns) * height;
  const int64_t endPixels = static_cast<int64_t>(rows) * width;
  return TEdgeBandAlphas{static_cast<int>(left / sidePixels), static_cast<int>(top / endPixels),
                         static_cast<int>(right / sidePixels), static_cast<int>(bottom / endPixels)};
}

void ResampleBitmap(const TBitmap& source, TBitmap& target, int filter) {
  if (source.PixelFormat() != pf32bit || &source == &target) {
    const TBitmap copy = source.PixelFormat() == pf32bit ? source : OpaqueCopy32(source);
    Resample32(copy, target, filter);
    return;
  }
  Resample32(source, target, filter);
}

void FilteredResample(const TBitmap& source, TBitmap& target, int filter) {
  const int width = target.Width(), height = target.Height();
  if (source.PixelFormat() != pf32bit || &source == &target) {
    const TBitmap copy = source.PixelFormat() == pf32bit ? source : OpaqueCopy32(source);
    PrepareTarget32(target, width, height);
    ResampleCore(copy, target, filter, TPadding{});
    return;
  }
  PrepareTarget32(target, width, height);
  ResampleCore(source, target, filter, TPadding{});
}

void ResampleOpaque(const TBitmap& source, TBitmap& target, int filter) {
  const int width = target.Width(), height = target.Height();
  if (source.PixelFormat() != pf24bit || &source == &target) {
    TBitmap copy(source);
    copy.SetPixelFormat(pf24bit);
    ResampleOpaque(copy, target, filter);
    return;
  }
  if (source.Width() == width && source.Height() == height) {
    target.Assign(source);
    return;
  }
  PrepareTarget24(target, width, height);
  if (source.Empty() || target.Empty()) {
    FillZero(target);
    return;
  }
  if ((source.Width() < 2 && source.Height() < 2) || !IsResamplingFilter(filter)) {
    target.StretchDraw(Rect(0, 0, width, height), source);
    return;
  }
  ResampleOpaqueColor(source, target, filter);
}

}  // namespace glyphmill
