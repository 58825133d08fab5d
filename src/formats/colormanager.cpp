#include "formats/colormanager.h"

#include <algorithm>
#include <cstring>

namespace glyphmill {

namespace {

int CheckedBits(int bits) {
  if (bits < 1 || bits > 16)
    throw EColorConversionError("Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16");
  return bits;
}

int CheckedSamples(int samples) {
  if (samples < 1 || samples > 4)
    throw EColorConversionError("Sample count per pixel does not correspond to the given color scheme");
  return samples;
}

}  // namespace

void TColorManager::SetSourceBitsPerSample(int bits) { FSourceBits = CheckedBits(bits); }
void TColorManager::SetSourceSamplesPerPixel(int samples) { FSourceSamples = CheckedSamples(samples); }
void TColorManager::SetTargetBitsPerSample(int bits) { FTargetBits = CheckedBits(bits); }
void TColorManager::SetTargetSamplesPerPixel(int samples) { FTargetSamples = CheckedSamples(samples); }

TPixelFormat TColorManager::TargetPixelFormat() const {
  const int b = FTargetBits;
  switch (FTargetSamples) {
    case 1:
      if (b == 1) return pf1bit;
      if (b >= 2 && b <= 4) return pf4bit;
      if (b >= 8) return pf8bit;
      return pfDevice;
    case 3: return b <= 5 ? pf16bit : pf24bit;
    case 4: return b >= 8 ? pf32bit : pfDevice;
    default: return pfDevice;
  }
}

bool TColorManager::CanConvertSamples() const {
  return FSourceSamples == 1 && FTargetSamples == 1 &&
         ((FSourceBits == FTargetBits && FSourceBits <= 8 && 8 % FSourceBits == 0) ||
          (FSourceBits == 2 && FTargetBits == 4));
}

void TColorManager::ConvertRow(std::span<const uint8_t> source, std::span<uint8_t> target, int count) const {
  if (count <= 0) return;
  if (FSourceBits == FTargetBits) {
    const size_t bytes = std::min({(static_cast<size_t>(count) * FSourceBits + 7) / 8, source.size(), target.size()});
    if (bytes > 0) std::memcpy(target.data(), source.data(), bytes);
    return;
  }
  // 2-bit indices (four to a byte, first in the high bits) become nibbles 0, 5, 10 and 15.
  const size_t pixels = std::min(static_cast<size_t>(count), target.size() * 2);
  for (size_t x = 0; x < pixels; ++x) {
    const size_t at = x / 4;
    const int index = at < source.size() ? (source[at] >> (6 - 2 * (x % 4))) & 3 : 0;
    uint8_t& out = target[x / 2];
    if (x % 2 == 0)
      out = static_cast<uint8_t>((out & 0x0F) | (index * 5) << 4);
    else
      out = static_cast<uint8_t>((out & 0xF0) | index * 5);
  }
}

}  // namespace glyphmill
