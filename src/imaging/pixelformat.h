// Pixel-format codes and their bit counts and display names, and the red/blue swap between colour
// values (0x00BBGGRR) and 32-bit pixels (0xAARRGGBB).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/bitmap.h"

namespace glyphmill {

// Bits per pixel of a format code (15- and 16-bit formats give 16); 0 outside codes 0..7.
int BitsOfFormat(int format);
// 1, 4, 8, 15, 16, 24, 32 to their format codes; every other number to pfDevice.
TPixelFormat FormatOfBits(int bits);
// "2 colors", ..., "True Color (32 bpp)" for the known bit counts, "<n> bpp" for any other.
std::string FormatName(int bits);

// Exchanges the lowest and the third byte of every value.
void SwapRedBlue(uint32_t* values, size_t count);
inline constexpr uint32_t SwapRedBlue(uint32_t value) {
  return (value & 0xFF00FF00u) | ((value & 0xFFu) << 16) | ((value >> 16) & 0xFFu);
}

}  // namespace glyphmill
