#include "platform/metafile_emf.h"

#include <bit>
#include <cmath>

#include "support/byte_reader.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

const char* const InvalidMetafile = "Metafile is not valid";
constexpr uint32_t EmfSignature = 0x464D4520;

enum : uint32_t {
  EMR_HEADER = 1,
  EMR_POLYBEZIER = 2,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6,
  EMR_POLYPOLYLINE = 7,
  EMR_POLYPOLYGON = 8,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_EOF = 14,
  EMR_SETPIXELV = 15,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETROP2 = 20,
  EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27,
  EMR_EXCLUDECLIPRECT = 29,
  EMR_INTERSECTCLIPRECT = 30,
  EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ANGLEARC = 41,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ROUNDRECT = 44,
  EMR_ARC = 45,
  EMR_CHORD = 46,
  EMR_PIE = 47,
  EMR_CREATEPALETTE = 49,
  EMR_LINETO = 54,
  EMR_ARCTO = 55,
  EMR_POLYDRAW = 56,
  EMR_SETARCDIRECTION = 57,
  EMR_SETMITERLIMIT = 58,
  EMR_BEGINPATH = 59,
  EMR_ENDPATH = 60,
  EMR_CLOSEFIGURE = 61,
  EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63,
  EMR_STROKEPATH = 64,
  EMR_SELECTCLIPPATH = 67,
  EMR_ABORTPATH = 68,
  EMR_FILLRGN = 71,
  EMR_FRAMERGN = 72,
  EMR_PAINTRGN = 74,
  EMR_EXTSELECTCLIPRGN = 75,
  EMR_BITBLT = 76,
  EMR_STRETCHBLT = 77,
  EMR_MASKBLT = 78,
  EMR_SETDIBITSTODEVICE = 80,
  EMR_STRETCHDIBITS = 81,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83,
  EMR_EXTTEXTOUTW = 84,
  EMR_POLYBEZIER16 = 85,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
  EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89,
  EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91,
  EMR_POLYDRAW16 = 92,
  EMR_CREATEMONOBRUSH = 93,
  EMR_CREATEDIBPATTERNBRUSHPT = 94,
  EMR_EXTCREATEPEN = 95,
  EMR_ALPHABLEND = 114,
  EMR_TRANSPARENTBLT = 116,
  EMR_GRADIENTFILL = 118,
};

TColor ReadColorRef(TByteReader& r) { return r.U32LE() & 0x00FFFFFF; }

TMfRect ReadRectL(TByteReader& r) {
  const double left = r.I32LE(), top = r.I32LE(), right = r.I32LE(), bottom = r.I32LE();
  return {left, top, right, bottom};
}

TMfPoint ReadPointL(TByteReader& r) {
  const double x = r.I32LE();
  const double y = r.I32LE();
  return {x, y};
}

double ReadFloat(TByteReader& r) { return std::bit_cast<float>(r.U32LE()); }

std::vector<TMfPoint> ReadPoints(TByteReader& r, size_t count, bool small) {
  if (count > r.Remaining() / (small ? 4 : 8)) r.Fail();
  std::vector<TMfPoint> points(count);
  for (TMfPoint& p : points) {
    if (small) {
      p.X = r.I16LE();
      p.Y = r.I16LE();
    } else {
      p.X = r.I32LE();
      p.Y = r.I32LE();
    }
  }
  return points;
}

// RGNDATA: a 32-byte header and its rectangles.
TMfRegion ReadRegion(TByteReader r) {
  TMfRegion region;
  r.Skip(8);
  const uint32_t count = r.U32LE();
  r.Skip(4 + 16);
  if (count > r.Remaining() / 16) r.Fail();
  for (uint32_t i = 0; i < count; ++i) region.Rects.push_back(ReadRectL(r));
  return region;
}

TMfXForm ReadXForm(TByteReader& r) {
  TMfXForm x;
  x.M11 = ReadFloat(r);
  x.M12 = ReadFloat(r);
  x.M21 = ReadFloat(r);
  x.M22 = ReadFloat(r);
  x.Dx = ReadFloat(r);
  x.Dy = ReadFloat(r);
  return x;
}

class TEmfPlayer {
public:
  explicit TEmfPlayer(TMetafileCanvas& canvas) : FCanvas(canvas) {}
  // False at the end-of-file record.
  bool Record(uint32_t type, TByteReader& r);

private:
  void Text(TByteReader& r, bool wide);
  std::shared_ptr<TMfImage> Dib(TByteReader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits);
  void Blit(uint32_t type, TByteReader& r);
  void GradientFill(TByteReader& r);

  TMetafileCanvas& FCanvas;
};

std::shared_ptr<TMfImage> TEmfPlayer::Dib(TByteReader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
                                          uint32_t cbBits) {
  if (cbBmi == 0 || !r.Contains(offBmi, cbBmi) || !r.Contains(offBits, cbBits)) return nullptr;
  return DecodeMfDib(r.Slice(offBmi, cbBmi), r.Slice(offBits, cbBits));
}

bool TEmfPlayer::Record(uint32_t type, TByteReader& r) {
  TMfState& s = FCanvas.State();
  r.Seek(8);
  switch (type) {
    case EMR_EOF: return false;
    case EMR_POLYBEZIER:
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
    case EMR_POLYBEZIER16:
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16: {
      const bool small = type >= EMR_POLYBEZIER16;
      r.Skip(16);
      const std::vector<TMfPoint> points = ReadPoints(r, r.U32LE(), small);
      switch (small ? type - EMR_POLYBEZIER16 + EMR_POLYBEZIER : type) {
        case EMR_POLYBEZIER: FCanvas.PolyBezier(points); break;
        case EMR_POLYGON: FCanvas.Polygon(points); break;
        case EMR_POLYLINE: FCanvas.Polyline(points); break;
        case EMR_POLYBEZIERTO: FCanvas.PolyBezierTo(points); break;
        default: FCanvas.PolylineTo(points); break;
      }
      break;
    }
    case EMR_POLYPOLYLINE:
    case EMR_POLYPOLYGON:
    case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16: {
      const bool small = type >= EMR_POLYPOLYLINE16;
      r.Skip(16);
      const uint32_t polys = r.U32LE();
      const uint32_t total = r.U32LE();
      if (polys > r.Remaining() / 4) r.Fail();
      std::vector<uint32_t> counts(polys);
      for (uint32_t& c : counts) c = r.U32LE();
      const std::vector<TMfPoint> points = ReadPoints(r, total, small);
      if (type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16)
        FCanvas.PolyPolygon(points, counts);
      else
        FCanvas.PolyPolyline(points, counts);
      break;
    }
    case EMR_POLYDRAW:
    case EMR_POLYDRAW16: {
      r.Skip(16);
      const uint32_t count = r.U32LE();
      const std::vector<TMfPoint> points = ReadPoints(r, count, type == EMR_POLYDRAW16);
      FCanvas.PolyDraw(points, r.Take(count));
      break;
    }
    case EMR_SETWINDOWEXTEX:
    case EMR_SETVIEWPORTEXTEX: {
      const TMfPoint ext = ReadPointL(r);
      if (ext.X == 0 || ext.Y == 0) break;
      (type == EMR_SETWINDOWEXTEX ? s.WindowExt : s.ViewportExt) = ext;
      break;
    }
    case EMR_SETWINDOWORGEX: s.WindowOrg = ReadPointL(r); break;
    case EMR_SETVIEWPORTORGEX: s.ViewportOrg = ReadPointL(r); break;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
      const double xNum = r.I32LE(), xDenom = r.I32LE(), yNum = r.I32LE(), yDenom = r.I32LE();
      if (xNum == 0 || xDenom == 0 || yNum == 0 || yDenom == 0) break;
      TMfPoint& ext = type == EMR_SCALEWINDOWEXTEX ? s.WindowExt : s.ViewportExt;
      ext.X = ext.X * xNum / xDenom;
      ext.Y = ext.Y * yNum / yDenom;
      break;
    }
    case EMR_SETPIXELV: {
      const TMfPoint p = ReadPointL(r);
      FCanvas.SetPixel(p.X, p.Y, ReadColorRef(r));
      break;
    }
    case EMR_SETMAPMODE: {
      const uint32_t mode = r.U32LE();
      if (mode >= gdi::MM_TEXT && mode <= gdi::MM_ANISOTROPIC) s.MapMode = static_cast<int>(mode);
      break;
    }
    case EMR_SETBKMODE: s.BkMode = static_cast<int>(r.U32LE()); break;
    case EMR_SETPOLYFILLMODE: s.PolyFillMode = static_cast<int>(r.U32LE()); break;
    case EMR_SETROP2: s.Rop2 = static_cast<int>(r.U32LE()); break;
    case EMR_SETTEXTALIGN: s.TextAlign = static_cast<int>(r.U32LE()); break;
    case EMR_SETTEXTCOLOR: s.TextColor = ReadColorRef(r); break;
    case EMR_SETBKCOLOR: s.BkColor = ReadColorRef(r); break;
    case EMR_SETARCDIRECTION: s.ArcDirection = static_cast<int>(r.U32LE()); break;
    case EMR_SETMITERLIMIT: {
      const double limit = ReadFloat(r);
      if (std::isfinite(limit)) s.MiterLimit = limit;
      break;
    }
    case EMR_MOVETOEX: {
      const TMfPoint p = ReadPointL(r);
      FCanvas.MoveTo(p.X, p.Y);
      break;
    }
    case EMR_LINETO: {
      const TMfPoint p = ReadPointL(r);
      FCanvas.LineTo(p.X, p.Y);
      break;
    }
    case EMR_EXCLUDECLIPRECT: FCanvas.ExcludeClipRect(ReadRectL(r)); break;
    case EMR_INTERSECTCLIPRECT: FCanvas.IntersectClipRect(ReadRectL(r)); break;
    case EMR_SAVEDC: FCanvas.SaveDC(); break;
    case EMR_RESTOREDC: FCanvas.RestoreDC(r.I32LE()); break;
    case EMR_SETWORLDTRANSFORM: {
      const TMfXForm x = ReadXForm(r);
      if (x.Finite()) s.World = x;
      break;
    }
    case EMR_MODIFYWORLDTRANSFORM: {
      const TMfXForm x = ReadXForm(r);
      const uint32_t mode = r.U32LE();
      if (!x.Finite()) break;
      if (mode == 1)
        s.World = TMfXForm{};
      else if (mode == 2)
        s.World = x.Then(s.World);
      else if (mode == 3)
        s.World = s.World.Then(x);
      else if (mode == 4)
        s.World = x;
      break;
    }
    case EMR_SELECTOBJECT: FCanvas.SelectObject(r.U32LE()); break;
    case EMR_DELETEOBJECT: FCanvas.DeleteObject(r.U32LE()); break;
    case EMR_CREATEPEN: {
      const uint32_t index = r.U32LE();
      TMfObject object{TMfObjectKind::Pen};
      object.Pen.Style = static_cast<int>(r.U32LE());
      object.Pen.Width = std::abs(static_cast<double>(r.I32LE()));
      r.Skip(4);
      object.Pen.Color = ReadColorRef(r);
      FCanvas.SetObject(index, std::move(object));
      break;
    }
    case EMR_EXTCREATEPEN: {
      const uint32_t index = r.U32LE();
      r.Skip(16);  // pattern bitmap of the pen's brush
      TMfObject object{TMfObjectKind::Pen};
      object.Pen.Style = static_cast<int>(r.U32LE());
      object.Pen.Width = r.U32LE();
      const uint32_t brushStyle = r.U32LE();
      object.Pen.Color = ReadColorRef(r);
      r.Skip(4);  // hatch
      if (!(object.Pen.Style & gdi::PS_GEOMETRIC)) object.Pen.Width = 0;
      if (brushStyle == gdi::BS_NULL) object.Pen.Style = gdi::PS_NULL;
      const uint32_t entries = r.U32LE();
      if ((object.Pen.Style & gdi::PS_STYLE_MASK) == gdi::PS_USERSTYLE) {
        for (uint32_t i = 0; i < entries && i < 64 && r.Remaining() >= 4; ++i) object.Pen.Dashes.push_back(r.U32LE());
      }
      FCanvas.SetObject(index, std::move(object));
      break;
    }
    case EMR_CREATEBRUSHINDIRECT: {
      const uint32_t index = r.U32LE();
      TMfObject object{TMfObjectKind::Brush};
      object.Brush.Style = static_cast<int>(r.U32LE());
      object.Brush.Color = ReadColorRef(r);
      object.Brush.Hatch = static_cast<int>(r.U32LE());
      if (object.Brush.Style != gdi::BS_SOLID && object.Brush.Style != gdi::BS_NULL &&
          object.Brush.Style != gdi::BS_HATCHED)
        object.Brush.Style = gdi::BS_SOLID;
      FCanvas.SetObject(index, std::move(object));
      break;
    }
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT: {
      const uint32_t index = r.U32LE();
      r.Skip(4);  // colour usage
      const uint32_t offBmi = r.U32LE(), cbBmi = r.U32LE(), offBits = r.U32LE(), cbBits = r.U32LE();
      TMfObject object{TMfObjectKind::Brush};
      object.Brush.Style = gdi::BS_DIBPATTERNPT;
      object.Brush.Color = 0x808080;
      object.Brush.Pattern = Dib(r, offBmi, cbBmi, offBits, cbBits);
      object.Brush.Monochrome = type == EMR_CREATEMONOBRUSH;
      FCanvas.SetObject(index, std::move(object));
      break;
    }
    case EMR_EXTCREATEFONTINDIRECTW: {
      const uint32_t index = r.U32LE();
      TMfObject object{TMfObjectKind::Font};
      TMfFont& font = object.Font;
      font.Height = r.I32LE();
      font.Width = r.I32LE();
      font.Escapement = r.I32LE();
      r.Skip(4);  // orientation
      font.Weight = r.I32LE();
      font.Italic = r.U8() != 0;
      font.Underline = r.U8() != 0;
      font.StrikeOut = r.U8() != 0;
      font.Charset = r.U8();
      r.Skip(4);
      std::u32string face;
      for (int i = 0; i < 32 && r.Remaining() >= 2; ++i) {
        const uint16_t c = r.U16LE();
        if (c == 0) break;
        face += static_cast<char32_t>(c);
      }
      font.Face = MfUtf8(face);
      FCanvas.SetObject(index, std::move(object));
      break;
    }
    case EMR_CREATEPALETTE: FCanvas.SetObject(r.U32LE(), TMfObject{TMfObjectKind::Other}); break;
    case EMR_RECTANGLE: FCanvas.Rectangle(ReadRectL(r)); break;
    case EMR_ELLIPSE: FCanvas.Ellipse(ReadRectL(r)); break;
    case EMR_ROUNDRECT: {
      const TMfRect rect = ReadRectL(r);
      const TMfPoint corner = ReadPointL(r);
      FCanvas.RoundRect(rect, corner.X, corner.Y);
      break;
    }
    case EMR_ARC:
    case EMR_ARCTO:
    case EMR_CHORD:
    case EMR_PIE: {
      const TMfRect rect = ReadRectL(r);
      const TMfPoint start = ReadPointL(r);
      const TMfPoint end = ReadPointL(r);
      const auto kind = type == EMR_ARC     ? TMetafileCanvas::TArcKind::Arc
                        : type == EMR_ARCTO ? TMetafileCanvas::TArcKind::ArcTo
                        : type == EMR_CHORD ? TMetafileCanvas::TArcKind::Chord
                                            : TMetafileCanvas::TArcKind::Pie;
      FCanvas.ArcShape(kind, rect, start, end);
      break;
    }
    case EMR_ANGLEARC: {
      const TMfPoint center = ReadPointL(r);
      const double radius = r.U32LE();
      const double start = ReadFloat(r);
      const double sweep = ReadFloat(r);
      FCanvas.AngleArc(center, radius, start, sweep);
      break;
    }
    case EMR_BEGINPATH: FCanvas.BeginPath(); break;
    case EMR_ENDPATH: FCanvas.EndPath(); break;
    case EMR_CLOSEFIGURE: FCanvas.CloseFigure(); break;
    case EMR_FILLPATH: FCanvas.FillPath(); break;
    case EMR_STROKEPATH: FCanvas.StrokePath(); break;
    case EMR_STROKEANDFILLPATH: FCanvas.StrokeAndFillPath(); break;
    case EMR_ABORTPATH: FCanvas.AbortPath(); break;
    case EMR_SELECTCLIPPATH: FCanvas.SelectClipPath(static_cast<int>(r.U32LE())); break;
    case EMR_EXTSELECTCLIPRGN: {
      const uint32_t size = r.U32LE();
      const int mode = static_cast<int>(r.U32LE());
      if (size < 32) {
        FCanvas.SelectClipRegion(nullptr, mode, true);
      } else {
        const TMfRegion region = ReadRegion(r.Sub(r.Offset(), size));
        FCanvas.SelectClipRegion(&region, mode, true);
      }
      break;
    }
    case EMR_FILLRGN:
    case EMR_FRAMERGN:
    case EMR_PAINTRGN: {
      r.Skip(16);
      const uint32_t size = r.U32LE();
      TMfBrush brush = s.Brush;
      double width = 1, height = 1;
      if (type != EMR_PAINTRGN) {
        const TMfObject* object = nullptr;
        const uint32_t index = r.U32LE();
        if (index & 0x80000000u) {
          const TMfBrush saved = s.Brush;
          FCanvas.SelectStockObject(index & 0x7FFFFFFFu);
          brush = s.Brush;
          s.Brush = saved;
        } else if ((object = FCanvas.Object(index)) && object->Kind == TMfObjectKind::Brush) {
          brush = object->Brush;
        } else {
          break;
        }
      }
      if (type == EMR_FRAMERGN) {
        width = r.I32LE();
        height = r.I32LE();
      }
      const TMfRegion region = ReadRegion(r.Sub(r.Offset(), size));
      if (type == EMR_FRAMERGN)
        FCanvas.FrameRegion(region, brush, width, height, false);
      else
        FCanvas.FillRegion(region, brush, false);
      break;
    }
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
    case EMR_MASKBLT:
    case EMR_SETDIBITSTODEVICE:
    case EMR_STRETCHDIBITS:
    case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT: Blit(type, r); break;
    case EMR_EXTTEXTOUTA: Text(r, false); break;
    case EMR_EXTTEXTOUTW: Text(r, true); break;
    case EMR_GRADIENTFILL: GradientFill(r); break;
    default: break;
  }
  return true;
}

void TEmfPlayer::Text(TByteReader& r, bool wide) {
  r.Seek(36);
  const TMfPoint reference = ReadPointL(r);
  const uint32_t count = r.U32LE();
  const uint32_t offString = r.U32LE();
  const int options = static_cast<int>(r.U32LE());
  const TMfRect rect = ReadRectL(r);
  const uint32_t offDx = r.U32LE();
  if (count > 65536) return;
  std::u32string text;
  if (wide) {
    TByteReader chars = r.Sub(offString, size_t{count} * 2);
    for (uint32_t i = 0; i < count; ++i) {
      char32_t c = chars.U16LE();
      // Surrogate pairs become one character; the advance of the second half is dropped below.
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
        const char32_t low = chars.U16LE();
        ++i;
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        text += c;
        text += U'\0';
        continue;
      }
      text += c;
    }
  } else {
    text = DecodeMfText(r.Slice(offString, count), FCanvas.State().Font.Charset);
  }
  std::vector<double> dx;
  const size_t step = (options & gdi::ETO_PDY) ? 8 : 4;
  if (offDx != 0 && r.Contains(offDx, size_t{count} * step) && (wide || text.size() == count)) {
    TByteReader advances = r.Sub(offDx, size_t{count} * step);
    for (uint32_t i = 0; i < count; ++i) {
      dx.push_back(advances.I32LE());
      if (step == 8) advances.Skip(4);
    }
  }
  if (wide) {
    // Fold the placeholders left by surrogate pairs back into their characters.
    std::u32string folded;
    std::vector<double> foldedDx;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == U'\0' && i > 0) {
        if (!foldedDx.empty() && i < dx.size()) foldedDx.back() += dx[i];
        continue;
      }
      folded += text[i];
      if (i < dx.size()) foldedDx.push_back(dx[i]);
    }
    text = std::move(folded);
    dx = std::move(foldedDx);
  }
  if (options & gdi::ETO_GLYPH_INDEX) return;  // glyph numbers of a font we do not have
  const bool hasRect = rect.Right > rect.Left && rect.Bottom > rect.Top;
  FCanvas.TextOut(reference.X, reference.Y, text, dx, options, hasRect ? &rect : nullptr);
}

void TEmfPlayer::Blit(uint32_t type, TByteReader& r) {
  r.Seek(24);
  if (type == EMR_SETDIBITSTODEVICE || type == EMR_STRETCHDIBITS) {
    const double x = r.I32LE(), y = r.I32LE(), srcX = r.I32LE(), srcY = r.I32LE();
    const double srcW = r.I32LE(), srcH = r.I32LE();
    const uint32_t offBmi = r.U32LE(), cbBmi = r.U32LE(), offBits = r.U32LE(), cbBits = r.U32LE();
    r.Skip(4);  // colour usage
    uint32_t rop = gdi::SRCCOPY;
    double w = srcW, h = srcH;
    if (type == EMR_STRETCHDIBITS) {
      rop = r.U32LE();
      w = r.I32LE();
      h = r.I32LE();
    }
    const std::shared_ptr<TMfImage> image = Dib(r, offBmi, cbBmi, offBits, cbBits);
    if (!image) {
      if (cbBmi == 0) FCanvas.PatBlt({x, y, x + w, y + h}, rop);
      return;
    }
    // DIB source rectangles count rows from the bottom of the picture.
    const double top = image->Height - srcY - srcH;
    FCanvas.DrawImage(*image, {srcX, top, srcX + srcW, top + srcH}, {x, y, x + w, y + h}, rop);
    return;
  }
  const double x = r.I32LE(), y = r.I32LE(), w = r.I32LE(), h = r.I32LE();
  const uint32_t ropOrBlend = r.U32LE();
  const double srcX = r.I32LE(), srcY = r.I32LE();
  r.Skip(24 + 4 + 4);  // source transform, background colour, colour usage
  const uint32_t offBmi = r.U32LE(), cbBmi = r.U32LE(), offBits = r.U32LE(), cbBits = r.U32LE();
  double srcW = w, srcH = h;
  if (type == EMR_STRETCHBLT || type == EMR_ALPHABLEND || type == EMR_TRANSPARENTBLT) {
    srcW = r.I32LE();
    srcH = r.I32LE();
  }
  const TMfRect destination{x, y, x + w, y + h};
  const uint32_t rop = type == EMR_MASKBLT ? (ropOrBlend & 0x00FFFFFF) : ropOrBlend;
  const std::shared_ptr<TMfImage> image = Dib(r, offBmi, cbBmi, offBits, cbBits);
  if (!image) {
    if (cbBmi == 0 && (type == EMR_BITBLT || type == EMR_STRETCHBLT)) FCanvas.PatBlt(destination, rop);
    return;
  }
  const TMfRect source{srcX, srcY, srcX + srcW, srcY + srcH};
  if (type == EMR_ALPHABLEND) {
    const int constantAlpha = (ropOrBlend >> 16) & 0xFF;
    const bool sourceAlpha = ((ropOrBlend >> 24) & 0x01) != 0;
    FCanvas.AlphaBlend(*image, source, destination, constantAlpha, sourceAlpha);
  } else if (type == EMR_TRANSPARENTBLT) {
    TMfImage keyed = *image;
    const uint32_t key = (GetRValue(ropOrBlend) << 16) | (GetGValue(ropOrBlend) << 8) | GetBValue(ropOrBlend);
    for (uint32_t& p : keyed.Pixels) p = (p & 0x00FFFFFF) == key ? 0 : (p | 0xFF000000u);
    keyed.HasAlpha = true;
    FCanvas.AlphaBlend(keyed, source, destination, 255, true);
  } else {
    FCanvas.DrawImage(*image, source, destination, rop);
  }
}

void TEmfPlayer::GradientFill(TByteReader& r) {
  r.Skip(16);
  const uint32_t vertexCount = r.U32LE();
  const uint32_t shapeCount = r.U32LE();
  const uint32_t mode = r.U32LE();
  if (vertexCount > r.Remaining() / 16) r.Fail();
  struct TVertex {
    double X, Y;
    TColor Color;
  };
  std::vector<TVertex> vertices(vertexCount);
  for (TVertex& v : vertices) {
    v.X = r.I32LE();
    v.Y = r.I32LE();
    const uint8_t red = r.U16LE() >> 8, green = r.U16LE() >> 8, blue = r.U16LE() >> 8;
    r.Skip(2);
    v.Color = RGBColor(red, green, blue);
  }
  const size_t perShape = mode == 2 ? 3 : 2;
  for (uint32_t i = 0; i < shapeCount && r.Remaining() >= perShape * 4; ++i) {
    uint32_t index[3] = {0, 0, 0};
    for (size_t k = 0; k < perShape; ++k) index[k] = r.U32LE();
    bool valid = true;
    for (size_t k = 0; k < perShape; ++k) valid = valid && index[k] < vertexCount;
    if (!valid) continue;
    if (mode == 2) {
      // Triangles take the mean of their corner colours.
      int red = 0, green = 0, blue = 0;
      std::vector<TMfPoint> points;
      for (uint32_t k : index) {
        red += GetRValue(vertices[k].Color);
        green += GetGValue(vertices[k].Color);
        blue += GetBValue(vertices[k].Color);
        points.push_back({vertices[k].X, vertices[k].Y});
      }
      TMfState& s = FCanvas.State();
      const TMfPen pen = s.Pen;
      const TMfBrush brush = s.Brush;
      s.Pen.Style = gdi::PS_NULL;
      s.Brush = TMfBrush{gdi::BS_SOLID, RGBColor(red / 3, green / 3, blue / 3), 0, nullptr};
      FCanvas.Polygon(points);
      s.Pen = pen;
      s.Brush = brush;
    } else {
      FCanvas.GradientRect({vertices[index[0]].X, vertices[index[0]].Y, vertices[index[1]].X, vertices[index[1]].Y},
                           vertices[index[0]].Color, vertices[index[1]].Color, mode == 1);
    }
  }
}

}  // namespace

bool IsEmf(std::span<const uint8_t> bytes) {
  TByteReader r(bytes);
  if (bytes.size() < 88) return false;
  const uint32_t type = r.U32LE();
  r.Seek(40);
  return type == EMR_HEADER && r.U32LE() == EmfSignature;
}

TEmfHeader ReadEmfHeader(std::span<const uint8_t> bytes) {
  if (!IsEmf(bytes)) throw EReadError(InvalidMetafile);
  TByteReader r(bytes, InvalidMetafile);
  r.Seek(4);
  const uint32_t size = r.U32LE();
  if (size < 88 || size > bytes.size()) throw EReadError(InvalidMetafile);
  TEmfHeader header;
  header.Bounds = ReadRectL(r);
  header.Frame = ReadRectL(r);
  r.Seek(72);
  header.DevicePixelsX = r.I32LE();
  header.DevicePixelsY = r.I32LE();
  header.DeviceMillimetresX = r.I32LE();
  header.DeviceMillimetresY = r.I32LE();
  const bool frameUsable = header.Frame.Right > header.Frame.Left && header.Frame.Bottom > header.Frame.Top;
  const bool boundsUsable = header.Bounds.Right >= header.Bounds.Left && header.Bounds.Bottom >= header.Bounds.Top;
  if (!frameUsable && !boundsUsable) throw EReadError(InvalidMetafile);
  return header;
}

void PlayEmf(std::span<const uint8_t> bytes, const TEmfHeader& header, TMetafileCanvas& canvas, int width, int height) {
  // The frame (0.01 mm) in reference-device pixels is what is stretched onto the output.
  double ppmX = header.DevicePixelsX / header.DeviceMillimetresX;
  double ppmY = header.DevicePixelsY / header.DeviceMillimetresY;
  if (!(std::isfinite(ppmX) && ppmX > 0.01 && ppmX < 1000)) ppmX = 96 / 25.4;
  if (!(std::isfinite(ppmY) && ppmY > 0.01 && ppmY < 1000)) ppmY = 96 / 25.4;
  canvas.SetDeviceResolution(ppmX, ppmY);
  TMfRect frame{header.Frame.Left * ppmX / 100, header.Frame.Top * ppmY / 100, header.Frame.Right * ppmX / 100,
                header.Frame.Bottom * ppmY / 100};
  if (!(header.Frame.Right > header.Frame.Left && header.Frame.Bottom > header.Frame.Top))
    frame = {header.Bounds.Left, header.Bounds.Top, header.Bounds.Right + 1, header.Bounds.Bottom + 1};
  TMfXForm toOutput;
  toOutput.M11 = width / (frame.Right - frame.Left);
  toOutput.M22 = height / (frame.Bottom - frame.Top);
  toOutput.Dx = -frame.Left * toOutput.M11;
  toOutput.Dy = -frame.Top * toOutput.M22;
  canvas.SetDeviceToOutput(toOutput);

  TEmfPlayer player(canvas);
  TByteReader reader(bytes);
  size_t offset = 0;
  while (reader.Contains(offset, 8)) {
    reader.Seek(offset);
    const uint32_t type = reader.U32LE();
    const uint32_t size = reader.U32LE();
    if (size < 8 || size % 4 != 0 || size > bytes.size() - offset) break;
    TByteReader record = reader.Sub(offset, size);
    try {
      if (offset > 0 && type == EMR_HEADER) break;
      if (offset > 0 && !player.Record(type, record)) break;
    } catch (const EReadError&) {
      break;
    }
    offset += size;
  }
}

}  // namespace glyphmill
