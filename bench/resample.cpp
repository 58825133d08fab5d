// Resampling a 1024 × 1024 picture with alpha and soft, anti-aliased edges to the icon sizes with
// the Lanczos filter, as the icon builder does for every picture it fits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imaging/filters.h"
#include "imaging/resample.h"

namespace glyphmill {
namespace {

// A photograph-like colour field inside a disc whose rim fades over 24 pixels, so the edge bands
// average between 1 and 230 and the resampler takes its padded path.
const TBitmap& SoftEdgedPicture() {
  static const TBitmap picture = [] {
    constexpr int Size = 1024;
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf32bit);
    bitmap.SetSize(Size, Size);
    uint32_t seed = 12345;
    for (int y = 0; y < Size; ++y) {
      uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < Size; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const double dx = x - Size / 2 + 0.5, dy = y - Size / 2 + 0.5;
        const double rim = (Size / 2 + 40 - std::sqrt(dx * dx + dy * dy)) / 24.0;
        const double coverage = rim <= 0 ? 0 : rim >= 1 ? 1 : rim;
        row[4 * x] = static_cast<uint8_t>((x * 255 / Size + (seed >> 28)) & 0xFF);
        row[4 * x + 1] = static_cast<uint8_t>((y * 255 / Size + (seed >> 24 & 7)) & 0xFF);
        row[4 * x + 2] = static_cast<uint8_t>(((x + y) * 127 / Size) ^ (seed >> 29));
        row[4 * x + 3] = static_cast<uint8_t>(std::lround(coverage * 255));
      }
    }
    if (!EdgeBandAlphas(bitmap)) std::abort();
    return bitmap;
  }();
  return picture;
}

void BM_ResampleBitmap(benchmark::State& state) {
  const TBitmap& source = SoftEdgedPicture();
  const int size = static_cast<int>(state.range(0));
  TBitmap target;
  for (auto _ : state) {
    target.SetSize(size, size);
    ResampleBitmap(source, target, LanczosFilter);
    benchmark::DoNotOptimize(target.Bits());
  }
  state.SetItemsProcessed(state.iterations() * int64_t{1024} * 1024);
}
BENCHMARK(BM_ResampleBitmap)->Arg(256)->Arg(48)->Arg(32)->Arg(16)->Unit(benchmark::kMillisecond);

// All four sizes from the one picture, as one icon needs them.
void BM_ResampleIconSet(benchmark::State& state) {
  const TBitmap& source = SoftEdgedPicture();
  TBitmap target;
  for (auto _ : state) {
    for (const int size : {256, 48, 32, 16}) {
      target.SetSize(size, size);
      ResampleBitmap(source, target, LanczosFilter);
      benchmark::DoNotOptimize(target.Bits());
    }
  }
}
BENCHMARK(BM_ResampleIconSet)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace glyphmill
