#include "platform/tiff_codec.h"

#include <algorithm>
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

  char message[1024] = "";
  if (!TIFFRGBAImageOK(tiff.get(), message)) {
    source.Error.clear();
    throw EReadError(std::string("Invalid TIFF image: ") + message);
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
