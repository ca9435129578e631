#include "ui/core/previewdriver.h"

#include <algorithm>
#include <set>

#include "common/records.h"
#include "common/sqltypes.h"
#include "common/sqlserver.h"
#include "common/strtok.h"

namespace uicore {

namespace {

const char* const kSeparator = "$#$";
const char* const kEmpty = "Empty";

// Engines with a page being read, whichever driver reads it: two pages of one engine at once
// would share (and spoil) its paging state and its row list.
std::mutex& ClaimsMutex() {
  static std::mutex m;
  return m;
}
std::set<const CSQLServer*>& Claims() {
  static auto* claims = new std::set<const CSQLServer*>();
  return *claims;
}
bool Claim(const CSQLServer* engine) {
  std::lock_guard<std::mutex> lock(ClaimsMutex());
  return Claims().insert(engine).second;
}
void Release(const CSQLServer* engine) {
  std::lock_guard<std::mutex> lock(ClaimsMutex());
  Claims().erase(engine);
}

}  // namespace

std::vector<std::string> SplitRowText(const std::string& rowText) {
  std::vector<std::string> cells;
  std::string text = rowText;  // the tokenizer cuts its text in place
  StrTok tok;
  tok.m_bMultiCharDelimiter = true;
  for (char* piece = tok.FirstToken(text.data(), kSeparator); piece; piece = tok.NextToken(kSeparator))
    cells.emplace_back(std::string(piece) == kEmpty ? " " : piece);
  tok.Reset(text.data());
  return cells;
}

bool IsNumericColumn(const CColumn& column) {
  switch (SqlTypeFromName(column.m_strType)) {
    case SqlType::kTinyInt:
    case SqlType::kSmallInt:
    case SqlType::kInt:
    case SqlType::kBigInt:
    case SqlType::kReal:
    case SqlType::kFloat:
    case SqlType::kDecimal:
    case SqlType::kNumeric:
    case SqlType::kMoney:
    case SqlType::kSmallMoney: return true;
    default: return false;
  }
}

void ResetPaging(CSQLServer& engine) {
  engine.m_bPaging = 0;
  engine.m_bPageForward = 0;
  engine.m_bLastWindow = 0;
  engine.m_bExportMode = 0;
  engine.m_posShownPage.reset();
  engine.m_nShownSlotPos = 0;
  engine.m_nShownSlotIndex = 0;
  engine.m_pStatus->m_bRecordThreadDone = 0;
  engine.m_stkWindowStarts.clear();
}

PreviewDriver::PreviewDriver(CSQLServer& engine, IPreviewSink& sink) : m_engine(engine), m_sink(sink) {}

PreviewDriver::~PreviewDriver() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
  }
  m_requested.notify_all();
  // The page thread may sleep on the engine's done flag: wake it to see m_quit.
  m_engine.m_pStatus->m_bRecordThreadDone.Wake();
  if (m_thread.joinable()) m_thread.join();
  // A page asked for but never started still holds the engine's claim.
  if (m_requestTable) Release(&m_engine);
}

CTable* PreviewDriver::Table() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_table;
}

int PreviewDriver::PageNumber() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pageNumber;
}

bool PreviewDriver::NextEnabled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return !m_running && m_nextEnabled;
}

bool PreviewDriver::PreviousEnabled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return !m_running && m_previousEnabled;
}

bool PreviewDriver::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_idle.wait_for(lock, timeout, [&] { return !m_running.load(); });
}

PreviewStart PreviewDriver::Begin() {
  if (m_engine.m_bExportMode == 1) return PreviewStart::ExportRunning;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_running || !Claim(&m_engine)) return PreviewStart::Busy;
  // Set here, on the window's thread, so a second selection right after this one is refused
  // even before the page thread runs.
  m_running = true;
  return PreviewStart::Started;
}

PreviewStart PreviewDriver::SelectTable(CTable* table) {
  if (!table) return PreviewStart::Unavailable;
  const PreviewStart begun = Begin();
  if (begun != PreviewStart::Started) return begun;
  ResetPaging(m_engine);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_table = table;
    m_pageNumber = 1;
    m_nextEnabled = true;
    m_previousEnabled = false;
  }
  Launch(table, 1);
  return PreviewStart::Started;
}

PreviewStart PreviewDriver::NextPage() { return Turn(true); }

PreviewStart PreviewDriver::PreviousPage() { return Turn(false); }

PreviewStart PreviewDriver::Turn(bool forward) {
  CTable* table = nullptr;
  int page = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_table) return PreviewStart::Unavailable;
    table = m_table;
    page = forward ? m_pageNumber + 1 : std::max(m_pageNumber - 1, 1);
  }
  const PreviewStart begun = Begin();
  if (begun != PreviewStart::Started) return begun;
  // Backwards m_bPaging keeps its value: the history decides where the page starts.
  if (forward) m_engine.m_bPaging = 1;
  m_engine.m_bPageForward = forward ? 1 : 0;
  m_engine.m_pStatus->m_bRecordThreadDone = 0;
  m_engine.m_bExportMode = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pageNumber = page;
  }
  Launch(table, page);
  return PreviewStart::Started;
}

void PreviewDriver::Launch(CTable* table, int pageNumber) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requestTable = table;
    m_requestPage = pageNumber;
    if (!m_thread.joinable()) m_thread = std::thread([this] { PageThread(); });
  }
  m_requested.notify_one();
}

void PreviewDriver::PageThread() {
  for (;;) {
    CTable* table = nullptr;
    int pageNumber = 0;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_requested.wait(lock, [&] { return m_quit.load() || m_requestTable; });
      if (m_quit) return;
      table = m_requestTable;
      pageNumber = m_requestPage;
      m_requestTable = nullptr;
    }
    ReadPage(table, pageNumber);
  }
}

void PreviewDriver::ReadPage(CTable* table, int pageNumber) {
  CEngineStatus* status = m_engine.m_pStatus;
  PreviewPage page;
  page.table = table;
  page.pageNumber = pageNumber;
  for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
    page.headers.push_back(c->m_strName.str());
    page.numeric.push_back(IsNumericColumn(*c));
  }
  {
    // Rows an abandoned page left behind must not open this one.
    std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
    status->m_vecPreviewRows.clear();
  }
  status->m_pPreviewTable = table;
  m_engine.StartRecoverTableRecordThread();
  if (!status->m_bRecordThreadDone.WaitUnless(1, [&] { return m_quit.load(); })) {
    // The driver goes: the engine's walk finishes on its own, nobody shows its rows.
    Finish(false, false);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(status->m_csPreviewRows);
    while (!status->m_vecPreviewRows.empty()) {
      page.rowTexts.push_back(status->m_vecPreviewRows.front().str());
      status->m_vecPreviewRows.pop_front();
    }
  }
  for (const std::string& text : page.rowTexts) {
    std::vector<std::string> cells = SplitRowText(text);
    if (!cells.empty()) page.rows.push_back(std::move(cells));
  }
  page.lastPage = m_engine.m_bLastWindow != 0;
  page.previousEnabled = !m_engine.m_stkWindowStarts.empty();
  page.nextEnabled = !page.lastPage && !page.rows.empty();
  // Free before shown: whoever sees the page may turn it at once. The engine's paging state
  // was read above, so a press from now on cannot spoil this page.
  Finish(page.previousEnabled, page.nextEnabled);
  if (!m_quit) m_sink.ShowPage(page);
}

void PreviewDriver::Finish(bool previousEnabled, bool nextEnabled) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_previousEnabled = previousEnabled;
    m_nextEnabled = nextEnabled;
    Release(&m_engine);
    m_running = false;
  }
  m_idle.notify_all();
}

}  // namespace uicore
