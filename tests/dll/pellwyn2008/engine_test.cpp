#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fixtures.h"

using testsupport::ModuleFolderScope;

TEST(Engine2008, NewEngineStateAndLog) {
  ModuleFolderScope scope;
  auto engine = std::make_unique<CSQLServer2008>();
  EXPECT_EQ(engine->m_nDataSetCount, 0);
  EXPECT_EQ(engine->m_nSelectedDataSet, 0);
  EXPECT_TRUE(engine->m_strDatabaseName.IsEmpty());
  EXPECT_TRUE(engine->m_strFilePath.IsEmpty());
  EXPECT_EQ(engine->m_bBusy, 1);
  EXPECT_EQ(engine->m_nUnicodeNameSerial, 1);
  EXPECT_EQ(engine->m_pDatabase, nullptr);
  EXPECT_EQ(engine->m_pBackupReader, nullptr);
  EXPECT_EQ(engine->m_pCurrentSet, nullptr);
  EXPECT_EQ(engine->m_hTableSqlFile, kInvalidFile);
  EXPECT_FALSE(engine->m_posShownPage.has_value());
  EXPECT_TRUE(engine->m_strExtension.IsEmpty());
  ASSERT_NE(engine->m_pStatus, nullptr);
  EXPECT_TRUE(engine->m_mapTables.IsEmpty());
  std::string log = scope.ReadExecLog();
  const std::string banner_end = std::string(79, '=') + "\r\n";
  ASSERT_GE(log.size(), banner_end.size());
  EXPECT_EQ(log.substr(log.size() - std::string("Code:0  Error:0  MSG:2008 Format\r\n").size()),
            "Code:0  Error:0  MSG:2008 Format\r\n");
  EXPECT_NE(log.find("Last Log On"), std::string::npos);
  // A second engine appends a second banner and format line.
  auto second = std::make_unique<CSQLServer2008>();
  std::string log2 = scope.ReadExecLog();
  size_t banners = 0, formats = 0;
  for (size_t p = 0; (p = log2.find("Last Log On", p)) != std::string::npos; ++p) ++banners;
  for (size_t p = 0; (p = log2.find("MSG:2008 Format", p)) != std::string::npos; ++p) ++formats;
  EXPECT_EQ(banners, 2u);
  EXPECT_EQ(formats, 2u);
}

TEST(Engine2008, FreeRecoveredObjectsOwnsEachRecordOnce) {
  ModuleFolderScope scope;
  for (const char* ext : {"", "bak", "mdf"}) {
    CSQLServer2008 engine;
    engine.FreeRecoveredObjects();  // a no-op on a new engine
    engine.m_strExtension = ext;
    // One allocation-unit record reachable from three maps, as the rowset linking leaves it.
    CTable* unit = engine.NewTable();
    engine.m_mapTables.SetAt("1977058079", unit);
    engine.m_mapRowsets.SetAt("72057594038779904", unit);
    engine.m_mapAllocUnits["72057594038779904"].push_back(unit);
    CTable* group = engine.NewTable();
    group->m_vecDataPages = {1, 2, 3};
    engine.m_mapPageGroups.SetAt("72057594038779904", group);
    auto* view = new CViewStoredProc;
    engine.m_mapViews.SetAt("5", view);
    engine.m_mapIndexes.SetAt("6", new CIndexInfo);
    auto* index = new CIndexInfo;
    unit->SetIndex("1", index);
    unit->SetIndex("1", new CIndexInfo);  // replacing frees the old record
    auto* col = new CColumn;
    unit->AppendColumn(col);
    auto* type = new CDataType;
    engine.m_mapDataTypes.SetAt("257", type);
    engine.m_mapOwnerNames.SetAt("1", "dbo");
    engine.m_mapTextPages.SetAt("100", "99");
    engine.m_mapRowsetObjects.SetAt("a", "b");
    engine.FreeRecoveredObjects();
    EXPECT_TRUE(engine.m_mapTables.IsEmpty());
    EXPECT_TRUE(engine.m_mapRowsets.IsEmpty());
    EXPECT_TRUE(engine.m_mapAllocUnits.IsEmpty());
    EXPECT_TRUE(engine.m_mapPageGroups.IsEmpty());
    EXPECT_TRUE(engine.m_mapViews.IsEmpty());
    EXPECT_TRUE(engine.m_mapIndexes.IsEmpty());
    EXPECT_TRUE(engine.m_mapTextPages.IsEmpty());
    EXPECT_TRUE(engine.m_mapRowsetObjects.IsEmpty());
    // Data types and owner names are left alone.
    EXPECT_EQ(engine.m_mapDataTypes.GetCount(), 1);
    EXPECT_EQ(engine.m_mapOwnerNames.GetCount(), 1);
  }
}

TEST(Engine2008, TwoEnginesKeepTheirEventsApart) {
  ModuleFolderScope scope;
  CSQLServer2008 first;
  SetEvent(first.m_pStatus->m_hPageRead);
  SetEvent(first.m_pStatus->m_hSystemTabRdyEvent);
  // A new engine does not inherit what an earlier one left signalled.
  CSQLServer2008 second;
  EXPECT_FALSE(IsEventSet(second.m_pStatus->m_hPageRead));
  EXPECT_FALSE(IsEventSet(second.m_pStatus->m_hSystemTabRdyEvent));
  EXPECT_FALSE(IsEventSet(second.m_pStatus->m_hExportReady));
  EXPECT_FALSE(IsEventSet(second.m_pStatus->m_hExportProgressComplete));
  // One "RecordEvent" behind both handles of a block.
  std::thread t([&] { SetEvent(second.m_pStatus->m_hRecordEvent2); });
  EXPECT_EQ(WaitForEvent(second.m_pStatus->m_hRecordEvent, 5000), WaitResult::Signalled);
  t.join();
  EXPECT_FALSE(IsEventSet(first.m_pStatus->m_hRecordEvent));
}

TEST(Engine2008, ForeignKeyConstraintProducesNothing) {
  ModuleFolderScope scope;
  testsupport::TempDir dir;
  CSQLServer2008 engine;
  engine.m_hConstraintSqlFile = CreateFileForWrite(dir.file("c.sql").c_str());
  CSQLServer* base = &engine;
  base->GenerateForeignKeyConstraint();
  CloseFileHandle(engine.m_hConstraintSqlFile);
  EXPECT_EQ(testsupport::ReadFile(dir.file("c.sql")), "");
}
