#include "platform/metafile_wmf.h"

#include <cmath>

#include "support/byte_reader.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
const char* const InvalidMetafile = "Metafile is not valid";

enum : uint16_t {
  META_EOF = 0x0000,
  META_SAVEDC = 0x001E,
  META_REALIZEPALETTE = 0x0035,
  META_SETPALENTRIES = 0x0037,
  META_CREATEPALETTE = 0x00F7,
  META_SETBKMODE = 0x0102,
  META_SETMAPMODE = 0x0103,
  META_SETROP2 = 0x0104,
  META_SETPOLYFILLMODE = 0x0106,
  META_SETSTRETCHBLTMODE = 0x0107,
  META_SETTEXTCHAREXTRA = 0x0108,
  META_RESTOREDC = 0x0127,
  META_INVERTREGION = 0x012A,
  META_PAINTREGION = 0x012B,
  META_SELECTCLIPREGION = 0x012C,
  META_SELECTOBJECT = 0x012D,
  META_SETTEXTALIGN = 0x012E,
  META_RESIZEPALETTE = 0x0139,
  META_DIBCREATEPATTERNBRUSH = 0x0142,
  META_SETLAYOUT = 0x0149,
  META_DELETEOBJECT = 0x01F0,
  META_CREATEPATTERNBRUSH = 0x01F9,
  META_SETBKCOLOR = 0x0201,
  META_SETTEXTCOLOR = 0x0209,
  META_SETTEXTJUSTIFICATION = 0x020A,
  META_SETWINDOWORG = 0x020B,
  META_SETWINDOWEXT = 0x020C,
  META_SETVIEWPORTORG = 0x020D,
  META_SETVIEWPORTEXT = 0x020E,
  META_OFFSETWINDOWORG = 0x020F,
  META_OFFSETVIEWPORTORG = 0x0211,
  META_LINETO = 0x0213,
  META_MOVETO = 0x0214,
  META_OFFSETCLIPRGN = 0x0220,
  META_FILLREGION = 0x0228,
  META_SETMAPPERFLAGS = 0x0231,
  META_SELECTPALETTE = 0x0234,
  META_CREATEPENINDIRECT = 0x02FA,
  META_CREATEFONTINDIRECT = 0x02FB,
  META_CREATEBRUSHINDIRECT = 0x02FC,
  META_POLYGON = 0x0324,
  META_POLYLINE = 0x0325,
  META_SCALEWINDOWEXT = 0x0410,
  META_SCALEVIEWPORTEXT = 0x0412,
  META_EXCLUDECLIPRECT = 0x0415,
  META_INTERSECTCLIPRECT = 0x0416,
  META_ELLIPSE = 0x0418,
  META_FLOODFILL = 0x0419,
  META_RECTANGLE = 0x041B,
  META_SETPIXEL = 0x041F,
  META_FRAMEREGION = 0x0429,
  META_ANIMATEPALETTE = 0x0436,
  META_TEXTOUT = 0x0521,
  META_POLYPOLYGON = 0x0538,
  META_EXTFLOODFILL = 0x0548,
  META_ROUNDRECT = 0x061C,
  META_PATBLT = 0x061D,
  META_ESCAPE = 0x0626,
  META_CREATEREGION = 0x06FF,
  META_ARC = 0x0817,
  META_PIE = 0x081A,
  META_CHORD = 0x0830,
  META_BITBLT = 0x0922,
  META_DIBBITBLT = 0x0940,
  META_EXTTEXTOUT = 0x0A32,
  META_STRETCHBLT = 0x0B23,
  META_DIBSTRETCHBLT = 0x0B41,
  META_SETDIBTODEV = 0x0D33,
  META_STRETCHDIB = 0x0F43,
};

TColor ReadColorRef(TByteReader& r) { return r.U32LE() & 0x00FFFFFF; }

// WMF rectangles are stored bottom, right, top, left.
TMfRect ReadRect(TByteReader& r) {
  const double bottom = r.I16LE(), right = r.I16LE(), top = r.I16LE(), left = r.I16LE();
  return {left, top, right, bottom};
}

TMfPoint ReadPointYX(TByteReader& r) {
  const double y = r.I16LE();
  const double x = r.I16LE();
  return {x, y};
}

std::vector<TMfPoint> ReadPoints(TByteReader& r, size_t count) {
  if (count > r.Remaining() / 4) r.Fail();
  std::vector<TMfPoint> points(count);
  for (TMfPoint& p : points) {
    p.X = r.I16LE();
    p.Y = r.I16LE();
  }
  return points;
}

TMfRegion ReadRegion(TByteReader& r) {
  TMfRegion region;
  r.Skip(2 + 2 + 4 + 2);  // next in chain, object type, object count, region size
  const uint16_t scanCount = r.U16LE();
  r.Skip(2);  // maximum scan
  const TMfRect bounds{static_cast<double>(r.I16LE()), static_cast<double>(r.I16LE()), static_cast<double>(r.I16LE()),
                       static_cast<double>(r.I16LE())};
  for (uint16_t s = 0; s < scanCount && !r.AtEnd(); ++s) {
    const uint16_t count = r.U16LE();
    const double top = r.I16LE(), bottom = r.I16LE();
    for (uint16_t i = 0; i + 1 < count; i += 2) {
      const double left = r.I16LE(), right = r.I16LE();
      region.Rects.push_back({left, top, right, bottom});
    }
    r.Skip(2);
  }
  if (scanCount == 0) region.Rects.push_back(bounds);
  return region;
}

TMfFont ReadFont(TByteReader& r) {
  TMfFont font;
  font.Height = r.I16LE();
  font.Width = r.I16LE();
  font.Escapement = r.I16LE();
  r.Skip(2);  // orientation
  font.Weight = r.I16LE();
  font.Italic = r.U8() != 0;
  font.Underline = r.U8() != 0;
  font.StrikeOut = r.U8() != 0;
  font.Charset = r.U8();
  r.Skip(4);  // precisions, quality, pitch and family
  std::string face;
  while (!r.AtEnd() && face.size() < 32) {
    const uint8_t c = r.U8();
    if (c == 0) break;
    face += static_cast<char>(c);
  }
  const std::u32string decoded =
      DecodeMfText({reinterpret_cast<const uint8_t*>(face.data()), face.size()}, font.Charset);
  font.Face = MfUtf8(decoded);
  return font;
}

class TWmfPlayer {
public:
  TWmfPlayer(TMetafileCanvas& canvas) : FCanvas(canvas) {}

  void Record(uint16_t function, TByteReader& r, bool withoutBitmap);

private:
  void Text(TByteReader& r, bool extended);
  void Blit(uint16_t function, TByteReader& r, bool withoutBitmap);

  TMetafileCanvas& FCanvas;
};

void TWmfPlayer::Record(uint16_t function, TByteReader& r, bool withoutBitmap) {
  TMfState& s = FCanvas.State();
  switch (function) {
    case META_SAVEDC: FCanvas.SaveDC(); break;
    case META_RESTOREDC: FCanvas.RestoreDC(r.I16LE()); break;
    case META_SETBKMODE: s.BkMode = r.U16LE(); break;
    case META_SETMAPMODE:
      // The player owns the viewport; only the isotropic constraint survives from the file.
      s.MapMode = r.U16LE() == gdi::MM_ISOTROPIC ? gdi::MM_ISOTROPIC : gdi::MM_ANISOTROPIC;
      break;
    case META_SETROP2: s.Rop2 = r.U16LE(); break;
    case META_SETPOLYFILLMODE: s.PolyFillMode = r.U16LE(); break;
    case META_SETTEXTALIGN: s.TextAlign = r.U16LE(); break;
    case META_SETBKCOLOR: s.BkColor = ReadColorRef(r); break;
    case META_SETTEXTCOLOR: s.TextColor = ReadColorRef(r); break;
    case META_SETWINDOWORG: s.WindowOrg = ReadPointYX(r); break;
    case META_SETWINDOWEXT: {
      const TMfPoint ext = ReadPointYX(r);
      if (ext.X != 0 && ext.Y != 0) s.WindowExt = ext;
      break;
    }
    case META_OFFSETWINDOWORG: {
      const TMfPoint d = ReadPointYX(r);
      s.WindowOrg.X += d.X;
      s.WindowOrg.Y += d.Y;
      break;
    }
    case META_SCALEWINDOWEXT: {
      const double yDenom = r.I16LE(), yNum = r.I16LE(), xDenom = r.I16LE(), xNum = r.I16LE();
      if (xDenom != 0 && yDenom != 0 && xNum != 0 && yNum != 0) {
        s.WindowExt.X = s.WindowExt.X * xNum / xDenom;
        s.WindowExt.Y = s.WindowExt.Y * yNum / yDenom;
      }
      break;
    }
    case META_MOVETO: {
      const TMfPoint p = ReadPointYX(r);
      FCanvas.MoveTo(p.X, p.Y);
      break;
    }
    case META_LINETO: {
      const TMfPoint p = ReadPointYX(r);
      FCanvas.LineTo(p.X, p.Y);
      break;
    }
    case META_POLYGON:
    case META_POLYLINE: {
      const uint16_t count = r.U16LE();
      const std::vector<TMfPoint> points = ReadPoints(r, count);
      if (function == META_POLYGON)
        FCanvas.Polygon(points);
      else
        FCanvas.Polyline(points);
      break;
    }
    case META_POLYPOLYGON: {
      const uint16_t polygons = r.U16LE();
      std::vector<uint32_t> counts(polygons);
      size_t total = 0;
      for (uint32_t& c : counts) {
        c = r.U16LE();
        total += c;
      }
      FCanvas.PolyPolygon(ReadPoints(r, total), counts);
      break;
    }
    case META_RECTANGLE: FCanvas.Rectangle(ReadRect(r)); break;
    case META_ELLIPSE: FCanvas.Ellipse(ReadRect(r)); break;
    case META_ROUNDRECT: {
      const double height = r.I16LE(), width = r.I16LE();
      FCanvas.RoundRect(ReadRect(r), width, height);
      break;
    }
    case META_ARC:
    case META_PIE:
    case META_CHORD: {
      const TMfPoint end = ReadPointYX(r);
      const TMfPoint start = ReadPointYX(r);
      const TMfRect rect = ReadRect(r);
      const auto kind = function == META_ARC   ? TMetafileCanvas::TArcKind::Arc
                        : function == META_PIE ? TMetafileCanvas::TArcKind::Pie
                                               : TMetafileCanvas::TArcKind::Chord;
      FCanvas.ArcShape(kind, rect, start, end);
      break;
    }
    case META_SETPIXEL: {
      const TColor color = ReadColorRef(r);
      const TMfPoint p = ReadPointYX(r);
      FCanvas.SetPixel(p.X, p.Y, color);
      break;
    }
    case META_PATBLT: {
      const uint32_t rop = r.U32LE();
      const double height = r.I16LE(), width = r.I16LE();
      const TMfPoint p = ReadPointYX(r);
      FCanvas.PatBlt({p.X, p.Y, p.X + width, p.Y + height}, rop);
      break;
    }
    case META_EXCLUDECLIPRECT: FCanvas.ExcludeClipRect(ReadRect(r)); break;
    case META_INTERSECTCLIPRECT: FCanvas.IntersectClipRect(ReadRect(r)); break;
    case META_SELECTCLIPREGION: {
      const TMfObject* object = FCanvas.Object(r.U16LE());
      FCanvas.SelectClipRegion(object && object->Kind == TMfObjectKind::Region ? &object->Region : nullptr,
                               gdi::RGN_COPY, false);
      break;
    }
    case META_FILLREGION:
    case META_FRAMEREGION: {
      const TMfObject* region = FCanvas.Object(r.U16LE());
      const TMfObject* brush = FCanvas.Object(r.U16LE());
      if (!region || region->Kind != TMfObjectKind::Region || !brush || brush->Kind != TMfObjectKind::Brush) break;
      if (function == META_FILLREGION) {
        FCanvas.FillRegion(region->Region, brush->Brush, false);
      } else {
        const double height = r.I16LE(), width = r.I16LE();
        FCanvas.FrameRegion(region->Region, brush->Brush, width, height, false);
      }
      break;
    }
    case META_PAINTREGION: {
      const TMfObject* region = FCanvas.Object(r.U16LE());
      if (region && region->Kind == TMfObjectKind::Region) FCanvas.FillRegion(region->Region, s.Brush, false);
      break;
    }
    case META_TEXTOUT: Text(r, false); break;
    case META_EXTTEXTOUT: Text(r, true); break;
    case META_SELECTOBJECT: FCanvas.SelectObject(r.U16LE()); break;
    case META_DELETEOBJECT: FCanvas.DeleteObject(r.U16LE()); break;
    case META_CREATEPENINDIRECT: {
      TMfObject object{TMfObjectKind::Pen};
      object.Pen.Style = r.U16LE();
      object.Pen.Width = std::abs(r.I16LE());
      r.Skip(2);
      object.Pen.Color = ReadColorRef(r);
      FCanvas.AddObject(std::move(object));
      break;
    }
    case META_CREATEBRUSHINDIRECT: {
      TMfObject object{TMfObjectKind::Brush};
      object.Brush.Style = r.U16LE();
      object.Brush.Color = ReadColorRef(r);
      object.Brush.Hatch = r.U16LE();
      if (object.Brush.Style != gdi::BS_SOLID && object.Brush.Style != gdi::BS_NULL &&
          object.Brush.Style != gdi::BS_HATCHED)
        object.Brush.Style = gdi::BS_SOLID;
      FCanvas.AddObject(std::move(object));
      break;
    }
    case META_DIBCREATEPATTERNBRUSH: {
      TMfObject object{TMfObjectKind::Brush};
      const uint16_t style = r.U16LE();
      r.Skip(2);  // colour usage
      object.Brush.Style = gdi::BS_DIBPATTERN;
      object.Brush.Color = 0x808080;
      if (style != gdi::BS_PATTERN) object.Brush.Pattern = DecodeMfPackedDib(r.Take(r.Remaining()));
      FCanvas.AddObject(std::move(object));
      break;
    }
    case META_CREATEPATTERNBRUSH: {
      // A device-dependent pattern: a mid grey stands in for the dither it usually is.
      TMfObject object{TMfObjectKind::Brush};
      object.Brush.Color = 0x808080;
      FCanvas.AddObject(std::move(object));
      break;
    }
    case META_CREATEFONTINDIRECT: {
      TMfObject object{TMfObjectKind::Font};
      object.Font = ReadFont(r);
      FCanvas.AddObject(std::move(object));
      break;
    }
    case META_CREATEREGION: {
      TMfObject object{TMfObjectKind::Region};
      object.Region = ReadRegion(r);
      FCanvas.AddObject(std::move(object));
      break;
    }
    case META_CREATEPALETTE: FCanvas.AddObject(TMfObject{TMfObjectKind::Other}); break;
    case META_DIBBITBLT:
    case META_DIBSTRETCHBLT:
    case META_STRETCHDIB:
    case META_SETDIBTODEV: Blit(function, r, withoutBitmap); break;
    default: break;
  }
}

void TWmfPlayer::Text(TByteReader& r, bool extended) {
  const TMfState& s = FCanvas.State();
  if (!extended) {
    const uint16_t length = r.U16LE();
    std::span<const uint8_t> bytes = r.Take(length);
    r.Skip(length & 1);
    const TMfPoint p = ReadPointYX(r);
    FCanvas.TextOut(p.X, p.Y, DecodeMfText(bytes, s.Font.Charset), {}, 0, nullptr);
    return;
  }
  const TMfPoint p = ReadPointYX(r);
  const uint16_t length = r.U16LE();
  const uint16_t options = r.U16LE();
  TMfRect rect;
  bool hasRect = false;
  if ((options & (gdi::ETO_OPAQUE | gdi::ETO_CLIPPED)) && r.Remaining() >= size_t{8} + length) {
    const double left = r.I16LE(), top = r.I16LE(), right = r.I16LE(), bottom = r.I16LE();
    rect = {left, top, right, bottom};
    hasRect = true;
  }
  std::span<const uint8_t> bytes = r.Take(length);
  r.Skip(std::min<size_t>(length & 1, r.Remaining()));
  const std::u32string text = DecodeMfText(bytes, s.Font.Charset);
  std::vector<double> dx;
  if (r.Remaining() >= size_t{length} * 2 && text.size() == length) {
    for (uint16_t i = 0; i < length; ++i) dx.push_back(r.I16LE());
  }
  FCanvas.TextOut(p.X, p.Y, text, dx, options, hasRect ? &rect : nullptr);
}

void TWmfPlayer::Blit(uint16_t function, TByteReader& r, bool withoutBitmap) {
  const uint32_t rop = function == META_SETDIBTODEV ? gdi::SRCCOPY : r.U32LE();
  double srcW = 0, srcH = 0, srcX = 0, srcY = 0;
  TMfRect destination;
  if (function == META_SETDIBTODEV) {
    r.Skip(2 + 2 + 2);  // colour usage, scan count, start scan
    srcY = r.I16LE();
    srcX = r.I16LE();
    srcH = r.I16LE();
    srcW = r.I16LE();
    const TMfPoint p = ReadPointYX(r);
    destination = {p.X, p.Y, p.X + srcW, p.Y + srcH};
  } else {
    if (function == META_STRETCHDIB) r.Skip(2);  // colour usage
    if (function == META_DIBBITBLT) {
      srcY = r.I16LE();
      srcX = r.I16LE();
      if (withoutBitmap) r.Skip(2);
      const double height = r.I16LE(), width = r.I16LE();
      const TMfPoint p = ReadPointYX(r);
      srcW = width;
      srcH = height;
      destination = {p.X, p.Y, p.X + width, p.Y + height};
    } else {
      srcH = r.I16LE();
      srcW = r.I16LE();
      srcY = r.I16LE();
      srcX = r.I16LE();
      if (withoutBitmap) r.Skip(2);
      const double height = r.I16LE(), width = r.I16LE();
      const TMfPoint p = ReadPointYX(r);
      destination = {p.X, p.Y, p.X + width, p.Y + height};
    }
  }
  if (withoutBitmap) {
    FCanvas.PatBlt(destination, rop);
    return;
  }
  const std::shared_ptr<TMfImage> image = DecodeMfPackedDib(r.Take(r.Remaining()));
  if (!image) return;
  // DIB source rectangles count rows from the bottom of the picture.
  const double top = image->Height - srcY - srcH;
  FCanvas.DrawImage(*image, {srcX, top, srcX + srcW, top + srcH}, destination, rop);
}

// The first window origin and extent, the only extent a WMF without the placeable header has.
bool FindWindow(std::span<const uint8_t> bytes, size_t offset, TMfRect& frame) {
  TMfPoint org{0, 0};
  bool haveExt = false;
  TByteReader reader(bytes);
  while (reader.Contains(offset, 6)) {
    reader.Seek(offset);
    const uint32_t words = reader.U32LE();
    const uint16_t function = reader.U16LE();
    if (words < 3 || words > (bytes.size() - offset) / 2 || function == META_EOF) break;
    if (words >= 5 && (function == META_SETWINDOWORG || function == META_SETWINDOWEXT)) {
      const TMfPoint p = ReadPointYX(reader);
      if (function == META_SETWINDOWORG) {
        org = p;
      } else if (!haveExt && p.X != 0 && p.Y != 0) {
        frame = {0, 0, p.X, p.Y};
        haveExt = true;
      }
    }
    offset += size_t{words} * 2;
  }
  frame.Left += org.X;
  frame.Right += org.X;
  frame.Top += org.Y;
  frame.Bottom += org.Y;
  return haveExt;
}

}  // namespace

bool IsWmf(std::span<const uint8_t> bytes) {
  TByteReader r(bytes);
  if (bytes.size() < 18) return false;
  size_t offset = 0;
  if (r.U32LE() == PlaceableKey) offset = 22;
  if (!r.Contains(offset, 18)) return false;
  r.Seek(offset);
  const uint16_t type = r.U16LE();
  const uint16_t headerWords = r.U16LE();
  const uint16_t version = r.U16LE();
  return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

TWmfHeader ReadWmfHeader(std::span<const uint8_t> bytes) {
  if (!IsWmf(bytes)) throw EReadError(InvalidMetafile);
  TWmfHeader header;
  TByteReader r(bytes, InvalidMetafile);
  if (r.U32LE() == PlaceableKey) {
    header.Placeable = true;
    r.Skip(2);  // handle
    const double left = r.I16LE(), top = r.I16LE(), right = r.I16LE(), bottom = r.I16LE();
    header.Frame = {left, top, right, bottom};
    const uint16_t inch = r.U16LE();
    header.UnitsPerInch = inch != 0 ? inch : 1440;
    header.RecordsOffset = 22 + 18;
  } else {
    header.RecordsOffset = 18;
    if (!FindWindow(bytes, header.RecordsOffset, header.Frame)) throw EReadError(InvalidMetafile);
    header.UnitsPerInch = 96;
  }
  if (header.Frame.Right == header.Frame.Left || header.Frame.Bottom == header.Frame.Top)
    throw EReadError(InvalidMetafile);
  return header;
}

void PlayWmf(std::span<const uint8_t> bytes, const TWmfHeader& header, TMetafileCanvas& canvas, int width, int height) {
  TMfState& s = canvas.State();
  canvas.SetFixedViewport(true);
  s.MapMode = gdi::MM_ANISOTROPIC;
  s.WindowOrg = {header.Frame.Left, header.Frame.Top};
  s.WindowExt = {header.Frame.Right - header.Frame.Left, header.Frame.Bottom - header.Frame.Top};
  s.ViewportOrg = {0, 0};
  s.ViewportExt = {static_cast<double>(width), static_cast<double>(height)};
  TWmfPlayer player(canvas);
  TByteReader reader(bytes);
  size_t offset = header.RecordsOffset;
  while (reader.Contains(offset, 6)) {
    reader.Seek(offset);
    const uint32_t words = reader.U32LE();
    const uint16_t function = reader.U16LE();
    if (function == META_EOF || words < 3 || words > (bytes.size() - offset) / 2) break;
    const size_t length = size_t{words} * 2;
    TByteReader params = reader.Sub(offset + 6, length - 6);
    const bool withoutBitmap = words == static_cast<uint32_t>((function >> 8) + 3);
    try {
      player.Record(function, params, withoutBitmap);
    } catch (const EReadError&) {
      break;
    }
    offset += length;
  }
}

}  // namespace glyphmill
