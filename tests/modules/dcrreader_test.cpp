#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "module_builder.h"
#include "modules/dcrreader.h"
#include "modules/unitresfile.h"
#include "modules/unitresourcegraphics.h"
#include "support/errors.h"

namespace glyphmill {
namespace {

using test::AppendU16;
using test::AppendU32;
using test::DibIconImage;
using test::GroupResource;
using test::TBytes;

// One entry of a 32-bit resource file; type and name written as digits are ids.
void AppendResEntry(TBytes& file, const std::string& type, const std::string& name, const TBytes& data,
                    uint16_t language = 1033) {
  TBytes header;
  for (const std::string& field : {type, name}) {
    if (!field.empty() && std::all_of(field.begin(), field.end(), ::isdigit)) {
      AppendU16(header, 0xFFFF);
      AppendU16(header, static_cast<uint16_t>(std::stoi(field)));
    } else {
      for (const char c : field) AppendU16(header, static_cast<uint8_t>(c));
      AppendU16(header, 0);
    }
  }
  while ((header.size() + 8) % 4 != 0) header.push_back(0);
  AppendU32(header, 0);
  AppendU16(header, 0x1030);
  AppendU16(header, language);
  AppendU32(header, 7);
  AppendU32(header, 9);
  AppendU32(file, static_cast<uint32_t>(data.size()));
  AppendU32(file, static_cast<uint32_t>(header.size() + 8));
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), data.begin(), data.end());
  while (file.size() % 4 != 0) file.push_back(0);
}

// The empty header entry every 32-bit resource file begins with.
TBytes ResFile() {
  TBytes file = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
  file.resize(32, 0);
  return file;
}

// A bitmap resource: a DIB without file header.
TBytes BitmapDib(int width, int height, int bits) {
  TBytes dib = DibIconImage(width, bits);
  test::PutU32(dib, 8, height);
  const size_t table = bits <= 8 ? 4u << bits : 0;
  const size_t rows = ((width * bits + 31) / 32) * 4 * height;
  dib.resize(40 + table + rows);
  test::PutU32(dib, 20, static_cast<uint32_t>(rows));
  return dib;
}

struct TListed {
  std::vector<std::string> Names;
  std::vector<int> ImageCounts;
};

TListed List(const TBytes& bytes) {
  TIconLibrary library;
  LoadResourceFileIcons(bytes, library);
  TListed listed;
  for (int i = 0; i < library.Icons().Count(); ++i) {
    listed.Names.push_back(library.Icons().Name(i));
    listed.ImageCounts.push_back(library.Icons().IconAt(i)->Images.Count());
  }
  return listed;
}

TEST(TResModule, ReadsEntriesWithTheirHeaderFields) {
  TBytes file = ResFile();
  AppendResEntry(file, "14", "MAINICON", GroupResource({{16, 4, 0, 1}}), 1031);
  AppendResEntry(file, "MYTYPE", "7", {1, 2, 3});
  TBytes truncated = file;
  AppendResEntry(truncated, "3", "1", DibIconImage(16, 4));
  truncated.resize(truncated.size() - 10);

  TResModule module;
  TMemoryStream stream(truncated);
  module.LoadFromStream(stream);
  EXPECT_FALSE(module.Flag());
  ASSERT_EQ(module.ResourceCount(), 2);
  const TResourceDetails& group = *module.ResourceAt(0);
  EXPECT_NE(dynamic_cast<const TIconGroupResourceDetails*>(&group), nullptr);
  EXPECT_EQ(group.NameText(), "MAINICON");
  EXPECT_TRUE(group.NameIsString());
  EXPECT_EQ(group.LanguageId(), 1031u);
  EXPECT_EQ(group.MemoryFlags(), 0x1030);
  EXPECT_EQ(group.Version(), 7u);
  EXPECT_EQ(group.Characteristics(), 9u);
  EXPECT_EQ(module.ResourceAt(1)->TypeText(), "MYTYPE");
  EXPECT_EQ(module.ResourceAt(1)->NameText(), "7");
  EXPECT_EQ(module.ResourceAt(1)->Data().size(), 3u);
}

TEST(LoadResourceFileIcons, GroupsImagesByPosition) {
  TBytes file = ResFile();
  AppendResEntry(file, "3", "1", DibIconImage(16, 4));
  AppendResEntry(file, "3", "2", DibIconImage(32, 8));
  AppendResEntry(file, "14", "101", GroupResource({{16, 4, 0, 1}, {32, 8, 0, 2}}));
  AppendResEntry(file, "2", "LOGO", BitmapDib(20, 10, 8));
  TBytes cursor = {3, 0, 4, 0};
  const TBytes cursorImage = DibIconImage(32, 1);
  cursor.insert(cursor.end(), cursorImage.begin(), cursorImage.end());
  AppendResEntry(file, "1", "5", cursor);
  AppendResEntry(file, "12", "CURSOR", GroupResource({{32, 1, 0, 5}}, 2));
  AppendResEntry(file, "3", "3", DibIconImage(48, 32));
  AppendResEntry(file, "6", "1", {1, 2, 3, 4});

  const TListed listed = List(file);
  EXPECT_EQ(listed.Names, (std::vector<std::string>{"101", "LOGO", "CURSOR", "Icon 4"}));
  EXPECT_EQ(listed.ImageCounts, (std::vector<int>{2, 1, 1, 1}));

  TIconLibrary library;
  LoadResourceFileIcons(file, library);
  const TSubIcon* logo = library.Icons().IconAt(1)->Images[0];
  EXPECT_EQ(logo->GetWidth(), 20);
  EXPECT_EQ(logo->GetHeight(), 10);
  const TSubIcon* arrow = library.Icons().IconAt(2)->Images[0];
  EXPECT_EQ(arrow->HotSpot(), (THotSpot{3, 4}));
  EXPECT_EQ(TBytes(arrow->Data().begin(), arrow->Data().end()), cursorImage);
}

TEST(LoadResourceFileIcons, RawWalkFindsBitmapsTheReaderMissed) {
  // A header size the reader cannot parse (too short for its fields) hides the entry from it.
  TBytes file = ResFile();
  const TBytes dib = BitmapDib(16, 16, 4);
  AppendU32(file, static_cast<uint32_t>(dib.size()));
  AppendU32(file, 24);
  AppendU16(file, 0xFFFF);
  AppendU16(file, 2);
  for (const char c : std::string("PIC\0\0\0", 6)) AppendU16(file, static_cast<uint8_t>(c));
  file.insert(file.end(), dib.begin(), dib.end());
  const TListed listed = List(file);
  EXPECT_EQ(listed.Names, (std::vector<std::string>{"PIC"}));
}

TBytes DcrFile(const std::string& name, uint32_t infoSize, uint16_t planes, uint16_t bits, uint32_t compression,
               size_t pixelBytesPresent = SIZE_MAX) {
  TBytes file = {0xFF, 0x02, 0x00};
  file.insert(file.end(), name.begin(), name.end());
  file.push_back(0);
  AppendU16(file, 0x1030);
  const size_t table = bits <= 8 ? 4u << bits : 0;
  const uint32_t rows = ((16 * bits + 31) / 32) * 4 * 16;
  AppendU32(file, static_cast<uint32_t>(40 + table + rows));
  TBytes info(40, 0);
  test::PutU32(info, 0, infoSize);
  test::PutU32(info, 4, 16);
  test::PutU32(info, 8, 16);
  test::PutU16(info, 12, planes);
  test::PutU16(info, 14, bits);
  test::PutU32(info, 16, compression);
  test::PutU32(info, 20, rows);
  file.insert(file.end(), info.begin(), info.end());
  file.resize(file.size() + table, 0x40);
  for (uint32_t i = 0; i < std::min<size_t>(rows, pixelBytesPresent); ++i) file.push_back(0x11);
  return file;
}

TEST(LoadResourceFileIcons, DcrHeaderFaultsRaiseTheirMessages) {
  const struct {
    TBytes Bytes;
    const char* Message;
  } cases[] = {
      {DcrFile("", 40, 1, 4, 0), "DCR name is unrecoverable"},
      {DcrFile(std::string(65, 'N'), 40, 1, 4, 0), "DCR name is unrecoverable"},
      {DcrFile("TBUTTON", 12, 1, 4, 0), "Bad TBITMAPINFOHEADER biSize: 12"},
      {DcrFile("TBUTTON", 40, 2, 4, 0), "Bad biPlanes"},
      {DcrFile("TBUTTON", 40, 1, 24, 0), "Bad biBitCount"},
      {DcrFile("TBUTTON", 40, 1, 4, 1), "RLE8 mismatch"},
      {DcrFile("TBUTTON", 40, 1, 8, 2), "RLE4 mismatch"},
      {DcrFile("TBUTTON", 40, 1, 8, 4), "Bad biCompression"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    TIconLibrary library;
    try {
      LoadResourceFileIcons(c.Bytes, library);
      ADD_FAILURE() << "no error";
    } catch (const EReadError& error) {
      EXPECT_STREQ(error.what(), c.Message);
    }
  }
}

TEST(LoadResourceFileIcons, DcrBitmapCutShortIsFilledWithZeros) {
  const TBytes file = DcrFile("TMYBUTTON", 40, 1, 4, 0, 50);
  TIconLibrary library;
  LoadResourceFileIcons(file, library);
  ASSERT_EQ(library.Icons().Count(), 1);
  EXPECT_EQ(library.Icons().Name(0), "TMYBUTTON");
  const TSubIcon* image = library.Icons().IconAt(0)->Images[0];
  EXPECT_EQ(image->GetWidth(), 16);
  const auto data = image->Data();
  const size_t pixels = 40 + 64;
  ASSERT_GE(data.size(), pixels + 128);
  EXPECT_TRUE(std::all_of(data.begin() + pixels, data.begin() + pixels + 50, [](uint8_t b) { return b == 0x11; }));
  EXPECT_TRUE(std::all_of(data.begin() + pixels + 50, data.begin() + pixels + 128, [](uint8_t b) { return b == 0; }));
}

TEST(LoadResourceFileIcons, ShortAndForeignFilesGiveNothing) {
  TBytes shortRes = ResFile();
  shortRes.resize(75, 0);
  TBytes foreign(200, 'x');
  for (const TBytes& bytes : {shortRes, foreign}) EXPECT_TRUE(List(bytes).Names.empty());
}

}  // namespace
}  // namespace glyphmill
