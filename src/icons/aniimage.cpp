#include "icons/aniimage.h"

#include <algorithm>

#include "icons/animatedcursor.h"
#include "imaging/bitmaptools.h"
#include "imaging/colorreduction.h"
#include "imaging/transparency.h"

namespace glyphmill {

namespace {

// 1/60 s to 1/100 s, rounded; GIF delays are 16-bit.
int GifDelay(int64_t rate) { return static_cast<int>(std::clamp<int64_t>((rate * 5 + 1) / 3, 0, 65535)); }

// The image over the button face: alpha-composed when 32-bit, else masked as an icon draws.
TBitmap ComposeFrame(const TSubIcon& image) {
  TBitmap colour, mask;
  image.RenderBitmaps(nullptr, &colour, &mask, 0);
  TBitmap result;
  result.SetPixelFormat(pf24bit);
  result.SetSize(colour.Width(), colour.Height());
  result.FillRect(Rect(0, 0, colour.Width(), colour.Height()), AniButtonFace);
  if (colour.PixelFormat() == pf32bit) {
    ComposeOverColor(colour, result, AniButtonFace);
    return result;
  }
  for (int y = 0; y < result.Height(); ++y)
    for (int x = 0; x < result.Width(); ++x) {
      const TColor under = mask.GetPixel(x, y) == 0 ? 0 : AniButtonFace;
      result.SetPixel(x, y, (under & 0xFFFFFF) ^ (colour.GetPixel(x, y) & 0xFFFFFF));
    }
  return result;
}

}  // namespace

void TAniCursorImage::LoadFromStream(TStream& stream) {
  TAnimatedCursor cursor;
  cursor.LoadFromStream(stream);
  FStepCount = cursor.StepCount();
  const TSubIcon* first = cursor.FrameImage(0);
  FDepth = FStepCount > 0 && first ? first->GetBitsPerPixel() : 0;
  FAnimation = TGifAnimation{};
  for (int step = 0; step < FStepCount; ++step) {
    const TSubIcon* image = cursor.StepImage(step);
    if (!image) continue;
    TGifFrame frame;
    frame.Bitmap = ComposeFrame(*image);
    if (frame.Bitmap.Empty()) continue;
    ReduceTo8Bit(frame.Bitmap, frame.Bitmap, false, 0, 256);
    frame.Delay = GifDelay(step < cursor.Rates.Count() ? cursor.Rates[step] : cursor.Header.dispRate);
    frame.Disposal = gdRestoreBackground;
    FAnimation.Width = std::max(FAnimation.Width, frame.Bitmap.Width());
    FAnimation.Height = std::max(FAnimation.Height, frame.Bitmap.Height());
    FAnimation.Frames.push_back(std::move(frame));
  }
  FAnimation.LoopCount = 0;
  if (!cursor.Title.empty() || !cursor.Artist.empty())
    FAnimation.Comments = {"Title: " + cursor.Title, "Artist: " + cursor.Artist};
}

void TAniCursorImage::SaveToStream(TStream& stream) const {
  if (FAnimation.Frames.empty()) return;
  stream.WriteBytes(EncodeGif(FAnimation));
}

void TAniCursorImage::Draw(TBitmap& target, TRect rect) const {
  if (FAnimation.Frames.empty()) return;
  target.StretchDraw(rect, FAnimation.Frames.front().Bitmap);
}

std::unique_ptr<TGraphic> LoadAniGraphic(std::span<const uint8_t> bytes) {
  auto image = std::make_unique<TAniCursorImage>();
  TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  image->LoadFromStream(stream);
  return image;
}

}  // namespace glyphmill
