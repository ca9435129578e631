// The record walks of the 2000 format: the preview, which shows a table 500 rows at a time
// and pages forward and back, and the export walk, which turns every stored row of a table
// into its INSERT statement for a script file or a live server.
//
// Each walk keeps its table, mode, page source, decoding plans, batch and counts in a context
// of its own (thread-local while it runs), so the program's pool threads can export several
// tables of one engine at once and the shared mode flags never change a walk half-way.
//
// Export output:
//   script  rows gathered and written a page at a time; an identity table's rows are put
//           under one IDENTITY_INSERT ON ... OFF (it holds for the session that runs the
//           script), ntext blocks included.
//   server  plain INSERTs join a batch that runs when "Exportsize" slots have passed and at
//           the end of every page; IDENTITY_INSERT is switched on once for the connection
//           before the first row and off after the last. A row with ntext values runs as its
//           own block, after the batch before it. A batch the server refuses is run again a
//           statement at a time, so one bad row loses only itself; refusals are logged (the
//           first hundred of a table with their statements) and counted.
//           With Avoid_Duplicate a row whose statement equals one already sent for the table
//           is not sent again.
//   m_nRowsExported counts the rows that reached the script file or the server.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/deletedrows.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "common/scriptfile.h"
#include "common/pagesource.h"
#include "common/previewwindow.h"
#include "common/settings.h"
#include "common/sqltext.h"
#include "insert2000.h"
#include "lob2000.h"
#include "pellwyn2000.h"
#include "platform/database.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "record2000.h"

struct PreviewWalks2000 {
  std::mutex walk;                // held by the preview walk that runs
  std::mutex state;               // a new ticket, or a walk publishing its window
  std::atomic<UINT64> latest{0};  // ticket of the walk whose window the program waits for
  bool windowPending = false;     // that window is not published yet (guarded by `state`)
};

namespace {

constexpr int kDefaultExportSize = 100;
constexpr DWORD kRowQueryTimeout = 1800;
// Script rows are written a page at a time, or sooner once this much has gathered.
constexpr int kScriptPieceBytes = 1 << 20;
// Slot entries point into the page: 96 .. 8191.
constexpr WORD kFirstRowOffset = kPageHeaderSize;
constexpr WORD kLastRowOffset = kPageSize - 1;
// A batch's text in the error log is cut here: a batch of large rows runs to megabytes.
constexpr int kLoggedStatementChars = 2000;
constexpr int kLoggedRefusals = 100;

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text, false); }
void LogError(int code, const CString& text) { CExecutionLog::WriteLog(code, 0, text, true); }

CString Shortened(const CString& text) {
  if (text.GetLength() <= kLoggedStatementChars) return text;
  return text.Left(kLoggedStatementChars) + " ...";
}

bool Stopped(const CEngineStatus* status) { return status && status->m_bStopRecords.load() == 1; }

// The pages of the engine's source as one walk reads them: data pages by their place in the
// census, text pages by their page id.
class WalkPages {
 public:
  explicit WalkPages(CSQLServer2000& engine) : m_engine(engine), m_backup(engine.m_nDataSetCount > 0) {
    m_open = engine.OpenPageSource(m_source);
  }
  WalkPages(const WalkPages&) = delete;
  WalkPages& operator=(const WalkPages&) = delete;
  bool IsOpen() const { return m_open; }
  bool ReadDataPage(DWORD index, BYTE* page) const { return m_open && m_source.ReadPage(index, page); }

  bool ReadTextPage(const lobcore::Rid& rid, BYTE* page) const {
    if (!m_open) return false;
    if (!m_backup) return m_source.ReadPage(rid.page, page);
    // A backup's stream leaves out unallocated extents: the census noted where each text page
    // lies. A scan loaded from its scan file has no such list; then the stream position is
    // taken when the page there is the one asked for.
    CString index;
    if (m_engine.m_mapTextPages.Lookup(FormatString("%ld", rid.page).view(), index))
      return m_source.ReadPage(std::strtoull(index.c_str(), nullptr, 10), page);
    return m_source.ReadPage(rid.page, page) && PageIdOf(page) == rid.page;
  }

  lobcore::PageReader Reader() const {
    return [this](const lobcore::Rid& rid, BYTE* page) { return ReadTextPage(rid, page); };
  }

 private:
  CSQLServer2000& m_engine;
  CPageSource m_source;
  bool m_backup;
  bool m_open = false;
};

// Everything one walk, or one call outside a walk, keeps apart from every other.
struct RowWalk {
  RowWalk(CSQLServer2000& e, CTable& t, rows2000::Mode m)
      : engine(e), table(t), mode(m), pages(e), lob(pages.Reader()), plan(t) {
    options.mode = mode;
    options.recoverDeleted = e.m_bRecoverDeleted != 0;
    options.lob = &lob;
    tableName = SqlQualifiedName(t.m_strOwner, t.m_strName);
  }
  // The off-row reader holds on to this walk's pages.
  RowWalk(const RowWalk&) = delete;
  RowWalk& operator=(const RowWalk&) = delete;

  CSQLServer2000& engine;
  CTable& table;
  rows2000::Mode mode;
  WalkPages pages;
  rows2000::LobReader lob;
  rows2000::RowPlan plan;
  rows2000::DecodeOptions options;
  CString tableName;
  int previewRows = 0;

  // Export.
  std::optional<rows2000::InsertPlan> insert;
  CDatabase* database = nullptr;  // null: the script file
  FILE_HANDLE script = kInvalidFile;
  bool inWalk = false;           // rows join the batch and the script piece of a walk
  bool identityOn = false;       // IDENTITY_INSERT switched on for this table
  std::vector<CString> batch;    // server statements waiting to run
  // Avoid_Duplicate: the statements of this table already sent (or waiting in the batch);
  // a row whose statement is among them is not sent again.
  bool avoidDuplicates = false;
  std::unordered_set<std::string> sent;
  int duplicates = 0;
  CString pending;               // script text waiting to be written
  int pendingRows = 0;
  int rows = 0;
  int refusedRows = 0;
  int refusals = 0;  // statements the server refused, batches and reruns alike
  bool reopened = false;        // the connection was opened again once for this table
  bool connectionGone = false;  // lost for good: nothing more is sent
  int incompleteValues = 0;
  int nullsInNotNull = 0;
  int variantsLeftOut = 0;
  int failedRecords = 0;
  int entriesLeftOut = 0;  // raw-bytes table: stored entries no column reads
  bool writeFailed = false;
};
thread_local RowWalk* t_walk = nullptr;

class ScopedRowWalk {
 public:
  explicit ScopedRowWalk(RowWalk* walk) : m_previous(t_walk) { t_walk = walk; }
  ~ScopedRowWalk() { t_walk = m_previous; }
  ScopedRowWalk(const ScopedRowWalk&) = delete;
  ScopedRowWalk& operator=(const ScopedRowWalk&) = delete;

 private:
  RowWalk* m_previous;
};

RowWalk* WalkFor(const CTable* table, rows2000::Mode mode) {
  return t_walk && &t_walk->table == table && t_walk->mode == mode ? t_walk : nullptr;
}

void CountRows(RowWalk& walk, int n) {
  walk.rows += n;
  walk.table.m_nRowsExported += n;
}

// Writes the gathered script rows. False (the walk ends) when the file does not take them.
bool FlushScript(RowWalk& walk) {
  if (walk.pending.IsEmpty()) return !walk.writeFailed;
  const bool ok = walk.script != kInvalidFile && WriteScriptFileText(walk.script, walk.pending.view());
  if (ok) {
    CountRows(walk, walk.pendingRows);
  } else {
    if (!walk.writeFailed && walk.engine.m_nFailedRowWrites++ == 0)
      LogError(1, "Rows of table " + walk.tableName + " could not be written to its script: the export is incomplete");
    walk.writeFailed = true;
  }
  walk.pending.Empty();
  walk.pendingRows = 0;
  return ok;
}

void AppendScript(RowWalk& walk, const CString& text, int rows) {
  walk.pending += text;
  walk.pendingRows += rows;
  if (!walk.inWalk || walk.pending.GetLength() >= kScriptPieceBytes) FlushScript(walk);
}

// Runs one text on the walk's connection; a refusal is logged with the server's message and
// the text. A connection that refuses everything (it went away) would log every row of the
// table twice: past the first refusals they are only counted, the table's summary says how
// many.
bool Execute(RowWalk& walk, const CString& text, bool logText = true) {
  if (walk.connectionGone) return false;
  CString error;
  bool lost = false;
  try {
    walk.database->ExecuteSQL(text.c_str());
    return true;
  } catch (const CDBException& e) {
    error = e.m_strError;
    lost = IsConnectionLost(e);
  } catch (...) {
    error = "Insert into " + walk.tableName + " failed";
  }
  if (lost) {
    // Once per table: the connection is opened again and the text that failed, which stored
    // nothing (a batch is one transaction), runs again, so the table goes on from its first
    // row not stored. A second loss ends the table's rows.
    LogError(0, error);
    if (!walk.reopened) {
      walk.reopened = true;
      if (walk.database->Reopen()) {
        LogError(0, "The connection of table " + walk.tableName + " was lost and opened again: its rows go on");
        if (walk.identityOn) {
          try {
            walk.database->ExecuteSQL(rows2000::IdentityInsertText(walk.table, true).c_str());
          } catch (...) {
          }
        }
        return Execute(walk, text, logText);
      }
    }
    walk.connectionGone = true;
    LogError(1, "The connection of table " + walk.tableName +
                    " was lost and could not be opened again: its rows from here on are not stored");
    return false;
  }
  if (++walk.refusals <= kLoggedRefusals) {
    LogError(0, error);
    if (logText) LogError(1, Shortened(text));
    if (walk.refusals == kLoggedRefusals)
      LogError(0, "Further refusals of table " + walk.tableName + " are counted, not logged");
  }
  return false;
}

void RowsSent(RowWalk& walk, int n) {
  CountRows(walk, n);
  walk.engine.m_pStatus->m_nRecordsSent += n;
}

// A row the server refused: a later equal row may still go in.
void Refused(RowWalk& walk, const CString& statement) {
  ++walk.refusedRows;
  if (walk.avoidDuplicates) walk.sent.erase(statement.str());
}

// Runs the waiting statements as one batch; when the server refuses it, one by one, so the
// rows that are sound still go in. The batch is one transaction that any error rolls back
// whole (XACT_ABORT), so a refused batch has stored nothing and no row is stored twice by
// the statements run again.
void FlushBatch(RowWalk& walk) {
  if (walk.batch.empty()) return;
  std::vector<CString> statements;
  statements.swap(walk.batch);
  CString text;
  if (statements.size() > 1) text = "SET XACT_ABORT ON; BEGIN TRANSACTION; ";
  for (const CString& s : statements) text += s;
  if (statements.size() > 1) text += " COMMIT TRANSACTION;";
  if (Execute(walk, text, statements.size() == 1)) {
    RowsSent(walk, int(statements.size()));
    return;
  }
  if (statements.size() == 1) {
    Refused(walk, statements.front());
    return;
  }
  Log(FormatString("A batch of %d rows of table %s was refused: its rows are sent one at a time",
                   int(statements.size()), walk.tableName));
  // Nothing of it was stored; a transaction the error left open must not hold the reruns.
  Execute(walk, "IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION", false);
  for (const CString& s : statements) {
    if (Execute(walk, s)) RowsSent(walk, 1);
    else Refused(walk, s);
  }
}

void SwitchIdentityOn(RowWalk& walk) {
  if (walk.identityOn) return;
  walk.identityOn = true;
  const CString on = rows2000::IdentityInsertText(walk.table, true);
  if (walk.database) Execute(walk, on);
  else AppendScript(walk, on + "\r\ngo\r\n", 0);
}

void SwitchIdentityOff(RowWalk& walk) {
  if (!walk.identityOn) return;
  walk.identityOn = false;
  const CString off = rows2000::IdentityInsertText(walk.table, false);
  if (walk.database) Execute(walk, off);
  else AppendScript(walk, off + "\r\ngo\r\n", 0);
}

// Hands one row's statement to the script or the connection.
void Deliver(RowWalk& walk, const rows2000::RowStatement& statement, bool* batchFull) {
  if (statement.identity) SwitchIdentityOn(walk);
  if (!walk.database) {
    AppendScript(walk, statement.ScriptText(), 1);
    return;
  }
  if (walk.avoidDuplicates && !walk.sent.insert(statement.ServerText().str()).second) {
    ++walk.duplicates;
    return;
  }
  if (statement.HasBlock()) {
    // The block declares its own variables and commits itself: it runs alone, after the
    // rows before it, so the batch's order stays the table's.
    FlushBatch(walk);
    if (Execute(walk, statement.block)) RowsSent(walk, 1);
    else Refused(walk, statement.block);
    return;
  }
  walk.batch.push_back(statement.insert);
  if (!walk.inWalk || (batchFull && *batchFull)) {
    FlushBatch(walk);
    if (batchFull) *batchFull = false;
  }
}

// A walk's last steps: what is still gathered goes out, the identity switch goes off.
void FinishExport(RowWalk& walk) {
  if (walk.database) {
    FlushBatch(walk);
    SwitchIdentityOff(walk);
    return;
  }
  if (!walk.writeFailed) {
    SwitchIdentityOff(walk);
    FlushScript(walk);
  }
}

// A table rebuilt from its records has a column for every entry the records it was rebuilt from
// hold; a record read later (a deleted row found in free space) may hold more.
void LogEntriesLeftOut(const RowWalk& walk) {
  if (walk.entriesLeftOut)
    Log(FormatString("Table %s: %d variable values of its records lie past its last rebuilt column and were left "
                     "out",
                     walk.tableName, walk.entriesLeftOut));
}

void LogExportSummary(const RowWalk& walk, int foreignPages, const DeletedRowPlan* deleted) {
  CString line = FormatString("Exported %d rows of table %s", walk.rows, walk.tableName);
  if (walk.refusedRows) line += FormatString(", %d rows refused by the server", walk.refusedRows);
  if (walk.duplicates) line += FormatString(", %d repeated rows not sent again", walk.duplicates);
  if (deleted) {
    line += FormatString(", %d of them deleted rows recovered; %d deleted rows left out as copies",
                         walk.table.m_nDeletedRecovered, walk.table.m_nDeletedCopies);
    if (deleted->unfit + deleted->notFound)
      line += FormatString(", %d that could not be read", deleted->unfit + deleted->notFound);
  }
  Log(line);
  if (walk.incompleteValues)
    Log(FormatString("Table %s: %d large values exported as far as they could be read", walk.tableName,
                     walk.incompleteValues));
  if (walk.nullsInNotNull)
    Log(FormatString("Table %s: %d NULL values of NOT NULL character columns written as ''", walk.tableName,
                     walk.nullsInNotNull));
  if (walk.variantsLeftOut)
    Log(FormatString("Table %s: %d sql_variant values of a base type that cannot be read left out", walk.tableName,
                     walk.variantsLeftOut));
  if (walk.failedRecords)
    Log(FormatString("Table %s: %d records could not be decoded", walk.tableName, walk.failedRecords));
  LogEntriesLeftOut(walk);
  if (foreignPages)
    Log(FormatString("Table %s: %d pages of other objects in its page list were passed over", walk.tableName,
                     foreignPages));
}

// Slots per batch: "Exportsize" of sql.settings; 100 without the file, every slot when the
// file does not name it.
int ExportBatchSize() {
  std::string value;
  switch (ReadSetting("Exportsize", value)) {
    case SettingLookup::NoFile: return kDefaultExportSize;
    case SettingLookup::NoKey: return 0;
    case SettingLookup::Found: break;
  }
  return std::max(std::atoi(value.c_str()), 0);
}

// Avoid_Duplicate: set on the engine, or "1" in sql.settings.
bool AvoidDuplicates(const CSQLServer2000& e) {
  if (e.m_bAvoidDuplicate) return true;
  std::string value;
  return ReadSetting("Avoid_Duplicate", value) == SettingLookup::Found && value == "1";
}

// The slot entry as the walks read it: slot 0's damaged low byte 0x60 put back to 96, and in
// the preview also a first entry whose high byte alone is damaged (the record then starts
// below 0x100, and the page byte at the damaged offset is no record's first byte).
WORD RepairedEntry(const BYTE* page, int slot, bool preview) {
  WORD entry = ReadU16(page + kPageSize - 2 * (slot + 1));
  if (slot != 0 || entry == kFirstRowOffset) return entry;
  if ((entry & 0xFF) == 0x60) return kFirstRowOffset;
  if (preview && (entry >> 8) == 1 && (entry & 0xFF) > 0x69 && page[entry] != 0x30) return WORD(entry & 0xFF);
  return entry;
}

bool InPage(WORD entry) { return entry >= kFirstRowOffset && entry <= kLastRowOffset; }

// The pages a walk reads: the table's, and those the allocation map marks free when deleted
// rows are wanted (they hold them).
std::vector<DWORD> WalkedPages(const CSQLServer2000& e, const CTable& table) {
  std::vector<DWORD> pages = table.m_vecDataPages;
  if (e.m_bRecoverDeleted)
    pages.insert(pages.end(), table.m_vecFreedPages.begin(), table.m_vecFreedPages.end());
  return pages;
}

// Which rows a walk over `pages` reads when deleted rows are recovered (common/deletedrows.h):
// rows are told apart by their key's export values, or all their values; `log` writes what
// was left out, and why.
DeletedRowPlan PlanDeletedRows2000(RowWalk& walk, const std::vector<DWORD>& pages, bool log) {
  const CTable& table = walk.table;
  const std::vector<rows2000::ColumnPlan>& columns = walk.plan.columns();
  std::vector<size_t> keyPlaces;
  if (const CIndexInfo* index = RowKeyIndex(table))
    for (int id : index->m_vecColumns)
      for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].column && columns[i].column->m_nColumnId == id) {
          keyPlaces.push_back(i);
          break;
        }
  // Off-row values are not read: their rows are told apart by the rest.
  rows2000::DecodeOptions keyOptions;
  keyOptions.mode = rows2000::Mode::kExport;
  keyOptions.recoverDeleted = true;
  rows2000::DecodeOptions textOptions = keyOptions;
  textOptions.mode = rows2000::Mode::kDisplay;
  DeletedRowSteps steps;
  steps.readPage = [&](size_t position, BYTE* page) {
    if (!walk.pages.ReadDataPage(pages[position], page) || PageTypeOf(page) != kPageData ||
        PageObjectId(page) != table.m_dwObjectId)
      return false;
    RestoreTornBitsIfPresent(page);
    return true;
  };
  steps.slotEntry = [](const BYTE* page, int slot) {
    const WORD entry = RepairedEntry(page, slot, false);
    return InPage(entry) ? entry : WORD(0);
  };
  steps.identify = [&](const BYTE* page, WORD offset, bool texts, RowIdentity& id) {
    const ByteView body(page + kPageHeaderSize, kPageBodySize);
    const WORD recordOffset = WORD(offset - kPageHeaderSize);
    rows2000::DecodedRow row;
    if (rows2000::DecodeRecord(walk.plan, body, recordOffset, keyOptions, row) != rows2000::Verdict::kDecoded)
      return false;
    id.key.clear();
    auto add = [&](const rows2000::Value& v) {
      id.key += char(v.mark);
      const size_t n = v.text.size();
      id.key.append({char(n), char(n >> 8), char(n >> 16)});
      id.key += v.text;
    };
    if (keyPlaces.empty())
      for (const rows2000::Value& v : row.values) add(v);
    for (size_t i : keyPlaces) add(row.values[i]);
    if (!texts) return true;
    rows2000::DecodedRow shown;
    if (rows2000::DecodeRecord(walk.plan, body, recordOffset, textOptions, shown) != rows2000::Verdict::kDecoded)
      return false;
    id.keyText = keyPlaces.empty() ? CString("(all columns)") : CString();
    for (size_t i : keyPlaces) {
      if (!id.keyText.IsEmpty()) id.keyText += ", ";
      id.keyText += SqlQuoteName(columns[i].column->m_strName) + "=" + CString(shown.values[i].Shown());
    }
    id.valuesText.Empty();
    for (size_t i = 0; i < shown.values.size(); ++i) {
      if (i) id.valuesText += ", ";
      id.valuesText += CString(shown.values[i].Shown());
    }
    return true;
  };
  return PlanDeletedRows(pages.size(), table.m_vecDataPages.size(), walk.plan.Shape(), steps, walk.tableName, log);
}

// Decodes one row of the walk and delivers its statement. The record's end offset, or 0.
WORD ExportRow(RowWalk& walk, BYTE* body, WORD recordOffset, bool* batchFull) {
  CSQLServer2000& e = walk.engine;
  CEngineStatus* status = e.m_pStatus;
  rows2000::DecodedRow row;
  const ByteView bytes(body, kPageBodySize);
  if (rows2000::DecodeRecord(walk.plan, bytes, recordOffset, walk.options, row) != rows2000::Verdict::kDecoded)
    return 0;
  walk.incompleteValues += row.incompleteValues;
  walk.entriesLeftOut += row.entriesLeftOut;
  if (!walk.insert) walk.insert.emplace(walk.table);
  const rows2000::RowStatement statement =
      walk.insert->Build(row.values, walk.database ? rows2000::Target::kServer : rows2000::Target::kScript);
  if (Stopped(status)) return 0;
  walk.nullsInNotNull += statement.nullsInNotNull;
  walk.variantsLeftOut += statement.variantsLeftOut;
  ++status->m_nRecordsProcessed;
  Deliver(walk, statement, batchFull);
  return row.endOffset;
}

}  // namespace

std::shared_ptr<PreviewWalks2000> CSQLServer2000::NewPreviewWalks() { return std::make_shared<PreviewWalks2000>(); }

void CSQLServer2000::StopRecordWalks() {
  std::shared_ptr<PreviewWalks2000> walks = m_pPreviewWalks;
  if (!walks) return;
  {
    std::lock_guard<std::mutex> lock(walks->state);
    ++walks->latest;
    walks->windowPending = false;
  }
  // A walk that runs sees its ticket superseded at its next slot; wait until it has left.
  std::lock_guard<std::mutex> running(walks->walk);
}

void CSQLServer2000::SetRecordWalkDone() {
  std::lock_guard<std::mutex> lock(m_pPreviewWalks->state);
  // While a preview window is on its way the flag is that walk's: the program takes the
  // window's rows as soon as it reads 1.
  if (!m_pPreviewWalks->windowPending) m_pStatus->m_bRecordThreadDone = 1;
}

void CSQLServer2000::GetTableRecord(BYTE* body, WORD recordOffset, CTable* table) {
  if (!body || !table || !m_pStatus) return;
  // Inside a walk the row belongs to that walk, whatever the engine's flags say meanwhile.
  if (RowWalk* exporting = WalkFor(table, rows2000::Mode::kExport)) {
    ExportRow(*exporting, body, recordOffset, nullptr);
    return;
  }
  RowWalk* walk = WalkFor(table, rows2000::Mode::kDisplay);
  std::optional<RowWalk> own;
  if (!walk) {
    if (m_bExportMode == 1) {
      // A row of its own in export mode: written or executed at once.
      RowWalk& w = own.emplace(*this, *table, rows2000::Mode::kExport);
      w.database = m_bExportToServer ? m_pDatabase : nullptr;
      w.script = m_hTableSqlFile;
      ExportRow(w, body, recordOffset, nullptr);
      FinishExport(w);
      return;
    }
    walk = &own.emplace(*this, *table, rows2000::Mode::kDisplay);
  }
  rows2000::DecodedRow row;
  if (rows2000::DecodeRecord(walk->plan, ByteView(body, kPageBodySize), recordOffset, walk->options, row) !=
      rows2000::Verdict::kDecoded)
    return;
  walk->entriesLeftOut += row.entriesLeftOut;
  std::string text;
  if (!rows2000::PreviewRowText(row, text)) return;
  {
    std::lock_guard<std::mutex> lock(m_pStatus->m_csPreviewRows);
    m_pStatus->m_vecPreviewRows.push_back(CString(std::move(text)));
  }
  ++m_nRowCount;
  ++walk->previewRows;
  // Progress is the counter alone: "RecordEvent" is the census hand-shake, and setting it
  // here could release a census of this engine that starts meanwhile.
  ++m_pStatus->m_nRecordsProcessed;
}

WORD CSQLServer2000::ExportTableRecord(BYTE* body, WORD recordOffset, CTable* table, CDatabase* database, CString*,
                                       bool* batchFull) {
  if (!body || !table || !m_pStatus) return 0;
  if (Stopped(m_pStatus)) {
    SetRecordWalkDone();
    return 0;
  }
  if (RowWalk* walk = WalkFor(table, rows2000::Mode::kExport)) return ExportRow(*walk, body, recordOffset, batchFull);
  // A call of its own has no batch to join: its row is written or executed at once.
  RowWalk own(*this, *table, rows2000::Mode::kExport);
  own.database = m_bExportToServer ? database : nullptr;
  own.script = m_hTableSqlFile;
  const WORD end = ExportRow(own, body, recordOffset, nullptr);
  FinishExport(own);
  return end;
}

void CSQLServer2000::ExportTableRows(CTable* table, CDatabase* database) { RunExportWalk(table, database); }

DWORD CSQLServer2000::RecoverTableRecordThread(void* engine, CTable* table, CDatabase* database) {
  auto* e = static_cast<CSQLServer2000*>(engine);
  if (!e) return 0;
  // This routine always exports: the program clears the shared mode flag when a table is
  // selected, which must not turn an export running on a pool thread into a preview.
  return e->RunExportWalk(table, database);
}

DWORD CSQLServer2000::RecoverTableRecordThread(void* engine) {
  auto* e = static_cast<CSQLServer2000*>(engine);
  if (!e || !e->m_pStatus) return 0;
  if (e->m_bExportMode == 1)
    return e->RunExportWalk(e->m_pStatus->m_pExportTable, e->m_bExportToServer ? e->m_pDatabase : nullptr);
  UINT64 ticket = 0;
  {
    std::lock_guard<std::mutex> lock(e->m_pPreviewWalks->state);
    e->m_pPreviewWalks->windowPending = true;
    ticket = ++e->m_pPreviewWalks->latest;
  }
  return RunPreviewWalk(e, e->m_pPreviewWalks, ticket);
}

void CSQLServer2000::StartRecoverTableRecordThread() {
  const auto run = [this](std::shared_ptr<PreviewWalks2000> walks, UINT64 ticket) { RunPreviewWalk(this, walks, ticket); };
  if (!StartPreviewWalk(*this, m_pPreviewWalks, run))
    Log("The record preview thread could not be started");
}

DWORD CSQLServer2000::RunPreviewWalk(CSQLServer2000* engine, std::shared_ptr<PreviewWalks2000> walks, UINT64 ticket) {
  if (!walks) return 0;
  std::lock_guard<std::mutex> running(walks->walk);
  // A newer request came while this one waited (or the engine is going): its walk shows the
  // window, and this one touches nothing.
  if (walks->latest.load() != ticket || !engine) return 0;
  auto superseded = [&] { return walks->latest.load() != ticket; };

  CSQLServer2000& e = *engine;
  CEngineStatus* status = e.m_pStatus;
  e.m_nRowCount = 0;
  CTable* table = status->m_pPreviewTable;
  auto publishEmpty = [&](const CString& why) {
    Log(why);
    std::lock_guard<std::mutex> publishing(walks->state);
    if (superseded()) return DWORD(0);
    e.m_bLastWindow = 1;
    walks->windowPending = false;
    status->m_bRecordThreadDone = 1;
    return DWORD(0);
  };
  if (!table) return publishEmpty("Record preview: no table chosen");

  std::optional<RowWalk> context;
  context.emplace(e, *table, rows2000::Mode::kDisplay);
  RowWalk& walk = *context;
  if (!walk.pages.IsOpen())
    return publishEmpty("Record preview of " + walk.tableName + ": no rows, the source cannot be read");
  const std::vector<DWORD> pages = WalkedPages(e, *table);
  // The deleted rows the export of the table writes, in its order (the export logs them).
  std::shared_ptr<const DeletedRowPlan> deletedRows;
  if (e.m_bRecoverDeleted)
    deletedRows = KeptDeletedRowPlan(table->m_pDeletedRows.get(), pages,
                                     [&] { return PlanDeletedRows2000(walk, pages, false); });

  // The window state changes only when the walk publishes.
  const WindowRequest request = ChooseWindowStart(e, e.m_posResume);
  ScopedRowWalk scope(&walk);
  PreviewWindowSteps steps;
  size_t current = 0;
  steps.readPage = [&](size_t position, BYTE* page) {
    current = position;
    // A page of another object in the list has this table's columns nowhere: passed over.
    if (!walk.pages.ReadDataPage(pages[position], page) || PageTypeOf(page) != kPageData ||
        PageObjectId(page) != table->m_dwObjectId)
      return false;
    RestoreTornBitsIfPresent(page);
    return true;
  };
  steps.slotEntry = [&](const BYTE* page, int slot) {
    if (deletedRows) {
      const WORD at = deletedRows->RowAt(current, slot);
      if (at != DeletedRowPlan::kAsStored) return at;
    }
    const WORD entry = RepairedEntry(page, slot, true);
    return InPage(entry) ? entry : WORD(0);
  };
  steps.decodeRow = [&](BYTE* page, WORD entry) {
    try {
      e.GetTableRecord(page + kPageHeaderSize, WORD(entry - kPageHeaderSize), table);
    } catch (...) {
      // A row that cannot be decoded is left out; the window goes on.
    }
  };
  steps.rows = [&] { return walk.previewRows; };
  steps.superseded = superseded;
  const PreviewWindowEnd end = WalkPreviewWindow(pages.size(), request.start, kPreviewWindowRows, steps);

  std::lock_guard<std::mutex> publishing(walks->state);
  if (end.abandoned || superseded()) {
    // Leave nothing behind for the walk that replaces this one.
    std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
    for (int i = 0; i < walk.previewRows && !status->m_vecPreviewRows.empty(); ++i) status->m_vecPreviewRows.pop_back();
    return 0;
  }
  LogEntriesLeftOut(walk);
  RecordShownWindow(e, request, end.reachedEnd);
  e.m_posResume = end.next;
  // Last: the program reads the rows and the window state once it sees the flag.
  walks->windowPending = false;
  status->m_bRecordThreadDone = 1;
  return 1;
}

DWORD CSQLServer2000::RunExportWalk(CTable* table, CDatabase* database) {
  CEngineStatus* status = m_pStatus;
  auto done = [&](DWORD result) {
    SetRecordWalkDone();
    return result;
  };
  if (!table || !status) return done(0);
  table->m_nRowsExported = 0;
  table->m_nRowsNotStored = 0;
  if (Stopped(status)) return done(0);
  if (table->m_strName.IsEmpty() || !table->m_pColumnHead) {
    Log(FormatString("Row export: table %lu has no name or no columns, no rows exported", table->m_dwObjectId));
    return done(0);
  }
  RowWalk walk(*this, *table, rows2000::Mode::kExport);
  walk.database = database;
  walk.script = m_hTableSqlFile;
  walk.inWalk = true;
  walk.avoidDuplicates = database && AvoidDuplicates(*this);
  if (!walk.pages.IsOpen()) {
    Log("Rows of table " + walk.tableName + " not exported: the source cannot be read");
    return done(0);
  }
  const int batchSize = ExportBatchSize();
  const std::vector<DWORD> pages = WalkedPages(*this, *table);
  // Which slots hold the deleted rows to export, decided before the first row is written so
  // that none is a copy of a live row further on.
  // The export's plan is made anew, so its log says what was left out; the previews after it
  // read by it.
  std::shared_ptr<const DeletedRowPlan> deletedRows;
  table->m_nDeletedRecovered = 0;
  table->m_nDeletedCopies = 0;
  if (walk.options.recoverDeleted) {
    deletedRows = KeptDeletedRowPlan(nullptr, pages, [&] { return PlanDeletedRows2000(walk, pages, true); });
    if (table->m_pDeletedRows) table->m_pDeletedRows->Keep(pages, deletedRows);
    table->m_nDeletedCopies = deletedRows->copies;
  }
  const DeletedRowPlan* deletedPlan = deletedRows.get();

  ScopedRowWalk scope(&walk);
  bool batchFull = false;
  int counter = 0;
  int foreignPages = 0;
  std::vector<BYTE> page(kPageSize);
  auto end = [&](DWORD result) {
    if (walk.database) table->m_nRowsNotStored = walk.refusedRows;
    LogExportSummary(walk, foreignPages, deletedPlan);
    return done(result);
  };
  auto stop = [&] {
    // What was decoded before the stop is in the script, as it would be row by row; a batch
    // not yet sent is dropped, the connection left as it was found.
    walk.batch.clear();
    if (!walk.writeFailed) SwitchIdentityOff(walk);
    if (!walk.database) FlushScript(walk);
    return end(0);
  };
  for (size_t position = 0; position < pages.size(); ++position) {
    const bool read = walk.pages.ReadDataPage(pages[position], page.data());
    // Counted read or not: the export's progress goes by the pages gone through.
    if (status) ++status->m_nExportPagesRead;
    if (Stopped(status)) return stop();
    if (!read || PageTypeOf(page.data()) != kPageData) continue;
    if (PageObjectId(page.data()) != table->m_dwObjectId) {
      ++foreignPages;
      continue;
    }
    RestoreTornBitsIfPresent(page.data());
    if (walk.database) walk.database->SetQueryTimeout(kRowQueryTimeout);
    BYTE* body = page.data() + kPageHeaderSize;
    const int count = SlotCountCapped(page.data());
    for (int slot = 0; slot < count; ++slot) {
      if (++counter >= batchSize) {
        batchFull = true;
        counter = 0;
      }
      WORD entry = RepairedEntry(page.data(), slot, false);
      bool deletedRow = false;
      if (deletedPlan) {
        const WORD at = deletedPlan->RowAt(position, slot);
        deletedRow = at != DeletedRowPlan::kAsStored;
        if (deletedRow) entry = at;
      }
      if (!InPage(entry)) continue;
      try {
        const WORD end = ExportTableRecord(body, WORD(entry - kPageHeaderSize), table, database, nullptr, &batchFull);
        if (deletedRow && end != 0) ++table->m_nDeletedRecovered;
      } catch (...) {
        ++walk.failedRecords;
      }
      if (Stopped(status)) return stop();
      if (walk.writeFailed) return end(0);
    }
    if (walk.database) FlushBatch(walk);
    else if (!FlushScript(walk)) return end(0);
  }
  FinishExport(walk);
  if (walk.writeFailed) return end(0);
  return end(Stopped(status) ? 0 : 1);
}
