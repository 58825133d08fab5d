// The device context the WMF and EMF players draw through: GDI state (mapping, world transform,
// selected pen, brush and font, colours, modes, clipping, paths, saved states, the object table)
// and GDI-like drawing onto a Cairo image surface. Coordinates given to the drawing methods are
// logical; the canvas maps them to output pixels itself, so Cairo only ever sees bounded values.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/bitmap.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;
struct cairo_path;

namespace glyphmill {

struct TMfPoint {
  double X = 0;
  double Y = 0;
};

struct TMfRect {
  double Left = 0;
  double Top = 0;
  double Right = 0;
  double Bottom = 0;
};

// An affine transform as GDI's XFORM: x' = x·M11 + y·M21 + Dx, y' = x·M12 + y·M22 + Dy.
struct TMfXForm {
  double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
  TMfPoint Apply(double x, double y) const { return {x * M11 + y * M21 + Dx, x * M12 + y * M22 + Dy}; }
  // this, then next.
  TMfXForm Then(const TMfXForm& next) const;
  double Determinant() const { return M11 * M22 - M12 * M21; }
  bool Finite() const;
};

// A decoded device-independent bitmap: premultiplied 0xAARRGGBB pixels, rows top-down.
struct TMfImage {
  int Width = 0;
  int Height = 0;
  bool HasAlpha = false;  // the DIB had 32 bits per pixel (its alpha is meaningful only for AlphaBlend)
  std::vector<uint32_t> Pixels;
};

// Decodes the BITMAPINFO bytes and pixel bytes of a DIB through the platform BMP reader;
// returns nullptr when the DIB is malformed or unsupported.
std::shared_ptr<TMfImage> DecodeMfDib(std::span<const uint8_t> info, std::span<const uint8_t> bits);
// The same for a packed DIB (BITMAPINFO directly followed by the pixels).
std::shared_ptr<TMfImage> DecodeMfPackedDib(std::span<const uint8_t> packed);

// Text bytes of a metafile in the code page of a GDI character set, as Unicode.
std::u32string DecodeMfText(std::span<const uint8_t> bytes, int charset);
std::string MfUtf8(std::u32string_view text);

// GDI constants the players and the canvas share.
namespace gdi {
inline constexpr int PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
                     PS_INSIDEFRAME = 6, PS_USERSTYLE = 7, PS_ALTERNATE = 8, PS_STYLE_MASK = 0xF;
inline constexpr int PS_ENDCAP_ROUND = 0x000, PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200, PS_ENDCAP_MASK = 0xF00;
inline constexpr int PS_JOIN_ROUND = 0x0000, PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000, PS_JOIN_MASK = 0xF000;
inline constexpr int PS_GEOMETRIC = 0x10000;
inline constexpr int BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_DIBPATTERN = 5, BS_DIBPATTERNPT = 6;
inline constexpr int TRANSPARENT = 1, OPAQUE = 2;
inline constexpr int ALTERNATE = 1, WINDING = 2;
inline constexpr int TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_HMASK = 6, TA_BOTTOM = 8, TA_BASELINE = 24,
                     TA_VMASK = 24;
inline constexpr int ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000;
inline constexpr int MM_TEXT = 1, MM_LOMETRIC = 2, MM_HIMETRIC = 3, MM_LOENGLISH = 4, MM_HIENGLISH = 5, MM_TWIPS = 6,
                     MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8;
inline constexpr int AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2;
inline constexpr int RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
inline constexpr int R2_BLACK = 1, R2_NOT = 6, R2_XORPEN = 7, R2_NOP = 11, R2_COPYPEN = 13, R2_WHITE = 16;
inline constexpr uint32_t SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
                          SRCERASE = 0x00440328, NOTSRCCOPY = 0x00330008, NOTSRCERASE = 0x001100A6,
                          MERGEPAINT = 0x00BB0226, PATCOPY = 0x00F00021, PATINVERT = 0x005A0049, DSTINVERT = 0x00550009,
                          BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062, DSNA = 0x00220326, DSTCOPY = 0x00AA0029;
}  // namespace gdi

struct TMfPen {
  int Style = gdi::PS_SOLID;
  double Width = 0;  // logical units; 0 is a one-pixel cosmetic pen
  TColor Color = 0;
  std::vector<double> Dashes;  // PS_USERSTYLE lengths in logical units
};

struct TMfBrush {
  int Style = gdi::BS_SOLID;
  TColor Color = 0x00FFFFFF;
  int Hatch = 0;
  std::shared_ptr<TMfImage> Pattern;  // BS_PATTERN / BS_DIBPATTERN
  bool Monochrome = false;            // pattern bits pick the text colour (0) or background colour (1)
};

struct TMfFont {
  double Height = 0;  // logical units; negative: em height, positive: cell height
  double Width = 0;
  double Escapement = 0;  // tenths of a degree, counter-clockwise
  int Weight = 400;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  int Charset = 0;
  std::string Face;
};

// A region as a list of rectangles in logical units (WMF) or device units (EMF).
struct TMfRegion {
  std::vector<TMfRect> Rects;
};

enum class TMfObjectKind { Empty, Pen, Brush, Font, Region, Other };

struct TMfObject {
  explicit TMfObject(TMfObjectKind kind = TMfObjectKind::Empty) : Kind(kind) {}
  TMfObjectKind Kind;
  TMfPen Pen;
  TMfBrush Brush;
  TMfFont Font;
  TMfRegion Region;
};

// Everything SaveDC keeps and RestoreDC brings back (the clip lives in Cairo's saved state).
struct TMfState {
  int MapMode = gdi::MM_TEXT;
  TMfPoint WindowOrg{0, 0};
  TMfPoint WindowExt{1, 1};
  TMfPoint ViewportOrg{0, 0};
  TMfPoint ViewportExt{1, 1};
  TMfXForm World;
  TMfPen Pen;
  TMfBrush Brush;
  TMfFont Font;
  TColor TextColor = 0;
  TColor BkColor = 0x00FFFFFF;
  int BkMode = gdi::OPAQUE;
  int PolyFillMode = gdi::ALTERNATE;
  int TextAlign = 0;
  int ArcDirection = gdi::AD_COUNTERCLOCKWISE;
  int Rop2 = gdi::R2_COPYPEN;
  double MiterLimit = 10;
  TMfPoint Position{0, 0};
};

class TMetafileCanvas {
public:
  // Draws onto a new width × height surface filled with background. Fails with EReadError for
  // sizes above the picture cap.
  TMetafileCanvas(int width, int height, TColor background);
  ~TMetafileCanvas();
  TMetafileCanvas(const TMetafileCanvas&) = delete;
  TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

  TMfState& State() { return FState; }
  // Maps the player's device space (where viewports live) to output pixels.
  void SetDeviceToOutput(const TMfXForm& transform) { FDeviceToOutput = transform; }
  // When set, the window maps straight onto this viewport whatever the mapping mode (placed WMF).
  void SetFixedViewport(bool fixed) { FFixedViewport = fixed; }
  // Device pixels per millimetre of the reference device, for the metric mapping modes.
  void SetDeviceResolution(double pixelsPerMmX, double pixelsPerMmY);

  // Object table: Create* fills the lowest free slot (WMF) or a given slot (EMF).
  int AddObject(TMfObject object);
  void SetObject(uint32_t index, TMfObject object);
  void SelectObject(uint32_t index);
  void SelectStockObject(uint32_t stock);
  void DeleteObject(uint32_t index);
  const TMfObject* Object(uint32_t index) const;

  void SaveDC();
  void RestoreDC(int relative);

  // Logical → output pixels for the current state.
  TMfXForm LogicalToOutput() const;

  // Drawing (inside a path bracket these only add to the path).
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void Polyline(std::span<const TMfPoint> points);
  void PolylineTo(std::span<const TMfPoint> points);
  void Polygon(std::span<const TMfPoint> points);
  void PolyPolygon(std::span<const TMfPoint> points, std::span<const uint32_t> counts);
  void PolyPolyline(std::span<const TMfPoint> points, std::span<const uint32_t> counts);
  void PolyBezier(std::span<const TMfPoint> points);
  void PolyBezierTo(std::span<const TMfPoint> points);
  void PolyDraw(std::span<const TMfPoint> points, std::span<const uint8_t> types);
  void Rectangle(TMfRect rect);
  void RoundRect(TMfRect rect, double cornerWidth, double cornerHeight);
  void Ellipse(TMfRect rect);
  enum class TArcKind { Arc, ArcTo, Chord, Pie };
  void ArcShape(TArcKind kind, TMfRect rect, TMfPoint start, TMfPoint end);
  void AngleArc(TMfPoint center, double radius, double startDegrees, double sweepDegrees);
  void SetPixel(double x, double y, TColor color);
  // PatBlt-like fills of a logical rectangle.
  void PatBlt(TMfRect rect, uint32_t rop);
  // A linear blend from the left (or top when vertical) edge colour to the opposite edge's.
  void GradientRect(TMfRect rect, TColor from, TColor to, bool vertical);

  // Text at a logical reference point; dx holds per-character advances in logical units (or is empty).
  void TextOut(double x, double y, const std::u32string& text, std::span<const double> dx, int options,
               const TMfRect* clipRect);

  // A DIB drawn from a top-down source rectangle onto a logical destination rectangle.
  void DrawImage(const TMfImage& image, TMfRect source, TMfRect destination, uint32_t rop);
  void AlphaBlend(const TMfImage& image, TMfRect source, TMfRect destination, int constantAlpha, bool sourceAlpha);

  // Paths.
  void BeginPath();
  void EndPath();
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void SelectClipPath(int mode);

  // Clipping; regions in device units when deviceUnits, otherwise logical.
  void IntersectClipRect(TMfRect rect);
  void ExcludeClipRect(TMfRect rect);
  void SelectClipRegion(const TMfRegion* region, int mode, bool deviceUnits);
  void FillRegion(const TMfRegion& region, const TMfBrush& brush, bool deviceUnits);
  void FrameRegion(const TMfRegion& region, const TMfBrush& brush, double width, double height, bool deviceUnits);

  // The pixels as a 24-bit bitmap.
  void CopyTo(TBitmap& target);

private:
  void AddPolyline(std::span<const TMfPoint> points, bool close, const TMfXForm& m);
  // Consecutive runs of points, counts[i] points each; a count running past the points ends the list.
  void AddPolylines(std::span<const TMfPoint> points, std::span<const uint32_t> counts, bool close);
  void AddEllipseArc(const TMfXForm& m, double cx, double cy, double rx, double ry, double a1, double sweep,
                     bool moveFirst);
  void AddRect(const TMfXForm& m, TMfRect rect);
  void AddRegion(const TMfRegion& region, bool deviceUnits);
  void MoveToOut(TMfPoint p);
  void LineToOut(TMfPoint p);
  void CurveToOut(TMfPoint p1, TMfPoint p2, TMfPoint p3);
  void Begin();
  bool TakePath();
  void ClipCurrent(int mode);
  void PaintImage(const TMfImage& image, TMfRect source, TMfRect destination, int op, bool keepAlpha, bool invert,
                  double alpha);
  void FinishShape(bool fill, bool stroke);
  void FillCurrent(const TMfBrush& brush, bool preserve);
  void StrokeCurrent(bool preserve);
  bool SetBrushSource(const TMfBrush& brush);
  void SetColor(TColor color);
  void ApplyRop2();
  double PenWidthOut() const;

  int FWidth;
  int FHeight;
  cairo_surface_t* FSurface = nullptr;
  cairo_t* FCr = nullptr;
  TMfState FState;
  std::vector<TMfState> FSaved;
  std::vector<TMfObject> FObjects;
  TMfXForm FDeviceToOutput;
  bool FFixedViewport = false;
  double FPixelsPerMmX = 96 / 25.4;
  double FPixelsPerMmY = 96 / 25.4;
  bool FInPath = false;
  cairo_path* FPath = nullptr;  // the last closed path bracket, in output pixels
};

}  // namespace glyphmill
