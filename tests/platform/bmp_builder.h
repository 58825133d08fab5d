// Builds BMP files byte by byte for the tests, so every header variant can be made on the spot.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace glyphmill::test {

struct TBmpBuild {
  uint32_t HeaderSize = 40;  // 12 (core), 40, 52, 56, 108, 124 ...
  int32_t Width = 0;
  int32_t Height = 0;  // negative: rows written top-down
  int Bits = 24;
  uint32_t Compression = 0;
  uint32_t ImageSize = 0;  // written as it is (0 allowed)
  uint32_t ColorsUsed = 0;
  std::vector<uint32_t> Masks;    // in the header when it is long enough, else after it
  std::vector<uint32_t> Palette;  // 0x00RRGGBB entries, written as 4 bytes (3 for a core header)
  uint32_t Gap = 0;               // bytes between the colour table and the pixels (PixelOffset follows)
  // Rows top-down, one value per pixel (palette index or raw pixel value), packed by the builder.
  std::vector<std::vector<uint32_t>> Rows;
  // Used instead of Rows when not empty (RLE data, or rows that were packed by hand).
  std::vector<uint8_t> RawPixels;
  std::vector<uint8_t> Trailer;  // appended after the pixels
};

inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The packed, padded pixel rows in file order.
inline std::vector<uint8_t> PackRows(const TBmpBuild& b) {
  std::vector<uint8_t> out;
  const size_t width = b.Width > 0 ? static_cast<size_t>(b.Width) : 0;
  const size_t rowBytes = (width * b.Bits + 31) / 32 * 4;
  const size_t count = b.Rows.size();
  for (size_t i = 0; i < count; ++i) {
    const std::vector<uint32_t>& row = b.Height < 0 ? b.Rows[i] : b.Rows[count - 1 - i];
    std::vector<uint8_t> bytes(rowBytes, 0);
    for (size_t x = 0; x < std::min(row.size(), width); ++x) {
      const uint32_t v = row[x];
      if (b.Bits < 8) {
        const size_t bit = x * b.Bits;
        for (int k = 0; k < b.Bits; ++k)
          if ((v >> (b.Bits - 1 - k)) & 1) bytes[(bit + k) / 8] |= static_cast<uint8_t>(0x80 >> ((bit + k) % 8));
      } else {
        for (int k = 0; k < b.Bits / 8; ++k) bytes[x * (b.Bits / 8) + k] = static_cast<uint8_t>(v >> (8 * k));
      }
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

inline std::vector<uint8_t> MakeBmp(const TBmpBuild& b) {
  const bool core = b.HeaderSize == 12;
  const size_t masksInHeader = b.HeaderSize >= 56 ? 4 : b.HeaderSize >= 52 ? 3 : 0;
  const size_t trailingMasks = b.Masks.size() > masksInHeader ? b.Masks.size() - masksInHeader : 0;
  const uint32_t tableBytes = static_cast<uint32_t>(b.Palette.size() * (core ? 3 : 4));
  const uint32_t offset = 14 + b.HeaderSize + static_cast<uint32_t>(trailingMasks * 4) + tableBytes + b.Gap;
  const std::vector<uint8_t> pixels = b.RawPixels.empty() ? PackRows(b) : b.RawPixels;
  std::vector<uint8_t> out = {'B', 'M'};
  Put32(out, offset + static_cast<uint32_t>(pixels.size() + b.Trailer.size()));
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, b.HeaderSize);
  if (core) {
    Put16(out, static_cast<uint32_t>(b.Width));
    Put16(out, static_cast<uint32_t>(b.Height));
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(b.Bits));
  } else {
    std::vector<uint8_t> fields;
    Put32(fields, static_cast<uint32_t>(b.Width));
    Put32(fields, static_cast<uint32_t>(b.Height));
    Put16(fields, 1);
    Put16(fields, static_cast<uint32_t>(b.Bits));
    Put32(fields, b.Compression);
    Put32(fields, b.ImageSize);
    Put32(fields, 2835);
    Put32(fields, 2835);
    Put32(fields, b.ColorsUsed);
    Put32(fields, 0);
    for (size_t i = 0; i < masksInHeader; ++i) Put32(fields, i < b.Masks.size() ? b.Masks[i] : 0);
    fields.resize(b.HeaderSize - 4, 0);
    out.insert(out.end(), fields.begin(), fields.end());
    for (size_t i = masksInHeader; i < b.Masks.size(); ++i) Put32(out, b.Masks[i]);
  }
  for (uint32_t entry : b.Palette) {
    out.push_back(static_cast<uint8_t>(entry));
    out.push_back(static_cast<uint8_t>(entry >> 8));
    out.push_back(static_cast<uint8_t>(entry >> 16));
    if (!core) out.push_back(0);
  }
  out.resize(out.size() + b.Gap, 0xEE);
  out.insert(out.end(), pixels.begin(), pixels.end());
  out.insert(out.end(), b.Trailer.begin(), b.Trailer.end());
  return out;
}

}  // namespace glyphmill::test
