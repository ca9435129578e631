#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/records.h"
#include "platform/timeutil.h"
#include "ui/core/displaytext.h"

TEST(DisplayText, ColumnLines) {
  struct Case {
    const char* type;
    int length;
    const char* line;
  } cases[] = {
      {"varchar", 50, "Name (varchar (50))"},
      {"char", 10, "Name (char (10))"},
      {"varbinary", 16, "Name (varbinary (16))"},
      {"nvarchar", 100, "Name (nvarchar (50))"},   // national types count characters
      {"nchar", 20, "Name (nchar (10))"},
      {"nchar", 1, "Name (nchar (0))"},
      {"text", 16, "Name (text (16))"},
      {"ntext", 16, "Name (ntext (16))"},           // not halved: only nchar and nvarchar are
      {"int", 4, "Name (int)"},
      {"decimal", 9, "Name (decimal)"},
      {"binary", 8, "Name (binary)"},
      {"varchar", 8000, "Name (varchar (8000))"},
      {"varchar", 0xFFFF, "Name (varchar (max))"},
      {"nvarchar", 0xFFFF, "Name (nvarchar (max))"},
      {"varbinary", 0xFFFF, "Name (varbinary (max))"},
      {"VARCHAR", 5, "Name (VARCHAR)"},  // type names are the engines' lower-case names
  };
  for (const Case& c : cases) {
    CColumn column;
    column.m_strName = "Name";
    column.m_strType = c.type;
    column.m_wLength = WORD(c.length);
    EXPECT_EQ(ColumnLine(column), c.line) << c.type << " " << c.length;
  }
}

TEST(DisplayText, BackupSetDates) {
  struct Case {
    int y, m, d, h, min;
    const char* text;
  } cases[] = {
      {2010, 3, 15, 14, 5, "Mon 15/3/2010  2:05 PM"},  {2010, 3, 16, 0, 7, "Tue 16/3/2010  12:07 AM"},
      {2010, 3, 17, 12, 0, "Wed 17/3/2010  12:00 PM"}, {2010, 3, 18, 11, 59, "Thu 18/3/2010  11:59 AM"},
      {2010, 3, 19, 23, 59, "Fri 19/3/2010  11:59 PM"}, {2010, 3, 20, 9, 30, "Sat 20/3/2010  9:30 AM"},
      {2010, 3, 21, 12, 30, "Sun 21/3/2010  12:30 PM"}, {2000, 2, 29, 1, 1, "Tue 29/2/2000  1:01 AM"},
      {1900, 1, 1, 0, 0, "Mon 1/1/1900  12:00 AM"},     {1969, 12, 31, 13, 0, "Wed 31/12/1969  1:00 PM"},
      {2010, 3, 22, 10, 1, "Mon 22/3/2010  10:01 AM"},
  };
  for (const Case& c : cases) {
    SYSTEMTIME t;
    t.wYear = WORD(c.y);
    t.wMonth = WORD(c.m);
    t.wDay = WORD(c.d);
    t.wHour = WORD(c.h);
    t.wMinute = WORD(c.min);
    EXPECT_EQ(BackupSetDateText(t), c.text);
  }
}

TEST(DisplayText, PagerRows) {
  struct Case {
    long long first, count, total;
    const char* text;
  } cases[] = {
      {0, 500, -1, "rows 1-500"},           {500, 330, -1, "rows 501-830"},
      {500, 330, 830, "rows 501-830 of 830"}, {0, 1, 1, "rows 1-1 of 1"},
      {0, 0, 0, "no rows"},                 {-1, 42, -1, "42 rows"},
  };
  for (const Case& c : cases) EXPECT_EQ(PagerRowsText(c.first, c.count, c.total), c.text);
}

TEST(DisplayText, TreeOrderIgnoresCaseAndIsTotal) {
  std::vector<std::string> texts = {"b", "Orders", "_x", "A", "Order Details", "a", "Z", "B", "Order", "\xe9t\xe9"};
  std::sort(texts.begin(), texts.end(), TreeTextLess);
  EXPECT_EQ(texts, (std::vector<std::string>{"_x", "A", "a", "B", "b", "Order", "Order Details", "Orders", "Z",
                                             "\xe9t\xe9"}));
  EXPECT_FALSE(TreeTextLess("abc", "abc"));
  EXPECT_TRUE(TreeTextLess("ABC", "abc"));
  EXPECT_FALSE(TreeTextLess("abc", "ABC"));
}

TEST(DisplayText, PathsForMessages) {
  struct Case {
    const char* path;
    const char* shown;
  } cases[] = {
      {"/data/northwind.bak", "/data/northwind.bak"},
      {"/data/Am\xc3\xa9rique.bak", "/data/Am\xc3\xa9rique.bak"},     // UTF-8 as it is
      {"/data/\xe6\x97\xa5\xe6\x9c\xac.bak", "/data/\xe6\x97\xa5\xe6\x9c\xac.bak"},
      {"/data/\xf0\x9f\x98\x80.bak", "/data/\xf0\x9f\x98\x80.bak"},
      {"/data/raw\xe9.bak", "/data/raw\xc3\xa9.bak"},                 // not UTF-8: read as Latin-1
      {"/data/cut\xc3", "/data/cut\xc3\x83"},                         // a sequence cut short
      {"/data/\xc0\xaf", "/data/\xc3\x80\xc2\xaf"},                  // an overlong form
      {"/data/\xed\xa0\x80", "/data/\xc3\xad\xc2\xa0\xc2\x80"},     // a surrogate is no UTF-8
  };
  for (const Case& c : cases) EXPECT_EQ(PathForDisplay(c.path), c.shown) << c.path;
}
