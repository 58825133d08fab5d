#include <gtest/gtest.h>

#include <cstring>

#include "imaging/bitmapfix32.h"
#include "platform/bmp_builder.h"
#include "support/errors.h"
#include "support/streams.h"

namespace glyphmill {
namespace {

using test::MakeBmp;
using test::TBmpBuild;

TBmpBuild Picture(int bits, uint8_t alpha) {
  TBmpBuild b;
  b.Width = 3;
  b.Height = 2;
  b.Bits = bits;
  const uint32_t a = static_cast<uint32_t>(alpha) << 24;
  b.Rows = {{a | 0xFF0000, a | 0x00FF00, a | 0x0000FF}, {a | 0xFFFFFF, a | 0x000000, a | 0x102030}};
  return b;
}

struct TRepairCase {
  const char* Name;
  TBmpBuild Build;
  size_t Prefix;  // bytes in the stream before the BMP
  int Format;
  int AlphaOfFirst;          // alpha of pixel (0, 0) after loading
  int64_t EndFromStreamEnd;  // expected stream position counted back from the stream's end
};

std::vector<TRepairCase> RepairCases() {
  std::vector<TRepairCase> cases;
  cases.push_back({"32 bit without alpha is opaque", Picture(32, 0), 0, pf32bit, 255, 0});
  {
    TBmpBuild b = Picture(32, 0);
    b.Rows[1][2] |= 0x01000000;
    cases.push_back({"one alpha byte keeps all alpha", b, 0, pf32bit, 0, 0});
  }
  {
    // Image size declares 8 bytes more than 3 × 2 × 4; the file holds them and 4 bytes after.
    TBmpBuild b = Picture(32, 0x80);
    b.ImageSize = 32;
    b.Trailer = {1, 2, 3, 4, 5, 6, 7, 8, 'n', 'e', 'x', 't'};
    cases.push_back({"surplus is skipped", b, 5, pf32bit, 0x80, 4});
  }
  {
    TBmpBuild b = Picture(32, 0x80);
    b.Compression = 3;
    b.Masks = {0xFF0000, 0xFF00, 0xFF};
    b.ImageSize = 32;
    b.Trailer = {1, 2, 3, 4, 5, 6, 7, 8, 'n', 'e', 'x', 't'};
    cases.push_back({"surplus after bit-field masks", b, 0, pf32bit, 0x80, 4});
  }
  {
    TBmpBuild b = Picture(32, 0x80);
    b.ColorsUsed = 2;
    b.Palette = {0x111111, 0x222222};
    b.Gap = 6;
    b.ImageSize = 28;
    b.Trailer = {1, 2, 3, 4, 'n', 'e', 'x', 't'};
    cases.push_back({"surplus after a colour table and a gap", b, 0, pf32bit, 0x80, 4});
  }
  {
    // The header declares more than the file holds: nothing is surplus.
    TBmpBuild b = Picture(32, 0x80);
    b.ImageSize = 1000;
    cases.push_back({"declared size beyond the file", b, 0, pf32bit, 0x80, 0});
  }
  {
    TBmpBuild b = Picture(24, 0);
    b.ImageSize = 30;
    b.Trailer = {1, 2, 3, 4, 5, 6};
    cases.push_back({"24 bit loads by the base rules", b, 0, pf24bit, -1, 6});
  }
  {
    TBmpBuild b = Picture(32, 0);
    b.HeaderSize = 12;
    cases.push_back({"core header 32 bit", b, 0, pf32bit, 255, 0});
  }
  return cases;
}

TEST(BitmapFix32, RepairRules) {
  for (const TRepairCase& c : RepairCases()) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> bytes(c.Prefix, 0x55);
    const std::vector<uint8_t> bmp = MakeBmp(c.Build);
    bytes.insert(bytes.end(), bmp.begin(), bmp.end());
    TMemoryStream stream(bytes);
    stream.SetPosition(static_cast<int64_t>(c.Prefix));
    TBitmapFix32 bitmap;
    ASSERT_NO_THROW(bitmap.LoadFromStream(stream));
    EXPECT_EQ(bitmap.PixelFormat(), c.Format);
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.GetPixel(0, 0), RGBColor(255, 0, 0));
    EXPECT_EQ(bitmap.GetPixel(2, 1), RGBColor(0x10, 0x20, 0x30));
    if (c.AlphaOfFirst >= 0) {
      EXPECT_EQ(bitmap.ScanLine(0)[3], c.AlphaOfFirst);
    }
    EXPECT_EQ(stream.Position(), stream.Size() - c.EndFromStreamEnd);
  }
}

TEST(BitmapFix32, FailureKeepsThePicture) {
  TBitmapFix32 bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(1, 1);
  bitmap.ScanLine(0)[0] = 42;
  std::vector<uint8_t> cut = MakeBmp(Picture(32, 0));
  cut.resize(40);
  for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>{'B', 'A', 0, 0}, std::vector<uint8_t>{}, cut}) {
    TMemoryStream stream(bytes);
    try {
      bitmap.LoadFromStream(stream);
      ADD_FAILURE() << "loaded";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
    EXPECT_EQ(bitmap.Width(), 1);
    EXPECT_EQ(bitmap.ScanLine(0)[0], 42);
  }
}

TEST(BitmapFix32, Saves32BitWithAlpha) {
  TBitmapFix32 bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(3, 2);
  for (size_t i = 0; i < bitmap.BitsSize(); ++i) bitmap.Bits()[i] = static_cast<uint8_t>(i);
  TMemoryStream stream;
  bitmap.SaveToStream(stream);
  const std::vector<uint8_t> header = {
      'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                     // file size 78, pixels at 54
      40,  0,   0,  0, 3, 0, 0, 0, 2, 0, 0,  0, 1, 0, 32, 0, 0, 0, 0, 0,  // 3 × 2, 32 bits, no compression
      24,  0,   0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0,  // image size 24
  };
  ASSERT_EQ(stream.Size(), 78);
  EXPECT_EQ(std::vector<uint8_t>(stream.Bytes().begin(), stream.Bytes().begin() + 54), header);
  EXPECT_EQ(0, std::memcmp(stream.Bytes().data() + 54, bitmap.Bits(), 24));

  // Loading it back keeps the alpha bytes as they were.
  stream.SetPosition(0);
  TBitmapFix32 loaded;
  loaded.LoadFromStream(stream);
  EXPECT_EQ(0, std::memcmp(loaded.Bits(), bitmap.Bits(), 24));
}

TEST(BitmapFix32, SavesOtherFormatsAsTheBaseDoes) {
  TBitmapFix32 bitmap;
  bitmap.SetPixelFormat(pf8bit);
  bitmap.SetSize(3, 2);
  TMemoryStream fix, base;
  bitmap.SaveToStream(fix);
  static_cast<const TBitmap&>(bitmap).TBitmap::SaveToStream(base);
  EXPECT_EQ(fix.Bytes(), base.Bytes());
  EXPECT_EQ(fix.Size(), 14 + 40 + 1024 + 8);
}

}  // namespace
}  // namespace glyphmill
