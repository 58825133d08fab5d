#include <algorithm>
#include <cstring>

#include "platform/bitmap.h"
#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

constexpr const char* InvalidBitmap = "Bitmap image is not valid";

[[noreturn]] void Invalid() { throw EReadError(InvalidBitmap); }

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

constexpr size_t FileHeaderSize = 14;
constexpr size_t CoreHeaderSize = 12;
constexpr size_t InfoHeaderSize = 40;

struct TDibHeader {
  size_t HeaderSize = 0;
  uint32_t PixelOffset = 0;
  int64_t Width = 0;
  int64_t Height = 0;  // negative: rows stored top-down
  int Bits = 0;
  uint32_t Compression = BI_RGB;
  uint32_t ImageSize = 0;
  uint32_t ColorsUsed = 0;
  uint32_t Masks[4] = {};  // red, green, blue, alpha
  bool Core = false;
};

// One channel of a bit-field pixel: where it sits and how to scale it to a byte.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  uint32_t Max = 0;

  explicit TChannel(uint32_t mask) : Mask(mask) {
    if (mask == 0) return;
    Shift = __builtin_ctz(mask);
    Max = mask >> Shift;
  }
  uint8_t Extract(uint32_t pixel) const {
    if (Max == 0) return 0;
    const uint64_t v = (pixel & Mask) >> Shift;
    return static_cast<uint8_t>((v * 255 + Max / 2) / Max);
  }
};

// The decoded picture before it replaces the bitmap's contents.
struct TDecoded {
  TPixelFormat Format = pfDevice;
  int Width = 0;
  int Height = 0;
  std::vector<TRGBQuad> Palette;
  std::vector<uint8_t> Bits;  // DIB memory, bottom row first
  size_t End = 0;             // offset just after the pixel data that was used
};

TDibHeader ReadHeader(TByteReader& reader) {
  TDibHeader header;
  if (reader.U8() != 'B' || reader.U8() != 'M') Invalid();
  reader.Skip(8);
  header.PixelOffset = reader.U32LE();
  header.HeaderSize = reader.U32LE();
  if (header.HeaderSize == CoreHeaderSize) {
    header.Core = true;
    header.Width = reader.U16LE();
    header.Height = reader.U16LE();
    reader.Skip(2);
    header.Bits = reader.U16LE();
    return header;
  }
  if (header.HeaderSize < 16 || !reader.Contains(reader.Offset(), header.HeaderSize - 4)) Invalid();
  const std::span<const uint8_t> fields = reader.Take(header.HeaderSize - 4);
  // Headers shorter than the full info header leave their missing fields 0.
  auto field32 = [&](size_t offset) -> uint32_t {
    return offset + 4 <= fields.size() ? LoadU32LE(&fields[offset]) : 0;
  };
  header.Width = static_cast<int32_t>(field32(0));
  header.Height = static_cast<int32_t>(field32(4));
  header.Bits = LoadU16LE(&fields[10]);
  header.Compression = field32(12);
  header.ImageSize = field32(16);
  header.ColorsUsed = field32(28);
  for (int i = 0; i < 4; ++i) header.Masks[i] = field32(36 + 4 * static_cast<size_t>(i));
  // OS/2 2.x headers number their own compressions (Huffman 1D, RLE24); neither is read.
  const bool os2Header = (header.HeaderSize != InfoHeaderSize && header.HeaderSize < 52) || header.HeaderSize == 64;
  if (os2Header && header.Compression != BI_RGB && header.Compression != BI_RLE8 && header.Compression != BI_RLE4)
    Invalid();
  return header;
}

// Bit-field masks that follow a header too short to hold them.
void ReadTrailingMasks(TByteReader& reader, TDibHeader& header) {
  const size_t inHeader = header.HeaderSize >= 56 ? 4 : header.HeaderSize >= 52 ? 3 : 0;
  const size_t wanted = header.Compression == BI_ALPHABITFIELDS ? 4 : 3;
  for (size_t i = inHeader; i < wanted; ++i) header.Masks[i] = reader.U32LE();
}

void Validate(const TDibHeader& header) {
  if (header.Width <= 0 || header.Height == 0 || header.Height == INT32_MIN) Invalid();
  switch (header.Compression) {
    case BI_RGB:
      if (header.Bits != 1 && header.Bits != 2 && header.Bits != 4 && header.Bits != 8 && header.Bits != 16 &&
          header.Bits != 24 && header.Bits != 32)
        Invalid();
      break;
    case BI_RLE8:
      if (header.Bits != 8 || header.Height < 0) Invalid();
      break;
    case BI_RLE4:
      if (header.Bits != 4 || header.Height < 0) Invalid();
      break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      if (header.Bits != 16 && header.Bits != 32) Invalid();
      break;
    default: Invalid();
  }
}

std::vector<TRGBQuad> ReadPalette(TByteReader& reader, size_t entries, size_t entrySize, size_t kept) {
  if (!reader.Contains(reader.Offset(), entries * entrySize)) Invalid();
  std::vector<TRGBQuad> palette(kept);
  for (size_t i = 0; i < entries; ++i) {
    const std::span<const uint8_t> entry = reader.Take(entrySize);
    if (i < kept) palette[i] = TRGBQuad{entry[0], entry[1], entry[2], 0};
  }
  return palette;
}

void StoreIndex(uint8_t* row, int x, int bits, int index) {
  if (bits == 8) {
    row[x] = static_cast<uint8_t>(index);
  } else if (x & 1) {
    row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (index & 0x0F));
  } else {
    row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
  }
}

// Decodes RLE8/RLE4 data into zeroed DIB memory. Pixels the data skips keep index 0; runs past the
// right edge are cut off; data that ends without an end-of-bitmap code keeps what was decoded.
size_t DecodeRle(std::span<const uint8_t> data, int bits, int width, int height, std::vector<uint8_t>& target) {
  const size_t rowBytes = static_cast<size_t>(RowBytes(width, bits));
  size_t pos = 0;
  int x = 0;
  int y = 0;
  auto put = [&](int index) {
    if (x >= width) return;
    StoreIndex(target.data() + static_cast<size_t>(y) * rowBytes, x, bits, index);
    ++x;
  };
  while (y < height && pos + 2 <= data.size()) {
    const int count = data[pos];
    const int value = data[pos + 1];
    pos += 2;
    if (count > 0) {
      const int run = std::min(count, std::max(width - x, 0));
      for (int i = 0; i < run; ++i) put(bits == 8 ? value : (i & 1) ? (value & 0x0F) : (value >> 4));
      continue;
    }
    if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (pos + 2 > data.size()) break;
      x = std::min(x + data[pos], width);
      y += data[pos + 1];
      pos += 2;
    } else {
      const size_t bytes = bits == 8 ? static_cast<size_t>(value) : (static_cast<size_t>(value) + 1) / 2;
      const size_t padded = (bytes + 1) & ~size_t{1};
      if (pos + bytes > data.size()) break;
      for (int i = 0; i < value; ++i) {
        const uint8_t b = data[pos + (bits == 8 ? static_cast<size_t>(i) : static_cast<size_t>(i) / 2)];
        put(bits == 8 ? b : (i & 1) ? (b & 0x0F) : (b >> 4));
      }
      pos = std::min(pos + padded, data.size());
    }
  }
  return pos;
}

TPixelFormat TargetFormat(const TDibHeader& header) {
  switch (header.Bits) {
    case 1: return pf1bit;
    case 2:
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 24: return pf24bit;
    default: break;
  }
  const uint32_t* m = header.Masks;
  if (header.Bits == 16) {
    if (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F && m[3] == 0) return pf15bit;
    if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F && m[3] == 0) return pf16bit;
  } else if (m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF && (m[3] == 0 || m[3] == 0xFF000000)) {
    return pf32bit;
  }
  return m[3] != 0 ? pf32bit : pf24bit;
}

// Whether the pixel bytes of this header are the target format's bytes unchanged.
bool DirectCopy(const TDibHeader& header, TPixelFormat format) {
  if (header.Bits == 2) return false;
  if (header.Bits != 16 && header.Bits != 32) return true;
  const uint32_t* m = header.Masks;
  if (format == pf15bit || format == pf16bit) return true;
  return header.Bits == 32 && m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF;
}

// Converts one stored row that is not a direct copy (2-bit indexes, or foreign bit fields).
void ConvertRow(const uint8_t* source, uint8_t* target, const TDibHeader& header, TPixelFormat format, int width,
                const TChannel (&channels)[4]) {
  if (header.Bits == 2) {
    for (int x = 0; x < width; ++x) StoreIndex(target, x, 4, (source[x >> 2] >> (6 - 2 * (x & 3))) & 3);
    return;
  }
  const int bytesPerPixel = format == pf32bit ? 4 : 3;
  for (int x = 0; x < width; ++x) {
    const uint32_t pixel = header.Bits == 16 ? LoadU16LE(source + 2 * x) : LoadU32LE(source + 4 * x);
    uint8_t* p = target + bytesPerPixel * x;
    p[0] = channels[2].Extract(pixel);
    p[1] = channels[1].Extract(pixel);
    p[2] = channels[0].Extract(pixel);
    if (bytesPerPixel == 4) p[3] = channels[3].Extract(pixel);
  }
}

TDecoded DecodeBmp(std::span<const uint8_t> data) {
  TByteReader reader(data, InvalidBitmap);
  TDibHeader header = ReadHeader(reader);
  Validate(header);
  if (header.Compression == BI_BITFIELDS || header.Compression == BI_ALPHABITFIELDS) {
    ReadTrailingMasks(reader, header);
  } else if (header.Bits == 16) {
    header.Masks[0] = 0x7C00;
    header.Masks[1] = 0x03E0;
    header.Masks[2] = 0x001F;
    header.Masks[3] = 0;
  } else if (header.Bits == 32) {
    header.Masks[0] = 0xFF0000;
    header.Masks[1] = 0xFF00;
    header.Masks[2] = 0xFF;
    header.Masks[3] = 0xFF000000;
  }
  const size_t tableStart = reader.Offset();
  // A sane pixel offset also tells how long a short colour table is; a broken one is ignored.
  const bool offsetUsable = header.PixelOffset >= tableStart && header.PixelOffset <= data.size();

  TDecoded result;
  result.Format = TargetFormat(header);
  result.Width = static_cast<int>(header.Width);
  const int64_t height = header.Height < 0 ? -header.Height : header.Height;

  const size_t entrySize = header.Core ? 3 : 4;
  size_t entries = header.Core ? 0 : header.ColorsUsed;
  if (header.Bits <= 8) {
    const size_t full = size_t{1} << header.Bits;
    if (entries == 0) {
      entries = full;
      if (offsetUsable && header.PixelOffset > tableStart)
        entries = std::min(entries, (header.PixelOffset - tableStart) / entrySize);
    }
    result.Palette = ReadPalette(reader, std::min(entries, full), entrySize, std::min(entries, full));
    if (entries > full && reader.Contains(reader.Offset(), (entries - full) * entrySize))
      reader.Skip((entries - full) * entrySize);
  } else if (entries > 0 && reader.Contains(reader.Offset(), entries * entrySize)) {
    reader.Skip(entries * entrySize);
  }
  const size_t pixelStart = offsetUsable ? header.PixelOffset : reader.Offset();
  const size_t available = data.size() - std::min(pixelStart, data.size());

  const int targetBits = StorageBitsOfFormat(result.Format);
  if (header.Compression == BI_RLE8 || header.Compression == BI_RLE4) {
    CheckPictureSize(header.Width, height);
    result.Height = static_cast<int>(height);
    const size_t rowBytes = static_cast<size_t>(RowBytes(result.Width, targetBits));
    result.Bits.assign(CheckedMul(rowBytes, static_cast<size_t>(height)), 0);
    size_t length = available;
    if (header.ImageSize != 0) length = std::min<size_t>(length, header.ImageSize);
    const std::span<const uint8_t> rle = data.subspan(pixelStart, length);
    const size_t used = DecodeRle(rle, header.Bits, result.Width, result.Height, result.Bits);
    result.End = pixelStart + used;
    return result;
  }

  const size_t sourceRowBytes = static_cast<size_t>((header.Width * header.Bits + 31) / 32 * 4);
  if (static_cast<uint64_t>(height) > available / sourceRowBytes) Invalid();
  CheckPictureSize(header.Width, height);
  result.Height = static_cast<int>(height);
  const size_t targetRowBytes = static_cast<size_t>(RowBytes(result.Width, targetBits));
  result.Bits.assign(targetRowBytes * static_cast<size_t>(height), 0);
  const bool topDown = header.Height < 0;
  const bool direct = DirectCopy(header, result.Format);
  const TChannel channels[4] = {TChannel(header.Masks[0]), TChannel(header.Masks[1]), TChannel(header.Masks[2]),
                                TChannel(header.Masks[3])};
  for (int64_t row = 0; row < height; ++row) {
    const uint8_t* source = data.data() + pixelStart + static_cast<size_t>(row) * sourceRowBytes;
    const int64_t memoryRow = topDown ? height - 1 - row : row;
    uint8_t* target = result.Bits.data() + static_cast<size_t>(memoryRow) * targetRowBytes;
    if (direct)
      std::memcpy(target, source, targetRowBytes);
    else
      ConvertRow(source, target, header, result.Format, result.Width, channels);
  }
  result.End = pixelStart + static_cast<size_t>(height) * sourceRowBytes;
  return result;
}

}  // namespace

void TBitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  const int64_t size = stream.Size();
  if (start < 0 || start >= size) Invalid();
  std::vector<uint8_t> data(static_cast<size_t>(size - start));
  if (stream.Read(data.data(), static_cast<int64_t>(data.size())) != static_cast<int64_t>(data.size())) Invalid();
  TDecoded decoded = DecodeBmp(data);
  FFormat = decoded.Format;
  FWidth = decoded.Width;
  FHeight = decoded.Height;
  FBits = std::move(decoded.Bits);
  FPalette.clear();
  if (PaletteCapacity() > 0) SetPalette(decoded.Palette);
  stream.SetPosition(start + static_cast<int64_t>(decoded.End));
}

void TBitmap::SaveToStream(TStream& stream) const {
  if (Empty()) return;
  const int bits = StorageBits();
  const bool bitFields = FFormat == pf16bit;
  const uint32_t tableBytes = static_cast<uint32_t>(FPalette.size() * 4) + (bitFields ? 12 : 0);
  const uint32_t offset = static_cast<uint32_t>(FileHeaderSize + InfoHeaderSize) + tableBytes;
  const uint32_t imageSize = static_cast<uint32_t>(FBits.size());
  stream.WriteU8('B');
  stream.WriteU8('M');
  stream.WriteU32LE(offset + imageSize);
  stream.WriteU32LE(0);
  stream.WriteU32LE(offset);
  stream.WriteU32LE(InfoHeaderSize);
  stream.WriteI32LE(FWidth);
  stream.WriteI32LE(FHeight);
  stream.WriteU16LE(1);
  stream.WriteU16LE(static_cast<uint16_t>(bits));
  stream.WriteU32LE(bitFields ? BI_BITFIELDS : BI_RGB);
  stream.WriteU32LE(imageSize);
  stream.WriteU32LE(0);
  stream.WriteU32LE(0);
  stream.WriteU32LE(0);
  stream.WriteU32LE(0);
  if (bitFields) {
    stream.WriteU32LE(0xF800);
    stream.WriteU32LE(0x07E0);
    stream.WriteU32LE(0x001F);
  }
  for (const TRGBQuad& entry : FPalette) {
    const uint8_t quad[4] = {entry.Blue, entry.Green, entry.Red, 0};
    stream.WriteBuffer(quad, 4);
  }
  stream.WriteBuffer(FBits.data(), static_cast<int64_t>(FBits.size()));
}

}  // namespace glyphmill
