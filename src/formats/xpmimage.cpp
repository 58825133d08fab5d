#include "formats/xpmimage.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "imaging/colorreduction.h"
#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

// Lower-case names, each directly followed by six hexadecimal digits red, green, blue.
constexpr const char* ColorNameText =
    "black000000whiteFFFFFFaliceblueF0F8FFantiquewhiteFAEBD7aqua00FFFFaquamarine7FFFD4"
    "azureF0FFFFbeigeF5F5DCbisqueFFE4C4blanchedalmondFFEBCDblue0000FFblueviolet8A2BE2"
    "brown8B2323burlywoodDEB887cadetblue5F9EA0chartreuse7FFF00chocolateD2691EcoralFF7F50"
    "cornflowerblue6495EDcornsilkFFF8DCcyan00FFFFdarkblue00008Bdarkcyan008B8BdarkgoldenrodB8860B"
    "darkgrayA9A9A9darkgreen006400darkgreyA9A9A9darkkhakiBDB76Bdarkmagenta8B008Bdarkolivegreen556B2F"
    "darkorangeFF8C00darkorchid9932CCdarkred8B0000darksalmonE9967Adarkseagreen8FBC8Fdarkslateblue483D8B"
    "darkslategray2F4F4Fdarkslategrey2F4F4Fdarkturquoise00CED1darkviolet9400D3deeppinkFF1493deepskyblue00BFFF"
    "dimgray696969dimgrey696969dodgerblue1E90FFfirebrickB22222floralwhiteFFFAF0forestgreen228B22"
    "fuchsiaFF00FFgainsboroDCDCDCghostwhiteF8F8FFgoldFFD700goldenrodDAA520grayBEBEBE"
    "green00FF00greenyellowADFF2FgreyBEBEBEhoneydewF0FFF0hotpinkFF69B4indianredCD5C5C"
    "ivoryFFFFF0khakiF0E68ClavenderE6E6FAlavenderblushFFF0F5lawngreen7CFC00lemonchiffonFFFACD"
    "lightblueADD8E6lightcoralF08080lightcyanE0FFFFlightgoldenrodEEDD82lightgoldenrodyellowFAFAD2lightgrayD3D3D3"
    "lightgreen90EE90lightgreyD3D3D3lightpinkFFB6C1lightsalmonFFA07Alightseagreen20B2AAlightskyblue87CEFA"
    "lightslateblue8470FFlightslategray778899lightslategrey778899lightsteelblueB0C4DElightyellowFFFFE0limegreen32CD32"
    "linenFAF0E6magentaFF00FFmaroonB03060mediumaquamarine66CDAAmediumblue0000CDmediumorchidBA55D3"
    "mediumpurple9370DBmediumseagreen3CB371mediumslateblue7B68EEmediumspringgreen00FA9Amediumturquoise48D1CCmediumviole"
    "tredC71585"
    "midnightblue191970mintcreamF5FFFAmistyroseFFE4E1moccasinFFE4B5navajowhiteFFDEADnavy000080"
    "navyblue000080oldlaceFDF5E6olivedrab6B8E23orangeFFA500orangeredFF4500orchidDA70D6"
    "palegoldenrodEEE8AApalegreen98FB98paleturquoiseAFEEEEpalevioletredDB7093papayawhipFFEFD5peachpuffFFDAB9"
    "peruCD853FpinkFFC0CBplumDDA0DDpowderblueB0E0E6purpleA020F0redFF0000"
    "rosybrownBC8F8Froyalblue4169E1saddlebrown8B4513salmonFA8072sandybrownF4A460seagreen2E8B57"
    "seashellFFF5EEsiennaA0522Dskyblue87CEEBslateblue6A5ACDslategray708090slategrey708090"
    "snowFFFAFAspringgreen00FF7Fsteelblue4682B4tanD2B48CthistleD8BFD8tomatoFF6347"
    "turquoise40E0D0violetEE82EEvioletredD02090wheatF5DEB3whitesmokeF5F5F5yellowFFFF00"
    "yellowgreen9ACD32teal008080";

// Numbers of the texts stop growing here: far beyond every limit they are checked against.
constexpr int64_t NumberCap = 1'000'000'000'000;

[[noreturn]] void InvalidData(int code) { throw EReadError(Format("Invalid XPM image data, err. %d", code)); }

std::string_view AsText(std::span<const uint8_t> bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Removes every "/* ... */" that starts before the first "{", then drops control characters but
// turns tabs into spaces.
std::string CleanText(std::string_view raw) {
  std::string text;
  text.reserve(raw.size());
  size_t position = 0;
  size_t brace = raw.find('{');
  for (;;) {
    const size_t open = raw.find("/*", position);
    // A "{" inside a removed comment does not count.
    if (brace != std::string_view::npos && brace < position) brace = raw.find('{', position);
    if (open == std::string_view::npos || (brace != std::string_view::npos && brace < open)) break;
    const size_t close = raw.find("*/", open + 2);
    if (close == std::string_view::npos) break;
    text.append(raw.substr(position, open - position));
    position = close + 2;
  }
  text.append(raw.substr(position));
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    if (c == '\t')
      result += ' ';
    else if (static_cast<unsigned char>(c) >= 32)
      result += c;
  }
  return result;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The next "..." string at or after position; position moves past it. Nothing when none is left.
std::optional<std::string_view> NextQuoted(std::string_view text, size_t& position) {
  const size_t open = text.find('"', position);
  if (open == std::string_view::npos) return std::nullopt;
  const size_t close = text.find('"', open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  position = close + 1;
  return text.substr(open + 1, close - open - 1);
}

// Decimal numbers of a text in order, each saturated at NumberCap.
std::vector<int64_t> Integers(std::string_view text, size_t wanted) {
  std::vector<int64_t> numbers;
  size_t i = 0;
  while (i < text.size() && numbers.size() < wanted) {
    if (text[i] < '0' || text[i] > '9') {
      ++i;
      continue;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
      value = std::min<int64_t>(value * 10 + (text[i] - '0'), NumberCap);
    numbers.push_back(value);
  }
  return numbers;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Non-hexadecimal characters count as 0.
uint64_t HexValue(std::string_view digits) {
  uint64_t value = 0;
  for (const char c : digits) value = (value << 4) | static_cast<uint64_t>(std::max(HexDigit(c), 0));
  return value;
}

uint32_t Opaque(TColor color) {
  return 0xFF000000u | (static_cast<uint32_t>(GetRValue(color)) << 16) |
         (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

// value × numerator / denominator rounded to the nearest integer, halves to the even neighbour.
int RoundedRatio(int64_t value, int64_t numerator, int64_t denominator) {
  const int64_t product = value * numerator;
  int64_t quotient = product / denominator;
  const int64_t twice = 2 * (product % denominator);
  if (twice > denominator || (twice == denominator && quotient % 2 != 0)) ++quotient;
  return static_cast<int>(quotient);
}

std::optional<TColor> NamedColor(std::string_view name) {
  for (const auto& [entry, color] : XpmColorNames())
    if (entry == name) return color;
  return std::nullopt;
}

void SetPixelValue(TBitmap& bitmap, int x, int y, uint32_t value) {
  StoreU32LE(bitmap.ScanLine(y) + 4 * static_cast<size_t>(x), value);
}

// A 1-bit black-and-white bitmap of the XBM text's size and bits.
TBitmap ReadXbm(std::span<const uint8_t> bytes) {
  if (bytes.empty()) throw EReadError("Zero file");
  const std::string text = CleanText(AsText(bytes));
  auto sizeAfter = [&](std::string_view key) -> int64_t {
    size_t at = text.find(key);
    if (at == std::string::npos) return 0;
    at += key.size();
    while (at < text.size() && text[at] == ' ') ++at;
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
      value = std::min<int64_t>(value * 10 + (text[at] - '0'), NumberCap);
    return value;
  };
  const int64_t width = sizeAfter("_width ");
  const int64_t height = sizeAfter("_height ");
  if (height <= 0 || height > 65535 || width <= 0 || width > 65534) InvalidData(4);
  CheckPictureSize(width, height);
  const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
  const size_t room = rowBytes * static_cast<size_t>(height);
  // Every value takes at least two characters, so a larger picture cannot be in the text.
  if (room > text.size()) InvalidData(4);

  std::vector<uint8_t> rows(room);
  size_t filled = 0;
  const size_t bits = text.find("_bits[]");
  if (bits != std::string::npos) {
    auto isValueChar = [](char c) { return HexDigit(c) >= 0 || c == 'x' || c == 'X'; };
    size_t i = bits + 7;
    while (i < text.size()) {
      if (!isValueChar(text[i])) {
        ++i;
        continue;
      }
      const size_t start = i;
      while (i < text.size() && isValueChar(text[i])) ++i;
      std::string_view digits = std::string_view(text).substr(start + 1, i - start - 1);
      while (!digits.empty() && (digits.front() == 'x' || digits.front() == 'X')) digits.remove_prefix(1);
      if (filled >= room) InvalidData(5);
      // XBM keeps the leftmost pixel in the lowest bit and 1 for black; the bitmap the opposite.
      uint8_t value = static_cast<uint8_t>(~HexValue(digits));
      uint8_t reversed = 0;
      for (int b = 0; b < 8; ++b) reversed |= static_cast<uint8_t>(((value >> b) & 1) << (7 - b));
      rows[filled++] = reversed;
    }
  }

  TBitmap bitmap;
  bitmap.SetPixelFormat(pf1bit);
  bitmap.SetPalette(StandardPalette2());
  bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
  for (int64_t y = 0; y < height; ++y)
    std::memcpy(bitmap.ScanLine(static_cast<int>(y)), rows.data() + y * rowBytes, rowBytes);
  return bitmap;
}

}  // namespace

const std::vector<std::pair<std::string, TColor>>& XpmColorNames() {
  static const std::vector<std::pair<std::string, TColor>> table = [] {
    std::vector<std::pair<std::string, TColor>> result;
    const std::string_view text = ColorNameText;
    size_t i = 0;
    while (i < text.size()) {
      const size_t start = i;
      while (i < text.size() && text[i] >= 'a' && text[i] <= 'z') ++i;
      const uint64_t rgb = HexValue(text.substr(i, 6));
      result.emplace_back(
          std::string(text.substr(start, i - start)),
          RGBColor(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)));
      i += 6;
    }
    return result;
  }();
  return table;
}

uint32_t XpmColorValue(std::string_view specification) {
  if (specification == "none") return 0;
  if (!specification.empty() && specification.front() == '#') {
    const std::string_view digits = specification.substr(1);
    // #RGB, #RRRGGGBBB and #RRRRGGGGBBBB: the first two digits of each component (a single digit
    // stands for itself twice).
    if (digits.size() % 3 == 0 && digits.size() != 6 && !digits.empty()) {
      const size_t length = digits.size() / 3;
      uint8_t component[3];
      for (size_t c = 0; c < 3; ++c) {
        const std::string_view part = digits.substr(c * length, length);
        component[c] = static_cast<uint8_t>(length == 1 ? HexValue(part) * 17 : HexValue(part.substr(0, 2)));
      }
      return Opaque(RGBColor(component[0], component[1], component[2]));
    }
    const uint64_t value = HexValue(digits.substr(0, std::min<size_t>(digits.size(), 16)));
    return 0xFF000000u | static_cast<uint32_t>(value & 0xFFFFFF);
  }
  size_t digitsStart = specification.size();
  while (digitsStart > 0 && specification[digitsStart - 1] >= '0' && specification[digitsStart - 1] <= '9')
    --digitsStart;
  if (digitsStart < specification.size()) {
    const std::string_view name = specification.substr(0, digitsStart);
    const int64_t d = Integers(specification.substr(digitsStart), 1).front();
    if (name == "grey" || name == "gray") {
      const auto level = static_cast<uint8_t>(std::min(RoundedRatio(std::min<int64_t>(d, 1000), 255, 100), 255));
      return Opaque(RGBColor(level, level, level));
    }
    const TColor color = NamedColor(name).value_or(0);
    if (d <= 1) return Opaque(color);
    if (d > 4) return Opaque(0);
    constexpr int Scale[] = {238, 205, 139};
    const int s = Scale[d - 2];
    return Opaque(RGBColor(static_cast<uint8_t>(RoundedRatio(GetRValue(color), s, 255)),
                           static_cast<uint8_t>(RoundedRatio(GetGValue(color), s, 255)),
                           static_cast<uint8_t>(RoundedRatio(GetBValue(color), s, 255))));
  }
  return Opaque(NamedColor(specification).value_or(0));
}

void TXPMImage::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadFileBytes(fileName)); }

void TXPMImage::LoadFromBytes(std::span<const uint8_t> bytes) {
  FBitmap = TBitmap();
  FBitmap.SetPixelFormat(pf32bit);
  FImageName.clear();
  const std::string_view raw = AsText(bytes);
  if (raw.starts_with("P7 332")) {
    LoadThumbnail(raw);
    return;
  }
  const std::string text = CleanText(raw);
  const std::string_view view(text);

  const size_t star = view.find('*');
  if (star != std::string_view::npos) {
    const size_t brackets = view.find("[]", star);
    if (brackets != std::string_view::npos) {
      std::string_view name = Trim(view.substr(star + 1, brackets - star - 1));
      if (name.ends_with("_xpm")) name.remove_suffix(4);
      FImageName = std::string(name);
    }
  }

  const size_t brace = view.find('{');
  if (brace == std::string_view::npos) InvalidData(1);
  size_t position = brace + 1;
  const std::optional<std::string_view> values = NextQuoted(view, position);
  if (!values) InvalidData(1);
  const std::vector<int64_t> numbers = Integers(*values, 4);
  if (numbers.size() < 4) InvalidData(2);
  const int64_t width = numbers[0], height = numbers[1], colors = numbers[2], keyLength = numbers[3];
  if (width <= 0 || width >= 65536 || height <= 0 || height >= 65536 || colors <= 0 || colors >= 16777215 ||
      keyLength < 0 || keyLength >= 5)
    InvalidData(2);
  // Refuse sizes far beyond what a text of this length can describe before allocating them.
  if (!PictureSizeAllowed(width, height) ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > CheckedMul(text.size(), 4))
    InvalidData(2);

  const auto k = static_cast<size_t>(keyLength);
  auto keyOf = [k](std::string_view line, size_t offset) {
    uint32_t key = 0;
    for (size_t i = 0; i < k; ++i)
      key = (key << 8) | (offset + i < line.size() ? static_cast<uint8_t>(line[offset + i]) : 0u);
    return key;
  };
  std::unordered_map<uint32_t, uint32_t> table;
  for (int64_t i = 0; i < colors; ++i) {
    const std::optional<std::string_view> line = NextQuoted(view, position);
    if (!line) break;
    const uint32_t key = keyOf(*line, 0);
    const std::string_view rest = line->substr(std::min(k, line->size()));
    // "c " counts only as a word of its own, not as the end of a symbolic name before it.
    size_t at = rest.find("c ");
    while (at != std::string_view::npos && at > 0 && rest[at - 1] != ' ') at = rest.find("c ", at + 1);
    if (at == std::string_view::npos) continue;
    std::string_view specification = rest.substr(at + 2);
    while (!specification.empty() && specification.front() == ' ') specification.remove_prefix(1);
    specification = specification.substr(0, specification.find(' '));
    std::string lower(specification);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    table[key] = XpmColorValue(lower);
  }

  FBitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
  std::memset(FBitmap.Bits(), 0, FBitmap.BitsSize());
  for (int y = 0; y < height; ++y) {
    const std::optional<std::string_view> row = NextQuoted(view, position);
    if (!row) break;
    for (int x = 0; x < width; ++x) {
      const size_t offset = static_cast<size_t>(x) * k;
      if (offset + k > row->size()) break;
      const auto found = table.find(keyOf(*row, offset));
      SetPixelValue(FBitmap, x, y, found == table.end() ? 0 : found->second);
    }
  }
}

void TXPMImage::LoadThumbnail(std::string_view text) {
  const std::string_view marker = "#END_OF_COMMENTS:";
  const size_t at = text.find(marker);
  if (at == std::string_view::npos) throw EReadError("#END_OF_COMMENTS: not found");
  size_t lineStart = text.find('\n', at);
  lineStart = lineStart == std::string_view::npos ? text.size() : lineStart + 1;
  size_t lineEnd = text.find('\n', lineStart);
  const size_t pixelStart = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
  if (lineEnd == std::string_view::npos) lineEnd = text.size();
  const std::vector<int64_t> numbers = Integers(text.substr(lineStart, lineEnd - lineStart), 3);
  if (numbers.size() < 3 || numbers[0] <= 0 || numbers[0] >= 65536 || numbers[1] <= 0 || numbers[1] >= 65536 ||
      numbers[2] <= 0 || numbers[2] >= 16777215)
    InvalidData(3);
  const int64_t width = numbers[0], height = numbers[1];
  // One byte a pixel: a picture far larger than the file is refused before it is allocated.
  if (!PictureSizeAllowed(width, height) ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > CheckedMul(text.size(), 4))
    InvalidData(3);

  FBitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
  std::memset(FBitmap.Bits(), 0, FBitmap.BitsSize());
  const std::span<const TRGBQuad> palette = StandardPalette16();
  size_t source = pixelStart;
  for (int y = 0; y < height && source < text.size(); ++y) {
    for (int x = 0; x < width && source < text.size(); ++x, ++source) {
      const auto b = static_cast<uint8_t>(text[source]);
      SetPixelValue(FBitmap, x, y, b == 224 ? 0xFFFF0000u : Opaque(QuadToColor(palette[b / 16])));
    }
  }
}

void TXBMImage::LoadFromFile(const std::string& fileName) {
  const std::string maskName = fileName + ".mask";
  std::error_code error;
  if (!std::filesystem::is_regular_file(maskName, error)) {
    LoadFromBytes(ReadFileBytes(fileName));
    return;
  }
  TBitmap mask = ReadXbm(ReadFileBytes(maskName));
  TBitmap picture = ReadXbm(ReadFileBytes(fileName));
  const int width = std::min(picture.Width(), mask.Width());
  const int height = std::min(picture.Height(), mask.Height());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (mask.GetIndex(x, y) == 1) picture.SetIndex(x, y, picture.GetIndex(x, y) == 0 ? 1 : 0);
  FBitmap = std::move(picture);
  FMask = std::move(mask);
  FHasMask = true;
}

void TXBMImage::LoadFromBytes(std::span<const uint8_t> bytes) {
  FBitmap = ReadXbm(bytes);
  FMask = TBitmap();
  FHasMask = false;
}

std::unique_ptr<TGraphic> LoadXpmGraphic(std::span<const uint8_t> bytes) {
  TXPMImage image;
  image.LoadFromBytes(bytes);
  return std::make_unique<TBitmapGraphic>(std::move(image.Bitmap()), true);
}

std::unique_ptr<TGraphic> LoadXbmGraphic(std::span<const uint8_t> bytes) {
  TXBMImage image;
  image.LoadFromBytes(bytes);
  return std::make_unique<TBitmapGraphic>(std::move(image.Bitmap()));
}

std::unique_ptr<TGraphic> LoadXbmGraphicFile(const std::string& fileName) {
  TXBMImage image;
  image.LoadFromFile(fileName);
  if (const TBitmap* mask = image.Mask()) {
    TBitmap maskCopy = *mask;
    return std::make_unique<TBitmapGraphic>(std::move(image.Bitmap()), std::move(maskCopy));
  }
  return std::make_unique<TBitmapGraphic>(std::move(image.Bitmap()));
}

}  // namespace glyphmill
