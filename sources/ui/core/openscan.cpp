#include "ui/core/openscan.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>

#include "common/executionlog.h"
#include "common/sqlserver.h"
#include "common/unicodetext.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/archive.h"
#include "platform/files.h"
#include "ui/core/displaytext.h"
#include "ui/core/enginefactory.h"
#include "ui/core/scanfollower.h"
#include "ui/core/sourcedetection.h"

namespace uicore {

// Scan files written before names were kept as UTF-8 hold them as 8-bit text, each letter
// of Latin-1 one byte. Such a byte is no UTF-8: read as the letter it was, the texts of an
// old file show as they did; the texts of a new file are UTF-8 already and stay as they are.
namespace {

void Utf8(CString& text) {
  if (!IsAsciiText(text.view())) text = CString(ValidUtf8(text.view()));
}

}  // namespace

void KeepLoadedTextsUtf8(CSQLServer& engine) {
  Utf8(engine.m_strDatabaseName);
  if (engine.m_pStatus) Utf8(engine.m_pStatus->m_strDatabaseName);
  for (auto& entry : engine.m_mapTables) {
    CTable* t = entry.second;
    if (!t) continue;
    Utf8(t->m_strName);
    Utf8(t->m_strOwner);
    for (CColumn* c = t->m_pColumnHead; c; c = c->m_pNext) {
      for (CString* text : {&c->m_strName, &c->m_strType, &c->m_strUserType, &c->m_strDefault, &c->m_strComputed})
        Utf8(*text);
    }
    for (CVarColumn* v = t->m_pVarHead; v; v = v->m_pNext) {
      for (CString* text : {&v->m_strName, &v->m_strDefault, &v->m_strType}) Utf8(*text);
    }
    for (auto& computed : t->m_mapComputed) Utf8(computed.second);
    for (auto& index : t->m_mapTableIndexes) {
      if (!index.second) continue;
      Utf8(index.second->m_strName);
      Utf8(index.second->m_strText);
    }
  }
  for (auto* objects : {&engine.m_mapViews, &engine.m_mapStoredProcs, &engine.m_mapRules, &engine.m_mapTriggers,
                        &engine.m_mapFunctions})
    for (auto& entry : *objects) {
      if (!entry.second) continue;
      Utf8(entry.second->m_strName);
      Utf8(entry.second->m_strText);
    }
  for (auto& entry : engine.m_mapDataTypes)
    if (entry.second) Utf8(entry.second->m_strName);
}

namespace {

// Reads the magic word; false when the file holds no such string, or holds another.
bool ReadMagic(CArchive& ar) {
  try {
    CString magic;
    ar >> magic;
    return magic == kScanFileMagic;
  } catch (const CArchiveException&) {
    return false;
  }
}

OpenScanResult Refused(OpenScanResult::Outcome outcome, const char* message) {
  OpenScanResult r;
  r.outcome = outcome;
  r.message = message;
  return r;
}

}  // namespace

bool IsScanFile(const std::string& path) {
  CArchive ar;
  if (!ar.Open(path.c_str(), CArchive::load)) return false;
  return ReadMagic(ar);
}

OpenScanResult OpenScanFile(const std::string& path) {
  using Outcome = OpenScanResult::Outcome;
  CArchive ar;
  if (!ar.Open(path.c_str(), CArchive::load)) {
    CExecutionLog::WriteLog(0, 0, FormatString("Scan file could not be opened: %s", path.c_str()), false);
    return Refused(Outcome::Unreadable, kScanFileUnreadable);
  }
  if (!ReadMagic(ar)) return Refused(Outcome::NotScanFile, kNotScanFile);
  CString version;
  try {
    ar >> version;
  } catch (const CArchiveException&) {
    return Refused(Outcome::Unreadable, kScanFileUnreadable);
  }
  OpenScanResult result;
  result.version = version.str();
  CreatedEngine created = CreateEngine(version.view());
  if (!created) {
    // A version text no engine writes is not a scan file of this program.
    const bool known = created.version != nullptr;
    result.outcome = known ? Outcome::NoEngine : Outcome::NotScanFile;
    result.message = known ? created.refusal : kNotScanFile;
    return result;
  }
  std::unique_ptr<CSQLServer> engine = std::move(created.engine);
  engine->FreeRecoveredObjects();
  try {
    engine->LoadScanInfo(ar);
    ar.Close();
    KeepLoadedTextsUtf8(*engine);
  } catch (const CArchiveException& e) {
    CExecutionLog::WriteLog(0, 0, FormatString("Scan file could not be read: %s: %s", path.c_str(), e.what()), false);
    result.outcome = Outcome::Unreadable;
    result.message = kScanFileUnreadable;
    return result;
  } catch (const std::exception& e) {
    // Memory for a damaged file's huge but plausible counts, for instance.
    CExecutionLog::WriteLog(0, 0, FormatString("Scan file could not be read: %s: %s", path.c_str(), e.what()), false);
    result.outcome = Outcome::Unreadable;
    result.message = kScanFileUnreadable;
    return result;
  }
  result.outcome = Outcome::Loaded;
  result.engine = std::move(engine);
  return result;
}

namespace {

// The page source as each engine that keeps one locates it: whether it can read pages now,
// how it locates the chosen set (its scan thread's own step), and how it indexes the pages
// its off-row values are found by.
struct SetLocation {
  std::function<bool()> ready;
  std::function<void()> locate;
  std::function<bool()> index;
};

std::optional<SetLocation> SetLocationOf(CSQLServer& engine) {
  if (auto* e = dynamic_cast<CSQLServer2008*>(&engine))
    return SetLocation{[e] { return e->HasPageSource(); }, [e] { e->LocateBackupDataSet(); },
                       [e] { return e->IndexSourcePages(); }};
  if (auto* e = dynamic_cast<CSQLServer2000*>(&engine))
    return SetLocation{[e] { return e->HasPageSource(); }, [e] { e->LocateDataSet(); },
                       [e] { return e->IndexTextPages(); }};
  return std::nullopt;
}

}  // namespace

PageSourceCheck AttachPageSource(CSQLServer& engine, const ChooseSet& choose) {
  PageSourceCheck check;
  const std::optional<SetLocation> location = SetLocationOf(engine);
  // Engines that keep no such state read their source as they find it.
  if (!location) {
    check.ready = true;
    return check;
  }
  const std::string path = engine.m_strFilePath.str();
  check.message = kRowsNeedBackup + PathForDisplay(path) + ".";
  CSourceFile file;
  BYTE first = 0;
  if (path.empty() || !file.Open(path.c_str()) || file.ReadAt(0, &first, 1) != 1) {
    CExecutionLog::WriteLog(0, 0, FormatString("Rows not read: %s cannot be read", path.c_str()), false);
    return check;
  }
  file.Close();
  // The scan file names the source by path; a database file named ".bak" is read as one once
  // the engine is told so, which listing its sets does.
  if (IsBackupFile(path) && ReadAsDatabaseFile(path)) ListBackupSets(engine, path);
  if (location->ready()) {
    check.ready = true;
    return check;
  }
  const int sets = ListBackupSets(engine, path);
  int set = sets == 1 ? 1 : -1;
  if (sets > 1 && choose && engine.m_pBackupReader) set = choose(*engine.m_pBackupReader);
  if (set < 1 || !HasBackupSet(engine, set)) {
    CExecutionLog::WriteLog(0, 0, FormatString("Rows not read: no backup set of %s located", path.c_str()), false);
    return check;
  }
  engine.m_nSelectedDataSet = set;
  location->locate();
  // Off-row values are found by page id; the census that indexed them ran before the save.
  check.ready = location->ready() && location->index();
  if (check.ready) check.message.clear();
  return check;
}

namespace {

// Both engines that write scan files take the file name through the same hook and report
// the outcome in the same member.
template <class Writer>
SaveScanResult SaveWith(Writer& writer, const AskSavePath& ask) {
  using Outcome = SaveScanResult::Outcome;
  SaveScanResult result;
  bool refused = false;
  writer.m_fnAskSavePath = [&](CString& path) {
    std::optional<std::string> chosen = ask ? ask() : std::nullopt;
    if (!chosen || chosen->empty()) return false;
    std::filesystem::path p(*chosen);
    if (!p.has_extension()) p += ".str";
    result.path = p.string();
    std::error_code ec;
    if (std::filesystem::exists(p, ec) && !IsScanFile(result.path)) {
      CExecutionLog::WriteLog(0, 0, FormatString("Scan not saved: %s exists and is not a scan file", result.path.c_str()),
                              false);
      refused = true;
      return false;
    }
    path = result.path.c_str();
    return true;
  };
  writer.SaveScanInfo();
  writer.m_fnAskSavePath = nullptr;
  if (refused) {
    result.outcome = Outcome::Refused;
    result.message = kNotReplaced;
  } else if (writer.m_nLastSaveResult == 1) {
    result.outcome = Outcome::Saved;
  } else if (writer.m_nLastSaveResult == 0) {
    result.outcome = Outcome::Failed;
    result.message = "The scan could not be saved to " + result.path + ".";
  } else {
    result.outcome = Outcome::Cancelled;
  }
  return result;
}

}  // namespace

SaveScanResult SaveScan(CSQLServer* engine, const std::string& sourcePath, const AskSavePath& ask) {
  using Outcome = SaveScanResult::Outcome;
  SaveScanResult result;
  if (!engine || sourcePath.empty()) {
    result.outcome = Outcome::NothingToSave;
    result.message = kLoadBeforeSaving;
    return result;
  }
  if (auto* writer = dynamic_cast<CSQLServer2008*>(engine)) return SaveWith(*writer, ask);
  if (auto* writer = dynamic_cast<CSQLServer2000*>(engine)) return SaveWith(*writer, ask);
  result.outcome = Outcome::Failed;
  result.message = "This engine cannot save scans.";
  return result;
}

}  // namespace uicore
