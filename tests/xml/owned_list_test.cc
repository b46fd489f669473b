// tests/xml/owned_list_test.cc: the child list across its switch from the
// inline slot to the heap and back to empty.
#include "xml/owned_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace {

using xmldoc::OwnedList;

// Counts the live items, so that a leak or a double destruction shows.
struct Item {
  explicit Item(int itemValue, int& liveCount) : value(itemValue), live(liveCount) { ++live; }
  ~Item() { --live; }
  int value;
  int& live;
};

std::vector<int> Values(const OwnedList<Item>& list) {
  std::vector<int> values;
  for (const std::unique_ptr<Item>& item : list) values.push_back(item->value);
  return values;
}

TEST(OwnedListTest, KeepsOrderAndOwnershipAcrossEverySize) {
  for (int size = 0; size <= 9; ++size) {
    SCOPED_TRACE(size);
    int live = 0;
    {
      OwnedList<Item> list;
      std::vector<int> expected;
      for (int i = 0; i < size; ++i) {
        list.push_back(std::make_unique<Item>(i, live));
        expected.push_back(i);
      }
      EXPECT_EQ(static_cast<std::size_t>(size), list.size());
      EXPECT_EQ(size == 0, list.empty());
      EXPECT_EQ(expected, Values(list));
      if (size > 0) {
        EXPECT_EQ(size - 1, list.back()->value);
      }
      OwnedList<Item> moved(std::move(list));
      EXPECT_TRUE(list.empty());  // NOLINT: the moved-from list is empty and usable
      list.push_back(std::make_unique<Item>(100, live));
      EXPECT_EQ(std::vector<int>{100}, Values(list));
      list = std::move(moved);  // the old single item is destroyed
      EXPECT_EQ(expected, Values(list));
      EXPECT_EQ(size, live);
      if (size > 0) {
        list.erase(list.begin());
        expected.erase(expected.begin());
        EXPECT_EQ(expected, Values(list));
        EXPECT_EQ(size - 1, live);
      }
      list.clear();
      EXPECT_EQ(0, live);
      list.push_back(std::make_unique<Item>(7, live));  // room is kept after clear
      EXPECT_EQ(std::vector<int>{7}, Values(list));
    }
    EXPECT_EQ(0, live);
  }
  int live = 0;
  OwnedList<Item> list;
  list.reserve(1);  // fits inline
  list.push_back(std::make_unique<Item>(0, live));
  list.reserve(5);
  for (int i = 1; i < 5; ++i) list.push_back(std::make_unique<Item>(i, live));
  const std::unique_ptr<Item>* const first = &list[0];
  list.erase(list.begin() + 2);
  EXPECT_EQ(first, &list[0]);  // no reallocation
  list.erase(list.end() - 1);
  EXPECT_EQ((std::vector<int>{0, 1, 3}), Values(list));
  EXPECT_EQ(3, live);
}

}  // namespace
