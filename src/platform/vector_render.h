// The embedded vector renderers: SVG through librsvg, PDF and AI (their first page) through
// poppler-glib. A drawing is rendered at the requested pixel size itself, never as a scaled bitmap.
// Setting the environment variable GLYPHMILL_NO_EMBEDDED_RENDERER (to anything but "" or "0")
// turns them off, so that the path where no renderer is available can be exercised.
#pragma once

#include <string>

#include "platform/bitmap.h"

namespace glyphmill {

// False when GLYPHMILL_NO_EMBEDDED_RENDERER turns the embedded renderers off.
bool EmbeddedRenderersEnabled();

// The drawing's own size in pixels (96 dots per inch) as the embedded readers see it, without
// rendering; false when they cannot open fileName (by its extension: "svg", "pdf" or "ai") or the
// size is not positive and finite.
bool VectorNaturalSize(const std::string& fileName, double& width, double& height);

// Renders fileName (by its extension: "svg", or "pdf" and "ai") into target as a 32-bit bitmap
// with alpha (not premultiplied; fully transparent pixels are 0 in all four bytes). A width or
// height of 0 takes the drawing's own size at 96 dots per inch for that side, keeping the
// proportions when the other side is given. Returns false when the renderers are off, the
// extension is not theirs, or the file cannot be rendered; target is then unchanged.
bool RenderVectorEmbedded(const std::string& fileName, int width, int height, TBitmap& target);

}  // namespace glyphmill
