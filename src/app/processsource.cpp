#include "app/processsource.h"

#include <algorithm>
#include <array>

#include "app/commandline.h"
#include "imaging/filetype.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

[[noreturn]] void NoReader(const std::string& kind) {
  throw EGlyphmillError(Format("No reader for %s files in this build", kind.c_str()));
}

// The picture in the working bitmap becomes an icon of every requested size and depth.
TSourceOutput BuildPictureIcon(TSourceWork&, const TConversionOptions&, TRunFlags&) {
  throw EGlyphmillError("No icon image builder in this build");
}

// Content types that have their own reader, with the name a missing reader is reported by.
std::string ContentKind(int code) {
  switch (code) {
    case ftIconOrCursor: return "icon and cursor";
    case ftMacIcon: return "Mac icon";
    case ftIconProject: return "icon project";
    case ftJpeg: return "JPEG";
    case ftPng: return "PNG";
    case ftAnimatedCursor: return "animated cursor";
    case ftGif: return "GIF";
    case ftTiff: return "TIFF";
    case ftModule: return "program module";
    case ftPsd: return "PSD";
    case ftPcx: return "PCX";
    default: return {};
  }
}

// Extensions that name modules: a file with one of them that is no module yields nothing.
constexpr std::array<const char*, 6> ModuleExtensions{"exe", "dll", "cpl", "ovl", "acl", "icl"};

// Extensions the generic picture loader knows; any other is refused by name.
constexpr std::array<const char*, 22> PictureExtensions{"bmp", "ico", "cur", "wmf", "emf", "gif", "png", "jpg",
                                                        "jpeg", "tiff", "tif", "psd", "pdd", "pcx", "wbmp", "xpm",
                                                        "xbm", "ani", "icpr", "jp2", "j2k", "jpc"};

bool Listed(const auto& list, const std::string& extension) {
  return std::find(list.begin(), list.end(), extension) != list.end();
}

}  // namespace

std::string SourceExtension(const std::string& sourceName) {
  const size_t slash = sourceName.rfind('/');
  const size_t dot = sourceName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return LowerCase(sourceName.substr(dot + 1));
}

TSourceOutput ProcessSource(const std::string& sourceName, TSourceWork& work, const TConversionOptions& options,
                            TRunFlags& flags) {
  work.FMaskValid = false;
  const TFileType type = DetectFileType(sourceName);
  // A BMP that the content check did not recognise still gets the bitmap reader's own verdict.
  if (type.Code == ftBmp || (type.Code == ftUnknown && SourceExtension(sourceName) == "bmp")) {
    work.FBitmap.LoadFromFile(sourceName);
    return BuildPictureIcon(work, options, flags);
  }
  if (const std::string kind = ContentKind(type.Code); !kind.empty()) NoReader(kind);

  const std::string extension = SourceExtension(sourceName);
  if (Listed(ModuleExtensions, extension)) return {};
  if (extension == "svg" || extension == "ai" || extension == "pdf") NoReader("vector drawing");
  if (!Listed(PictureExtensions, extension))
    throw EGlyphmillError(Format("Unknown picture file extension (.%s)", extension.c_str()));
  NoReader("." + extension);
}

}  // namespace glyphmill
