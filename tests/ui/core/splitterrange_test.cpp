#include <gtest/gtest.h>

#include "ui/core/splitterrange.h"

TEST(SplitterRange, ClampsToTheRangeAroundTheStart) {
  const SplitterRange range = SplitterRange::Around(300, 62, 275);
  EXPECT_EQ(range.minimum, 238);
  EXPECT_EQ(range.maximum, 575);
  struct Case {
    int position;
    int clamped;
  } cases[] = {{300, 300}, {340, 340}, {238, 238}, {237, 238}, {-5000, 238}, {575, 575}, {576, 575}, {99999, 575}};
  for (const Case& c : cases) EXPECT_EQ(range.Clamp(c.position), c.clamped) << c.position;

  // Before any range is set the bar is not held back; a range of one point holds it still.
  EXPECT_EQ(SplitterRange().Clamp(-20), -20);
  EXPECT_EQ(SplitterRange::Around(40, 0, 0).Clamp(90), 40);
}
