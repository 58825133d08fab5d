#include "imaging/pixelformat.h"

#include "support/errors.h"

namespace glyphmill {

int BitsOfFormat(int format) {
  static constexpr int Bits[] = {0, 1, 4, 8, 16, 16, 24, 32};
  return format >= 0 && format <= 7 ? Bits[format] : 0;
}

TPixelFormat FormatOfBits(int bits) {
  switch (bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 15: return pf15bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: return pfDevice;
  }
}

std::string FormatName(int bits) {
  switch (FormatOfBits(bits)) {
    case pf1bit: return "2 colors";
    case pf4bit: return "16 colors";
    case pf8bit: return "256 colors";
    case pf15bit: return "High Color (15 bpp)";
    case pf16bit: return "High Color (16 bpp)";
    case pf24bit: return "True Color (24 bpp)";
    case pf32bit: return "True Color (32 bpp)";
    default: return Format("%d bpp", bits);
  }
}

void SwapRedBlue(uint32_t* values, size_t count) {
  for (size_t i = 0; i < count; ++i) values[i] = SwapRedBlue(values[i]);
}

}  // namespace glyphmill
