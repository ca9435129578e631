// Recovery, not just survival: when data pages of a table are overwritten with garbage, every
// row of the table's intact pages still comes out of the preview and the export exactly as it
// does from the undamaged backup.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/page.h"
#include "damaged/damagedcase.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/files.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

namespace {

using damaged::Bytes;

struct PageRows {
  DWORD index = 0;                  // the page's place in the set's stream
  UINT64 offset = 0;                // its file position
  std::vector<std::string> rows;    // preview rows of this page alone
  std::string inserts;              // the export walk's script of this page alone
};

std::string ExportScript(CSQLServer2008& engine, CTable* table, const std::string& dir) {
  const std::string path = dir + "/rows.sql";
  engine.m_bExportToServer = 0;
  engine.m_strOutputFolder = dir.c_str();
  engine.m_hTableSqlFile = CreateFileForWrite(path.c_str());
  CSQLServer2008::RecoverTableRecordThread(&engine, table, nullptr);
  CloseFileHandle(engine.m_hTableSqlFile);
  return testsupport::ReadFile(path);
}

// Each data page of the table on its own: its place, its rows and its INSERTs.
std::vector<PageRows> RowsByPage(CSQLServer2008& engine, CTable* table, const std::string& dir) {
  std::vector<PageRows> pages;
  const std::vector<DWORD> all = table->m_vecDataPages;
  for (DWORD index : all) {
    PageRows p;
    p.index = index;
    INT64 position = 0;
    engine.GetPageOffset(int(index), &position);
    p.offset = UINT64(position);
    table->m_vecDataPages = {index};
    p.rows = testsupport::AllRows(engine, table);
    p.inserts = ExportScript(engine, table, dir);
    pages.push_back(std::move(p));
  }
  table->m_vecDataPages = all;
  return pages;
}

// True when `part` appears in `whole` in order, as one unbroken run.
bool HasRun(const std::vector<std::string>& whole, const std::vector<std::string>& part) {
  if (part.empty()) return true;
  return std::search(whole.begin(), whole.end(), part.begin(), part.end()) != whole.end();
}

enum class Garbage { kWholePage, kBodyBehindAGoodHeader, kSlotArray, kFirstRecords };

void Overwrite(Bytes& file, UINT64 offset, Garbage kind, std::mt19937& rng) {
  auto fill = [&](size_t from, size_t to) {
    for (size_t i = from; i < to && offset + i < file.size(); ++i) file[size_t(offset) + i] = BYTE(rng());
  };
  switch (kind) {
    case Garbage::kWholePage: fill(0, kPageSize); break;
    case Garbage::kBodyBehindAGoodHeader: fill(kPageHeaderSize, kPageSize); break;
    case Garbage::kSlotArray: fill(kPageSize - 400, kPageSize); break;
    case Garbage::kFirstRecords: fill(kPageHeaderSize, kPageHeaderSize + 1500); break;
  }
}

TEST(DamagedPages, IntactPagesOfADamagedTableComeOutUnchanged) {
  REQUIRE_FIXTURE(path, "bak2008_northwind_thuyluv.bak");
  testsupport::TempDir dir;
  damaged::SilenceLogs(dir.path());
  const Bytes original = damaged::ReadBytes(path);

  CSQLServer2008 engine;
  ASSERT_TRUE(testsupport::RunRecovery(engine, path).finished);
  struct Target {
    std::string name;
    std::vector<PageRows> pages;
  };
  std::vector<Target> targets;
  for (const char* name : {"Order Details", "Orders"}) {
    CTable* table = testsupport::FindTable(engine, name);
    ASSERT_NE(table, nullptr) << name;
    ASSERT_GE(table->m_vecDataPages.size(), 4u) << name;
    targets.push_back({name, RowsByPage(engine, table, dir.path())});
    for (const PageRows& p : targets.back().pages) ASSERT_FALSE(p.rows.empty()) << name << " page " << p.index;
  }

  const Garbage kinds[] = {Garbage::kWholePage, Garbage::kBodyBehindAGoodHeader, Garbage::kSlotArray,
                           Garbage::kFirstRecords};
  for (Garbage kind : kinds) {
    SCOPED_TRACE(testing::Message() << "garbage kind " << int(kind));
    // Every third page of each table, starting with the first, is overwritten.
    std::mt19937 rng(7 + unsigned(kind));
    Bytes damagedFile = original;
    std::vector<std::vector<bool>> hit(targets.size());
    for (size_t t = 0; t < targets.size(); ++t) {
      for (size_t i = 0; i < targets[t].pages.size(); ++i) {
        hit[t].push_back(i % 3 == 0);
        if (hit[t].back()) Overwrite(damagedFile, targets[t].pages[i].offset, kind, rng);
      }
    }
    const std::string copy = dir.file("damaged.bak");
    testsupport::WriteFile(copy, std::string(damagedFile.begin(), damagedFile.end()));
    CSQLServer2008 damagedEngine;
    ASSERT_TRUE(testsupport::RunRecovery(damagedEngine, copy).finished);
    for (size_t t = 0; t < targets.size(); ++t) {
      CTable* table = testsupport::FindTable(damagedEngine, targets[t].name);
      ASSERT_NE(table, nullptr) << targets[t].name;
      const std::vector<std::string> rows = testsupport::AllRows(damagedEngine, table);
      const std::string script = ExportScript(damagedEngine, table, dir.path());
      size_t intact = 0;
      for (size_t i = 0; i < targets[t].pages.size(); ++i) {
        if (hit[t][i]) continue;
        ++intact;
        const PageRows& p = targets[t].pages[i];
        EXPECT_TRUE(HasRun(rows, p.rows)) << targets[t].name << ": the preview lost rows of intact page " << p.index;
        EXPECT_NE(script.find(p.inserts), std::string::npos)
            << targets[t].name << ": the export lost rows of intact page " << p.index;
      }
      EXPECT_GT(intact, 0u);
    }
  }
}

}  // namespace
