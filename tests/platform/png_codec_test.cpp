#include "platform/png_codec.h"

#include <gtest/gtest.h>
#include <png.h>

#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

// One PNG variant the tests write with libpng itself, independently of our encoder.
struct TVariant {
  const char* FName;
  int FColorType;
  int FBitDepth;
  bool FInterlaced;
  bool FTransparency;  // tRNS chunk
};

int Channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
  }
}

// Sample c of pixel (x, y) at the variant's bit depth; 16-bit samples are v × 257 so that scaling
// to 8 bits is exact.
int Sample(const TVariant& v, int x, int y, int c) {
  const int max = v.FBitDepth == 16 ? 255 : (1 << v.FBitDepth) - 1;
  const int value = (x * 7 + y * 13 + c * 29) % (max + 1);
  return v.FBitDepth == 16 ? value * 257 : value;
}

void WriteCallback(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

png_color PaletteColor(int i) {
  return png_color{static_cast<png_byte>(i * 3), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 5)};
}

std::vector<uint8_t> WriteVariant(const TVariant& v, int width, int height) {
  std::vector<uint8_t> out;
  const int channels = Channels(v.FColorType);
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    auto& row = rows[static_cast<size_t>(y)];
    row.assign(static_cast<size_t>((width * channels * v.FBitDepth + 7) / 8), 0);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        const int s = Sample(v, x, y, c);
        const int index = x * channels + c;
        if (v.FBitDepth == 16) {
          row[static_cast<size_t>(2 * index)] = static_cast<uint8_t>(s >> 8);
          row[static_cast<size_t>(2 * index + 1)] = static_cast<uint8_t>(s);
        } else if (v.FBitDepth == 8) {
          row[static_cast<size_t>(index)] = static_cast<uint8_t>(s);
        } else {
          const int bit = index * v.FBitDepth;
          row[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(s << (8 - v.FBitDepth - bit % 8));
        }
      }
  }
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng failed writing " << v.FName;
    return {};
  }
  png_set_write_fn(png, &out, WriteCallback, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), v.FBitDepth, v.FColorType,
               v.FInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[256];
  png_byte alphas[256];
  png_color_16 key{};
  if (v.FColorType == PNG_COLOR_TYPE_PALETTE) {
    const int count = 1 << v.FBitDepth;
    for (int i = 0; i < count; ++i) palette[i] = PaletteColor(i);
    png_set_PLTE(png, info, palette, count);
    if (v.FTransparency) {
      // Entry 0 transparent, entry 1 half, the rest opaque (a short tRNS chunk).
      alphas[0] = 0;
      alphas[1] = 128;
      png_set_tRNS(png, info, alphas, 2, nullptr);
    }
  } else if (v.FTransparency) {
    key.gray = static_cast<png_uint_16>(Sample(v, 0, 0, 0));
    key.red = static_cast<png_uint_16>(Sample(v, 0, 0, 0));
    key.green = static_cast<png_uint_16>(Sample(v, 0, 0, 1));
    key.blue = static_cast<png_uint_16>(Sample(v, 0, 0, 2));
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// The colour and alpha the decoder must give for pixel (x, y) of a variant.
void Expected(const TVariant& v, int x, int y, TColor& color, int& alpha) {
  auto to8 = [&v](int s) {
    switch (v.FBitDepth) {
      case 1: return s * 255;
      case 2: return s * 85;
      case 4: return s * 17;
      case 16: return s / 257;
      default: return s;
    }
  };
  alpha = 255;
  switch (v.FColorType) {
    case PNG_COLOR_TYPE_PALETTE: {
      const int index = Sample(v, x, y, 0);
      const png_color c = PaletteColor(index);
      color = RGBColor(c.red, c.green, c.blue);
      if (v.FTransparency) alpha = index == 0 ? 0 : index == 1 ? 128 : 255;
      return;
    }
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      const auto g = static_cast<uint8_t>(to8(Sample(v, x, y, 0)));
      color = RGBColor(g, g, g);
      if (v.FColorType == PNG_COLOR_TYPE_GRAY_ALPHA) alpha = to8(Sample(v, x, y, 1));
      if (v.FTransparency && Sample(v, x, y, 0) == Sample(v, 0, 0, 0)) alpha = 0;
      return;
    }
    default: {
      color = RGBColor(static_cast<uint8_t>(to8(Sample(v, x, y, 0))), static_cast<uint8_t>(to8(Sample(v, x, y, 1))),
                       static_cast<uint8_t>(to8(Sample(v, x, y, 2))));
      if (v.FColorType == PNG_COLOR_TYPE_RGB_ALPHA) alpha = to8(Sample(v, x, y, 3));
      if (v.FTransparency && Sample(v, x, y, 0) == Sample(v, 0, 0, 0) && Sample(v, x, y, 1) == Sample(v, 0, 0, 1) &&
          Sample(v, x, y, 2) == Sample(v, 0, 0, 2))
        alpha = 0;
    }
  }
}

// Colour and alpha of a decoded pixel, whatever working form the decoder chose.
void Decoded(const TPNGImage& image, int x, int y, TColor& color, int& alpha) {
  const TBitmap& bitmap = image.Bitmap();
  color = bitmap.GetPixel(x, y);
  alpha = 255;
  if (bitmap.PixelFormat() == pf32bit) {
    alpha = bitmap.ScanLine(y)[4 * x + 3];
  } else if (!image.PaletteAlpha().empty()) {
    alpha = image.PaletteAlpha()[static_cast<size_t>(bitmap.GetIndex(x, y))];
  }
}

const TVariant Variants[] = {
    {"grey1", PNG_COLOR_TYPE_GRAY, 1, false, false},
    {"grey2", PNG_COLOR_TYPE_GRAY, 2, false, false},
    {"grey4", PNG_COLOR_TYPE_GRAY, 4, false, false},
    {"grey8", PNG_COLOR_TYPE_GRAY, 8, false, false},
    {"grey16", PNG_COLOR_TYPE_GRAY, 16, false, false},
    {"grey8_trns", PNG_COLOR_TYPE_GRAY, 8, false, true},
    {"grey_alpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
    {"grey_alpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, true, false},
    {"rgb8", PNG_COLOR_TYPE_RGB, 8, false, false},
    {"rgb16", PNG_COLOR_TYPE_RGB, 16, false, false},
    {"rgb8_trns", PNG_COLOR_TYPE_RGB, 8, true, true},
    {"palette1", PNG_COLOR_TYPE_PALETTE, 1, false, false},
    {"palette2", PNG_COLOR_TYPE_PALETTE, 2, false, true},
    {"palette4_interlaced", PNG_COLOR_TYPE_PALETTE, 4, true, true},
    {"palette8", PNG_COLOR_TYPE_PALETTE, 8, false, true},
    {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},
    {"rgba8_interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true, false},
    {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, false},
};

TEST(PngCodec, DecodesEveryColourTypeAndBitDepth) {
  constexpr int Width = 13, Height = 9;
  for (const TVariant& v : Variants) {
    SCOPED_TRACE(v.FName);
    TPNGImage image;
    image.LoadFromBytes(WriteVariant(v, Width, Height));
    EXPECT_EQ(image.Header().FWidth, 13u);
    EXPECT_EQ(image.Header().FBitDepth, v.FBitDepth);
    EXPECT_EQ(image.Header().FColorType, v.FColorType);
    EXPECT_EQ(image.Header().FInterlaced, v.FInterlaced);
    EXPECT_EQ(image.HasTransparencyChunk(), v.FTransparency);
    EXPECT_EQ(image.HasAlpha(),
              v.FTransparency || v.FColorType == PNG_COLOR_TYPE_GRAY_ALPHA || v.FColorType == PNG_COLOR_TYPE_RGB_ALPHA);
    ASSERT_EQ(image.Width(), Width);
    ASSERT_EQ(image.Height(), Height);
    if (v.FColorType == PNG_COLOR_TYPE_PALETTE) {
      EXPECT_EQ(image.Bitmap().PixelFormat(), pf8bit);
      EXPECT_EQ(image.Palette().size(), static_cast<size_t>(1 << v.FBitDepth));
      EXPECT_EQ(image.PaletteAlpha().size(), v.FTransparency ? image.Palette().size() : 0u);
    }
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        TColor expectedColor = 0, actualColor = 0;
        int expectedAlpha = 0, actualAlpha = 0;
        Expected(v, x, y, expectedColor, expectedAlpha);
        Decoded(image, x, y, actualColor, actualAlpha);
        ASSERT_EQ(actualColor, expectedColor) << x << "," << y;
        ASSERT_EQ(actualAlpha, expectedAlpha) << x << "," << y;
      }
  }
}

TEST(PngCodec, AssignToKeepsTheFilesPaletteDepth) {
  const struct {
    int FBitDepth;
    TPixelFormat FFormat;
  } cases[] = {{1, pf1bit}, {2, pf4bit}, {4, pf4bit}, {8, pf8bit}};
  for (const auto& c : cases) {
    const TVariant v{"palette", PNG_COLOR_TYPE_PALETTE, c.FBitDepth, false, false};
    TPNGImage image;
    image.LoadFromBytes(WriteVariant(v, 11, 5));
    TBitmap bitmap;
    image.AssignTo(bitmap);
    ASSERT_EQ(bitmap.PixelFormat(), c.FFormat);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 11; ++x) ASSERT_EQ(bitmap.GetIndex(x, y), Sample(v, x, y, 0));
  }
}

TBitmap NoisyBitmap(TPixelFormat format, int width, int height) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(format);
  bitmap.SetSize(width, height);
  uint32_t seed = 12345;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int i = 0; i < bitmap.RowByteCount(); ++i) {
      seed = seed * 1103515245 + 12345;
      row[i] = static_cast<uint8_t>(seed >> 16);
    }
  }
  return bitmap;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
  if (a.StorageBits() < 8) {
    for (int y = 0; y < a.Height(); ++y)
      for (int x = 0; x < a.Width(); ++x)
        if (a.GetIndex(x, y) != b.GetIndex(x, y)) return false;
  } else {
    const int used = a.Width() * a.StorageBits() / 8;
    for (int y = 0; y < a.Height(); ++y)
      if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<size_t>(used)) != 0) return false;
  }
  return a.Palette() == b.Palette();
}

TEST(PngCodec, RoundTripsEveryBitmapFormatItWrites) {
  const struct {
    TPixelFormat FFormat;
    int FColorType;
    int FBitDepth;
  } cases[] = {{pf32bit, pctRGBA, 8},
               {pf24bit, pctRGB, 8},
               {pf8bit, pctPalette, 8},
               {pf4bit, pctPalette, 4},
               {pf1bit, pctPalette, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.FFormat);
    TBitmap bitmap = NoisyBitmap(c.FFormat, 37, 23);
    if (c.FFormat == pf8bit) {
      std::vector<TRGBQuad> palette(256);
      for (int i = 0; i < 256; ++i)
        palette[static_cast<size_t>(i)] = TRGBQuad{uint8_t(i), uint8_t(i * 7), uint8_t(255 - i), 0};
      bitmap.SetPalette(palette);
    }
    TPNGImage out;
    out.Assign(bitmap);
    TPNGImage in;
    in.LoadFromBytes(out.SaveToBytes());
    EXPECT_EQ(in.Header().FColorType, c.FColorType);
    EXPECT_EQ(in.Header().FBitDepth, c.FBitDepth);
    TBitmap decoded;
    in.AssignTo(decoded);
    EXPECT_TRUE(SamePixels(decoded, bitmap));
  }
}

TEST(PngCodec, PaletteImageWithOneTransparentIndex) {
  TBitmap bitmap = NoisyBitmap(pf8bit, 16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) bitmap.SetIndex(x, y, (x + y) % 5);
  TPNGImage out;
  out.Assign(bitmap, 3);
  TPNGImage in;
  in.LoadFromBytes(out.SaveToBytes());
  ASSERT_EQ(in.Header().FColorType, pctPalette);
  ASSERT_EQ(in.Palette().size(), 5u);  // only the entries in use are written
  EXPECT_EQ(in.PaletteAlpha(), (std::vector<uint8_t>{255, 255, 255, 0, 255}));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(in.Palette()[static_cast<size_t>(i)], bitmap.Palette()[static_cast<size_t>(i)]);
}

std::vector<uint8_t> SamplePng(bool interlaced) {
  return WriteVariant({"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8, interlaced, false}, 40, 30);
}

TEST(PngCodec, CutOrDamagedStreamsFailCleanly) {
  for (bool interlaced : {false, true}) {
    const std::vector<uint8_t> good = SamplePng(interlaced);
    for (size_t length = 0; length < good.size(); ++length) {
      TPNGImage image;
      try {
        image.LoadFromBytes(std::span(good.data(), length));
        // Only a cut inside the chunks after the last row may still give the picture.
        EXPECT_EQ(image.Width(), 40);
      } catch (const EReadError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Invalid PNG image: ", 0), 0u) << error.what();
      }
    }
    for (size_t position = 0; position < good.size(); position += 3) {
      std::vector<uint8_t> bad = good;
      bad[position] ^= 0x5A;
      TPNGImage image;
      try {
        image.LoadFromBytes(bad);
      } catch (const EReadError&) {
      }
    }
  }
}

TEST(PngCodec, FailureKeepsThePreviousPicture) {
  const std::vector<uint8_t> good = SamplePng(false);
  TPNGImage image;
  image.LoadFromBytes(good);
  const std::vector<uint8_t> cut(good.begin(), good.begin() + 60);
  EXPECT_THROW(image.LoadFromBytes(cut), EReadError);
  EXPECT_EQ(image.Width(), 40);
  EXPECT_EQ(image.Header().FColorType, pctRGBA);
}

// A valid header for a huge picture followed by a tiny IDAT: refused before allocation, above the
// size cap with the message every reader gives for it.
TEST(PngCodec, RefusesPicturesTheDataCannotJustify) {
  struct TCase {
    uint32_t Width, Height;
    const char* Message;
  };
  for (const auto& [width, height, message] :
       {TCase{20000, 20000, "Picture too large (20000 x 20000)"},
        TCase{8000, 8000, "Invalid PNG image: image data too short for the picture size"}}) {
    std::vector<uint8_t> bytes = SamplePng(false);
    // IHDR data starts at offset 16; patch the size and the chunk's CRC.
    for (int i = 0; i < 4; ++i) {
      bytes[static_cast<size_t>(16 + i)] = static_cast<uint8_t>(width >> (24 - 8 * i));
      bytes[static_cast<size_t>(20 + i)] = static_cast<uint8_t>(height >> (24 - 8 * i));
    }
    const uint32_t crc = static_cast<uint32_t>(crc32(0, bytes.data() + 12, 17));
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(29 + i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    TPNGImage image;
    try {
      image.LoadFromBytes(bytes);
      ADD_FAILURE() << width << " was read";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
}

TEST(PngCodec, LoadFromStreamStopsAfterTheImage) {
  std::vector<uint8_t> bytes = SamplePng(false);
  const size_t size = bytes.size();
  bytes.insert(bytes.end(), {1, 2, 3, 4});
  TMemoryStream stream(bytes);
  TPNGImage image;
  image.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(size));
  EXPECT_EQ(image.Width(), 40);
}

// Every PNG of the shared corpus decodes to what Pillow reads from it.
TEST(PngCodec, CorpusMatchesAnIndependentReader) {
  const std::filesystem::path folder = test::CorpusDir() / "png";
  if (!std::filesystem::exists(folder) || !test::ToolExists("/usr/bin/python3") ||
      test::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    GTEST_SKIP() << "corpus or Pillow missing";
  test::TTempDir temp;
  // One Pillow run converts every file to raw RGBA (nothing for 16-bit grey, which it keeps at 16 bits).
  const std::string command =
      "/usr/bin/python3 -c \"import sys, os\nfrom PIL import Image\nfor n in os.listdir(sys.argv[1]):\n"
      "  im = Image.open(os.path.join(sys.argv[1], n))\n"
      "  open(os.path.join(sys.argv[2], n + '.rgba'), 'wb').write(b'' if im.mode.startswith('I') else "
      "im.convert('RGBA').tobytes())\" '" +
      folder.string() + "' '" + temp.Path().string() + "'";
  ASSERT_EQ(test::RunCommand(command), 0);
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    TPNGImage image;
    image.LoadFromFile(entry.path().string());
    const std::filesystem::path raw = temp / (name + ".rgba");
    const std::vector<uint8_t> rgba = test::ReadAll(raw);
    if (rgba.empty()) continue;
    ASSERT_EQ(rgba.size(), static_cast<size_t>(image.Width()) * static_cast<size_t>(image.Height()) * 4);
    const int tolerance = image.Header().FBitDepth == 16 ? 1 : 0;
    // Pillow compares the tRNS grey of 1/2/4-bit files with the scaled-up samples, so its alpha is
    // wrong there; the colours still count.
    const bool alphaComparable = !(image.Header().FColorType == pctGrey && image.Header().FBitDepth < 8);
    for (int y = 0; y < image.Height(); ++y)
      for (int x = 0; x < image.Width(); ++x) {
        TColor color = 0;
        int alpha = 0;
        Decoded(image, x, y, color, alpha);
        const uint8_t* p =
            rgba.data() + (static_cast<size_t>(y) * static_cast<size_t>(image.Width()) + static_cast<size_t>(x)) * 4;
        ASSERT_NEAR(GetRValue(color), p[0], tolerance) << x << "," << y;
        ASSERT_NEAR(GetGValue(color), p[1], tolerance) << x << "," << y;
        ASSERT_NEAR(GetBValue(color), p[2], tolerance) << x << "," << y;
        if (alphaComparable) {
          ASSERT_NEAR(alpha, p[3], tolerance) << x << "," << y;
        }
      }
    ++checked;
  }
  EXPECT_GT(checked, 40);
}

// Our encoder's output is read by Pillow with the same pixels.
TEST(PngCodec, IndependentReaderAcceptsOurFiles) {
  if (!test::ToolExists("/usr/bin/python3") || test::RunCommand("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    GTEST_SKIP() << "Pillow missing";
  test::TTempDir temp;
  TBitmap rgba = NoisyBitmap(pf32bit, 9, 7);
  TPNGImage png;
  png.Assign(rgba);
  png.SaveToFile((temp / "rgba.png").string());
  TBitmap palette = NoisyBitmap(pf8bit, 9, 7);
  png.Assign(palette, palette.GetIndex(0, 0));
  png.SaveToFile((temp / "palette.png").string());
  std::string output;
  ASSERT_EQ(
      test::RunCommand(
          "/usr/bin/python3 -c \"from PIL import Image; import sys\n"
          "for n in ('rgba', 'palette'):\n"
          "  im = Image.open(sys.argv[1] + '/' + n + '.png'); im.load()\n"
          "  print(im.mode, im.size, im.convert('RGBA').getpixel((0, 0)), im.convert('RGBA').getpixel((8, 6)))\" '" +
              temp.Path().string() + "'",
          &output),
      0);
  auto quad = [](const TBitmap& b, int x, int y, int alpha) {
    const TColor c = b.GetPixel(x, y);
    return "(" + std::to_string(GetRValue(c)) + ", " + std::to_string(GetGValue(c)) + ", " +
           std::to_string(GetBValue(c)) + ", " + std::to_string(alpha) + ")";
  };
  const std::string expected = "RGBA (9, 7) " + quad(rgba, 0, 0, rgba.ScanLine(0)[3]) + " " +
                               quad(rgba, 8, 6, rgba.ScanLine(6)[35]) + "\nP (9, 7) " + quad(palette, 0, 0, 0) + " " +
                               quad(palette, 8, 6, palette.GetIndex(8, 6) == palette.GetIndex(0, 0) ? 0 : 255) + "\n";
  EXPECT_EQ(output, expected);
}

}  // namespace
}  // namespace glyphmill
