// The bridge to an installed Inkscape that renders SVG, AI and PDF sources to PNG, with the
// embedded renderers taking over when no Inkscape renders.
//
// Inkscape is looked for in this order: the GLYPHMILL_INKSCAPE environment variable (when it is
// set and not empty it alone decides: a name that is not an executable file means "no Inkscape"),
// `inkscape` on PATH, then /usr/bin/inkscape, /usr/local/bin/inkscape and /snap/bin/inkscape.
// A test forces "neither way renders" with GLYPHMILL_INKSCAPE naming a missing file and
// GLYPHMILL_NO_EMBEDDED_RENDERER=1, after ResetInkscapeSearch().
#pragma once

#include <string>

#include "imaging/bitmapfix32.h"

namespace glyphmill {

// The Inkscape program to run, or empty. The answer is cached for the process and reused while
// that file is still an executable file.
std::string FindInkscape();

// Forgets the cached program and the mark that a search was made (the environment changed).
void ResetInkscapeSearch();

// Renders source into the PNG file output, at width × height when width is not 0. Tries the
// Inkscape 1.x command line, then the 0.92 one when the first leaves no file; up to 5 attempts.
// Returns whether output exists afterwards; false at once when the source is missing, the output
// cannot be deleted first, or no Inkscape is known.
bool RunInkscape(const std::string& source, const std::string& output, int width, int height);

// Renders the vector drawing fileName into bitmap at width × height (0 × 0: its own size, or, for a
// drawing above 4096 pixels on a side, the size that fits it into 4096 × 4096) with
// Inkscape through a private temporary folder that is always removed, or else with the embedded
// renderer. The bitmap becomes 32-bit; pixels with alpha 0 are 0 in all four bytes. Returns false
// when neither way renders.
bool RenderVectorFile(const std::string& fileName, TBitmapFix32& bitmap, int width, int height);

// RenderVectorFile, failing with EReadError("Please install Inkscape to convert AI, SVG, PDF
// images") when neither way renders.
void LoadVectorFile(const std::string& fileName, TBitmapFix32& bitmap, int width, int height);

}  // namespace glyphmill
