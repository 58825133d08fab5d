#include <gtest/gtest.h>

#include <algorithm>

#include "module_builder.h"
#include "modules/unitpefile.h"
#include "modules/unitresourcegraphics.h"
#include "support/errors.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::PeFile;
using test::PeWithResources;
using test::PutU16;
using test::PutU32;
using test::ResourceSection;
using test::TBytes;

TBytes Bytes(std::initializer_list<uint8_t> list) { return TBytes(list); }

// Decodes through LoadFromFile, as the libraries do.
std::unique_ptr<TPEResourceModule> LoadModule(const TBytes& bytes) {
  test::TTempDir folder;
  test::WriteAll(folder / "module.dll", bytes);
  auto module = std::make_unique<TPEResourceModule>();
  module->LoadFromFile((folder / "module.dll").string());
  return module;
}

TEST(TPEResourceModule, RejectsWhatIsNotA32BitModule) {
  const TBytes good = PeWithResources({{"14", "1", "1033", Bytes({0, 0, 1, 0, 0, 0})}});
  TBytes noMz = good;
  noMz[0] = 'X';
  TBytes noPe = good;
  noPe[0x41] = 'X';
  TBytes badOffset = good;
  PutU32(badOffset, 60, 0xFFFFFFF0);
  TBytes magic107 = good;
  PutU16(magic107, 0x58, 0x107);
  const struct {
    const char* What;
    TBytes Bytes;
    const char* Message;
  } cases[] = {
      {"no MZ", noMz, "Invalid DOS signature"},
      {"too short", Bytes({'M', 'Z'}), "Invalid DOS signature"},
      {"no PE", noPe, "Invalid COFF signature"},
      {"header offset outside", badOffset, "Invalid COFF signature"},
      {"PE32+", PeWithResources({}, 0x20B), "Invalid Windows Image"},
      {"magic 0x107", magic107, "Invalid Windows Image"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TPEResourceModule module;
    try {
      module.DecodeModule(c.Bytes);
      ADD_FAILURE() << "no error";
    } catch (const EPEException& error) {
      EXPECT_STREQ(error.what(), c.Message);
    }
    EXPECT_EQ(LoadModule(c.Bytes)->ResourceCount(), 0);
  }
  EXPECT_EQ(LoadModule(good)->ResourceCount(), 1);
}

TEST(TPEResourceModule, UnopenableFileGivesAnEmptyModule) {
  TPEResourceModule module;
  module.LoadFromFile("/nonexistent/module.dll");
  EXPECT_EQ(module.ResourceCount(), 0);
}

TEST(TPEResourceModule, WalksTypesNamesAndLanguagesInStoredOrder) {
  const auto module = LoadModule(PeWithResources({
      {"14", "1", "1033", Bytes({1})},
      {"14", "1", "1031", Bytes({2})},
      {"14", "MAINICON", "1033", Bytes({3})},
      {"14", "图标", "0", Bytes({4})},
      {"3", "7", "1033", Bytes({5, 6})},
  }));
  ASSERT_EQ(module->ResourceCount(), 5);
  const struct {
    const char* Type;
    const char* Name;
    bool NameIsString;
    uint32_t Language;
    uint8_t FirstByte;
  } expected[] = {
      {"14", "MAINICON", true, 1033, 3}, {"14", "图标", true, 0, 4}, {"14", "1", false, 1033, 1},
      {"14", "1", false, 1031, 2},       {"3", "7", false, 1033, 5},
  };
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const TResourceDetails& details = *module->ResourceAt(i);
    EXPECT_EQ(details.TypeText(), expected[i].Type);
    EXPECT_EQ(details.NameText(), expected[i].Name);
    EXPECT_EQ(details.NameIsString(), expected[i].NameIsString);
    EXPECT_EQ(details.LanguageId(), expected[i].Language);
    EXPECT_EQ(details.Data()[0], expected[i].FirstByte);
    EXPECT_EQ(details.DataVersion(), 0x00040000u);
  }
  // The first language variant wins, whatever its language.
  EXPECT_EQ(module->FindByTypeAndName("14", "1"), module->ResourceAt(2));
  EXPECT_EQ(module->FindByTypeAndName("14", "mainicon"), nullptr);
  EXPECT_FALSE(module->HasDataOutsideResourceSection());
}

TEST(TPEResourceModule, ResourceDirectoryInMidSectionIsNotFound) {
  const TBytes section = ResourceSection({{"14", "1", "1033", Bytes({1, 2, 3})}}, 0x1000, 0x100);
  EXPECT_EQ(LoadModule(PeFile({{0x1000, section}}, 0x1100))->ResourceCount(), 0);
}

TEST(TPEResourceModule, FindsDataInOtherSectionsAndCutsSizesAtTheSectionEnd) {
  TBytes later(0x300, 0);
  for (size_t i = 0; i < later.size(); ++i) later[i] = static_cast<uint8_t>(i);
  const TBytes section = ResourceSection(
      {
          {"10", "INSIDE", "0", Bytes({9, 9, 9}), std::nullopt, 0x100000},
          {"10", "LATER", "0", {}, 0x3010, 0x20},
          {"10", "START", "0", {}, 0x3000, 4},
          {"10", "TAIL", "0", {}, 0x32F0, 0x100},
          {"10", "NOWHERE", "0", {}, 0x9000, 4},
      },
      0x1000);
  const auto module = LoadModule(PeFile({{0x1000, section}, {0x3000, later}}, 0x1000));
  ASSERT_EQ(module->ResourceCount(), 4);
  EXPECT_TRUE(module->HasDataOutsideResourceSection());
  const TResourceDetails* inside = module->FindByTypeAndName("10", "INSIDE");
  ASSERT_NE(inside, nullptr);
  // Cut at the end of the resource section's data.
  const TBytes nines = Bytes({9, 9, 9});
  const size_t insideOffset = std::search(section.begin(), section.end(), nines.begin(), nines.end()) - section.begin();
  EXPECT_EQ(inside->Data().size(), section.size() - insideOffset);
  EXPECT_EQ(inside->Data()[0], 9);
  const TResourceDetails* laterData = module->FindByTypeAndName("10", "LATER");
  ASSERT_NE(laterData, nullptr);
  EXPECT_EQ(TBytes(laterData->Data().begin(), laterData->Data().end()),
            TBytes(later.begin() + 0x10, later.begin() + 0x30));
  EXPECT_EQ(module->FindByTypeAndName("10", "START")->Data()[0], 0);
  EXPECT_EQ(module->FindByTypeAndName("10", "TAIL")->Data().size(), 0x10u);
  EXPECT_EQ(module->FindByTypeAndName("10", "NOWHERE"), nullptr);
}

TEST(TPEResourceModule, NamedLanguageStopsTheWalkAndKeepsEarlierResources) {
  const TBytes bytes = PeWithResources({
      {"3", "1", "1033", Bytes({1})},
      {"14", "1", "1033", Bytes({2})},
      {"14", "2", "ENGLISH", Bytes({3})},
      {"14", "3", "1033", Bytes({4})},
  });
  EXPECT_EQ(LoadModule(bytes)->ResourceCount(), 2);
  TPEResourceModule module;
  try {
    module.DecodeModule(bytes);
    ADD_FAILURE() << "no error";
  } catch (const EPEException& error) {
    EXPECT_STREQ(error.what(), "Unsupported non-integer language ID in resource");
  }
}

TEST(TPEResourceModule, HostileTreesTerminate) {
  // The root's only type entry points back at the root; a name directory points at the root.
  TBytes section = ResourceSection({{"14", "1", "1033", Bytes({1})}}, 0x1000);
  TBytes selfLoop = section;
  PutU32(selfLoop, 20, 0x80000000u);
  TBytes nameLoop = section;
  PutU32(nameLoop, 24 + 20, 0x80000000u);
  TBytes outside = section;
  PutU32(outside, 20, 0x8FFFFFF0u);
  TBytes empty = section;
  PutU16(empty, 14, 0);
  for (const TBytes& variant : {selfLoop, nameLoop, outside, empty})
    EXPECT_EQ(LoadModule(PeFile({{0x1000, variant}}, 0x1000))->ResourceCount(), 0);
}

TEST(TPEResourceModule, DetailsClassesFollowTypeThenContent) {
  TBytes bitmapFile(60, 0);
  bitmapFile[0] = 'B';
  bitmapFile[1] = 'M';
  PutU32(bitmapFile, 14, 40);
  TBytes bitmapV5 = bitmapFile;
  PutU32(bitmapV5, 14, 124);
  TBytes reservedSet = bitmapFile;
  reservedSet[6] = 1;
  const auto module = LoadModule(PeWithResources({
      {"2", "1", "0", Bytes({1})},
      {"14", "1", "0", Bytes({1})},
      {"12", "1", "0", Bytes({1})},
      {"3", "1", "0", Bytes({1})},
      {"1", "1", "0", Bytes({1})},
      {"10", "1", "0", bitmapFile},
      {"PICTURE", "2", "0", bitmapV5},
      {"PICTURE", "3", "0", reservedSet},
      {"5", "1", "0", Bytes({1})},
  }));
  ASSERT_EQ(module->ResourceCount(), 9);
  auto is = [&](const char* type, const char* name) { return module->FindByTypeAndName(type, name); };
  EXPECT_NE(dynamic_cast<TBitmapResourceDetails*>(is("2", "1")), nullptr);
  EXPECT_EQ(dynamic_cast<TDIBResourceDetails*>(is("2", "1")), nullptr);
  EXPECT_NE(dynamic_cast<TIconGroupResourceDetails*>(is("14", "1")), nullptr);
  EXPECT_NE(dynamic_cast<TCursorGroupResourceDetails*>(is("12", "1")), nullptr);
  EXPECT_NE(dynamic_cast<TIconResourceDetails*>(is("3", "1")), nullptr);
  EXPECT_NE(dynamic_cast<TCursorResourceDetails*>(is("1", "1")), nullptr);
  EXPECT_NE(dynamic_cast<TDIBResourceDetails*>(is("10", "1")), nullptr);
  EXPECT_NE(dynamic_cast<TDIBResourceDetails*>(is("PICTURE", "2")), nullptr);
  EXPECT_EQ(typeid(*is("PICTURE", "3")), typeid(TResourceDetails));
  EXPECT_EQ(typeid(*is("5", "1")), typeid(TResourceDetails));
}

TEST(TPEResourceModule, RegistryKeepsRegistrationOrder) {
  const auto& registry = RegisteredDetailsClasses();
  ASSERT_GE(registry.size(), 6u);
  const std::string keys[] = {"2", "DIB", "14", "12", "3", "1"};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(registry[i]->DetailsTypeKey(), keys[i]);
  UnregisterGraphicsResourceClasses();
  EXPECT_TRUE(RegisteredDetailsClasses().empty());
  const auto plain = CreateResourceDetails(nullptr, 0, "1", "14", {});
  EXPECT_EQ(typeid(*plain), typeid(TResourceDetails));
  RegisterGraphicsResourceClasses();
  EXPECT_EQ(RegisteredDetailsClasses().size(), 6u);
}

TEST(WideNameToText, ConvertsUtf16AndEndsAtNul) {
  const std::vector<uint16_t> units = {'A', 0x56FE, 0xD83D, 0xDE00, 0xDC00, 0, 'B'};
  EXPECT_EQ(WideNameToText(units), "A图😀\xEF\xBF\xBD");
}

}  // namespace
}  // namespace glyphmill
