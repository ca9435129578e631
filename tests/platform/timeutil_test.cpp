#include <gtest/gtest.h>

#include "platform/guid.h"
#include "platform/timeutil.h"

TEST(TimeUtil, FileTimeRoundTripAndEpoch) {
  SYSTEMTIME st;
  st.wYear = 1601;
  st.wMonth = 1;
  st.wDay = 1;
  std::uint64_t ft = 1;
  ASSERT_TRUE(SystemTimeToFileTime(st, ft));
  EXPECT_EQ(ft, 0u);
  st.wYear = 1970;
  ASSERT_TRUE(SystemTimeToFileTime(st, ft));
  EXPECT_EQ(ft, 116444736000000000ull);
  SYSTEMTIME back;
  SYSTEMTIME leap{2000, 2, 0, 29, 23, 59, 58, 997};
  ASSERT_TRUE(SystemTimeToFileTime(leap, ft));
  ASSERT_TRUE(FileTimeToSystemTime(ft, back));
  EXPECT_EQ(back.wYear, 2000);
  EXPECT_EQ(back.wMonth, 2);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wDayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(back.wHour, 23);
  EXPECT_EQ(back.wMilliseconds, 997);
  SYSTEMTIME early{1600, 12, 0, 31, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(early, ft));
}

TEST(Guid, RegistryForm) {
  const BYTE b[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  EXPECT_EQ(GuidToString(b).str(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
}
