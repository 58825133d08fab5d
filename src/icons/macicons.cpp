#include "icons/macicons.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "imaging/bitmaptools.h"
#include "platform/jpeg2000_codec.h"
#include "platform/png_codec.h"
#include "support/errors.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

constexpr uint8_t AppleDoubleMagic[4] = {0x00, 0x05, 0x16, 0x07};
constexpr size_t ResourceDataStart = 256;
constexpr size_t AppleDoubleResourceDataStart = 338;
constexpr int PackedAbove = 255;

enum class TElementKind { Mono, Palette4, Palette8, Rgb, Mask8, Argb, Compressed, Ignored, Unknown };

constexpr std::array<const char*, 36> KnownTypes = {
    "ics#", "icn#", "ich#", "icm#", "ics4", "icl4", "ich4", "icm4", "ics8", "icl8", "ich8", "icm8",
    "is32", "il32", "ih32", "it32", "s8mk", "l8mk", "h8mk", "t8mk", "ic04", "ic05", "icp4", "icp5",
    "icp6", "ic07", "ic08", "ic09", "ic10", "ic11", "ic12", "ic13", "ic14", "toc ", "info", "name"};

// Elements that repeat, compressed, the size of another element; they sort after it.
constexpr std::array<const char*, 6> MacCompressedNames = {"ic07", "ic10", "ic11", "ic12", "ic13", "ic14"};

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TElementKind KindOf(const std::string& type) {
  if (std::find_if(KnownTypes.begin(), KnownTypes.end(), [&](const char* t) { return type == t; }) == KnownTypes.end())
    return TElementKind::Unknown;
  if (type == "toc " || type == "info" || type == "name") return TElementKind::Ignored;
  if (type == "ic04" || type == "ic05") return TElementKind::Argb;
  if (type.starts_with("ic") && std::isdigit(static_cast<unsigned char>(type[2]))) return TElementKind::Compressed;
  if (type.starts_with("icp")) return TElementKind::Compressed;
  switch (type[3]) {
    case '#': return TElementKind::Mono;
    case '4': return TElementKind::Palette4;
    case '8': return TElementKind::Palette8;
    case '2': return TElementKind::Rgb;
    default: return TElementKind::Mask8;
  }
}

// The size a classic type's letters give.
void ClassicSize(const std::string& type, int& width, int& height) {
  width = height = 0;
  if (Contains(type, "l") || Contains(type, "n"))
    width = height = 32;
  else if (Contains(type, "h"))
    width = height = 48;
  else if (Contains(type, "s"))
    width = height = 16;
  else if (Contains(type, "cm"))
    width = 16, height = 12;
  else if (Contains(type, "t"))
    width = height = 128;
}

std::unique_ptr<TBitmap> NewBitmap(TPixelFormat format, int width, int height, std::span<const TRGBQuad> palette) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(format);
  if (!palette.empty()) bitmap->SetPalette(palette);
  bitmap->SetSize(width, height);
  return bitmap;
}

std::span<const TRGBQuad> BlackWhite() {
  static const TRGBQuad palette[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  return palette;
}

std::span<const TRGBQuad> Greys() {
  static const auto palette = [] {
    std::array<TRGBQuad, 256> p{};
    for (int i = 0; i < 256; ++i) p[static_cast<size_t>(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return p;
  }();
  return palette;
}

// Icon bits then mask bits; a Mac bit 1 is a black pixel and an opaque mask pixel, so both are
// inverted, and pixels under a transparent mask pixel become black.
void DecodeMono(TMacElement& element, std::span<const uint8_t> data, int width, int height) {
  const size_t rowBytes = static_cast<size_t>(width) / 8;
  element.Colour = NewBitmap(pf1bit, width, height, BlackWhite());
  element.Mask = NewBitmap(pf1bit, width, height, BlackWhite());
  const size_t maskOffset = rowBytes * static_cast<size_t>(height);
  for (int y = 0; y < height; ++y) {
    uint8_t* colour = element.Colour->ScanLine(y);
    uint8_t* mask = element.Mask->ScanLine(y);
    for (size_t i = 0; i < rowBytes; ++i) {
      const uint8_t bits = data[static_cast<size_t>(y) * rowBytes + i];
      const uint8_t opaque = data[maskOffset + static_cast<size_t>(y) * rowBytes + i];
      colour[i] = static_cast<uint8_t>(~bits & opaque);
      mask[i] = static_cast<uint8_t>(~opaque);
    }
  }
}

void DecodePalette(TMacElement& element, std::span<const uint8_t> data, int width, int height, int bits) {
  const bool four = bits == 4;
  element.Colour = NewBitmap(four ? pf4bit : pf8bit, width, height, four ? MacPalette16() : MacPalette256());
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bits) / 8;
  for (int y = 0; y < height; ++y)
    std::memcpy(element.Colour->ScanLine(y), data.data() + static_cast<size_t>(y) * rowBytes, rowBytes);
}

// Run-length coded channels, one after the other; each stops when it is full or the data ends.
void DecodeChannels(TBitmap& bitmap, std::span<const uint8_t> data, std::span<const int> channelOffsets) {
  const int width = bitmap.Width();
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(bitmap.Height());
  size_t position = 0;
  for (const int channel : channelOffsets) {
    size_t filled = 0;
    auto put = [&](uint8_t value) {
      const int y = static_cast<int>(filled / static_cast<size_t>(width));
      const int x = static_cast<int>(filled % static_cast<size_t>(width));
      bitmap.ScanLine(y)[4 * x + channel] = value;
      ++filled;
    };
    while (filled < count && position < data.size()) {
      const uint8_t control = data[position++];
      if (control < 128) {
        for (int i = 0; i <= control && filled < count && position < data.size(); ++i) put(data[position++]);
      } else {
        if (position >= data.size()) break;
        const uint8_t value = data[position++];
        for (int i = 0; i < control - 125 && filled < count; ++i) put(value);
      }
    }
  }
}

void DecodeRunLength(TMacElement& element, const std::string& type, std::span<const uint8_t> data, int width,
                     bool argb) {
  element.Colour = NewBitmap(pf32bit, width, width, {});
  uint8_t initial[4] = {0, 0, 0, 255};
  const bool withHeader = argb || type == "it32";
  if (withHeader) {
    if (data.size() < 4) {
      element.Colour.reset();
      return;
    }
    std::memcpy(initial, data.data(), 4);
    data = data.subspan(4);
  }
  for (int y = 0; y < width; ++y) {
    uint8_t* row = element.Colour->ScanLine(y);
    for (int x = 0; x < width; ++x) std::memcpy(row + 4 * x, initial, 4);
  }
  // Pixel bytes are blue, green, red, alpha; ARGB elements code alpha first.
  static constexpr int Rgb[] = {2, 1, 0};
  static constexpr int Argb[] = {3, 2, 1, 0};
  if (argb)
    DecodeChannels(*element.Colour, data, Argb);
  else
    DecodeChannels(*element.Colour, data, Rgb);
}

void DecodeCompressed(TMacElement& element, std::span<const uint8_t> data) {
  auto colour = std::make_unique<TBitmap>();
  if (HasPngSignature(data)) {
    TPNGImage png;
    png.LoadFromBytes(data);
    *colour = std::move(SplitPng(png, 0).Colour);
  } else {
    TBitmap decoded;
    DecodeJpeg2000(data, decoded);
    if (decoded.PixelFormat() == pf32bit)
      *colour = std::move(decoded);
    else
      CombineTo32Bit(decoded, nullptr, *colour);
  }
  element.Colour = std::move(colour);
}

bool SameSize(const TBitmap& a, const TBitmap& b) { return a.Width() == b.Width() && a.Height() == b.Height(); }

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  return a.PixelFormat() == b.PixelFormat() && SameSize(a, b) && a.BitsSize() == b.BitsSize() &&
         std::memcmp(a.Bits(), b.Bits(), a.BitsSize()) == 0;
}

// Index of the first element whose mask has this format and the colour's size, or -1.
int FindMask(const std::vector<TMacElement>& elements, const TBitmap& colour, TPixelFormat format) {
  for (size_t i = 0; i < elements.size(); ++i) {
    const TBitmap* mask = elements[i].Mask.get();
    if (mask && mask->PixelFormat() == format && SameSize(*mask, colour)) return static_cast<int>(i);
  }
  return -1;
}

void ApplyAlpha(TBitmap& colour, const TBitmap& alpha) {
  for (int y = 0; y < colour.Height(); ++y) {
    uint8_t* row = colour.ScanLine(y);
    const uint8_t* values = alpha.ScanLine(y);
    for (int x = 0; x < colour.Width(); ++x) {
      uint8_t* p = row + 4 * x;
      p[3] = values[x];
      if (p[3] == 0 && p[0] == 255 && p[1] == 255 && p[2] == 255) p[0] = p[1] = p[2] = 0;
    }
  }
}

// Colour pixels under a transparent mask pixel become black.
void BlackUnderMask(TBitmap& colour, const TBitmap& mask) {
  for (int y = 0; y < colour.Height(); ++y)
    for (int x = 0; x < colour.Width(); ++x)
      if (mask.GetIndex(x, y) != 0) colour.SetPixel(x, y, 0);
}

TMacIconPairs PairIcns(std::vector<TMacElement>& elements) {
  TMacIconPairs pairs;
  for (size_t i = 0; i < elements.size(); ++i) {
    const TMacElement& element = elements[i];
    if (!element.Colour) continue;
    TMacIconPair pair{element.Name, *element.Colour, nullptr};
    auto pairWith = [&](int j) {
      if (j >= 0) pair.Mask = std::make_unique<TBitmap>(*elements[static_cast<size_t>(j)].Mask);
    };
    if (pair.Colour.PixelFormat() == pf32bit) {
      if (!element.Name.starts_with("ic")) {
        const int alpha = FindMask(elements, pair.Colour, pf8bit);
        if (alpha >= 0)
          ApplyAlpha(pair.Colour, *elements[static_cast<size_t>(alpha)].Mask);
        else
          pairWith(FindMask(elements, pair.Colour, pf1bit));
      }
    } else if (element.Mask) {
      if (element.Mask->PixelFormat() == pf1bit && SameSize(*element.Mask, pair.Colour)) pairWith(static_cast<int>(i));
    } else {
      pairWith(FindMask(elements, pair.Colour, pf1bit));
    }
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

// The classic resource a resource-data item of this length holds, or empty.
std::string ItemType(std::span<const uint8_t> item, bool& seen256) {
  switch (item.size()) {
    case 1024: return "icl8";
    case 512: return "icl4";
    case 256:
      if (seen256) return "ics8";
      seen256 = true;
      return "icn#";
    case 128: return "ics4";
    case 64: {
      static constexpr uint8_t Text[4] = {'T', 'E', 'X', 'T'};
      return std::search(item.begin(), item.end(), Text, Text + 4) == item.end() ? "ics#" : "";
    }
    case 2312: return "ich8";
    default: return "";
  }
}

}  // namespace

std::span<const TRGBQuad> MacPalette16() {
  static const auto palette = [] {
    constexpr uint32_t Colours[16] = {0xFFFFFF, 0xFCF305, 0xFF6402, 0xDD0806, 0xF20884, 0x4600A5, 0x0000D4, 0x02ABEA,
                                      0x1FB714, 0x006411, 0x562C05, 0x90713A, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
    std::array<TRGBQuad, 16> p{};
    for (size_t i = 0; i < 16; ++i)
      p[i] = {uint8_t(Colours[i]), uint8_t(Colours[i] >> 8), uint8_t(Colours[i] >> 16), 0};
    return p;
  }();
  return palette;
}

std::span<const TRGBQuad> MacPalette256() {
  static const auto palette = [] {
    constexpr uint8_t Cube[6] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
    constexpr uint8_t Ramp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
    std::array<TRGBQuad, 256> p{};
    size_t n = 0;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          if (r < 5 || g < 5 || b < 5) p[n++] = {Cube[b], Cube[g], Cube[r], 0};
    for (const uint8_t v : Ramp) p[n++] = {0, 0, v, 0};
    for (const uint8_t v : Ramp) p[n++] = {0, v, 0, 0};
    for (const uint8_t v : Ramp) p[n++] = {v, 0, 0, 0};
    for (const uint8_t v : Ramp) p[n++] = {v, v, v, 0};
    p[n] = {0, 0, 0, 0};
    return p;
  }();
  return palette;
}

TMacElement DecodeIcnsElement(const std::string& type, std::span<const uint8_t> data) {
  TMacElement element;
  element.Name = type;
  const TElementKind kind = KindOf(type);
  int width = 0, height = 0;
  ClassicSize(type, width, height);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  switch (kind) {
    case TElementKind::Mono:
      if (data.size() == pixels / 8 * 2) DecodeMono(element, data, width, height);
      break;
    case TElementKind::Palette4:
      if (data.size() == pixels / 2) DecodePalette(element, data, width, height, 4);
      break;
    case TElementKind::Palette8:
      if (data.size() == pixels) DecodePalette(element, data, width, height, 8);
      break;
    case TElementKind::Rgb: DecodeRunLength(element, type, data, width, false); break;
    case TElementKind::Argb: DecodeRunLength(element, type, data, type == "ic04" ? 16 : 32, true); break;
    case TElementKind::Mask8:
      if (data.size() == static_cast<size_t>(width) * static_cast<size_t>(width)) {
        element.Mask = NewBitmap(pf8bit, width, width, Greys());
        for (int y = 0; y < width; ++y)
          std::memcpy(element.Mask->ScanLine(y), data.data() + static_cast<size_t>(y) * width,
                      static_cast<size_t>(width));
      }
      break;
    case TElementKind::Compressed: DecodeCompressed(element, data); break;
    case TElementKind::Ignored:
    case TElementKind::Unknown: break;
  }
  return element;
}

TMacIconPairs ReadIcns(TByteReader& reader) {
  const size_t start = reader.Offset() >= 4 ? reader.Offset() - 4 : 0;
  const uint32_t total = reader.U32BE();
  const size_t end = std::min<size_t>(reader.Size(), start + total);
  std::vector<TMacElement> elements;
  size_t offset = reader.Offset();
  while (offset + 8 <= end) {
    std::string type(reinterpret_cast<const char*>(reader.Bytes().data() + offset), 4);
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const uint32_t length = LoadU32BE(reader.Bytes().data() + offset + 4);
    // An element shorter than its own header or running past the data ends the reading.
    if (length < 8 || length > end - offset) break;
    TMacElement element = DecodeIcnsElement(type, reader.Slice(offset + 8, length - 8));
    if (element.Colour || element.Mask) elements.push_back(std::move(element));
    offset += length;
  }
  reader.Seek(std::max(offset, reader.Offset()));
  return PairIcns(elements);
}

TMacIconPairs WalkResourceData(std::span<const uint8_t> bytes) {
  const bool appleDouble = bytes.size() >= 4 && std::memcmp(bytes.data(), AppleDoubleMagic, 4) == 0;
  size_t position = appleDouble ? AppleDoubleResourceDataStart : ResourceDataStart;
  std::vector<TMacElement> items;
  TMacIconPairs merged;
  bool seen256 = false;
  while (position <= bytes.size() && bytes.size() - position >= 4) {
    const uint32_t length = LoadU32BE(bytes.data() + position);
    if ((length & 0xFF000000u) != 0) {
      position += 4;
      continue;
    }
    const size_t dataStart = position + 4;
    if (length > bytes.size() - dataStart) break;
    const std::span<const uint8_t> item = bytes.subspan(dataStart, length);
    const std::string type = ItemType(item, seen256);
    if (!type.empty()) {
      TMacElement element = DecodeIcnsElement(type, type == "ich8" ? item.first(2304) : item);
      if (element.Colour) items.push_back(std::move(element));
    } else if (length >= 8 && std::memcmp(item.data(), "icns", 4) == 0) {
      TByteReader reader(item);
      reader.Skip(4);
      merged = ReadIcns(reader);
      break;
    }
    position = dataStart + length;
  }

  TMacIconPairs walked;
  for (TMacElement& item : items) {
    TMacIconPair pair{item.Name, std::move(*item.Colour), nullptr};
    if (item.Mask && item.Mask->PixelFormat() == pf1bit) {
      // A copy: colour items later in the walk look for this mask too.
      pair.Mask = std::make_unique<TBitmap>(*item.Mask);
    } else {
      const int mask = FindMask(items, pair.Colour, pf1bit);
      if (mask >= 0) {
        BlackUnderMask(pair.Colour, *items[static_cast<size_t>(mask)].Mask);
        pair.Mask = std::make_unique<TBitmap>(*items[static_cast<size_t>(mask)].Mask);
      }
    }
    walked.push_back(std::move(pair));
  }
  for (TMacIconPair& pair : walked) {
    const bool taken = std::any_of(merged.begin(), merged.end(), [&](const TMacIconPair& other) {
      return SameSize(other.Colour, pair.Colour) && other.Colour.PixelFormat() == pair.Colour.PixelFormat();
    });
    if (!taken) merged.push_back(std::move(pair));
  }
  for (size_t i = merged.size(); i-- > 1;) {
    const bool duplicate =
        std::any_of(merged.begin(), merged.begin() + static_cast<std::ptrdiff_t>(i),
                    [&](const TMacIconPair& other) { return SamePixels(other.Colour, merged[i].Colour); });
    if (duplicate) merged.erase(merged.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return merged;
}

TMacIconPairs ReadMacIcons(std::span<const uint8_t> bytes) {
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "icns", 4) == 0) {
    TByteReader reader(bytes);
    reader.Skip(4);
    if (reader.Remaining() < 4) return {};
    return ReadIcns(reader);
  }
  return WalkResourceData(bytes);
}

TMacIconPairs ReadMacIcons(const std::string& fileName) { return ReadMacIcons(ReadFileBytes(fileName)); }

void LoadMacIconBytes(std::span<const uint8_t> bytes, TAdvancedIcon& icon) {
  const TMacIconPairs pairs = ReadMacIcons(bytes);
  icon.Images.Clear();
  for (const TMacIconPair& pair : pairs) {
    icon.Images.AddFromBitmap(pair.Colour, pair.Mask.get(), 0);
    TSubIcon* image = icon.Images.Get(icon.Images.Count() - 1);
    image->MarkMacImage(true);
    image->MarkMacCompressed(std::find(MacCompressedNames.begin(), MacCompressedNames.end(), pair.Name) !=
                             MacCompressedNames.end());
    if (image->GetWidth() > PackedAbove || image->GetHeight() > PackedAbove) image->SetPacked(true);
  }
  icon.Images.Sort();
}

void LoadMacIconFile(const std::string& fileName, TAdvancedIcon& icon) {
  LoadMacIconBytes(ReadFileBytes(fileName), icon);
}

}  // namespace glyphmill
