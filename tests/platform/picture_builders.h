// Small pictures made by the tests themselves: JPEG, PNG and TIFF bytes written with their
// libraries, so each test shows exactly the variant it is about.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <csetjmp>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace glyphmill::test {

// Samples of pixel (x, y): components bytes (grey, RGB or CMYK).
using TSampleFunction = std::function<void(int x, int y, uint8_t* samples)>;

// components 1 (grey), 3 (RGB) or 4 (CMYK, written with Adobe's marker, so samples are inverted).
inline std::vector<uint8_t> MakeJpeg(int width, int height, int components, const TSampleFunction& samples,
                                     int quality = 95) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width * components));
  while (info.next_scanline < info.image_height) {
    for (int x = 0; x < width; ++x)
      samples(x, static_cast<int>(info.next_scanline), &row[static_cast<size_t>(x * components)]);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

namespace detail {
inline void AppendPng(png_structp png, png_bytep data, png_size_t length) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  bytes->insert(bytes->end(), data, data + length);
}
inline void FlushPng(png_structp) {}
}  // namespace detail

// colourType and bitDepth as IHDR stores them; samples per pixel follow the colour type.
// palette: RGB triples; paletteAlpha: the tRNS chunk of a palette image (empty: none).
inline std::vector<uint8_t> MakePng(int width, int height, int colourType, int bitDepth, const TSampleFunction& samples,
                                    const std::vector<uint8_t>& palette = {},
                                    const std::vector<uint8_t>& paletteAlpha = {}) {
  std::vector<uint8_t> bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("test PNG could not be written");
  png_set_write_fn(png, &bytes, detail::AppendPng, detail::FlushPng);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bitDepth, colourType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> colours;
  for (size_t i = 0; i + 2 < palette.size(); i += 3) colours.push_back({palette[i], palette[i + 1], palette[i + 2]});
  if (!colours.empty()) png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
  if (!paletteAlpha.empty())
    png_set_tRNS(png, info, paletteAlpha.data(), static_cast<int>(paletteAlpha.size()), nullptr);
  png_write_info(png, info);
  const int channels = colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                       : colourType == PNG_COLOR_TYPE_RGB      ? 3
                       : colourType == PNG_COLOR_TYPE_RGBA     ? 4
                                                               : 1;
  if (bitDepth < 8) png_set_packing(png);
  std::vector<uint8_t> row(static_cast<size_t>(width * channels));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) samples(x, y, &row[static_cast<size_t>(x * channels)]);
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

// A stripped TIFF file: samplesPerPixel samples of bits each, photometric as the tag stores it;
// with extraAlpha the last sample is unassociated alpha.
inline void WriteTiff(const std::string& fileName, int width, int height, int samplesPerPixel, int bits,
                      int photometric, bool extraAlpha, const std::vector<uint8_t>& pixelBytes) {
  TIFF* tiff = TIFFOpen(fileName.c_str(), "w");
  if (!tiff) throw std::runtime_error("test TIFF could not be created");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(samplesPerPixel));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bits));
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(photometric));
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
  if (extraAlpha) {
    const uint16_t kinds[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, kinds);
  }
  TIFFWriteEncodedStrip(tiff, 0, const_cast<uint8_t*>(pixelBytes.data()), static_cast<tmsize_t>(pixelBytes.size()));
  TIFFClose(tiff);
}

}  // namespace glyphmill::test
