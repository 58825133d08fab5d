// One image of a Windows icon or cursor: the exact bytes an ICO file stores for it (a DIB with
// doubled height, colour bits and AND mask, or a PNG stream), the 12 directory fields describing
// them, a cursor hot spot and the wish to be stored PNG-compressed. Renders itself into bitmaps,
// compresses to PNG and expands PNG back into a DIB.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "support/streams.h"

namespace glyphmill {

// The 12 bytes an ICO directory entry and an icon group entry share (little-endian on disk).
// Width and height 0 stand for 256 and more.
struct TIconEntry {
  uint8_t bWidth = 0;
  uint8_t bHeight = 0;
  uint8_t bColorCount = 0;
  uint8_t bReserved = 0;
  uint16_t wPlanes = 0;
  uint16_t wBitCount = 0;
  uint32_t dwBytesInRes = 0;

  static constexpr int Size = 12;
  static TIconEntry FromBytes(std::span<const uint8_t, Size> bytes);
  std::array<uint8_t, Size> ToBytes() const;
  // Read or write the 12 bytes (EStreamError on a short read).
  static TIconEntry Read(TStream& stream);
  void Write(TStream& stream) const;
  bool operator==(const TIconEntry&) const = default;
};

// An icon group resource entry: the 12-byte entry followed by the u16 id of the image resource.
struct TGroupIconEntry {
  TIconEntry Entry;
  uint16_t Id = 0;

  static constexpr int Size = 14;
  static TGroupIconEntry Read(TStream& stream);
};

// Cursor hot spot; for images of Mac icons the two Mac marks instead.
struct THotSpot {
  uint16_t X = 0;
  uint16_t Y = 0;
  bool operator==(const THotSpot&) const = default;
};

inline constexpr uint16_t MacMarkX = 0xFC17;  // signed -1001
inline constexpr uint16_t MacMarkY = 0xFC16;  // signed -1002

// The platform icon "handle": the image decoded once into a colour bitmap and its AND mask.
struct TIconRendering {
  TBitmap Colour;
  TBitmap Mask;
};
using TIconHandle = std::shared_ptr<const TIconRendering>;

// How the entry-and-stream constructor leaves the stream.
enum class TEntryRead {
  Restore,     // position restored after reading the bytes
  Sequential,  // stream left after the bytes
};

class TSubIcon {
public:
  // An empty image.
  TSubIcon();
  // An image from a 12-byte entry and its bytes (group resources, icon libraries); dwBytesInRes
  // becomes the byte count.
  TSubIcon(const TIconEntry& entry, std::vector<uint8_t> bytes);
  // The whole stream, from its start, is the image.
  explicit TSubIcon(TStream& stream);
  // A 16-byte ICONDIRENTRY at the stream position; the image lies at basePosition + its offset
  // (basePosition 0 for absolute offsets). The stream is left after the entry. With
  // takeHotSpot (cursor sets of type 2) the entry's planes and bit count become the hot spot.
  TSubIcon(TStream& stream, int64_t basePosition, bool takeHotSpot = false);
  // dwBytesInRes bytes at the stream position under the given entry.
  TSubIcon(TStream& stream, const TIconEntry& entry, TEntryRead mode);
  virtual ~TSubIcon();

  TSubIcon(const TSubIcon&) = delete;
  TSubIcon& operator=(const TSubIcon&) = delete;

  // A deep copy as a plain TSubIcon (bytes, entry, hot spot, handle, packed state; PNG bytes of
  // the other image are expanded in the copy).
  static std::unique_ptr<TSubIcon> CreateCopy(const TSubIcon& other);

  const TIconEntry& Entry() const { return FEntry; }
  std::span<const uint8_t> Data() const { return FData; }
  bool Empty() const { return FData.empty(); }
  THotSpot HotSpot() const { return FHotSpot; }
  void SetHotSpot(THotSpot hotSpot) { FHotSpot = hotSpot; }
  bool Packed() const { return FPacked; }
  void SetPacked(bool packed) { FPacked = packed; }

  int GetWidth() const;
  int GetHeight() const;
  int GetBitsPerPixel() const;
  bool IsPngData() const;
  // "WxHxColours", e.g. "16x16x16" or "256x256x32bpp".
  std::string GetDescription() const;

  // The cached rendering, made on first use.
  TIconHandle GetHandle() const;
  void ReleaseHandle();
  // Hands the cached rendering to the caller and forgets it.
  TIconHandle DetachHandle();
  // Draws at natural size as an icon draws: alpha-blended when 32-bit with alpha, else the AND
  // mask then the XOR colour bits.
  void Draw(TBitmap& canvas, int x, int y) const;
  // 32-bit images are alpha-composed over the canvas (background NoColor) or over the background
  // colour; others are drawn with their mask.
  void DrawMasked(TBitmap& canvas, int x, int y, TColor background) const;

  // Renders into any of the three bitmaps (null to skip): the picture over the background colour,
  // the colour bits, the AND mask (white = transparent).
  void RenderBitmaps(TBitmap* picture, TBitmap* colour, TBitmap* mask, TColor background) const;
  // The image as a PNG stream.
  std::vector<uint8_t> RenderToPng() const;
  // Compresses into target (this image or another): the bytes become a PNG stream, FPacked true;
  // the entry keeps the fields of the uncompressed image.
  void Pack(TSubIcon& target) const;
  // Expands PNG bytes into a DIB image in target (this image or another); FPacked becomes false.
  void Unpack(TSubIcon& target) const;
  // To a bitmap: format after the depth, size of the image, the image drawn at (0, 0).
  void AssignTo(TBitmap& target) const;
  // To another image: entry, bytes, hot spot and packed state; the target's handle released.
  void AssignTo(TSubIcon& target) const;

  // Derives the entry from the bytes; expands PNG bytes in place and marks them packed.
  // Throws EReadError("Invalid image") for depths above 32 or sides of 6000 and more.
  void UpdateFromData();

  // Record forms.
  void WriteData(TStream& stream) const;
  void SaveRecord(TStream& stream) const;
  void LoadRecord(TStream& stream);
  static void SkipRecord(TStream& stream);
  void WriteFiler(TStream& stream) const;
  void ReadFiler(TStream& stream);
  void LoadRawData(TStream& stream, bool withHotSpot);
  void LoadHeaderlessIco(TStream& stream);

  // Marks of images read from Mac icons (the hot spot has no meaning for icons).
  void MarkMacImage(bool on);
  void MarkMacCompressed(bool on);
  bool IsMacCompressed() const { return FHotSpot.Y == MacMarkY; }

protected:
  // Replaces the bytes (dwBytesInRes follows) and forgets the cached handle and depth.
  void SetData(std::vector<uint8_t> bytes);

private:
  void ReadEntryBytes(TStream& stream, int64_t position, uint64_t length);

  mutable int FDepth = 0;
  mutable TIconHandle FHandle;
  TIconEntry FEntry;
  std::vector<uint8_t> FData;
  THotSpot FHotSpot;
  bool FPacked = false;
};

// Where an image came from: readers of files and builders from bitmaps, resource readers,
// cursor readers. Copies and filer reads are plain TSubIcon.
class TFileIconImage : public TSubIcon {
public:
  using TSubIcon::TSubIcon;
};

class TResourceIconImage : public TSubIcon {
public:
  using TSubIcon::TSubIcon;
};

class TSubCursor : public TSubIcon {
public:
  using TSubIcon::TSubIcon;
};

class TFileCursorImage : public TSubCursor {
public:
  using TSubCursor::TSubCursor;
};

// An icon image from a bitmap and its mask (null or width 0: none). A 32-bit bitmap without a
// mask gets one from alpha (transparent where alpha <= byteArg); otherwise byteArg fills the mask
// bits when no mask is given. The bitmap is not changed.
std::unique_ptr<TFileIconImage> PrepareImageFromBitmap(const TBitmap& bitmap, const TBitmap* mask, uint8_t byteArg);

// An icon image from a DIB (info header, colour table, bits) at the stream position and AND-mask
// bits from maskBits (null: fillByte repeated). available bounds the bytes taken from dib.
std::unique_ptr<TFileIconImage> BuildImageFromDib(TStream& dib, TStream* maskBits, uint8_t fillByte, int64_t available);

// True when the bytes are longer than the PNG signature and start with it.
bool IsPngBytes(std::span<const uint8_t> bytes);

// Width, height and bits per pixel from a PNG stream's IHDR (all 0 when it cannot be found).
struct TPngHeaderInfo {
  uint32_t Width = 0;
  uint32_t Height = 0;
  int Depth = 0;
};
TPngHeaderInfo PngHeaderInfo(std::span<const uint8_t> bytes);

class TPNGImage;

// A decoded PNG split into a colour bitmap and a 1-bit mask (white = transparent): alpha below the
// threshold is transparent; 32-bit pixels of alpha 0 become 0; palette PNGs with partial alpha
// become 32-bit; grey with alpha stays 8-bit grey.
struct TPngSplit {
  TBitmap Colour;
  TBitmap Mask;
};
TPngSplit SplitPng(const TPNGImage& png, int threshold);

}  // namespace glyphmill
