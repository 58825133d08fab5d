#include "platform/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

// libjpeg's limits for one process: far above any picture the pixel cap lets through.
constexpr long MaxJpegMemory = 2048L * 1024 * 1024;

struct TJpegErrorManager {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr info) {
  auto* manager = reinterpret_cast<TJpegErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->Message);
  std::longjmp(manager->Jump, 1);
}

// Warnings stay silent: like every viewer, a file cut short decodes what it holds, the rest grey.
extern "C" void JpegEmitMessage(j_common_ptr, int) {}

extern "C" void JpegOutputMessage(j_common_ptr) {}

// One decompression with its error manager; destroyed however decoding ended.
struct TJpegDecoder {
  jpeg_decompress_struct Info{};
  TJpegErrorManager Error{};
  bool Created = false;

  TJpegDecoder() {
    Info.err = jpeg_std_error(&Error.Pub);
    Error.Pub.error_exit = JpegErrorExit;
    Error.Pub.emit_message = JpegEmitMessage;
    Error.Pub.output_message = JpegOutputMessage;
  }
  ~TJpegDecoder() {
    if (Created) jpeg_destroy_decompress(&Info);
  }
  TJpegDecoder(const TJpegDecoder&) = delete;
  TJpegDecoder& operator=(const TJpegDecoder&) = delete;

  [[noreturn]] void Fail() const { throw EReadError(std::string("Invalid JPEG image: ") + Error.Message); }
};

// The functions below hold the only setjmp: nothing between them and libjpeg has a destructor,
// so the longjmp of an error skips only C frames. They report failure by returning false.
bool ReadHeaderGuarded(TJpegDecoder* decoder, const uint8_t* data, size_t size, int scaleDenominator) {
  if (setjmp(decoder->Error.Jump)) return false;
  jpeg_create_decompress(&decoder->Info);
  decoder->Created = true;
  decoder->Info.mem->max_memory_to_use = MaxJpegMemory;
  jpeg_mem_src(&decoder->Info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&decoder->Info, TRUE);
  const J_COLOR_SPACE inColor = decoder->Info.jpeg_color_space;
  decoder->Info.out_color_space = (inColor == JCS_CMYK || inColor == JCS_YCCK) ? JCS_CMYK : JCS_EXT_BGR;
  decoder->Info.scale_num = 1;
  decoder->Info.scale_denom = static_cast<unsigned int>(scaleDenominator);
  jpeg_calc_output_dimensions(&decoder->Info);
  return true;
}

bool StartGuarded(TJpegDecoder* decoder) {
  if (setjmp(decoder->Error.Jump)) return false;
  jpeg_start_decompress(&decoder->Info);
  return true;
}

// Reads the next count rows into rows[0..count).
bool ReadRowsGuarded(TJpegDecoder* decoder, JSAMPROW* rows, JDIMENSION count) {
  if (setjmp(decoder->Error.Jump)) return false;
  for (JDIMENSION done = 0; done < count;) {
    const JDIMENSION got = jpeg_read_scanlines(&decoder->Info, rows + done, count - done);
    if (got == 0) {
      std::snprintf(decoder->Error.Message, sizeof decoder->Error.Message, "no more rows");
      return false;
    }
    done += got;
  }
  return true;
}

bool FinishGuarded(TJpegDecoder* decoder) {
  if (setjmp(decoder->Error.Jump)) return false;
  jpeg_finish_decompress(&decoder->Info);
  return true;
}

// CMYK samples to B, G, R. Adobe's files store the inks inverted (255 = no ink).
void CmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int width, bool inverted) {
  for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    bgr[0] = static_cast<uint8_t>((y * k + 127) / 255);
    bgr[1] = static_cast<uint8_t>((m * k + 127) / 255);
    bgr[2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

}  // namespace

TJpegInfo ReadJpegInfo(std::span<const uint8_t> bytes) {
  TJpegDecoder decoder;
  if (!ReadHeaderGuarded(&decoder, bytes.data(), bytes.size(), 1)) decoder.Fail();
  return {static_cast<int>(decoder.Info.image_width), static_cast<int>(decoder.Info.image_height),
          decoder.Info.num_components};
}

void DecodeJpeg(std::span<const uint8_t> bytes, TBitmap& bitmap, int scaleDenominator) {
  if (scaleDenominator != 1 && scaleDenominator != 2 && scaleDenominator != 4 && scaleDenominator != 8)
    throw EGlyphmillError(Format("JPEG scale 1/%d is not available", scaleDenominator));
  TJpegDecoder decoder;
  if (!ReadHeaderGuarded(&decoder, bytes.data(), bytes.size(), scaleDenominator)) decoder.Fail();
  CheckPictureSize(decoder.Info.image_width, decoder.Info.image_height);
  const int width = static_cast<int>(decoder.Info.output_width);
  const int height = static_cast<int>(decoder.Info.output_height);
  const bool cmyk = decoder.Info.out_color_space == JCS_CMYK;
  const bool inverted = decoder.Info.saw_Adobe_marker;

  TBitmap result;
  result.SetPixelFormat(pf24bit);
  result.SetSize(width, height);
  std::vector<uint8_t> cmykRow(cmyk ? CheckedMul(static_cast<size_t>(width), 4) : 0);
  if (!StartGuarded(&decoder)) decoder.Fail();
  if (cmyk) {
    JSAMPROW row = cmykRow.data();
    for (int y = 0; y < height; ++y) {
      if (!ReadRowsGuarded(&decoder, &row, 1)) decoder.Fail();
      CmykRowToBgr(cmykRow.data(), result.ScanLine(y), width, inverted);
    }
  } else {
    std::vector<JSAMPROW> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = result.ScanLine(y);
    if (!ReadRowsGuarded(&decoder, rows.data(), static_cast<JDIMENSION>(height))) decoder.Fail();
  }
  if (!FinishGuarded(&decoder)) decoder.Fail();
  bitmap = std::move(result);
}

}  // namespace glyphmill
