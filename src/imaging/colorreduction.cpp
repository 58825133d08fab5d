#include "imaging/colorreduction.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "imaging/bitmaptools.h"
#include "imaging/transparency.h"

namespace glyphmill {

namespace {

constexpr TColor Black = 0x000000;
constexpr TColor White = 0xFFFFFF;

constexpr TRGBQuad Quad(uint8_t r, uint8_t g, uint8_t b) { return TRGBQuad{b, g, r, 0}; }

constexpr std::array<TRGBQuad, 2> Palette2 = {Quad(0, 0, 0), Quad(255, 255, 255)};

constexpr std::array<TRGBQuad, 16> Palette16 = {
    Quad(0, 0, 0),       Quad(128, 0, 0),   Quad(0, 128, 0),   Quad(128, 128, 0),
    Quad(0, 0, 128),     Quad(128, 0, 128), Quad(0, 128, 128), Quad(128, 128, 128),
    Quad(192, 192, 192), Quad(255, 0, 0),   Quad(0, 255, 0),   Quad(255, 255, 0),
    Quad(0, 0, 255),     Quad(255, 0, 255), Quad(0, 255, 255), Quad(255, 255, 255),
};

constexpr std::array<TRGBQuad, 256> BuildPalette256() {
  std::array<TRGBQuad, 256> table{};
  size_t n = 0;
  for (const TRGBQuad& q : Palette16) table[n++] = q;
  constexpr uint8_t Greys[20] = {9,   18,  31,  44,  57,  69,  82,  95,  108, 120,
                                 133, 146, 159, 171, 184, 197, 210, 222, 235, 248};
  for (uint8_t v : Greys) table[n++] = Quad(v, v, v);
  table[n++] = Quad(255, 251, 240);
  table[n++] = Quad(160, 160, 164);
  table[n++] = Quad(192, 220, 192);
  table[n++] = Quad(166, 202, 240);
  // Channel shares in thirds (3 = full) of the eighteen hues, red, green, blue.
  constexpr uint8_t Hues[18][3] = {{3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}, {2, 3, 0}, {1, 3, 0},
                                   {0, 3, 0}, {0, 3, 1}, {0, 3, 2}, {0, 3, 3}, {0, 2, 3}, {0, 1, 3},
                                   {0, 0, 3}, {1, 0, 3}, {2, 0, 3}, {3, 0, 3}, {3, 0, 2}, {3, 0, 1}};
  constexpr uint8_t Dark[4][7] = {{0, 0, 0, 0, 0, 0, 0},
                                  {20, 30, 40, 50, 60, 70, 85},
                                  {42, 63, 84, 105, 126, 147, 170},
                                  {62, 93, 124, 155, 186, 217, 240}};
  constexpr uint8_t Light[4][5] = {
      {36, 72, 108, 144, 180}, {109, 133, 157, 181, 205}, {182, 194, 206, 218, 230}, {255, 255, 255, 255, 255}};
  for (const auto& hue : Hues) {
    for (int k = 0; k < 7; ++k) table[n++] = Quad(Dark[hue[0]][k], Dark[hue[1]][k], Dark[hue[2]][k]);
    for (int k = 0; k < 5; ++k) table[n++] = Quad(Light[hue[0]][k], Light[hue[1]][k], Light[hue[2]][k]);
  }
  return table;
}

constexpr std::array<TRGBQuad, 256> Palette256 = BuildPalette256();

inline int Distance(TColor a, TColor b) {
  const int dr = GetRValue(a) - GetRValue(b), dg = GetGValue(a) - GetGValue(b), db = GetBValue(a) - GetBValue(b);
  return dr * dr + dg * dg + db * db;
}

// An ordered list of distinct colours with constant-time membership and index lookup; the lists
// of the reduction hold at most 257 colours, the exact conversion 256.
class TColorList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  const std::vector<TColor>& Items() const { return FItems; }
  TColor operator[](int index) const { return FItems[static_cast<size_t>(index)]; }

  // Index of the colour, or −1.
  int IndexOf(TColor color) const {
    for (uint32_t slot = Hash(color);; slot = (slot + 1) & Mask) {
      if (FSlots[slot] == Empty) return -1;
      if (FSlots[slot] == color) return FIndexes[slot];
    }
  }
  bool Contains(TColor color) const { return IndexOf(color) >= 0; }
  // Appends the colour when absent; returns true when it was added.
  bool AddUnique(TColor color) {
    uint32_t slot = Hash(color);
    for (; FSlots[slot] != Empty; slot = (slot + 1) & Mask)
      if (FSlots[slot] == color) return false;
    if (FItems.size() >= Capacity) return false;
    FSlots[slot] = color;
    FIndexes[slot] = static_cast<int16_t>(FItems.size());
    FItems.push_back(color);
    return true;
  }
  void Assign(std::span<const TColor> colors) {
    Clear();
    for (TColor c : colors) AddUnique(c);
  }
  void CutTo(int count) {
    if (count >= Count()) return;
    std::vector<TColor> kept(FItems.begin(), FItems.begin() + count);
    Assign(kept);
  }
  void Clear() {
    FItems.clear();
    FSlots.fill(Empty);
  }
  TColorList() { FSlots.fill(Empty); }

private:
  static constexpr uint32_t Capacity = 512;
  static constexpr uint32_t Slots = 2048;
  static constexpr uint32_t Mask = Slots - 1;
  static constexpr TColor Empty = 0xFFFFFFFF;
  static uint32_t Hash(TColor color) { return (color * 0x9E3779B1u) >> 21; }

  std::vector<TColor> FItems;
  std::array<TColor, Slots> FSlots;
  std::array<int16_t, Slots> FIndexes{};
};

// Nearest palette entry by squared RGB distance, lowest index on ties. The colour cube is cut into
// boxes of 16³; the first search in a box keeps the entries that can be nearest for any colour in
// it (those whose nearest possible distance does not exceed the smallest farthest distance of any
// entry), in index order, so every later search there looks at a few entries only.
class TNearestMatcher {
public:
  explicit TNearestMatcher(const TColorList& palette) : FPalette(palette) { FBoxStart.fill(-1); }
  int Find(TColor color) {
    const int exact = FPalette.IndexOf(color);
    if (exact >= 0) return exact;
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    const int box = ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
    if (FBoxStart[static_cast<size_t>(box)] < 0) FillBox(box);
    const auto& items = FPalette.Items();
    const int start = FBoxStart[static_cast<size_t>(box)], end = start + FBoxCount[static_cast<size_t>(box)];
    int best = 0, bestDistance = 1 << 30;
    for (int k = start; k < end; ++k) {
      const int i = FCandidates[static_cast<size_t>(k)];
      const int distance = Distance(color, items[static_cast<size_t>(i)]);
      if (distance < bestDistance) {
        bestDistance = distance;
        best = i;
      }
    }
    return best;
  }

private:
  void FillBox(int box) {
    const int lo[3] = {(box >> 8) << 4, ((box >> 4) & 15) << 4, (box & 15) << 4};
    const auto& items = FPalette.Items();
    std::vector<int> nearest(items.size());
    int limit = 1 << 30;
    for (size_t i = 0; i < items.size(); ++i) {
      const int channels[3] = {GetRValue(items[i]), GetGValue(items[i]), GetBValue(items[i])};
      int near = 0, far = 0;
      for (int c = 0; c < 3; ++c) {
        const int low = lo[c], high = lo[c] + 15, v = channels[c];
        const int inside = v < low ? low - v : v > high ? v - high : 0;
        const int outside = std::max(v - low, high - v);
        near += inside * inside;
        far += outside * outside;
      }
      nearest[i] = near;
      limit = std::min(limit, far);
    }
    FBoxStart[static_cast<size_t>(box)] = static_cast<int>(FCandidates.size());
    for (size_t i = 0; i < items.size(); ++i)
      if (nearest[i] <= limit) FCandidates.push_back(static_cast<uint8_t>(i));
    FBoxCount[static_cast<size_t>(box)] = static_cast<int>(FCandidates.size()) - FBoxStart[static_cast<size_t>(box)];
  }

  const TColorList& FPalette;
  std::array<int, 4096> FBoxStart;
  std::array<int, 4096> FBoxCount{};
  std::vector<uint8_t> FCandidates;
};

// The pixels of a picture as colour values, row by row: 24- and 32-bit pictures are read in place,
// others through a 24-bit copy.
class TPixelSource {
public:
  explicit TPixelSource(const TBitmap& picture) : FPicture(&picture) {
    if (picture.PixelFormat() != pf24bit && picture.PixelFormat() != pf32bit) {
      FCopy = CopyTo24Bit(picture);
      FPicture = &FCopy;
    }
    FBytes = FPicture->PixelFormat() == pf32bit ? 4 : 3;
  }
  int Width() const { return FPicture->Width(); }
  int Height() const { return FPicture->Height(); }
  bool HasAlpha() const { return FBytes == 4; }
  const uint8_t* Row(int y) const { return FPicture->ScanLine(y); }
  int Bytes() const { return FBytes; }
  static TColor ColorAt(const uint8_t* pixel) { return RGBColor(pixel[2], pixel[1], pixel[0]); }

private:
  const TBitmap* FPicture;
  TBitmap FCopy;
  int FBytes = 3;
};

void ApplyColors(TBitmap& bitmap, std::span<const TColor> colors) {
  std::vector<TRGBQuad> palette(colors.size());
  for (size_t i = 0; i < colors.size(); ++i) palette[i] = ColorToQuad(colors[i]);
  bitmap.SetPalette(palette);
}

// Makes target an 8-bit bitmap of the given size without filling it.
void Make8Bit(TBitmap& target, int width, int height) { SetFormatAndSize(target, width, height, pf8bit); }

// Step 7 of the reduction: the most frequent cells of ever finer grids over the colour cube.
void PopularColors(const TPixelSource& pixels, TColorList& list, int maxColors) {
  constexpr int Side = 33;
  std::vector<uint8_t> histogram(Side * Side * Side, 0);
  for (int y = 0; y < pixels.Height(); ++y) {
    const uint8_t* row = pixels.Row(y);
    for (int x = 0; x < pixels.Width(); ++x, row += pixels.Bytes()) {
      const int cell = (((row[2] + 4) >> 3) * Side + ((row[1] + 4) >> 3)) * Side + ((row[0] + 4) >> 3);
      if (histogram[static_cast<size_t>(cell)] < 255) ++histogram[static_cast<size_t>(cell)];
    }
  }
  auto channel = [](int coordinate) { return coordinate == 32 ? 255 : coordinate * 8; };
  // Passes at falling levels take the cells of one count at a time, in cell order: the same as
  // taking the grid's cells sorted by falling count, ties in cell order.
  std::vector<std::pair<int, int>> cells;
  for (int step = 8; step >= 1; step /= 2) {
    cells.clear();
    for (int r = 0; r < Side; r += step)
      for (int g = 0; g < Side; g += step)
        for (int b = 0; b < Side; b += step) {
          const int cell = (r * Side + g) * Side + b;
          if (histogram[static_cast<size_t>(cell)] > 0) cells.emplace_back(histogram[static_cast<size_t>(cell)], cell);
        }
    std::stable_sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [count, cell] : cells) {
      histogram[static_cast<size_t>(cell)] = 0;
      const int r = cell / (Side * Side), g = (cell / Side) % Side, b = cell % Side;
      list.AddUnique(RGBColor(static_cast<uint8_t>(channel(r)), static_cast<uint8_t>(channel(g)),
                              static_cast<uint8_t>(channel(b))));
      if (list.Count() >= maxColors) return;
    }
  }
}

}  // namespace

std::span<const TRGBQuad> StandardPalette2() { return Palette2; }
std::span<const TRGBQuad> StandardPalette16() { return Palette16; }
std::span<const TRGBQuad> StandardPalette256() { return Palette256; }

void SetStandardPalette(TBitmap& bitmap) {
  switch (bitmap.PixelFormat()) {
    case pf1bit: bitmap.SetPalette(Palette2); break;
    case pf4bit: bitmap.SetPalette(Palette16); break;
    case pf8bit: bitmap.SetPalette(Palette256); break;
    default: break;
  }
}

void ApplyPaletteList(TBitmap& bitmap, const TListLongint& list) {
  std::vector<TColor> colors(static_cast<size_t>(list.Count()));
  for (int32_t i = 0; i < list.Count(); ++i) colors[static_cast<size_t>(i)] = static_cast<TColor>(list[i]) & 0xFFFFFF;
  ApplyColors(bitmap, colors);
}

void EnsureBlackAndWhite(TListLongint& list) {
  auto ensure = [&list](TColor wanted) {
    if (list.Count() == 0 || list.IndexOf(static_cast<int32_t>(wanted)) >= 0) return;
    int best = 0, bestDistance = 1 << 30;
    for (int32_t i = 0; i < list.Count(); ++i) {
      const int distance = Distance(static_cast<TColor>(list[i]), wanted);
      if (distance < bestDistance) {
        bestDistance = distance;
        best = i;
      }
    }
    list.Put(best, static_cast<int32_t>(wanted));
  };
  ensure(White);
  ensure(Black);
}

void ExpandPaletteTo8Bit(TBitmap& target, std::span<const TRGBQuad> sourcePalette, bool ensure) {
  const size_t sourceCount = std::min<size_t>(sourcePalette.size(), 256);
  TListLongint list;
  list.SetCount(256);
  for (size_t i = 0; i < sourceCount; ++i)
    list.Put(static_cast<int32_t>(i), static_cast<int32_t>(QuadToColor(sourcePalette[i])));
  if (sourceCount < 256) {
    // The entries still to be filled are zeros, so black counts as present throughout.
    TColorList present;
    for (size_t i = 0; i < sourceCount; ++i) present.AddUnique(QuadToColor(sourcePalette[i]));
    present.AddUnique(Black);
    int32_t position = static_cast<int32_t>(sourceCount);
    for (const TRGBQuad& entry : Palette256) {
      if (position >= 256) break;
      if (present.AddUnique(QuadToColor(entry))) list.Put(position++, static_cast<int32_t>(QuadToColor(entry)));
    }
  }
  if (ensure) EnsureBlackAndWhite(list);
  if (target.PixelFormat() != pf8bit) target.SetPixelFormat(pf8bit);
  ApplyPaletteList(target, list);
}

void ReduceTo8Bit(const TBitmap& source, TBitmap& target, bool reserve, int threshold, int budget) {
  if (&source == &target) {
    const TBitmap copy(source);
    ReduceTo8Bit(copy, target, reserve, threshold, budget);
    return;
  }
  const int maxColors = std::clamp(budget, 1, 256);
  const int width = source.Width(), height = source.Height();
  Make8Bit(target, width, height);
  if (width == 0 || height == 0) return;
  const TPixelSource pixels(source);
  const bool alpha = pixels.HasAlpha();
  const int bytes = pixels.Bytes();
  auto opaque = [alpha, threshold](const uint8_t* pixel) { return !alpha || pixel[3] >= threshold; };

  TColorList list;
  if (reserve) {
    list.AddUnique(Black);
    list.AddUnique(White);
  }
  if (list.Count() < maxColors) {
    const uint8_t* corner = pixels.Row(height - 1);
    if (opaque(corner)) list.AddUnique(TPixelSource::ColorAt(corner));
    const int startCount = list.Count();
    TColorList cut[3];
    for (TColorList& l : cut) l.Assign(list.Items());
    constexpr TColor CutMasks[3] = {0xFEFEFE, 0xFCFCFC, 0xF8F8F8};
    TColor previous = 0xFFFFFFFF;
    bool overflow = false;
    for (int y = 0; y < height && !overflow; ++y) {
      const uint8_t* row = pixels.Row(y);
      for (int x = 0; x < width; ++x, row += bytes) {
        if (!opaque(row)) continue;
        const TColor c = TPixelSource::ColorAt(row);
        if (c == previous) continue;
        previous = c;
        if (list.Count() <= maxColors) list.AddUnique(c);
        for (int k = 0; k < 3; ++k)
          if (cut[k].Count() <= maxColors) cut[k].AddUnique(c & CutMasks[k]);
        if (cut[2].Count() > maxColors) {
          overflow = true;
          break;
        }
      }
    }
    if (list.Count() > maxColors) {
      int chosen = -1;
      for (int k = 0; k < 3 && chosen < 0; ++k)
        if (cut[k].Count() <= maxColors) chosen = k;
      if (chosen >= 0) {
        TColorList& picked = cut[chosen];
        if (picked.Count() < maxColors) {
          const TColorList& finer = chosen == 0 ? list : cut[chosen - 1];
          for (TColor c : finer.Items()) {
            if (picked.Count() > maxColors) break;
            picked.AddUnique(c);
          }
          picked.CutTo(maxColors);
        }
        list.Assign(picked.Items());
      } else {
        list.CutTo(startCount);
        PopularColors(pixels, list, maxColors);
      }
    }
    if (list.Count() < maxColors) {
      for (int y = 0; y < height && list.Count() < maxColors; ++y) {
        const uint8_t* row = pixels.Row(y);
        for (int x = 0; x < width && list.Count() < maxColors; ++x, row += bytes)
          if (opaque(row)) list.AddUnique(TPixelSource::ColorAt(row));
      }
    }
    if (alpha && list.Count() == 0) list.AddUnique(Black);
  }
  list.CutTo(maxColors);
  std::vector<TColor> colors = list.Items();
  if (reserve) {
    auto moveTo = [&colors](TColor color, size_t position) {
      const auto found = std::find(colors.begin(), colors.end(), color);
      if (found != colors.end() && static_cast<size_t>(found - colors.begin()) > position)
        std::iter_swap(colors.begin() + static_cast<std::ptrdiff_t>(position), found);
    };
    moveTo(Black, 0);
    moveTo(White, 1);
    list.Assign(colors);
  }
  const int transparentIndex = std::max(list.IndexOf(Black), 0);
  ApplyColors(target, colors);

  TNearestMatcher matcher(list);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels.Row(y);
    uint8_t* out = target.ScanLine(y);
    TColor previous = 0xFFFFFFFF;
    int previousIndex = 0;
    for (int x = 0; x < width; ++x, row += bytes) {
      if (!opaque(row)) {
        out[x] = static_cast<uint8_t>(transparentIndex);
        continue;
      }
      const TColor c = TPixelSource::ColorAt(row);
      if (c != previous) {
        previous = c;
        previousIndex = matcher.Find(c);
      }
      out[x] = static_cast<uint8_t>(previousIndex);
    }
  }
}

bool ExactPaletteConversion(const TBitmap& source, TBitmap& target, bool reserve, bool fillUp) {
  if (&source == &target) {
    const TBitmap copy(source);
    return ExactPaletteConversion(copy, target, reserve, fillUp);
  }
  const int width = source.Width(), height = source.Height();
  Make8Bit(target, width, height);
  TColorList list;
  if (reserve) {
    list.AddUnique(Black);
    list.AddUnique(White);
  }
  if (width > 0 && height > 0) {
    const TPixelSource pixels(source);
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = pixels.Row(y);
      uint8_t* out = target.ScanLine(y);
      for (int x = 0; x < width; ++x, row += pixels.Bytes()) {
        const TColor c = TPixelSource::ColorAt(row);
        int index = list.IndexOf(c);
        if (index < 0) {
          if (list.Count() >= 256) return false;
          index = list.Count();
          list.AddUnique(c);
        }
        out[x] = static_cast<uint8_t>(index);
      }
    }
  }
  std::vector<TColor> colors = list.Items();
  if (fillUp)
    for (const TRGBQuad& entry : Palette256) {
      if (colors.size() >= 256) break;
      if (list.AddUnique(QuadToColor(entry))) colors.push_back(QuadToColor(entry));
    }
  colors.resize(256, 0);
  ApplyColors(target, colors);
  return true;
}

int ReserveTransparentIndex(TBitmap& bitmap, const TBitmap* mask, TColor color) {
  const int capacity = bitmap.PaletteCapacity();
  if (capacity == 0) return 0;
  const int width = bitmap.Width(), height = bitmap.Height();
  std::vector<TColor> palette(bitmap.Palette().size());
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = QuadToColor(bitmap.Palette()[i]);
  const int count = static_cast<int>(palette.size());

  std::vector<int> uses(static_cast<size_t>(count), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int& use = uses[static_cast<size_t>(std::min(bitmap.GetIndex(x, y), count - 1))];
      if (use < 255) ++use;
    }

  int freeIndex = -1;
  for (int i = 0; i < count && freeIndex < 0; ++i)
    if (uses[static_cast<size_t>(i)] == 0) freeIndex = i;

  if (freeIndex < 0) {
    int bestI = 0, bestJ = count > 1 ? 1 : 0, bestDistance = 1 << 30, bestUses = 1 << 30;
    for (int i = 0; i < count; ++i)
      for (int j = i + 1; j < count; ++j) {
        const int distance = Distance(palette[static_cast<size_t>(i)], palette[static_cast<size_t>(j)]);
        const int sum = uses[static_cast<size_t>(i)] + uses[static_cast<size_t>(j)];
        if (distance < bestDistance || (distance == bestDistance && sum < bestUses)) {
          bestDistance = distance;
          bestUses = sum;
          bestI = i;
          bestJ = j;
        }
      }
    auto pure = [](TColor c) { return c == Black || c == White; };
    int drop = bestI, keep = bestJ;
    if (uses[static_cast<size_t>(bestI)] > uses[static_cast<size_t>(bestJ)] ||
        pure(palette[static_cast<size_t>(bestI)]))
      std::swap(drop, keep);
    const TColor kept = palette[static_cast<size_t>(keep)], dropped = palette[static_cast<size_t>(drop)];
    if (!pure(kept)) {
      const int uk = uses[static_cast<size_t>(keep)], ud = uses[static_cast<size_t>(drop)];
      auto mix = [uk, ud](int a, int b) { return static_cast<uint8_t>((a * uk + b * ud) / std::max(uk + ud, 1)); };
      palette[static_cast<size_t>(keep)] =
          RGBColor(mix(GetRValue(kept), GetRValue(dropped)), mix(GetGValue(kept), GetGValue(dropped)),
                   mix(GetBValue(kept), GetBValue(dropped)));
    }
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (bitmap.GetIndex(x, y) == drop) bitmap.SetIndex(x, y, keep);
    freeIndex = drop;
  }

  palette[static_cast<size_t>(freeIndex)] = 0;
  if (color == NoColor) {
    color = 0;
    while (std::find(palette.begin(), palette.end(), color) != palette.end()) ++color;
  }
  color &= 0xFFFFFF;
  std::move_backward(palette.begin(), palette.begin() + freeIndex, palette.begin() + freeIndex + 1);
  palette[0] = color;

  const TBitmap maskCopy = mask && mask == &bitmap ? *mask : TBitmap();
  const TBitmap* maskToRead = mask == &bitmap ? &maskCopy : mask;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool transparent = maskToRead && x < maskToRead->Width() && y < maskToRead->Height() &&
                               (maskToRead->GetPixel(x, y) & 0xFFFFFF) != Black;
      const int index = bitmap.GetIndex(x, y);
      if (transparent)
        bitmap.SetIndex(x, y, 0);
      else if (index < freeIndex)
        bitmap.SetIndex(x, y, index + 1);
    }
  ApplyColors(bitmap, palette);
  return 0;
}

void ConvertBitmapSameSize(const TBitmap& source, const TBitmap* sourceMask, TBitmap& target, TBitmap* targetMask,
                           TPixelFormat targetFormat, int threshold) {
  if (&source == &target || (sourceMask && sourceMask == targetMask)) {
    const TBitmap sourceCopy(source);
    const TBitmap maskCopy = sourceMask ? *sourceMask : TBitmap();
    ConvertBitmapSameSize(sourceCopy, sourceMask ? &maskCopy : nullptr, target, targetMask, targetFormat, threshold);
    return;
  }
  const int width = source.Width(), height = source.Height();
  const TPixelFormat sourceFormat = source.PixelFormat();
  SetFormatAndSize(target, width, height, targetFormat);
  // Every branch that does not make the mask from alpha copies the source's mask.
  bool maskDone = false;
  switch (targetFormat) {
    case pf1bit:
    case pf4bit:
      SetStandardPalette(target);
      if (sourceFormat == pf32bit) {
        TBitmap colours;
        To24BitWithMask(source, colours, targetMask, false, threshold);
        maskDone = true;
        target.Draw(0, 0, colours);
      } else {
        target.Draw(0, 0, source);
      }
      break;
    case pf8bit:
      if (sourceFormat == pf32bit) {
        ReduceTo8Bit(source, target, true, threshold, 256);
        if (targetMask) {
          ApplyAlphaMask(source, target, targetMask, false, threshold);
          maskDone = true;
        }
      } else if (sourceFormat == pf1bit || sourceFormat == pf4bit) {
        ExpandPaletteTo8Bit(target, source.Palette(), true);
        target.Draw(0, 0, source);
      } else if (sourceFormat == pf8bit) {
        target.Assign(source);
      } else {
        ReduceTo8Bit(source, target, true, threshold, 256);
      }
      break;
    case pf24bit:
      if (sourceFormat == pf32bit) {
        To24BitWithMask(source, target, targetMask, false, threshold);
        maskDone = true;
      } else {
        target.Draw(0, 0, source);
      }
      break;
    case pf32bit: CombineTo32Bit(source, sourceMask, target); break;
    default: target.Draw(0, 0, source); break;
  }
  if (targetMask && !maskDone) CopyMaskOrOpaque(sourceMask, *targetMask, width, height);
}

}  // namespace glyphmill
