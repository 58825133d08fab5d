// The WMF record player: reads the placeable and standard headers and plays the records through
// a metafile canvas.
#pragma once

#include <cstdint>
#include <span>

#include "platform/metafile_canvas.h"

namespace glyphmill {

struct TWmfHeader {
  bool Placeable = false;
  TMfRect Frame;  // logical units: the placeable box, or the first window origin and extent
  double UnitsPerInch = 96;
  size_t RecordsOffset = 0;
};

// Fails with EReadError("Metafile is not valid") when the bytes are not a WMF with an extent.
TWmfHeader ReadWmfHeader(std::span<const uint8_t> bytes);
bool IsWmf(std::span<const uint8_t> bytes);

// Plays the records with the frame stretched onto width × height output pixels.
void PlayWmf(std::span<const uint8_t> bytes, const TWmfHeader& header, TMetafileCanvas& canvas, int width, int height);

}  // namespace glyphmill
