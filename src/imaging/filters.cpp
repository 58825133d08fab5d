#include "imaging/filters.h"

#include <cmath>
#include <numbers>

namespace glyphmill {

namespace {

double Triangle(double t) {
  const double a = std::abs(t);
  return a < 1.0 ? 1.0 - a : 0.0;
}

double Hermite(double t) {
  const double a = std::abs(t);
  return a < 1.0 ? (2.0 * a - 3.0) * a * a + 1.0 : 0.0;
}

double Bell(double t) {
  const double a = std::abs(t);
  if (a < 0.5) return 0.75 - a * a;
  if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
  return 0.0;
}

double BSpline(double t) {
  const double a = std::abs(t);
  if (a < 1.0) return 0.5 * a * a * a - a * a + 2.0 / 3.0;
  if (a < 2.0) return (2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0;
  return 0.0;
}

double Lanczos3(double t) {
  if (t == 0.0) return 1.0;
  const double a = std::abs(t);
  if (a >= 3.0) return 0.0;
  const double x = std::numbers::pi * a;
  return std::sin(x) * std::sin(x / 3.0) / (x * (x / 3.0));
}

double Mitchell(double t) {
  const double a = std::abs(t);
  if (a < 1.0) return (7.0 * a * a * a - 12.0 * a * a + 16.0 / 3.0) / 6.0;
  if (a < 2.0) return (-(7.0 / 3.0) * a * a * a + 12.0 * a * a - 20.0 * a + 32.0 / 3.0) / 6.0;
  return 0.0;
}

double Box(double t) { return t > -0.5 && t <= 0.5 ? 1.0 : 0.0; }

double Linear(double t) {
  if (t >= -1.0 && t < 0.0) return 1.0 + t;
  if (t >= 0.0 && t < 1.0) return 1.0 - t;
  return 0.0;
}

struct TFilterEntry {
  double (*FKernel)(double);
  double FSupport;
};

constexpr TFilterEntry Filters[LastFilter] = {
    {Triangle, 1.0}, {Hermite, 1.0},  {Bell, 1.5}, {BSpline, 2.0},
    {Lanczos3, 3.0}, {Mitchell, 2.0}, {Box, 1.0},  {Linear, 1.0},
};

}  // namespace

bool IsResamplingFilter(int filter) { return filter >= 1 && filter <= LastFilter; }

double FilterKernel(int filter, double t) { return IsResamplingFilter(filter) ? Filters[filter - 1].FKernel(t) : 0.0; }

double FilterSupport(int filter) { return IsResamplingFilter(filter) ? Filters[filter - 1].FSupport : 0.0; }

int ChooseFilter(bool smooth, int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) {
  if (!smooth) return NoFilter;
  if (sourceWidth < targetWidth && sourceHeight < targetHeight) return MitchellFilter;
  return LanczosFilter;
}

int MirrorIndex(int64_t j, int n) {
  if (j < 0)
    j = -j;
  else if (j >= n)
    j = 2LL * n - j - 1;
  if (j < 0) return 0;
  if (j >= n) return n - 1;
  return static_cast<int>(j);
}

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

TLineWeights ComputeLineWeights(int sourceCount, int targetCount, int filter, int sourcePad, int targetPad) {
  TLineWeights table;
  table.FStart.reserve(static_cast<size_t>(targetCount) + 1);
  table.FPaddingWeight.reserve(static_cast<size_t>(targetCount));
  table.FStart.push_back(0);
  if (!IsResamplingFilter(filter) || sourceCount <= 0 || targetCount <= 0) {
    table.FStart.resize(static_cast<size_t>(targetCount) + 1, 0);
    table.FPaddingWeight.resize(static_cast<size_t>(targetCount), 0);
    return table;
  }
  const auto kernel = Filters[filter - 1].FKernel;
  const double support = Filters[filter - 1].FSupport;
  const int n = sourceCount + 2 * sourcePad;
  const int m = targetCount + 2 * targetPad;
  // The first target pixel maps onto source position 0 and the last onto n − 1.
  const double scale = (n == 1 || m == 1) ? static_cast<double>(m) / n : static_cast<double>(m - 1) / (n - 1);
  const bool reducing = scale < 1.0;
  const double fscale = reducing ? 1.0 / scale : 1.0;
  const double width = reducing ? support / scale : support;

  struct TCandidate {
    int64_t FIndex;
    double FValue;
  };
  std::vector<TCandidate> candidates;
  for (int i = targetPad; i < targetPad + targetCount; ++i) {
    const double centre = i / scale;
    const auto first = static_cast<int64_t>(std::floor(centre - width));
    const auto last = static_cast<int64_t>(std::ceil(centre + width));
    candidates.clear();
    bool anyWeight = false;
    int32_t paddingWeight = 0;
    const auto add = [&](int64_t j, int32_t weight) {
      const int mirrored = MirrorIndex(j, n) - sourcePad;
      if (mirrored < 0 || mirrored >= sourceCount)
        paddingWeight += weight;
      else
        table.FTaps.push_back(TContribution{mirrored, weight});
    };
    for (int64_t j = first; j <= last; ++j) {
      const double value =
          reducing ? kernel((centre - static_cast<double>(j)) / fscale) : kernel(centre - static_cast<double>(j));
      const int weight = RoundHalfEven(reducing ? value * 256.0 / fscale : value * 256.0);
      if (weight != 0) {
        anyWeight = true;
        add(j, weight);
      } else if (value > 0.0)
        candidates.push_back(TCandidate{j, value});
    }
    // On reductions beyond 1:512 every weight rounds to 0, which would leave the pixel empty; the
    // kernel's positive candidates then share the pixel equally instead.
    if (!anyWeight)
      for (const TCandidate& candidate : candidates) add(candidate.FIndex, 1);
    table.FStart.push_back(static_cast<int32_t>(table.FTaps.size()));
    table.FPaddingWeight.push_back(paddingWeight);
  }
  return table;
}

}  // namespace glyphmill
