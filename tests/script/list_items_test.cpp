#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "script/ListItems.h"

namespace {

// Every item a scan of `value` yields, into buffers of `itemSize` bytes.
std::vector<std::string> Items(const char* value, bool paired = false, int32_t itemSize = 100) {
  std::vector<std::string> items;
  ListItemScan scan = {0, 0};
  std::vector<char> item(static_cast<size_t>(itemSize > 0 ? itemSize : 1), 'x');
  const auto length = static_cast<int32_t>(std::strlen(value));
  while (NextListItem(value, length, paired, scan, item.data(), itemSize)) {
    items.emplace_back(item.data());
    if (items.size() > 100) break;  // a scan that never ends fails below
  }
  return items;
}

using List = std::vector<std::string>;

TEST(ListItems, TakesTheFirstWordOfEachLineWithUnderscoresAsBlanks) {
  EXPECT_EQ(List({"Slow", "Fast mode"}), Items("Slow\nFast_mode\n"));
  EXPECT_EQ(List({"Fast"}), Items("Fast mode\n"));  // the rest of the line is not shown
  EXPECT_EQ(List({"a", "b", "c"}),
            Items("  a x\n\tb\tx\nc"));  // leading blanks, tabs, no last line feed
  EXPECT_EQ(List({"One", "a", "Two", "b"}), Items("One\na\nTwo\nb\n"));  // the script's order
}

TEST(ListItems, PairedListKeepsEveryOtherItem) {
  EXPECT_EQ(List({"One", "Two"}), Items("One\na\nTwo\nb\n", true));
  EXPECT_EQ(List({"One", "Two"}), Items("One\na\nTwo", true));
  EXPECT_EQ(List({"A long"}), Items("A_long x\nshort\n", true));
}

TEST(ListItems, SkipsEmptyAndBlankLinesWithoutShiftingThePairs) {
  EXPECT_EQ(List({"A", "B"}), Items("A\n\nB\n"));
  EXPECT_EQ(List({"A", "B"}), Items("\nA\n  \t\nB\n\n"));
  EXPECT_EQ(List({"One", "Two"}), Items("One\n\na\n \nTwo\nb\n", true));
}

TEST(ListItems, YieldsNothingForAValueWithoutWords) {
  EXPECT_TRUE(Items("").empty());
  EXPECT_TRUE(Items("\n").empty());
  EXPECT_TRUE(Items(" \n\t\n  ").empty());
  EXPECT_TRUE(Items("_", false).size() == 1);  // a lone '_' is an item of one blank
}

TEST(ListItems, CutsAnItemToItsBufferAndStaysWithinTheLength) {
  EXPECT_EQ(List({"abc", "de"}), Items("abcdef\nde\n", false, 4));
  // The scan reads no further than the length it is given, NUL or not.
  const char value[] = {'A', '\n', 'B', 'C', '\n', 'D'};
  ListItemScan scan = {0, 0};
  char item[8];
  ASSERT_EQ(1, NextListItem(value, 4, 0, scan, item, sizeof item));
  EXPECT_STREQ("A", item);
  ASSERT_EQ(1, NextListItem(value, 4, 0, scan, item, sizeof item));
  EXPECT_STREQ("BC", item);
  EXPECT_EQ(0, NextListItem(value, 4, 0, scan, item, sizeof item));
  EXPECT_EQ(3, BoundedLength("abc", 10));
  EXPECT_EQ(2, BoundedLength("abc", 2));
}

}  // namespace
