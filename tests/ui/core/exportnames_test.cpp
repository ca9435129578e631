#include "ui/core/exportnames.h"

#include <gtest/gtest.h>

namespace {

TEST(ExportNames, TableFileNamesReplaceOnlyTheCharactersAFileNameCannotHold) {
  struct Case { const char* table; const char* file; } cases[] = {
      {"Orders", "Orders"},           {"a*b/c\\d", "a_b_c_d"}, {"x:y?z", "x_y_z"},
      {"<t>", "_t_"},                 {"R&D", "R&D"},          {"pipe|quote\"", "pipe|quote\""},
      {"Order Details", "Order Details"}};
  for (const Case& c : cases) EXPECT_EQ(uicore::TableFileName(c.table), c.file) << c.table;
  // Two tables that differ only in such characters share one file name.
  EXPECT_EQ(uicore::TableFileName("a*b"), uicore::TableFileName("a?b"));
}

TEST(ExportNames, DatabaseAndBatchNames) {
  EXPECT_EQ(uicore::DatabaseFolderPart("C:\\data\\Sales"), "Sales");
  EXPECT_EQ(uicore::DatabaseFolderPart("/srv/db/Sales"), "Sales");
  EXPECT_EQ(uicore::DatabaseFolderPart("Northwind"), "Northwind");
  EXPECT_EQ(uicore::BatchFileName("R&D"), "R_D");
  EXPECT_EQ(uicore::BatchFileName("a/b&c"), "a_b_c");
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
