#include "platform/metafile.h"

#include <algorithm>
#include <cmath>

#include "platform/metafile_canvas.h"
#include "platform/metafile_emf.h"
#include "platform/metafile_wmf.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

int PixelsAt96(double length, double unitsPerInch) {
  const double pixels = std::nearbyint(std::fabs(length) * 96 / unitsPerInch);
  if (!std::isfinite(pixels)) return 1;
  return static_cast<int>(std::clamp(pixels, 1.0, 1.0e6));
}

}  // namespace

void TMetafile::LoadFromBytes(std::vector<uint8_t> bytes) {
  if (IsEmf(bytes)) {
    const TEmfHeader header = ReadEmfHeader(bytes);
    const bool frameUsable = header.Frame.Right > header.Frame.Left && header.Frame.Bottom > header.Frame.Top;
    if (frameUsable) {
      FWidth = PixelsAt96(header.Frame.Right - header.Frame.Left, 2540);
      FHeight = PixelsAt96(header.Frame.Bottom - header.Frame.Top, 2540);
    } else {
      FWidth = PixelsAt96(header.Bounds.Right - header.Bounds.Left + 1, 96);
      FHeight = PixelsAt96(header.Bounds.Bottom - header.Bounds.Top + 1, 96);
    }
    FEnhanced = true;
  } else {
    const TWmfHeader header = ReadWmfHeader(bytes);
    FWidth = PixelsAt96(header.Frame.Right - header.Frame.Left, header.UnitsPerInch);
    FHeight = PixelsAt96(header.Frame.Bottom - header.Frame.Top, header.UnitsPerInch);
    FEnhanced = false;
  }
  FBytes = std::move(bytes);
}

void TMetafile::LoadFromStream(TStream& stream) {
  TMemoryStream memory;
  memory.LoadFromStream(stream);
  LoadFromBytes(std::move(memory.Bytes()));
}

void TMetafile::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadFileBytes(fileName)); }

void TMetafile::Render(TBitmap& target, int width, int height, TColor background) const {
  if (FBytes.empty()) throw EReadError("Metafile is not valid");
  TMetafileCanvas canvas(width, height, background);
  if (FEnhanced)
    PlayEmf(FBytes, ReadEmfHeader(FBytes), canvas, width, height);
  else
    PlayWmf(FBytes, ReadWmfHeader(FBytes), canvas, width, height);
  canvas.CopyTo(target);
}

}  // namespace glyphmill
