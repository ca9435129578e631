// Open Scan and Save Scan of the desktop core, on scan files written by the 2008 engine from a
// small catalog made here, and on files that only pretend to be scan files.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "common/scanextension.h"
#include "common/scanfacts.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/archive.h"
#include "support/catalogtext.h"
#include "support/fixtures.h"
#include "ui/core/enginehost.h"
#include "ui/core/openscan.h"
#include "support/scanfilebytes.h"

namespace {

using testsupport::ModuleFolderScope;
using testsupport::TempDir;
using Outcome = uicore::OpenScanResult::Outcome;
using SaveOutcome = uicore::SaveScanResult::Outcome;

std::string CatalogText(const CSQLServer& engine) {
  std::ostringstream out;
  testsupport::PrintCatalog(engine, out);
  return out.str();
}

// An engine holding one table with two columns and one view.
void FillCatalog(CSQLServer2008& engine) {
  engine.m_strDatabaseName = "Shop";
  engine.m_strFilePath = "/backups/shop.bak";
  CTable* table = engine.NewTable();
  table->m_strName = "Orders";
  table->m_strOwner = "dbo";
  table->m_dwObjectId = 117575457;
  for (const char* name : {"OrderID", "Customer"}) {
    auto* c = new CColumn();
    c->m_strName = name;
    c->m_strType = std::string(name) == "OrderID" ? "int" : "nvarchar";
    table->AppendColumn(c);
  }
  engine.m_mapTables.SetAt("117575457", table);
  auto* view = new CViewStoredProc();
  view->m_strName = "Recent";
  view->m_strText = "create view Recent as select * from Orders";
  engine.m_mapViews.SetAt("2", view);
}

std::string WriteScanFile(const TempDir& dir, std::string* catalog = nullptr) {
  CSQLServer2008 engine;
  FillCatalog(engine);
  const std::string path = dir.file("shop.str");
  EXPECT_TRUE(engine.SaveScanFile(path.c_str()));
  if (catalog) *catalog = CatalogText(engine);
  return path;
}

// Two archive strings, as a scan file begins.
std::string Head(const std::string& magic, const std::string& version) {
  return std::string(1, char(magic.size())) + magic + std::string(1, char(version.size())) + version;
}

}  // namespace

TEST(OpenScan, ASavedScanOpensWithANewEngineHoldingTheSameCatalog) {
  ModuleFolderScope scope;
  TempDir dir;
  std::string saved;
  const std::string path = WriteScanFile(dir, &saved);
  uicore::OpenScanResult r = uicore::OpenScanFile(path);
  ASSERT_TRUE(r.Loaded()) << r.message;
  ASSERT_NE(r.engine, nullptr);
  EXPECT_EQ(r.version, "2008");
  EXPECT_EQ(CatalogText(*r.engine), saved);
  EXPECT_EQ(r.engine->m_strDatabaseName.str(), "Shop");
  // Each open makes its own engine.
  uicore::OpenScanResult again = uicore::OpenScanFile(path);
  ASSERT_TRUE(again.Loaded());
  EXPECT_NE(again.engine.get(), r.engine.get());
}

// Names go into scan files as the program holds them, UTF-8, and come back whole; a file of
// an earlier build, which held Latin-1 letters as single bytes, shows them as it did.
TEST(OpenScan, NamesComeBackWholeAndOldLatin1NamesAsTheyWere) {
  ModuleFolderScope scope;
  TempDir dir;
  CSQLServer2008 engine;
  FillCatalog(engine);
  engine.m_strDatabaseName = "\xE5\x8C\x97\xE9\xA2\xA8";             // CJK, as read from a boot page now
  CTable* saved = nullptr;
  CViewStoredProc* view = nullptr;
  ASSERT_TRUE(engine.m_mapTables.Lookup("117575457", saved) && engine.m_mapViews.Lookup("2", view));
  saved->m_strName = "\xD0\x97\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7";  // Cyrillic
  saved->m_pColumnHead->m_strName = "Donn\xE9" "es";                     // an old build's byte
  view->m_strText = "create view Recent as select 'caf\xE9' as x";
  const std::string path = dir.file("names.str");
  ASSERT_TRUE(engine.SaveScanFile(path.c_str()));

  uicore::OpenScanResult r = uicore::OpenScanFile(path);
  ASSERT_TRUE(r.Loaded()) << r.message;
  EXPECT_EQ(r.engine->m_strDatabaseName.str(), "\xE5\x8C\x97\xE9\xA2\xA8");
  CTable* table = nullptr;
  ASSERT_TRUE(r.engine->m_mapTables.Lookup("117575457", table) && table);
  EXPECT_EQ(table->m_strName.str(), "\xD0\x97\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7");
  EXPECT_EQ(table->m_pColumnHead->m_strName.str(), "Donn\xC3\xA9" "es");
  ASSERT_TRUE(r.engine->m_mapViews.Lookup("2", view) && view);
  EXPECT_EQ(view->m_strText.str(), "create view Recent as select 'caf\xC3\xA9' as x");
}

TEST(OpenScan, FilesThatAreNotScanFiles) {
  ModuleFolderScope scope;
  TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    Outcome outcome;
  } cases[] = {
      {"text.str", "This is a text file, renamed.\r\n", Outcome::NotScanFile},
      {"empty.str", "", Outcome::NotScanFile},
      {"other-magic.str", Head("tarnwelx", "2008"), Outcome::NotScanFile},
      {"unknown-version.str", Head("tarnwell", "2003"), Outcome::NotScanFile},
      {"no-version.str", Head("tarnwell", "").substr(0, 9), Outcome::Unreadable},
      {"version-only.str", Head("tarnwell", "2008"), Outcome::Unreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::WriteFile(dir.file(c.name), c.bytes);
    uicore::OpenScanResult r = uicore::OpenScanFile(dir.file(c.name));
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.engine, nullptr);
    EXPECT_EQ(r.message, c.outcome == Outcome::NotScanFile ? uicore::kNotScanFile : uicore::kScanFileUnreadable);
  }
  for (const std::string& missing : {dir.file("absent.str"), dir.path()}) {
    uicore::OpenScanResult r = uicore::OpenScanFile(missing);
    EXPECT_EQ(r.outcome, Outcome::Unreadable) << missing;
    EXPECT_EQ(r.message, uicore::kScanFileUnreadable);
  }
}

// A scan file cut at every length: inside the magic word it is no scan file; after it, it
// cannot be read; no cut crashes or gives an engine.
TEST(OpenScan, EveryCutOfAScanFileIsRefused) {
  ModuleFolderScope scope;
  TempDir dir;
  const std::string whole = testsupport::ReadFile(WriteScanFile(dir));
  ASSERT_GT(whole.size(), 40u);
  const std::string cut = dir.file("cut.str");
  const size_t layoutEnd = testsupport::ScanExtensionOffset(whole);
  ASSERT_NE(layoutEnd, std::string::npos);
  for (size_t n = 0; n < whole.size(); ++n) {
    // Cut where the extension begins, it is a whole file of the older layout.
    if (n == layoutEnd) continue;
    testsupport::WriteFile(cut, whole.substr(0, n));
    uicore::OpenScanResult r = uicore::OpenScanFile(cut);
    EXPECT_EQ(r.outcome, n < 9 ? Outcome::NotScanFile : Outcome::Unreadable) << n;
    EXPECT_EQ(r.engine, nullptr) << n;
  }
}

TEST(SaveScan, WritesThroughTheEnginesSaveHook) {
  ModuleFolderScope scope;
  TempDir dir;
  CSQLServer2008 engine;
  FillCatalog(engine);
  const std::string source = "/backups/shop.bak";
  auto choose = [](std::optional<std::string> path) { return [path] { return path; }; };

  // Nothing loaded in this run, or no engine: the message, and no question.
  bool asked = false;
  auto ask = [&]() -> std::optional<std::string> {
    asked = true;
    return std::nullopt;
  };
  for (CSQLServer* e : {static_cast<CSQLServer*>(&engine), static_cast<CSQLServer*>(nullptr)}) {
    uicore::SaveScanResult r = uicore::SaveScan(e, e ? "" : source, ask);
    EXPECT_EQ(r.outcome, SaveOutcome::NothingToSave);
    EXPECT_EQ(r.message, uicore::kLoadBeforeSaving);
  }
  EXPECT_FALSE(asked);

  EXPECT_EQ(uicore::SaveScan(&engine, source, choose(std::nullopt)).outcome, SaveOutcome::Cancelled);

  // A name without an extension gets ".str", as the save dialog's default suffix gives it.
  uicore::SaveScanResult saved = uicore::SaveScan(&engine, source, choose(dir.file("shop")));
  ASSERT_EQ(saved.outcome, SaveOutcome::Saved);
  EXPECT_EQ(saved.path, dir.file("shop.str"));
  EXPECT_TRUE(uicore::IsScanFile(saved.path));
  uicore::OpenScanResult opened = uicore::OpenScanFile(saved.path);
  ASSERT_TRUE(opened.Loaded());
  EXPECT_EQ(CatalogText(*opened.engine), CatalogText(engine));

  // An earlier scan file is replaced; any other file is left as it is.
  EXPECT_EQ(uicore::SaveScan(&engine, source, choose(saved.path)).outcome, SaveOutcome::Saved);
  const std::string backup = dir.file("shop.bak");
  testsupport::WriteFile(backup, "TAPE backup bytes");
  uicore::SaveScanResult refused = uicore::SaveScan(&engine, source, choose(backup));
  EXPECT_EQ(refused.outcome, SaveOutcome::Refused);
  EXPECT_EQ(refused.message, uicore::kNotReplaced);
  EXPECT_EQ(testsupport::ReadFile(backup), "TAPE backup bytes");
  std::filesystem::create_directory(dir.file("folder.str"));
  EXPECT_EQ(uicore::SaveScan(&engine, source, choose(dir.file("folder.str"))).outcome, SaveOutcome::Refused);
  EXPECT_FALSE(std::filesystem::exists(backup + ".tmp"));
}

// What the catalog records leave out but a reopened scan needs: the freed pages its deleted
// rows come from, each column's collation (the preview's code page), the tables' marks of a
// cut-off source and the stop of the recovery. A file of the layout before them opens without
// them and says so.
TEST(OpenScan, FreedPagesCollationsAndIncompleteCatalogsSurviveTheScanFile) {
  ModuleFolderScope scope;
  TempDir dir;
  CSQLServer2008 engine;
  FillCatalog(engine);
  CTable* table = engine.m_mapTables.begin()->second;
  table->m_vecFreedPages = {40, 7, 41};
  table->m_pColumnHead->m_pNext->m_dwCollation = 0x3400d008;  // a Cyrillic collation
  table->m_strCatalogLoss = "columns 2-5 missing";
  engine.m_bRecoveryStopped = true;
  const std::string path = dir.file("stopped.str");
  ASSERT_TRUE(engine.SaveScanFile(path.c_str()));

  uicore::OpenScanResult r = uicore::OpenScanFile(path);
  ASSERT_TRUE(r.Loaded()) << r.message;
  CTable* loaded = r.engine->m_mapTables.begin()->second;
  EXPECT_EQ(loaded->m_vecFreedPages, (std::vector<DWORD>{40, 7, 41}));
  EXPECT_EQ(loaded->m_pColumnHead->m_dwCollation, 0u);
  EXPECT_EQ(loaded->m_pColumnHead->m_pNext->m_dwCollation, 0x3400d008u);
  EXPECT_EQ(loaded->m_strCatalogLoss, "columns 2-5 missing");
  EXPECT_TRUE(r.engine->m_bRecoveryStopped);
  // The window's Open Scan marks the catalog whole: a stopped recovery's stays partial, so
  // Export and Save Scan still ask; and its own Save Scan keeps the stop.
  EngineHost host;
  CreatedEngine created;
  created.engine = std::move(r.engine);
  host.Adopt(std::move(created));
  host.MarkCatalogComplete();
  EXPECT_TRUE(host.CatalogComplete());
  EXPECT_TRUE(host.CatalogPartial());
  const std::string again = dir.file("again.str");
  ASSERT_TRUE(static_cast<CSQLServer2008*>(host.Current())->SaveScanFile(again.c_str()));
  EXPECT_EQ(testsupport::ReadFile(again), testsupport::ReadFile(path));

  // A finished recovery's file opens whole, not partial.
  engine.m_bRecoveryStopped = false;
  ASSERT_TRUE(engine.SaveScanFile(path.c_str()));
  uicore::OpenScanResult finished = uicore::OpenScanFile(path);
  ASSERT_TRUE(finished.Loaded());
  EXPECT_FALSE(finished.engine->m_bRecoveryStopped);

  // The older layout: no freed pages, collations or marks, not taken as stopped, and the log
  // names each lack.
  const std::string bytes = testsupport::ReadFile(path);
  const size_t layoutEnd = testsupport::ScanExtensionOffset(bytes);
  ASSERT_NE(layoutEnd, std::string::npos);
  testsupport::WriteFile(dir.file("old.str"), bytes.substr(0, layoutEnd));
  uicore::OpenScanResult old = uicore::OpenScanFile(dir.file("old.str"));
  ASSERT_TRUE(old.Loaded()) << old.message;
  CTable* oldTable = old.engine->m_mapTables.begin()->second;
  EXPECT_TRUE(oldTable->m_vecFreedPages.empty());
  EXPECT_EQ(oldTable->m_pColumnHead->m_pNext->m_dwCollation, 0u);
  EXPECT_TRUE(oldTable->m_strCatalogLoss.IsEmpty());
  EXPECT_FALSE(old.engine->m_bRecoveryStopped);
  const std::string log = scope.ReadExecLog();
  for (const char* line : {kFreedPagesSectionMissing, kCollationSectionMissing, kCatalogLossSectionMissing})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

// A section whose bytes do not parse leaves the tables as a file without it would, and a
// damaged stop mark errs on the side of asking before export.
TEST(OpenScan, DamagedFactSectionsChangeNoTable) {
  ModuleFolderScope scope;
  CSQLServer2008 engine;
  FillCatalog(engine);
  engine.m_mapTables.begin()->second->m_vecFreedPages = {9};
  engine.m_mapTables.begin()->second->m_pColumnHead->m_dwCollation = 5;
  CScanFileExtension written;
  WriteScanFactSections(written, engine.m_mapTables, false);
  TempDir dir;
  const std::string path = dir.file("x");
  // Through a file, as a load reads it.
  auto throughFile = [&](const CScanFileExtension& out, CScanFileExtension& in) {
    {
      CArchive ar;
      ASSERT_TRUE(ar.Open(path.c_str(), CArchive::store));
      out.Write(ar);
    }
    CArchive ar;
    ASSERT_TRUE(ar.Open(path.c_str(), CArchive::load));
    ASSERT_TRUE(in.Read(ar));
  };
  CScanFileExtension read;
  throughFile(written, read);
  // Each section cut by one byte: its count promises more than it holds.
  CScanFileExtension damaged;
  for (const char* tag : {kFreedPagesSectionTag, kCollationSectionTag, kCatalogLossSectionTag}) {
    const std::string* s = read.Find(tag);
    ASSERT_NE(s, nullptr) << tag;
    ScanExtensionWriter& w = damaged.Add(tag);
    for (size_t i = 0; i + 1 < s->size(); ++i) w.U8(BYTE((*s)[i]));
  }
  CSQLServer2008 target;
  FillCatalog(target);
  target.m_mapTables.begin()->second->m_strCatalogLoss = "kept";
  CScanFileExtension reread;
  throughFile(damaged, reread);
  EXPECT_TRUE(ApplyScanFactSections(reread, target.m_mapTables));
  CTable* t = target.m_mapTables.begin()->second;
  EXPECT_TRUE(t->m_vecFreedPages.empty());
  EXPECT_EQ(t->m_pColumnHead->m_dwCollation, 0u);
  EXPECT_EQ(t->m_strCatalogLoss, "kept");
  EXPECT_NE(scope.ReadExecLog().find("freed-pages section is damaged"), std::string::npos);
}
