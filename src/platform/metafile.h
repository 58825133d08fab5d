// Windows metafiles (WMF with or without the placeable header, and EMF): recognising them, their
// natural size at 96 dots per inch, and playing them stretched onto a 24-bit bitmap over a
// chosen background. Playback skips records it does not know and ends quietly at a malformed one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "support/streams.h"

namespace glyphmill {

class TMetafile {
public:
  // Fail with EReadError("Metafile is not valid") when the bytes are neither WMF nor EMF.
  void LoadFromBytes(std::vector<uint8_t> bytes);
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);

  bool Empty() const { return FBytes.empty(); }
  bool Enhanced() const { return FEnhanced; }
  // Natural size in pixels at 96 dots per inch: the placeable header's box (WMF), the window
  // extent (WMF without that header) or the frame rectangle (EMF).
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  // Plays the picture stretched to width × height into target, which becomes a 24-bit bitmap of
  // that size filled with background first. Sizes above the picture cap fail with EReadError.
  void Render(TBitmap& target, int width, int height, TColor background) const;

private:
  std::vector<uint8_t> FBytes;
  bool FEnhanced = false;
  int FWidth = 0;
  int FHeight = 0;
};

}  // namespace glyphmill
