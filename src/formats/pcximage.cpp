#include "formats/pcximage.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/colorreduction.h"
#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

constexpr size_t HeaderSize = 128;
constexpr size_t PaletteBlockSize = 769;
// Two bytes of run-length data give at most 63 bytes, so one data byte describes at most
// 8 × 63 / 2 = 252 bits of pixels.
constexpr size_t MaxBitsPerDataByte = 252;

std::vector<TRGBQuad> GreyPalette(int count) {
  std::vector<TRGBQuad> palette(count);
  const int step = 255 / (count - 1);
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * step);
    palette[i] = TRGBQuad{v, v, v, 0};
  }
  return palette;
}

std::vector<TRGBQuad> TriplePalette(std::span<const uint8_t> triples) {
  std::vector<TRGBQuad> palette(triples.size() / 3);
  for (size_t i = 0; i < palette.size(); ++i)
    palette[i] = TRGBQuad{triples[3 * i + 2], triples[3 * i + 1], triples[3 * i], 0};
  return palette;
}

uint8_t SampleAt(std::span<const uint8_t> plane, size_t index) { return index < plane.size() ? plane[index] : 0; }

}  // namespace

size_t TPCXRLEDecoder::Decode(std::span<uint8_t> target) {
  size_t out = 0;
  while (out < target.size()) {
    if (FPendingCount > 0) {
      const size_t count = std::min(FPendingCount, target.size() - out);
      std::memset(target.data() + out, FPendingValue, count);
      out += count;
      FPendingCount -= count;
      continue;
    }
    if (FPosition >= FSource.size()) break;
    const uint8_t byte = FSource[FPosition++];
    if (byte >= 192) {
      if (FPosition >= FSource.size()) break;
      FPendingCount = byte & 0x3F;
      FPendingValue = FSource[FPosition++];
    } else {
      target[out++] = byte;
    }
  }
  return out;
}

void TPCXImage::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadFileBytes(fileName)); }

void TPCXImage::LoadFromBytes(std::span<const uint8_t> bytes) {
  FBitmap = TBitmap();
  TByteReader reader(bytes, "Stream read error");
  const std::span<const uint8_t> header = reader.Take(HeaderSize);
  if (header[0] != 10 && header[0] != 205) return;

  const int version = header[1];
  FRunLength = header[2] == 1;
  FBitsPerSample = header[3];
  const int width = static_cast<int>(LoadU16LE(header.data() + 8)) - LoadU16LE(header.data() + 4) + 1;
  const int height = static_cast<int>(LoadU16LE(header.data() + 10)) - LoadU16LE(header.data() + 6) + 1;
  FHorizontalResolution = LoadU16LE(header.data() + 12);
  FVerticalResolution = LoadU16LE(header.data() + 14);
  FSamplesPerPixel = header[65];
  const size_t bytesPerLine = LoadU16LE(header.data() + 66);
  const int paletteInfo = LoadU16LE(header.data() + 68);
  FBitsPerPixel = static_cast<uint8_t>(FBitsPerSample * FSamplesPerPixel);
  FColorScheme = FBitsPerPixel <= 8 ? TColorScheme::Indexed : TColorScheme::RGB;

  FColorManager = TColorManager();
  FColorManager.SetSourceBitsPerSample(FBitsPerSample);
  FColorManager.SetSourceSamplesPerPixel(FSamplesPerPixel);
  FColorManager.SetSourceScheme(FColorScheme);
  FColorManager.SetTargetScheme(FColorScheme == TColorScheme::Indexed ? TColorScheme::Indexed : TColorScheme::BGR);
  FColorManager.SetTargetBitsPerSample(FBitsPerPixel == 2 ? 4 : FBitsPerSample);
  FColorManager.SetTargetSamplesPerPixel(FSamplesPerPixel);

  const bool fourPlanes = FSamplesPerPixel == 4 && FBitsPerSample == 1;
  const bool rgbPlanes = FSamplesPerPixel == 3 && FBitsPerSample == 8;
  const bool rgbaPlanes = FSamplesPerPixel == 4 && FBitsPerSample == 8;
  TPixelFormat format = FColorManager.TargetPixelFormat();
  if (fourPlanes) format = pf4bit;
  // Layouts that have a pixel format but no sample conversion would overrun the rows; refuse them.
  if (format == pfDevice || (!fourPlanes && !rgbPlanes && !rgbaPlanes && !FColorManager.CanConvertSamples()))
    throw EReadError("Invalid Color Format");

  if (width <= 0 || height <= 0) throw EReadError(Format("Invalid PCX picture size (%d x %d)", width, height));
  CheckPictureSize(width, height);

  // The trailing 256-colour block is split off only when its marker is there: a grey 8-bit file
  // without one keeps its last bytes of pixel data.
  std::span<const uint8_t> data = bytes.subspan(HeaderSize);
  std::span<const uint8_t> paletteBlock;
  if (format == pf8bit && bytes.size() >= HeaderSize + PaletteBlockSize &&
      bytes[bytes.size() - PaletteBlockSize] == 12) {
    paletteBlock = bytes.subspan(bytes.size() - PaletteBlockSize + 1);
    data = data.first(data.size() - PaletteBlockSize);
  }
  const size_t pixelBits = CheckedMul(CheckedMul(static_cast<size_t>(width), static_cast<size_t>(height)),
                                      std::max<size_t>(FBitsPerPixel, 1));
  if (pixelBits > CheckedMul(data.size(), MaxBitsPerDataByte)) reader.Fail();

  FBitmap.SetPixelFormat(format);
  if (format != pf24bit && format != pf32bit) {
    if (version == 3 && format != pf1bit)
      FBitmap.SetPalette(StandardPalette16());
    else if (format == pf1bit)
      FBitmap.SetPalette(GreyPalette(2));
    else if (format == pf4bit)
      FBitmap.SetPalette(paletteInfo != 2 ? TriplePalette(header.subspan(16, 48)) : GreyPalette(16));
    else if (!paletteBlock.empty())
      FBitmap.SetPalette(TriplePalette(paletteBlock));
    else if (paletteInfo == 2)
      FBitmap.SetPalette(GreyPalette(256));
  }
  FBitmap.SetSize(width, height);
  std::memset(FBitmap.Bits(), 0, FBitmap.BitsSize());

  const size_t planeCount = static_cast<size_t>(FSamplesPerPixel);
  std::vector<uint8_t> row(planeCount * bytesPerLine);
  TPCXRLEDecoder decoder(data);
  size_t rawPosition = 0;
  for (int y = 0; y < height; ++y) {
    size_t count = 0;
    if (FRunLength) {
      count = decoder.Decode(row);
    } else {
      count = std::min(row.size(), data.size() - rawPosition);
      if (count > 0) std::memcpy(row.data(), data.data() + rawPosition, count);
      rawPosition += count;
    }
    // Once the data is used up the remaining rows keep their 0s.
    if (count == 0 && !row.empty()) break;
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(count), row.end(), 0);
    const std::span<const uint8_t> line(row);
    auto plane = [&](size_t p) { return line.subspan(p * bytesPerLine, bytesPerLine); };
    uint8_t* target = FBitmap.ScanLine(y);
    if (fourPlanes) {
      for (int x = 0; x < width; ++x) {
        int index = 0;
        for (size_t p = 0; p < 4; ++p) index |= ((SampleAt(plane(p), x / 8) >> (7 - x % 8)) & 1) << p;
        if (x % 2 == 0)
          target[x / 2] = static_cast<uint8_t>(index << 4);
        else
          target[x / 2] |= static_cast<uint8_t>(index);
      }
    } else if (rgbPlanes || rgbaPlanes) {
      const size_t pixelBytes = rgbaPlanes ? 4 : 3;
      for (int x = 0; x < width; ++x, target += pixelBytes) {
        target[0] = SampleAt(plane(2), x);
        target[1] = SampleAt(plane(1), x);
        target[2] = SampleAt(plane(0), x);
        if (rgbaPlanes) target[3] = SampleAt(plane(3), x);
      }
    } else {
      FColorManager.ConvertRow(plane(0), std::span(target, static_cast<size_t>(FBitmap.RowByteCount())), width);
    }
  }
}

std::unique_ptr<TGraphic> LoadPcxGraphic(std::span<const uint8_t> bytes) {
  TPCXImage image;
  image.LoadFromBytes(bytes);
  const bool alpha = image.Bitmap().PixelFormat() == pf32bit;
  return std::make_unique<TBitmapGraphic>(std::move(image.Bitmap()), alpha);
}

}  // namespace glyphmill
