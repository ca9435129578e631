// Row export: the walks that hand every stored row of a table to the export decoder, and the
// decoder that turns one row into its INSERT statement, with the large-value script (values too
// long for one line appended in hex pieces after the INSERT, common/largevalues.h) and the
// identity switch, written to the table's script file or executed on a connection. Every value
// travels inside the script or the batch: nothing is read from a file on the server's side.
//
// A row is decoded once into typed cells (record.h); every literal is built from a cell, so a
// value that reads "NULL", "Empty" or holds "$#$" is exported as itself. A stored NULL is
// written as NULL and a stored empty value as '' or 0x, so neither becomes the target's
// default. Text literals that could hold a line break or a byte above 0x7F are built from hex,
// so no line of a script is ever a lone "go" inside a value, and every line is plain ASCII
// whatever code page the client reads it in.
//
// Each walk keeps its mode, table, connection, batch and counts in a context of its own, so
// the program's pool threads can export several tables of one engine at once.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/deletedrows.h"
#include "common/executionlog.h"
#include "common/page.h"
#include "common/settings.h"
#include "common/formatters.h"
#include "common/largevalues.h"
#include "lob.h"
#include "pellwyn2008.h"
#include "platform/database.h"
#include "platform/guid.h"
#include "platform/module.h"
#include "record.h"
#include "common/sqltext.h"
#include "common/sqlvariant.h"

namespace {

constexpr const char* kTempColumn = "_TARNWELL_TEMPCOL";
constexpr int kDefaultExportSize = 100;
constexpr DWORD kRowQueryTimeout = 1800;
// GetFreeBlobFileName looks this far before it says every name is taken.
constexpr int kMaxBlobNumber = 10000000;
// A script walk writes its rows a page at a time, or sooner once this much has gathered.
constexpr int kScriptPieceBytes = 1 << 20;
// The values of most rows fit this; longer ones grow as before.
constexpr size_t kRowValuesBytes = 256;

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }

// Which walk a row belongs to: the table export walk (large-value script, identity switch),
// the plain-table walk (no temporary column and no identity on the target, so large values go
// inline), or a direct call outside any walk (as the table export walk).
enum class WalkKind { kTable, kPlain };

// Everything one export walk keeps apart from every other walk on the engine.
struct ExportWalk {
  CSQLServer2008* engine = nullptr;
  CTable* table = nullptr;
  CDatabase* database = nullptr;
  const RecordPlan* plan = nullptr;
  WalkKind kind = WalkKind::kTable;
  bool server = false;
  FILE_HANDLE script = kInvalidFile;
  CString tableName;         // [owner].[name]
  // What became of the rows and values, for the table's log lines.
  int rows = 0;
  int failedRows = 0;
  bool reopened = false;        // the connection was opened again once for this table
  bool connectionGone = false;  // lost for good: nothing more is sent
  int xmlLeftOut = 0;
  int corruptValues = 0;
  int incompleteValues = 0;
  int unknownLeftOut = 0;
  int nullsInNotNull = 0;  // NULL in a NOT NULL character column, written as ''
  bool writeFailed = false;
  // Script rows waiting to be written in one piece (a write per row costs more than the row),
  // and how many rows they are.
  bool gather = false;
  CString pending;
  int pendingRows = 0;
  std::vector<CString> quotedNames;  // each plan column's [name], quoted once per walk
  size_t columnListBytes = 0;        // all of them with their commas
};
thread_local ExportWalk* t_export = nullptr;

// Writes the gathered rows. On failure the walk ends and those rows no longer count as
// exported.
bool FlushScript(ExportWalk& walk) {
  if (walk.pending.IsEmpty()) return !walk.writeFailed;
  if (!walk.engine->WriteScript(walk.script, walk.pending)) {
    walk.writeFailed = true;
    walk.rows -= walk.pendingRows;
    walk.table->m_nRowsExported -= walk.pendingRows;
  }
  walk.pending.str().clear();
  walk.pendingRows = 0;
  return !walk.writeFailed;
}

class ScopedExportWalk {
 public:
  explicit ScopedExportWalk(ExportWalk* walk) : m_previous(t_export) { t_export = walk; }
  ~ScopedExportWalk() { t_export = m_previous; }
  ScopedExportWalk(const ScopedExportWalk&) = delete;
  ScopedExportWalk& operator=(const ScopedExportWalk&) = delete;

 private:
  ExportWalk* m_previous;
};

bool Stopped(const CEngineStatus* status) { return status && status->m_bStopRecords.load() == 1; }

std::string Hex(ByteView v) { return SqlHexDigits(v.data(), v.size()); }

// An integer in decimal, as "%d" / "%I64d" write it, without the printf machinery (it runs for
// most values of every exported row).
CString DecimalText(INT64 v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return CString(buf, int(r.ptr - buf));
}

UINT64 ReadLE(ByteView v) {
  UINT64 x = 0;
  for (size_t i = std::min<size_t>(v.size(), 8); i-- > 0;) x = x << 8 | v.data()[i];
  return x;
}

// Types whose missing or NULL value becomes '' in a column that takes no NULL.
bool IsTextType(SqlType t) {
  switch (t) {
    case SqlType::kVarChar:
    case SqlType::kNVarChar:
    case SqlType::kNText:
    case SqlType::kText:
    case SqlType::kChar:
    case SqlType::kNChar:
    case SqlType::kSqlVariant: return true;
    default: return false;
  }
}

bool IsBinaryType(SqlType t) {
  return t == SqlType::kBinary || t == SqlType::kVarBinary || t == SqlType::kImage || t == SqlType::kUnknown;
}

// The type a column's literal is built for: its own, or for a variable column whose name the
// decoder does not know as a variable type, the type its variable entry is stored as.
SqlType LiteralType(const ColumnPlan& p) {
  if (p.role != ColumnRole::kVariable) return p.type;
  if (IsVariableSqlType(p.type, false)) return p.type;
  return p.storedType;
}

// A float text as a float literal, so the server never reads it as a decimal first.
CString FloatLiteral(const CString& text) {
  const std::string& s = text.str();
  if (s.find_first_of("eE") != std::string::npos) return text;
  return text + "E0";
}

// A datetimeoffset is stored as UTC time and an offset. Its local time, which a literal spells,
// falls on year 0 or 10000 when the UTC time is within an offset of either end of the range;
// no literal of such a local time is taken, so the value is given in UTC and moved to its
// offset.
CString DateTimeOffsetLiteral(ByteView v, int scale, const CString& local) {
  const std::string& s = local.str();
  const bool inRange = s.size() > 5 && s[4] == '-' && s.compare(0, 4, "0000") != 0;
  if (inRange || v.size() < 2) return SqlQuoteString(local);
  std::vector<BYTE> utc(v.data(), v.data() + v.size());
  utc[utc.size() - 2] = utc[utc.size() - 1] = 0;
  CString utcText;
  if (!FormatDateTimeOffset(utc.data(), utc.size(), scale, utcText)) return SqlQuoteString(local);
  const CString offset(s.substr(s.size() - 6));
  return FormatString("SWITCHOFFSET(CONVERT(datetimeoffset(%d), ", scale) + SqlQuoteString(utcText) + "), " +
         SqlQuoteString(offset) + ")";
}

struct TypeInfo {
  SqlType type = SqlType::kUnknown;
  int length = 0;
  int precision = 0;
  int scale = 0;
  BYTE bit = 0;
};

// The literal of a stored value of a fixed-length or character type; false when the bytes
// cannot be a value of that type (the value is corrupt).
bool ValueLiteral(const TypeInfo& t, ByteView v, CString& out) {
  CString text;
  switch (t.type) {
    case SqlType::kBit:
      if (v.size() < 1 || t.bit > 7) return false;
      out = (v.data()[0] >> t.bit & 1) ? "1" : "0";
      return true;
    case SqlType::kTinyInt:
      if (v.size() != 1) return false;
      out = DecimalText(int(v.data()[0]));
      return true;
    case SqlType::kSmallInt:
      if (v.size() != 2) return false;
      out = DecimalText(int(short(WORD(ReadLE(v)))));
      return true;
    case SqlType::kInt:
      if (v.size() != 4) return false;
      out = DecimalText(int(DWORD(ReadLE(v))));
      return true;
    case SqlType::kBigInt:
      if (v.size() != 8) return false;
      out = DecimalText(INT64(ReadLE(v)));
      return true;
    case SqlType::kReal:
      if (!FormatReal(v.data(), v.size(), text)) return false;
      out = FloatLiteral(text);
      return true;
    case SqlType::kFloat:
      if (!FormatFloat(v.data(), v.size(), text)) return false;
      out = FloatLiteral(text);
      return true;
    case SqlType::kDecimal:
    case SqlType::kNumeric:
      if (!FormatDecimal(v.data(), v.size(), t.precision, t.scale, text)) return false;
      out = text;
      return true;
    case SqlType::kMoney:
      if (!FormatMoney(v.data(), v.size(), t.precision, text)) return false;
      out = text;
      return true;
    case SqlType::kSmallMoney:
      if (!FormatSmallMoney(v.data(), v.size(), t.precision, text)) return false;
      out = text;
      return true;
    case SqlType::kDateTime:
      if (v.size() != 8) return false;
      out = SqlDateTimeLiteral(v.data(), v.size(), false);
      return true;
    case SqlType::kSmallDateTime:
      if (v.size() != 4) return false;
      out = SqlDateTimeLiteral(v.data(), v.size(), true);
      return true;
    case SqlType::kDate:
      if (!FormatDate(v.data(), v.size(), text)) return false;
      out = SqlQuoteString(text);
      return true;
    case SqlType::kTime:
      if (!FormatTime(v.data(), v.size(), t.scale, text)) return false;
      out = SqlQuoteString(text);
      return true;
    case SqlType::kDateTime2:
      if (!FormatDateTime2(v.data(), v.size(), t.scale, text)) return false;
      out = SqlQuoteString(text);
      return true;
    case SqlType::kDateTimeOffset:
      if (!FormatDateTimeOffset(v.data(), v.size(), t.scale, text)) return false;
      out = DateTimeOffsetLiteral(v, t.scale, text);
      return true;
    case SqlType::kUniqueIdentifier:
      if (v.size() != 16) return false;
      out = SqlQuoteString(GuidToString(v.data()));
      return true;
    case SqlType::kBinary:
    case SqlType::kVarBinary:
    case SqlType::kImage:
      out = SqlBinaryLiteral(v.data(), v.size());
      return true;
    case SqlType::kChar: {
      // A char value ends at its first zero byte.
      const BYTE* end = std::find(v.data(), v.data() + v.size(), BYTE(0));
      ByteView text8(v.data(), size_t(end - v.data()));
      out = text8.size() ? SqlVarcharLiteral(text8.data(), text8.size()) : CString("''");
      return true;
    }
    case SqlType::kVarChar:
    case SqlType::kText: out = SqlVarcharLiteral(v.data(), v.size()); return true;
    case SqlType::kNChar:
    case SqlType::kNVarChar: out = SqlNVarcharLiteral(v.data(), v.size(), t.length, false); return true;
    case SqlType::kNText: out = SqlNVarcharLiteral(v.data(), v.size(), t.length, true); return true;
    default: return false;
  }
}

// A sql_variant value through its base type, cast back to it, so the value keeps that type.
// False when the base type is not one this exporter knows or the bytes do not fit it.
bool VariantLiteral(ByteView v, CString& out) {
  SqlVariantValue variant;
  if (!ParseSqlVariant(v, variant)) return false;
  TypeInfo t;
  t.type = variant.type;
  t.length = variant.length;
  t.precision = variant.precision;
  t.scale = variant.scale;
  CString literal;
  if (!ValueLiteral(t, variant.data, literal)) return false;
  out = "CAST(" + literal + " AS " + variant.castType + ")";
  return true;
}

// The statement of one row and what follows it.
struct RowParts {
  CString columns;
  CString values;
  int included = 0;
  bool identity = false;
  std::vector<ChunkedValue> chunks;  // values appended in pieces after the INSERT

  void Add(const CString& quotedName, const CString& value) {
    if (included++) {
      columns.str().push_back(',');
      values.str().push_back(',');
    }
    columns += quotedName;
    values += value;
  }
  bool Large() const { return !chunks.empty(); }
};

// The literal of one column of a decoded row, added to `row`, or nothing for a column left
// out.
void AddColumn(ExportWalk& walk, size_t index, const RecordCell& cell, RowParts& row) {
  const ColumnPlan& p = walk.plan->columns()[index];
  const CColumn* column = p.column;
  if (!column) return;
  const SqlType type = LiteralType(p);
  switch (cell.state) {
    case CellState::kComputed:
    case CellState::kDropped: return;
    default: break;
  }
  if (type == SqlType::kXml) {
    // Binary xml is not decoded: the column stays out, and the table's log says how often.
    if (cell.state == CellState::kValue || cell.state == CellState::kEmpty) ++walk.xmlLeftOut;
    return;
  }
  // The server fills a timestamp column itself and takes no value for it.
  if (type == SqlType::kTimestamp) return;
  const bool identity = column->m_bIdentity;
  auto add = [&](const CString& value) {
    row.Add(walk.quotedNames[index], value);
    if (identity) row.identity = true;
  };

  switch (cell.state) {
    case CellState::kNull:
      if (p.nullable) {
        add("NULL");
      } else if (IsTextType(type)) {
        // A NULL the column does not take: the row keeps '' and the log says how often.
        add("''");
        ++walk.nullsInNotNull;
      }
      return;
    case CellState::kCorrupt:
      ++walk.corruptValues;
      if (!p.nullable && IsTextType(type)) add("''");
      return;
    case CellState::kMissing:
      // Not in this record (added after it was written): the target's default, except that a
      // character column taking no NULL gets ''.
      if (IsTextType(type)) add("''");
      return;
    case CellState::kEmpty:
      if (IsTextType(type)) add("''");
      else if (IsBinaryType(type)) add("0x");
      return;
    case CellState::kValue: break;
    default: return;
  }

  if (cell.assembled && !cell.complete) ++walk.incompleteValues;
  const bool bytesHere = !cell.offRow || cell.assembled;
  const ByteView v = cell.bytes();
  TypeInfo t;
  t.type = type;
  t.length = column->m_wLength;
  t.precision = column->m_bPrecision;
  t.scale = column->m_bScale;
  t.bit = p.bitPosition;
  CString literal;

  // A value appended in pieces after the INSERT, which gives the column an empty value.
  auto chunked = [&](ChunkForm form) {
    add(ChunkedPlaceholder(form));
    row.chunks.push_back({walk.quotedNames[index], form, Hex(v)});
  };
  // The table walk appends long values in pieces; a server takes long text literals as they
  // are, and the plain walk has no temporary column to find its row by.
  const bool table = walk.kind == WalkKind::kTable;
  const bool longValue = bytesHere && v.size() > kInlineValueBytes;
  switch (type) {
    case SqlType::kNText:
      if (!bytesHere) break;
      if (table) chunked(ChunkForm::kNText);
      else add(SqlNVarcharLiteral(v.data(), v.size(), t.length, true));
      return;
    case SqlType::kImage:
    case SqlType::kVarBinary:
      if (!bytesHere) break;
      if (table && longValue) chunked(type == SqlType::kImage ? ChunkForm::kImage : ChunkForm::kWriteBinary);
      else add(SqlBinaryLiteral(v.data(), v.size()));
      return;
    case SqlType::kText:
    case SqlType::kVarChar:
    case SqlType::kNVarChar:
      if (table && longValue && !walk.server) {
        chunked(type == SqlType::kText      ? ChunkForm::kText
                : type == SqlType::kVarChar ? ChunkForm::kWriteVarChar
                                            : ChunkForm::kWriteNVarChar);
        return;
      }
      if (!bytesHere) break;
      if (ValueLiteral(t, v, literal)) {
        add(literal);
      } else {
        ++walk.corruptValues;
        if (!p.nullable) add("''");
      }
      return;
    case SqlType::kSqlVariant:
      if (!bytesHere) break;
      if (VariantLiteral(v, literal)) {
        add(literal);
      } else {
        ++walk.unknownLeftOut;
        if (!p.nullable) add("''");
      }
      return;
    case SqlType::kUnknown:
      // A variable value of a type without a name here (the CLR types among them) is taken
      // as its bytes; a fixed one has no form the server would read back.
      if (p.role == ColumnRole::kVariable && bytesHere) {
        add(SqlBinaryLiteral(v.data(), v.size()));
      } else {
        ++walk.unknownLeftOut;
      }
      return;
    default:
      if (!bytesHere) break;
      if (ValueLiteral(t, v, literal)) {
        add(literal);
      } else {
        ++walk.corruptValues;
        if (!p.nullable && IsTextType(type)) add("''");
      }
      return;
  }
  // An off-row value that was not read.
  ++walk.corruptValues;
}

CString IdentityLine(const CString& tableName, const char* onOff) {
  return "SET IDENTITY_INSERT " + tableName + " " + onOff;
}

// The INSERT statement of a row; `tempColumn` adds the row's marker for the large-value script.
CString InsertStatement(const ExportWalk& walk, const RowParts& row, bool tempColumn) {
  CString statement;
  std::string& s = statement.str();
  s.reserve(size_t(walk.tableName.GetLength() + row.columns.GetLength() + row.values.GetLength()) + 64);
  s += "Insert into ";
  s += walk.tableName.str();
  if (row.included == 0) {
    // Every value left out: a row of the target's defaults, still a row.
    s += " DEFAULT VALUES";
    s += walk.server ? ";" : walk.kind == WalkKind::kPlain ? "\r\ngo\r\n" : "\r\n";
    return statement;
  }
  s += " (";
  s += row.columns.str();
  if (tempColumn) {
    s += ",";
    s += SqlQuoteName(kTempColumn).str();
  }
  s += ")  values(";
  s += row.values.str();
  if (tempColumn) s += walk.server ? ",@_ID);" : ", @_ID)\r\n";
  else if (walk.server) s += ");";
  else s += walk.kind == WalkKind::kPlain ? ")\r\ngo\r\n" : ")\r\n";
  return statement;
}

// The large-value script of a row: the INSERT marked with a new id, then the pieces that fill
// its large values. Without a trailing "go".
CString LargeValueScript(const ExportWalk& walk, const RowParts& row) {
  const CString where = " where " + SqlQuoteName(kTempColumn) + " = @_ID \r\n";
  // A script's row whose pieces need several batches sets its marker from a literal in each.
  const bool batches = !walk.server && NeedsSeveralBatches(row.chunks);
  const CString declarations = "Declare @_ID Uniqueidentifier \r\n Declare @NTEXT NVarchar(4000) \r\n Declare @PTR "
                               "VarBinary(16) \r\n Set @_ID = " +
                               (batches ? NewRowMarkerLiteral() : CString("NewId()")) + " \r\n";
  // XACT_ABORT makes any failed piece roll the whole row back, or the commit would store a
  // row whose value stops where the error was.
  CString s = "SET XACT_ABORT ON \r\nbegin transaction \r\n" + declarations;
  s += InsertStatement(walk, row, true) + "\r\n";
  AppendChunkedValues(s.str(), walk.tableName, SqlQuoteName(kTempColumn), "@_ID", " \r\n ", row.chunks,
                      batches ? "go\r\n" + declarations.str() : std::string());
  s += "commit transaction";
  // A script's later batches hold several rows; there one refused row must not abort the rest.
  if (!walk.server) s += "\r\ngo\r\nSET XACT_ABORT OFF";
  return s;
}

// Writes or executes a row. True when it reached the script or the server.
bool DeliverRow(ExportWalk& walk, const RowParts& row, CString& batch) {
  CSQLServer2008& e = *walk.engine;
  const bool large = walk.kind == WalkKind::kTable && row.Large();
  const bool identity = walk.kind == WalkKind::kTable && row.identity;
  const CString on = identity ? IdentityLine(walk.tableName, "ON") : CString();
  const CString off = identity ? IdentityLine(walk.tableName, "OFF") : CString();
  if (!walk.server) {
    CString text;
    if (large) {
      // The identity switch goes around the large-value script too, or the row is refused.
      text = LargeValueScript(walk, row);
      if (identity) text = on + "\r\n" + text + "\r\n" + off;
      text += CSQLServer2008::kScriptGo;
    } else if (identity) {
      text = on + CSQLServer2008::kScriptGo + InsertStatement(walk, row, false) + CSQLServer2008::kScriptGo + off +
             CSQLServer2008::kScriptGo;
    } else {
      text = InsertStatement(walk, row, false);
    }
    if (walk.gather) {
      walk.pending += text;
      ++walk.pendingRows;
      return true;
    }
    if (!e.WriteScript(walk.script, text)) {
      walk.writeFailed = true;
      return false;
    }
    return true;
  }
  CString text;
  if (large) {
    text = LargeValueScript(walk, row);
    if (identity) text = on + " \r\n" + text + " \r\n" + off;
  } else {
    batch += InsertStatement(walk, row, false);
    if (identity) batch = on + " " + batch + " " + off;
    text = batch;
  }
  // Each row runs on its own and the batch is emptied whatever happens, so a failed row is
  // never sent again with the next one.
  batch.Empty();
  if (walk.connectionGone) return false;
  bool lost = false;
  if (e.ExecuteLogged(walk.database, text, "Insert", walk.table, &lost)) return true;
  if (!lost) {
    // A refused block ends where the error was, before its switch-off: left on, the switch
    // would refuse every row of the next table that has an identity column.
    if (large && identity) e.ExecuteLogged(walk.database, off, "Identity switch", nullptr, nullptr);
    return false;
  }
  // Once per table: the connection is opened again and the row that failed (a statement, or
  // a block in one transaction, that stored nothing) runs again, so the table goes on from
  // its first row not stored. A second loss ends the table's rows.
  if (!walk.reopened) {
    walk.reopened = true;
    if (walk.database->Reopen()) {
      Log("The connection of table " + walk.tableName + " was lost and opened again: its rows go on");
      if (e.ExecuteLogged(walk.database, text, "Insert", walk.table, &lost)) return true;
      if (!lost) return false;
    }
  }
  walk.connectionGone = true;
  Log("The connection of table " + walk.tableName +
      " was lost and could not be opened again: its rows from here on are not stored");
  return false;
}

// What a walk decodes: every off-row value but xml gathered in memory.
void PrepareWalk(ExportWalk& walk, RecordPlan& plan) {
  const CTable& table = *walk.table;
  walk.tableName = SqlQualifiedName(table.m_strOwner, table.m_strName);
  walk.quotedNames.clear();
  walk.columnListBytes = 0;
  for (const ColumnPlan& p : plan.columns()) {
    walk.quotedNames.push_back(p.column ? SqlQuoteName(p.column->m_strName) : CString());
    walk.columnListBytes += size_t(walk.quotedNames.back().GetLength()) + 1;
  }
  for (ColumnPlan& p : plan.columns()) p.assembleOffRow = p.storedType != SqlType::kXml;
  walk.plan = &plan;
}

// ---- settings and the walks

int ExportSizeSetting() {
  std::string text;
  if (!ReadSettingsFile(SettingsFilePath(), text)) return kDefaultExportSize;
  // The first "Exportsize" line decides, whatever follows it.
  for (const SettingLine& line : SettingLines(text)) {
    if (line.key != "Exportsize") continue;
    const int n = std::atoi(std::string(line.value).c_str());
    return n > 0 ? n : kDefaultExportSize;
  }
  return kDefaultExportSize;
}

void LogWalkSummary(const ExportWalk& w, const DeletedRowPlan* deleted) {
  CString line = FormatString("Exported %d rows of table %s", w.rows, w.tableName);
  if (w.failedRows) line.AppendFormat(", %d rows refused by the server", w.failedRows);
  if (deleted) {
    line.AppendFormat(", %d of them deleted rows recovered; %d deleted rows left out as copies", w.table->m_nDeletedRecovered,
                      w.table->m_nDeletedCopies);
    if (deleted->unfit + deleted->notFound)
      line.AppendFormat(", %d that could not be read", deleted->unfit + deleted->notFound);
  }
  Log(line);
  if (w.xmlLeftOut)
    Log(FormatString("Table %s: %d xml values left out (binary xml is not decoded)", w.tableName, w.xmlLeftOut));
  if (w.corruptValues)
    Log(FormatString("Table %s: %d damaged values left out or emptied", w.tableName, w.corruptValues));
  if (w.unknownLeftOut)
    Log(FormatString("Table %s: %d values of a type that cannot be exported left out", w.tableName, w.unknownLeftOut));
  if (w.incompleteValues)
    Log(FormatString("Table %s: %d large values exported as far as they could be read", w.tableName,
                     w.incompleteValues));
  if (w.nullsInNotNull)
    Log(FormatString("Table %s: %d NULL values of NOT NULL character columns written as ''", w.tableName,
                     w.nullsInNotNull));
}

// One export walk over a table's pages.
DWORD RunExportWalk(CSQLServer2008& e, CTable* table, CDatabase* database, WalkKind kind) {
  CEngineStatus* status = e.m_pStatus;
  auto done = [&](DWORD result) {
    e.SetRecordWalkDone();
    return result;
  };
  if (!table) return done(0);
  if (kind == WalkKind::kTable) table->m_nRowsExported = 0;
  table->m_nRowsNotStored = 0;
  if (Stopped(status)) return done(0);
  if (table->m_strName.IsEmpty() || !table->m_pColumnHead) {
    Log(FormatString("Row export: table %lu has no name or no columns, no rows exported", table->m_dwObjectId));
    return done(0);
  }
  ExportWalk walk;
  walk.engine = &e;
  walk.table = table;
  walk.database = database;
  walk.kind = kind;
  walk.server = e.m_bExportToServer != 0;
  walk.script = e.m_hTableSqlFile;
  walk.gather = !walk.server;
  RecordPlan plan(*table);
  PrepareWalk(walk, plan);
  if (!e.HasPageSource()) {
    Log("Rows of table " + walk.tableName + " not exported: the scan was loaded without its backup");
    return done(0);
  }
  const int batchSize = ExportSizeSetting();
  // Pages the allocation map marks free hold deleted rows: walked only when those are wanted.
  const bool deleted = e.m_bRecoverDeleted != 0;
  std::vector<DWORD> pages = table->m_vecDataPages;
  if (deleted) pages.insert(pages.end(), table->m_vecFreedPages.begin(), table->m_vecFreedPages.end());
  // Which slots hold the deleted rows to export, decided before the first row is written so
  // that none is a copy of a live row further on.
  // The export's plan is made anew, so its log says what was left out; the previews after it
  // read by it.
  std::shared_ptr<const DeletedRowPlan> deletedRows;
  table->m_nDeletedRecovered = 0;
  table->m_nDeletedCopies = 0;
  if (deleted) {
    deletedRows = KeptDeletedRowPlan(nullptr, pages, [&] { return e.PlanDeletedRowsOf(*table, pages, plan, true); });
    if (table->m_pDeletedRows) table->m_pDeletedRows->Keep(pages, deletedRows);
    table->m_nDeletedCopies = deletedRows->copies;
  }
  const DeletedRowPlan* deletedPlan = deletedRows.get();

  ScopedExportWalk scope(&walk);
  CString batch;
  bool batchFull = false;
  int counter = 0;
  std::vector<BYTE> page(kPageSize);
  auto flush = [&] {
    if (batch.IsEmpty()) return true;
    const CString text = batch;
    batch.Empty();
    return e.ExecuteLogged(database, text, "Insert", table);
  };
  auto writeFailed = [&] {
    Log("Export of table " + walk.tableName + " failed: its script could not be written");
    LogWalkSummary(walk, deletedPlan);
    return done(0);
  };
  auto stop = [&] {
    // The rows decoded before the stop are in the script, as they would be row by row.
    FlushScript(walk);
    LogWalkSummary(walk, deletedPlan);
    return done(0);
  };
  for (size_t position = 0; position < pages.size(); ++position) {
    const DWORD pageNumber = pages[position];
    if (walk.server && database && kind == WalkKind::kTable) database->SetQueryTimeout(kRowQueryTimeout);
    const bool read = e.ReadSourcePage(pageNumber, page.data());
    // Counted read or not: the export's progress goes by the pages gone through.
    if (status) ++status->m_nExportPagesRead;
    if (Stopped(status)) return stop();
    if (!read || PageTypeOf(page.data()) != kPageData) continue;
    RestoreTornBitsIfPresent(page.data());
    BYTE* body = page.data() + kPageHeaderSize;
    const int count = SlotCountCapped(page.data());
    for (int slot = 0; slot < count; ++slot) {
      if (++counter >= batchSize) {
        batchFull = true;
        counter = 0;
      }
      WORD entry = SlotEntry(page.data(), slot);
      bool deletedRow = false;
      if (deletedPlan) {
        const WORD at = deletedPlan->RowAt(position, slot);
        deletedRow = at != DeletedRowPlan::kAsStored;
        if (deletedRow) entry = at;
      }
      if (entry == 0) continue;
      const int rowsBefore = walk.rows;
      try {
        e.ExportTableRecord(body, WORD(entry - kPageHeaderSize), table, database, &batch, &batchFull);
      } catch (...) {
        ++walk.corruptValues;
      }
      if (deletedRow && walk.rows > rowsBefore) ++table->m_nDeletedRecovered;
      if (Stopped(status)) return stop();
      if (walk.pending.GetLength() >= kScriptPieceBytes) FlushScript(walk);
      if (walk.writeFailed) return writeFailed();
    }
    if (!FlushScript(walk)) return writeFailed();
    if (walk.server && !flush()) ++walk.failedRows;
  }
  if (walk.server && !flush()) {
    ++walk.failedRows;
    // Kept for those who look for the file; the failure itself is in the execution log.
    FILE_HANDLE touched = OpenFileForAppend((GetStateFolderPath() + "Log.txt").c_str());
    CloseFileHandle(touched);
  }
  if (walk.server) table->m_nRowsNotStored = walk.failedRows;
  LogWalkSummary(walk, deletedPlan);
  if (Stopped(status)) return done(0);
  return done(1);
}

}  // namespace

WORD CSQLServer2008::ExportTableRecord(BYTE* body, WORD recordOffset, CTable* table, CDatabase* database,
                                       CString* batch, bool*) {
  if (!body || !table || recordOffset >= kPageBodySize) return 0;
  CEngineStatus* status = m_pStatus;
  if (Stopped(status)) {
    SetRecordWalkDone();
    return 0;
  }
  // Inside a walk the row belongs to that walk, whatever the engine's flags say meanwhile;
  // a call of its own takes them as they are now.
  ExportWalk* walk = t_export && t_export->table == table ? t_export : nullptr;
  std::optional<ExportWalk> own;
  std::optional<RecordPlan> ownPlan;
  if (!walk) {
    walk = &own.emplace();
    walk->engine = this;
    walk->table = table;
    walk->database = database;
    walk->server = m_bExportToServer != 0;
    walk->script = m_hTableSqlFile;
    PrepareWalk(*walk, ownPlan.emplace(*table));
  }

  const OffRowReader reader = [this](const OffRowPointer& pointer, LobSink& sink, LobReadReport* report) {
    return ReadOffRowValue(pointer, sink, report);
  };
  RecordDecodeOptions options;
  options.includeGhosts = m_bRecoverDeleted != 0;
  options.offRow = &reader;
  DecodedRecord record;
  ByteView bytes(body + recordOffset, size_t(kPageBodySize - recordOffset));
  if (DecodeRecord(*walk->plan, bytes, options, record) != RecordVerdict::kDecoded) return 0;

  RowParts row;
  // Room for the usual row at once, not grown value by value.
  row.columns.str().reserve(walk->columnListBytes);
  row.values.str().reserve(kRowValuesBytes);
  const std::vector<ColumnPlan>& columns = walk->plan->columns();
  for (size_t i = 0; i < columns.size() && i < record.cells.size(); ++i) AddColumn(*walk, i, record.cells[i], row);

  if (Stopped(status)) {
    SetRecordWalkDone();
    return 0;
  }
  CString localBatch;
  if (DeliverRow(*walk, row, batch ? *batch : localBatch)) {
    ++walk->rows;
    ++table->m_nRowsExported;
    if (walk->server) ++status->m_nRecordsSent;
  } else if (walk->server) {
    ++walk->failedRows;
  }
  // Progress is the counter alone: "RecordEvent" is the census hand-shake, and setting it here
  // would release a census that another engine runs meanwhile.
  ++status->m_nRecordsProcessed;
  return WORD(std::min<size_t>(size_t(recordOffset) + record.recordEnd, kPageBodySize));
}

DWORD CSQLServer2008::RecoverTableRecordThread(void* engine, CTable* table, CDatabase* database) {
  auto* e = static_cast<CSQLServer2008*>(engine);
  if (!e) return 0;
  // This routine always exports, whatever the engine's shared mode says meanwhile.
  return RunExportWalk(*e, table, database, WalkKind::kTable);
}

DWORD CSQLServer2008::RunScriptWalk(CSQLServer2008* engine) {
  if (!engine) return 0;
  return RunExportWalk(*engine, engine->m_pStatus->m_pExportTable, engine->m_pDatabase, WalkKind::kPlain);
}

CString CSQLServer2008::GetFreeBlobFileName(CString folder) {
  for (int i = 1; i <= kMaxBlobNumber; ++i) {
    CString path = folder + FormatString("/Blob%d", i);
    if (!FileExists(path.c_str())) return path;
  }
  return CString();
}

bool CSQLServer2008::IsValidTextPageSlot(DWORD page, DWORD slot) {
  std::vector<BYTE> buffer(kPageSize, 0);
  if (!ReadPageById(page, buffer.data())) return false;
  const BYTE type = PageTypeOf(buffer.data());
  return slot < PageSlotCount(buffer.data()) && (type == kPageTextMix || type == kPageTextTree);
}
