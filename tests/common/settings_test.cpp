#include "common/settings.h"

#include <gtest/gtest.h>

#include "support/fixtures.h"

TEST(Settings, KeysValuesAndTheirBlanks) {
  const std::string text = "Thread_Size=4\r\n Exportsize = 250 \r\nAvoid_Duplicate=\nExportsize=9\nexportsize=7\n";
  struct Case {
    const char* key;
    SettingLookup result;
    const char* value;
  } cases[] = {
      {"Thread_Size", SettingLookup::Found, "4"},
      {"Exportsize", SettingLookup::Found, "250"},  // the first line wins
      {"Avoid_Duplicate", SettingLookup::Found, ""},
      {"Missing", SettingLookup::NoKey, ""},
  };
  for (const Case& c : cases) {
    std::string value;
    EXPECT_EQ(FindSetting(text, c.key, value), c.result) << c.key;
    EXPECT_EQ(value, c.value) << c.key;
  }
}

TEST(Settings, MissingFileIsToldApartFromAMissingKey) {
  testsupport::ModuleFolderScope scope;
  std::string value;
  EXPECT_EQ(ReadSetting("Exportsize", value), SettingLookup::NoFile);
  testsupport::WriteFile(scope.path() + "/sql.settings", "Thread_Size=2\n");
  EXPECT_EQ(ReadSetting("Exportsize", value), SettingLookup::NoKey);
  EXPECT_EQ(ReadSetting("Thread_Size", value), SettingLookup::Found);
  EXPECT_EQ(value, "2");
}

// The line splitter both rules stand on: keys and values as written, '=' kept in a value,
// one carriage return taken off, lines without '=' passed over.
TEST(Settings, LinesAreSplitAtTheFirstEqualsSign) {
  const std::vector<SettingLine> lines = SettingLines("a=b=c\r\r\n# note\n k = v \r\n=x\nlast=1");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].key, "a");
  EXPECT_EQ(lines[0].value, "b=c\r");
  EXPECT_EQ(lines[1].key, " k ");
  EXPECT_EQ(lines[1].value, " v ");
  EXPECT_EQ(lines[2].key, "");
  EXPECT_EQ(lines[2].value, "x");
  EXPECT_EQ(lines[3].value, "1");
}
