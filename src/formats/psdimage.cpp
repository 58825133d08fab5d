#include "formats/psdimage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

constexpr const char* ReadErrorMessage = "Stream read error";

// Two bytes of PackBits give at most 128, so n encoded bytes never fill more than 64 n.
constexpr size_t PackBitsExpansion = 64;

[[noreturn]] void InvalidFormat() { throw EReadError("Invalid stream format"); }

uint8_t Clamp255(double value) { return static_cast<uint8_t>(std::clamp(value, 0.0, 255.0)); }
uint8_t Clamp255(int64_t value) { return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255)); }

// 64-bit a × b / c rounded to the nearest integer (operands are never negative here).
int64_t MulDiv(int64_t a, int64_t b, int64_t c) { return (a * b + c / 2) / c; }

bool IsSingleChannelMode(uint16_t mode) {
  return mode == psdBitmap || mode == psdGrayscale || mode == psdIndexed || mode == psdDuotone;
}

bool IsPlaneMode(uint16_t mode) { return mode == psdRGB || mode == psdCMYK || mode == psdLab; }

bool DepthSupported(uint16_t mode, uint16_t depth) {
  if (mode == psdBitmap) return depth == 1;
  if (mode == psdIndexed) return depth == 8;
  if (IsSingleChannelMode(mode) || IsPlaneMode(mode)) return depth == 8 || depth == 16;
  return true;
}

// The encoded rows of the first channels of the merged image: channel c's row y is
// FRows[c × height + y], raw rows of exactly the row length or PackBits rows of their count.
struct TCompositeRows {
  bool FPackBits = false;
  std::vector<std::span<const uint8_t>> FRows;

  void DecodeRow(size_t index, std::span<uint8_t> target) const {
    if (index >= FRows.size()) return;
    if (FPackBits) {
      TPackbitsRLE::Decode(FRows[index], target);
    } else {
      const size_t count = std::min(target.size(), FRows[index].size());
      if (count > 0) std::memcpy(target.data(), FRows[index].data(), count);
    }
  }
};

// Reads the compression, the row counts and the rows of the first `used` channels, refusing data
// that cannot fill them before anything of their size is allocated.
TCompositeRows ReadCompositeRows(TByteReader& reader, size_t channels, size_t used, size_t height, size_t rowBytes) {
  TCompositeRows result;
  result.FPackBits = reader.U16BE() == 1;
  const size_t rowCount = CheckedMul(height, used);
  const size_t needed = CheckedMul(rowCount, rowBytes);
  if (result.FPackBits) {
    const std::span<const uint8_t> counts = reader.Take(CheckedMul(CheckedMul(height, channels), 2));
    size_t total = 0;
    for (size_t i = 0; i < rowCount; ++i) total += LoadU16BE(counts.data() + 2 * i);
    if (needed > CheckedMul(total, PackBitsExpansion) || total > reader.Remaining()) reader.Fail();
    result.FRows.reserve(rowCount);
    for (size_t i = 0; i < rowCount; ++i) result.FRows.push_back(reader.Take(LoadU16BE(counts.data() + 2 * i)));
  } else {
    if (needed > reader.Remaining()) reader.Fail();
    result.FRows.reserve(rowCount);
    for (size_t i = 0; i < rowCount; ++i) result.FRows.push_back(reader.Take(rowBytes));
  }
  return result;
}

TPSDLayer ReadLayerRecord(TByteReader& reader) {
  TPSDLayer layer;
  layer.FTop = reader.I32BE();
  layer.FLeft = reader.I32BE();
  layer.FBottom = reader.I32BE();
  layer.FRight = reader.I32BE();
  layer.FChannelCount = reader.U16BE();
  for (int i = 0; i < layer.FChannelCount; ++i) {
    TPSDChannelInfo info;
    info.FId = reader.I16BE();
    info.FLength = reader.U32BE();
    layer.FChannelInfo.push_back(info);
  }
  const std::span<const uint8_t> signature = reader.Take(4);
  if (std::memcmp(signature.data(), "8BIM", 4) != 0) InvalidFormat();
  const std::span<const uint8_t> blendMode = reader.Take(4);
  std::memcpy(layer.FBlendModeKey.data(), blendMode.data(), 4);
  layer.FOpacity = reader.U8();
  layer.FClipping = reader.U8();
  layer.FFlags = reader.U8();
  reader.U8();
  const std::span<const uint8_t> extra = reader.Take(reader.U32BE());
  layer.FExtraData.assign(extra.begin(), extra.end());
  return layer;
}

// One channel of a layer from the view of its data. The pixels take no part in the picture, so
// data that cannot fill the rectangle leaves the channel empty instead of failing the document.
std::vector<uint8_t> ReadLayerChannel(TByteReader& data, int64_t width, int64_t height) {
  std::vector<uint8_t> pixels;
  if (width <= 0 || height <= 0 || !PictureSizeAllowed(width, height) || data.Remaining() < 2) return pixels;
  const size_t rowBytes = static_cast<size_t>(width);
  const size_t size = rowBytes * static_cast<size_t>(height);
  if (size > CheckedMul(data.Remaining(), PackBitsExpansion)) return pixels;
  if (data.U16BE() == 1) {
    const size_t countBytes = CheckedMul(static_cast<size_t>(height), 2);
    if (countBytes > data.Remaining()) return pixels;
    const std::span<const uint8_t> counts = data.Take(countBytes);
    pixels.resize(size);
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
      const size_t count = std::min<size_t>(LoadU16BE(counts.data() + 2 * y), data.Remaining());
      TPackbitsRLE::Decode(data.Take(count), std::span(pixels).subspan(y * rowBytes, rowBytes));
    }
  } else {
    pixels.resize(size);
    const size_t count = std::min(size, data.Remaining());
    if (count > 0) std::memcpy(pixels.data(), data.Take(count).data(), count);
  }
  return pixels;
}

}  // namespace

size_t TPackbitsRLE::Decode(std::span<const uint8_t> source, std::span<uint8_t> target) {
  size_t in = 0;
  size_t out = 0;
  while (in < source.size() && out < target.size()) {
    const int header = static_cast<int8_t>(source[in++]);
    if (header >= 0) {
      const size_t count = std::min({static_cast<size_t>(header) + 1, source.size() - in, target.size() - out});
      std::memcpy(target.data() + out, source.data() + in, count);
      in += static_cast<size_t>(header) + 1;
      out += count;
    } else if (header != -128) {
      if (in >= source.size()) break;
      const size_t count = std::min(static_cast<size_t>(1 - header), target.size() - out);
      std::memset(target.data() + out, source[in++], count);
      out += count;
    }
  }
  return out;
}

void TPSDImage::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadFileBytes(fileName)); }

void TPSDImage::LoadFromBytes(std::span<const uint8_t> bytes) {
  FHeader = TPSDHeader();
  FPaletteArea.fill(0);
  FLayers.clear();
  FBitmap = TBitmap();

  TByteReader reader(bytes, ReadErrorMessage);
  const std::span<const uint8_t> header = reader.Take(26);
  std::memcpy(FHeader.FSignature.data(), header.data(), 4);
  if (std::memcmp(FHeader.FSignature.data(), "8BPS", 4) != 0) InvalidFormat();
  FHeader.FVersion = LoadU16BE(header.data() + 4);
  std::memcpy(FHeader.FReserved.data(), header.data() + 6, 6);
  FHeader.FChannels = LoadU16BE(header.data() + 12);
  FHeader.FHeight = LoadU32BE(header.data() + 14);
  FHeader.FWidth = LoadU32BE(header.data() + 18);
  FHeader.FDepth = LoadU16BE(header.data() + 22);
  FHeader.FMode = LoadU16BE(header.data() + 24);
  if (!DepthSupported(FHeader.FMode, FHeader.FDepth))
    throw EReadError(Format("Unsupported PSD depth (%d bits)", FHeader.FDepth));
  CheckPictureSize(FHeader.FWidth, FHeader.FHeight);

  const std::span<const uint8_t> modeData = reader.Take(reader.U32BE());
  if (FHeader.FMode == psdIndexed)
    std::memcpy(FPaletteArea.data(), modeData.data(), std::min(modeData.size(), FPaletteArea.size()));
  reader.Skip(reader.U32BE());
  ReadLayers(reader);
  ReadComposite(reader);
}

void TPSDImage::ReadLayers(TByteReader& reader) {
  const uint32_t length = reader.U32BE();
  if (length == 0) return;
  TByteReader section = reader.Sub(reader.Offset(), length);
  reader.Skip(length);

  if (section.U32BE() == 0) return;
  const int count = std::abs(static_cast<int>(section.I16BE()));
  for (int i = 0; i < count && !section.AtEnd(); ++i) FLayers.push_back(ReadLayerRecord(section));

  for (TPSDLayer& layer : FLayers) {
    const int64_t width = static_cast<int64_t>(layer.FRight) - layer.FLeft;
    const int64_t height = static_cast<int64_t>(layer.FBottom) - layer.FTop;
    layer.FChannelData.resize(layer.FChannelCount);
    for (size_t c = 0; c < layer.FChannelInfo.size(); ++c) {
      const size_t start = section.Offset();
      const size_t declared = layer.FChannelInfo[c].FLength;
      const size_t length = declared == 0 ? section.Remaining() : std::min(declared, section.Remaining());
      TByteReader data = section.Sub(start, length);
      layer.FChannelData[c] = ReadLayerChannel(data, width, height);
      section.Seek(start + (declared != 0 ? length : data.Offset()));
    }
  }
}

void TPSDImage::ReadComposite(TByteReader& reader) {
  const uint16_t mode = FHeader.FMode;
  const size_t width = FHeader.FWidth;
  const size_t height = FHeader.FHeight;
  const size_t channels = FHeader.FChannels;

  TPixelFormat format = pfDevice;
  if (mode == psdBitmap)
    format = pf1bit;
  else if (IsSingleChannelMode(mode))
    format = pf8bit;
  else if (mode == psdRGB && channels >= 4)
    format = pf32bit;
  else if (IsPlaneMode(mode))
    format = pf24bit;

  const bool empty = width == 0 || height == 0;
  if (!empty && channels == 0) InvalidFormat();
  if (!empty && !(IsSingleChannelMode(mode) || IsPlaneMode(mode))) {
    // No pixels of this mode are read, but the data must still justify the picture's size.
    ReadCompositeRows(reader, channels, 1, height, (width * std::max<size_t>(FHeader.FDepth, 1) + 7) / 8);
  }

  FBitmap.SetPixelFormat(format);
  if (format == pf1bit) {
    const TRGBQuad palette[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    FBitmap.SetPalette(palette);
  } else if (format == pf8bit) {
    std::vector<TRGBQuad> palette(256);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      palette[i] = mode == psdIndexed ? TRGBQuad{FPaletteArea[512 + i], FPaletteArea[256 + i], FPaletteArea[i], 0}
                                      : TRGBQuad{v, v, v, 0};
    }
    FBitmap.SetPalette(palette);
  }
  if (empty || !(IsSingleChannelMode(mode) || IsPlaneMode(mode))) {
    if (!empty) FBitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
    return;
  }

  const size_t sampleBytes = FHeader.FDepth / 8;
  if (IsSingleChannelMode(mode)) {
    const size_t rowBytes = (width * FHeader.FDepth + 7) / 8;
    const TCompositeRows rows = ReadCompositeRows(reader, channels, 1, height, rowBytes);
    FBitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
    std::vector<uint8_t> row(rowBytes);
    for (size_t y = 0; y < height; ++y) {
      std::fill(row.begin(), row.end(), 0);
      rows.DecodeRow(y, row);
      uint8_t* target = FBitmap.ScanLine(static_cast<int>(y));
      if (FHeader.FDepth == 16) {
        for (size_t x = 0; x < width; ++x) target[x] = row[2 * x];
      } else {
        std::memcpy(target, row.data(), rowBytes);
      }
    }
    return;
  }

  const size_t wanted = mode == psdLab ? 3 : (mode == psdCMYK || channels >= 4) ? 4 : 3;
  const size_t rowBytes = width * sampleBytes;
  const TCompositeRows rows = ReadCompositeRows(reader, channels, std::min(channels, wanted), height, rowBytes);
  const size_t planeSize = rowBytes * height;
  std::vector<uint8_t> planes(CheckedMul(planeSize, wanted));
  for (size_t c = 0; c < std::min(channels, wanted); ++c)
    for (size_t y = 0; y < height; ++y)
      rows.DecodeRow(c * height + y, std::span(planes).subspan(c * planeSize + y * rowBytes, rowBytes));

  FBitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
  const uint8_t* plane[4] = {planes.data(), planes.data() + planeSize, planes.data() + 2 * planeSize,
                             wanted == 4 ? planes.data() + 3 * planeSize : nullptr};
  const size_t pixelBytes = format == pf32bit ? 4 : 3;

  if (mode == psdCMYK) {
    // Stored values are ink-inverted: 255 means no ink.
    for (uint8_t& v : planes) v = static_cast<uint8_t>(255 - v);
  } else if (mode == psdLab) {
    for (size_t i = planeSize; i < 3 * planeSize; ++i) planes[i] = static_cast<uint8_t>(planes[i] - 128);
  }

  for (size_t y = 0; y < height; ++y) {
    uint8_t* target = FBitmap.ScanLine(static_cast<int>(y));
    for (size_t x = 0; x < width; ++x, target += pixelBytes) {
      const size_t at = y * rowBytes + x * sampleBytes;
      if (mode == psdRGB) {
        target[0] = plane[2][at];
        target[1] = plane[1][at];
        target[2] = plane[0][at];
        if (pixelBytes == 4) target[3] = plane[3][at];
      } else if (mode == psdCMYK) {
        for (int component = 0; component < 3; ++component) {
          uint8_t value;
          if (sampleBytes == 1) {
            const int64_t c = plane[component][at];
            const int64_t k = plane[3][at];
            value = Clamp255(MulDiv(c, k, 255) - c - k + 255);
          } else {
            const int64_t c = LoadU16BE(plane[component] + at);
            const int64_t k = LoadU16BE(plane[3] + at);
            value = Clamp255(255 - ((c + k - MulDiv(c, k, 65535)) >> 8));
          }
          target[2 - component] = value;
        }
      } else {
        const double l = plane[0][at] / 2.55;
        const double a = static_cast<int8_t>(plane[1][at]);
        const double b = static_cast<int8_t>(plane[2][at]);
        const double fy = (l + 16) / 116;
        double cx, cy, cz;
        if (l < 7.9996) {
          cy = l / 903.3;
          cx = cy + a / 3893.5;
          cz = cy - b / 1557.4;
        } else {
          cx = std::pow(fy + a / 500, 3);
          cy = fy * fy * fy;
          cz = std::pow(fy - b / 200, 3);
        }
        target[2] = Clamp255(std::nearbyint(255 * (2.998 * cx - 1.458 * cy - 0.541 * cz)));
        target[1] = Clamp255(std::nearbyint(255 * (-0.952 * cx + 1.893 * cy + 0.059 * cz)));
        target[0] = Clamp255(std::nearbyint(255 * (0.099 * cx - 0.198 * cy + 1.099 * cz)));
      }
    }
  }
}

std::unique_ptr<TGraphic> LoadPsdGraphic(std::span<const uint8_t> bytes) {
  TPSDImage image;
  image.LoadFromBytes(bytes);
  const bool alpha = image.Bitmap().PixelFormat() == pf32bit;
  return std::make_unique<TBitmapGraphic>(std::move(image.Bitmap()), alpha);
}

}  // namespace glyphmill
