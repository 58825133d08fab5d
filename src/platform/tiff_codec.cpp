#include "platform/tiff_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <tiffio.h>

#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

// No single libtiff buffer (a strip, a tile) may exceed this.
constexpr tmsize_t MaxTiffAllocation = 1024LL * 1024 * 1024;

struct TTiffSource {
  explicit TTiffSource(std::span<const uint8_t> bytes) : Bytes(bytes) {}
  std::span<const uint8_t> Bytes;
  toff_t Position = 0;
  std::string Error;
};

extern "C" tmsize_t TiffRead(thandle_t handle, void* buffer, tmsize_t count) {
  auto* source = static_cast<TTiffSource*>(handle);
  if (count <= 0 || source->Position >= source->Bytes.size()) return 0;
  const size_t n = std::min(static_cast<size_t>(count), static_cast<size_t>(source->Bytes.size() - source->Position));
  std::memcpy(buffer, source->Bytes.data() + source->Position, n);
  source->Position += n;
  return static_cast<tmsize_t>(n);
}

extern "C" tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }

extern "C" toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<TTiffSource*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = source->Position;
  if (whence == SEEK_END) base = source->Bytes.size();
  uint64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target)) return static_cast<toff_t>(-1);
  source->Position = target;
  return target;
}

extern "C" int TiffClose(thandle_t) { return 0; }
extern "C" toff_t TiffSize(thandle_t handle) { return static_cast<TTiffSource*>(handle)->Bytes.size(); }
extern "C" int TiffMap(thandle_t, void**, toff_t*) { return 0; }
extern "C" void TiffUnmap(thandle_t, void*, toff_t) {}

extern "C" int TiffErrorHandler(TIFF*, void* userData, const char*, const char* format, va_list args) {
  auto* source = static_cast<TTiffSource*>(userData);
  if (source->Error.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    source->Error = text;
  }
  return 1;
}

extern "C" int TiffWarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Messages libtiff raises without a file handle go to its process-wide handlers; silence them once.
void SilenceGlobalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

struct TTiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TTiffHandle = std::unique_ptr<TIFF, TTiffCloser>;

[[noreturn]] void Fail(const TTiffSource& source, const char* fallback) {
  throw EReadError(std::string("Invalid TIFF image: ") + (source.Error.empty() ? fallback : source.Error));
}

TTiffHandle OpenTiff(TTiffSource& source) {
  SilenceGlobalHandlers();
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
  if (!options) throw EReadError("Invalid TIFF image: out of memory");
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), MaxTiffAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffErrorHandler, &source);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffWarningHandler, &source);
  // "m": the bytes are already in memory, no mapping.
  TTiffHandle tiff(TIFFClientOpenExt("memory", "rm", &source, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                                     TiffMap, TiffUnmap, options.get()));
  if (!tiff) Fail(source, "not a TIFF file");
  return tiff;
}

TTiffInfo SizeOf(TIFF* tiff, const TTiffSource& source) {
  uint32_t width = 0, height = 0;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height))
    Fail(source, "no picture size");
  CheckPictureSize(width, height);
  return {static_cast<int>(width), static_cast<int>(height)};
}

// libtiff hands alpha premultiplied (it premultiplies unassociated alpha itself); icons want it straight.
uint8_t Unpremultiply(uint8_t value, uint8_t alpha) {
  return static_cast<uint8_t>(std::min(255, (value * 255 + alpha / 2) / alpha));
}

// CIE L*a*b* (D50, as TIFF stores it) to sRGB bytes. libtiff's own rendering keeps the D50 white
// and turns white yellow; this adapts it to sRGB's D65 first.
void LabToRgb(uint32_t lByte, int a, int b, uint8_t rgb[3]) {
  const double fy = (lByte * 100.0 / 255.0 + 16.0) / 116.0;
  auto inverse = [](double t) {
    return t > 6.0 / 29.0 ? t * t * t : 3.0 * (6.0 / 29.0) * (6.0 / 29.0) * (t - 4.0 / 29.0);
  };
  const double x50 = 0.96422 * inverse(fy + a / 500.0), y50 = inverse(fy), z50 = 0.82521 * inverse(fy - b / 200.0);
  const double x = 0.9555766 * x50 - 0.0230393 * y50 + 0.0631636 * z50;
  const double y = -0.0282895 * x50 + 1.0099416 * y50 + 0.0210077 * z50;
  const double z = 0.0122982 * x50 - 0.0204830 * y50 + 1.3299098 * z50;
  const double linear[3] = {3.2404542 * x - 1.5371385 * y - 0.4985314 * z,
                            -0.9692660 * x + 1.8760108 * y + 0.0415560 * z,
                            0.0556434 * x - 0.2040259 * y + 1.0572252 * z};
  for (int i = 0; i < 3; ++i) {
    const double c = std::clamp(linear[i], 0.0, 1.0);
    const double encoded = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
    rgb[i] = static_cast<uint8_t>(encoded * 255.0 + 0.5);
  }
}

// Grey, RGB and 8-bit CIE L*a*b* pages, with or without alpha, read row by row as they are stored:
// the depths TIFFRGBAImage refuses (12 bits and the like) and the L*a*b* pages it renders with the
// wrong white. False when the page is of another kind.
bool DecodePlainSamples(TIFF* tiff, TTiffSource& source, const TTiffInfo& size, TBitmap& result) {
  uint16_t bits = 0, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  const bool lab = photometric == PHOTOMETRIC_CIELAB;
  if (!grey && !lab && photometric != PHOTOMETRIC_RGB) return false;
  const int colours = grey ? 1 : 3;
  if (bits < 1 || bits > 16 || (lab && bits != 8) || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tiff) ||
      samples < colours || samples > colours + 1)
    return false;
  const bool alpha = samples > colours;

  const tmsize_t lineSize = TIFFScanlineSize(tiff);
  const uint64_t needed = (static_cast<uint64_t>(size.Width) * samples * bits + 7) / 8;
  if (lineSize <= 0 || static_cast<uint64_t>(lineSize) < needed) Fail(source, "bad scanline size");
  std::vector<uint8_t> line(static_cast<size_t>(lineSize));
  const uint32_t maxValue = (1u << bits) - 1;
  auto scale = [&](uint32_t sample) { return static_cast<uint8_t>((sample * 255 + maxValue / 2) / maxValue); };
  TBitmap page;
  page.SetPixelFormat(alpha ? pf32bit : pf24bit);
  page.SetSize(size.Width, size.Height);
  const int step = alpha ? 4 : 3;
  for (int y = 0; y < size.Height; ++y) {
    if (TIFFReadScanline(tiff, line.data(), static_cast<uint32_t>(y), 0) < 0) Fail(source, "cannot read a row");
    uint64_t bitPosition = 0;
    uint8_t* target = page.ScanLine(y);
    for (int x = 0; x < size.Width; ++x, target += step) {
      uint32_t raw[4] = {0, 0, 0, maxValue};
      for (int s = 0; s < samples; ++s)
        for (int b = 0; b < bits; ++b, ++bitPosition)
          raw[s] = (raw[s] << 1) | ((line[bitPosition >> 3] >> (7 - (bitPosition & 7))) & 1);
      if (alpha) raw[3] = raw[colours];
      uint8_t rgb[3];
      if (lab) {
        LabToRgb(raw[0], static_cast<int8_t>(raw[1]), static_cast<int8_t>(raw[2]), rgb);
      } else if (grey) {
        rgb[0] = rgb[1] = rgb[2] = scale(photometric == PHOTOMETRIC_MINISWHITE ? maxValue - raw[0] : raw[0]);
      } else {
        for (int i = 0; i < 3; ++i) rgb[i] = scale(raw[i]);
      }
      target[0] = rgb[2];
      target[1] = rgb[1];
      target[2] = rgb[0];
      if (alpha) target[3] = scale(raw[3]);
    }
  }
  result = std::move(page);
  return true;
}

}  // namespace

TTiffInfo ReadTiffInfo(std::span<const uint8_t> bytes) {
  TTiffSource source{bytes};
  TTiffHandle tiff = OpenTiff(source);
  return SizeOf(tiff.get(), source);
}

void DecodeTiff(std::span<const uint8_t> bytes, TBitmap& bitmap) {
  TTiffSource source{bytes};
  TTiffHandle tiff = OpenTiff(source);
  const TTiffInfo size = SizeOf(tiff.get(), source);

  uint16_t photometric = 0;
  TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  char message[1024] = "";
  const bool rgbaOk = TIFFRGBAImageOK(tiff.get(), message);
  if (!rgbaOk || photometric == PHOTOMETRIC_CIELAB) {
    TBitmap plain;
    if (DecodePlainSamples(tiff.get(), source, size, plain)) {
      bitmap = std::move(plain);
      return;
    }
    if (!rgbaOk) throw EReadError(std::string("Invalid TIFF image: ") + message);
  }
  TIFFRGBAImage image{};
  if (!TIFFRGBAImageBegin(&image, tiff.get(), 0, message)) {
    throw EReadError(std::string("Invalid TIFF image: ") + message);
  }
  std::unique_ptr<TIFFRGBAImage, void (*)(TIFFRGBAImage*)> imageGuard(&image, TIFFRGBAImageEnd);
  image.req_orientation = ORIENTATION_TOPLEFT;
  const bool hasAlpha = image.alpha != 0;

  std::vector<uint32_t> raster(CheckedMul(static_cast<size_t>(size.Width), static_cast<size_t>(size.Height)));
  if (!TIFFRGBAImageGet(&image, raster.data(), static_cast<uint32_t>(size.Width), static_cast<uint32_t>(size.Height)))
    Fail(source, "cannot decode the picture");

  TBitmap result;
  result.SetPixelFormat(hasAlpha ? pf32bit : pf24bit);
  result.SetSize(size.Width, size.Height);
  const int bytesPerPixel = hasAlpha ? 4 : 3;
  for (int y = 0; y < size.Height; ++y) {
    const uint32_t* source32 = raster.data() + static_cast<size_t>(y) * static_cast<size_t>(size.Width);
    uint8_t* target = result.ScanLine(y);
    for (int x = 0; x < size.Width; ++x, target += bytesPerPixel) {
      const uint32_t pixel = source32[x];
      uint8_t r = static_cast<uint8_t>(TIFFGetR(pixel));
      uint8_t g = static_cast<uint8_t>(TIFFGetG(pixel));
      uint8_t b = static_cast<uint8_t>(TIFFGetB(pixel));
      if (hasAlpha) {
        const uint8_t a = static_cast<uint8_t>(TIFFGetA(pixel));
        if (a == 0) {
          r = g = b = 0;
        } else if (a < 255) {
          r = Unpremultiply(r, a);
          g = Unpremultiply(g, a);
          b = Unpremultiply(b, a);
        }
        target[3] = a;
      }
      target[0] = b;
      target[1] = g;
      target[2] = r;
    }
  }
  bitmap = std::move(result);
}

}  // namespace glyphmill
