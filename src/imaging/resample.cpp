#include "imaging/resample.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  std::vector<uint32_t> pixels(static_cast<size_t>(bitmap.Width()));
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::memcpy(pixels.data(), bitmap.ScanLine(y), pixels.size() * 4);
    // No early exit inside the row, so the comparison runs on whole vectors.
    bool found = false;
    for (const uint32_t pixel : pixels) found |= pixel == InvertingPixel;
    if (found) return true;
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

// w × a / 255 truncated toward zero, for |w| ≤ 256 and 0 ≤ a ≤ 255 (so |w × a| ≤ 65280, where
// ((n + 1) × 257) >> 16 is exactly n / 255 and needs no division).
inline int32_t Div255(int32_t n) { return ((n + 1) * 257) >> 16; }

// The work image between the passes: one plane per channel, so that the vertical pass runs along
// contiguous bytes. Alpha is the alpha-weighted alpha that weights the vertical pass's colour;
// Plain is the plain alpha average.
struct TWorkImage {
  int FWidth;
  std::vector<uint8_t> FBlue, FGreen, FRed, FAlpha, FPlain;
  TWorkImage(int width, int height) : FWidth(width) {
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (auto* plane : {&FBlue, &FGreen, &FRed, &FAlpha, &FPlain}) plane->resize(size);
  }
  size_t Offset(int row) const { return static_cast<size_t>(FWidth) * static_cast<size_t>(row); }
};

// Two contributions to one target pixel, laid out so that one multiply-add weighs blue, green, red
// and alpha of both pixels at once.
struct TTapPair {
  int32_t FIndex0;
  int32_t FIndex1;
  alignas(16) int16_t FWeights[8];  // w0, w1, w0, w1, ...
};

// Sums w × channel over a column's pairs for blue, green, red and alpha.
inline void SumOpaque(const uint8_t* row, const TTapPair* pair, const TTapPair* end, int32_t sums[4]) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i total = zero;
  for (; pair != end; ++pair) {
    int32_t first, second;
    std::memcpy(&first, row + 4 * pair->FIndex0, 4);
    std::memcpy(&second, row + 4 * pair->FIndex1, 4);
    const __m128i interleaved = _mm_unpacklo_epi8(_mm_cvtsi32_si128(first), _mm_cvtsi32_si128(second));
    const __m128i channels = _mm_unpacklo_epi8(interleaved, zero);
    total = _mm_add_epi32(total,
                          _mm_madd_epi16(channels, _mm_load_si128(reinterpret_cast<const __m128i*>(pair->FWeights))));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), total);
#else
  sums[0] = sums[1] = sums[2] = sums[3] = 0;
  for (; pair != end; ++pair) {
    const uint8_t* first = row + 4 * pair->FIndex0;
    const uint8_t* second = row + 4 * pair->FIndex1;
    for (int channel = 0; channel < 4; ++channel)
      sums[channel] += first[channel] * pair->FWeights[0] + second[channel] * pair->FWeights[1];
  }
#endif
}

// The horizontal pass: from the source rows into the work image. Stretches of a row that are
// entirely opaque or entirely transparent take shortcuts with the same results: opaque pixels weigh
// with their plain weights, transparent ones give nothing.
class THorizontalPass {
public:
  THorizontalPass(const TLineWeights& columns, int sourceWidth)
      : FColumns(columns), FColumnSums(PlainWeightSums(columns)), FSourceWidth(sourceWidth) {
    const auto count = static_cast<size_t>(columns.Count());
    FTapSums.resize(count);
    FFirst.resize(count);
    FLast.resize(count);
    FPairStart.reserve(count + 1);
    FPairStart.push_back(0);
    for (int x = 0; x < columns.Count(); ++x) {
      int32_t sum = 0, first = sourceWidth, last = -1;
      for (const TContribution *tap = columns.Begin(x), *end = columns.End(x); tap < end; tap += 2) {
        const TContribution second = tap + 1 < end ? tap[1] : TContribution{tap->FIndex, 0};
        TTapPair pair{tap->FIndex, second.FIndex, {}};
        for (int k = 0; k < 8; k += 2) {
          pair.FWeights[k] = static_cast<int16_t>(tap->FWeight);
          pair.FWeights[k + 1] = static_cast<int16_t>(second.FWeight);
        }
        FPairs.push_back(pair);
        sum += tap->FWeight + second.FWeight;
        first = std::min({first, tap->FIndex, second.FIndex});
        last = std::max({last, tap->FIndex, second.FIndex});
      }
      FPairStart.push_back(static_cast<int32_t>(FPairs.size()));
      FTapSums[static_cast<size_t>(x)] = sum;
      FFirst[static_cast<size_t>(x)] = first;
      FLast[static_cast<size_t>(x)] = last;
    }
    FCounts.resize(static_cast<size_t>(sourceWidth) + 1);
  }

  void Run(const uint8_t* row, TWorkImage& work, int y) {
    // Running counts of non-opaque pixels (low half) and non-transparent pixels (high half).
    uint8_t lowest = 255, highest = 0;
    for (int j = 0; j < FSourceWidth; ++j) {
      lowest = std::min(lowest, row[4 * j + 3]);
      highest = std::max(highest, row[4 * j + 3]);
    }
    const bool mixed = lowest != 255 && highest != 0;
    if (mixed) {
      uint32_t count = 0;
      FCounts[0] = 0;
      for (int j = 0; j < FSourceWidth; ++j) {
        const uint8_t a = row[4 * j + 3];
        count += static_cast<uint32_t>(a != 255) | (static_cast<uint32_t>(a != 0) << 16);
        FCounts[static_cast<size_t>(j) + 1] = count;
      }
    }
    const size_t offset = work.Offset(y);
    uint8_t* outBlue = work.FBlue.data() + offset;
    uint8_t* outGreen = work.FGreen.data() + offset;
    uint8_t* outRed = work.FRed.data() + offset;
    uint8_t* outAlpha = work.FAlpha.data() + offset;
    uint8_t* outPlain = work.FPlain.data() + offset;
    for (int x = 0; x < work.FWidth; ++x) {
      const auto column = static_cast<size_t>(x);
      const int first = FFirst[column], last = FLast[column];
      bool opaque = lowest == 255, clear = highest == 0 || first > last;
      if (mixed && !clear) {
        const uint32_t inside = FCounts[static_cast<size_t>(last) + 1] - FCounts[static_cast<size_t>(first)];
        opaque = (inside & 0xFFFF) == 0;
        clear = (inside >> 16) == 0;
      }
      if (clear) {
        outBlue[x] = outGreen[x] = outRed[x] = outAlpha[x] = outPlain[x] = 0;
      } else if (opaque) {
        int32_t sums[4];
        SumOpaque(row, FPairs.data() + FPairStart[column], FPairs.data() + FPairStart[column + 1], sums);
        const int32_t coverage = FTapSums[column];
        outBlue[x] = Resolve(sums[0], coverage);
        outGreen[x] = Resolve(sums[1], coverage);
        outRed[x] = Resolve(sums[2], coverage);
        outAlpha[x] = Resolve(255 * coverage, coverage);
        outPlain[x] = Resolve(255 * coverage, FColumnSums[column]);
      } else {
        Mixed(row, x, outBlue[x], outGreen[x], outRed[x], outAlpha[x], outPlain[x]);
      }
    }
  }

private:
  void Mixed(const uint8_t* row, int x, uint8_t& outBlue, uint8_t& outGreen, uint8_t& outRed, uint8_t& outAlpha,
             uint8_t& outPlain) const {
    int32_t coverage = 0, blue = 0, green = 0, red = 0, alpha = 0, plainAlpha = 0;
    for (const TContribution *tap = FColumns.Begin(x), *end = FColumns.End(x); tap != end; ++tap) {
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
    outBlue = Resolve(blue, coverage);
    outGreen = Resolve(green, coverage);
    outRed = Resolve(red, coverage);
    outAlpha = Resolve(alpha, coverage);
    outPlain = Resolve(plainAlpha, FColumnSums[static_cast<size_t>(x)]);
  }

  const TLineWeights& FColumns;
  std::vector<int32_t> FColumnSums;
  int FSourceWidth;
  std::vector<int32_t> FTapSums, FFirst, FLast, FPairStart;
  std::vector<TTapPair> FPairs;
  std::vector<uint32_t> FCounts;
};

// Adds one work row into the vertical pass's sums. The weight's sign is fixed per row, so the
// effective weights come from Div255 on magnitudes and the loop stays free of divisions and branches.
template <bool Negative>
void AccumulateRow(const TWorkImage& work, int row, int32_t weight, int32_t* __restrict coverage,
                   int32_t* __restrict blue, int32_t* __restrict green, int32_t* __restrict red,
                   int32_t* __restrict plainAlpha) {
  const size_t offset = work.Offset(row);
  const uint8_t* __restrict inBlue = work.FBlue.data() + offset;
  const uint8_t* __restrict inGreen = work.FGreen.data() + offset;
  const uint8_t* __restrict inRed = work.FRed.data() + offset;
  const uint8_t* __restrict inAlpha = work.FAlpha.data() + offset;
  const uint8_t* __restrict inPlain = work.FPlain.data() + offset;
  const int32_t magnitude = Negative ? -weight : weight;
  for (int x = 0; x < work.FWidth; ++x) {
    const int32_t effective = Div255(magnitude * inAlpha[x]);
    if constexpr (Negative) {
      coverage[x] -= effective;
      blue[x] -= inBlue[x] * effective;
      green[x] -= inGreen[x] * effective;
      red[x] -= inRed[x] * effective;
    } else {
      coverage[x] += effective;
      blue[x] += inBlue[x] * effective;
      green[x] += inGreen[x] * effective;
      red[x] += inRed[x] * effective;
    }
    plainAlpha[x] += inPlain[x] * weight;
  }
}

// Both passes over a 32-bit source: horizontal from the source rows into a work image of the target
// width, then vertical into the target. The target's alpha is the plain average of the source alpha.
void ResampleAlphaWeighted(const TBitmap& source, TBitmap& target, int filter, TPadding padding) {
  const int sourceWidth = source.Width(), sourceHeight = source.Height();
  const int targetWidth = target.Width(), targetHeight = target.Height();
  const TLineWeights columns = ComputeLineWeights(sourceWidth, targetWidth, filter, padding.FSource, padding.FTargetX);
  const TLineWeights rows = ComputeLineWeights(sourceHeight, targetHeight, filter, padding.FSource, padding.FTargetY);
  const std::vector<int32_t> rowSums = PlainWeightSums(rows);

  TWorkImage work(targetWidth, sourceHeight);
  THorizontalPass horizontal(columns, sourceWidth);
  for (int y = 0; y < sourceHeight; ++y) horizontal.Run(source.ScanLine(y), work, y);

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
      if (tap->FWeight < 0)
        AccumulateRow<true>(work, tap->FIndex, tap->FWeight, coverage, blue, green, red, plainAlpha);
      else
        AccumulateRow<false>(work, tap->FIndex, tap->FWeight, coverage, blue, green, red, plainAlpha);
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
