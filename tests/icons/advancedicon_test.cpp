#include "icons/advancedicon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "imaging/bitmaptools.h"
#include "support/byte_reader.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

namespace fs = std::filesystem;

// A picture of the format with a diagonal pattern, so images of one size still differ.
TBitmap Picture(int width, int height, TPixelFormat format) {
  TBitmap bitmap;
  if (format == pf1bit)
    MakeMonochrome(&bitmap);
  else
    bitmap.SetPixelFormat(format);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y, (x + y) % 3 == 0 ? RGBColor(255, 0, 0) : RGBColor(0, 0, 255));
      if (format == pf32bit) bitmap.ScanLine(y)[4 * x + 3] = static_cast<uint8_t>(x == 0 ? 0 : 255 - y);
    }
  return bitmap;
}

int DepthFormat(int depth) {
  switch (depth) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 24: return pf24bit;
    default: return pf32bit;
  }
}

void AddImage(TAdvancedIcon& icon, int width, int height, int depth) {
  const TBitmap picture = Picture(width, height, static_cast<TPixelFormat>(DepthFormat(depth)));
  TBitmap mask = CreateFilledBitmap(pf1bit, width, height, 0);
  icon.Images.AddFromBitmap(picture, depth == 32 ? nullptr : &mask, depth == 32 ? 80 : 0);
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> span) { return {span.begin(), span.end()}; }

struct TRawEntry {
  std::vector<uint8_t> Image;
  std::optional<uint32_t> Offset{};  // default: where the image is placed
  std::optional<uint32_t> Length{};  // default: the image length
  uint16_t Planes = 1, BitCount = 0;
};

// An ICO/CUR file laid out by hand: header, directory, then the images back to back.
std::vector<uint8_t> IcoFile(const std::vector<TRawEntry>& entries, uint16_t type = 1, uint16_t reserved = 0) {
  TMemoryStream stream;
  stream.WriteU16LE(reserved);
  stream.WriteU16LE(type);
  stream.WriteU16LE(static_cast<uint16_t>(entries.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(entries.size());
  for (const TRawEntry& e : entries) {
    TIconEntry entry;
    entry.wPlanes = e.Planes;
    entry.wBitCount = e.BitCount;
    entry.dwBytesInRes = e.Length.value_or(static_cast<uint32_t>(e.Image.size()));
    entry.Write(stream);
    stream.WriteU32LE(e.Offset.value_or(offset));
    offset += static_cast<uint32_t>(e.Image.size());
  }
  for (const TRawEntry& e : entries) stream.WriteBytes(e.Image);
  return stream.Bytes();
}

std::vector<uint8_t> DibOf(int width, int height, int depth) {
  TAdvancedIcon icon;
  AddImage(icon, width, height, depth);
  return Bytes(icon.Images[0]->Data());
}

std::string Keys(const TAdvancedIcon& icon) {
  std::string text;
  for (const auto& image : icon.Images)
    text += (text.empty() ? "" : " ") + std::to_string(image->GetWidth()) + "x" + std::to_string(image->GetHeight()) +
            "x" + std::to_string(image->GetBitsPerPixel());
  return text;
}

bool LoadBytes(TAdvancedIcon& icon, std::vector<uint8_t> bytes) {
  TMemoryStream stream(std::move(bytes));
  return icon.LoadFromFileStream(stream);
}

TEST(AdvancedIconTest, TolerantReader) {
  const auto a = DibOf(16, 16, 4), b = DibOf(32, 32, 8), c = DibOf(24, 24, 24);
  struct TCase {
    const char* name;
    std::vector<uint8_t> file;
    bool result;
    std::string keys;
  };
  std::vector<uint8_t> headerless = IcoFile({{a}});
  headerless.erase(headerless.begin(), headerless.begin() + 4);  // the count 1 is the first word
  const TCase cases[] = {
      {"all good", IcoFile({{a}, {b}, {c}}), true, "16x16x4 32x32x8 24x24x24"},
      {"offset into the directory ends the read", IcoFile({{a}, {b, 6}, {c}}), true, "16x16x4"},
      {"offset past the end ends the read", IcoFile({{a}, {b, 100000}, {c}}), true, "16x16x4"},
      {"40 bytes is skipped", IcoFile({{a}, {b, std::nullopt, 40}, {c}}), true, "16x16x4 24x24x24"},
      {"longer than the file is skipped", IcoFile({{a, std::nullopt, 1u << 30}, {c}}), true, "24x24x24"},
      {"undecodable image is dropped", IcoFile({{std::vector<uint8_t>(60, 0xEE)}, {c}}), true, "24x24x24"},
      {"image running past the end is dropped", IcoFile({{a}, {b, std::nullopt, uint32_t(b.size() + 10)}}), true,
       "16x16x4"},
      {"cursor type reads as icon", IcoFile({{a}}, 2), true, "16x16x4"},
      {"reserved 1 is no icon", IcoFile({{a}}, 1, 1), false, ""},
      {"type 0 is no icon", IcoFile({{a}}, 0), false, ""},
      {"type 3 is no icon", IcoFile({{a}}, 3), false, ""},
      {"count 0", IcoFile({}), false, ""},
      {"headerless single image", headerless, false, "16x16x4"},
      {"too short for anything", {0, 0, 1}, false, ""},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.name);
    TAdvancedIcon icon;
    AddImage(icon, 8, 8, 1);  // the reader clears first
    EXPECT_EQ(t.result, LoadBytes(icon, t.file));
    EXPECT_EQ(t.keys, Keys(icon));
    for (const auto& image : icon.Images) {
      EXPECT_EQ(typeid(TFileIconImage), typeid(*image));
      EXPECT_EQ(THotSpot{}, image->HotSpot());
    }
  }
}

TEST(AdvancedIconTest, WritesImagesBackToBackAndReadsThemByteExact) {
  TAdvancedIcon icon;
  AddImage(icon, 16, 16, 4);
  AddImage(icon, 32, 32, 8);
  AddImage(icon, 256, 256, 32);
  TMemoryStream stream;
  icon.SaveToStream(stream);
  const std::vector<uint8_t>& bytes = stream.Bytes();
  ASSERT_GE(bytes.size(), 54u);
  EXPECT_EQ(0, LoadU16LE(&bytes[0]));
  EXPECT_EQ(1, LoadU16LE(&bytes[2]));
  EXPECT_EQ(3, LoadU16LE(&bytes[4]));
  uint32_t expected = 54;
  for (int i = 0; i < 3; ++i) {
    const uint8_t* entry = &bytes[6 + 16 * i];
    EXPECT_EQ(Bytes(icon.Images[i]->Entry().ToBytes()), std::vector<uint8_t>(entry, entry + 12));
    EXPECT_EQ(expected, LoadU32LE(entry + 12));
    expected += LoadU32LE(entry + 8);
  }
  EXPECT_EQ(expected, bytes.size());

  TAdvancedIcon read;
  EXPECT_TRUE(LoadBytes(read, bytes));
  ASSERT_EQ(3, read.Images.Count());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Bytes(icon.Images[i]->Data()), Bytes(read.Images[i]->Data()));
  TMemoryStream again;
  read.SaveToStream(again);
  EXPECT_EQ(bytes, again.Bytes());

  TAdvancedIcon stream2;
  TMemoryStream source(bytes);
  EXPECT_TRUE(stream2.LoadFromStream(source));
  EXPECT_EQ(Keys(icon), Keys(stream2));
}

TEST(AdvancedIconTest, PackedImagesAreCompressedOnlyInTheFile) {
  TAdvancedIcon icon;
  AddImage(icon, 256, 256, 32);
  AddImage(icon, 48, 48, 32);
  icon.Images[0]->SetPacked(true);
  const std::vector<uint8_t> dib = Bytes(icon.Images[0]->Data());
  TMemoryStream stream;
  icon.SaveToStream(stream);
  EXPECT_EQ(dib, Bytes(icon.Images[0]->Data()));  // the icon itself keeps its DIB
  const std::vector<uint8_t>& bytes = stream.Bytes();
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 32, 0}), std::vector<uint8_t>(&bytes[6], &bytes[14]));
  const uint32_t offset = LoadU32LE(&bytes[18]);
  EXPECT_EQ(0x89, bytes[offset]);
  EXPECT_EQ('P', bytes[offset + 1]);

  TAdvancedIcon read;
  ASSERT_TRUE(LoadBytes(read, bytes));
  const TSubIcon& image = *read.Images[0];
  EXPECT_TRUE(image.Packed());
  EXPECT_FALSE(image.IsPngData());
  EXPECT_EQ(256, image.GetWidth());
  EXPECT_EQ(32, image.GetBitsPerPixel());
  TBitmap before, after;
  icon.Images[0]->RenderBitmaps(nullptr, &before, nullptr, 0);
  image.RenderBitmaps(nullptr, &after, nullptr, 0);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      if (before.ScanLine(y)[4 * x + 3] != 0) {
        ASSERT_EQ(0, std::memcmp(before.ScanLine(y) + 4 * x, after.ScanLine(y) + 4 * x, 4)) << x << "," << y;
      }
  TMemoryStream again;
  read.SaveToStream(again);
  EXPECT_EQ(0x89, again.Bytes()[LoadU32LE(&again.Bytes()[18])]);
}

TEST(AdvancedIconTest, CursorHotSpots) {
  const auto a = DibOf(32, 32, 1), b = DibOf(16, 16, 4);
  const std::vector<uint8_t> file =
      IcoFile({{a, std::nullopt, std::nullopt, 5, 9}, {b, std::nullopt, std::nullopt, 1, 2}}, 2);
  TAdvancedCursor cursor;
  TMemoryStream stream(file);
  ASSERT_TRUE(cursor.LoadCursorFromStream(stream));
  ASSERT_EQ(2, cursor.Images.Count());
  EXPECT_EQ(typeid(TFileCursorImage), typeid(*cursor.Images[0]));
  EXPECT_EQ((THotSpot{5, 9}), cursor.Images[0]->HotSpot());
  EXPECT_EQ((THotSpot{1, 2}), cursor.Images[1]->HotSpot());
  EXPECT_EQ(1, cursor.Images[0]->Entry().wPlanes);  // the entry is derived from the image

  TMemoryStream written;
  cursor.SaveCursorToStream(written);
  const std::vector<uint8_t>& out = written.Bytes();
  ASSERT_EQ(file.size(), out.size());
  EXPECT_EQ(2, LoadU16LE(&out[2]));
  EXPECT_EQ((std::vector<uint8_t>{5, 0, 9, 0}), std::vector<uint8_t>(&out[10], &out[14]));
  EXPECT_EQ((std::vector<uint8_t>{1, 0, 2, 0}), std::vector<uint8_t>(&out[26], &out[30]));
  EXPECT_TRUE(std::equal(file.begin() + 38, file.end(), out.begin() + 38));

  // An icon set read by the cursor reader has no hot spots; offsets may count from the header.
  std::vector<uint8_t> embedded(10, 0xAB);
  const std::vector<uint8_t> iconFile = IcoFile({{a, std::nullopt, std::nullopt, 5, 9}}, 1);
  embedded.insert(embedded.end(), iconFile.begin(), iconFile.end());
  TMemoryStream at(embedded);
  at.SetPosition(10);
  TAdvancedCursor fromIcon;
  ASSERT_TRUE(fromIcon.LoadCursorFromStreamAt(at));
  EXPECT_EQ(10 + 6 + 16, at.Position());
  EXPECT_EQ(THotSpot{}, fromIcon.Images[0]->HotSpot());
  at.SetPosition(10);
  EXPECT_TRUE(fromIcon.LoadFromStreamAt(at));  // appends
  EXPECT_EQ(2, fromIcon.Images.Count());
}

TEST(AdvancedIconTest, StreamReadersPassImageErrorsOn) {
  const std::vector<uint8_t> file = IcoFile({{DibOf(16, 16, 4)}, {std::vector<uint8_t>(60, 0xEE)}});
  TAdvancedIcon icon;
  TMemoryStream stream(file);
  EXPECT_THROW(icon.LoadFromStream(stream), EReadError);
  EXPECT_EQ(1, icon.Images.Count());
}

TEST(AdvancedIconTest, StandardOrder) {
  struct TCase {
    std::vector<std::array<int, 3>> images;
    std::string order;
    bool changed;
  };
  const TCase cases[] = {
      {{{16, 16, 32}, {32, 32, 4}, {256, 256, 32}, {32, 32, 32}, {48, 48, 8}, {24, 24, 24}},
       "32x32x4 48x48x8 256x256x32 32x32x32 16x16x32 24x24x24",
       true},
      {{{32, 32, 8}, {32, 32, 8}, {32, 32, 8}}, "32x32x8 32x32x8 32x32x8", false},
      {{{48, 48, 32}, {32, 32, 32}, {16, 16, 32}}, "48x48x32 32x32x32 16x16x32", false},
      {{{16, 16, 32}, {48, 48, 32}, {16, 16, 32}, {16, 16, 1}}, "48x48x32 16x16x32 16x16x32 16x16x1", true},
      // No image is as high as the first one is wide: left alone.
      {{{16, 8, 32}, {48, 48, 32}}, "16x8x32 48x48x32", false},
  };
  for (const TCase& c : cases) {
    TAdvancedIcon icon;
    for (const auto& [w, h, d] : c.images) AddImage(icon, w, h, d);
    EXPECT_EQ(c.changed, icon.ArrangeStandardOrder());
    EXPECT_EQ(c.order, Keys(icon));
  }
}

TEST(AdvancedIconTest, FindBestAndExact) {
  struct TCase {
    std::vector<std::array<int, 3>> images;
    std::array<int, 3> wanted;
    int best;
  };
  const TCase cases[] = {
      {{{32, 32, 32}, {64, 64, 32}}, {48, 48, 32}, 1},
      {{{16, 16, 4}, {16, 16, 24}}, {0, 0, 16}, 1},
      {{{16, 16, 8}, {16, 16, 32}, {32, 32, 32}}, {16, 16, 32}, 1},
      {{{16, 16, 8}, {16, 16, 8}}, {16, 16, 8}, 0},
      {{{48, 48, 8}}, {16, 16, 32}, 0},
  };
  for (const TCase& c : cases) {
    TAdvancedIcon icon;
    for (const auto& [w, h, d] : c.images) AddImage(icon, w, h, d);
    EXPECT_EQ(c.best, icon.Images.FindBestIndex(c.wanted[0], c.wanted[1], c.wanted[2]));
    EXPECT_EQ(icon.Images[c.best], icon.FindBest(c.wanted[0], c.wanted[1], c.wanted[2]));
  }
  TAdvancedIcon icon;
  EXPECT_EQ(nullptr, icon.FindBest(16, 16, 32));
  EXPECT_EQ(TIconDimensions{}.Width, icon.GetMaxDimensions().Width);
  AddImage(icon, 16, 16, 32);
  AddImage(icon, 48, 32, 4);
  EXPECT_EQ(1, icon.Images.FindExact(48, 32, 4));
  EXPECT_EQ(-1, icon.Images.FindExact(48, 32, 8));
  EXPECT_EQ(nullptr, icon.Images.Get(2));
  const TIconDimensions max = icon.GetMaxDimensions();
  EXPECT_EQ(48, max.Width);
  EXPECT_EQ(32, max.Height);
  EXPECT_EQ(32, max.Depth);
}

TEST(AdvancedIconTest, SortDepthThenWidth) {
  TAdvancedIcon icon;
  for (const auto& [w, d] : std::vector<std::pair<int, int>>{{16, 4}, {32, 32}, {48, 8}, {16, 32}, {48, 32}})
    AddImage(icon, w, w, d);
  icon.Images.Sort();
  EXPECT_EQ("48x48x32 32x32x32 16x16x32 48x48x8 16x16x4", Keys(icon));
  AddImage(icon, 48, 48, 32);
  icon.Images[0]->MarkMacCompressed(true);
  icon.Images.Sort();
  EXPECT_TRUE(icon.Images[1]->IsMacCompressed());
}

TEST(AdvancedIconTest, ListOwnershipAndFiler) {
  TAdvancedIcon a, b;
  AddImage(a, 16, 16, 4);
  AddImage(a, 32, 32, 8);
  AddImage(b, 48, 48, 24);
  b.Images.TakeFrom(&a, 1);
  b.Images.TakeFrom(&a, 5);
  b.Images.TakeFrom(nullptr, 0);
  EXPECT_EQ("48x48x24 32x32x8", Keys(b));
  b.Images.TakeAll(&a);
  EXPECT_EQ(0, a.Images.Count());
  b.Images.Move(2, 0);
  b.Images.Delete(7);
  EXPECT_EQ("16x16x4 48x48x24 32x32x8", Keys(b));
  b.Images[0]->SetHotSpot({4, 5});

  TMemoryStream filer;
  b.WriteImages(filer);
  filer.SetPosition(0);
  TAdvancedIcon c;
  c.ReadImages(filer);
  EXPECT_EQ(Keys(b), Keys(c));
  EXPECT_EQ((THotSpot{4, 5}), c.Images[0]->HotSpot());
  EXPECT_EQ(filer.Size(), filer.Position());

  TAdvancedIcon copy;
  copy.Assign(b);
  EXPECT_EQ(Keys(b), Keys(copy));
  EXPECT_EQ(typeid(TSubIcon), typeid(*copy.Images[0]));

  for (const int32_t value : {0, -128, 127, 128, -32769, 70000}) {
    TMemoryStream s;
    WriteFilerInteger(s, value);
    s.SetPosition(0);
    EXPECT_EQ(value, ReadFilerInteger(s));
  }
}

TEST(AdvancedIconTest, SaveToFile) {
  test::TTempDir dir;
  TAdvancedIcon icon;
  try {
    icon.SaveToFile(dir / "empty.ico");
    FAIL();
  } catch (const EGlyphmillError& e) {
    EXPECT_STREQ("No images in icon", e.what());
  }
  EXPECT_FALSE(fs::exists(dir / "empty.ico"));
  AddImage(icon, 16, 16, 4);
  icon.SaveToFile(dir / "one.ico");
  TAdvancedIcon read;
  EXPECT_TRUE(read.LoadFromFile(dir / "one.ico"));
  EXPECT_THROW(read.LoadFromFile(dir / "missing.ico"), EStreamError);
}

TEST(AdvancedIconTest, DrawToPicture) {
  TAdvancedIcon icon;
  AddImage(icon, 16, 16, 4);
  AddImage(icon, 32, 32, 32);
  TBitmap picture;
  icon.DrawToPicture(picture, 32, 32, 32, RGBColor(0, 255, 0));
  ASSERT_EQ(32, picture.Width());
  EXPECT_EQ(RGBColor(0, 255, 0), picture.GetPixel(0, 5));  // alpha 0 column shows the background
  EXPECT_EQ(RGBColor(0, 0, 255), picture.GetPixel(2, 0));
}

// Every icon and cursor of the shared corpus loads (or, when malformed on purpose, fails cleanly);
// what loads is written again with its DIB images byte for byte and read back alike.
TEST(AdvancedIconTest, CorpusLoadsAndRoundTrips) {
  const fs::path corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no shared corpus";
  int loaded = 0;
  for (const char* folder : {"ico", "cur"}) {
    for (const auto& file : fs::directory_iterator(corpus / folder)) {
      SCOPED_TRACE(file.path().filename().string());
      TAdvancedIcon icon;
      icon.LoadFromFile(file.path());
      if (icon.Images.Count() == 0) continue;
      ++loaded;
      TMemoryStream written;
      icon.SaveToStream(written);
      TAdvancedIcon again;
      ASSERT_TRUE(LoadBytes(again, written.Bytes()));
      ASSERT_EQ(icon.Images.Count(), again.Images.Count());
      for (int i = 0; i < icon.Images.Count(); ++i) {
        if (icon.Images[i]->Packed()) continue;
        EXPECT_EQ(Bytes(icon.Images[i]->Data()), Bytes(again.Images[i]->Data()));
      }
    }
  }
  EXPECT_GE(loaded, 10);
}

// Cutting a good file at every length never crashes and never invents images.
TEST(AdvancedIconTest, TruncatedFilesFailCleanly) {
  TAdvancedIcon icon;
  AddImage(icon, 16, 16, 4);
  AddImage(icon, 32, 32, 32);
  icon.Images[1]->SetPacked(true);
  TMemoryStream stream;
  icon.SaveToStream(stream);
  const std::vector<uint8_t> full = stream.Bytes();
  for (size_t length = 0; length < full.size(); length += 7) {
    TAdvancedIcon read;
    LoadBytes(read, std::vector<uint8_t>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)));
    EXPECT_LE(read.Images.Count(), 2);
    TMemoryStream cut(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)));
    TAdvancedIcon strict;
    try {
      strict.LoadFromStream(cut);
    } catch (const std::exception&) {
    }
  }
}

// Icons we write are read by independent readers with the sizes and depths we wrote.
TEST(AdvancedIconTest, IndependentReadersAcceptWrittenIcons) {
  test::TTempDir dir;
  TAdvancedIcon icon;
  for (const int depth : {1, 4, 8, 24, 32}) AddImage(icon, 32, 32, depth);
  AddImage(icon, 256, 256, 32);
  icon.Images[5]->SetPacked(true);
  const fs::path file = dir / "written.ico";
  icon.SaveToFile(file);
  int checked = 0;
  if (test::ToolExists("/usr/bin/icotool")) {
    std::string output;
    ASSERT_EQ(0, test::RunCommand("/usr/bin/icotool -l '" + file.string() + "' 2>&1", &output)) << output;
    for (const char* line : {"--width=32 --height=32 --bit-depth=1", "--width=32 --height=32 --bit-depth=4",
                             "--width=32 --height=32 --bit-depth=8", "--width=32 --height=32 --bit-depth=24",
                             "--width=32 --height=32 --bit-depth=32", "--width=256 --height=256 --bit-depth=32"})
      EXPECT_NE(std::string::npos, output.find(line)) << output;
    ++checked;
  }
  if (test::ToolExists("/usr/bin/python3")) {
    std::string output;
    const std::string script =
        "from PIL import Image\nim = Image.open('" + file.string() +
        "')\nprint(sorted(im.info['sizes']))\nfor s in sorted(im.info['sizes']):\n    im.size = s\n    im.load()\n";
    const int status = test::RunCommand("/usr/bin/python3 -c \"" + script + "\" 2>&1", &output);
    if (output.find("No module named") == std::string::npos) {
      EXPECT_EQ(0, status) << output;
      EXPECT_NE(std::string::npos, output.find("[(32, 32), (256, 256)]")) << output;
      ++checked;
    }
  }
  if (test::ToolExists("/usr/bin/identify")) {
    std::string output;
    ASSERT_EQ(0, test::RunCommand("/usr/bin/identify '" + file.string() + "' 2>&1", &output)) << output;
    EXPECT_EQ(6, std::count(output.begin(), output.end(), '\n')) << output;
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no independent reader installed";
}

}  // namespace
}  // namespace glyphmill
