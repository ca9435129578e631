// The library's plain script sets: a folder of scripts for the whole recovered catalog
// (database, tables, views, procedures, rows) and a rows-only script written in lock-step with
// a watching thread. The rows come from each table's m_strRowText: rows separated by "#&#",
// values by "$#$", a missing value written "Empty".
#include <string>
#include <string_view>
#include <vector>

#include "common/executionlog.h"
#include "common/sqltext.h"
#include "pellwyn2000.h"
#include "platform/events.h"
#include "platform/threads.h"

namespace {

constexpr std::string_view kRowSeparator = "#&#";
constexpr std::string_view kValueSeparator = "$#$";
constexpr const char* kMissing = "Empty";
// How long the generator leaves the watcher after each table before it waits for it.
constexpr unsigned kHandOverMs = 200;
// The slice of a wait between two looks at the stop flag.
constexpr unsigned kStopCheckMs = 50;

// The non-empty pieces of text between separators (the last value of a row is followed by
// its separator too).
std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> out;
  size_t from = 0;
  while (from <= text.size()) {
    size_t at = text.find(separator, from);
    if (at == std::string_view::npos) at = text.size();
    if (at > from) out.push_back(text.substr(from, at - from));
    from = at + separator.size();
  }
  return out;
}

bool IsOneOf(const CString& s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (s == n) return true;
  return false;
}

CString PathIn(const CString& folder, const char* name) {
  if (folder.IsEmpty()) return name;
  const char last = folder.str().back();
  return folder + ((last == '/' || last == '\\') ? "" : "/") + name;
}

std::vector<const CColumn*> ColumnsOf(const CTable& table) {
  std::vector<const CColumn*> columns;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) columns.push_back(c);
  return columns;
}

// Writes text into a new file (an existing one is replaced); false when any step failed.
bool WriteNewFile(CSQLServer2000& engine, const CString& path, const CString& text) {
  FILE_HANDLE file = CreateFileForWrite(path.c_str());
  const bool written = engine.WriteScript(file, text);
  CloseFileHandle(file);
  return written;
}

// The type part of a column in the plain table script: the base type with its size, so a
// value fits the column it came from.
CString PlainType(const CColumn& c) { return c.m_strType + SqlTypeSuffix(c.m_strType, c.m_wLength, c.m_bPrecision, c.m_bScale); }

bool StopRequested(const CSQLServer2000& engine) { return engine.m_pStatus && engine.m_pStatus->m_bStopRecords.load() == 1; }

// Waits for the event; false when the stop flag was raised first.
bool WaitOrStop(const CSQLServer2000& engine, const EVENT_HANDLE& event) {
  for (;;) {
    if (StopRequested(engine)) return false;
    if (WaitForEvent(event, kStopCheckMs) == WaitResult::Signalled) return true;
  }
}

// Tells the watcher that a table (or the file) is done and waits for its answer. False when
// the stop flag ended the wait.
bool HandOver(CSQLServer2000& engine) {
  CEngineStatus& status = *engine.m_pStatus;
  SetEvent(status.m_hExportEvent);
  ResetEvent(status.m_hExportReady);
  SleepMs(kHandOverMs);
  if (!WaitOrStop(engine, status.m_hExportReady)) return false;
  ResetEvent(status.m_hExportEvent);
  return !StopRequested(engine);
}

}  // namespace

void CSQLServer2000::GenerateQueries(CString folder) {
  WriteNewFile(*this, PathIn(folder, "Create_Database.sql"), "CREATE DATABASE " + SqlQuoteName(m_strDatabaseName));

  CString tables;
  for (const auto& entry : m_mapTables) {
    const CTable* table = entry.second;
    if (!table || table->m_strName.IsEmpty()) continue;
    tables += "CREATE TABLE " + SqlQuoteName(table->m_strName) + "(";
    bool first = true;
    for (const CColumn* c : ColumnsOf(*table)) {
      if (!first) tables += ",";
      first = false;
      tables += SqlQuoteName(c->m_strName) + " " + PlainType(*c);
    }
    tables += ")\r\n";
  }
  WriteNewFile(*this, PathIn(folder, "Create_Table.sql"), tables);

  // CREATE VIEW and CREATE PROCEDURE must each begin a batch of their own.
  const std::pair<const char*, const CStringKeyMap<CViewStoredProc*>*> objectFiles[] = {
      {"Views.sql", &m_mapViews}, {"Stored_Procedure.sql", &m_mapStoredProcs}};
  for (const auto& [name, map] : objectFiles) {
    CString text;
    for (const auto& entry : *map)
      if (entry.second && !entry.second->m_strName.IsEmpty()) text += entry.second->m_strText + "\r\n" + kSqlScriptGo;
    WriteNewFile(*this, PathIn(folder, name), text);
  }

  // Rows as positional INSERTs: one value per column, a missing one NULL.
  CString inserts;
  for (const auto& entry : m_mapTables) {
    const CTable* table = entry.second;
    if (!table || table->m_strName.IsEmpty()) continue;
    const std::vector<const CColumn*> columns = ColumnsOf(*table);
    if (columns.empty()) continue;
    for (std::string_view row : Split(table->m_strRowText, kRowSeparator)) {
      const std::vector<std::string_view> values = Split(row, kValueSeparator);
      CString statement = "Insert into  " + SqlQuoteName(table->m_strName) + " values(";
      for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) statement += ",";
        const CString value = i < values.size() ? CString(std::string(values[i])) : CString(kMissing);
        if (value == kMissing || value == "NULL") statement += "NULL";
        else if (IsOneOf(columns[i]->m_strType, {"varchar", "nvarchar", "ntext", "text", "image", "varbinary"}))
          statement += SqlQuoteString(value);
        else statement += value;
      }
      inserts += statement + ")\r\n";
    }
  }
  WriteNewFile(*this, PathIn(folder, "Insert_Queries.sql"), inserts);
}

void CSQLServer2000::GenerateTableInsertQueries(CString folder) {
  if (!m_pStatus) return;
  FILE_HANDLE file = CreateFileForWrite(PathIn(folder, "Insert_Queries.sql").c_str());
  m_pStatus->m_bExportComplete = 0;
  std::string text;
  for (const auto& entry : m_mapTables) {
    const CTable* table = entry.second;
    if (!table || table->m_strName.IsEmpty() || table->m_nCatalogColumns == 0) continue;
    const std::vector<const CColumn*> columns = ColumnsOf(*table);
    const CString name = SqlQuoteName(table->m_strName);
    for (std::string_view row : Split(table->m_strRowText, kRowSeparator)) {
      if (StopRequested(*this)) break;
      const std::vector<std::string_view> values = Split(row, kValueSeparator);
      CString names, list;
      // Values and columns in step; a row with more values than the table has columns
      // keeps only those that have one.
      for (size_t i = 0; i < values.size() && i < columns.size() && !StopRequested(*this); ++i) {
        const CString value{std::string(values[i])};
        if (value == kMissing) continue;
        if (!names.IsEmpty()) {
          names += ",";
          list += ",";
        }
        names += SqlQuoteName(columns[i]->m_strName);
        if (value != "NULL" &&
            IsOneOf(columns[i]->m_strType, {"varchar", "nvarchar", "ntext", "text", "image", "varbinary", "datetime"}))
          list += SqlQuoteString(value);
        else
          list += value;
      }
      // A row of missing values only is still a row.
      if (names.IsEmpty()) text += ("Insert into " + name + " DEFAULT VALUES" + kSqlScriptGo).str();
      else text += ("Insert into " + name + " (" + names + ")  values(" + list + ")" + kSqlScriptGo).str();
    }
    if (!HandOver(*this)) {
      CloseFileHandle(file);
      return;
    }
  }
  WriteScript(file, CString(text));
  m_strBatchCommands += "sqlcmd -i Insert_Queries.sql\r\n";
  CloseFileHandle(file);
  m_pStatus->m_bExportComplete = 1;
  HandOver(*this);
}

void GenerateQueries(CSQLServer2000* engine, const char* folder) {
  if (engine) engine->GenerateQueries(folder ? folder : "");
}

void GenerateTableInsertQueries(CSQLServer2000* engine, const char* folder) {
  if (engine) engine->GenerateTableInsertQueries(folder ? folder : "");
}
