#include "app/processsource.h"

#include <algorithm>
#include <array>

#include "app/inkscape.h"
#include "app/pictureloaders.h"
#include "imaging/filetype.h"
#include "platform/picture.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

// Alpha below this is transparent in the mask of a PNG source.
constexpr int PngAlphaThreshold = 80;

[[noreturn]] void NoReader(const char* kind) {
  throw EGlyphmillError(Format("No reader for %s files in this build", kind));
}

// The picture in the working bitmap becomes an icon of every requested size and depth.
TSourceOutput BuildPictureIcon(TSourceWork&, const TConversionOptions&, TRunFlags&) {
  throw EGlyphmillError("No icon image builder in this build");
}

// Content types whose reader yields an icon or a list of icons, by the name a missing one is
// reported with.
const char* IconContentKind(int code) {
  switch (code) {
    case ftIconOrCursor: return "icon and cursor";
    case ftMacIcon: return "Mac icon";
    case ftIconProject: return "icon project";
    case ftAnimatedCursor: return "animated cursor";
    case ftModule: return "program module";
    default: return nullptr;
  }
}

// Extensions that name modules: a file with one of them that is no module yields nothing.
constexpr std::array<const char*, 6> ModuleExtensions{"exe", "dll", "cpl", "ovl", "acl", "icl"};

}  // namespace

TSourceOutput ProcessSource(const std::string& sourceName, TSourceWork& work, const TConversionOptions& options,
                            TRunFlags& flags) {
  const TFileType type = DetectFileType(sourceName);
  switch (type.Code) {
    case ftBmp:
      work.FBitmap.LoadFromFile(sourceName);
      work.FMaskValid = false;
      return BuildPictureIcon(work, options, flags);
    case ftJpeg:
      work.FMaskValid = LoadJpegPicture(sourceName, work.FBitmap, work.FMask);
      return BuildPictureIcon(work, options, flags);
    case ftPng:
      work.FMaskValid = LoadPngPicture(sourceName, work.FBitmap, work.FMask, PngAlphaThreshold);
      return BuildPictureIcon(work, options, flags);
    case ftGif:
      work.FMaskValid = LoadGifPicture(sourceName, work.FBitmap, work.FMask);
      return BuildPictureIcon(work, options, flags);
    case ftTiff:
      work.FMaskValid = LoadTiffPicture(sourceName, work.FBitmap, work.FMask);
      return BuildPictureIcon(work, options, flags);
    case ftPsd: NoReader("PSD");
    case ftPcx: NoReader("PCX");
    default:
      if (const char* kind = IconContentKind(type.Code)) NoReader(kind);
  }

  const std::string extension = PictureExtension(sourceName);
  if (std::find(ModuleExtensions.begin(), ModuleExtensions.end(), extension) != ModuleExtensions.end()) return {};
  if (extension == "svg" || extension == "ai" || extension == "pdf") {
    LoadVectorFile(sourceName, work.FBitmap, 0, 0);
    work.FMaskValid = false;
  } else {
    work.FMaskValid = LoadAnyPicture(sourceName, work.FBitmap, work.FMask);
  }
  return BuildPictureIcon(work, options, flags);
}

}  // namespace glyphmill
