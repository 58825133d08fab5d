#include "platform/jpeg2000_codec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openjpeg.h>

#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

constexpr uint8_t Jp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr uint8_t CodestreamSignature[4] = {0xFF, 0x4F, 0xFF, 0x51};

struct TOpjSource {
  std::span<const uint8_t> Bytes;
  size_t Position = 0;
};

extern "C" OPJ_SIZE_T OpjRead(void* buffer, OPJ_SIZE_T count, void* userData) {
  auto* source = static_cast<TOpjSource*>(userData);
  if (source->Position >= source->Bytes.size()) return static_cast<OPJ_SIZE_T>(-1);
  const size_t n = std::min(static_cast<size_t>(count), source->Bytes.size() - source->Position);
  std::memcpy(buffer, source->Bytes.data() + source->Position, n);
  source->Position += n;
  return n;
}

extern "C" OPJ_OFF_T OpjSkip(OPJ_OFF_T count, void* userData) {
  auto* source = static_cast<TOpjSource*>(userData);
  if (count < 0) {
    const size_t back = std::min(static_cast<size_t>(-count), source->Position);
    source->Position -= back;
    return -static_cast<OPJ_OFF_T>(back);
  }
  const size_t ahead =
      std::min(static_cast<size_t>(count), source->Bytes.size() - std::min(source->Position, source->Bytes.size()));
  source->Position += ahead;
  return static_cast<OPJ_OFF_T>(ahead);
}

extern "C" OPJ_BOOL OpjSeek(OPJ_OFF_T position, void* userData) {
  auto* source = static_cast<TOpjSource*>(userData);
  if (position < 0 || static_cast<uint64_t>(position) > source->Bytes.size()) return OPJ_FALSE;
  source->Position = static_cast<size_t>(position);
  return OPJ_TRUE;
}

extern "C" void OpjError(const char* message, void* userData) {
  auto* error = static_cast<std::string*>(userData);
  if (error->empty() && message) {
    *error = message;
    while (!error->empty() && (error->back() == '\n' || error->back() == ' ')) error->pop_back();
  }
}

extern "C" void OpjQuiet(const char*, void*) {}

struct TOpjCodecFree {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct TOpjStreamFree {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct TOpjImageFree {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

// One decoding: codec, stream and image, freed however it ends.
class TOpjDecoder {
public:
  explicit TOpjDecoder(std::span<const uint8_t> bytes) : FSource{bytes} {
    OPJ_CODEC_FORMAT format = OPJ_CODEC_UNKNOWN;
    if (bytes.size() >= sizeof Jp2Signature && std::memcmp(bytes.data(), Jp2Signature, sizeof Jp2Signature) == 0)
      format = OPJ_CODEC_JP2;
    else if (bytes.size() >= sizeof CodestreamSignature &&
             std::memcmp(bytes.data(), CodestreamSignature, sizeof CodestreamSignature) == 0)
      format = OPJ_CODEC_J2K;
    else
      throw EReadError("Invalid JPEG 2000 image: unknown signature");

    FCodec.reset(opj_create_decompress(format));
    if (!FCodec) Fail("cannot create the decoder");
    opj_set_error_handler(FCodec.get(), OpjError, &FError);
    opj_set_warning_handler(FCodec.get(), OpjQuiet, nullptr);
    opj_set_info_handler(FCodec.get(), OpjQuiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(FCodec.get(), &parameters)) Fail("cannot set up the decoder");

    FStream.reset(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!FStream) Fail("cannot create the stream");
    opj_stream_set_user_data(FStream.get(), &FSource, nullptr);
    opj_stream_set_user_data_length(FStream.get(), bytes.size());
    opj_stream_set_read_function(FStream.get(), OpjRead);
    opj_stream_set_skip_function(FStream.get(), OpjSkip);
    opj_stream_set_seek_function(FStream.get(), OpjSeek);

    opj_image_t* image = nullptr;
    const bool ok = opj_read_header(FStream.get(), FCodec.get(), &image);
    FImage.reset(image);
    if (!ok || !FImage) Fail("cannot read the header");
    if (FImage->numcomps == 0 || FImage->comps == nullptr) Fail("no components");
    if (FImage->x1 <= FImage->x0 || FImage->y1 <= FImage->y0) Fail("empty picture");
  }

  int Width() const { return static_cast<int>(std::min<uint32_t>(FImage->x1 - FImage->x0, 0x7FFFFFFF)); }
  int Height() const { return static_cast<int>(std::min<uint32_t>(FImage->y1 - FImage->y0, 0x7FFFFFFF)); }
  opj_image_t& Image() { return *FImage; }

  void Decode() {
    if (!opj_decode(FCodec.get(), FStream.get(), FImage.get()) || !opj_end_decompress(FCodec.get(), FStream.get()))
      Fail("cannot decode the picture");
    for (uint32_t i = 0; i < FImage->numcomps; ++i) {
      const opj_image_comp_t& comp = FImage->comps[i];
      if (comp.data == nullptr || comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0 || comp.prec == 0 ||
          comp.prec > 31)
        Fail("incomplete component data");
    }
  }

  [[noreturn]] void Fail(const char* fallback) const {
    throw EReadError(std::string("Invalid JPEG 2000 image: ") + (FError.empty() ? fallback : FError));
  }

private:
  TOpjSource FSource;
  std::string FError;
  std::unique_ptr<opj_codec_t, TOpjCodecFree> FCodec;
  std::unique_ptr<opj_stream_t, TOpjStreamFree> FStream;
  std::unique_ptr<opj_image_t, TOpjImageFree> FImage;
};

// Reads one component at picture coordinates, nearest sample for sub-sampled components,
// scaled to 0..255.
class TComponentReader {
public:
  TComponentReader(const opj_image_t& image, const opj_image_comp_t& comp) : FComp(comp) {
    FMax = (int64_t{1} << comp.prec) - 1;
    FOffset = comp.sgnd ? (int64_t{1} << (comp.prec - 1)) : 0;
    // The reference-grid column/row of each picture column/row, mapped to a sample index once.
    FColumns.resize(image.x1 - image.x0);
    for (uint32_t x = 0; x < FColumns.size(); ++x) FColumns[x] = SampleIndex(image.x0 + x, comp.dx, comp.x0, comp.w);
    FRows.resize(image.y1 - image.y0);
    for (uint32_t y = 0; y < FRows.size(); ++y) FRows[y] = SampleIndex(image.y0 + y, comp.dy, comp.y0, comp.h);
  }

  uint8_t At(int x, int y) const {
    const int64_t raw =
        FComp.data[static_cast<size_t>(FRows[static_cast<size_t>(y)]) * FComp.w + FColumns[static_cast<size_t>(x)]];
    const int64_t value = std::clamp<int64_t>(raw + FOffset, 0, FMax);
    return static_cast<uint8_t>((value * 255 + FMax / 2) / FMax);
  }

private:
  static uint32_t SampleIndex(uint32_t reference, uint32_t step, uint32_t first, uint32_t count) {
    const uint32_t index = reference / step;
    return std::min(index > first ? index - first : 0, count - 1);
  }

  const opj_image_comp_t& FComp;
  int64_t FMax = 255;
  int64_t FOffset = 0;
  std::vector<uint32_t> FColumns;
  std::vector<uint32_t> FRows;
};

uint8_t ClampByte(double value) { return static_cast<uint8_t>(std::clamp(value + 0.5, 0.0, 255.0)); }

}  // namespace

bool HasJpeg2000Signature(std::span<const uint8_t> bytes) {
  return (bytes.size() >= sizeof Jp2Signature && std::memcmp(bytes.data(), Jp2Signature, sizeof Jp2Signature) == 0) ||
         (bytes.size() >= sizeof CodestreamSignature &&
          std::memcmp(bytes.data(), CodestreamSignature, sizeof CodestreamSignature) == 0);
}

TJpeg2000Info ReadJpeg2000Info(std::span<const uint8_t> bytes) {
  TOpjDecoder decoder(bytes);
  return {decoder.Width(), decoder.Height(), static_cast<int>(decoder.Image().numcomps)};
}

void DecodeJpeg2000(std::span<const uint8_t> bytes, TBitmap& bitmap) {
  TOpjDecoder decoder(bytes);
  CheckPictureSize(decoder.Width(), decoder.Height());
  decoder.Decode();
  const opj_image_t& image = decoder.Image();
  const int width = decoder.Width();
  const int height = decoder.Height();

  // Colour channels in order, and the alpha channel: the one the file marks, else the last of
  // two (grey + alpha) or of four non-CMYK channels.
  std::vector<uint32_t> colors;
  int alpha = -1;
  for (uint32_t i = 0; i < image.numcomps; ++i) {
    if (image.comps[i].alpha != 0 && alpha < 0)
      alpha = static_cast<int>(i);
    else
      colors.push_back(i);
  }
  if (colors.empty()) {
    colors.push_back(static_cast<uint32_t>(alpha));
    alpha = -1;
  }
  const bool cmyk = image.color_space == OPJ_CLRSPC_CMYK && colors.size() >= 4;
  if (alpha < 0 && (image.numcomps == 2 || (image.numcomps == 4 && !cmyk))) {
    alpha = static_cast<int>(colors.back());
    colors.pop_back();
  }
  const bool grey = colors.size() < 3 || image.color_space == OPJ_CLRSPC_GRAY;
  const bool ycc = !grey && (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC);

  std::vector<TComponentReader> readers;
  const size_t used = grey ? 1 : (cmyk ? 4 : 3);
  for (size_t i = 0; i < used; ++i) readers.emplace_back(image, image.comps[colors[i]]);
  std::unique_ptr<TComponentReader> alphaReader;
  if (alpha >= 0) alphaReader = std::make_unique<TComponentReader>(image, image.comps[alpha]);

  TBitmap result;
  result.SetPixelFormat(alphaReader ? pf32bit : pf24bit);
  result.SetSize(width, height);
  const int bytesPerPixel = alphaReader ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    uint8_t* target = result.ScanLine(y);
    for (int x = 0; x < width; ++x, target += bytesPerPixel) {
      uint8_t r, g, b;
      if (grey) {
        r = g = b = readers[0].At(x, y);
      } else if (ycc) {
        const double luma = readers[0].At(x, y), cb = readers[1].At(x, y) - 128.0, cr = readers[2].At(x, y) - 128.0;
        r = ClampByte(luma + 1.402 * cr);
        g = ClampByte(luma - 0.344136 * cb - 0.714136 * cr);
        b = ClampByte(luma + 1.772 * cb);
      } else if (cmyk) {
        const int k = 255 - readers[3].At(x, y);
        r = static_cast<uint8_t>((255 - readers[0].At(x, y)) * k / 255);
        g = static_cast<uint8_t>((255 - readers[1].At(x, y)) * k / 255);
        b = static_cast<uint8_t>((255 - readers[2].At(x, y)) * k / 255);
      } else {
        r = readers[0].At(x, y);
        g = readers[1].At(x, y);
        b = readers[2].At(x, y);
      }
      target[0] = b;
      target[1] = g;
      target[2] = r;
      if (alphaReader) target[3] = alphaReader->At(x, y);
    }
  }
  bitmap = std::move(result);
}

}  // namespace glyphmill
