#include "platform/picture.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <vector>

#include "platform/gif_codec.h"
#include "platform/jpeg2000_codec.h"
#include "platform/jpeg_codec.h"
#include "platform/png_codec.h"
#include "platform/tiff_codec.h"
#include "support/errors.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

// Every extension the generic picture object answers to; the ones without a registered reader
// fail with their own message rather than as unknown.
constexpr const char* KnownExtensions[] = {"bmp",  "ico",  "cur",  "wmf", "emf", "gif", "png",  "jpg",
                                           "jpeg", "tiff", "tif",  "psd", "pdd", "pcx", "wbmp", "xpm",
                                           "xbm",  "ani",  "icpr", "jp2", "j2k", "jpc"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::unique_ptr<TGraphic> LoadBmp(std::span<const uint8_t> bytes) {
  TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  TBitmap bitmap;
  bitmap.LoadFromStream(stream);
  return std::make_unique<TBitmapGraphic>(std::move(bitmap));
}

std::unique_ptr<TGraphic> LoadGif(std::span<const uint8_t> bytes) {
  TGifPicture picture = DecodeGif(bytes);
  if (picture.TransparentIndex < 0) return std::make_unique<TBitmapGraphic>(std::move(picture.Bitmap));
  TBitmap mask = picture.Mask();
  return std::make_unique<TBitmapGraphic>(std::move(picture.Bitmap), std::move(mask));
}

std::unique_ptr<TGraphic> LoadPng(std::span<const uint8_t> bytes) {
  TPNGImage png;
  png.LoadFromBytes(bytes);
  const TBitmap& decoded = png.Bitmap();
  const std::vector<uint8_t>& paletteAlpha = png.PaletteAlpha();
  if (paletteAlpha.empty() || decoded.PixelFormat() != pf8bit)
    return std::make_unique<TBitmapGraphic>(decoded, decoded.PixelFormat() == pf32bit);
  // A palette with transparency draws like the 32-bit picture it stands for.
  TBitmap withAlpha;
  withAlpha.SetPixelFormat(pf32bit);
  withAlpha.SetSize(decoded.Width(), decoded.Height());
  const std::vector<TRGBQuad>& palette = decoded.Palette();
  for (int y = 0; y < decoded.Height(); ++y) {
    const uint8_t* source = decoded.ScanLine(y);
    uint8_t* target = withAlpha.ScanLine(y);
    for (int x = 0; x < decoded.Width(); ++x, target += 4) {
      const TRGBQuad entry = palette[source[x]];
      target[0] = entry.Blue;
      target[1] = entry.Green;
      target[2] = entry.Red;
      target[3] = source[x] < paletteAlpha.size() ? paletteAlpha[source[x]] : 255;
    }
  }
  return std::make_unique<TBitmapGraphic>(std::move(withAlpha), true);
}

std::unique_ptr<TGraphic> LoadJpeg(std::span<const uint8_t> bytes) {
  TBitmap bitmap;
  DecodeJpeg(bytes, bitmap);
  return std::make_unique<TBitmapGraphic>(std::move(bitmap));
}

std::unique_ptr<TGraphic> LoadTiff(std::span<const uint8_t> bytes) {
  TBitmap bitmap;
  DecodeTiff(bytes, bitmap);
  const bool alpha = bitmap.PixelFormat() == pf32bit;
  return std::make_unique<TBitmapGraphic>(std::move(bitmap), alpha);
}

std::unique_ptr<TGraphic> LoadJpeg2000(std::span<const uint8_t> bytes) {
  TBitmap bitmap;
  DecodeJpeg2000(bytes, bitmap);
  const bool alpha = bitmap.PixelFormat() == pf32bit;
  return std::make_unique<TBitmapGraphic>(std::move(bitmap), alpha);
}

class TRegistry {
public:
  TRegistry() {
    FLoaders["bmp"] = LoadBmp;
    FLoaders["gif"] = LoadGif;
    FLoaders["png"] = LoadPng;
    FLoaders["jpg"] = FLoaders["jpeg"] = LoadJpeg;
    FLoaders["tif"] = FLoaders["tiff"] = LoadTiff;
    FLoaders["jp2"] = FLoaders["j2k"] = FLoaders["jpc"] = LoadJpeg2000;
  }

  void Register(const std::string& extension, TPictureLoader loader) {
    std::lock_guard lock(FMutex);
    FLoaders[Lower(extension)] = std::move(loader);
  }

  TPictureLoader Find(const std::string& extension) {
    std::lock_guard lock(FMutex);
    const auto found = FLoaders.find(extension);
    return found == FLoaders.end() ? TPictureLoader{} : found->second;
  }

private:
  std::mutex FMutex;
  std::map<std::string, TPictureLoader> FLoaders;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

// The source pixels of one row as B, G, R, A (alpha 255 for formats without alpha).
void SourceRowBgra(const TBitmap& bitmap, int y, std::vector<uint8_t>& row) {
  const int width = bitmap.Width();
  row.resize(static_cast<size_t>(width) * 4);
  const uint8_t* source = bitmap.ScanLine(y);
  switch (bitmap.PixelFormat()) {
    case pf32bit: std::copy(source, source + static_cast<size_t>(width) * 4, row.begin()); return;
    case pf24bit:
    case pfDevice:
      for (int x = 0; x < width; ++x) {
        row[x * 4 + 0] = source[x * 3 + 0];
        row[x * 4 + 1] = source[x * 3 + 1];
        row[x * 4 + 2] = source[x * 3 + 2];
        row[x * 4 + 3] = 255;
      }
      return;
    default:
      for (int x = 0; x < width; ++x) {
        const TColor color = bitmap.GetPixel(x, y);
        row[x * 4 + 0] = GetBValue(color);
        row[x * 4 + 1] = GetGValue(color);
        row[x * 4 + 2] = GetRValue(color);
        row[x * 4 + 3] = 255;
      }
  }
}

}  // namespace

TBitmapGraphic::TBitmapGraphic(TBitmap bitmap, bool useAlpha)
    : FBitmap(std::move(bitmap)), FUseAlpha(useAlpha && FBitmap.PixelFormat() == pf32bit) {}

TBitmapGraphic::TBitmapGraphic(TBitmap bitmap, TBitmap mask)
    : FBitmap(std::move(bitmap)), FMask(std::move(mask)), FHasMask(true) {
  if (FMask.Width() != FBitmap.Width() || FMask.Height() != FBitmap.Height())
    throw EGlyphmillError("Picture mask does not match the picture's size");
}

void TBitmapGraphic::Draw(TBitmap& target, TRect rect) const {
  if (FBitmap.Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  const int left = std::max(rect.Left, 0), right = std::min(rect.Right, target.Width());
  const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, target.Height());
  if (left >= right || top >= bottom) return;

  // Nearest source column of every target column in the rectangle.
  std::vector<int> columns(static_cast<size_t>(right - left));
  for (int x = left; x < right; ++x)
    columns[static_cast<size_t>(x - left)] =
        static_cast<int>(static_cast<int64_t>(x - rect.Left) * FBitmap.Width() / rect.Width());

  const TPixelFormat targetFormat = target.PixelFormat();
  const int targetStep = targetFormat == pf32bit ? 4 : 3;
  const bool direct = targetFormat == pf24bit || targetFormat == pf32bit || targetFormat == pfDevice;
  std::vector<uint8_t> row;
  int rowOf = -1;
  for (int y = top; y < bottom; ++y) {
    const int sourceY = static_cast<int>(static_cast<int64_t>(y - rect.Top) * FBitmap.Height() / rect.Height());
    if (sourceY != rowOf) {
      SourceRowBgra(FBitmap, sourceY, row);
      rowOf = sourceY;
    }
    uint8_t* targetRow = direct ? target.ScanLine(y) : nullptr;
    for (int x = left; x < right; ++x) {
      const int sourceX = columns[static_cast<size_t>(x - left)];
      if (FHasMask && FMask.GetIndex(sourceX, sourceY) != 0) continue;
      const uint8_t* pixel = &row[static_cast<size_t>(sourceX) * 4];
      const int alpha = FUseAlpha ? pixel[3] : 255;
      if (alpha == 0) continue;
      uint8_t bgr[3];
      if (direct) {
        uint8_t* out = targetRow + static_cast<size_t>(x) * targetStep;
        for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>(out[c] + (pixel[c] - out[c]) * alpha / 255);
        continue;
      }
      const TColor under = target.GetPixel(x, y);
      const uint8_t below[3] = {GetBValue(under), GetGValue(under), GetRValue(under)};
      for (int c = 0; c < 3; ++c) bgr[c] = static_cast<uint8_t>(below[c] + (pixel[c] - below[c]) * alpha / 255);
      target.SetPixel(x, y, RGBColor(bgr[2], bgr[1], bgr[0]));
    }
  }
}

void RegisterPictureFormat(const std::string& extension, TPictureLoader loader) {
  Registry().Register(extension, std::move(loader));
}

bool IsPictureFormatRegistered(const std::string& extension) {
  return static_cast<bool>(Registry().Find(Lower(extension)));
}

std::string PictureExtension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : Lower(name.substr(dot + 1));
}

std::unique_ptr<TGraphic> LoadPicture(std::span<const uint8_t> bytes, const std::string& extension) {
  const std::string key = Lower(extension);
  if (TPictureLoader loader = Registry().Find(key)) return loader(bytes);
  if (std::find(std::begin(KnownExtensions), std::end(KnownExtensions), key) != std::end(KnownExtensions))
    throw EReadError(Format("No reader for picture file extension (.%s)", key.c_str()));
  throw EReadError(Format("Unknown picture file extension (.%s)", key.c_str()));
}

std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName) {
  const std::string extension = PictureExtension(fileName);
  // The extension is judged before the file is read, so an unknown one fails even for a missing file.
  if (!Registry().Find(extension)) LoadPicture({}, extension);
  const std::vector<uint8_t> bytes = ReadFileBytes(fileName);
  return LoadPicture(bytes, extension);
}

}  // namespace glyphmill
