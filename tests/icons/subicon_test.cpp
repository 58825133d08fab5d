#include "icons/subicon.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "icons/advancedicon.h"
#include "imaging/bitmaptools.h"
#include "platform/png_codec.h"
#include "support/byte_reader.h"
#include "support/errors.h"

namespace glyphmill {
namespace {

// A 40-byte info header with doubled height, followed by zeroed bits of the right length.
std::vector<uint8_t> DibBytes(int32_t width, int32_t height, uint16_t planes, uint16_t bitCount,
                              bool withBits = false) {
  std::vector<uint8_t> bytes(40, 0);
  StoreU32LE(&bytes[0], 40);
  StoreU32LE(&bytes[4], static_cast<uint32_t>(width));
  StoreU32LE(&bytes[8], static_cast<uint32_t>(height) * 2);
  StoreU16LE(&bytes[12], planes);
  StoreU16LE(&bytes[14], bitCount);
  if (withBits) {
    const int depth = planes * bitCount;
    const size_t table = depth <= 8 ? 4u << depth : 0;
    bytes.resize(40 + table + static_cast<size_t>(RowBytes(width, depth) + RowBytes(width, 1)) * height, 0);
  }
  return bytes;
}

// A PNG stream of just the signature, an IHDR and an IEND (enough for the header walk).
std::vector<uint8_t> PngHeaderOnly(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType) {
  std::vector<uint8_t> bytes(PngSignature, PngSignature + 8);
  auto chunk = [&](const char* type, std::vector<uint8_t> data) {
    uint8_t length[4] = {uint8_t(data.size() >> 24), uint8_t(data.size() >> 16), uint8_t(data.size() >> 8),
                         uint8_t(data.size())};
    bytes.insert(bytes.end(), length, length + 4);
    bytes.insert(bytes.end(), type, type + 4);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), 4, 0);
  };
  chunk("tEXt", {'a', 0, 'b'});
  std::vector<uint8_t> ihdr = {uint8_t(width >> 24),
                               uint8_t(width >> 16),
                               uint8_t(width >> 8),
                               uint8_t(width),
                               uint8_t(height >> 24),
                               uint8_t(height >> 16),
                               uint8_t(height >> 8),
                               uint8_t(height),
                               bitDepth,
                               colorType,
                               0,
                               0,
                               0};
  chunk("IHDR", ihdr);
  chunk("IEND", {});
  return bytes;
}

// A 32-bit picture with a soft alpha ramp, a transparent corner and distinct colours.
TBitmap Picture32(int width, int height) {
  TBitmap bitmap = NewBitmap32(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = bitmap.ScanLine(y) + 4 * x;
      p[0] = static_cast<uint8_t>(x * 7);
      p[1] = static_cast<uint8_t>(y * 5);
      p[2] = static_cast<uint8_t>(x + y);
      p[3] = (x < 3 && y < 3) ? 0 : static_cast<uint8_t>(std::min(255, 40 + x * 9));
    }
  return bitmap;
}

TEST(SubIconTest, EntryFromDibHeader) {
  struct TCase {
    int32_t width, height;
    uint16_t planes, bits;
    uint8_t bWidth, bHeight, bColorCount;
    bool invalid;
  };
  const TCase cases[] = {
      {256, 256, 1, 32, 0, 0, 0, false}, {255, 255, 1, 32, 255, 255, 0, false}, {0, 64, 1, 8, 64, 64, 0, false},
      {48, 0, 1, 4, 48, 48, 16, false},  {16, 16, 1, 1, 16, 16, 2, false},      {5999, 16, 1, 24, 0, 16, 0, false},
      {6000, 16, 1, 24, 0, 16, 0, true}, {16, 6000, 1, 24, 16, 0, 0, true},     {16, 16, 1, 33, 16, 16, 0, true},
      {-16, 16, 1, 24, 0, 16, 0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
    std::vector<uint8_t> bytes = DibBytes(c.width, c.height, c.planes, c.bits);
    if (c.height == 0) StoreU32LE(&bytes[8], 1);  // biHeight below 2
    if (c.invalid) {
      try {
        TSubIcon image(TIconEntry{}, bytes);
        FAIL() << "accepted";
      } catch (const EReadError& e) {
        EXPECT_STREQ("Invalid image", e.what());
      }
      continue;
    }
    TSubIcon image(TIconEntry{}, bytes);
    EXPECT_EQ(c.bWidth, image.Entry().bWidth);
    EXPECT_EQ(c.bHeight, image.Entry().bHeight);
    EXPECT_EQ(c.bColorCount, image.Entry().bColorCount);
    EXPECT_EQ(c.planes * c.bits, image.GetBitsPerPixel());
    EXPECT_EQ(bytes.size(), image.Entry().dwBytesInRes);
    EXPECT_FALSE(image.Packed());
  }
}

TEST(SubIconTest, ShortDibIsInvalidAndEmptyImageIsZero) {
  EXPECT_THROW(TSubIcon(TIconEntry{}, std::vector<uint8_t>(10, 0)), EReadError);
  const TSubIcon empty;
  EXPECT_EQ(0, empty.GetWidth());
  EXPECT_EQ(0, empty.GetHeight());
  EXPECT_EQ(0, empty.GetBitsPerPixel());
  TBitmap colour;
  colour.SetSize(4, 4);
  empty.RenderBitmaps(nullptr, &colour, nullptr, 0);
  EXPECT_TRUE(colour.Empty());

  // Bytes that end after the header render as blank bitmaps of the declared size.
  const TSubIcon cut(TIconEntry{}, DibBytes(8, 6, 1, 4));
  TBitmap mask;
  cut.RenderBitmaps(nullptr, &colour, &mask, RGBColor(0, 0, 128));
  ASSERT_EQ(8, colour.Width());
  ASSERT_EQ(6, colour.Height());
  EXPECT_EQ(RGBColor(0, 0, 128), colour.GetPixel(7, 5));
  EXPECT_EQ(8, mask.Width());
  EXPECT_EQ(pf1bit, mask.PixelFormat());
}

TEST(SubIconTest, PngHeaderSizeAndDepth) {
  struct TCase {
    uint8_t bitDepth, colorType;
    int depth;
  };
  const TCase cases[] = {{8, 6, 32}, {16, 6, 64}, {8, 2, 24}, {16, 2, 48}, {4, 3, 4},
                         {8, 4, 8},  {16, 4, 16}, {8, 0, 8},  {1, 0, 1}};
  for (const TCase& c : cases) {
    const TPngHeaderInfo info = PngHeaderInfo(PngHeaderOnly(300, 200, c.bitDepth, c.colorType));
    EXPECT_EQ(300u, info.Width);
    EXPECT_EQ(200u, info.Height);
    EXPECT_EQ(c.depth, info.Depth) << int(c.bitDepth) << "/" << int(c.colorType);
  }
  std::vector<uint8_t> truncated = PngHeaderOnly(300, 200, 8, 6);
  truncated.resize(8 + 12 + 3 + 6);  // cut inside the IHDR chunk
  EXPECT_EQ(0, PngHeaderInfo(truncated).Depth);
  std::vector<uint8_t> noHeader(PngSignature, PngSignature + 8);
  noHeader.insert(noHeader.end(), {0xFF, 0xFF, 0xFF, 0xF0, 'x', 'x', 'x', 'x'});
  EXPECT_EQ(0u, PngHeaderInfo(noHeader).Width);
}

TEST(SubIconTest, Description) {
  EXPECT_EQ("16x16x16", TSubIcon(TIconEntry{}, DibBytes(16, 16, 1, 4)).GetDescription());
  EXPECT_EQ("256x256x32bpp", TSubIcon(TIconEntry{}, DibBytes(256, 256, 1, 32)).GetDescription());
  EXPECT_EQ("48x48x16M", TSubIcon(TIconEntry{}, DibBytes(48, 48, 1, 24)).GetDescription());
  EXPECT_EQ("48x48x", TSubIcon(TIconEntry{}, DibBytes(48, 48, 1, 2)).GetDescription());
}

TEST(SubIconTest, HostileLengthsFailBeforeAllocating) {
  TMemoryStream stream(std::vector<uint8_t>(64, 0));
  TIconEntry entry;
  entry.dwBytesInRes = 0xFFFFFFF0u;
  EXPECT_THROW(TSubIcon(stream, entry, TEntryRead::Sequential), EStreamError);
  // A record whose length runs past the stream leaves an empty image.
  TMemoryStream record;
  record.WriteU8(12);
  entry.Write(record);
  record.WriteU32LE(0);
  record.SetPosition(0);
  TSubIcon image(TIconEntry{}, DibBytes(16, 16, 1, 4, true));
  image.LoadRecord(record);
  EXPECT_TRUE(image.Empty());
  EXPECT_EQ(0u, image.Entry().dwBytesInRes);
}

TEST(SubIconTest, PrepareImageFromBitmapLayout) {
  TBitmap picture;
  picture.SetPixelFormat(pf4bit);
  picture.SetSize(20, 10);
  picture.FillRect(Rect(0, 0, 20, 10), RGBColor(255, 0, 0));
  TBitmap mask = CreateFilledBitmap(pf1bit, 20, 10, 0);
  mask.SetPixel(0, 0, 0xFFFFFF);
  const auto image = PrepareImageFromBitmap(picture, &mask, 0);
  const auto data = image->Data();
  ASSERT_GE(data.size(), 40u);
  EXPECT_EQ(20, image->GetWidth());
  EXPECT_EQ(10, image->GetHeight());
  EXPECT_EQ(4, image->GetBitsPerPixel());
  EXPECT_EQ(16, image->Entry().bColorCount);
  EXPECT_EQ(20u, LoadU32LE(&data[4]));
  EXPECT_EQ(20u, LoadU32LE(&data[8]));  // doubled height
  const size_t colourBits = static_cast<size_t>(RowBytes(20, 4)) * 10;
  const size_t maskBits = static_cast<size_t>(RowBytes(20, 1)) * 10;
  EXPECT_EQ(40 + 16 * 4 + colourBits + maskBits, data.size());
  EXPECT_EQ(colourBits + maskBits, LoadU32LE(&data[20]));
  // The top-left pixel is the first bit of the last mask row.
  EXPECT_EQ(0x80, data[data.size() - static_cast<size_t>(RowBytes(20, 1))]);

  TBitmap colour, renderedMask;
  image->RenderBitmaps(nullptr, &colour, &renderedMask, 0);
  EXPECT_EQ(RGBColor(255, 0, 0), colour.GetPixel(5, 5));
  EXPECT_EQ(0xFFFFFFu, renderedMask.GetPixel(0, 0));
  EXPECT_EQ(0u, renderedMask.GetPixel(1, 0));

  TBitmap nothing;
  const auto tiny = PrepareImageFromBitmap(nothing, nullptr, 0);
  EXPECT_EQ(1, tiny->GetWidth());
  EXPECT_EQ(1, tiny->GetHeight());
}

TEST(SubIconTest, AlphaMaskThresholdAndFill) {
  TBitmap picture = NewBitmap32(2, 1);
  picture.ScanLine(0)[3] = 80;
  picture.ScanLine(0)[7] = 81;
  TBitmap mask;
  const auto image = PrepareImageFromBitmap(picture, nullptr, 80);
  image->RenderBitmaps(nullptr, nullptr, &mask, 0);
  EXPECT_EQ(0xFFFFFFu, mask.GetPixel(0, 0));
  EXPECT_EQ(0u, mask.GetPixel(1, 0));
}

TEST(SubIconTest, CoreHeaderDibIsWidened) {
  // 12-byte header: 2 x 2 at 1 bit, two 3-byte table entries, two rows of 4 bytes.
  TMemoryStream dib;
  dib.WriteU32LE(12);
  dib.WriteU16LE(2);
  dib.WriteU16LE(2);
  dib.WriteU16LE(1);
  dib.WriteU16LE(1);
  const uint8_t table[6] = {0, 0, 0, 0xFF, 0xFF, 0xFF};
  dib.WriteBuffer(table, 6);
  const uint8_t bits[8] = {0x40, 0, 0, 0, 0x80, 0, 0, 0};
  dib.WriteBuffer(bits, 8);
  dib.SetPosition(0);
  const auto image = BuildImageFromDib(dib, nullptr, 0, dib.Size());
  const auto data = image->Data();
  ASSERT_EQ(40u + 8 + 8 + 8, data.size());
  EXPECT_EQ(40u, LoadU32LE(&data[0]));
  EXPECT_EQ(4u, LoadU32LE(&data[8]));
  EXPECT_EQ(2u, LoadU32LE(&data[32]));
  EXPECT_EQ(0xFFu, data[44]);
  EXPECT_EQ(0u, data[47]);
  TBitmap colour;
  image->RenderBitmaps(nullptr, &colour, nullptr, 0);
  EXPECT_EQ(0xFFFFFFu, colour.GetPixel(0, 0));
  EXPECT_EQ(0xFFFFFFu, colour.GetPixel(1, 1));
  EXPECT_EQ(0u, colour.GetPixel(1, 0));

  TMemoryStream badPlanes;
  badPlanes.WriteU32LE(12);
  badPlanes.WriteU16LE(2);
  badPlanes.WriteU16LE(2);
  badPlanes.WriteU16LE(2);
  badPlanes.WriteU16LE(1);
  badPlanes.SetPosition(0);
  try {
    BuildImageFromDib(badPlanes, nullptr, 0, badPlanes.Size());
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ("Bitmap image is not valid", e.what());
  }
}

TEST(SubIconTest, MonochromeOverWhiteBackground) {
  // 2 x 1: pixel 0 transparent with black colour (shows background), pixel 1 transparent with
  // white colour (inverts).
  TBitmap colour;
  MakeMonochrome(&colour);
  colour.SetSize(2, 1);
  colour.SetPixel(0, 0, 0);
  colour.SetPixel(1, 0, 0xFFFFFF);
  TBitmap mask = CreateFilledBitmap(pf1bit, 2, 1, 0xFFFFFF);
  const auto image = PrepareImageFromBitmap(colour, &mask, 0);
  TBitmap picture;
  image->RenderBitmaps(&picture, nullptr, nullptr, 0xFFFFFF);
  EXPECT_EQ(0xFFFFFFu, picture.GetPixel(0, 0));
  EXPECT_EQ(0u, picture.GetPixel(1, 0));
}

TEST(SubIconTest, PngBytesAreExpandedAndPackedAgain) {
  const TBitmap source = Picture32(40, 30);
  TPNGImage png;
  png.Assign(source);
  TIconEntry entry;
  entry.wPlanes = 1;
  entry.wBitCount = 32;
  TSubIcon image(entry, png.SaveToBytes());
  EXPECT_TRUE(image.Packed());
  EXPECT_FALSE(image.IsPngData());
  EXPECT_EQ(40, image.GetWidth());
  EXPECT_EQ(30, image.GetHeight());
  EXPECT_EQ(32, image.GetBitsPerPixel());

  auto checkPixels = [&](const TSubIcon& icon) {
    TBitmap colour;
    icon.RenderBitmaps(nullptr, &colour, nullptr, 0);
    ASSERT_EQ(pf32bit, colour.PixelFormat());
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        if (source.ScanLine(y)[4 * x + 3] != 0) {
          ASSERT_EQ(0, std::memcmp(source.ScanLine(y) + 4 * x, colour.ScanLine(y) + 4 * x, 4)) << x << "," << y;
        }
  };
  checkPixels(image);

  TSubIcon packed;
  image.Pack(packed);
  EXPECT_TRUE(packed.IsPngData());
  EXPECT_TRUE(packed.Packed());
  EXPECT_EQ(image.Entry().wBitCount, packed.Entry().wBitCount);
  EXPECT_EQ(packed.Data().size(), packed.Entry().dwBytesInRes);
  checkPixels(packed);

  // Packing PNG bytes onto themselves changes nothing.
  const std::vector<uint8_t> before(packed.Data().begin(), packed.Data().end());
  packed.Pack(packed);
  EXPECT_EQ(before, std::vector<uint8_t>(packed.Data().begin(), packed.Data().end()));
}

TEST(SubIconTest, PackKeepsEveryDepthsVisiblePixels) {
  struct TCase {
    TPixelFormat format;
    int depth;
  };
  for (const TCase c : {TCase{pf1bit, 1}, TCase{pf4bit, 4}, TCase{pf8bit, 8}, TCase{pf24bit, 24}}) {
    SCOPED_TRACE(c.depth);
    TBitmap picture;
    if (c.format == pf1bit)
      MakeMonochrome(&picture);
    else
      picture.SetPixelFormat(c.format);
    picture.SetSize(12, 9);
    const TColor colours[] = {RGBColor(255, 0, 0), RGBColor(0, 0, 255), 0xFFFFFF, 0};
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 12; ++x) picture.SetPixel(x, y, colours[(x + y) % 4]);
    TBitmap mask = CreateFilledBitmap(pf1bit, 12, 9, 0);
    for (int x = 0; x < 12; ++x) mask.SetPixel(x, 0, 0xFFFFFF);
    for (int x = 0; x < 12; ++x) picture.SetPixel(x, 0, 0);
    const auto image = PrepareImageFromBitmap(picture, &mask, 0);
    TSubIcon packed;
    image->Pack(packed);
    ASSERT_TRUE(packed.IsPngData());
    TSubIcon expanded;
    packed.Unpack(expanded);
    EXPECT_EQ(c.depth, expanded.GetBitsPerPixel());
    TBitmap a, b, maskA, maskB;
    image->RenderBitmaps(nullptr, &a, &maskA, 0);
    expanded.RenderBitmaps(nullptr, &b, &maskB, 0);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 12; ++x) {
        ASSERT_EQ(maskA.GetPixel(x, y), maskB.GetPixel(x, y)) << x << "," << y;
        if (maskA.GetPixel(x, y) == 0) {
          ASSERT_EQ(a.GetPixel(x, y), b.GetPixel(x, y)) << x << "," << y;
        }
      }
  }
}

TEST(SubIconTest, PalettePngWithPartialAlphaStays32Bit) {
  TBitmap picture;
  picture.SetPixelFormat(pf8bit);
  picture.SetSize(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) picture.SetIndex(x, y, x);
  TPNGImage png;
  png.Assign(picture);
  std::vector<uint8_t> bytes = png.SaveToBytes();
  // Add a tRNS chunk giving index 1 half alpha and index 0 none, before IDAT.
  uint8_t trns[] = {0, 0, 0, 2, 't', 'R', 'N', 'S', 0, 128, 0, 0, 0, 0};
  const uLong crc = crc32(0, trns + 4, 6);
  trns[10] = uint8_t(crc >> 24), trns[11] = uint8_t(crc >> 16), trns[12] = uint8_t(crc >> 8), trns[13] = uint8_t(crc);
  size_t idat = 8;
  while (std::memcmp(&bytes[idat + 4], "IDAT", 4) != 0) idat += 12 + LoadU32BE(&bytes[idat]);
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(idat), trns, trns + sizeof trns);
  TIconEntry entry;
  entry.wBitCount = 32;
  TSubIcon image(entry, bytes);
  ASSERT_EQ(32, image.GetBitsPerPixel());
  TBitmap colour, mask;
  image.RenderBitmaps(nullptr, &colour, &mask, 0);
  EXPECT_EQ(128, colour.ScanLine(0)[4 * 1 + 3]);
  EXPECT_EQ(0xFFFFFFu, mask.GetPixel(0, 0));
  EXPECT_EQ(0u, mask.GetPixel(1, 0));
}

TEST(SubIconTest, RecordsRoundTrip) {
  TSubIcon image(TIconEntry{}, DibBytes(16, 16, 1, 4, true));
  image.SetHotSpot({3, 7});
  TSubIcon empty;
  TMemoryStream stream;
  image.SaveRecord(stream);
  empty.SaveRecord(stream);
  image.WriteFiler(stream);
  stream.WriteU8(0x5A);
  stream.SetPosition(0);

  TSubIcon record;
  record.LoadRecord(stream);
  EXPECT_EQ(image.Entry(), record.Entry());
  EXPECT_TRUE(std::equal(image.Data().begin(), image.Data().end(), record.Data().begin(), record.Data().end()));
  TSubIcon second(TIconEntry{}, DibBytes(8, 8, 1, 1, true));
  second.LoadRecord(stream);
  EXPECT_TRUE(second.Empty());
  TSubIcon filer;
  filer.ReadFiler(stream);
  EXPECT_EQ((THotSpot{3, 7}), filer.HotSpot());
  EXPECT_EQ(image.Entry(), filer.Entry());
  EXPECT_EQ(0x5A, stream.ReadU8());

  stream.SetPosition(0);
  TSubIcon::SkipRecord(stream);
  TSubIcon::SkipRecord(stream);
  EXPECT_EQ(12, stream.ReadU8());

  // A packed DIB image writes the record of its PNG form, which LoadRecord keeps as PNG.
  TSubIcon packedSource(TIconEntry{}, DibBytes(16, 16, 1, 32, true));
  packedSource.SetPacked(true);
  TMemoryStream packedStream;
  packedSource.SaveRecord(packedStream);
  packedStream.SetPosition(0);
  TSubIcon packed;
  packed.LoadRecord(packedStream);
  EXPECT_TRUE(packed.IsPngData());
  EXPECT_TRUE(packed.Packed());
  EXPECT_EQ(16, packed.GetWidth());
}

TEST(SubIconTest, RawDataAndHeaderlessForms) {
  const std::vector<uint8_t> dib = DibBytes(16, 16, 1, 4, true);
  TMemoryStream raw;
  raw.WriteU16LE(5);
  raw.WriteU16LE(9);
  raw.WriteBytes(dib);
  TSubIcon cursor;
  cursor.LoadRawData(raw, true);
  EXPECT_EQ((THotSpot{5, 9}), cursor.HotSpot());
  EXPECT_EQ(dib.size(), cursor.Data().size());
  EXPECT_EQ(16, cursor.Entry().bWidth);

  TMemoryStream headerless;
  headerless.WriteU16LE(1);
  TIconEntry entry;
  entry.dwBytesInRes = static_cast<uint32_t>(dib.size());
  entry.Write(headerless);
  headerless.WriteU32LE(18);
  headerless.WriteBytes(dib);
  TSubIcon image;
  image.LoadHeaderlessIco(headerless);
  EXPECT_EQ(dib.size(), image.Data().size());
  EXPECT_EQ(4, image.GetBitsPerPixel());

  headerless.SetSize(30);
  image.LoadHeaderlessIco(headerless);
  EXPECT_TRUE(image.Empty());
}

TEST(SubIconTest, MacMarks) {
  TSubIcon image;
  image.MarkMacCompressed(true);
  EXPECT_TRUE(image.IsMacCompressed());
  image.MarkMacImage(false);
  EXPECT_EQ((THotSpot{0, MacMarkY}), image.HotSpot());
  image.MarkMacImage(true);
  image.MarkMacCompressed(false);
  EXPECT_EQ((THotSpot{MacMarkX, 0}), image.HotSpot());
  EXPECT_FALSE(image.IsMacCompressed());
}

TEST(SubIconTest, CopyAndDraw) {
  const TBitmap source = Picture32(8, 8);
  auto image = PrepareImageFromBitmap(source, nullptr, 0);
  image->SetPacked(true);
  image->SetHotSpot({1, 2});
  const auto copy = TSubIcon::CreateCopy(*image);
  EXPECT_TRUE(copy->Packed());
  EXPECT_EQ((THotSpot{1, 2}), copy->HotSpot());
  EXPECT_EQ(typeid(TSubIcon), typeid(*copy));
  EXPECT_TRUE(std::equal(image->Data().begin(), image->Data().end(), copy->Data().begin(), copy->Data().end()));

  // Drawing blends over the canvas: a fully transparent pixel leaves it, an opaque one replaces it.
  TBitmap canvas;
  canvas.SetPixelFormat(pf24bit);
  canvas.SetSize(10, 10);
  canvas.FillRect(Rect(0, 0, 10, 10), RGBColor(10, 20, 30));
  copy->Draw(canvas, 1, 1);
  EXPECT_EQ(RGBColor(10, 20, 30), canvas.GetPixel(1, 1));
  TBitmap bitmap;
  image->AssignTo(bitmap);
  EXPECT_EQ(pf32bit, bitmap.PixelFormat());
  EXPECT_EQ(8, bitmap.Width());
}

}  // namespace
}  // namespace glyphmill
