// The EMF record player: reads the enhanced-metafile header and plays the records through a
// metafile canvas.
#pragma once

#include <cstdint>
#include <span>

#include "platform/metafile_canvas.h"

namespace glyphmill {

struct TEmfHeader {
  TMfRect Bounds;  // device pixels of the reference device, inclusive
  TMfRect Frame;   // 0.01 mm, inclusive
  double DevicePixelsX = 0, DevicePixelsY = 0;
  double DeviceMillimetresX = 0, DeviceMillimetresY = 0;
};

// Fails with EReadError("Metafile is not valid") when the bytes are not an EMF.
TEmfHeader ReadEmfHeader(std::span<const uint8_t> bytes);
bool IsEmf(std::span<const uint8_t> bytes);

// Plays the records with the frame stretched onto width × height output pixels.
void PlayEmf(std::span<const uint8_t> bytes, const TEmfHeader& header, TMetafileCanvas& canvas, int width, int height);

}  // namespace glyphmill
