// Record preview: one stored row into the "$#$"-joined texts the program's list shows, and
// the record thread that walks a table's pages one window of 500 rows at a time.
#include <algorithm>
#include <atomic>
#include <bit>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/deletedrows.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "common/formatters.h"
#include "common/previewwindow.h"
#include "common/sqltext.h"
#include "common/unicodetext.h"
#include "lob.h"
#include "pellwyn2008.h"
#include "platform/guid.h"
#include "platform/threads.h"
#include "record.h"

struct PreviewWalks {
  std::mutex walk;                // held by the walk that runs
  std::mutex state;               // a new ticket, or a walk publishing its window
  std::atomic<UINT64> latest{0};  // ticket of the walk whose window the program waits for
  bool windowPending = false;     // that window is not published yet (guarded by `state`)
};

namespace {

const char* const kSeparator = "$#$";
const char* const kNull = "NULL";
const char* const kEmpty = "Empty";
const char* const kCorrupt = "Corrupt";
const char* const kFormula = "FORMULA";
const char* const kDeleted = "Deleted";
const char* const kBinary = "<binary data>";

// What GetTableRecord needs from the walk that calls it: the walk's plan (built once for the
// table) and the count of rows this walk appended.
struct PreviewContext {
  const RecordPlan* plan = nullptr;
  int rows = 0;
};
thread_local PreviewContext* t_preview = nullptr;

class ScopedPreviewContext {
 public:
  explicit ScopedPreviewContext(PreviewContext* context) : m_previous(t_preview) { t_preview = context; }
  ~ScopedPreviewContext() { t_preview = m_previous; }
  ScopedPreviewContext(const ScopedPreviewContext&) = delete;
  ScopedPreviewContext& operator=(const ScopedPreviewContext&) = delete;

 private:
  PreviewContext* m_previous;
};

UINT64 ReadLE(ByteView v, size_t width) {
  UINT64 x = 0;
  for (size_t i = std::min({width, v.size(), size_t(8)}); i-- > 0;) x = x << 8 | v.data()[i];
  return x;
}

CString Hex(ByteView v) { return CString(SqlHexDigits(v.data(), v.size())); }

// char, varchar and text in the code page of the column's collation, zero bytes left out
// (a zero would end the text where the window shows it).
CString CodePageText(ByteView v, const CColumn* column) {
  std::string kept;
  kept.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i)
    if (v.data()[i]) kept += char(v.data()[i]);
  const unsigned codePage = column ? CodePageOfCollation(column->m_dwCollation) : 0;
  return CString(CodePageToUtf8(ByteView(reinterpret_cast<const BYTE*>(kept.data()), kept.size()),
                                codePage ? codePage : 1252));
}

// nchar, nvarchar and ntext as stored, zero units left out.
CString UnicodeText(ByteView v) {
  std::string s = Utf16ToUtf8(v);
  s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
  return CString(std::move(s));
}

CString OrEmpty(CString text) { return text.IsEmpty() ? CString(kEmpty) : text; }

// "hh:mm:ss.f " of a time value: units of 10^-scale s; the hours are not folded into a day.
CString TimeText(ByteView v, int scale) {
  if (scale < 0 || scale > 7) return kCorrupt;
  UINT64 unit = 1;
  for (int i = 0; i < scale; ++i) unit *= 10;
  const UINT64 value = ReadLE(v, v.size());
  std::string fraction = "0";
  if (scale > 0) {
    fraction = std::to_string(value % unit);
    fraction.insert(0, size_t(scale) - std::min(fraction.size(), size_t(scale)), '0');
  }
  const UINT64 seconds = value / unit;
  return FormatString("%02d:%02d:%02d.%s ", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60),
                      fraction.c_str());
}

}  // namespace

CString CSQLServer2008::PreviewCellText(const ColumnPlan& p, const RecordCell& cell) {
  const CColumn* column = p.column;
  switch (cell.state) {
    case CellState::kNull: return kNull;
    case CellState::kEmpty: return kEmpty;
    case CellState::kMissing:
      // A column added after the row was written shows what the table gives it.
      return column && !column->m_strDefault.IsEmpty() ? column->m_strDefault : CString(kEmpty);
    case CellState::kCorrupt: return kCorrupt;
    case CellState::kComputed: return kFormula;
    case CellState::kDropped: return kDeleted;
    case CellState::kValue: break;
  }
  const ByteView v = cell.bytes();
  if (p.role == ColumnRole::kVariable) {
    const SqlType t = p.storedType;
    if (t == SqlType::kVarBinary || t == SqlType::kImage) return kBinary;
    if (cell.offRow && !cell.assembled) return kBinary;
    switch (t) {
      case SqlType::kVarChar:
      case SqlType::kText: return OrEmpty(CodePageText(v, column));
      case SqlType::kUnknown: return v.size() ? "0x" + Hex(v) : CString(kEmpty);
      default: return OrEmpty(UnicodeText(v));
    }
  }
  if (!column || v.size() == 0) return column ? CString(kEmpty) : CString(kCorrupt);
  CString out;
  bool ok = true;
  switch (p.type) {
    // Approximate numbers as the shortest text that reads back to the stored value; a pattern
    // no server stores (NaN, infinity) as the printf text it has.
    case SqlType::kReal:
      return FormatReal(v.data(), v.size(), out) ? out : RealToString(DWORD(ReadLE(v, 4)));
    case SqlType::kFloat:
      return FormatFloat(v.data(), v.size(), out) ? out
                                                  : FormatScientific(std::bit_cast<double>(ReadLE(v, 8)),
                                                                     column->m_bPrecision);
    case SqlType::kBigInt: return FormatString("%I64d", INT64(ReadLE(v, 8)));
    case SqlType::kInt: return FormatString("%d", int(DWORD(ReadLE(v, v.size()))));
    case SqlType::kSmallInt: return FormatString("%d", int(short(WORD(ReadLE(v, 2)))));
    case SqlType::kTinyInt: return FormatString("%d", int(v.data()[0]));
    case SqlType::kBit:
      if (p.bitPosition > 7) return kCorrupt;
      return (v.data()[0] >> p.bitPosition & 1) ? "1" : "0";
    case SqlType::kChar: {
      const BYTE* end = std::find(v.data(), v.data() + v.size(), BYTE(0));
      return OrEmpty(CodePageText(ByteView(v.data(), size_t(end - v.data())), column));
    }
    case SqlType::kNChar: return OrEmpty(UnicodeText(v));
    case SqlType::kDate: return OrEmpty(FormatDateFromDays(double(ReadLE(v, 3))));
    case SqlType::kTime: return TimeText(v, column->m_bScale);
    case SqlType::kDateTime: ok = FormatDateTime(v.data(), v.size(), out); break;
    case SqlType::kSmallDateTime: ok = FormatSmallDateTime(v.data(), v.size(), out); break;
    case SqlType::kDateTime2: ok = FormatDateTime2(v.data(), v.size(), column->m_bScale, out); break;
    case SqlType::kDateTimeOffset: ok = FormatDateTimeOffset(v.data(), v.size(), column->m_bScale, out); break;
    case SqlType::kTimestamp: return kBinary;
    case SqlType::kDecimal:
    // Exact numbers plainly, at their scale (the export keeps its own, padded literals).
    case SqlType::kNumeric: ok = FormatDecimalPlain(v.data(), v.size(), column->m_bScale, out); break;
    case SqlType::kMoney: ok = FormatMoneyPlain(v.data(), v.size(), out); break;
    case SqlType::kSmallMoney: ok = FormatSmallMoneyPlain(v.data(), v.size(), out); break;
    case SqlType::kBinary: return "0x" + Hex(v);
    case SqlType::kUniqueIdentifier: return v.size() == 16 ? GuidToString(v.data()) : CString(kCorrupt);
    default:
      // A type this decoder does not know: its bytes, as they are.
      return v.size() ? "0x" + Hex(v) : CString(kEmpty);
  }
  return ok ? OrEmpty(out) : CString(kCorrupt);
}

CString CSQLServer2008::PreviewRowText(const RecordPlan& plan, const DecodedRecord& record) {
  CString row;
  const int count = plan.ValueCount();
  for (int i = 0; i < count; ++i) {
    CString text = size_t(i) < record.cells.size() && size_t(i) < plan.columns().size()
                       ? PreviewCellText(plan.columns()[size_t(i)], record.cells[size_t(i)])
                       : CString(kEmpty);
    row += text.IsEmpty() ? CString(kEmpty) : text;
    row += kSeparator;
  }
  return row;
}

void CSQLServer2008::GetTableRecord(BYTE* body, WORD recordOffset, CTable* table) {
  CExecutionLog::WriteLog(0, 0, "In GetTableRecord", false);
  if (!body || !table || recordOffset >= kPageBodySize) return;
  // Inside a preview walk the row is for the preview whatever the engine's mode says now (an
  // export may have started meanwhile); the INSERT texts of an export come from the export
  // decoder, not from the preview texts.
  if (!t_preview && m_bExportMode == 1) return;
  std::optional<RecordPlan> own;
  const RecordPlan* plan = t_preview && t_preview->plan && &t_preview->plan->table() == table ? t_preview->plan
                                                                                              : &own.emplace(*table);
  const OffRowReader reader = [this](const OffRowPointer& pointer, LobSink& sink, LobReadReport* report) {
    return ReadOffRowValue(pointer, sink, report);
  };
  RecordDecodeOptions options;
  options.includeGhosts = m_bRecoverDeleted != 0;
  options.offRow = &reader;
  DecodedRecord record;
  ByteView bytes(body + recordOffset, size_t(kPageBodySize - recordOffset));
  if (DecodeRecord(*plan, bytes, options, record) != RecordVerdict::kDecoded) return;
  // A row of NULLs is still a row.
  CString text = PreviewRowText(*plan, record);
  if (text.IsEmpty()) return;
  {
    std::lock_guard<std::mutex> lock(m_pStatus->m_csPreviewRows);
    m_pStatus->m_vecPreviewRows.push_back(std::move(text));
  }
  ++m_nWindowRows;
  if (t_preview) ++t_preview->rows;
  ++m_pStatus->m_nRecordsProcessed;
}

std::shared_ptr<PreviewWalks> CSQLServer2008::NewPreviewWalks() { return std::make_shared<PreviewWalks>(); }

UINT64 CSQLServer2008::TakePreviewTicket() {
  std::lock_guard<std::mutex> lock(m_pPreviewWalks->state);
  m_pPreviewWalks->windowPending = true;
  return ++m_pPreviewWalks->latest;
}

void CSQLServer2008::SetRecordWalkDone() {
  std::lock_guard<std::mutex> lock(m_pPreviewWalks->state);
  // While a preview window is on its way the flag is that walk's: the program takes the
  // window's rows as soon as it reads 1.
  if (!m_pPreviewWalks->windowPending) m_pStatus->m_bRecordThreadDone = 1;
}

void CSQLServer2008::StartRecoverTableRecordThread() {
  const auto run = [this](std::shared_ptr<PreviewWalks> walks, UINT64 ticket) { RunPreviewWalk(this, walks, ticket); };
  if (!StartPreviewWalk(*this, m_pPreviewWalks, run))
    CExecutionLog::WriteLog(0, 0, "The record preview thread could not be started", false);
}

DWORD CSQLServer2008::RecoverTableRecordThread(void* arg) {
  auto* engine = static_cast<CSQLServer2008*>(arg);
  if (!engine) return 0;
  // In export mode this is the plain table script's row walk (export.cpp).
  if (engine->m_bExportMode == 1) return RunScriptWalk(engine);
  return RunPreviewWalk(engine, engine->m_pPreviewWalks, engine->TakePreviewTicket());
}

DWORD CSQLServer2008::RunPreviewWalk(CSQLServer2008* engine, std::shared_ptr<PreviewWalks> walks, UINT64 ticket) {
  if (!walks) return 0;
  std::lock_guard<std::mutex> running(walks->walk);
  // A newer request came while this one waited: its walk shows the window.
  if (walks->latest.load() != ticket || !engine) return 0;
  auto superseded = [&] { return walks->latest.load() != ticket; };

  CSQLServer2008& e = *engine;
  CEngineStatus* status = e.m_pStatus;
  e.m_nWindowRows = 0;
  CTable* table = status->m_pPreviewTable;
  if (!table || !e.HasPageSource()) {
    if (!table) {
      CExecutionLog::WriteLog(0, 0, "Record preview: no table chosen", false);
    } else {
      CExecutionLog::WriteLog(0, 0,
                              FormatString("Record preview of [%s].[%s]: no rows, the scan was loaded without its backup",
                                           table->m_strOwner, table->m_strName),
                              false);
    }
    std::lock_guard<std::mutex> publishing(walks->state);
    if (superseded()) return 0;
    e.m_bLastWindow = 1;
    walks->windowPending = false;
    status->m_bRecordThreadDone = 1;
    return 0;
  }

  // Pages the allocation map marks free hold deleted data: shown only when deleted rows are.
  std::vector<DWORD> pages = table->m_vecDataPages;
  if (e.m_bRecoverDeleted)
    pages.insert(pages.end(), table->m_vecFreedPages.begin(), table->m_vecFreedPages.end());

  // Where the window starts: the first window of a table, the next one, or the previous one
  // from the stack of window starts. The window state changes only when the walk ends.
  const WindowRequest request =
      ChooseWindowStart(e, WindowStart{e.m_posNextPage, e.m_nNextSlotPos, e.m_nNextSlotIndex});

  RecordPlan plan(*table);
  // The deleted rows the export of the table writes, in its order (the export logs them).
  std::shared_ptr<const DeletedRowPlan> deletedRows;
  if (e.m_bRecoverDeleted)
    deletedRows = KeptDeletedRowPlan(table->m_pDeletedRows.get(), pages,
                                     [&] { return e.PlanDeletedRowsOf(*table, pages, plan, false); });
  PreviewContext context;
  context.plan = &plan;
  ScopedPreviewContext scope(&context);
  PreviewWindowSteps steps;
  size_t current = 0;
  steps.readPage = [&](size_t position, BYTE* page) {
    current = position;
    if (!e.ReadSourcePage(pages[position], page) || PageTypeOf(page) != kPageData) return false;
    RestoreTornBitsIfPresent(page);
    return true;
  };
  steps.slotEntry = [&](const BYTE* page, int slot) {
    const WORD entry = SlotEntry(page, slot);
    if (!deletedRows) return entry;
    const WORD at = deletedRows->RowAt(current, slot);
    return at == DeletedRowPlan::kAsStored ? entry : at;
  };
  steps.decodeRow = [&](BYTE* page, WORD entry) {
    e.GetTableRecord(page + kPageHeaderSize, WORD(entry - kPageHeaderSize), table);
  };
  steps.rows = [&] { return context.rows; };
  steps.superseded = superseded;
  const PreviewWindowEnd end = WalkPreviewWindow(pages.size(), request.start, kPreviewWindowRows, steps);

  std::lock_guard<std::mutex> publishing(walks->state);
  if (end.abandoned || superseded()) {
    // Leave nothing behind for the walk that replaces this one.
    std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
    for (int i = 0; i < context.rows && !status->m_vecPreviewRows.empty(); ++i) status->m_vecPreviewRows.pop_back();
    return 0;
  }
  RecordShownWindow(e, request, end.reachedEnd);
  e.m_posNextPage = end.next.posPage;
  e.m_nNextSlotPos = end.next.nSlotPos;
  e.m_nNextSlotIndex = end.next.nSlotIndex;
  // Last: the program reads the rows and the window state once it sees the flag.
  walks->windowPending = false;
  status->m_bRecordThreadDone = 1;
  return 1;
}
