// Schema scripts: the statements that recreate the recovered schema (schemas, tables with
// their defaults and identity, keys and indexes, user data types, views, procedures, rules,
// triggers and functions), written to the script files the program opened or executed on a
// server connection.
//
// Every name goes through SqlQuoteName and every literal built here through SqlQuoteString
// (sqltext.h): names come from pages and may hold "]" or "'". A statement the server refuses
// is logged and counted, and the export goes on with the next one.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/constraintscripts.h"
#include "common/defaultobjects.h"
#include "common/executionlog.h"
#include "common/scriptfile.h"
#include "common/unicodetext.h"
#include "pellwyn2008.h"
#include "platform/database.h"
#include "platform/module.h"
#include "common/sqltext.h"
#include "common/viewindexes.h"

namespace {

constexpr const char* kTempColumn = "_TARNWELL_TEMPCOL";
constexpr int kLoggedStatementChars = 200;
// A full disk fails every later write too; the first ones say enough.
constexpr int kLoggedWriteFailures = 10;
constexpr long kLastBuiltInTypeId = 256;

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }

// One log line: line breaks and tabs become blanks.
CString OneLine(const CString& text) {
  CString out(text);
  for (char& c : out.str())
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return out;
}

bool StopRequested(const CSQLServer2008& engine) {
  return engine.m_pStatus && engine.m_pStatus->m_bStopRecords.load() == 1;
}

CString TableKey(const CTable* table) { return FormatString("%lu", table->m_dwObjectId); }

bool IsOneOf(const CString& s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (s == n) return true;
  return false;
}

// The column's full type as a statement names it: [nvarchar](40), [decimal](10,2), [Phone].
CString FullType(const CColumn& column) {
  const CString& type = column.m_strUserType.IsEmpty() ? column.m_strType : column.m_strUserType;
  return SqlQuoteName(type) + SqlTypeSuffix(type, column.m_wLength, column.m_bPrecision, column.m_bScale);
}

// Character columns whose values the row export may append in pieces after the INSERT, through
// the temporary column: ntext always, text and the (max) types when a value is long.
bool IsLargeTextColumn(const CColumn& c) {
  if (IsOneOf(c.m_strUserType, {"ntext", "text"}) || IsOneOf(c.m_strType, {"ntext", "text"})) return true;
  return c.m_wLength > 8000 && (IsOneOf(c.m_strUserType, {"varchar", "nvarchar"}) || IsOneOf(c.m_strType, {"varchar", "nvarchar"}));
}
bool IsBlobColumn(const CColumn& c) {
  return IsOneOf(c.m_strUserType, {"varbinary", "image"}) || IsOneOf(c.m_strType, {"varbinary", "image"});
}

// Identity values as stored in memory; a record loaded from an older form has only the
// 32-bit fields, which hold the values in two's complement.
void IdentityValues(const CColumn& c, INT64& seed, INT64& increment) {
  seed = c.m_nIdentitySeed64;
  increment = c.m_nIdentityIncrement64;
  if (seed == 0 && increment == 0) {
    seed = INT64(LONG(c.m_dwIdentitySeed));
    increment = INT64(LONG(c.m_dwIdentityIncrement));
  }
}

struct DefaultBinding {
  CString defaultName;
  CString column;
};

// An empty name unbinds the column: it had no default although its type has one.
CString BindDefaultStatement(const CTable& table, const DefaultBinding& binding) {
  if (binding.defaultName.IsEmpty()) return SqlUnbindDefaultStatement(table.m_strOwner, table.m_strName, binding.column);
  return SqlBindDefaultStatement(table.m_strOwner, table.m_strName, binding.column, binding.defaultName);
}

CString SchemaStatement(const CString& owner) {
  return "IF SCHEMA_ID(" + SqlQuoteNString(owner) + ") IS NULL EXEC(" + SqlQuoteNString("CREATE SCHEMA " + SqlQuoteName(owner)) +
         ")";
}

CString AddTempColumnStatement(const CTable& table) {
  return "ALTER TABLE " + SqlQualifiedName(table.m_strOwner, table.m_strName) + " ADD " + SqlQuoteName(kTempColumn) +
         " uniqueidentifier null \r\n";
}

CString DropTempColumnStatement(const CTable& table) {
  return "Alter Table " + SqlQualifiedName(table.m_strOwner, table.m_strName) + " Drop Column " + SqlQuoteName(kTempColumn);
}

// How the CREATE TABLE walk treats the columns: the plain table script has no identity and
// keeps no large-value flags.
enum class TableScriptKind { kFull, kPlain };

// The default object of a column: created once per export, on the job's own connection in a
// server export (under a lock, so a second job waits until it exists), or written once to
// the defaults file.
// With a type name, the object is also bound to that user data type, once per export.
// Into `file` when given (the types' script), else into the defaults script.
void CreateDefaultObject(CSQLServer2008& engine, const CString& text, CDatabase* database, const CTable* table,
                         const CString& boundType = CString(), FILE_HANDLE file = kInvalidFile) {
  std::lock_guard<std::mutex> lock(engine.m_csDefaultObjects);
  if (file == kInvalidFile) file = engine.m_hDefaultSqlFile;
  auto send = [&](const CString& statement, const char* what) {
    if (engine.m_bExportToServer)
      engine.ExecuteLogged(database, statement, what, table);
    else
      engine.WriteScript(file, statement + CSQLServer2008::kScriptGo);
  };
  if (!engine.m_mapDefaultsCreated.Contains(text.view())) {
    engine.m_mapDefaultsCreated.SetAt(text.view(), 1);
    send(text, "Create Default");
  }
  // A type's binding is kept in the same map under a key no statement text can have.
  const CString typeKey = "\x01type " + boundType;
  if (!boundType.IsEmpty() && !engine.m_mapDefaultsCreated.Contains(typeKey.view())) {
    engine.m_mapDefaultsCreated.SetAt(typeKey.view(), 1);
    send(SqlBindDefaultToTypeStatement(boundType, DefaultObjectName(text)), "Bind Default");
  }
}

// The CREATE TABLE text of a table. False when the record-stop flag ended the walk: nothing
// more of the table is produced then.
bool BuildCreateTable(CSQLServer2008& engine, CTable& table, TableScriptKind kind, CDatabase* database,
                      CString& text, std::vector<DefaultBinding>& bindings) {
  text = "CREATE TABLE " + SqlQualifiedName(table.m_strOwner, table.m_strName) + " (";
  bool separator = false;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) {
    if (c->m_bDropped) continue;
    if (separator) text += ",";
    separator = true;
    if (!c->m_strComputed.IsEmpty()) {
      text += SqlQuoteName(c->m_strName) + " as " + c->m_strComputed;
    } else {
      text += SqlQuoteName(c->m_strName) + " " + FullType(*c);
      // The type's default is bound before the table is made, so the column takes it as it is
      // created; a column that had its own default or none is set right after.
      if (const CDataType* type = UserTypeNamed(engine.m_mapDataTypes, c->m_strUserType);
          type && !type->m_strDefaultText.IsEmpty() && !DefaultObjectName(type->m_strDefaultText).IsEmpty()) {
        CreateDefaultObject(engine, type->m_strDefaultText, database, &table, type->m_strName);
        if (c->m_strDefault.IsEmpty()) bindings.push_back({CString(), c->m_strName});
      }
      if (kind == TableScriptKind::kFull && IsLargeTextColumn(*c)) table.m_bHasNtext = true;
      if (!c->m_strDefault.IsEmpty()) {
        if (IsDefaultObjectText(c->m_strDefault)) {
          CreateDefaultObject(engine, c->m_strDefault, database, &table);
          const CString name = DefaultObjectName(c->m_strDefault);
          if (name.IsEmpty())
            Log("Default object without a name: not bound to " + SqlQualifiedName(table.m_strOwner, table.m_strName) +
                "." + SqlQuoteName(c->m_strName));
          else
            bindings.push_back({name, c->m_strName});
        } else {
          text += SqlColumnDefault(c->m_strDefaultName, c->m_strDefault);
        }
      }
      if (!c->m_bNullable) text += " NOT NULL";
      if (kind == TableScriptKind::kFull && c->m_bIdentity) {
        INT64 seed = 0, increment = 0;
        IdentityValues(*c, seed, increment);
        text.AppendFormat(" IDENTITY(%I64d,%I64d) ", seed, increment);
      }
      if (StopRequested(engine)) return false;
    }
    if (kind == TableScriptKind::kFull && IsBlobColumn(*c)) table.m_bHasBlob = true;
  }
  text += ")\r\n";
  return true;
}

void BindDefaults(CSQLServer2008& engine, const CTable& table, const std::vector<DefaultBinding>& bindings,
                  CDatabase* database, FILE_HANDLE file) {
  for (const DefaultBinding& b : bindings) {
    const CString statement = BindDefaultStatement(table, b);
    if (engine.m_bExportToServer)
      engine.ExecuteLogged(database, statement, "Bind Default", &table);
    else
      engine.WriteScript(file, statement + CSQLServer2008::kScriptGo);
  }
  // A column of a type whose rule came with the types took the rule as it was created; one
  // that had no rule in the original loses it again.
  const CString owner = table.m_strOwner.IsEmpty() ? CString("dbo") : table.m_strOwner;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) {
    if (c->m_bDropped || !c->m_strRuleName.IsEmpty()) continue;
    const CDataType* type = UserTypeNamed(engine.m_mapDataTypes, c->m_strUserType);
    if (!type || type->m_strRuleName.IsEmpty() || !engine.m_setTypeRules.count(type->m_strRuleName)) continue;
    const CString statement = SqlUnbindRuleStatement(owner, table.m_strName, c->m_strName);
    if (engine.m_bExportToServer)
      engine.ExecuteLogged(database, statement, "Bind Rule", &table);
    else
      engine.WriteScript(file, statement + CSQLServer2008::kScriptGo);
  }
}

// The key column of an index entry, by column id; null for an entry that names no live column.
const CColumn* KeyColumn(const CTable& table, int columnId) {
  if (columnId <= 0) return nullptr;
  if (!table.m_vecColumnById.empty()) {
    if (size_t(columnId) >= table.m_vecColumnById.size()) return nullptr;
    const CColumn* c = table.m_vecColumnById[size_t(columnId)];
    return c && !c->m_bDropped ? c : nullptr;
  }
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext)
    if (c->m_wColOrder == columnId && !c->m_bDropped) return c;
  return nullptr;
}

void EmitObject(CSQLServer2008& engine, const CViewStoredProc* object, FILE_HANDLE file, const char* kind) {
  if (!object) return;
  CString trimmed(object->m_strText);
  trimmed.Trim();
  if (trimmed.IsEmpty()) {
    // An object whose text the scan did not find: nothing can be run.
    const int skipped = ++engine.m_nObjectsWithoutText;
    Log(FormatString("%s %s has no definition text: not exported (%d without text in this export)", kind,
                     SqlQuoteName(object->m_strName), skipped));
    return;
  }
  const CString statement = object->m_strText + "\r\n";
  if (engine.m_bExportToServer)
    engine.ExecuteLogged(engine.m_pDatabase, statement, kind, nullptr);
  else
    engine.WriteScript(file, statement + CSQLServer2008::kScriptGo);
}

}  // namespace

// ---- bookkeeping

void CSQLServer2008::BeginSchemaExport() {
  {
    std::lock_guard<std::mutex> lock(m_csDefaultObjects);
    m_mapDefaultsCreated.RemoveAll();
    m_setTypeRules.clear();
  }
  {
    std::lock_guard<std::mutex> lock(m_csSchemaCounts);
    m_mapFailedStatements.RemoveAll();
  }
  m_nFailedScriptWrites = 0;
  m_nObjectsWithoutText = 0;
}

int CSQLServer2008::FailedStatementCount(const CTable* table) const {
  if (!table) return 0;
  std::lock_guard<std::mutex> lock(m_csSchemaCounts);
  const int* n = m_mapFailedStatements.Find(TableKey(table).view());
  return n ? *n : 0;
}

bool CSQLServer2008::ExecuteLogged(CDatabase* database, const CString& sql, const char* what, const CTable* table,
                                   bool* lost) {
  CString message;
  if (lost) *lost = false;
  try {
    if (!database) throw CDBException(-1, "no connection", "08003");
    database->ExecuteSQL(sql.c_str());
    return true;
  } catch (const CDBException& e) {
    message = e.m_strError;
    if (lost) *lost = database && IsConnectionLost(e);
  } catch (const std::exception& e) {
    message = e.what();
  }
  if (table) {
    std::lock_guard<std::mutex> lock(m_csSchemaCounts);
    ++m_mapFailedStatements[TableKey(table).view()];
  }
  CString excerpt = OneLine(sql.Left(kLoggedStatementChars));
  excerpt.Trim();
  Log(FormatString("%s failed: %s | %s", what, excerpt, OneLine(message)));
  return false;
}

bool CSQLServer2008::WriteScript(FILE_HANDLE file, const CString& text) {
  if (WriteScriptFileText(file, text.view())) return true;
  const int failures = ++m_nFailedScriptWrites;
  if (failures <= kLoggedWriteFailures)
    Log(FormatString("Script write failed (%d bytes): %s", text.GetLength(), OneLine(text.Left(kLoggedStatementChars))));
  return false;
}

// ---- tables

void CSQLServer2008::GenerateTableQueries(CTable* table, CDatabase* database) {
  if (!table) return;
  if (table->m_strOwner.IsEmpty()) table->m_strOwner = "dbo";
  const bool server = m_bExportToServer;
  const CString name = SqlQualifiedName(table->m_strOwner, table->m_strName);
  {
    std::lock_guard<std::mutex> lock(m_csSchemaCounts);
    m_mapFailedStatements.SetAt(TableKey(table).view(), 0);
  }
  if (server && database) database->SetQueryTimeout(kSchemaQueryTimeout);

  // The schema, created only where it does not exist yet.
  if (server) {
    ExecuteLogged(database, SchemaStatement(table->m_strOwner), "Create Schema", table);
  } else {
    WriteScript(m_hTableSqlFile, kScriptGo);
    WriteScript(m_hTableSqlFile, SchemaStatement(table->m_strOwner) + kScriptGo);
  }

  CString create;
  std::vector<DefaultBinding> bindings;
  if (!BuildCreateTable(*this, *table, TableScriptKind::kFull, database, create, bindings)) return;

  // The temporary column lets the row export find the row it has just inserted when it fills
  // large values afterwards; without rows it would only be a stray column in the table.
  const bool rows = m_bExportRows;
  const bool tempColumn = rows && (table->m_bHasNtext || table->m_bHasBlob);
  if (server) {
    if (tempColumn) create += AddTempColumnStatement(*table);
    ExecuteLogged(database, create, "Create Table", table);
  } else {
    CString text = create + kScriptGo;
    if (tempColumn) text += AddTempColumnStatement(*table) + "go\r\n";
    WriteScript(m_hTableSqlFile, text);
  }

  if (rows) {
    // The done flag is not cleared: a preview window the program has not taken yet keeps it.
    m_bExportMode = 1;
    m_pStatus->m_pExportTable = table;
    RecoverTableRecordThread(this, table, database);
    if (table->m_bHasNtext || table->m_bHasBlob) {
      table->m_bHasNtext = false;
      table->m_bHasBlob = false;
      if (server)
        ExecuteLogged(database, DropTempColumnStatement(*table), "Drop Temporary Column", table);
      else
        WriteScript(m_hTableSqlFile, DropTempColumnStatement(*table));
    }
  }

  // Bound after the rows, so the rows keep the values they were stored with.
  BindDefaults(*this, *table, bindings, database, m_hConstraintSqlFile);
  GenerateConstraintQueries(table, database);

  if (server) {
    const int failed = FailedStatementCount(table);
    if (failed > 0) Log(FormatString("Table %s: %d statements failed on the server", name, failed));
  }
}

void CSQLServer2008::GenerateTableQueries(CTable* table) {
  if (!table) return;
  const bool server = m_bExportToServer;
  CString create;
  std::vector<DefaultBinding> bindings;
  if (!BuildCreateTable(*this, *table, TableScriptKind::kPlain, m_pDatabase, create, bindings)) return;
  if (server)
    ExecuteLogged(m_pDatabase, create, "Create Table", table);
  else
    WriteScript(m_hTableSqlFile, create);

  if (m_bExportRows) {
    // The done flag is not cleared: a preview window the program has not taken yet keeps it.
    m_bExportMode = 1;
    m_pStatus->m_pExportTable = table;
    // The walk runs on this thread and has ended when it returns: there is nothing to wait for.
    RecoverTableRecordThread(this);
  }
  BindDefaults(*this, *table, bindings, m_pDatabase, m_hTableSqlFile);
}

// ---- keys, constraints and indexes

void CSQLServer2008::GenerateConstraintQueries(CTable* table, CDatabase* database) {
  if (!table) return;
  const bool server = m_bExportToServer;
  const CString tableName = SqlQualifiedName(table->m_strOwner, table->m_strName);

  // The clustered index first: created after another index it would rebuild that one, and a
  // clustered primary key created after it would fail.
  std::vector<std::pair<long, const CIndexInfo*>> indexes;
  for (const auto& entry : table->m_mapTableIndexes)
    if (entry.second) indexes.emplace_back(std::strtol(entry.first.c_str(), nullptr, 10), entry.second);
  std::stable_sort(indexes.begin(), indexes.end(), [](const auto& a, const auto& b) {
    if ((a.second->m_bClustered != 0) != (b.second->m_bClustered != 0)) return a.second->m_bClustered != 0;
    return a.first < b.first;
  });

  auto emit = [&](const CString& statement) {
    if (server)
      ExecuteLogged(database, statement, "Constraint", table);
    else
      WriteScript(m_hConstraintSqlFile, statement + kScriptGo);
  };

  for (const auto& [id, index] : indexes) {
    const bool primaryKey = index->m_bPrimaryKey != 0;
    // A heap, a disabled or a hypothetical index: nothing to create.
    if (!primaryKey && !index->m_bClustered && !index->m_bNonClustered) continue;

    std::vector<std::pair<const CColumn*, bool>> keys;
    for (size_t p = 1; p < index->m_vecColumns.size(); ++p) {
      const CColumn* c = KeyColumn(*table, index->m_vecColumns[p]);
      if (!c) continue;
      const bool descending = p < index->m_vecDescending.size() && index->m_vecDescending[p];
      keys.emplace_back(c, descending);
    }
    if (keys.empty()) continue;

    const char* kind = index->m_bClustered ? "CLUSTERED" : "NONCLUSTERED";
    CString columns;
    if (primaryKey) {
      for (const auto& [c, descending] : keys) {
        // A key column is made NOT NULL with its full type; one declared NOT NULL already
        // needs nothing, and a computed column cannot be altered.
        if (c->m_bNullable && c->m_strComputed.IsEmpty())
          emit("ALTER TABLE " + tableName + " ALTER COLUMN " + SqlQuoteName(c->m_strName) + " " + FullType(*c) +
               " NOT NULL");
        if (!columns.IsEmpty()) columns += ",";
        columns += SqlQuoteName(c->m_strName);
        if (descending) columns += " DESC";
      }
      CString statement = "ALTER TABLE " + tableName + " ADD ";
      if (!index->m_strName.IsEmpty()) statement += "CONSTRAINT " + SqlQuoteName(index->m_strName) + " ";
      statement += CString("PRIMARY KEY ") + kind + " (" + columns + ") ";
      emit(statement);
    } else if (index->m_bConstraint && index->m_bUnique && !index->m_strName.IsEmpty()) {
      // A UNIQUE constraint stays a constraint: scripts that drop it by name need one.
      for (const auto& [c, descending] : keys) {
        if (!columns.IsEmpty()) columns += ",";
        columns += SqlQuoteName(c->m_strName) + (descending ? " DESC" : "");
      }
      emit("ALTER TABLE " + tableName + " ADD CONSTRAINT " + SqlQuoteName(index->m_strName) + " UNIQUE " + kind +
           " (" + columns + ") ");
    } else {
      if (index->m_strName.IsEmpty()) {
        Log("Index without a name on " + tableName + ": not created");
        continue;
      }
      for (const auto& [c, descending] : keys) {
        if (!columns.IsEmpty()) columns += ",";
        columns += SqlQuoteName(c->m_strName) + (descending ? " DESC " : " ASC ");
      }
      CString include;
      for (int id : index->m_vecIncluded)
        if (const CColumn* c = KeyColumn(*table, id)) include += (include.IsEmpty() ? "" : ",") + SqlQuoteName(c->m_strName);
      if (!include.IsEmpty()) include = "INCLUDE (" + include + ")";
      CString filter;
      if (!index->m_strFilter.IsEmpty()) filter = (include.IsEmpty() ? "WHERE " : " WHERE ") + index->m_strFilter;
      emit(CString("CREATE ") + (index->m_bUnique ? "UNIQUE " : "") + kind + " INDEX " + SqlQuoteName(index->m_strName) +
           " ON " + tableName + "(" + columns + ") " + include + filter);
    }
  }

  // CHECK constraints after the rows, so rows the original took are not refused on the way.
  for (const CCheckConstraint& check : table->m_vecChecks)
    for (const CString& statement : SqlCheckStatements(tableName, check)) emit(statement);
}

// ---- foreign keys

void CSQLServer2008::GenerateForeignKeyConstraint() {
  const bool server = m_bExportToServer;
  // Object-id order, so every export of a scan writes the keys alike.
  std::vector<const CTable*> tables;
  for (const auto& entry : m_mapTables)
    if (entry.second && entry.second->m_pForeignKeyHead) tables.push_back(entry.second);
  std::sort(tables.begin(), tables.end(),
            [](const CTable* a, const CTable* b) { return a->m_dwObjectId < b->m_dwObjectId; });
  for (const CTable* table : tables) {
    const CString owner = table->m_strOwner.IsEmpty() ? CString("dbo") : table->m_strOwner;
    const CString tableName = SqlQualifiedName(owner, table->m_strName);
    for (const CForeignKey* key = table->m_pForeignKeyHead; key; key = key->m_pNext) {
      const CString what = "Foreign key " + SqlQuoteName(key->m_strName) + " of " + tableName;
      const CTable* referenced = nullptr;
      CTable* found = nullptr;
      if (m_mapTables.Lookup(FormatString("%lu", key->m_dwRefTableId).view(), found)) referenced = found;
      if (!referenced) {
        Log(what + ": the referenced table is not in the scan: not exported");
        continue;
      }
      std::vector<CString> columns, refColumns;
      bool whole = !key->m_vecKeyColumns.empty() && key->m_vecKeyColumns.size() == key->m_vecRefColumns.size();
      for (size_t i = 0; whole && i < key->m_vecKeyColumns.size(); ++i) {
        const CColumn* column = KeyColumn(*table, key->m_vecKeyColumns[i]);
        const CColumn* refColumn = KeyColumn(*referenced, key->m_vecRefColumns[i]);
        if (!column || !refColumn) whole = false;
        else {
          columns.push_back(column->m_strName);
          refColumns.push_back(refColumn->m_strName);
        }
      }
      if (!whole || key->m_strName.IsEmpty()) {
        Log(what + ": its name or columns cannot be read: not exported");
        continue;
      }
      const CString refOwner = referenced->m_strOwner.IsEmpty() ? CString("dbo") : referenced->m_strOwner;
      for (const CString& statement :
           SqlForeignKeyStatements(tableName, key->m_strName, columns, SqlQualifiedName(refOwner, referenced->m_strName),
                                   refColumns, key->m_bDeleteAction, key->m_bUpdateAction, key->m_state)) {
        if (server)
          ExecuteLogged(m_pDatabase, statement, "Foreign Key", table);
        else
          WriteScript(m_hTableSqlFile, statement + kScriptGo);
      }
    }
  }
}

// ---- user data types and objects

void CSQLServer2008::GenerateUserDataTypeQueries() {
  BeginSchemaExport();
  const bool server = m_bExportToServer;
  std::vector<const CDataType*> exported;
  for (const auto& entry : m_mapDataTypes) {
    const CDataType* type = entry.second;
    if (!type) continue;
    char* end = nullptr;
    const long typeId = std::strtol(entry.first.c_str(), &end, 10);
    // System types, sysname and the built-in CLR types are not user types.
    if (end && *end == '\0' && !entry.first.empty() && typeId <= kLastBuiltInTypeId) continue;

    const CString base = GetTypeName(type->m_bSystemTypeId);
    if (base.IsEmpty()) {
      Log(FormatString("User data type %s has no known base type (%d): not exported", SqlQuoteName(type->m_strName),
                       int(type->m_bSystemTypeId)));
      continue;
    }
    LogUnboundTypeObjects(*type);
    const CString statement =
        SqlAddTypeStatement(type->m_strName, base, type->m_wLength, type->m_bPrecision, type->m_bScale,
                            type->m_bNotNull);
    if (server)
      ExecuteLogged(m_pDatabase, statement, "User Data Type", nullptr);
    else
      WriteScript(m_hUserTypesSqlFile, statement + kScriptGo);
    exported.push_back(type);
  }
  // A type comes back with what was bound to it, whatever else is exported: once every type
  // exists and before any table, so a column of the type takes them as it did in the original.
  for (const RuleOfTypes& r : RulesBoundToTypes(exported, m_mapRules)) {
    m_setTypeRules.insert(r.rule->m_strName);
    EmitObject(*this, r.rule, m_hUserTypesSqlFile, "Rule");
    for (const CString& type : r.types) {
      const CString bind = SqlBindRuleToTypeStatement(type, r.rule->m_strName);
      if (server) ExecuteLogged(m_pDatabase, bind, "Bind Rule", nullptr);
      else WriteScript(m_hUserTypesSqlFile, bind + kScriptGo);
    }
  }
  for (const CDataType* type : exported)
    if (!type->m_strDefaultText.IsEmpty())
      CreateDefaultObject(*this, type->m_strDefaultText, m_pDatabase, nullptr, type->m_strName, m_hUserTypesSqlFile);
  // The program opens this file but leaves closing it to the engine.
  if (!server) CloseFileHandle(m_hUserTypesSqlFile);
}

// An indexed view's indexes follow its own batch, in its file or on the server.
void CSQLServer2008::GenerateViewQueries(CViewStoredProc* object) {
  EmitObject(*this, object, m_hViewsSqlFile, "View");
  if (!object) return;
  std::vector<CString> problems;
  const std::vector<CString> statements = SqlViewIndexStatements(*object, problems);
  for (const CString& problem : problems) Log(problem);
  for (const CString& statement : statements) {
    if (m_bExportToServer)
      ExecuteLogged(m_pDatabase, statement, "View Index", nullptr);
    else
      WriteScript(m_hViewsSqlFile, statement + kScriptGo);
  }
}

void CSQLServer2008::GenerateStoredProcQueries(CViewStoredProc* object) {
  EmitObject(*this, object, m_hProcSqlFile, "Stored Procedure");
}

// A rule is bound, right after it is created, to every column that used it: the tables exist
// by then, as the rules follow them.
void CSQLServer2008::GenerateRulesQueries(CViewStoredProc* object) {
  // A rule of an exported type was created, and bound to its types, with the types.
  const bool withTypes = object && m_setTypeRules.count(object->m_strName);
  if (!withTypes) EmitObject(*this, object, m_hRulesSqlFile, "Rule");
  if (!object || object->m_strName.IsEmpty()) return;
  CString trimmed(object->m_strText);
  trimmed.Trim();
  if (trimmed.IsEmpty()) return;
  auto send = [&](const CString& statement, const CTable* table) {
    if (m_bExportToServer) ExecuteLogged(m_pDatabase, statement, "Bind Rule", table);
    else WriteScript(m_hRulesSqlFile, statement + kScriptGo);
  };
  // The types first: a plain bind also binds their columns that have no rule, and a column's
  // own binding, written after, stays the column's.
  std::set<CString> types;
  for (const auto& entry : m_mapDataTypes) {
    const CDataType* type = entry.second;
    if (!type || type->m_strName.IsEmpty() || type->m_strRuleName != object->m_strName) continue;
    types.insert(type->m_strName);
    if (!withTypes) send(SqlBindRuleToTypeStatement(type->m_strName, object->m_strName), nullptr);
  }
  for (const auto& entry : m_mapTables) {
    const CTable* table = entry.second;
    if (!table) continue;
    const CString owner = table->m_strOwner.IsEmpty() ? CString("dbo") : table->m_strOwner;
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
      if (c->m_bDropped) continue;
      if (c->m_strRuleName == object->m_strName)
        send(SqlBindRuleStatement(owner, table->m_strName, c->m_strName, c->m_strRuleName), table);
      else if (!withTypes && c->m_strRuleName.IsEmpty() && types.count(c->m_strUserType))
        // The original column had no rule although its type had one: the type's bind gave it
        // one. (With the types, the table's own script unbinds it.)
        send(SqlUnbindRuleStatement(owner, table->m_strName, c->m_strName), table);
    }
  }
}

void CSQLServer2008::GenerateTriggerQueries(CViewStoredProc* object) {
  EmitObject(*this, object, m_hTriggersSqlFile, "Trigger");
}

void CSQLServer2008::GenerateFunctionQueries(CViewStoredProc* object) {
  EmitObject(*this, object, m_hFunctionsSqlFile, "Function");
}
