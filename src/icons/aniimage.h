// TAniCursorImage: an animated cursor shown as an animated GIF picture (every step's frame composed
// over the button-face colour, reduced to 8 bits, with the step's delay), and the picture-registry
// loader for ".ani" files.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/gif_codec.h"
#include "platform/picture.h"
#include "support/streams.h"

namespace glyphmill {

// The classic button-face colour frames are composed over.
inline constexpr TColor AniButtonFace = RGBColor(212, 208, 200);

class TAniCursorImage : public TGraphic {
public:
  // Reads an animated cursor (TAnimatedCursor rules and errors) and builds the animation.
  void LoadFromStream(TStream& stream);
  // Writes the animation as a GIF; nothing for a cursor without frames.
  void SaveToStream(TStream& stream) const;

  int StepCount() const { return FStepCount; }
  // Depth of the first image of frame 0 (0 without steps).
  int Depth() const { return FDepth; }
  const TGifAnimation& Animation() const { return FAnimation; }

  int Width() const override { return FAnimation.Width; }
  int Height() const override { return FAnimation.Height; }
  // The first frame, stretched.
  void Draw(TBitmap& target, TRect rect) const override;

private:
  TGifAnimation FAnimation;
  int FStepCount = 0;
  int FDepth = 0;
};

// The picture of an ".ani" file for the registry.
std::unique_ptr<TGraphic> LoadAniGraphic(std::span<const uint8_t> bytes);

}  // namespace glyphmill
