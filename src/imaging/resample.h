// Resizing pictures: the separable two-pass filtered resampler that averages colours as if
// premultiplied by alpha and coverage plainly, the padding that lets soft picture edges fade
// instead of being mirrored, and the opaque variant for pictures without alpha.
#pragma once

#include <optional>

#include "platform/bitmap.h"

namespace glyphmill {

// Average alpha of the four edge bands of a picture.
struct TEdgeBandAlphas {
  int FLeft = 0;
  int FTop = 0;
  int FRight = 0;
  int FBottom = 0;
  bool operator==(const TEdgeBandAlphas&) const = default;
};

// Only for a 32-bit picture of at least 4 × 4 whose sides differ by at most a factor of 40 (integer
// division); nothing otherwise. Every band is width / 32 + 1 pixels thick (the horizontal bands too),
// at most the picture's own height.
std::optional<TEdgeBandAlphas> EdgeBandAlphas(const TBitmap& source);

// Resamples a 32-bit source into target at the target's current width and height with a filter of
// filters.h (0 or any other number: plain stretch); the target becomes 32-bit. Handles the
// degenerate sizes (empty source, one-pixel lines) and pads pictures with soft edges by 30
// transparent pixels before resampling. A source of another format is read as opaque 32-bit.
void ResampleBitmap(const TBitmap& source, TBitmap& target, int filter);

// The core of ResampleBitmap: both passes of the filtered resampler over a 32-bit source into the
// 32-bit target of its current size. Colour is weighted by alpha (transparent pixels lend no
// colour); the result's alpha is the plain weighted average of the source alpha. A pixel that
// comes out 0x00FFFFFF becomes 0 unless the source itself held such a pixel.
void FilteredResample(const TBitmap& source, TBitmap& target, int filter);

// The opaque variant for pictures without alpha: a 24-bit result at the target's current size,
// colour averaged with the plain weights; plain stretch without a filter or from a 1 × 1 source, a
// copy at equal sizes. A source of another format is read through a 24-bit copy.
void ResampleOpaque(const TBitmap& source, TBitmap& target, int filter);

}  // namespace glyphmill
