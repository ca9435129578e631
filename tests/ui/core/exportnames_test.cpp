#include "ui/core/exportnames.h"

#include <gtest/gtest.h>

namespace {

TEST(ExportNames, FileNamesKeepEveryLetterAndLoseOnlyWhatWindowsForbids) {
  struct Case { const char* table; const char* file; } cases[] = {
      {"Orders", "Orders"},
      {"a*b/c\\d", "abcd"},
      {"x:y?z", "xyz"},
      {"<t>", "t"},
      {"pipe|quote\"", "pipequote"},
      {"R&D", "R&D"},
      {"Order Details", "Order Details"},
      {"\xE4\xB8\x80\xE4\xBA\x8C\xD0\x9F\xD1\x80", "\xE4\xB8\x80\xE4\xBA\x8C\xD0\x9F\xD1\x80"},  // CJK, Cyrillic
      {"tab\there\x7F\xC2\x85", "tabhere"},                 // control characters, C1 included
      {"trailing. . ", "trailing"},                             // Windows drops them itself
      {"..", ""},
      {"CON", "CON_"}, {"con.sql", "con_.sql"}, {"Lpt1", "Lpt1_"}, {"COM10", "COM10"}, {"CONSOLE", "CONSOLE"},
      {"raw\xE9", "raw\xC3\xA9"},                             // a byte that is no UTF-8: its Latin-1 letter
      {"\xC5\x9C", "\xC5\x9C"},                               // U+015C is no backslash
  };
  for (const Case& c : cases) EXPECT_EQ(uicore::TableFileName(c.table), c.file) << c.table;
}

TEST(ExportNames, DatabaseAndBatchNames) {
  // A name field holding the path the file was attached from loses the folder part, one rule
  // for the folder, the batch file and the report.
  EXPECT_EQ(uicore::DatabaseFolderPart("C:\\DBS\\NORTHWND.MDF"), "NORTHWND.MDF");
  EXPECT_EQ(uicore::BatchFileName("C:\\DBS\\NORTHWND.MDF"), "NORTHWND.MDF");
  EXPECT_EQ(uicore::DatabaseFolderPart("/srv/db/Sales"), "Sales");
  EXPECT_EQ(uicore::DatabaseFolderPart("Northwind"), "Northwind");
  EXPECT_EQ(uicore::DatabaseFolderPart("\xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93"), "\xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93");
  EXPECT_EQ(uicore::BatchFileName("\xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93"), "\xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93");
  EXPECT_EQ(uicore::BatchFileName("R&D"), "R_D");
  EXPECT_EQ(uicore::BatchFileName("a/b&c"), "b_c");
  EXPECT_EQ(uicore::BatchFileName("what?"), "what");
}

TEST(ExportNames, TimeStampTakesTheDateFromUtcAndTheTimeFromTheLocalClock) {
  std::tm utc{}, local{};
  utc.tm_year = 2009 - 1900; utc.tm_mon = 2; utc.tm_mday = 8;     // 8 March, just past midnight UTC
  local.tm_year = 2009 - 1900; local.tm_mon = 2; local.tm_mday = 7;
  local.tm_hour = 19; local.tm_min = 5; local.tm_sec = 9;           // still the 7th locally
  EXPECT_EQ(uicore::ExportTimeStamp(utc, local), "_3_8_2009_19_5_9");
}

TEST(ExportNames, ReportLinesQuoteOnlyWhereTheNameNeedsIt) {
  EXPECT_EQ(uicore::ExportReportLine("Orders", 830), "Orders,830\r\n");
  EXPECT_EQ(uicore::ExportReportLine("a,b", 1), "\"a,b\",1\r\n");
  EXPECT_EQ(uicore::ExportReportLine("say \"hi\"", 0), "\"say \"\"hi\"\"\",0\r\n");
  EXPECT_EQ(uicore::ExportReportPath("/tmp/r", "C:\\x\\R&D", "_1_2_2026_3_4_5"),
            "/tmp/r/ExportReport_R&D_1_2_2026_3_4_5.csv");
}

}  // namespace
