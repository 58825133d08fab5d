// Speed of the two steps every icon image goes through: palette reduction to 8 bits and PNG
// compression of large images.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "imaging/colorreduction.h"
#include "platform/png_codec.h"

namespace {

using namespace glyphmill;

// A photograph-like 32-bit picture: smooth shading, fine noise and a soft transparent border.
TBitmap Photo(int size) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(size, size);
  uint32_t seed = 7;
  for (int y = 0; y < size; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < size; ++x) {
      seed = seed * 1664525 + 1013904223;
      const int noise = static_cast<int>(seed >> 28) - 8;
      const double u = x * 6.0 / size, v = y * 6.0 / size;
      auto channel = [noise](double value) { return static_cast<uint8_t>(std::clamp(value + noise, 0.0, 255.0)); };
      row[4 * x] = channel(128 + 100 * std::sin(u) * std::cos(v));
      row[4 * x + 1] = channel(128 + 90 * std::sin(u + v));
      row[4 * x + 2] = channel(128 + 110 * std::cos(u * 0.7 - v));
      const int edge = std::min(std::min(x, y), std::min(size - 1 - x, size - 1 - y));
      row[4 * x + 3] = static_cast<uint8_t>(std::min(255, edge * 32));
    }
  }
  return bitmap;
}

void BM_ReduceTo8Bit(benchmark::State& state) {
  const TBitmap photo = Photo(static_cast<int>(state.range(0)));
  TBitmap target;
  for (auto _ : state) ReduceTo8Bit(photo, target, true, 80, 256);
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}
BENCHMARK(BM_ReduceTo8Bit)->Arg(48)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_EncodePng32(benchmark::State& state) {
  const TBitmap photo = Photo(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    TPNGImage png;
    png.Assign(photo);
    bytes = png.SaveToBytes().size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodePng32)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_EncodePng8(benchmark::State& state) {
  TBitmap reduced;
  ReduceTo8Bit(Photo(static_cast<int>(state.range(0))), reduced, true, 80, 256);
  size_t bytes = 0;
  for (auto _ : state) {
    TPNGImage png;
    png.Assign(reduced, 0);
    bytes = png.SaveToBytes().size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodePng8)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_DecodePng32(benchmark::State& state) {
  TPNGImage png;
  png.Assign(Photo(static_cast<int>(state.range(0))));
  const std::vector<uint8_t> bytes = png.SaveToBytes();
  for (auto _ : state) {
    TPNGImage decoded;
    decoded.LoadFromBytes(bytes);
  }
}
BENCHMARK(BM_DecodePng32)->Arg(256)->Unit(benchmark::kMillisecond);

}  // namespace
