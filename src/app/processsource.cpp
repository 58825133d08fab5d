#include "app/processsource.h"

#include <algorithm>
#include <array>

#include "app/iconbuilder.h"
#include "app/inkscape.h"
#include "app/pictureformats.h"
#include "app/pictureloaders.h"
#include "formats/pcximage.h"
#include "formats/psdimage.h"
#include "formats/wbmpimage.h"
#include "formats/xpmimage.h"
#include "icons/advancedicon.h"
#include "icons/aniimage.h"
#include "icons/animatedcursor.h"
#include "icons/iconproject.h"
#include "icons/macicons.h"
#include "imaging/bitmaptools.h"
#include "imaging/filetype.h"
#include "imaging/transparency.h"
#include "modules/iconlibrary.h"
#include "platform/metafile.h"
#include "platform/picture.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

// Alpha below this is transparent in the mask of a PNG or XPM source.
constexpr int PngAlphaThreshold = 80;
constexpr int AlphaMaskThreshold = PngAlphaThreshold;
// Images this wide or high are stored PNG-compressed when the run asks for it.
constexpr int PackedImageSide = 256;

// A monochrome picture arrives as a black-and-white bitmap, any other as it is.
void TakePicture(const TBitmap& picture, TBitmapFix32& bitmap) {
  if (picture.PixelFormat() == pf1bit) MakeMonochrome(&bitmap);
  bitmap.Assign(picture);
}

void LoadPcxPicture(const std::string& fileName, TBitmapFix32& bitmap) {
  TPCXImage pcx;
  pcx.LoadFromFile(fileName);
  TakePicture(pcx.Bitmap(), bitmap);
}

// The standard order, and the PNG mark on large images when the run wants them compressed.
void FinishIcon(TAdvancedIcon& icon, const TConversionOptions& options) {
  if (icon.Images.Count() == 0) return;
  icon.ArrangeStandardOrder();
  if (!options.PngLargeImages) return;
  for (const auto& image : icon.Images)
    if (image->GetWidth() >= PackedImageSide || image->GetHeight() >= PackedImageSide) image->SetPacked(true);
}

// An icon of the run: built already, or rebuilt from its own images before it is written.
class TIconOutput : public TOutputIcon {
public:
  explicit TIconOutput(std::unique_ptr<TAdvancedIcon> icon) : FIcon(std::move(icon)) {}

  void Rebuild(const TConversionOptions& options, TRunFlags& flags) override {
    TBitmapFix32 bitmap;
    TBitmap mask = NewMonochromeBitmap();
    RebuildIcon(*FIcon, bitmap, mask, options, flags);
    FinishIcon(*FIcon, options);
  }
  void SaveToFile(const std::string& fileName) const override { FIcon->SaveToFile(fileName); }

private:
  std::unique_ptr<TAdvancedIcon> FIcon;
};

// The finished icon, or nothing when no image was asked for.
TSourceOutput FinishedIcon(std::unique_ptr<TAdvancedIcon> icon, const TConversionOptions& options) {
  TSourceOutput output;
  FinishIcon(*icon, options);
  if (icon->Images.Count() > 0) output.Icon = std::make_unique<TIconOutput>(std::move(icon));
  return output;
}

TSourceOutput BuildFromPicture(TPictureSource& picture, const TConversionOptions& options, TRunFlags& flags) {
  auto icon = std::make_unique<TAdvancedIcon>();
  BuildPictureIcon(picture, options, flags, *icon);
  return FinishedIcon(std::move(icon), options);
}

TSourceOutput BuildFromIcon(std::unique_ptr<TAdvancedIcon> icon, TSourceWork& work, const TConversionOptions& options,
                            TRunFlags& flags) {
  if (icon->Images.Count() > 0) RebuildIcon(*icon, work.FBitmap, work.FMask, options, flags);
  return FinishedIcon(std::move(icon), options);
}

// Every icon of the library, in order, with its name; the run builds each before writing it.
TSourceOutput LibraryOutput(TIconList& icons) {
  TSourceOutput output;
  while (icons.Count() > 0) {
    std::string name = icons.Name(0);
    output.Library.push_back({std::move(name), std::make_unique<TIconOutput>(icons.Extract(0))});
  }
  return output;
}

// Icons without names, one per frame or per image, written by the run as name0.ico, name1.ico ...
TSourceOutput UnnamedLibraryOutput(std::vector<std::unique_ptr<TAdvancedIcon>>& icons) {
  TSourceOutput output;
  for (auto& icon : icons) output.Library.push_back({std::string(), std::make_unique<TIconOutput>(std::move(icon))});
  return output;
}

// Extensions that name modules: a file with one of them that is no module yields nothing.
constexpr std::array<const char*, 6> ModuleExtensions{"exe", "dll", "cpl", "ovl", "acl", "icl"};

}  // namespace

TSourceOutput ProcessSource(const std::string& sourceName, TSourceWork& work, const TConversionOptions& options,
                            TRunFlags& flags) {
  RegisterPictureFormats();
  TPictureSource picture{work.FBitmap, work.FMask, false, sourceName};
  const TFileType type = DetectFileType(sourceName);
  switch (type.Code) {
    case ftBmp: work.FBitmap.LoadFromFile(sourceName); return BuildFromPicture(picture, options, flags);
    case ftIconOrCursor: {
      auto icon = std::make_unique<TAdvancedIcon>();
      icon->LoadFromFile(sourceName);
      return BuildFromIcon(std::move(icon), work, options, flags);
    }
    case ftJpeg:
      picture.FMaskValid = LoadJpegPicture(sourceName, work.FBitmap, work.FMask);
      return BuildFromPicture(picture, options, flags);
    case ftPng:
      picture.FMaskValid = LoadPngPicture(sourceName, work.FBitmap, work.FMask, PngAlphaThreshold);
      return BuildFromPicture(picture, options, flags);
    case ftGif:
      picture.FMaskValid = LoadGifPicture(sourceName, work.FBitmap, work.FMask);
      return BuildFromPicture(picture, options, flags);
    case ftTiff:
      picture.FMaskValid = LoadTiffPicture(sourceName, work.FBitmap, work.FMask);
      return BuildFromPicture(picture, options, flags);
    case ftModule: {
      TIconLibrary library;
      library.LoadFromFile(sourceName);
      return LibraryOutput(library.Icons());
    }
    case ftPsd: {
      TPSDImage psd;
      psd.LoadFromFile(sourceName);
      work.FBitmap.Assign(psd.Bitmap());
      return BuildFromPicture(picture, options, flags);
    }
    case ftPcx: LoadPcxPicture(sourceName, work.FBitmap); return BuildFromPicture(picture, options, flags);
    case ftMacIcon: {
      auto icon = std::make_unique<TAdvancedIcon>();
      LoadMacIconFile(sourceName, *icon);
      return BuildFromIcon(std::move(icon), work, options, flags);
    }
    case ftIconProject: {
      auto icon = std::make_unique<TAdvancedIcon>();
      std::vector<std::unique_ptr<TAdvancedIcon>> split;
      if (LoadIconProjectSource(sourceName, *icon, split)) return UnnamedLibraryOutput(split);
      return BuildFromIcon(std::move(icon), work, options, flags);
    }
    case ftAnimatedCursor: {
      TAdvancedIcon unused;
      std::vector<std::unique_ptr<TAdvancedIcon>> frames;
      LoadFromRiffFile(unused, sourceName, 0, &frames);
      return UnnamedLibraryOutput(frames);
    }
    default: break;
  }

  const std::string extension = PictureExtension(sourceName);
  if (std::find(ModuleExtensions.begin(), ModuleExtensions.end(), extension) != ModuleExtensions.end()) return {};
  if (extension == "xpm") {
    TXPMImage xpm;
    xpm.LoadFromFile(sourceName);
    To24BitWithMask(xpm.Bitmap(), work.FBitmap, &work.FMask, false, AlphaMaskThreshold);
    picture.FMaskValid = true;
  } else if (extension == "xbm") {
    TXBMImage xbm;
    xbm.LoadFromFile(sourceName);
    TakePicture(xbm.Bitmap(), work.FBitmap);
    if (xbm.Mask())
      work.FMask.Assign(*xbm.Mask());
    else
      SizeAndFill(work.FMask, work.FBitmap.Width(), work.FBitmap.Height(), RGBColor(0, 0, 0));
    picture.FMaskValid = true;
  } else if (extension == "wbmp") {
    TWapBitmap wbmp;
    wbmp.LoadFromFile(sourceName);
    TakePicture(wbmp.Bitmap(), work.FBitmap);
  } else if (extension == "svg" || extension == "ai" || extension == "pdf") {
    LoadVectorFile(sourceName, work.FBitmap, 0, 0);
    picture.FIsVector = true;
  } else {
    picture.FMaskValid = LoadAnyPicture(sourceName, work.FBitmap, work.FMask);
    if (extension == "emf" || extension == "wmf") {
      picture.FIsMetafile = true;
      picture.FNaturalWidth = work.FBitmap.Width();
      picture.FNaturalHeight = work.FBitmap.Height();
    }
  }
  return BuildFromPicture(picture, options, flags);
}

}  // namespace glyphmill
