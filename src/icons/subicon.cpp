#include "icons/subicon.h"

#include <algorithm>
#include <cstring>

#include "imaging/bitmaptools.h"
#include "imaging/colorreduction.h"
#include "imaging/pixelformat.h"
#include "imaging/transparency.h"
#include "platform/png_codec.h"
#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

constexpr int InfoHeaderSize = 40;
// Alpha at or below which a pixel of an expanded PNG counts as transparent.
constexpr int PngSplitThreshold = 80;
// Sides from which an image is refused.
constexpr uint32_t MaxImageSide = 6000;

// Offsets of BITMAPINFOHEADER fields.
constexpr size_t OffWidth = 4, OffHeight = 8, OffPlanes = 12, OffBitCount = 14, OffCompression = 16, OffSizeImage = 20,
                 OffClrUsed = 32, OffClrImportant = 36;

uint32_t Field32(std::span<const uint8_t> data, size_t offset) {
  return data.size() >= offset + 4 ? LoadU32LE(data.data() + offset) : 0;
}
uint16_t Field16(std::span<const uint8_t> data, size_t offset) {
  return data.size() >= offset + 2 ? LoadU16LE(data.data() + offset) : 0;
}

// Bits per pixel of a PNG from its IHDR bit depth and colour type.
int PngDepth(int bitDepth, int colorType) {
  switch (colorType) {
    case 2:
      if (bitDepth == 8) return 24;
      if (bitDepth == 16) return 48;
      break;
    case 3:
      if (bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8) return bitDepth;
      break;
    case 4:
      if (bitDepth == 8) return 8;
      if (bitDepth == 16) return 16;
      break;
    case 6:
      if (bitDepth == 8) return 32;
      if (bitDepth == 16) return 64;
      break;
    default: break;
  }
  return (bitDepth + 256 * colorType) & 0xFFFF;
}

// A 14-byte BITMAPFILEHEADER followed by body: a BMP stream a bitmap can load.
TMemoryStream BmpStream(uint32_t fileSize, uint32_t offBits, std::span<const uint8_t> body) {
  std::vector<uint8_t> bytes(14 + body.size());
  bytes[0] = 'B';
  bytes[1] = 'M';
  StoreU32LE(&bytes[2], fileSize);
  StoreU32LE(&bytes[10], offBits);
  if (!body.empty()) std::memcpy(&bytes[14], body.data(), body.size());
  return TMemoryStream(std::move(bytes));
}

bool LoadBitmap(TBitmap& bitmap, TMemoryStream stream) {
  try {
    bitmap.LoadFromStream(stream);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// An empty mask stands for "all opaque"; a mask that is set has at least one white pixel.
bool MaskHasTransparency(const TBitmap& mask) {
  for (int y = 0; y < mask.Height(); ++y)
    for (int x = 0; x < mask.Width(); ++x)
      if (mask.GetPixel(x, y) != 0) return true;
  return false;
}

bool HasNonZeroAlpha(const TBitmap& bitmap) {
  if (bitmap.PixelFormat() != pf32bit) return false;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x)
      if (row[4 * x + 3] != 0) return true;
  }
  return false;
}

// The mask the way the image builder expects it: 1-bit with the black/white palette, of the
// picture's size.
TBitmap NormalizedMask(const TBitmap& mask, int width, int height) {
  if (mask.PixelFormat() == pf1bit && mask.Width() == width && mask.Height() == height && mask.Palette().size() == 2 &&
      QuadToColor(mask.Palette()[0]) == 0 && QuadToColor(mask.Palette()[1]) == 0xFFFFFF)
    return mask;
  TBitmap normal = CreateFilledBitmap(pf1bit, width, height, 0);
  normal.Draw(0, 0, mask);
  return normal;
}

// Applies the AND mask then XORs the colour bits onto canvas at (x, y), as an icon without alpha draws.
void DrawAndXor(TBitmap& canvas, int x, int y, const TBitmap& colour, const TBitmap& mask) {
  for (int row = 0; row < colour.Height(); ++row) {
    const int ty = y + row;
    if (ty < 0 || ty >= canvas.Height()) continue;
    for (int column = 0; column < colour.Width(); ++column) {
      const int tx = x + column;
      if (tx < 0 || tx >= canvas.Width()) continue;
      const bool transparent = column < mask.Width() && row < mask.Height() && mask.GetPixel(column, row) != 0;
      const TColor below = transparent ? canvas.GetPixel(tx, ty) : 0;
      canvas.SetPixel(tx, ty, (below ^ colour.GetPixel(column, row)) & 0xFFFFFF);
    }
  }
}

// Composes a 32-bit colour image over the canvas pixels at (x, y).
void ComposeAt(TBitmap& canvas, int x, int y, const TBitmap& colour) {
  TBitmap region;
  region.SetPixelFormat(canvas.PixelFormat());
  if (canvas.PixelFormat() == pf1bit || canvas.PixelFormat() == pf4bit || canvas.PixelFormat() == pf8bit)
    region.SetPalette(canvas.Palette());
  region.SetSize(colour.Width(), colour.Height());
  region.CopyRect(Rect(0, 0, colour.Width(), colour.Height()), canvas,
                  Rect(x, y, x + colour.Width(), y + colour.Height()));
  ComposeOver(colour, region);
  canvas.Draw(x, y, region);
}

}  // namespace

// ---- entries -------------------------------------------------------------------------------

TIconEntry TIconEntry::FromBytes(std::span<const uint8_t, Size> bytes) {
  TIconEntry entry;
  entry.bWidth = bytes[0];
  entry.bHeight = bytes[1];
  entry.bColorCount = bytes[2];
  entry.bReserved = bytes[3];
  entry.wPlanes = LoadU16LE(&bytes[4]);
  entry.wBitCount = LoadU16LE(&bytes[6]);
  entry.dwBytesInRes = LoadU32LE(&bytes[8]);
  return entry;
}

std::array<uint8_t, TIconEntry::Size> TIconEntry::ToBytes() const {
  std::array<uint8_t, Size> bytes{};
  bytes[0] = bWidth;
  bytes[1] = bHeight;
  bytes[2] = bColorCount;
  bytes[3] = bReserved;
  StoreU16LE(&bytes[4], wPlanes);
  StoreU16LE(&bytes[6], wBitCount);
  StoreU32LE(&bytes[8], dwBytesInRes);
  return bytes;
}

TIconEntry TIconEntry::Read(TStream& stream) {
  std::array<uint8_t, Size> bytes{};
  stream.ReadBuffer(bytes.data(), Size);
  return FromBytes(bytes);
}

void TIconEntry::Write(TStream& stream) const {
  const auto bytes = ToBytes();
  stream.WriteBuffer(bytes.data(), Size);
}

TGroupIconEntry TGroupIconEntry::Read(TStream& stream) {
  TGroupIconEntry entry;
  entry.Entry = TIconEntry::Read(stream);
  entry.Id = stream.ReadU16LE();
  return entry;
}

bool IsPngBytes(std::span<const uint8_t> bytes) { return bytes.size() > 8 && HasPngSignature(bytes); }

TPngHeaderInfo PngHeaderInfo(std::span<const uint8_t> bytes) {
  TPngHeaderInfo info;
  size_t offset = 8;
  // Each chunk moves the walk forward by at least 12 bytes, so it ends at the end of the bytes.
  while (offset <= bytes.size() && bytes.size() - offset >= 8) {
    const uint32_t length = LoadU32BE(&bytes[offset]);
    const uint8_t* type = &bytes[offset + 4];
    if (std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (bytes.size() - offset - 8 < 10) break;
      const uint8_t* data = &bytes[offset + 8];
      info.Width = LoadU32BE(data);
      info.Height = LoadU32BE(data + 4);
      info.Depth = PngDepth(data[8], data[9]);
      break;
    }
    if (length > bytes.size() - offset - 8) break;
    offset += 8 + static_cast<size_t>(length) + 4;
  }
  return info;
}

// ---- construction --------------------------------------------------------------------------

TSubIcon::TSubIcon() = default;

TSubIcon::TSubIcon(const TIconEntry& entry, std::vector<uint8_t> bytes) : FEntry(entry) {
  SetData(std::move(bytes));
  UpdateFromData();
}

TSubIcon::TSubIcon(TStream& stream) {
  ReadEntryBytes(stream, 0, static_cast<uint64_t>(stream.Size()));
  UpdateFromData();
}

TSubIcon::TSubIcon(TStream& stream, int64_t basePosition, bool takeHotSpot) {
  uint8_t entryBytes[16];
  stream.ReadBuffer(entryBytes, 16);
  const int64_t after = stream.Position();
  FEntry = TIconEntry::FromBytes(std::span<const uint8_t, TIconEntry::Size>(entryBytes, TIconEntry::Size));
  const uint32_t offset = LoadU32LE(entryBytes + 12);
  ReadEntryBytes(stream, basePosition + offset, FEntry.dwBytesInRes);
  stream.SetPosition(after);
  if (takeHotSpot) FHotSpot = THotSpot{FEntry.wPlanes, FEntry.wBitCount};
  UpdateFromData();
}

TSubIcon::TSubIcon(TStream& stream, const TIconEntry& entry, TEntryRead mode) : FEntry(entry) {
  const int64_t start = stream.Position();
  ReadEntryBytes(stream, start, FEntry.dwBytesInRes);
  if (mode == TEntryRead::Restore) stream.SetPosition(start);
  UpdateFromData();
}

TSubIcon::~TSubIcon() = default;

// A length the stream cannot hold fails before anything is allocated.
void TSubIcon::ReadEntryBytes(TStream& stream, int64_t position, uint64_t length) {
  const int64_t size = stream.Size();
  if (position < 0 || position > size) throw EStreamError("Stream read error");
  if (length > static_cast<uint64_t>(size - position)) throw EStreamError("Stream read error");
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  stream.SetPosition(position);
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(length));
  SetData(std::move(bytes));
}

void TSubIcon::SetData(std::vector<uint8_t> bytes) {
  FHandle.reset();
  FDepth = 0;
  FData = std::move(bytes);
  FEntry.dwBytesInRes = static_cast<uint32_t>(FData.size());
}

std::unique_ptr<TSubIcon> TSubIcon::CreateCopy(const TSubIcon& other) {
  auto copy = std::make_unique<TSubIcon>();
  copy->FEntry = other.FEntry;
  copy->FData = other.FData;
  copy->FHandle = other.FHandle;
  copy->FHotSpot = other.FHotSpot;
  copy->UpdateFromData();
  copy->FPacked = other.FPacked;
  return copy;
}

// ---- derived values ------------------------------------------------------------------------

void TSubIcon::UpdateFromData() {
  if (FData.empty()) return;
  if (IsPngData()) {
    Unpack(*this);
    FPacked = true;
    return;
  }
  FPacked = false;
  // The header fields read below must lie inside the bytes.
  if (FData.size() < OffBitCount + 2) throw EReadError("Invalid image");
  const uint32_t planes = Field16(FData, OffPlanes);
  const uint32_t bitCount = Field16(FData, OffBitCount);
  const uint32_t depth = planes * bitCount;
  FEntry.wPlanes = static_cast<uint16_t>(planes);
  FEntry.wBitCount = static_cast<uint16_t>(bitCount);
  FDepth = static_cast<int>(std::min<uint32_t>(depth, 0x7FFFFFFF));
  FEntry.bColorCount = depth < 8 ? static_cast<uint8_t>(1u << depth) : 0;
  uint32_t w = Field32(FData, OffWidth);
  uint32_t h = Field32(FData, OffHeight) >> 1;
  if (w == 0)
    w = h;
  else if (h == 0)
    h = w;
  FEntry.bWidth = w <= 255 ? static_cast<uint8_t>(w) : 0;
  FEntry.bHeight = h <= 255 ? static_cast<uint8_t>(h) : 0;
  if (depth > 32 || w >= MaxImageSide || h >= MaxImageSide) throw EReadError("Invalid image");
}

bool TSubIcon::IsPngData() const { return IsPngBytes(FData); }

int TSubIcon::GetWidth() const {
  if (FData.empty()) return 0;
  if (IsPngData()) return static_cast<int>(std::min<uint32_t>(PngHeaderInfo(FData).Width, 0x7FFFFFFF));
  return static_cast<int>(Field32(FData, OffWidth));
}

int TSubIcon::GetHeight() const {
  if (FData.empty()) return 0;
  if (IsPngData()) return static_cast<int>(std::min<uint32_t>(PngHeaderInfo(FData).Height, 0x7FFFFFFF));
  return static_cast<int>(Field32(FData, OffHeight) >> 1);
}

int TSubIcon::GetBitsPerPixel() const {
  if (FDepth != 0) return FDepth;
  if (FData.empty()) return 0;
  if (IsPngData())
    FDepth = PngHeaderInfo(FData).Depth;
  else
    FDepth = static_cast<int>(Field16(FData, OffPlanes)) * Field16(FData, OffBitCount);
  return FDepth;
}

std::string TSubIcon::GetDescription() const {
  const char* colours = "";
  switch (GetBitsPerPixel()) {
    case 1: colours = "2"; break;
    case 4: colours = "16"; break;
    case 8: colours = "256"; break;
    case 16: colours = "65k"; break;
    case 24: colours = "16M"; break;
    case 32: colours = "32bpp"; break;
    default: break;
  }
  return Format("%dx%dx%s", GetWidth(), GetHeight(), colours);
}

// ---- handle and drawing --------------------------------------------------------------------

TIconHandle TSubIcon::GetHandle() const {
  if (!FHandle && !FData.empty()) {
    auto rendering = std::make_shared<TIconRendering>();
    RenderBitmaps(nullptr, &rendering->Colour, &rendering->Mask, 0);
    FHandle = std::move(rendering);
  }
  return FHandle;
}

void TSubIcon::ReleaseHandle() { FHandle.reset(); }

TIconHandle TSubIcon::DetachHandle() {
  TIconHandle handle = std::move(FHandle);
  FHandle.reset();
  return handle;
}

void TSubIcon::Draw(TBitmap& canvas, int x, int y) const {
  const TIconHandle handle = GetHandle();
  if (!handle) return;
  // An icon with alpha is blended; a 32-bit icon whose alpha is empty is drawn by its mask.
  if (HasNonZeroAlpha(handle->Colour))
    ComposeAt(canvas, x, y, handle->Colour);
  else
    DrawAndXor(canvas, x, y, handle->Colour, handle->Mask);
}

void TSubIcon::DrawMasked(TBitmap& canvas, int x, int y, TColor background) const {
  if (FEntry.wBitCount == 32) {
    TBitmap colour;
    RenderBitmaps(nullptr, &colour, nullptr, 0);
    if (colour.PixelFormat() != pf32bit) {
      TBitmap mask;
      RenderBitmaps(nullptr, nullptr, &mask, 0);
      DrawAndXor(canvas, x, y, colour, mask);
    } else if (background == NoColor) {
      ComposeAt(canvas, x, y, colour);
    } else {
      TBitmap composed;
      composed.SetPixelFormat(pf24bit);
      composed.SetSize(colour.Width(), colour.Height());
      ComposeOverColor(colour, composed, background);
      canvas.Draw(x, y, composed);
    }
    return;
  }
  TBitmap colour, mask;
  RenderBitmaps(nullptr, &colour, &mask, 0);
  DrawAndXor(canvas, x, y, colour, mask);
}

// ---- rendering -----------------------------------------------------------------------------

namespace {

// Where the parts of a DIB image lie, worked out from its header the way the renderer reads it.
struct TDibLayout {
  int Width = 0;
  int Height = 0;  // half of biHeight
  int Depth = 0;
  int64_t HeaderSize = 0;  // header and colour table
  int64_t ColourSize = 0;
  int64_t MaskSize = 0;
};

// False when the header cannot describe an image we are willing to render.
bool ReadLayout(std::span<const uint8_t> data, int depth, TDibLayout& layout) {
  const int32_t biWidth = static_cast<int32_t>(Field32(data, OffWidth));
  const int32_t biHeight = static_cast<int32_t>(Field32(data, OffHeight));
  layout.Width = biWidth;
  layout.Height = biHeight / 2;
  layout.Depth = depth;
  if (layout.Width <= 0 || layout.Height <= 0 || static_cast<uint32_t>(layout.Width) >= MaxImageSide ||
      static_cast<uint32_t>(layout.Height) >= MaxImageSide || depth <= 0 || depth > 32)
    return false;
  const uint32_t bitCount = Field16(data, OffBitCount);
  const uint32_t clrUsed = Field32(data, OffClrUsed);
  layout.HeaderSize = InfoHeaderSize;
  if (depth <= 8)
    layout.HeaderSize += 4 * static_cast<int64_t>(clrUsed != 0 ? clrUsed : (bitCount < 32 ? (1u << bitCount) : 0));
  else if (Field32(data, OffCompression) & 3)
    layout.HeaderSize += 12;
  layout.MaskSize = static_cast<int64_t>(layout.Height) * RowBytes(layout.Width, 1);
  layout.ColourSize = static_cast<int64_t>(RowBytes(layout.Width, depth)) * layout.Height;
  return true;
}

// A bitmap of the image's size in the format of its depth, filled with the colour.
void BlankBitmap(TBitmap& bitmap, const TDibLayout& layout, TPixelFormat format, TColor fill) {
  if (format == pf1bit)
    MakeMonochrome(&bitmap);
  else
    bitmap.SetPixelFormat(format);
  bitmap.SetSize(layout.Width, layout.Height);
  FillBitmap(bitmap, fill);
}

// The colour bits as a BMP stream: the halved header, the table and the colour bits.
void LoadColourBits(TBitmap& bitmap, std::span<const uint8_t> halved, uint32_t bytesInRes, const TDibLayout& layout,
                    TColor background) {
  const int64_t fileSize = static_cast<int64_t>(bytesInRes) + 14 - layout.MaskSize;
  const int64_t bodySize = std::clamp<int64_t>(fileSize - 14, 0, static_cast<int64_t>(halved.size()));
  const bool loaded =
      layout.HeaderSize + 14 <= 0xFFFFFFFFLL &&
      LoadBitmap(bitmap, BmpStream(static_cast<uint32_t>(fileSize), static_cast<uint32_t>(layout.HeaderSize + 14),
                                   halved.first(static_cast<size_t>(bodySize))));
  if (!loaded) BlankBitmap(bitmap, layout, FormatOfBits(layout.Depth), background);
}

// The AND bits as a 1-bit BMP stream with the palette black, white.
void LoadMaskBits(TBitmap& bitmap, std::span<const uint8_t> halved, const TDibLayout& layout, TColor background) {
  const int64_t maskStart = layout.HeaderSize + layout.ColourSize;
  if (maskStart + layout.MaskSize <= static_cast<int64_t>(halved.size())) {
    std::vector<uint8_t> body(InfoHeaderSize + 8 + static_cast<size_t>(layout.MaskSize));
    std::memcpy(body.data(), halved.data(), InfoHeaderSize);
    StoreU16LE(&body[OffPlanes], 1);
    StoreU16LE(&body[OffBitCount], 1);
    StoreU32LE(&body[OffCompression], 0);
    StoreU32LE(&body[OffSizeImage], static_cast<uint32_t>(layout.MaskSize));
    StoreU32LE(&body[OffClrUsed], 2);
    StoreU32LE(&body[OffClrImportant], 0);
    StoreU32LE(&body[InfoHeaderSize + 4], 0x00FFFFFF);
    std::memcpy(&body[InfoHeaderSize + 8], &halved[static_cast<size_t>(maskStart)],
                static_cast<size_t>(layout.MaskSize));
    if (LoadBitmap(bitmap, BmpStream(static_cast<uint32_t>(layout.MaskSize + 62), 62, body))) return;
  }
  BlankBitmap(bitmap, layout, pf1bit, background);
}

}  // namespace

void TSubIcon::RenderBitmaps(TBitmap* picture, TBitmap* colour, TBitmap* mask, TColor background) const {
  if (FData.empty() || (!IsPngData() && FData.size() < InfoHeaderSize)) {
    for (TBitmap* bitmap : {picture, colour, mask})
      if (bitmap) bitmap->SetSize(0, 0);
    return;
  }
  if (IsPngData()) {
    TSubIcon expanded;
    Unpack(expanded);
    expanded.RenderBitmaps(picture, colour, mask, background);
    return;
  }
  if (!picture && !colour && !mask) return;
  if (Field32(FData, OffWidth) == 0 || Field32(FData, OffHeight) == 0) {
    for (TBitmap* bitmap : {picture, colour}) {
      if (!bitmap) continue;
      bitmap->SetSize(0, 0);
      bitmap->SetPixelFormat(pf24bit);
    }
    if (mask) {
      MakeMonochrome(mask);
      mask->SetSize(0, 0);
    }
    return;
  }
  TDibLayout layout;
  if (!ReadLayout(FData, GetBitsPerPixel(), layout)) {
    for (TBitmap* bitmap : {picture, colour, mask})
      if (bitmap) bitmap->SetSize(0, 0);
    return;
  }
  std::vector<uint8_t> halved(FData);
  StoreU32LE(&halved[OffHeight], static_cast<uint32_t>(layout.Height));
  StoreU32LE(&halved[OffSizeImage], static_cast<uint32_t>(layout.ColourSize));

  if (colour) {
    LoadColourBits(*colour, halved, FEntry.dwBytesInRes, layout, background);
    if (colour->PixelFormat() == pfDevice) colour->SetPixelFormat(pf24bit);
  }
  if (picture) {
    LoadColourBits(*picture, halved, FEntry.dwBytesInRes, layout, background);
    if (picture->PixelFormat() == pf32bit) {
      BlendOverColor(*picture, 0xFF000000u | SwapRedBlue(background & 0xFFFFFF));
    } else {
      TColor fill = background & 0xFFFFFF;
      if (layout.Depth == 1 && background != 0)
        fill = 0xFFFFFF;
      else if (picture->PaletteCapacity() > 0)
        fill = QuadToColor(picture->Palette()[static_cast<size_t>(picture->NearestIndex(fill))]);
      picture->SetBrushColor(fill);
      // Rendered without a background: an unreadable mask leaves every pixel opaque.
      TBitmap pictureMask;
      LoadMaskBits(pictureMask, halved, layout, 0);
      for (int y = 0; y < picture->Height() && y < pictureMask.Height(); ++y)
        for (int x = 0; x < picture->Width() && x < pictureMask.Width(); ++x)
          if (pictureMask.GetPixel(x, y) != 0)
            picture->SetPixel(x, y, picture->GetPixel(x, y) == 0xFFFFFF ? (fill ^ 0xFFFFFF) : fill);
    }
  }
  if (mask) LoadMaskBits(*mask, halved, layout, background);
}

// ---- assignment ----------------------------------------------------------------------------

void TSubIcon::AssignTo(TBitmap& target) const {
  const TPixelFormat format = FormatOfBits(GetBitsPerPixel());
  if (format != pfDevice && format != pf15bit) {
    if (format == pf1bit)
      MakeMonochrome(&target);
    else
      target.SetPixelFormat(format);
  }
  target.SetSize(GetWidth(), GetHeight());
  Draw(target, 0, 0);
}

void TSubIcon::AssignTo(TSubIcon& target) const {
  if (&target == this) return;
  target.ReleaseHandle();
  target.FEntry = FEntry;
  target.FData = FEntry.dwBytesInRes != 0 ? FData : std::vector<uint8_t>{};
  target.FEntry.dwBytesInRes = static_cast<uint32_t>(target.FData.size());
  target.FHotSpot = FHotSpot;
  target.FPacked = FPacked;
  target.FDepth = 0;
}

// ---- PNG -----------------------------------------------------------------------------------

TPngSplit SplitPng(const TPNGImage& png, int threshold) {
  TPngSplit split;
  const int width = png.Width(), height = png.Height();
  split.Mask = CreateFilledBitmap(pf1bit, width, height, 0);
  const int colorType = png.Header().FColorType;
  if (colorType == pctPalette) {
    png.AssignTo(split.Colour);
    const auto& alphas = png.PaletteAlpha();
    if (alphas.empty()) return split;
    const bool partial = std::any_of(alphas.begin(), alphas.end(), [](uint8_t a) { return a != 0 && a != 255; });
    TBitmap withAlpha;
    if (partial) withAlpha = NewBitmap32(width, height);
    const auto& palette = png.Palette();
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const size_t index = static_cast<size_t>(split.Colour.GetIndex(x, y));
        const int alpha = index < alphas.size() ? alphas[index] : 255;
        if (alpha < threshold) split.Mask.SetIndex(x, y, 1);
        if (partial) {
          const TRGBQuad q = index < palette.size() ? palette[index] : TRGBQuad{};
          uint8_t* p = withAlpha.ScanLine(y) + 4 * x;
          p[0] = q.Blue;
          p[1] = q.Green;
          p[2] = q.Red;
          p[3] = static_cast<uint8_t>(alpha);
        }
      }
    }
    if (partial) split.Colour = std::move(withAlpha);
    return split;
  }
  const TBitmap& decoded = png.Bitmap();
  if (colorType == pctGrey || colorType == pctGreyAlpha) {
    // Grey stays grey: an 8-bit bitmap with the grey ramp; alpha only shapes the mask.
    if (decoded.PixelFormat() != pf32bit) {
      split.Colour = decoded;
      return split;
    }
    std::vector<TRGBQuad> greys(256);
    for (int i = 0; i < 256; ++i) greys[static_cast<size_t>(i)] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    split.Colour.SetPixelFormat(pf8bit);
    split.Colour.SetPalette(greys);
    split.Colour.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
      const uint8_t* source = decoded.ScanLine(y);
      uint8_t* target = split.Colour.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        target[x] = source[4 * x];
        if (source[4 * x + 3] < threshold) split.Mask.SetIndex(x, y, 1);
      }
    }
    return split;
  }
  split.Colour = decoded;
  if (split.Colour.PixelFormat() == pf32bit) {
    for (int y = 0; y < height; ++y) {
      uint8_t* row = split.Colour.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        if (row[4 * x + 3] != 0) continue;
        std::memset(row + 4 * x, 0, 4);
        split.Mask.SetIndex(x, y, 1);
      }
    }
  }
  return split;
}

namespace {

bool HasPartialAlpha(const TBitmap& bitmap) {
  if (bitmap.PixelFormat() != pf32bit) return false;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x)
      if (row[4 * x + 3] != 0 && row[4 * x + 3] != 255) return true;
  }
  return false;
}

}  // namespace

void TSubIcon::Unpack(TSubIcon& target) const {
  if (!IsPngData()) {
    AssignTo(target);
    return;
  }
  TPNGImage png;
  png.LoadFromBytes(FData);
  const int wanted = FEntry.wBitCount;
  const TIconEntry entry = FEntry;
  const THotSpot hotSpot = FHotSpot;
  TBitmap decoded;
  png.AssignTo(decoded);
  TPngSplit split = SplitPng(png, PngSplitThreshold);
  const TBitmap& colour = split.Colour;
  auto drawnOnto = [&](TPixelFormat format) {
    TBitmap result = CreateFilledBitmap(format, colour.Width(), colour.Height(), NoColor);
    SetStandardPalette(result);
    result.Draw(0, 0, colour);
    return result;
  };
  if (wanted == 4 && colour.PixelFormat() != pf4bit) {
    decoded = drawnOnto(pf4bit);
  } else if (wanted == 1 && decoded.PixelFormat() != pf1bit) {
    decoded = drawnOnto(pf1bit);
  } else if (wanted == 8 && decoded.PixelFormat() != pf8bit) {
    TBitmap exact;
    if (ExactPaletteConversion(colour, exact, true, true))
      decoded = std::move(exact);
    else
      decoded = drawnOnto(pf8bit);
  } else if (wanted == 24 && decoded.PixelFormat() == pf32bit && !HasPartialAlpha(decoded)) {
    // From the split colours, so that pixels under the mask are black as an icon needs them.
    decoded = colour;
    decoded.SetPixelFormat(pf24bit);
  } else if (wanted == 32 && decoded.PixelFormat() != pf32bit && colour.PixelFormat() == pf32bit) {
    // A palette PNG with partial alpha keeps its alpha in a 32-bit image.
    decoded = colour;
  }
  std::unique_ptr<TFileIconImage> image = PrepareImageFromBitmap(decoded, &split.Mask, 0);
  if (&target != this) {
    target.FEntry = entry;
    target.FHotSpot = hotSpot;
    target.FDepth = 0;
  }
  image->AssignTo(target);
  target.FHotSpot = hotSpot;
  target.FPacked = false;
}

std::vector<uint8_t> TSubIcon::RenderToPng() const {
  TPNGImage png;
  const int depth = GetBitsPerPixel();
  TBitmap colour;
  if (depth == 32) {
    TBitmap mask;
    RenderBitmaps(nullptr, &colour, &mask, 0);
    // A 32-bit image without alpha information shows through its mask; keep that in the alpha.
    if (colour.PixelFormat() == pf32bit && !HasNonZeroAlpha(colour)) AlphaFromMask(colour, &mask, 255);
    png.Assign(colour);
    return png.SaveToBytes();
  }
  TBitmap mask;
  RenderBitmaps(nullptr, &colour, &mask, 0);
  if (!MaskHasTransparency(mask)) {
    png.Assign(colour);
    return png.SaveToBytes();
  }
  if (depth <= 8) {
    TBitmap indexed;
    if (depth == 8 && colour.PixelFormat() == pf8bit) {
      indexed = colour;
    } else {
      indexed.SetPixelFormat(pf8bit);
      indexed.SetPalette(depth == 1 ? StandardPalette2() : depth == 8 ? StandardPalette256() : StandardPalette16());
      indexed.SetSize(colour.Width(), colour.Height());
      indexed.Draw(0, 0, colour);
    }
    const int transparentIndex = ReserveTransparentIndex(indexed, &mask, NoColor);
    png.Assign(indexed, transparentIndex);
    return png.SaveToBytes();
  }
  TBitmap combined;
  CombineTo32Bit(colour, &mask, combined);
  png.Assign(combined);
  return png.SaveToBytes();
}

void TSubIcon::Pack(TSubIcon& target) const {
  if (IsPngData() && &target == this) {
    target.FPacked = true;
    return;
  }
  std::vector<uint8_t> png = RenderToPng();
  if (&target != this) {
    target.FEntry = FEntry;
    target.FHotSpot = FHotSpot;
  }
  target.SetData(std::move(png));
  target.FPacked = true;
}

// ---- images from bitmaps -------------------------------------------------------------------

std::unique_ptr<TFileIconImage> PrepareImageFromBitmap(const TBitmap& bitmap, const TBitmap* mask, uint8_t byteArg) {
  if (mask && mask->Width() == 0) mask = nullptr;
  const TBitmap* source = &bitmap;
  TBitmap converted;
  TBitmap alphaMask;
  if (bitmap.PixelFormat() == pf32bit && !mask) {
    MaskFromAlpha(bitmap, alphaMask, byteArg);
    if (alphaMask.Width() == 0 || alphaMask.Height() == 0) {
      MakeMonochrome(&alphaMask);
      alphaMask.SetSize(1, 1);
      FillBitmap(alphaMask, 0);
    }
    mask = &alphaMask;
  }
  const TPixelFormat format = bitmap.PixelFormat();
  const bool empty = bitmap.Width() == 0 || bitmap.Height() == 0;
  if (format == pfDevice || format == pf15bit || format == pf16bit || empty) {
    converted.SetPixelFormat(pf24bit);
    if (empty) {
      converted.SetSize(1, 1);
    } else {
      converted.SetSize(bitmap.Width(), bitmap.Height());
      converted.Draw(0, 0, bitmap);
    }
    source = &converted;
  }
  TMemoryStream dib;
  source->SaveToStream(dib);
  const int64_t available = std::max<int64_t>(dib.Size() - 14, 0);
  dib.SetPosition(std::min<int64_t>(14, dib.Size()));
  if (!mask) return BuildImageFromDib(dib, nullptr, byteArg, available);
  // The mask bits must match the picture row for row.
  const TBitmap maskBits = NormalizedMask(*mask, source->Width(), source->Height());
  TMemoryStream maskStream;
  maskBits.SaveToStream(maskStream);
  maskStream.SetPosition(10);
  maskStream.SetPosition(maskStream.ReadU32LE());
  return BuildImageFromDib(dib, &maskStream, byteArg, available);
}

std::unique_ptr<TFileIconImage> BuildImageFromDib(TStream& dib, TStream* maskBits, uint8_t fillByte,
                                                  int64_t available) {
  const uint32_t headerLength = dib.ReadU32LE();
  std::vector<uint8_t> header(InfoHeaderSize, 0);
  int tableEntrySize = 4;
  if (headerLength == 12) {
    StoreU32LE(&header[0], InfoHeaderSize);
    StoreU32LE(&header[OffWidth], dib.ReadU16LE());
    StoreU32LE(&header[OffHeight], dib.ReadU16LE());
    StoreU16LE(&header[OffPlanes], dib.ReadU16LE());
    StoreU16LE(&header[OffBitCount], dib.ReadU16LE());
    tableEntrySize = 3;
    available -= 12;
  } else {
    // Headers shorter than an info header lack the fields read below; longer ones are kept whole.
    if (headerLength < InfoHeaderSize || headerLength > 1024 ||
        headerLength > static_cast<uint64_t>(dib.Remaining()) + 4)
      throw EReadError("Bitmap image is not valid");
    header.resize(headerLength);
    StoreU32LE(&header[0], headerLength);
    dib.ReadBuffer(&header[4], headerLength - 4);
    available -= headerLength;
  }
  if (LoadU16LE(&header[OffPlanes]) != 1) throw EReadError("Bitmap image is not valid");
  const int32_t width = static_cast<int32_t>(LoadU32LE(&header[OffWidth]));
  const int32_t height = static_cast<int32_t>(LoadU32LE(&header[OffHeight]));
  const int bits = LoadU16LE(&header[OffBitCount]);
  // Icon images run bottom-up with a positive width; anything else cannot become one.
  if (width <= 0 || height <= 0 || bits == 0 || bits > 32) throw EReadError("Bitmap image is not valid");
  CheckPictureSize(width, height);
  if (header.size() == InfoHeaderSize && (bits == 16 || bits == 32) && LoadU32LE(&header[OffCompression]) == 3) {
    dib.Seek(12, TSeekOrigin::Current);
    available -= 12;
  }
  uint32_t clrUsed = LoadU32LE(&header[OffClrUsed]);
  if (clrUsed == 0) clrUsed = (bits == 1 || bits == 4 || bits == 8) ? (1u << bits) : 0;
  if (static_cast<uint64_t>(clrUsed) * tableEntrySize > static_cast<uint64_t>(std::max<int64_t>(dib.Remaining(), 0)))
    throw EReadError("Bitmap image is not valid");
  StoreU32LE(&header[OffClrUsed], clrUsed);
  std::vector<uint8_t> table(static_cast<size_t>(clrUsed) * 4, 0);
  for (uint32_t i = 0; i < clrUsed; ++i) dib.ReadBuffer(&table[i * 4], tableEntrySize);
  available -= static_cast<int64_t>(clrUsed) * tableEntrySize;
  uint32_t sizeImage = LoadU32LE(&header[OffSizeImage]);
  if (sizeImage == 0)
    sizeImage =
        static_cast<uint32_t>(CheckedMul(static_cast<size_t>(RowBytes(width, bits)), static_cast<size_t>(height)));
  const int64_t colourLength = std::clamp<int64_t>(std::min<int64_t>(sizeImage, available), 0, dib.Remaining());
  const int64_t maskSize = static_cast<int64_t>(RowBytes(width, 1)) * height;
  StoreU32LE(&header[OffSizeImage], static_cast<uint32_t>(sizeImage + maskSize));
  StoreU32LE(&header[OffHeight], static_cast<uint32_t>(height) * 2);

  std::vector<uint8_t> bytes;
  bytes.reserve(header.size() + table.size() + static_cast<size_t>(colourLength + maskSize));
  bytes.insert(bytes.end(), header.begin(), header.end());
  bytes.insert(bytes.end(), table.begin(), table.end());
  const size_t colourStart = bytes.size();
  bytes.resize(colourStart + static_cast<size_t>(colourLength));
  dib.ReadBuffer(bytes.data() + colourStart, colourLength);
  const size_t maskStart = bytes.size();
  bytes.resize(maskStart + static_cast<size_t>(maskSize), fillByte);
  if (maskBits) maskBits->ReadBuffer(bytes.data() + maskStart, maskSize);

  TIconEntry entry;
  entry.bColorCount = bits == 1 ? 2 : bits == 4 ? 16 : 0;
  entry.wPlanes = 1;
  entry.wBitCount = static_cast<uint16_t>(bits);
  return std::make_unique<TFileIconImage>(entry, std::move(bytes));
}

// ---- record forms --------------------------------------------------------------------------

namespace {

constexpr uint8_t RecordFlag = TIconEntry::Size;

// Reads length bytes, refusing lengths the stream cannot hold before allocating.
std::vector<uint8_t> ReadBytes(TStream& stream, uint64_t length) {
  if (length > static_cast<uint64_t>(std::max<int64_t>(stream.Remaining(), 0))) throw EStreamError("Stream read error");
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(length));
  return bytes;
}

}  // namespace

void TSubIcon::WriteData(TStream& stream) const { stream.WriteBytes(FData); }

void TSubIcon::SaveRecord(TStream& stream) const {
  if (FPacked && !FData.empty() && !IsPngData()) {
    TSubIcon packed;
    Pack(packed);
    packed.SaveRecord(stream);
    return;
  }
  if (FData.empty()) {
    stream.WriteU8(0);
    return;
  }
  stream.WriteU8(RecordFlag);
  FEntry.Write(stream);
  WriteData(stream);
}

void TSubIcon::LoadRecord(TStream& stream) {
  SetData({});
  FPacked = false;
  if (stream.ReadU8() == 0) return;
  FEntry = TIconEntry::Read(stream);
  try {
    SetData(ReadBytes(stream, FEntry.dwBytesInRes));
  } catch (const std::exception&) {
    SetData({});
    return;
  }
  FPacked = IsPngData();
}

void TSubIcon::SkipRecord(TStream& stream) {
  if (stream.ReadU8() == 0) return;
  const TIconEntry entry = TIconEntry::Read(stream);
  stream.Seek(entry.dwBytesInRes, TSeekOrigin::Current);
}

void TSubIcon::WriteFiler(TStream& stream) const {
  if (FData.empty()) {
    stream.WriteU8(0);
    return;
  }
  stream.WriteU8(RecordFlag);
  FEntry.Write(stream);
  stream.WriteU16LE(FHotSpot.X);
  stream.WriteU16LE(FHotSpot.Y);
  WriteData(stream);
}

void TSubIcon::ReadFiler(TStream& stream) {
  SetData({});
  FPacked = false;
  if (stream.ReadU8() == 0) return;
  FEntry = TIconEntry::Read(stream);
  FHotSpot.X = stream.ReadU16LE();
  FHotSpot.Y = stream.ReadU16LE();
  try {
    SetData(ReadBytes(stream, FEntry.dwBytesInRes));
  } catch (const std::exception&) {
    SetData({});
  }
}

void TSubIcon::LoadRawData(TStream& stream, bool withHotSpot) {
  SetData({});
  try {
    stream.SetPosition(0);
    if (withHotSpot) {
      FHotSpot.X = stream.ReadU16LE();
      FHotSpot.Y = stream.ReadU16LE();
    }
    SetData(ReadBytes(stream, static_cast<uint64_t>(stream.Remaining())));
  } catch (const std::exception&) {
    SetData({});
    return;
  }
  UpdateFromData();
}

void TSubIcon::LoadHeaderlessIco(TStream& stream) {
  FEntry = TIconEntry{};
  SetData({});
  try {
    stream.SetPosition(10);
    const uint32_t length = stream.ReadU32LE();
    stream.SetPosition(18);
    SetData(ReadBytes(stream, length));
  } catch (const std::exception&) {
    SetData({});
    return;
  }
  UpdateFromData();
}

// ---- Mac marks -----------------------------------------------------------------------------

void TSubIcon::MarkMacImage(bool on) {
  FHotSpot.X = on ? MacMarkX : 0;
  if (FHotSpot.Y != MacMarkY) FHotSpot.Y = 0;
}

void TSubIcon::MarkMacCompressed(bool on) {
  if (on) {
    FHotSpot.X = MacMarkX;
    FHotSpot.Y = MacMarkY;
  } else {
    FHotSpot.Y = 0;
  }
}

}  // namespace glyphmill
