#include "app/pictureformats.h"

#include <memory>
#include <mutex>

#include "formats/pcximage.h"
#include "formats/psdimage.h"
#include "formats/wbmpimage.h"
#include "formats/xpmimage.h"
#include "icons/advancedicon.h"
#include "icons/aniimage.h"
#include "icons/iconproject.h"
#include "platform/metafile.h"
#include "platform/picture.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

// The icon size a picture object shows an icon file at.
constexpr int ShownIconSide = 32;

std::unique_ptr<TGraphic> LoadIconGraphic(std::span<const uint8_t> bytes) {
  TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  TAdvancedIcon icon;
  icon.LoadFromFileStream(stream);
  const TSubIcon* image = icon.FindBest(ShownIconSide, ShownIconSide, 32);
  if (!image) throw EReadError("Invalid image");
  TBitmap colour;
  TBitmap mask;
  image->RenderBitmaps(nullptr, &colour, &mask, 0);
  if (colour.PixelFormat() == pf32bit) return std::make_unique<TBitmapGraphic>(std::move(colour), true);
  return std::make_unique<TBitmapGraphic>(std::move(colour), std::move(mask));
}

// A metafile drawn over what the target holds: drawn over black and over white, the pixels that
// come out the same are the drawing's, the others are left to the target.
class TMetafileGraphic : public TGraphic {
public:
  explicit TMetafileGraphic(std::span<const uint8_t> bytes) {
    FMetafile.LoadFromBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
  int Width() const override { return FMetafile.Width(); }
  int Height() const override { return FMetafile.Height(); }
  void Draw(TBitmap& target, TRect rect) const override {
    if (rect.Width() <= 0 || rect.Height() <= 0) return;
    TBitmap overBlack;
    TBitmap overWhite;
    FMetafile.Render(overBlack, rect.Width(), rect.Height(), RGBColor(0, 0, 0));
    FMetafile.Render(overWhite, rect.Width(), rect.Height(), RGBColor(255, 255, 255));
    for (int y = 0; y < rect.Height(); ++y)
      for (int x = 0; x < rect.Width(); ++x) {
        const TColor colour = overBlack.GetPixel(x, y);
        if (colour == overWhite.GetPixel(x, y)) target.SetPixel(rect.Left + x, rect.Top + y, colour);
      }
  }

private:
  TMetafile FMetafile;
};

std::unique_ptr<TGraphic> LoadMetafileGraphic(std::span<const uint8_t> bytes) {
  return std::make_unique<TMetafileGraphic>(bytes);
}

}  // namespace

void RegisterPictureFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterPictureFormat("ico", LoadIconGraphic);
    RegisterPictureFormat("cur", LoadIconGraphic);
    RegisterPictureFormat("wmf", LoadMetafileGraphic);
    RegisterPictureFormat("emf", LoadMetafileGraphic);
    RegisterPictureFormat("psd", LoadPsdGraphic);
    RegisterPictureFormat("pdd", LoadPsdGraphic);
    RegisterPictureFormat("pcx", LoadPcxGraphic);
    RegisterPictureFormat("wbmp", LoadWbmpGraphic);
    RegisterPictureFormat("xpm", LoadXpmGraphic);
    RegisterPictureFormat("xbm", LoadXbmGraphic);
    RegisterPictureFormat("ani", LoadAniGraphic);
    RegisterPictureFormat("icpr", LoadIconProjectGraphic);
  });
}

}  // namespace glyphmill
