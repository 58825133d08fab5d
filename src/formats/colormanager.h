// The sample-conversion engine of the PCX reader: it is told the source and target sample layout,
// names the pixel format that layout needs, and converts rows of samples between the two.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bitmap.h"
#include "support/errors.h"

namespace glyphmill {

// A sample layout the engine cannot hold.
class EColorConversionError : public EGlyphmillError {
public:
  using EGlyphmillError::EGlyphmillError;
};

enum class TColorScheme { Indexed, RGB, BGR };

class TColorManager {
public:
  // Bits outside 1..16 fail with "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16",
  // sample counts outside 1..4 with "Sample count per pixel does not correspond to the given color
  // scheme".
  void SetSourceBitsPerSample(int bits);
  void SetSourceSamplesPerPixel(int samples);
  void SetTargetBitsPerSample(int bits);
  void SetTargetSamplesPerPixel(int samples);
  void SetSourceScheme(TColorScheme scheme) { FSourceScheme = scheme; }
  void SetTargetScheme(TColorScheme scheme) { FTargetScheme = scheme; }

  int SourceBitsPerSample() const { return FSourceBits; }
  int SourceSamplesPerPixel() const { return FSourceSamples; }
  int TargetBitsPerSample() const { return FTargetBits; }
  int TargetSamplesPerPixel() const { return FTargetSamples; }
  TColorScheme SourceScheme() const { return FSourceScheme; }
  TColorScheme TargetScheme() const { return FTargetScheme; }

  // The pixel format of the target layout; pfDevice stands for a layout no standard format holds.
  TPixelFormat TargetPixelFormat() const;

  // True when ConvertRow can turn one source sample into one target sample: equal depths, or
  // 2-bit indices into 4-bit ones.
  bool CanConvertSamples() const;
  // Converts count single-sample pixels; reads and writes stay inside the two rows (missing
  // source samples count as 0). Equal depths copy; 2-bit indices become 4-bit indices × 5.
  void ConvertRow(std::span<const uint8_t> source, std::span<uint8_t> target, int count) const;

private:
  int FSourceBits = 8;
  int FSourceSamples = 1;
  int FTargetBits = 8;
  int FTargetSamples = 1;
  TColorScheme FSourceScheme = TColorScheme::Indexed;
  TColorScheme FTargetScheme = TColorScheme::Indexed;
};

}  // namespace glyphmill
