#include <gtest/gtest.h>

#include "module_builder.h"
#include "modules/unitresourcegraphics.h"
#include "support/errors.h"

namespace glyphmill {
namespace {

using test::DibIconImage;
using test::GroupResource;
using test::PeWithResources;
using test::TBytes;

TBytes ImageBytes(const TSubIcon& image) { return TBytes(image.Data().begin(), image.Data().end()); }

template <class TModule>
std::unique_ptr<TModule> Decode(const std::vector<test::TPeResource>& resources, uint16_t magic = 0x10B) {
  auto module = std::make_unique<TModule>();
  module->DecodeModule(PeWithResources(resources, magic));
  return module;
}

TEST(LoadFromModuleGroup, TakesImagesInEntryOrderAndSkipsMissingOnes) {
  const TBytes image16 = DibIconImage(16, 4, 1);
  TBytes image32 = DibIconImage(32, 8, 2);
  const auto module = Decode<TPEResourceModule>({
      {"14", "1", "1033", GroupResource({{32, 8, 100, 2}, {48, 8, 0, 9}, {16, 4, 0, 1}})},
      {"3", "1", "1033", image16},
      {"3", "2", "1033", image32},
  });
  TAdvancedIcon icon;
  ASSERT_TRUE(LoadFromModuleGroup(icon, *module, "1"));
  ASSERT_EQ(icon.Images.Count(), 2);
  EXPECT_EQ(ImageBytes(*icon.Images[0]), image32);
  // The group claimed 100 bytes; the real size wins.
  EXPECT_EQ(icon.Images[0]->Entry().dwBytesInRes, image32.size());
  EXPECT_EQ(icon.Images[0]->GetWidth(), 32);
  EXPECT_EQ(ImageBytes(*icon.Images[1]), image16);
  EXPECT_NE(dynamic_cast<TResourceIconImage*>(icon.Images[1]), nullptr);

  TAdvancedIcon missing;
  EXPECT_FALSE(LoadFromModuleGroup(missing, *module, "2"));
  EXPECT_EQ(missing.Images.Count(), 0);
}

TEST(LoadFromModuleGroup, HeaderRulesAndTheFirstLanguage) {
  TBytes badHeader = GroupResource({{16, 4, 0, 1}});
  badHeader[2] = 3;
  const auto module = Decode<TPEResourceModule>({
      {"14", "CURSORKIND", "0", GroupResource({{16, 4, 0, 1}}, 2)},
      {"14", "EMPTY", "0", GroupResource({})},
      {"14", "BAD", "0", badHeader},
      {"14", "SHORT", "0", TBytes{0, 0, 1}},
      {"14", "TWO", "1033", GroupResource({{16, 4, 0, 1}})},
      {"14", "TWO", "1031", GroupResource({{32, 8, 0, 2}})},
      {"3", "1", "0", DibIconImage(16, 4)},
      {"3", "2", "0", DibIconImage(32, 8)},
  });
  const struct {
    const char* Name;
    bool Result;
    int Count;
    int Width;
  } cases[] = {
      {"CURSORKIND", true, 1, 16}, {"EMPTY", true, 0, 0}, {"BAD", false, 0, 0},
      {"SHORT", false, 0, 0},      {"TWO", true, 1, 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TAdvancedIcon icon;
    EXPECT_EQ(LoadFromModuleGroup(icon, *module, c.Name), c.Result);
    ASSERT_EQ(icon.Images.Count(), c.Count);
    if (c.Count > 0) {
      EXPECT_EQ(icon.Images[0]->GetWidth(), c.Width);
    }
  }
}

TEST(LoadFromModuleGroup, InvalidImagePassesOut) {
  TBytes wide = DibIconImage(16, 4);
  test::PutU32(wide, 4, 6000);
  const auto module = Decode<TPEResourceModule>({
      {"14", "1", "0", GroupResource({{16, 4, 0, 1}})},
      {"3", "1", "0", wide},
  });
  TAdvancedIcon icon;
  try {
    LoadFromModuleGroup(icon, *module, "1");
    ADD_FAILURE() << "no error";
  } catch (const EGlyphmillError& error) {
    EXPECT_STREQ(error.what(), "Invalid image");
  }
}

TEST(LoadFromGroupResource, ResolvesGroupAndImagesInTheLoadersLanguage) {
  const auto module = Decode<TPE64ResourceModule>(
      {
          {"14", "1", "1031", GroupResource({{16, 4, 0, 1}})},
          {"14", "1", "0", GroupResource({{32, 8, 0, 2}})},
          {"14", "APP", "1033", GroupResource({{16, 4, 0, 1}})},
          {"14", "APP", "1031", GroupResource({{32, 8, 0, 2}})},
          {"14", "LOST", "0", GroupResource({{16, 4, 0, 7}})},
          {"3", "1", "1033", DibIconImage(16, 4, 1)},
          {"3", "1", "1031", DibIconImage(16, 4, 2)},
          {"3", "2", "1033", DibIconImage(32, 8, 3)},
      },
      0x20B);
  TAdvancedIcon neutral;
  ASSERT_TRUE(LoadFromGroupResource(neutral, *module, false, "1"));
  ASSERT_EQ(neutral.Images.Count(), 1);
  EXPECT_EQ(neutral.Images[0]->GetWidth(), 32);

  TAdvancedIcon first;
  ASSERT_TRUE(LoadFromGroupResource(first, *module, true, "APP"));
  ASSERT_EQ(first.Images.Count(), 1);
  EXPECT_EQ(ImageBytes(*first.Images[0]), DibIconImage(16, 4, 1));

  TAdvancedIcon lost;
  EXPECT_THROW(LoadFromGroupResource(lost, *module, true, "LOST"), EReadError);
  EXPECT_THROW(LoadFromGroupResource(lost, *module, false, "APP"), EReadError);
}

}  // namespace
}  // namespace glyphmill
