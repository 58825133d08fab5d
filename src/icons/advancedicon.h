// One icon: an ordered set of TSubIcon images that it owns, read from and written to ICO and CUR
// files and streams and the filer form; best-match lookups, sorting and the standard image order
// that every written icon gets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icons/subicon.h"
#include "platform/bitmap.h"
#include "support/streams.h"

namespace glyphmill {

class TAdvancedIcon;

// The 6-byte header of an icon directory (ICO, CUR, icon group resource).
struct TIconDirHeader {
  uint16_t Reserved = 0;
  uint16_t Type = 0;  // 1 icon, 2 cursor
  uint16_t Count = 0;

  static constexpr int Size = 6;
  bool Valid() const { return Reserved == 0 && (Type == 1 || Type == 2); }
};

// The images of an icon, at most 65535 (the most an icon directory can count).
class TSubIconList {
public:
  static constexpr int MaxCount = 65535;

  TSubIconList() = default;
  TSubIconList(const TSubIconList&) = delete;
  TSubIconList& operator=(const TSubIconList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  int Capacity() const { return FCapacity; }
  // Null for an index outside 0 .. Count() - 1.
  TSubIcon* Get(int index) const;
  TSubIcon* operator[](int index) const { return Get(index); }

  // Appends; returns the index. A list already holding MaxCount images throws EGlyphmillError.
  int Add(std::unique_ptr<TSubIcon> image);
  // Inserts before index; an index at or past the end appends.
  void Insert(int index, std::unique_ptr<TSubIcon> image);
  // Removes and frees; an index out of range does nothing.
  void Delete(int index);
  // Removes without freeing and hands the image over (null for an index out of range).
  std::unique_ptr<TSubIcon> Extract(int index);
  void Move(int from, int to);
  // Never fewer than Count(), never more than MaxCount.
  void SetCapacity(int capacity);
  // Moves image index of another icon (or all its images) to the end, without copying.
  void TakeFrom(TAdvancedIcon* icon, int index);
  void TakeAll(TAdvancedIcon* icon);
  void Clear();
  // Higher depth first; at equal depth the wider image first (a Mac-compressed mark counts one
  // pixel narrower). Not stable.
  void Sort();

  // Appends an image made from a bitmap and its mask (PrepareImageFromBitmap).
  void AddFromBitmap(const TBitmap& bitmap, const TBitmap* mask, uint8_t byteArg);

  // Index of the image closest to the wanted size and depth (0 leaves a property out); -1 when empty.
  int FindBestIndex(int width, int height, int depth) const;
  // Index of the first image of exactly this size and depth, or -1.
  int FindExact(int width, int height, int depth) const;

  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

private:
  std::vector<std::unique_ptr<TSubIcon>> FItems;
  int FCapacity = 0;
};

struct TIconDimensions {
  int Width = 0;
  int Height = 0;
  int Depth = 0;
};

class TAdvancedIcon {
public:
  TAdvancedIcon() = default;
  virtual ~TAdvancedIcon() = default;
  TAdvancedIcon(const TAdvancedIcon&) = delete;
  TAdvancedIcon& operator=(const TAdvancedIcon&) = delete;

  TSubIconList Images;

  // Clears, then appends a plain copy of every image of source.
  void Assign(const TAdvancedIcon& source);

  // Reads the 6-byte header; when valid, presets the list's capacity for its count.
  bool ReadHeader(TStream& stream, TIconDirHeader& header);

  // The tolerant ICO/CUR reader of conversion sources: clears first, drops damaged entries and
  // images that fail to decode, falls back to the headerless single-image form. True when the
  // directory gave at least one image. A file that cannot be opened throws EStreamError.
  bool LoadFromFile(const std::string& fileName);
  // The same over a stream holding the whole file.
  bool LoadFromFileStream(TStream& stream);

  // Clears; reads the set at the stream position with absolute offsets; true when it holds an image.
  bool LoadFromStream(TStream& stream);
  // Appends the set whose offsets count from the header's position; false for an invalid header.
  // The stream is left after the directory.
  bool LoadFromStreamAt(TStream& stream);
  // The same for cursor sets: TFileCursorImage images with their hot spots.
  bool LoadCursorFromStream(TStream& stream);
  bool LoadCursorFromStreamAt(TStream& stream);

  // The ICO form; images marked packed are PNG-compressed in a temporary copy. Nothing for an
  // empty icon.
  void SaveToStream(TStream& stream) const;
  // Throws EGlyphmillError("No images in icon") for an empty icon; replaces the file atomically.
  void SaveToFile(const std::string& fileName) const;
  // The CUR form: hot spots in place of planes and bit count; nothing is packed.
  void SaveCursorToStream(TStream& stream) const;

  // Filer form: the count as a filer integer, then each image's filer record.
  void WriteImages(TStream& stream) const;
  void ReadImages(TStream& stream);

  // The image closest to the wanted size and depth (null when empty).
  TSubIcon* FindBest(int width, int height, int depth) const;
  TIconHandle FindBestHandle(int width, int height, int depth) const;
  // Largest width, height and depth over all images, each on its own.
  TIconDimensions GetMaxDimensions() const;

  // Draws the best image for (width, height, depth) into picture at the image's own size.
  void DrawToPicture(TBitmap& picture, int width, int height, int depth, TColor background) const;

  // Square images of depths 4, 8, 32 first (per depth largest first, 256 and below, one per
  // size), the rest after in their order. True when the order changed.
  bool ArrangeStandardOrder();

private:
  bool ReadSet(TStream& stream, bool relative, bool cursor);
  void WriteSet(TStream& stream, bool cursor) const;
};

// A set read from a cursor source; its images are cursor images.
class TAdvancedCursor : public TAdvancedIcon {
public:
  using TAdvancedIcon::TAdvancedIcon;
};

// Property-streaming integers: a type tag (2, 3, 4) followed by an 8-, 16- or 32-bit value,
// the smallest that holds it.
void WriteFilerInteger(TStream& stream, int32_t value);
// Throws EReadError("Invalid property value") for another tag.
int32_t ReadFilerInteger(TStream& stream);

}  // namespace glyphmill
