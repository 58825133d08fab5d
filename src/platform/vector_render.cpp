#include "platform/vector_render.h"

#include <cairo.h>
#include <librsvg/rsvg.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "support/limits.h"

namespace glyphmill {

namespace {

std::string Extension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = fileName.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool UsableNaturalSize(double naturalWidth, double naturalHeight) {
  return naturalWidth > 0 && naturalHeight > 0 && std::isfinite(naturalWidth) && std::isfinite(naturalHeight);
}

// Missing sides follow from the drawing's own size, keeping its proportions.
bool ResolveSize(double naturalWidth, double naturalHeight, int& width, int& height) {
  if (!UsableNaturalSize(naturalWidth, naturalHeight)) return false;
  if (width <= 0 && height <= 0) {
    width = static_cast<int>(std::lround(std::min(naturalWidth, 1.0e6)));
    height = static_cast<int>(std::lround(std::min(naturalHeight, 1.0e6)));
  } else if (width <= 0) {
    width = static_cast<int>(std::lround(std::min(height * naturalWidth / naturalHeight, 1.0e6)));
  } else if (height <= 0) {
    height = static_cast<int>(std::lround(std::min(width * naturalHeight / naturalWidth, 1.0e6)));
  }
  width = std::max(width, 1);
  height = std::max(height, 1);
  return PictureSizeAllowed(width, height);
}

// Draws with draw(cr) scaled from the natural size onto a transparent width × height surface.
bool RenderToBitmap(int width, int height, double naturalWidth, double naturalHeight,
                    const std::function<bool(cairo_t*)>& draw, TBitmap& target) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, width / naturalWidth, height / naturalHeight);
  const bool drawn = draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  if (drawn) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf32bit);
    bitmap.SetSize(width, height);
    const uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
      uint8_t* out = bitmap.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        const uint32_t p = row[x];
        const uint32_t a = p >> 24;
        uint8_t* q = out + x * 4;
        if (a == 0) {
          q[0] = q[1] = q[2] = q[3] = 0;
          continue;
        }
        // Cairo stores premultiplied colour; bitmaps here hold straight alpha.
        q[0] = static_cast<uint8_t>(((p & 0xFF) * 255 + a / 2) / a);
        q[1] = static_cast<uint8_t>((((p >> 8) & 0xFF) * 255 + a / 2) / a);
        q[2] = static_cast<uint8_t>((((p >> 16) & 0xFF) * 255 + a / 2) / a);
        q[3] = static_cast<uint8_t>(a);
      }
    }
    target.Assign(bitmap);
  }
  cairo_surface_destroy(surface);
  return drawn;
}

RsvgHandle* OpenSvg(const std::string& fileName) {
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_file(fileName.c_str(), &error);
  if (error) g_error_free(error);
  return handle;
}

void SvgNaturalSize(RsvgHandle* handle, double& naturalWidth, double& naturalHeight) {
  if (rsvg_handle_get_intrinsic_size_in_pixels(handle, &naturalWidth, &naturalHeight)) return;
  gboolean hasWidth = false, hasHeight = false, hasViewBox = false;
  RsvgLength w, h;
  RsvgRectangle viewBox;
  rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &w, &hasHeight, &h, &hasViewBox, &viewBox);
  naturalWidth = hasViewBox ? viewBox.width : 100;
  naturalHeight = hasViewBox ? viewBox.height : 100;
}

bool RenderSvg(const std::string& fileName, int width, int height, TBitmap& target) {
  RsvgHandle* handle = OpenSvg(fileName);
  if (!handle) return false;
  double naturalWidth = 0, naturalHeight = 0;
  SvgNaturalSize(handle, naturalWidth, naturalHeight);
  bool rendered = false;
  if (ResolveSize(naturalWidth, naturalHeight, width, height)) {
    rendered = RenderToBitmap(
        width, height, naturalWidth, naturalHeight,
        [&](cairo_t* cr) {
          const RsvgRectangle viewport{0, 0, naturalWidth, naturalHeight};
          GError* renderError = nullptr;
          const bool ok = rsvg_handle_render_document(handle, cr, &viewport, &renderError);
          if (renderError) g_error_free(renderError);
          return ok;
        },
        target);
  }
  g_object_unref(handle);
  return rendered;
}

// The first page of a PDF or AI file, or null.
PopplerPage* OpenFirstPage(const std::string& fileName, PopplerDocument*& document) {
  document = nullptr;
  GError* error = nullptr;
  gchar* uri = g_filename_to_uri(fileName.c_str(), nullptr, &error);
  if (!uri) {
    if (error) g_error_free(error);
    return nullptr;
  }
  document = poppler_document_new_from_file(uri, nullptr, &error);
  g_free(uri);
  if (!document) {
    if (error) g_error_free(error);
    return nullptr;
  }
  return poppler_document_get_n_pages(document) > 0 ? poppler_document_get_page(document, 0) : nullptr;
}

void ClosePage(PopplerPage* page, PopplerDocument* document) {
  if (page) g_object_unref(page);
  if (document) g_object_unref(document);
}

// PDF sizes are in points; the drawing's own pixel size is taken at 96 dots per inch.
constexpr double PixelsPerPoint = 96.0 / 72.0;

bool RenderPdf(const std::string& fileName, int width, int height, TBitmap& target) {
  PopplerDocument* document = nullptr;
  PopplerPage* page = OpenFirstPage(fileName, document);
  bool rendered = false;
  if (page) {
    double points[2] = {0, 0};
    poppler_page_get_size(page, &points[0], &points[1]);
    if (ResolveSize(points[0] * PixelsPerPoint, points[1] * PixelsPerPoint, width, height)) {
      rendered = RenderToBitmap(
          width, height, points[0], points[1],
          [&](cairo_t* cr) {
            poppler_page_render(page, cr);
            return cairo_status(cr) == CAIRO_STATUS_SUCCESS;
          },
          target);
    }
  }
  ClosePage(page, document);
  return rendered;
}

}  // namespace

bool EmbeddedRenderersEnabled() {
  const char* off = std::getenv("GLYPHMILL_NO_EMBEDDED_RENDERER");
  return !off || !*off || std::string(off) == "0";
}

bool VectorNaturalSize(const std::string& fileName, double& width, double& height) {
  const std::string extension = Extension(fileName);
  if (extension == "svg") {
    RsvgHandle* handle = OpenSvg(fileName);
    if (!handle) return false;
    SvgNaturalSize(handle, width, height);
    g_object_unref(handle);
    return UsableNaturalSize(width, height);
  }
  if (extension == "pdf" || extension == "ai") {
    PopplerDocument* document = nullptr;
    PopplerPage* page = OpenFirstPage(fileName, document);
    if (page) {
      poppler_page_get_size(page, &width, &height);
      width *= PixelsPerPoint;
      height *= PixelsPerPoint;
    }
    ClosePage(page, document);
    return page != nullptr && UsableNaturalSize(width, height);
  }
  return false;
}

bool RenderVectorEmbedded(const std::string& fileName, int width, int height, TBitmap& target) {
  if (!EmbeddedRenderersEnabled()) return false;
  const std::string extension = Extension(fileName);
  if (extension == "svg") return RenderSvg(fileName, width, height, target);
  if (extension == "pdf" || extension == "ai") return RenderPdf(fileName, width, height, target);
  return false;
}

}  // namespace glyphmill
