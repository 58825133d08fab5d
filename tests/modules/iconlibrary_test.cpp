#include <gtest/gtest.h>

#include "module_builder.h"
#include "modules/iconlibrary.h"
#include "modules/unitpefile.h"
#include "platform/png_codec.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::DibIconImage;
using test::GroupResource;
using test::NeFile;
using test::PeWithResources;
using test::TBytes;

struct TLoaded {
  bool Result = false;
  std::vector<std::string> Names;
  std::vector<int> ImageCounts;
  int Probed = 0;
};

TLoaded Load(const TBytes& bytes, const std::string& fileName = "module.dll") {
  test::TTempDir folder;
  test::WriteAll(folder / fileName, bytes);
  TIconLibrary library;
  TLoaded loaded;
  loaded.Result = library.LoadFromFile((folder / fileName).string());
  for (int i = 0; i < library.Icons().Count(); ++i) {
    loaded.Names.push_back(library.Icons().Name(i));
    loaded.ImageCounts.push_back(library.Icons().IconAt(i)->Images.Count());
  }
  loaded.Probed = library.ProbedIconCount();
  return loaded;
}

using TNames = std::vector<std::string>;
using TCounts = std::vector<int>;

TEST(TIconLibrary, FilesThatAreNoModulesGiveNothing) {
  TBytes mzOnly(600, 0);
  mzOnly[0] = 'M';
  mzOnly[1] = 'Z';
  mzOnly[60] = 0x80;
  const std::string text = "This is not a library at all, just text.\n";
  for (const TBytes& bytes : {mzOnly, TBytes(text.begin(), text.end())}) {
    const TLoaded loaded = Load(bytes);
    EXPECT_FALSE(loaded.Result);
    EXPECT_TRUE(loaded.Names.empty());
  }
  TIconLibrary library;
  EXPECT_THROW(library.LoadFromFile("/nonexistent/module.dll"), EStreamError);
}

TEST(TIconLibrary, ModuleWithoutIconGroupsIsNotScanned) {
  // The image would be found by the scan; a module without groups is never scanned.
  const TLoaded loaded = Load(PeWithResources({{"3", "1", "0", DibIconImage(32, 4)}}));
  EXPECT_FALSE(loaded.Result);
  EXPECT_TRUE(loaded.Names.empty());
  EXPECT_EQ(loaded.Probed, 0);
}

TEST(TIconLibrary, ListsThe32BitGroupsUnderTheirNames) {
  const TLoaded loaded = Load(PeWithResources({
      {"14", "MAINICON", "1033", GroupResource({{16, 4, 0, 1}, {32, 8, 0, 2}})},
      {"14", "1", "1033", GroupResource({{16, 4, 0, 1}})},
      {"14", "2", "1033", GroupResource({{32, 8, 0, 2}})},
      {"14", "2", "1031", GroupResource({{16, 4, 0, 1}, {32, 8, 0, 2}, {16, 4, 0, 1}})},
      {"14", "3", "1033", GroupResource({{48, 32, 0, 3}})},
      {"3", "1", "0", DibIconImage(16, 4)},
      {"3", "2", "0", DibIconImage(32, 8)},
      {"3", "3", "0", DibIconImage(48, 32)},
  }));
  EXPECT_TRUE(loaded.Result);
  EXPECT_EQ(loaded.Names, (TNames{"MAINICON", "1", "2", "2", "3"}));
  // Both language variants of group 2 hold the first variant's images.
  EXPECT_EQ(loaded.ImageCounts, (TCounts{2, 1, 1, 1, 1}));
  EXPECT_EQ(loaded.Probed, 5);
}

TEST(TIconLibrary, Lists64BitGroupsOncePerNameAsTheLoaderSeesThem) {
  const TLoaded loaded = Load(PeWithResources(
      {
          {"14", "MAINICON", "1033", GroupResource({{16, 4, 0, 1}, {32, 8, 0, 2}})},
          {"14", "7", "1033", GroupResource({{32, 8, 0, 2}})},
          {"14", "7", "0", GroupResource({{16, 4, 0, 1}, {32, 8, 0, 2}, {48, 32, 0, 3}})},
          {"3", "1", "0", DibIconImage(16, 4)},
          {"3", "2", "0", DibIconImage(32, 8)},
          {"3", "3", "0", DibIconImage(48, 32)},
      },
      0x20B));
  EXPECT_TRUE(loaded.Result);
  EXPECT_EQ(loaded.Names, (TNames{"MAINICON", "7"}));
  EXPECT_EQ(loaded.ImageCounts, (TCounts{2, 3}));
  EXPECT_EQ(loaded.Probed, 2);
}

TEST(TIconLibrary, ScanRecoversImagesAndRegroupsThemByTheirDirectory) {
  // Magic 0x107 passes the probe, but the 32-bit decode refuses it: only the scan finds the icons.
  TBytes bytes = PeWithResources({
      {"14", "1", "1033", GroupResource({{16, 4, 0, 1}, {32, 8, 0, 2}})},
      {"3", "1", "0", DibIconImage(16, 4)},
      {"3", "2", "0", DibIconImage(32, 8)},
  });
  test::PutU16(bytes, 0x58, 0x107);
  const TLoaded loaded = Load(bytes);
  EXPECT_TRUE(loaded.Result);
  EXPECT_EQ(loaded.Names, (TNames{"Icon 1"}));
  EXPECT_EQ(loaded.ImageCounts, (TCounts{2}));
}

TBytes PlainPng() {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(20, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      uint8_t* pixel = bitmap.ScanLine(y) + 4 * x;
      pixel[0] = static_cast<uint8_t>(x * 10);
      pixel[3] = x < 5 ? 0 : 255;
    }
  TPNGImage png;
  png.Assign(bitmap);
  return png.SaveToBytes();
}

TEST(TIconLibrary, ScanTakesPngStreamsAndStepsOverFalseSignatures) {
  TBytes bytes(100, 0xAA);
  const TBytes png = PlainPng();
  bytes.insert(bytes.end(), png.begin(), png.end());
  // A signature cut after four bytes: the scan moves on by one byte and finds the image right after.
  const TBytes fake = {0x89, 'P', 'N', 'G'};
  bytes.insert(bytes.end(), fake.begin(), fake.end());
  const TBytes image = DibIconImage(16, 1);
  bytes.insert(bytes.end(), image.begin(), image.end());
  bytes.resize(bytes.size() + 600, 0xAA);

  TIconLibrary library;
  library.ScanForIcons(bytes);
  ASSERT_EQ(library.Icons().Count(), 2);
  EXPECT_EQ(library.Icons().Name(0), "Icon 1");
  const TSubIcon* fromPng = library.Icons().IconAt(0)->Images[0];
  EXPECT_EQ(fromPng->GetWidth(), 20);
  EXPECT_EQ(fromPng->GetHeight(), 10);
  EXPECT_EQ(fromPng->GetBitsPerPixel(), 32);
  EXPECT_EQ(library.Icons().Name(1), "Icon 2");
  const TSubIcon* fromDib = library.Icons().IconAt(1)->Images[0];
  EXPECT_EQ(TBytes(fromDib->Data().begin(), fromDib->Data().end()), image);
}

TEST(TIconLibrary, ScanAlignsTheDirectoryWithTheImagesAndMovesThemToTheFront) {
  // Images 16x4, 16x4, 32x8, 48x32; a directory groups (32x8, 48x32) and then (16x4).
  TBytes bytes(64, 0);
  for (const TBytes& image : {DibIconImage(16, 4), DibIconImage(16, 4, 2), DibIconImage(32, 8), DibIconImage(48, 32)})
    bytes.insert(bytes.end(), image.begin(), image.end());
  const TBytes first = GroupResource({{32, 8, 0, 1}, {48, 32, 0, 2}});
  const TBytes second = GroupResource({{16, 4, 0, 3}});
  bytes.insert(bytes.end(), first.begin(), first.end());
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.resize(bytes.size() + 600, 0);

  TIconLibrary library;
  library.Icons().AddIcon("kept", std::make_unique<TAdvancedIcon>());
  library.ScanForIcons(bytes);
  ASSERT_EQ(library.Icons().Count(), 4);
  EXPECT_EQ(library.Icons().Name(0), "kept");
  // Best alignment starts at the third scanned icon; the merged icon moves to the first scanned place.
  const int widths[] = {32, 16, 16};
  const int counts[] = {2, 1, 1};
  for (int i = 1; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(library.Icons().Name(i), "Icon " + std::to_string(i + 1));
    EXPECT_EQ(library.Icons().IconAt(i)->Images.Count(), counts[i - 1]);
    EXPECT_EQ(library.Icons().IconAt(i)->Images[0]->GetWidth(), widths[i - 1]);
  }
}

TBytes NeLibrary(const std::vector<std::string>& names, bool missingImage = false) {
  return NeFile(
      {
          {3, 1, DibIconImage(16, 4)},
          {3, 2, DibIconImage(32, 8)},
          {14, 1, GroupResource({{16, 4, 0, 1}})},
          {14, 2, GroupResource({{16, 4, 0, 1}, {32, 8, 0, missingImage ? uint16_t{9} : uint16_t{2}}, {16, 4, 0, 1}})},
          {14, 3, GroupResource({{32, 8, 0, 2}})},
      },
      names);
}

TEST(T16BitReader, NamesIconsByStringsOnlyWhenThereIsOnePerGroup) {
  const struct {
    const char* What;
    std::vector<std::string> Strings;
    TNames Names;
  } cases[] = {
      {"one per group", {"ONE", "TWO", "THREE"}, {"ONE", "TWO", "THREE"}},
      {"leading ICL passed over", {"ICL", "ONE", "TWO", "THREE"}, {"ONE", "TWO", "THREE"}},
      {"ICL later is a name", {"ONE", "ICL", "THREE"}, {"ONE", "ICL", "THREE"}},
      {"too many", {"A", "B", "C", "D"}, {"tools 001", "tools 002", "tools 003"}},
      {"none", {}, {"tools 001", "tools 002", "tools 003"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const TLoaded loaded = Load(NeLibrary(c.Strings), "tools.icl");
    EXPECT_TRUE(loaded.Result);
    EXPECT_EQ(loaded.Names, c.Names);
    EXPECT_EQ(loaded.ImageCounts, (TCounts{1, 3, 1}));
    EXPECT_EQ(loaded.Probed, 3);
  }
}

TEST(T16BitReader, MissingImageEndsOnlyItsIcon) {
  const TLoaded loaded = Load(NeLibrary({}, true), "tools.icl");
  EXPECT_TRUE(loaded.Result);
  EXPECT_EQ(loaded.ImageCounts, (TCounts{1, 1, 1}));
}

TEST(T16BitReader, HeaderFaultsFailTheRead) {
  const TBytes good = NeLibrary({});
  TBytes badOffset = good;
  test::PutU32(badOffset, 60, 20);
  TBytes badSignature = good;
  badSignature[0x41] = 'X';
  TBytes noResources = good;
  test::PutU16(noResources, 0x40 + 36, 0);
  TBytes noNames = good;
  test::PutU16(noNames, 0x40 + 38, 0);
  TBytes noGroups = NeFile({{3, 1, DibIconImage(16, 4)}}, {});
  for (const TBytes& bytes : {badOffset, badSignature, noResources, noNames, noGroups}) {
    T16BitReader reader("tools", bytes);
    EXPECT_FALSE(reader.ReadIcons());
    EXPECT_EQ(reader.Icons().Count(), 0);
  }
  T16BitReader reader("tools", good);
  EXPECT_TRUE(reader.ReadIcons());
}

TEST(ModuleProbe, CountsGroupsOfEachKindOfModule) {
  TBytes optionalTooLong = PeWithResources({{"14", "1", "0", GroupResource({})}});
  // A declared optional header longer than the probe's room must not be read past it.
  test::PutU16(optionalTooLong, 0x54, 0x400);
  const struct {
    const char* What;
    TBytes Bytes;
    bool HasIcons;
    int Count;
    bool Is64Bit;
  } cases[] = {
      {"empty", {}, false, -1, false},
      {"NE", NeLibrary({}), true, 3, false},
      {"PE32", PeWithResources({{"14", "1", "1033", {}}, {"14", "1", "1031", {}}, {"14", "X", "0", {}}}), true, 3,
       false},
      {"PE32 no groups", PeWithResources({{"3", "1", "0", {1}}}), false, 0, false},
      {"PE32+", PeWithResources({{"14", "1", "1033", {1}}, {"14", "1", "1031", {2}}}, 0x20B), true, 1, true},
      {"optional header too long", optionalTooLong, false, -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const TModuleProbe probe = ProbeModule(c.Bytes);
    EXPECT_EQ(probe.HasIcons, c.HasIcons);
    EXPECT_EQ(probe.IconCount, c.Count);
    EXPECT_EQ(probe.Is64Bit, c.Is64Bit);
  }
}

TEST(ModuleReaders, ModulesCutAtAnyLengthFailCleanly) {
  const TBytes pe = PeWithResources({
      {"14", "MAINICON", "1033", GroupResource({{16, 4, 0, 1}, {32, 8, 0, 2}})},
      {"3", "1", "0", DibIconImage(16, 4)},
      {"3", "2", "0", DibIconImage(32, 8)},
  });
  TBytes pe64 = pe;
  test::PutU16(pe64, 0x58, 0x20B);
  const TBytes ne = NeLibrary({"ONE", "TWO", "THREE"});
  for (const TBytes* whole : std::initializer_list<const TBytes*>{&pe, &pe64, &ne}) {
    for (size_t length = 0; length <= whole->size(); length += 5) {
      const std::span<const uint8_t> cut(whole->data(), length);
      SCOPED_TRACE(length);
      ProbeModule(cut);
      TPE64ResourceModule module;
      try {
        module.DecodeModule(cut);
      } catch (const EGlyphmillError&) {
      }
      T16BitReader reader("cut", cut);
      reader.ReadIcons();
      TIconLibrary library;
      library.ScanForIcons(cut);
    }
  }
}

TEST(TIconList, MoveIconAndDefaultNames) {
  TIconList list;
  for (int i = 0; i < 7; ++i) {
    auto icon = std::make_unique<TAdvancedIcon>();
    list.AddIcon(i == 3 ? "named" : "", std::move(icon));
  }
  list.AddIcon("ignored", nullptr);
  ASSERT_EQ(list.Count(), 7);
  EXPECT_EQ(list.Name(0), "Icon 1");
  EXPECT_EQ(list.Name(6), "Icon 7");
  std::vector<TAdvancedIcon*> before;
  for (int i = 0; i < 7; ++i) before.push_back(list.IconAt(i));
  list.MoveIcon(5, 2);
  const std::vector<TAdvancedIcon*> expected = {before[0], before[1], before[5], before[2],
                                                before[3], before[4], before[6]};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(list.IconAt(i), expected[i]) << i;
  EXPECT_EQ(list.Name(4), "named");
  list.MoveIcon(2, 5);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(list.IconAt(i), before[i]) << i;
  EXPECT_THROW(list.MoveIcon(0, 7), EGlyphmillError);
}

TEST(TIconList, PropertyFormRoundTrips) {
  TIconList list;
  TMemoryStream empty;
  list.WriteProperty(empty);
  EXPECT_EQ(empty.Size(), 0);

  for (const char* name : {"MAINICON", "图标"}) {
    auto icon = std::make_unique<TAdvancedIcon>();
    icon->Images.Add(std::make_unique<TSubIcon>(TIconEntry{}, DibIconImage(16, 4)));
    icon->Images.Add(std::make_unique<TSubIcon>(TIconEntry{}, DibIconImage(32, 8)));
    list.AddIcon(name, std::move(icon));
  }
  TMemoryStream stream;
  list.WriteProperty(stream);
  stream.SetPosition(0);
  TIconList read;
  read.ReadProperty(stream);
  EXPECT_EQ(stream.Remaining(), 0);
  ASSERT_EQ(read.Count(), 2);
  EXPECT_EQ(read.Name(1), "图标");
  ASSERT_EQ(read.IconAt(1)->Images.Count(), 2);
  const TSubIcon* image = read.IconAt(1)->Images[1];
  EXPECT_EQ(TBytes(image->Data().begin(), image->Data().end()), DibIconImage(32, 8));
}

}  // namespace
}  // namespace glyphmill
