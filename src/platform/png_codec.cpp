#include "platform/png_codec.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

// Where the decoder's bytes come from: a memory view or a stream. Plain data, because libpng's
// callbacks may leave through longjmp.
struct TPngInput {
  const uint8_t* FData = nullptr;
  size_t FSize = 0;
  size_t FPosition = 0;
  TStream* FStream = nullptr;
  // Bytes the source can still deliver, for the allocation bound.
  size_t FAvailable = 0;
};

namespace {

// libpng reports failures through this block: the message is kept and control jumps back to the
// setjmp of the phase function that made the call.
struct TPngFailure {
  std::jmp_buf FJump;
  char FMessage[160] = {};
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* failure = static_cast<TPngFailure*>(png_get_error_ptr(png));
  std::snprintf(failure->FMessage, sizeof failure->FMessage, "%s", message ? message : "unknown error");
  std::longjmp(failure->FJump, 1);
}

// Warnings (bad CRCs of ancillary chunks, unknown profiles, ...) are not the user's concern.
void OnPngWarning(png_structp, png_const_charp) {}

size_t ReadInput(TPngInput& input, uint8_t* buffer, size_t count) noexcept {
  if (input.FStream) {
    try {
      const int64_t got = input.FStream->Read(buffer, static_cast<int64_t>(count));
      return got < 0 ? 0 : static_cast<size_t>(got);
    } catch (...) {
      return 0;
    }
  }
  const size_t got = std::min(count, input.FSize - input.FPosition);
  std::memcpy(buffer, input.FData + input.FPosition, got);
  input.FPosition += got;
  return got;
}

void OnPngRead(png_structp png, png_bytep buffer, size_t count) {
  if (ReadInput(*static_cast<TPngInput*>(png_get_io_ptr(png)), buffer, count) != count)
    png_error(png, "unexpected end of data");
}

// Owns the libpng read structures; lives in a C++ frame that no longjmp crosses.
struct TPngReader {
  TPngFailure FFailure;
  png_structp FPng = nullptr;
  png_infop FInfo = nullptr;
  TPngReader() {
    FPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, &FFailure, OnPngError, OnPngWarning);
    if (FPng) FInfo = png_create_info_struct(FPng);
  }
  ~TPngReader() { png_destroy_read_struct(&FPng, &FInfo, nullptr); }
  TPngReader(const TPngReader&) = delete;
  TPngReader& operator=(const TPngReader&) = delete;
};

// What the header phase learns; plain data.
struct TPngInfo {
  png_uint_32 FWidth = 0;
  png_uint_32 FHeight = 0;
  int FBitDepth = 0;
  int FColorType = 0;
  int FInterlace = 0;
  int FPaletteCount = 0;
  png_color FPalette[256] = {};
  int FAlphaCount = 0;
  uint8_t FAlpha[256] = {};
  bool FHasTransparency = false;
  int FFileBits = 0;  // bits per pixel in the file
  size_t FRowBytes = 0;
  int FOutputBits = 0;  // 8, 24 or 32 bits per decoded pixel
};

// Chunks nothing here uses; skipping them spares their parsing (and their decompression).
constexpr png_byte IgnoredChunks[] = {
    'b',  'K',  'G',  'D',  '\0', 'c',  'H',  'R',  'M',  '\0', 'e',  'X',  'I',  'f',  '\0', 'g',  'A',
    'M',  'A',  '\0', 'h',  'I',  'S',  'T',  '\0', 'i',  'C',  'C',  'P',  '\0', 'i',  'T',  'X',  't',
    '\0', 'o',  'F',  'F',  's',  '\0', 'p',  'C',  'A',  'L',  '\0', 'p',  'H',  'Y',  's',  '\0', 's',
    'B',  'I',  'T',  '\0', 's',  'C',  'A',  'L',  '\0', 's',  'P',  'L',  'T',  '\0', 's',  'R',  'G',
    'B',  '\0', 't',  'E',  'X',  't',  '\0', 't',  'I',  'M',  'E',  '\0', 'z',  'T',  'X',  't',  '\0',
};

// Phase 1: signature, header chunks and the transformations to our pixel layout. Returns false
// after a libpng error. Nothing with a destructor lives in this frame.
bool ReadPngInfo(TPngReader& reader, TPngInput& input, TPngInfo& info) {
  png_structp png = reader.FPng;
  png_infop pngInfo = reader.FInfo;
  if (setjmp(reader.FFailure.FJump)) return false;
  png_set_read_fn(png, &input, OnPngRead);
  png_set_chunk_malloc_max(png, 8u << 20);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, IgnoredChunks, static_cast<int>(sizeof IgnoredChunks / 5));
  png_read_info(png, pngInfo);
  png_get_IHDR(png, pngInfo, &info.FWidth, &info.FHeight, &info.FBitDepth, &info.FColorType, &info.FInterlace, nullptr,
               nullptr);
  if (info.FColorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp palette = nullptr;
    if (png_get_PLTE(png, pngInfo, &palette, &info.FPaletteCount) == 0 || !palette) info.FPaletteCount = 0;
    info.FPaletteCount = std::clamp(info.FPaletteCount, 0, 256);
    if (info.FPaletteCount > 0)
      std::memcpy(info.FPalette, palette, sizeof(png_color) * static_cast<size_t>(info.FPaletteCount));
  }
  if (png_get_valid(png, pngInfo, PNG_INFO_tRNS)) {
    info.FHasTransparency = true;
    png_bytep alpha = nullptr;
    png_color_16p colour = nullptr;
    png_get_tRNS(png, pngInfo, &alpha, &info.FAlphaCount, &colour);
    if (info.FColorType == PNG_COLOR_TYPE_PALETTE && alpha) {
      info.FAlphaCount = std::clamp(info.FAlphaCount, 0, 256);
      std::memcpy(info.FAlpha, alpha, static_cast<size_t>(info.FAlphaCount));
    } else {
      info.FAlphaCount = 0;
    }
  }

  info.FFileBits = info.FBitDepth * png_get_channels(png, pngInfo);

  if (info.FBitDepth == 16) png_set_scale_16(png);
  switch (info.FColorType) {
    case PNG_COLOR_TYPE_PALETTE:
      png_set_packing(png);
      info.FOutputBits = 8;
      break;
    case PNG_COLOR_TYPE_GRAY:
      if (info.FBitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
      if (info.FHasTransparency) {
        png_set_tRNS_to_alpha(png);
        png_set_gray_to_rgb(png);
        info.FOutputBits = 32;
      } else {
        info.FOutputBits = 8;
      }
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_gray_to_rgb(png);
      info.FOutputBits = 32;
      break;
    case PNG_COLOR_TYPE_RGB:
      if (info.FHasTransparency) {
        png_set_tRNS_to_alpha(png);
        info.FOutputBits = 32;
      } else {
        info.FOutputBits = 24;
      }
      break;
    default: info.FOutputBits = 32; break;
  }
  if (info.FOutputBits >= 24) png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, pngInfo);
  info.FRowBytes = png_get_rowbytes(png, pngInfo);
  return true;
}

// Phase 2: the pixels into the prepared rows, then the chunks up to IEND. Returns false after a
// libpng error; imageRead tells whether every row had arrived by then.
bool ReadPngPixels(TPngReader& reader, png_bytepp rows, bool& imageRead) {
  if (setjmp(reader.FFailure.FJump)) return false;
  png_read_image(reader.FPng, rows);
  imageRead = true;
  png_read_end(reader.FPng, nullptr);
  return true;
}

[[noreturn]] void FailPng(const char* message) { throw EReadError(Format("Invalid PNG image: %s", message)); }

std::vector<TRGBQuad> GreyPalette() {
  std::vector<TRGBQuad> palette(256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    palette[static_cast<size_t>(i)] = TRGBQuad{v, v, v, 0};
  }
  return palette;
}

// zlib cannot expand data by more than about 1032 times; a picture that would need more bytes
// than that from what the source still holds is refused before its memory is allocated.
constexpr size_t MaxInflateRatio = 1100;

// Encoder settings: icons with many large images are compressed on every run, so speed matters as
// much as size. Level 3 with the Sub/Up/Paeth heuristic measured about 3 times faster than level 6
// on photographs for files a few per cent larger.
constexpr int TrueColorFilters = PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_PAETH;
constexpr int ZlibLevel = 3;

}  // namespace

bool HasPngSignature(std::span<const uint8_t> bytes) {
  return bytes.size() >= sizeof PngSignature && std::memcmp(bytes.data(), PngSignature, sizeof PngSignature) == 0;
}

bool TPNGImage::HasAlpha() const {
  return FHeader.FColorType == pctGreyAlpha || FHeader.FColorType == pctRGBA || FHasTransparencyChunk;
}

void TPNGImage::LoadFromBytes(std::span<const uint8_t> bytes) {
  TPngInput input;
  input.FData = bytes.data();
  input.FSize = bytes.size();
  input.FAvailable = bytes.size();
  LoadFrom(input);
}

void TPNGImage::LoadFromStream(TStream& stream) {
  TPngInput input;
  input.FStream = &stream;
  const int64_t remaining = stream.Remaining();
  input.FAvailable = remaining > 0 ? static_cast<size_t>(remaining) : 0;
  LoadFrom(input);
}

void TPNGImage::LoadFromFile(const std::string& fileName) {
  TFileMappingStream stream(fileName);
  LoadFromBytes(stream.Bytes());
}

void TPNGImage::LoadFrom(TPngInput& input) {
  TPngReader reader;
  if (!reader.FPng || !reader.FInfo) throw EReadError("Out of memory");
  TPngInfo info;
  if (!ReadPngInfo(reader, input, info)) FailPng(reader.FFailure.FMessage);

  CheckPictureSize(info.FWidth, info.FHeight);
  const size_t rawRowBytes = CheckedAdd(CheckedMul(info.FWidth, static_cast<size_t>(info.FFileBits)) / 8, 2);
  if (CheckedMul(rawRowBytes, info.FHeight) > CheckedAdd(CheckedMul(input.FAvailable, MaxInflateRatio), 4096))
    FailPng("image data too short for the picture size");

  TBitmap bitmap;
  switch (info.FOutputBits) {
    case 8:
      bitmap.SetPixelFormat(pf8bit);
      if (info.FColorType == PNG_COLOR_TYPE_PALETTE) {
        std::vector<TRGBQuad> palette(static_cast<size_t>(info.FPaletteCount));
        for (int i = 0; i < info.FPaletteCount; ++i)
          palette[static_cast<size_t>(i)] =
              TRGBQuad{info.FPalette[i].blue, info.FPalette[i].green, info.FPalette[i].red, 0};
        bitmap.SetPalette(palette);
      } else {
        bitmap.SetPalette(GreyPalette());
      }
      break;
    case 24: bitmap.SetPixelFormat(pf24bit); break;
    default: bitmap.SetPixelFormat(pf32bit); break;
  }
  const size_t expectedRowBytes = static_cast<size_t>(info.FWidth) * static_cast<size_t>(info.FOutputBits / 8);
  if (info.FRowBytes != expectedRowBytes) FailPng("unexpected row layout");
  bitmap.SetSize(static_cast<int>(info.FWidth), static_cast<int>(info.FHeight));
  std::vector<png_bytep> rows(info.FHeight);
  for (png_uint_32 y = 0; y < info.FHeight; ++y) rows[y] = bitmap.ScanLine(static_cast<int>(y));
  bool imageRead = false;
  // A stream cut after the last row (IEND missing, trailing garbage) still gives the picture.
  if (!ReadPngPixels(reader, rows.data(), imageRead) && !imageRead) FailPng(reader.FFailure.FMessage);

  FHeader =
      TPngHeader{info.FWidth, info.FHeight, info.FBitDepth, info.FColorType, info.FInterlace != PNG_INTERLACE_NONE};
  FPalette.clear();
  FPaletteAlpha.clear();
  if (info.FColorType == PNG_COLOR_TYPE_PALETTE) {
    FPalette.assign(bitmap.Palette().begin(), bitmap.Palette().begin() + info.FPaletteCount);
    if (info.FHasTransparency) {
      FPaletteAlpha.assign(static_cast<size_t>(info.FPaletteCount), 255);
      std::copy_n(info.FAlpha, std::min(info.FAlphaCount, info.FPaletteCount), FPaletteAlpha.begin());
    }
  }
  FHasTransparencyChunk = info.FHasTransparency;
  FBitmap = std::move(bitmap);
}

void TPNGImage::AssignTo(TBitmap& target) const {
  if (FHeader.FColorType != pctPalette || FHeader.FBitDepth >= 8 || FBitmap.PixelFormat() != pf8bit) {
    target.Assign(FBitmap);
    return;
  }
  TBitmap packed;
  packed.SetPixelFormat(FHeader.FBitDepth == 1 ? pf1bit : pf4bit);
  packed.SetPalette(FBitmap.Palette());
  packed.SetSize(FBitmap.Width(), FBitmap.Height());
  for (int y = 0; y < FBitmap.Height(); ++y) {
    const uint8_t* source = FBitmap.ScanLine(y);
    for (int x = 0; x < FBitmap.Width(); ++x) packed.SetIndex(x, y, source[x]);
  }
  target.Assign(packed);
}

// ---- Encoding -------------------------------------------------------------------------------

void TPNGImage::Assign(const TBitmap& bitmap, int transparentIndex) {
  TBitmap source;
  const TPixelFormat format = bitmap.PixelFormat();
  source.Assign(bitmap);
  if (format == pf15bit || format == pf16bit || format == pfDevice) source.SetPixelFormat(pf24bit);
  const bool palette = source.PaletteCapacity() > 0;
  FHeader = TPngHeader{static_cast<uint32_t>(source.Width()), static_cast<uint32_t>(source.Height()), 8, pctRGB, false};
  FPalette.clear();
  FPaletteAlpha.clear();
  FHasTransparencyChunk = false;
  if (palette) {
    FHeader.FColorType = pctPalette;
    FHeader.FBitDepth = source.StorageBits();
    // The highest index in use bounds the palette that needs writing.
    int used = 0;
    for (int y = 0; y < source.Height(); ++y)
      for (int x = 0; x < source.Width(); ++x) used = std::max(used, source.GetIndex(x, y) + 1);
    if (transparentIndex >= source.PaletteCapacity()) transparentIndex = -1;
    used = std::max(used, transparentIndex + 1);
    FPalette.assign(source.Palette().begin(), source.Palette().begin() + std::max(used, 1));
    if (transparentIndex >= 0) {
      FHasTransparencyChunk = true;
      FPaletteAlpha.assign(FPalette.size(), 255);
      FPaletteAlpha[static_cast<size_t>(transparentIndex)] = 0;
    }
  } else if (source.PixelFormat() == pf32bit) {
    FHeader.FColorType = pctRGBA;
  }
  FBitmap = std::move(source);
}

namespace {

struct TPngOutput {
  std::vector<uint8_t>* FBytes = nullptr;
};

bool AppendOutput(TPngOutput& output, const uint8_t* data, size_t count) noexcept {
  try {
    output.FBytes->insert(output.FBytes->end(), data, data + count);
    return true;
  } catch (...) {
    return false;
  }
}

void OnPngWrite(png_structp png, png_bytep data, size_t count) {
  if (!AppendOutput(*static_cast<TPngOutput*>(png_get_io_ptr(png)), data, count)) png_error(png, "out of memory");
}

void OnPngFlush(png_structp) {}

struct TPngWriter {
  TPngFailure FFailure;
  png_structp FPng = nullptr;
  png_infop FInfo = nullptr;
  TPngWriter() {
    FPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, &FFailure, OnPngError, OnPngWarning);
    if (FPng) FInfo = png_create_info_struct(FPng);
  }
  ~TPngWriter() { png_destroy_write_struct(&FPng, &FInfo); }
  TPngWriter(const TPngWriter&) = delete;
  TPngWriter& operator=(const TPngWriter&) = delete;
};

struct TPngWriteJob {
  png_uint_32 FWidth = 0;
  png_uint_32 FHeight = 0;
  int FBitDepth = 8;
  int FColorType = 0;
  png_color FPalette[256] = {};
  int FPaletteCount = 0;
  png_byte FAlpha[256] = {};
  int FAlphaCount = 0;
  png_bytepp FRows = nullptr;
};

// The whole libpng write in one frame of its own; returns false after a libpng error.
bool WritePng(TPngWriter& writer, TPngOutput& output, const TPngWriteJob& job) {
  png_structp png = writer.FPng;
  png_infop info = writer.FInfo;
  if (setjmp(writer.FFailure.FJump)) return false;
  png_set_write_fn(png, &output, OnPngWrite, OnPngFlush);
  png_set_IHDR(png, info, job.FWidth, job.FHeight, job.FBitDepth, job.FColorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (job.FColorType == PNG_COLOR_TYPE_PALETTE) {
    // Palette rows are byte-repetitive; filtering them only costs time.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_PLTE(png, info, job.FPalette, job.FPaletteCount);
    if (job.FAlphaCount > 0) png_set_tRNS(png, info, job.FAlpha, job.FAlphaCount, nullptr);
  } else {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, TrueColorFilters);
  }
  png_set_compression_level(png, ZlibLevel);
  png_write_info(png, info);
  if (job.FColorType != PNG_COLOR_TYPE_PALETTE) png_set_bgr(png);
  png_write_image(png, job.FRows);
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::vector<uint8_t> TPNGImage::SaveToBytes() const {
  if (FBitmap.Empty()) throw EGlyphmillError("Cannot save an empty PNG image");
  TPngWriter writer;
  if (!writer.FPng || !writer.FInfo) throw EGlyphmillError("Out of memory");
  TPngWriteJob job;
  job.FWidth = FHeader.FWidth;
  job.FHeight = FHeader.FHeight;
  job.FBitDepth = FHeader.FBitDepth;
  job.FColorType = FHeader.FColorType;
  job.FPaletteCount = static_cast<int>(FPalette.size());
  for (size_t i = 0; i < FPalette.size(); ++i)
    job.FPalette[i] = png_color{FPalette[i].Red, FPalette[i].Green, FPalette[i].Blue};
  // Only the entries up to the last non-opaque one need a tRNS byte.
  for (size_t i = 0; i < FPaletteAlpha.size(); ++i)
    if (FPaletteAlpha[i] != 255) job.FAlphaCount = static_cast<int>(i) + 1;
  std::copy_n(FPaletteAlpha.begin(), job.FAlphaCount, job.FAlpha);
  std::vector<png_bytep> rows(FHeader.FHeight);
  for (png_uint_32 y = 0; y < FHeader.FHeight; ++y)
    rows[y] = const_cast<png_bytep>(FBitmap.ScanLine(static_cast<int>(y)));
  job.FRows = rows.data();
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(FBitmap.BitsSize() / 2 + 1024));
  TPngOutput output{&bytes};
  if (!WritePng(writer, output, job))
    throw EGlyphmillError(Format("PNG encoding failed: %s", writer.FFailure.FMessage));
  return bytes;
}

void TPNGImage::SaveToStream(TStream& stream) const { stream.WriteBytes(SaveToBytes()); }

void TPNGImage::SaveToFile(const std::string& fileName) const { WriteFileAtomically(fileName, SaveToBytes()); }

}  // namespace glyphmill
