// Resampling filters: the table of kernels with their support, the filter a conversion uses, and
// the integer weight lists the resampler computes once per target column and once per target row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glyphmill {

// Filter numbers: 0 is no filter (plain stretch); 1 triangle, 2 Hermite, 3 bell, 4 cubic B-spline,
// 5 Lanczos with three lobes, 6 Mitchell–Netravali (B = C = 1/3), 7 box, 8 linear.
inline constexpr int NoFilter = 0;
inline constexpr int LanczosFilter = 5;
inline constexpr int MitchellFilter = 6;
inline constexpr int LastFilter = 8;

// True for the filter numbers 1..LastFilter; every other number resamples by plain stretch.
bool IsResamplingFilter(int filter);

// f(t) of a filter (0 for a number that is no resampling filter).
double FilterKernel(int filter, double t);
// The radius outside which the kernel is 0 (0 for a number that is no resampling filter).
double FilterSupport(int filter);

// 0 without smoothing; Mitchell when the source is smaller than the target in both directions;
// Lanczos otherwise (reducing, or enlarging in one direction only).
int ChooseFilter(bool smooth, int sourceWidth, int sourceHeight, int targetWidth, int targetHeight);

// Rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(double value);

// Where a candidate index j outside a line of n pixels reads: j < 0 reflects about pixel 0 (−j),
// j ≥ n about the far end with the end pixel repeated (2n − j − 1); what is still outside (kernels
// wider than the line) sticks to the nearer end.
int MirrorIndex(int64_t j, int n);

// One source pixel's share of a target pixel; weights are fixed point with 256 as unity and never
// exceed 256 in magnitude (no kernel exceeds 1), which the resampler's 16-bit arithmetic relies on.
struct TContribution {
  int32_t FIndex;
  int32_t FWeight;
};

// The contributions of a line of source pixels to each target pixel of a line.
struct TLineWeights {
  // Contributions of target pixel i are FTaps[FStart[i]] .. FTaps[FStart[i + 1] - 1].
  std::vector<int32_t> FStart;
  std::vector<TContribution> FTaps;
  // Per target pixel: the summed weights of contributions that fell on transparent padding. They
  // carry no colour and no coverage, so they are kept out of FTaps and only enlarge the plain
  // weight sum.
  std::vector<int32_t> FPaddingWeight;

  int Count() const { return static_cast<int>(FPaddingWeight.size()); }
  const TContribution* Begin(int i) const { return FTaps.data() + FStart[static_cast<size_t>(i)]; }
  const TContribution* End(int i) const { return FTaps.data() + FStart[static_cast<size_t>(i + 1)]; }
};

// Weights for resampling sourceCount pixels into targetCount pixels with a resampling filter.
// With padding, the source line is taken as sourcePad transparent pixels on each side of the
// picture and the target line as targetPad pixels on each side of the wanted ones; only the wanted
// targetCount pixels get weights, and source indexes are those of the picture (0..sourceCount-1).
// Candidates outside the (padded) line are mirrored at its ends. Every target pixel gets at least
// one contribution, even on reductions so strong that each rounded weight would be 0.
TLineWeights ComputeLineWeights(int sourceCount, int targetCount, int filter, int sourcePad = 0, int targetPad = 0);

}  // namespace glyphmill
