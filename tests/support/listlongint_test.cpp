#include <gtest/gtest.h>

#include <functional>

#include "support/errors.h"
#include "support/listlongint.h"

namespace glyphmill {
namespace {

TEST(TListLongint, GrowsByFourThenSixteen) {
  TListLongint list;
  std::vector<int32_t> capacities;
  for (int i = 0; i < 30; ++i) {
    list.Add(i);
    capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities[0], 4);
  EXPECT_EQ(capacities[4], 8);
  EXPECT_EQ(capacities[8], 12);
  EXPECT_EQ(capacities[12], 28);
  EXPECT_EQ(capacities[28], 44);
}

TEST(TListLongint, BadIndexCountAndCapacityFailWithTheirMessages) {
  TListLongint list;
  list.Add(5);
  struct Case {
    std::function<void()> action;
    const char* message;
  } cases[] = {
      {[&] { list.Get(1); }, "List index out of bounds (1)"},
      {[&] { list.Put(-1, 0); }, "List index out of bounds (-1)"},
      {[&] { list.Delete(3); }, "List index out of bounds (3)"},
      {[&] { list.SetCount(-2); }, "List count out of bounds (-2)"},
      {[&] { list.SetCount(134217728); }, "List count out of bounds (134217728)"},
      {[&] { list.SetCapacity(0); }, "List capacity out of bounds (0)"},
  };
  for (const auto& c : cases) {
    try {
      c.action();
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const EGlyphmillError& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST(TListLongint, EditsSortAndTextAndStreamRoundTrip) {
  TListLongint list;
  list.AddFromLines({"48", " 16", "x", "32", ""});
  list.Insert(0, 256);
  list.AddUnique(16);
  EXPECT_EQ(list.ToVector(), (std::vector<int32_t>{256, 48, 16, 32}));
  EXPECT_EQ(list.IndexOf(32), 3);
  EXPECT_EQ(list.IndexOf(7), -1);
  list.Exchange(0, 3);
  list.Delete(1);
  EXPECT_EQ(list.ToVector(), (std::vector<int32_t>{32, 16, 256}));
  list.Sort();
  EXPECT_EQ(list.ToLines(), (std::vector<std::string>{"16", "32", "256"}));
  EXPECT_EQ(list.Min(), 16);
  list.SetCount(5);
  EXPECT_EQ(list.Get(4), 0);

  TMemoryStream stream;
  list.SaveToStream(stream);
  EXPECT_EQ(stream.Size(), 4 + 5 * 4);
  stream.SetPosition(0);
  TListLongint loaded;
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded, list);
  list.Clear();
  EXPECT_EQ(list.Capacity(), 0);
}

}  // namespace
}  // namespace glyphmill
