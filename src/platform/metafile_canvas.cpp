#include "platform/metafile_canvas.h"

#include <cairo.h>
#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

// Output coordinates are clamped well inside Cairo's 24.8 fixed-point range.
constexpr double CoordinateLimit = 4.0e6;
constexpr size_t MaxObjects = 65536;
constexpr size_t MaxSavedStates = 4096;

double Clamp(double v) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -CoordinateLimit, CoordinateLimit);
}

cairo_matrix_t ToCairo(const TMfXForm& m) {
  cairo_matrix_t c;
  cairo_matrix_init(&c, m.M11, m.M12, m.M21, m.M22, m.Dx, m.Dy);
  return c;
}

double Red(TColor c) { return GetRValue(c) / 255.0; }
double Green(TColor c) { return GetGValue(c) / 255.0; }
double Blue(TColor c) { return GetBValue(c) / 255.0; }

// An opaque pixel of a Cairo ARGB32 surface.
uint32_t OpaqueArgb(TColor c) { return 0xFF000000u | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// Makes tile the repeating source of cr, pixel for pixel; the tile is released.
void SetTiledSource(cairo_t* cr, cairo_surface_t* tile) {
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(tile);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_set_source(cr, pattern);
  cairo_pattern_destroy(pattern);
  cairo_surface_destroy(tile);
}

// A Cairo surface over an image's pixels, optionally made opaque or inverted (for raster ops).
cairo_surface_t* ImageSurface(const TMfImage& image, bool keepAlpha, bool invert) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.Width, image.Height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  uint8_t* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.Height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    const uint32_t* source = image.Pixels.data() + static_cast<size_t>(y) * image.Width;
    for (int x = 0; x < image.Width; ++x) {
      uint32_t p = source[x];
      if (!keepAlpha) p |= 0xFF000000u;
      if (invert) p ^= 0x00FFFFFFu;
      row[x] = p;
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

// Rebuilds a BMP file around DIB bytes so that the platform reader decodes it.
std::shared_ptr<TMfImage> DecodeBmpBytes(std::vector<uint8_t> file) {
  TBitmap bitmap;
  try {
    TMemoryStream stream(std::move(file));
    bitmap.LoadFromStream(stream);
  } catch (const std::exception&) {
    return nullptr;
  }
  if (bitmap.Empty()) return nullptr;
  auto image = std::make_shared<TMfImage>();
  image->Width = bitmap.Width();
  image->Height = bitmap.Height();
  image->HasAlpha = bitmap.PixelFormat() == pf32bit;
  if (!image->HasAlpha) bitmap.SetPixelFormat(pf24bit);
  image->Pixels.resize(CheckedMul(static_cast<size_t>(image->Width), static_cast<size_t>(image->Height)));
  for (int y = 0; y < image->Height; ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    uint32_t* target = image->Pixels.data() + static_cast<size_t>(y) * image->Width;
    for (int x = 0; x < image->Width; ++x) {
      if (image->HasAlpha) {
        const uint32_t a = row[x * 4 + 3];
        const uint32_t r = std::min<uint32_t>(row[x * 4 + 2], a);
        const uint32_t g = std::min<uint32_t>(row[x * 4 + 1], a);
        const uint32_t b = std::min<uint32_t>(row[x * 4], a);
        target[x] = (a << 24) | (r << 16) | (g << 8) | b;
      } else {
        target[x] = 0xFF000000u | (static_cast<uint32_t>(row[x * 3 + 2]) << 16) |
                    (static_cast<uint32_t>(row[x * 3 + 1]) << 8) | row[x * 3];
      }
    }
  }
  return image;
}

// Bytes of BITMAPINFO before the pixels: header, bit-field masks and colour table.
size_t DibInfoSize(std::span<const uint8_t> info) {
  TByteReader reader(info);
  const uint32_t headerSize = reader.U32LE();
  if (headerSize == 12) {
    reader.Seek(10);
    const uint16_t bits = reader.U16LE();
    return 12 + (bits <= 8 ? (size_t{1} << bits) * 3 : 0);
  }
  if (headerSize < 16 || headerSize > 4096) reader.Fail();
  reader.Seek(14);
  const uint16_t bits = reader.U16LE();
  const uint32_t compression = reader.U32LE();
  reader.Seek(32);
  uint32_t used = headerSize >= 36 ? reader.U32LE() : 0;
  if (bits > 32) reader.Fail();
  if (used == 0 && bits <= 8) used = 1u << bits;
  if (used > 256 && bits <= 8) used = 256;
  if (bits > 8 && used > 65536) reader.Fail();
  size_t size = headerSize + static_cast<size_t>(used) * 4;
  if (headerSize == 40 && compression == 3) size += 12;
  if (headerSize == 40 && compression == 6) size += 16;
  return size;
}

// The least pixel bytes an uncompressed DIB needs; 0 when compressed or unknown.
size_t DibPixelBytes(std::span<const uint8_t> info) {
  TByteReader reader(info);
  const uint32_t headerSize = reader.U32LE();
  int64_t width = 0, height = 0;
  uint16_t bits = 0;
  uint32_t compression = 0;
  if (headerSize == 12) {
    width = reader.U16LE();
    height = reader.I16LE();
    reader.Skip(2);
    bits = reader.U16LE();
  } else {
    width = reader.I32LE();
    height = reader.I32LE();
    reader.Skip(2);
    bits = reader.U16LE();
    compression = reader.U32LE();
  }
  if (compression != 0 && compression != 3 && compression != 6) return 0;
  height = std::llabs(height);
  if (width <= 0 || height <= 0 || bits == 0 || bits > 32) return 0;
  CheckPictureSize(width, height);
  const size_t row = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
  return CheckedMul(row, static_cast<size_t>(height));
}

std::vector<uint8_t> BmpFileHeader(size_t total, size_t offBits) {
  std::vector<uint8_t> file(14);
  file[0] = 'B';
  file[1] = 'M';
  StoreU32LE(&file[2], static_cast<uint32_t>(total));
  StoreU32LE(&file[10], static_cast<uint32_t>(offBits));
  return file;
}

}  // namespace

std::u32string DecodeMfText(std::span<const uint8_t> bytes, int charset) {
  const char* encoding = "CP1252";
  switch (charset) {
    case 128: encoding = "SHIFT_JIS"; break;
    case 129: encoding = "CP949"; break;
    case 134: encoding = "GBK"; break;
    case 136: encoding = "BIG5"; break;
    case 161: encoding = "CP1253"; break;
    case 162: encoding = "CP1254"; break;
    case 163: encoding = "CP1258"; break;
    case 177: encoding = "CP1255"; break;
    case 178: encoding = "CP1256"; break;
    case 186: encoding = "CP1257"; break;
    case 204: encoding = "CP1251"; break;
    case 222: encoding = "CP874"; break;
    case 238: encoding = "CP1250"; break;
    default: break;
  }
  std::u32string result;
  if (charset != 2) {
    iconv_t converter = iconv_open("UTF-32LE", encoding);
    if (converter != reinterpret_cast<iconv_t>(-1)) {
      std::vector<char> input(bytes.begin(), bytes.end());
      std::vector<char> output(bytes.size() * 4 + 4);
      char* in = input.data();
      char* out = output.data();
      size_t inLeft = input.size(), outLeft = output.size();
      const size_t status = iconv(converter, &in, &inLeft, &out, &outLeft);
      iconv_close(converter);
      if (status != static_cast<size_t>(-1)) {
        const size_t count = (output.size() - outLeft) / 4;
        for (size_t i = 0; i < count; ++i)
          result += static_cast<char32_t>(LoadU32LE(reinterpret_cast<const uint8_t*>(output.data()) + i * 4));
        return result;
      }
    }
  }
  // Symbol fonts and undecodable bytes: one character per byte.
  for (uint8_t b : bytes) result += static_cast<char32_t>(b);
  return result;
}

TMfXForm TMfXForm::Then(const TMfXForm& n) const {
  TMfXForm r;
  r.M11 = M11 * n.M11 + M12 * n.M21;
  r.M12 = M11 * n.M12 + M12 * n.M22;
  r.M21 = M21 * n.M11 + M22 * n.M21;
  r.M22 = M21 * n.M12 + M22 * n.M22;
  r.Dx = Dx * n.M11 + Dy * n.M21 + n.Dx;
  r.Dy = Dx * n.M12 + Dy * n.M22 + n.Dy;
  return r;
}

bool TMfXForm::Finite() const {
  return std::isfinite(M11) && std::isfinite(M12) && std::isfinite(M21) && std::isfinite(M22) && std::isfinite(Dx) &&
         std::isfinite(Dy);
}

std::shared_ptr<TMfImage> DecodeMfDib(std::span<const uint8_t> info, std::span<const uint8_t> bits) {
  try {
    const size_t infoSize = DibInfoSize(info);
    const size_t headerSize = LoadU32LE(info.data());
    if (headerSize > info.size() || (infoSize > info.size() && (headerSize < 40 || infoSize - headerSize > 256 * 4)))
      return nullptr;
    const size_t needed = DibPixelBytes(info);
    if (needed > bits.size()) return nullptr;
    std::vector<uint8_t> file = BmpFileHeader(14 + infoSize + bits.size(), 14 + infoSize);
    const std::span<const uint8_t> present = info.first(std::min(infoSize, info.size()));
    file.insert(file.end(), present.begin(), present.end());
    // A colour table left out (palette-index DIBs of pattern brushes) becomes a grey ramp, so that
    // a monochrome pattern still tells its 0 bits from its 1 bits.
    const size_t missing = (infoSize - present.size()) / 4;
    const size_t entries = (infoSize - headerSize) / 4;
    for (size_t i = entries - missing; i < entries; ++i) {
      const auto grey = static_cast<uint8_t>(entries > 1 ? i * 255 / (entries - 1) : 0);
      file.insert(file.end(), {grey, grey, grey, 0});
    }
    file.insert(file.end(), bits.begin(), bits.end());
    return DecodeBmpBytes(std::move(file));
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::shared_ptr<TMfImage> DecodeMfPackedDib(std::span<const uint8_t> packed) {
  try {
    const size_t infoSize = DibInfoSize(packed);
    if (infoSize > packed.size()) return nullptr;
    return DecodeMfDib(packed.first(infoSize), packed.subspan(infoSize));
  } catch (const std::exception&) {
    return nullptr;
  }
}

TMetafileCanvas::TMetafileCanvas(int width, int height, TColor background) : FWidth(width), FHeight(height) {
  if (width < 1 || height < 1) throw EReadError("Metafile is not valid");
  CheckPictureSize(width, height);
  FSurface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(FSurface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(FSurface);
    throw EReadError(Format("Picture too large (%d x %d)", width, height));
  }
  FCr = cairo_create(FSurface);
  cairo_set_operator(FCr, CAIRO_OPERATOR_SOURCE);
  SetColor(background);
  cairo_paint(FCr);
  cairo_set_operator(FCr, CAIRO_OPERATOR_OVER);
  FState.Pen.Color = 0;
  FState.Brush.Color = 0x00FFFFFF;
}

TMetafileCanvas::~TMetafileCanvas() {
  if (FPath) cairo_path_destroy(FPath);
  cairo_destroy(FCr);
  cairo_surface_destroy(FSurface);
}

void TMetafileCanvas::SetDeviceResolution(double pixelsPerMmX, double pixelsPerMmY) {
  if (std::isfinite(pixelsPerMmX) && std::isfinite(pixelsPerMmY) && pixelsPerMmX > 0 && pixelsPerMmY > 0) {
    FPixelsPerMmX = pixelsPerMmX;
    FPixelsPerMmY = pixelsPerMmY;
  }
}

int TMetafileCanvas::AddObject(TMfObject object) {
  for (size_t i = 0; i < FObjects.size(); ++i) {
    if (FObjects[i].Kind == TMfObjectKind::Empty) {
      FObjects[i] = std::move(object);
      return static_cast<int>(i);
    }
  }
  if (FObjects.size() >= MaxObjects) return -1;
  FObjects.push_back(std::move(object));
  return static_cast<int>(FObjects.size() - 1);
}

void TMetafileCanvas::SetObject(uint32_t index, TMfObject object) {
  if (index >= MaxObjects) return;
  if (index >= FObjects.size()) FObjects.resize(index + 1);
  FObjects[index] = std::move(object);
}

const TMfObject* TMetafileCanvas::Object(uint32_t index) const {
  if (index >= FObjects.size() || FObjects[index].Kind == TMfObjectKind::Empty) return nullptr;
  return &FObjects[index];
}

void TMetafileCanvas::SelectObject(uint32_t index) {
  if (index & 0x80000000u) {
    SelectStockObject(index & 0x7FFFFFFFu);
    return;
  }
  const TMfObject* object = Object(index);
  if (!object) return;
  switch (object->Kind) {
    case TMfObjectKind::Pen: FState.Pen = object->Pen; break;
    case TMfObjectKind::Brush: FState.Brush = object->Brush; break;
    case TMfObjectKind::Font: FState.Font = object->Font; break;
    case TMfObjectKind::Region: SelectClipRegion(&object->Region, gdi::RGN_COPY, false); break;
    default: break;
  }
}

void TMetafileCanvas::SelectStockObject(uint32_t stock) {
  static const TColor brushGreys[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
  if (stock <= 4) {
    FState.Brush = TMfBrush{gdi::BS_SOLID, brushGreys[stock], 0, nullptr};
  } else if (stock == 5) {
    FState.Brush = TMfBrush{gdi::BS_NULL, 0, 0, nullptr};
  } else if (stock == 6 || stock == 7) {
    FState.Pen = TMfPen{gdi::PS_SOLID, 0, stock == 6 ? 0xFFFFFFu : 0u, {}};
  } else if (stock == 8) {
    FState.Pen = TMfPen{gdi::PS_NULL, 0, 0, {}};
  } else if ((stock >= 10 && stock <= 14) || stock == 16 || stock == 17) {
    FState.Font = TMfFont{};
  } else if (stock == 18) {
    FState.Brush = TMfBrush{gdi::BS_SOLID, 0xFFFFFF, 0, nullptr};
  } else if (stock == 19) {
    FState.Pen = TMfPen{gdi::PS_SOLID, 0, 0, {}};
  }
}

void TMetafileCanvas::DeleteObject(uint32_t index) {
  if (index < FObjects.size()) FObjects[index] = TMfObject{};
}

void TMetafileCanvas::SaveDC() {
  if (FSaved.size() >= MaxSavedStates) return;
  FSaved.push_back(FState);
  cairo_save(FCr);
}

void TMetafileCanvas::RestoreDC(int relative) {
  size_t keep = 0;
  if (relative < 0) {
    const size_t count = static_cast<size_t>(-static_cast<int64_t>(relative));
    if (count > FSaved.size()) return;
    keep = FSaved.size() - count;
  } else if (relative > 0 && static_cast<size_t>(relative) <= FSaved.size()) {
    keep = static_cast<size_t>(relative) - 1;
  } else {
    return;
  }
  while (FSaved.size() > keep) {
    FState = FSaved.back();
    FSaved.pop_back();
    cairo_restore(FCr);
  }
}

TMfXForm TMetafileCanvas::LogicalToOutput() const {
  const TMfState& s = FState;
  double sx = 1, sy = 1;
  const bool scaled = FFixedViewport || s.MapMode == gdi::MM_ISOTROPIC || s.MapMode == gdi::MM_ANISOTROPIC;
  if (scaled) {
    sx = s.ViewportExt.X / s.WindowExt.X;
    sy = s.ViewportExt.Y / s.WindowExt.Y;
    if (s.MapMode == gdi::MM_ISOTROPIC) {
      const double scale = std::min(std::fabs(sx), std::fabs(sy));
      sx = std::copysign(scale, sx);
      sy = std::copysign(scale, sy);
    }
  } else {
    double mm = 0;
    switch (s.MapMode) {
      case gdi::MM_LOMETRIC: mm = 0.1; break;
      case gdi::MM_HIMETRIC: mm = 0.01; break;
      case gdi::MM_LOENGLISH: mm = 0.254; break;
      case gdi::MM_HIENGLISH: mm = 0.0254; break;
      case gdi::MM_TWIPS: mm = 25.4 / 1440; break;
      default: break;
    }
    if (mm > 0) {
      sx = mm * FPixelsPerMmX;
      sy = -mm * FPixelsPerMmY;
    }
  }
  TMfXForm page;
  page.M11 = sx;
  page.M22 = sy;
  page.Dx = s.ViewportOrg.X - s.WindowOrg.X * sx;
  page.Dy = s.ViewportOrg.Y - s.WindowOrg.Y * sy;
  TMfXForm result = s.World.Then(page).Then(FDeviceToOutput);
  if (!result.Finite()) return TMfXForm{0, 0, 0, 0, 0, 0};
  return result;
}

void TMetafileCanvas::MoveToOut(TMfPoint p) { cairo_move_to(FCr, Clamp(p.X), Clamp(p.Y)); }
void TMetafileCanvas::LineToOut(TMfPoint p) { cairo_line_to(FCr, Clamp(p.X), Clamp(p.Y)); }
void TMetafileCanvas::CurveToOut(TMfPoint a, TMfPoint b, TMfPoint c) {
  cairo_curve_to(FCr, Clamp(a.X), Clamp(a.Y), Clamp(b.X), Clamp(b.Y), Clamp(c.X), Clamp(c.Y));
}

void TMetafileCanvas::Begin() {
  cairo_identity_matrix(FCr);
  if (!FInPath) cairo_new_path(FCr);
}

void TMetafileCanvas::SetColor(TColor color) { cairo_set_source_rgb(FCr, Red(color), Green(color), Blue(color)); }

void TMetafileCanvas::ApplyRop2() {
  switch (FState.Rop2) {
    case gdi::R2_XORPEN:
    case gdi::R2_NOT: cairo_set_operator(FCr, CAIRO_OPERATOR_DIFFERENCE); break;
    case 9: cairo_set_operator(FCr, CAIRO_OPERATOR_MULTIPLY); break;  // R2_MASKPEN
    case 15: cairo_set_operator(FCr, CAIRO_OPERATOR_LIGHTEN); break;  // R2_MERGEPEN
    default: cairo_set_operator(FCr, CAIRO_OPERATOR_OVER); break;
  }
}

bool TMetafileCanvas::SetBrushSource(const TMfBrush& brush) {
  switch (brush.Style) {
    case gdi::BS_SOLID: SetColor(brush.Color); return true;
    case gdi::BS_HATCHED: {
      // GDI hatches are 8 × 8 device-pixel patterns, drawn over the background only when opaque.
      cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
      cairo_surface_flush(tile);
      uint8_t* data = cairo_image_surface_get_data(tile);
      const int stride = cairo_image_surface_get_stride(tile);
      const uint32_t ink = OpaqueArgb(brush.Color);
      const uint32_t back = FState.BkMode == gdi::OPAQUE ? OpaqueArgb(FState.BkColor) : 0u;
      for (int y = 0; y < 8; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < 8; ++x) {
          bool on = false;
          switch (brush.Hatch) {
            case 0: on = y == 3; break;
            case 1: on = x == 3; break;
            case 2: on = x == y; break;
            case 3: on = x + y == 7; break;
            case 4: on = x == 3 || y == 3; break;
            default: on = x == y || x + y == 7; break;
          }
          row[x] = on ? ink : back;
        }
      }
      cairo_surface_mark_dirty(tile);
      SetTiledSource(FCr, tile);
      return true;
    }
    case gdi::BS_PATTERN:
    case gdi::BS_DIBPATTERN:
    case gdi::BS_DIBPATTERNPT: {
      if (!brush.Pattern) {
        SetColor(brush.Color);
        return true;
      }
      TMfImage recoloured;
      const TMfImage* source = brush.Pattern.get();
      if (brush.Monochrome) {
        recoloured = *source;
        for (uint32_t& p : recoloured.Pixels)
          p = (p & 0x00FFFFFF) == 0 ? OpaqueArgb(FState.TextColor) : OpaqueArgb(FState.BkColor);
        source = &recoloured;
      }
      cairo_surface_t* tile = ImageSurface(*source, false, false);
      if (!tile) return false;
      SetTiledSource(FCr, tile);
      return true;
    }
    default: return false;
  }
}

void TMetafileCanvas::FillCurrent(const TMfBrush& brush, bool preserve) {
  if (FState.Rop2 == gdi::R2_NOP || !SetBrushSource(brush)) {
    if (!preserve) cairo_new_path(FCr);
    return;
  }
  ApplyRop2();
  cairo_set_fill_rule(FCr, FState.PolyFillMode == gdi::WINDING ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  if (preserve)
    cairo_fill_preserve(FCr);
  else
    cairo_fill(FCr);
  cairo_set_operator(FCr, CAIRO_OPERATOR_OVER);
}

double TMetafileCanvas::PenWidthOut() const {
  const TMfXForm m = LogicalToOutput();
  const double scale = std::sqrt(std::fabs(m.Determinant()));
  return std::clamp(FState.Pen.Width * scale, 1.0, CoordinateLimit);
}

void TMetafileCanvas::StrokeCurrent(bool preserve) {
  const TMfPen& pen = FState.Pen;
  const int style = pen.Style & gdi::PS_STYLE_MASK;
  if (style == gdi::PS_NULL || FState.Rop2 == gdi::R2_NOP) {
    if (!preserve) cairo_new_path(FCr);
    return;
  }
  const double width = PenWidthOut();
  cairo_set_line_width(FCr, width);
  switch (pen.Style & gdi::PS_ENDCAP_MASK) {
    case gdi::PS_ENDCAP_SQUARE: cairo_set_line_cap(FCr, CAIRO_LINE_CAP_SQUARE); break;
    case gdi::PS_ENDCAP_FLAT: cairo_set_line_cap(FCr, CAIRO_LINE_CAP_BUTT); break;
    default: cairo_set_line_cap(FCr, CAIRO_LINE_CAP_ROUND); break;
  }
  switch (pen.Style & gdi::PS_JOIN_MASK) {
    case gdi::PS_JOIN_BEVEL: cairo_set_line_join(FCr, CAIRO_LINE_JOIN_BEVEL); break;
    case gdi::PS_JOIN_MITER: cairo_set_line_join(FCr, CAIRO_LINE_JOIN_MITER); break;
    default: cairo_set_line_join(FCr, CAIRO_LINE_JOIN_ROUND); break;
  }
  cairo_set_miter_limit(FCr, std::clamp(FState.MiterLimit, 1.0, 100.0));
  // Cosmetic dash lengths are GDI's device-pixel patterns; geometric ones scale with the width.
  std::vector<double> dashes;
  const double unit = width <= 1.5 ? 1.0 : width;
  const bool cosmetic = width <= 1.5;
  switch (style) {
    case gdi::PS_DASH: dashes = cosmetic ? std::vector<double>{18, 6} : std::vector<double>{3, 1}; break;
    case gdi::PS_DOT: dashes = cosmetic ? std::vector<double>{3, 3} : std::vector<double>{1, 1}; break;
    case gdi::PS_ALTERNATE: dashes = {1, 1}; break;
    case gdi::PS_DASHDOT: dashes = cosmetic ? std::vector<double>{9, 6, 3, 6} : std::vector<double>{3, 1, 1, 1}; break;
    case gdi::PS_DASHDOTDOT:
      dashes = cosmetic ? std::vector<double>{9, 3, 3, 3, 3, 3} : std::vector<double>{3, 1, 1, 1, 1, 1};
      break;
    case gdi::PS_USERSTYLE: {
      const double scale = std::sqrt(std::fabs(LogicalToOutput().Determinant()));
      double total = 0;
      for (double d : pen.Dashes) {
        dashes.push_back(std::clamp(d * scale, 0.0, CoordinateLimit));
        total += dashes.back();
      }
      if (total <= 0.5) dashes.clear();
      break;
    }
    default: break;
  }
  if (style != gdi::PS_USERSTYLE)
    for (double& d : dashes) d *= unit;
  if (dashes.size() > 64) dashes.resize(64);
  cairo_set_dash(FCr, dashes.data(), static_cast<int>(dashes.size()), 0);
  SetColor(pen.Color);
  ApplyRop2();
  if (preserve)
    cairo_stroke_preserve(FCr);
  else
    cairo_stroke(FCr);
  cairo_set_dash(FCr, nullptr, 0, 0);
  cairo_set_operator(FCr, CAIRO_OPERATOR_OVER);
}

void TMetafileCanvas::FinishShape(bool fill, bool stroke) {
  if (FInPath) return;
  if (fill) FillCurrent(FState.Brush, true);
  if (stroke) StrokeCurrent(true);
  cairo_new_path(FCr);
}

void TMetafileCanvas::AddPolyline(std::span<const TMfPoint> points, bool close, const TMfXForm& m) {
  if (points.empty()) return;
  MoveToOut(m.Apply(points[0].X, points[0].Y));
  for (size_t i = 1; i < points.size(); ++i) LineToOut(m.Apply(points[i].X, points[i].Y));
  if (close) cairo_close_path(FCr);
}

void TMetafileCanvas::AddRect(const TMfXForm& m, TMfRect r) {
  MoveToOut(m.Apply(r.Left, r.Top));
  LineToOut(m.Apply(r.Right, r.Top));
  LineToOut(m.Apply(r.Right, r.Bottom));
  LineToOut(m.Apply(r.Left, r.Bottom));
  cairo_close_path(FCr);
}

// An elliptic arc as Bézier segments of at most 90°, built in logical space and mapped exactly.
void TMetafileCanvas::AddEllipseArc(const TMfXForm& m, double cx, double cy, double rx, double ry, double a1,
                                    double sweep, bool moveFirst) {
  const int segments = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (std::numbers::pi / 2) - 1e-9)));
  const double step = sweep / segments;
  const double k = 4.0 / 3.0 * std::tan(step / 4);
  double a = a1;
  const TMfPoint first = m.Apply(cx + rx * std::cos(a), cy + ry * std::sin(a));
  if (moveFirst)
    MoveToOut(first);
  else
    LineToOut(first);
  for (int i = 0; i < segments; ++i) {
    const double b = a + step;
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    const TMfPoint p1 = m.Apply(cx + rx * (ca - k * sa), cy + ry * (sa + k * ca));
    const TMfPoint p2 = m.Apply(cx + rx * (cb + k * sb), cy + ry * (sb - k * cb));
    const TMfPoint p3 = m.Apply(cx + rx * cb, cy + ry * sb);
    CurveToOut(p1, p2, p3);
    a = b;
  }
}

void TMetafileCanvas::MoveTo(double x, double y) {
  FState.Position = {x, y};
  if (FInPath) {
    cairo_identity_matrix(FCr);
    MoveToOut(LogicalToOutput().Apply(x, y));
  }
}

void TMetafileCanvas::LineTo(double x, double y) {
  const TMfXForm m = LogicalToOutput();
  Begin();
  if (!FInPath || !cairo_has_current_point(FCr)) MoveToOut(m.Apply(FState.Position.X, FState.Position.Y));
  LineToOut(m.Apply(x, y));
  FState.Position = {x, y};
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::Polyline(std::span<const TMfPoint> points) {
  if (points.size() < 2) return;
  Begin();
  AddPolyline(points, false, LogicalToOutput());
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::PolylineTo(std::span<const TMfPoint> points) {
  if (points.empty()) return;
  const TMfXForm m = LogicalToOutput();
  Begin();
  if (!FInPath || !cairo_has_current_point(FCr)) MoveToOut(m.Apply(FState.Position.X, FState.Position.Y));
  for (const TMfPoint& p : points) LineToOut(m.Apply(p.X, p.Y));
  FState.Position = points.back();
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::Polygon(std::span<const TMfPoint> points) {
  if (points.size() < 2) return;
  Begin();
  AddPolyline(points, true, LogicalToOutput());
  FinishShape(true, true);
}

void TMetafileCanvas::AddPolylines(std::span<const TMfPoint> points, std::span<const uint32_t> counts, bool close) {
  const TMfXForm m = LogicalToOutput();
  size_t offset = 0;
  for (uint32_t count : counts) {
    if (count > points.size() - offset) break;
    AddPolyline(points.subspan(offset, count), close, m);
    offset += count;
  }
}

void TMetafileCanvas::PolyPolygon(std::span<const TMfPoint> points, std::span<const uint32_t> counts) {
  Begin();
  AddPolylines(points, counts, true);
  FinishShape(true, true);
}

void TMetafileCanvas::PolyPolyline(std::span<const TMfPoint> points, std::span<const uint32_t> counts) {
  Begin();
  AddPolylines(points, counts, false);
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::PolyBezier(std::span<const TMfPoint> points) {
  if (points.size() < 4) return;
  const TMfXForm m = LogicalToOutput();
  Begin();
  MoveToOut(m.Apply(points[0].X, points[0].Y));
  for (size_t i = 1; i + 2 < points.size(); i += 3)
    CurveToOut(m.Apply(points[i].X, points[i].Y), m.Apply(points[i + 1].X, points[i + 1].Y),
               m.Apply(points[i + 2].X, points[i + 2].Y));
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::PolyBezierTo(std::span<const TMfPoint> points) {
  if (points.size() < 3) return;
  const TMfXForm m = LogicalToOutput();
  Begin();
  if (!FInPath || !cairo_has_current_point(FCr)) MoveToOut(m.Apply(FState.Position.X, FState.Position.Y));
  size_t i = 0;
  for (; i + 2 < points.size(); i += 3)
    CurveToOut(m.Apply(points[i].X, points[i].Y), m.Apply(points[i + 1].X, points[i + 1].Y),
               m.Apply(points[i + 2].X, points[i + 2].Y));
  FState.Position = points[i - 1];
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::PolyDraw(std::span<const TMfPoint> points, std::span<const uint8_t> types) {
  const TMfXForm m = LogicalToOutput();
  Begin();
  if (!cairo_has_current_point(FCr)) MoveToOut(m.Apply(FState.Position.X, FState.Position.Y));
  const size_t n = std::min(points.size(), types.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t type = types[i] & 0x06;
    if (type == 0x06) {
      MoveToOut(m.Apply(points[i].X, points[i].Y));
    } else if (type == 0x04 && i + 2 < n) {
      CurveToOut(m.Apply(points[i].X, points[i].Y), m.Apply(points[i + 1].X, points[i + 1].Y),
                 m.Apply(points[i + 2].X, points[i + 2].Y));
      i += 2;
    } else {
      LineToOut(m.Apply(points[i].X, points[i].Y));
    }
    if (types[i] & 0x01) cairo_close_path(FCr);
    FState.Position = points[i];
  }
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::Rectangle(TMfRect rect) {
  Begin();
  AddRect(LogicalToOutput(), rect);
  FinishShape(true, true);
}

void TMetafileCanvas::RoundRect(TMfRect r, double cornerWidth, double cornerHeight) {
  const double left = std::min(r.Left, r.Right), right = std::max(r.Left, r.Right);
  const double top = std::min(r.Top, r.Bottom), bottom = std::max(r.Top, r.Bottom);
  const double rx = std::min(std::fabs(cornerWidth) / 2, (right - left) / 2);
  const double ry = std::min(std::fabs(cornerHeight) / 2, (bottom - top) / 2);
  const TMfXForm m = LogicalToOutput();
  const double pi = std::numbers::pi;
  Begin();
  AddEllipseArc(m, right - rx, top + ry, rx, ry, -pi / 2, pi / 2, true);
  AddEllipseArc(m, right - rx, bottom - ry, rx, ry, 0, pi / 2, false);
  AddEllipseArc(m, left + rx, bottom - ry, rx, ry, pi / 2, pi / 2, false);
  AddEllipseArc(m, left + rx, top + ry, rx, ry, pi, pi / 2, false);
  cairo_close_path(FCr);
  FinishShape(true, true);
}

void TMetafileCanvas::Ellipse(TMfRect r) {
  Begin();
  AddEllipseArc(LogicalToOutput(), (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2, (r.Right - r.Left) / 2,
                (r.Bottom - r.Top) / 2, 0, 2 * std::numbers::pi, true);
  cairo_close_path(FCr);
  FinishShape(true, true);
}

void TMetafileCanvas::ArcShape(TArcKind kind, TMfRect r, TMfPoint start, TMfPoint end) {
  const double cx = (r.Left + r.Right) / 2, cy = (r.Top + r.Bottom) / 2;
  const double rx = std::fabs(r.Right - r.Left) / 2, ry = std::fabs(r.Bottom - r.Top) / 2;
  if (rx <= 0 || ry <= 0) return;
  const double a1 = std::atan2((start.Y - cy) / ry, (start.X - cx) / rx);
  const double a2 = std::atan2((end.Y - cy) / ry, (end.X - cx) / rx);
  const TMfXForm m = LogicalToOutput();
  // The direction is seen on the output: counter-clockwise on a y-down surface is a decreasing
  // angle unless the mapping mirrors the picture.
  const bool counterClockwise = FState.ArcDirection == gdi::AD_COUNTERCLOCKWISE;
  const bool decreasing = counterClockwise == (m.Determinant() > 0);
  const double twoPi = 2 * std::numbers::pi;
  double sweep = decreasing ? a1 - a2 : a2 - a1;
  while (sweep <= 1e-9) sweep += twoPi;
  if (sweep > twoPi) sweep = twoPi;
  if (decreasing) sweep = -sweep;
  Begin();
  switch (kind) {
    case TArcKind::Arc:
      AddEllipseArc(m, cx, cy, rx, ry, a1, sweep, true);
      if (!FInPath) StrokeCurrent(false);
      break;
    case TArcKind::ArcTo: {
      if (!FInPath || !cairo_has_current_point(FCr)) MoveToOut(m.Apply(FState.Position.X, FState.Position.Y));
      AddEllipseArc(m, cx, cy, rx, ry, a1, sweep, false);
      const double a = a1 + sweep;
      FState.Position = {cx + rx * std::cos(a), cy + ry * std::sin(a)};
      if (!FInPath) StrokeCurrent(false);
      break;
    }
    case TArcKind::Chord:
      AddEllipseArc(m, cx, cy, rx, ry, a1, sweep, true);
      cairo_close_path(FCr);
      FinishShape(true, true);
      break;
    case TArcKind::Pie:
      MoveToOut(m.Apply(cx, cy));
      AddEllipseArc(m, cx, cy, rx, ry, a1, sweep, false);
      cairo_close_path(FCr);
      FinishShape(true, true);
      break;
  }
}

void TMetafileCanvas::AngleArc(TMfPoint center, double radius, double startDegrees, double sweepDegrees) {
  if (!std::isfinite(startDegrees) || !std::isfinite(sweepDegrees)) return;
  const double pi = std::numbers::pi;
  sweepDegrees = std::clamp(sweepDegrees, -3600.0, 3600.0);
  // AngleArc angles are counter-clockwise in logical space with y pointing up.
  const double a1 = -std::fmod(startDegrees, 360.0) * pi / 180;
  const double sweep = -sweepDegrees * pi / 180;
  const TMfXForm m = LogicalToOutput();
  Begin();
  if (!FInPath || !cairo_has_current_point(FCr)) MoveToOut(m.Apply(FState.Position.X, FState.Position.Y));
  if (sweep != 0) AddEllipseArc(m, center.X, center.Y, radius, radius, a1, sweep, false);
  const double a = a1 + sweep;
  FState.Position = {center.X + radius * std::cos(a), center.Y + radius * std::sin(a)};
  if (!FInPath) StrokeCurrent(false);
}

void TMetafileCanvas::SetPixel(double x, double y, TColor color) {
  const TMfPoint p = LogicalToOutput().Apply(x, y);
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  cairo_rectangle(FCr, std::floor(Clamp(p.X)), std::floor(Clamp(p.Y)), 1, 1);
  SetColor(color);
  cairo_fill(FCr);
}

void TMetafileCanvas::GradientRect(TMfRect rect, TColor from, TColor to, bool vertical) {
  const TMfXForm m = LogicalToOutput();
  const TMfPoint a = m.Apply(rect.Left, rect.Top);
  const TMfPoint b = vertical ? m.Apply(rect.Left, rect.Bottom) : m.Apply(rect.Right, rect.Top);
  cairo_pattern_t* pattern = cairo_pattern_create_linear(Clamp(a.X), Clamp(a.Y), Clamp(b.X), Clamp(b.Y));
  cairo_pattern_add_color_stop_rgb(pattern, 0, Red(from), Green(from), Blue(from));
  cairo_pattern_add_color_stop_rgb(pattern, 1, Red(to), Green(to), Blue(to));
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  AddRect(m, rect);
  cairo_set_source(FCr, pattern);
  cairo_fill(FCr);
  cairo_pattern_destroy(pattern);
}

void TMetafileCanvas::PatBlt(TMfRect rect, uint32_t rop) {
  if (rop == gdi::DSTCOPY) return;
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  AddRect(LogicalToOutput(), rect);
  cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
  switch (rop) {
    case gdi::BLACKNESS: SetColor(0); break;
    case gdi::WHITENESS: SetColor(0xFFFFFF); break;
    case gdi::DSTINVERT:
      SetColor(0xFFFFFF);
      cairo_set_operator(FCr, CAIRO_OPERATOR_DIFFERENCE);
      break;
    case gdi::PATINVERT:
      if (!SetBrushSource(FState.Brush)) return;
      cairo_set_operator(FCr, CAIRO_OPERATOR_DIFFERENCE);
      break;
    default:
      if (!SetBrushSource(FState.Brush)) {
        cairo_new_path(FCr);
        return;
      }
      break;
  }
  cairo_fill(FCr);
  cairo_set_operator(FCr, CAIRO_OPERATOR_OVER);
}

void TMetafileCanvas::DrawImage(const TMfImage& image, TMfRect source, TMfRect destination, uint32_t rop) {
  const bool usesSource = (((rop >> 2) ^ rop) & 0x00330000u) != 0;
  if (!usesSource) {
    PatBlt(destination, rop);
    return;
  }
  bool invert = false;
  cairo_operator_t op = CAIRO_OPERATOR_OVER;
  switch (rop) {
    case gdi::SRCAND: op = CAIRO_OPERATOR_MULTIPLY; break;
    case gdi::SRCPAINT: op = CAIRO_OPERATOR_LIGHTEN; break;
    case gdi::SRCINVERT: op = CAIRO_OPERATOR_DIFFERENCE; break;
    case gdi::NOTSRCCOPY: invert = true; break;
    case gdi::DSNA:
      invert = true;
      op = CAIRO_OPERATOR_MULTIPLY;
      break;
    case gdi::MERGEPAINT:
      invert = true;
      op = CAIRO_OPERATOR_LIGHTEN;
      break;
    default: break;
  }
  PaintImage(image, source, destination, op, false, invert, 1.0);
}

void TMetafileCanvas::AlphaBlend(const TMfImage& image, TMfRect source, TMfRect destination, int constantAlpha,
                                 bool sourceAlpha) {
  PaintImage(image, source, destination, CAIRO_OPERATOR_OVER, sourceAlpha && image.HasAlpha, false,
             std::clamp(constantAlpha, 0, 255) / 255.0);
}

void TMetafileCanvas::PaintImage(const TMfImage& image, TMfRect source, TMfRect destination, int op, bool keepAlpha,
                                 bool invert, double alpha) {
  const double sw = source.Right - source.Left, sh = source.Bottom - source.Top;
  const double dw = destination.Right - destination.Left, dh = destination.Bottom - destination.Top;
  if (image.Width <= 0 || image.Height <= 0 || sw == 0 || sh == 0 || dw == 0 || dh == 0) return;
  // Image pixels → logical → output; Cairo wants the inverse for the pattern.
  TMfXForm toLogical;
  toLogical.M11 = dw / sw;
  toLogical.M22 = dh / sh;
  toLogical.Dx = destination.Left - source.Left * toLogical.M11;
  toLogical.Dy = destination.Top - source.Top * toLogical.M22;
  const TMfXForm m = LogicalToOutput();
  const TMfXForm toOutput = toLogical.Then(m);
  if (!toOutput.Finite() || std::fabs(toOutput.Determinant()) < 1e-12) return;
  cairo_matrix_t matrix = ToCairo(toOutput);
  if (cairo_matrix_invert(&matrix) != CAIRO_STATUS_SUCCESS) return;
  cairo_surface_t* surface = ImageSurface(image, keepAlpha, invert);
  if (!surface) return;
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
  cairo_pattern_set_matrix(pattern, &matrix);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  const bool shrinking = std::fabs(toOutput.Determinant()) < 1;
  // GDI stretches up by repeating pixels; shrinking is filtered so that fine detail survives.
  cairo_pattern_set_filter(pattern, shrinking ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  // Only the source rectangle inside the image is drawn.
  TMfRect inside{std::max(0.0, std::min(source.Left, source.Right)), std::max(0.0, std::min(source.Top, source.Bottom)),
                 std::min<double>(image.Width, std::max(source.Left, source.Right)),
                 std::min<double>(image.Height, std::max(source.Top, source.Bottom))};
  if (inside.Right > inside.Left && inside.Bottom > inside.Top) {
    AddRect(toOutput, inside);
    cairo_set_source(FCr, pattern);
    cairo_set_operator(FCr, static_cast<cairo_operator_t>(op));
    if (alpha < 1) {
      cairo_save(FCr);
      cairo_clip(FCr);
      cairo_paint_with_alpha(FCr, alpha);
      cairo_restore(FCr);
    } else {
      cairo_fill(FCr);
    }
    cairo_set_operator(FCr, CAIRO_OPERATOR_OVER);
  }
  cairo_new_path(FCr);
  cairo_pattern_destroy(pattern);
  cairo_surface_destroy(surface);
}

void TMetafileCanvas::BeginPath() {
  FInPath = true;
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  MoveToOut(LogicalToOutput().Apply(FState.Position.X, FState.Position.Y));
}

void TMetafileCanvas::EndPath() {
  if (!FInPath) return;
  FInPath = false;
  if (FPath) cairo_path_destroy(FPath);
  FPath = cairo_copy_path(FCr);
  cairo_new_path(FCr);
}

void TMetafileCanvas::AbortPath() {
  FInPath = false;
  cairo_new_path(FCr);
  if (FPath) cairo_path_destroy(FPath);
  FPath = nullptr;
}

void TMetafileCanvas::CloseFigure() {
  if (FInPath && cairo_has_current_point(FCr)) cairo_close_path(FCr);
}

// Paths are used up by the operation that draws or clips with them.
bool TMetafileCanvas::TakePath() {
  if (FInPath) EndPath();
  if (!FPath) return false;
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  if (FPath->status == CAIRO_STATUS_SUCCESS) cairo_append_path(FCr, FPath);
  cairo_path_destroy(FPath);
  FPath = nullptr;
  return true;
}

void TMetafileCanvas::FillPath() {
  if (TakePath()) FillCurrent(FState.Brush, false);
}

void TMetafileCanvas::StrokePath() {
  if (TakePath()) StrokeCurrent(false);
}

void TMetafileCanvas::StrokeAndFillPath() {
  if (!TakePath()) return;
  FillCurrent(FState.Brush, true);
  StrokeCurrent(false);
}

void TMetafileCanvas::ClipCurrent(int mode) {
  switch (mode) {
    case gdi::RGN_COPY: cairo_reset_clip(FCr); [[fallthrough]];
    case gdi::RGN_AND: cairo_clip(FCr); break;
    case gdi::RGN_DIFF:
      cairo_rectangle(FCr, -CoordinateLimit, -CoordinateLimit, 2 * CoordinateLimit, 2 * CoordinateLimit);
      cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_EVEN_ODD);
      cairo_clip(FCr);
      break;
    default:
      // A union or exclusive-or with the current clip cannot be expressed as an intersection;
      // the clip is left as it is rather than hiding what should be drawn.
      cairo_new_path(FCr);
      break;
  }
}

void TMetafileCanvas::SelectClipPath(int mode) {
  if (!TakePath()) return;
  cairo_set_fill_rule(FCr, FState.PolyFillMode == gdi::WINDING ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  ClipCurrent(mode);
}

void TMetafileCanvas::IntersectClipRect(TMfRect rect) {
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  AddRect(LogicalToOutput(), rect);
  cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
  cairo_clip(FCr);
}

void TMetafileCanvas::ExcludeClipRect(TMfRect rect) {
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  AddRect(LogicalToOutput(), rect);
  ClipCurrent(gdi::RGN_DIFF);
}

void TMetafileCanvas::AddRegion(const TMfRegion& region, bool deviceUnits) {
  const TMfXForm m = deviceUnits ? FDeviceToOutput : LogicalToOutput();
  for (const TMfRect& r : region.Rects) AddRect(m, r);
}

void TMetafileCanvas::SelectClipRegion(const TMfRegion* region, int mode, bool deviceUnits) {
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  if (!region) {
    if (mode == gdi::RGN_COPY) cairo_reset_clip(FCr);
    return;
  }
  AddRegion(*region, deviceUnits);
  cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
  ClipCurrent(mode);
}

void TMetafileCanvas::FillRegion(const TMfRegion& region, const TMfBrush& brush, bool deviceUnits) {
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  AddRegion(region, deviceUnits);
  const int fillMode = FState.PolyFillMode;
  FState.PolyFillMode = gdi::WINDING;
  FillCurrent(brush, false);
  FState.PolyFillMode = fillMode;
}

void TMetafileCanvas::FrameRegion(const TMfRegion& region, const TMfBrush& brush, double width, double height,
                                  bool deviceUnits) {
  cairo_save(FCr);
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  AddRegion(region, deviceUnits);
  cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
  cairo_clip(FCr);
  const TMfXForm m = deviceUnits ? FDeviceToOutput : LogicalToOutput();
  const double scale = std::sqrt(std::fabs(m.Determinant()));
  cairo_set_line_width(FCr, std::clamp(2 * std::max(std::fabs(width), std::fabs(height)) * scale, 1.0, 1000.0));
  AddRegion(region, deviceUnits);
  if (SetBrushSource(brush)) cairo_stroke(FCr);
  cairo_new_path(FCr);
  cairo_restore(FCr);
}

std::string MfUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

void AppendGlyphs(cairo_scaled_font_t* font, const std::string& utf8, double x, std::vector<cairo_glyph_t>& glyphs) {
  cairo_glyph_t* list = nullptr;
  int count = 0;
  if (cairo_scaled_font_text_to_glyphs(font, x, 0, utf8.data(), static_cast<int>(utf8.size()), &list, &count, nullptr,
                                       nullptr, nullptr) == CAIRO_STATUS_SUCCESS) {
    glyphs.insert(glyphs.end(), list, list + count);
  }
  cairo_glyph_free(list);
}

}  // namespace

void TMetafileCanvas::TextOut(double x, double y, const std::u32string& text, std::span<const double> dx, int options,
                              const TMfRect* clipRect) {
  const bool updateCp = (FState.TextAlign & gdi::TA_UPDATECP) != 0;
  if (updateCp) {
    x = FState.Position.X;
    y = FState.Position.Y;
  }
  const TMfXForm m = LogicalToOutput();
  const double det = m.Determinant();
  if (std::fabs(det) < 1e-12) return;
  cairo_identity_matrix(FCr);
  if (!FInPath && clipRect && (options & gdi::ETO_OPAQUE)) {
    cairo_new_path(FCr);
    AddRect(m, *clipRect);
    SetColor(FState.BkColor);
    cairo_fill(FCr);
  }
  if (text.empty()) return;
  const bool clipped = !FInPath && clipRect && (options & gdi::ETO_CLIPPED);
  cairo_save(FCr);
  if (clipped) {
    cairo_new_path(FCr);
    AddRect(m, *clipRect);
    cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
    cairo_clip(FCr);
  }
  // Text space: logical units along the baseline, glyphs kept upright when the mapping mirrors y.
  const TMfFont& font = FState.Font;
  const double flip = det < 0 ? -1 : 1;
  cairo_matrix_t matrix;
  cairo_matrix_init(&matrix, m.M11, m.M12, m.M21 * flip, m.M22 * flip, Clamp(m.Dx + x * m.M11 + y * m.M21),
                    Clamp(m.Dy + x * m.M12 + y * m.M22));
  cairo_set_matrix(FCr, &matrix);
  const double escapement = std::isfinite(font.Escapement) ? font.Escapement : 0;
  cairo_rotate(FCr, -escapement / 10 * std::numbers::pi / 180);
  cairo_select_font_face(FCr, font.Face.empty() ? "sans-serif" : font.Face.c_str(),
                         font.Italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         font.Weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(FCr, 1);
  cairo_font_extents_t unit;
  cairo_font_extents(FCr, &unit);
  const double yScale = std::hypot(m.M21, m.M22);
  double em = 0;
  if (font.Height < 0)
    em = -font.Height;
  else if (font.Height > 0)
    em = font.Height / std::max(0.1, unit.ascent + unit.descent);
  else
    em = 16 / std::max(1e-9, yScale);
  const double pixels = em * yScale;
  if (!std::isfinite(pixels) || pixels < 0.05 || pixels > 20000) {
    cairo_restore(FCr);
    return;
  }
  cairo_set_font_size(FCr, em);
  cairo_font_extents_t extents;
  cairo_font_extents(FCr, &extents);
  cairo_scaled_font_t* scaled = cairo_get_scaled_font(FCr);

  std::vector<cairo_glyph_t> glyphs;
  double width = 0;
  if (!dx.empty()) {
    for (size_t i = 0; i < text.size(); ++i) {
      AppendGlyphs(scaled, MfUtf8(std::u32string_view(&text[i], 1)), width, glyphs);
      width += i < dx.size() && std::isfinite(dx[i]) ? std::clamp(dx[i], -CoordinateLimit, CoordinateLimit) : 0;
    }
  } else {
    AppendGlyphs(scaled, MfUtf8(text), 0, glyphs);
    cairo_text_extents_t te;
    cairo_scaled_font_glyph_extents(scaled, glyphs.data(), static_cast<int>(glyphs.size()), &te);
    width = te.x_advance;
  }
  double shiftX = 0, shiftY = 0;
  switch (FState.TextAlign & gdi::TA_HMASK) {
    case gdi::TA_CENTER: shiftX = -width / 2; break;
    case gdi::TA_RIGHT: shiftX = -width; break;
    default: break;
  }
  switch (FState.TextAlign & gdi::TA_VMASK) {
    case gdi::TA_BASELINE: break;
    case gdi::TA_BOTTOM: shiftY = -extents.descent; break;
    default: shiftY = extents.ascent; break;
  }
  for (cairo_glyph_t& g : glyphs) {
    g.x += shiftX;
    g.y += shiftY;
  }
  if (FInPath) {
    cairo_glyph_path(FCr, glyphs.data(), static_cast<int>(glyphs.size()));
  } else {
    if (FState.BkMode == gdi::OPAQUE && !(options & gdi::ETO_OPAQUE)) {
      cairo_new_path(FCr);
      cairo_rectangle(FCr, shiftX, shiftY - extents.ascent, width, extents.ascent + extents.descent);
      SetColor(FState.BkColor);
      cairo_fill(FCr);
    }
    SetColor(FState.TextColor);
    cairo_show_glyphs(FCr, glyphs.data(), static_cast<int>(glyphs.size()));
    const double line = std::max(em / 14, 1 / std::max(1e-9, yScale));
    if (font.Underline) {
      cairo_rectangle(FCr, shiftX, shiftY + extents.descent * 0.4, width, line);
      cairo_fill(FCr);
    }
    if (font.StrikeOut) {
      cairo_rectangle(FCr, shiftX, shiftY - extents.ascent * 0.3, width, line);
      cairo_fill(FCr);
    }
  }
  cairo_restore(FCr);
  if (updateCp) {
    const int align = FState.TextAlign & gdi::TA_HMASK;
    if (align == 0)
      FState.Position.X += width;
    else if (align == gdi::TA_RIGHT)
      FState.Position.X -= width;
  }
}

void TMetafileCanvas::CopyTo(TBitmap& target) {
  cairo_surface_flush(FSurface);
  target.SetPixelFormat(pf24bit);
  target.SetSize(FWidth, FHeight);
  const uint8_t* data = cairo_image_surface_get_data(FSurface);
  const int stride = cairo_image_surface_get_stride(FSurface);
  for (int y = 0; y < FHeight; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    uint8_t* out = target.ScanLine(y);
    for (int x = 0; x < FWidth; ++x) {
      out[x * 3] = static_cast<uint8_t>(row[x]);
      out[x * 3 + 1] = static_cast<uint8_t>(row[x] >> 8);
      out[x * 3 + 2] = static_cast<uint8_t>(row[x] >> 16);
    }
  }
}

}  // namespace glyphmill
