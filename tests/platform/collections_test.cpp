#include <gtest/gtest.h>

#include <vector>

#include "platform/collections.h"

TEST(StringKeyMap, ReplaceLookupAndRemoveDuringWalk) {
  CStringKeyMap<int> m;
  m.SetAt("7", 1);
  m.SetAt("12", 2);
  m.SetAt("7", 3);  // replaces
  int v = 0;
  ASSERT_TRUE(m.Lookup("7", v));
  EXPECT_EQ(v, 3);
  EXPECT_FALSE(m.Lookup("8", v));
  EXPECT_EQ(m.GetCount(), 2);
  m.SetAt("3", 4);
  std::vector<std::string> order;
  for (auto it = m.begin(); it != m.end();) {
    order.push_back(it->first);
    it = (it->second == 2) ? m.erase(it) : std::next(it);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"12", "3", "7"}));  // stable lexical order
  EXPECT_EQ(m.GetCount(), 2);
  EXPECT_TRUE(m.RemoveKey("3"));
  EXPECT_FALSE(m.RemoveKey("3"));
  m.RemoveAll();
  EXPECT_TRUE(m.IsEmpty());
}
