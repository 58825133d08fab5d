#include "app/inkscape.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/pictureloaders.h"
#include "platform/process.h"
#include "platform/vector_render.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

std::string CachedInkscape;
bool SearchMade = false;

std::string SearchInkscape() {
  if (const char* chosen = std::getenv("GLYPHMILL_INKSCAPE"); chosen && *chosen)
    return IsExecutableFile(chosen) ? std::string(chosen) : std::string();
  if (const char* path = std::getenv("PATH")) {
    std::string folders = path;
    size_t start = 0;
    while (start <= folders.size()) {
      size_t end = folders.find(':', start);
      if (end == std::string::npos) end = folders.size();
      const std::string folder = folders.substr(start, end - start);
      if (!folder.empty() && folder[0] == '/' && IsExecutableFile(folder + "/inkscape")) return folder + "/inkscape";
      start = end + 1;
    }
  }
  for (const char* candidate : {"/usr/bin/inkscape", "/usr/local/bin/inkscape", "/snap/bin/inkscape"})
    if (IsExecutableFile(candidate)) return candidate;
  return {};
}

bool FileExists(const std::string& name) {
  std::error_code error;
  return std::filesystem::exists(name, error);
}

bool RemoveFile(const std::string& name) {
  std::error_code error;
  std::filesystem::remove(name, error);
  return !FileExists(name);
}

// Drawings in large units (CAD plans, posters) can have an own size of many thousand pixels, which
// would take Inkscape minutes and gigabytes to render. The rendering at the own size only gives the
// proportions and the own size, which icons cap at 1024 pixels, so a drawing larger than this on
// either side is rendered to fit within it, proportions kept.
constexpr double OwnSizeRenderingLimit = 4096;

void LimitOwnSize(const std::string& fileName, int& width, int& height) {
  double naturalWidth = 0, naturalHeight = 0;
  if (!VectorNaturalSize(fileName, naturalWidth, naturalHeight)) return;
  const double scale = OwnSizeRenderingLimit / std::max(naturalWidth, naturalHeight);
  if (scale >= 1) return;
  width = std::max(1, static_cast<int>(std::lround(naturalWidth * scale)));
  height = std::max(1, static_cast<int>(std::lround(naturalHeight * scale)));
}

}  // namespace

std::string FindInkscape() {
  if (!CachedInkscape.empty() && IsExecutableFile(CachedInkscape)) return CachedInkscape;
  CachedInkscape = SearchInkscape();
  return CachedInkscape;
}

void ResetInkscapeSearch() {
  CachedInkscape.clear();
  SearchMade = false;
}

bool RunInkscape(const std::string& source, const std::string& output, int width, int height) {
  if (!FileExists(source)) return false;
  const bool firstCall = !SearchMade;
  if (CachedInkscape.empty() && !SearchMade) FindInkscape();
  SearchMade = true;
  if (!RemoveFile(output)) return false;
  if (CachedInkscape.empty()) return false;

  std::vector<std::string> size;
  if (width != 0) size = {"-w", std::to_string(width), "-h", std::to_string(height)};
  std::vector<std::string> current = {"--export-type=png", "--export-filename=" + output};
  current.insert(current.end(), size.begin(), size.end());
  current.push_back(source);
  std::vector<std::string> legacy = {"-f", source, "-e", output};
  legacy.insert(legacy.end(), size.begin(), size.end());

  for (int attempt = 0; attempt < 5 && !CachedInkscape.empty(); ++attempt) {
    RunProcess(CachedInkscape, current);
    if (FileExists(output)) return true;
    RunProcess(CachedInkscape, legacy);
    if (FileExists(output)) return true;
    if (firstCall) FindInkscape();
  }
  return FileExists(output);
}

bool RenderVectorFile(const std::string& fileName, TBitmapFix32& bitmap, int width, int height) {
  if (width == 0 && height == 0) LimitOwnSize(fileName, width, height);
  {
    TPrivateTempDir folder;
    const std::string output =
        folder.Path() + "/" + std::filesystem::path(fileName).filename().replace_extension(".png").string();
    if (RunInkscape(fileName, output, width, height)) {
      TBitmap unusedMask;
      try {
        LoadPngPicture(output, bitmap, unusedMask, 0);
        return true;
      } catch (const std::exception&) {
        // An unreadable PNG from Inkscape counts as no rendering; the embedded renderer may still work.
      }
    }
  }
  TBitmap rendered;
  if (!RenderVectorEmbedded(fileName, width, height, rendered)) return false;
  bitmap.Assign(rendered);
  return true;
}

void LoadVectorFile(const std::string& fileName, TBitmapFix32& bitmap, int width, int height) {
  if (!RenderVectorFile(fileName, bitmap, width, height))
    throw EReadError("Please install Inkscape to convert AI, SVG, PDF images");
}

}  // namespace glyphmill
