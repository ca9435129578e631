// Schema scripts of the 2000 format: per table its CREATE TABLE (defaults, identity,
// computed columns), keys and indexes with the not-null fix-ups they need, and the rows;
// the user data types, the foreign keys, and the texts of views, procedures, rules and
// triggers. Each goes to the script file the export worker opened or runs on a connection.
//
// Every name goes through SqlQuoteName (sqltext.h): names come from pages and may hold "]",
// "'" or ";". Server failures that lose a table or a procedure are logged with their text.
#include <cctype>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/constraintscripts.h"
#include "common/defaultobjects.h"
#include "common/executionlog.h"
#include "common/scriptfile.h"
#include "common/settings.h"
#include "common/sqltext.h"
#include "common/viewindexes.h"
#include "pellwyn2000.h"
#include "platform/database.h"

namespace {

constexpr const char* kTempColumn = "_TARNWELL_TEMPCOL";
constexpr int kLoggedStatementChars = 200;
// A full disk fails every later write too; the first ones say enough.
constexpr int kLoggedWriteFailures = 10;

void Log(const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); }
void LogError(const CString& text) { CExecutionLog::WriteLog(1, 0, text.c_str(), true); }

// One log line: line breaks and tabs become blanks.
CString OneLine(const CString& text) {
  CString out(text.Left(kLoggedStatementChars));
  for (char& c : out.str())
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return out;
}

// [nvarchar](40), or [id] for a column of a user data type: the table keeps the type it was
// declared with (UserDefinedDatatypes.sql runs before the tables), and with it the type's
// nullability, default and rule.
CString DeclaredType(const CColumn& c) {
  if (!c.m_strUserType.IsEmpty() && c.m_strUserType != c.m_strType) return SqlQuoteName(c.m_strUserType);
  return SqlQuoteName(c.m_strType) + SqlTypeSuffix(c.m_strType, c.m_wLength, c.m_bPrecision, c.m_bScale);
}

CString OwnerOf(const CTable& table) { return table.m_strOwner.IsEmpty() ? CString("dbo") : table.m_strOwner; }
CString QualifiedName(const CTable& table) { return SqlQualifiedName(OwnerOf(table), table.m_strName); }

// The first column of the table with the column id; null when none. Ids are looked up as
// they are: a table keeps the ids of columns after a dropped one, so a count proves nothing.
const CColumn* ColumnWithId(const CTable& table, int id) {
  if (id <= 0) return nullptr;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext)
    if (c->m_nColumnId == id) return c;
  return nullptr;
}

void IdentityValues(const CColumn& c, long long& seed, long long& increment) {
  seed = c.m_nIdentitySeed64;
  increment = c.m_nIdentityIncrement64;
  if (seed == 0 && increment == 0) {
    seed = static_cast<int>(c.m_dwIdentitySeed);
    increment = static_cast<int>(c.m_dwIdentityIncrement);
  }
}

CString AddTempColumnStatement(const CTable& table) {
  return "ALTER TABLE " + QualifiedName(table) + " ADD " + SqlQuoteName(kTempColumn) + " uniqueidentifier null \r\n";
}

CString DropTempColumnStatement(const CTable& table) {
  return "Alter Table " + QualifiedName(table) + " Drop Column " + SqlQuoteName(kTempColumn);
}

// Runs a statement; false when the server refused it, with the server's text in *error.
bool Execute(CDatabase* database, const CString& sql, CString* error = nullptr) {
  try {
    if (!database) throw CDBException(-1, "no connection", "08003");
    database->ExecuteSQL(sql.c_str());
    return true;
  } catch (const CDBException& e) {
    if (error) *error = e.m_strError;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
  }
  return false;
}

}  // namespace

bool CSQLServer2000::WriteScript(FILE_HANDLE file, const CString& text) {
  if (WriteScriptFileText(file, text.view())) return true;
  const int failures = ++m_nFailedScriptWrites;
  if (failures <= kLoggedWriteFailures)
    Log(FormatString("Script write failed (%d bytes): %s", text.GetLength(), OneLine(text)));
  return false;
}

namespace {

enum class TableScript {
  kFull,   // the program's table script: identity, ntext handling
  kPlain,  // the simpler one: columns, defaults and nullability only
};

// A column that takes its default from a default object: bound once the table exists. An
// empty name unbinds the column: it had no default although its type has one.
struct DefaultBinding {
  CString defaultName;
  CString column;
};

// The CREATE TABLE text of a table; default objects are created (or written) on the way and
// their bindings collected. False when the record-stop flag ended the walk: nothing more of
// the table is produced.
bool BuildCreateTable(CSQLServer2000& engine, CTable& table, TableScript kind,
                      const std::function<void(const CString&, const CString&)>& createDefault, CString& text,
                      std::vector<DefaultBinding>& bindings) {
  text = "CREATE TABLE " + QualifiedName(table) + " (";
  bool first = true;
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) {
    if (!first) text += ",";
    first = false;
    if (!c->m_strComputed.IsEmpty()) {
      text += SqlQuoteName(c->m_strName) + " as " + c->m_strComputed;
      continue;
    }
    text += SqlQuoteName(c->m_strName) + " " + DeclaredType(*c);
    // The type's default is bound before the table is made, so the column takes it as it is
    // created; a column that had its own default or none is set right after.
    if (const CDataType* type = UserTypeNamed(engine.m_mapDataTypes, c->m_strUserType);
        type && !type->m_strDefaultText.IsEmpty() && !DefaultObjectName(type->m_strDefaultText).IsEmpty()) {
      createDefault(type->m_strDefaultText, type->m_strName);
      if (c->m_strDefault.IsEmpty()) bindings.push_back({CString(), c->m_strName});
    }
    if (kind == TableScript::kFull && c->m_strType == "ntext") table.m_bHasNtext = true;
    // Long text values, and in a script long image values, are appended in pieces too, through
    // the same column.
    if (kind == TableScript::kFull && (c->m_strType == "text" || c->m_strType == "image")) table.m_bHasBlob = true;
    if (!c->m_strDefault.IsEmpty()) {
      if (IsDefaultObjectText(c->m_strDefault)) {
        createDefault(c->m_strDefault, CString());
        const CString name = DefaultObjectName(c->m_strDefault);
        if (name.IsEmpty())
          Log("Default object without a name: not bound to " + QualifiedName(table) + "." + SqlQuoteName(c->m_strName));
        else
          bindings.push_back({name, c->m_strName});
      } else {
        text += SqlColumnDefault(c->m_strDefaultName, c->m_strDefault);
      }
    }
    if (!c->m_bNullable) text += " NOT NULL";
    if (kind == TableScript::kFull && c->m_bIdentity) {
      long long seed = 0, increment = 0;
      IdentityValues(*c, seed, increment);
      // An increment of 0 is refused, and with it the whole table and its rows.
      if (increment == 0) {
        Log("Identity increment 0 read for " + QualifiedName(table) + "." + SqlQuoteName(c->m_strName) + ": 1 used");
        increment = 1;
      }
      text += FormatString(" IDENTITY(%lld,%lld) ", seed, increment);
    }
    if (engine.m_pStatus && engine.m_pStatus->m_bStopRecords.load() == 1) return false;
  }
  text += ")\r\n";
  return true;
}

// Binds each collected default object to its column, on the connection or into the script.
void BindDefaults(CSQLServer2000& engine, const CTable& table, const std::vector<DefaultBinding>& bindings, bool server,
                  CDatabase* database, FILE_HANDLE file) {
  for (const DefaultBinding& b : bindings) {
    const CString statement = b.defaultName.IsEmpty()
                                  ? SqlUnbindDefaultStatement(OwnerOf(table), table.m_strName, b.column)
                                  : SqlBindDefaultStatement(OwnerOf(table), table.m_strName, b.column, b.defaultName);
    if (!server) {
      engine.WriteScript(file, statement + kSqlScriptGo);
      continue;
    }
    CString error;
    if (!Execute(database, statement, &error)) Log("Bind Default failed: " + OneLine(statement) + " | " + OneLine(error));
  }
  // A column of a type whose rule came with the types took the rule as it was created; one
  // that had no rule in the original loses it again.
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext) {
    if (!c->m_strRuleName.IsEmpty()) continue;
    const CDataType* type = UserTypeNamed(engine.m_mapDataTypes, c->m_strUserType);
    if (!type || type->m_strRuleName.IsEmpty() || !engine.m_setTypeRules.count(type->m_strRuleName)) continue;
    engine.SendRuleBinding(SqlUnbindRuleStatement(OwnerOf(table), table.m_strName, c->m_strName), file);
  }
}

}  // namespace

// A default object is created once per export. On a server the lock is held while it is
// created, so a pool thread that binds the same object waits until it exists.
void CSQLServer2000::CreateDefaultObject(const CString& text, bool server, CDatabase* database, const CString& boundType,
                                         FILE_HANDLE file) {
  std::lock_guard<std::mutex> lock(m_csDefaultObjects);
  if (file == kInvalidFile) file = m_hDefaultSqlFile;
  auto send = [&](const CString& statement, const char* what) {
    CString error;
    if (!server) WriteScript(file, statement + kSqlScriptGo);
    else if (!Execute(database, statement, &error))
      Log(CString(what) + " failed: " + OneLine(statement) + " | " + OneLine(error));
  };
  // CREATE DEFAULT must begin its batch.
  if (m_setDefaultObjects.insert(text.str()).second) send(text, "Create Default");
  // A type's binding is kept in the same set under a key no statement text can have.
  if (!boundType.IsEmpty() && m_setDefaultObjects.insert("\x01type " + boundType.str()).second)
    send(SqlBindDefaultToTypeStatement(boundType, DefaultObjectName(text)), "Bind Default");
}

// ---- tables

void CSQLServer2000::GenerateTableQueries(CTable* table, CDatabase* database) {
  if (!table) return;
  if (table->m_strOwner.IsEmpty()) table->m_strOwner = "dbo";
  const bool server = m_bExportToServer == 1;

  // Schema. On the server it is sent for every table; "dbo" and a schema made for an earlier
  // table answer with an error, which says nothing about the table.
  if (server) {
    if (!Execute(database, "CREATE SCHEMA " + SqlQuoteName(table->m_strOwner))) Log("Create Schema failed");
  } else {
    WriteScript(m_hTableSqlFile, kSqlScriptGo);
    if (table->m_strOwner != "dbo") {
      // An owner other than dbo must exist before the table. A server of version 2005 or later
      // creates its schema (once: a rerun passes over it). SQL Server 2000 makes a user only
      // for a login, which a script cannot know: the comment and the log say so.
      const CString owner = table->m_strOwner;
      const CString create = "IF SCHEMA_ID(" + SqlQuoteNString(owner) + ") IS NULL EXEC(" +
                             SqlQuoteNString("CREATE SCHEMA " + SqlQuoteName(owner)) + ")";
      WriteScript(m_hTableSqlFile,
                  "-- The owner " + SqlQuoteName(owner) +
                      " must exist as a user of the database first on SQL Server 2000 (sp_grantdbaccess with its "
                      "login); later servers get its schema here.\r\n"
                      "IF LEFT(CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(20)), 2) <> N'8.' EXEC(" +
                      SqlQuoteNString(create) + ")" + kSqlScriptGo);
      Log("Table " + QualifiedName(*table) + ": its owner " + SqlQuoteName(owner) +
          " must exist as a database user before the scripts run on SQL Server 2000");
    }
  }

  auto createDefault = [&](const CString& text, const CString& type) { CreateDefaultObject(text, server, database, type); };
  CString create;
  std::vector<DefaultBinding> bindings;
  if (!BuildCreateTable(*this, *table, TableScript::kFull, createDefault, create, bindings)) {
    table->m_bHasNtext = false;
    table->m_bHasBlob = false;
    return;
  }

  // The temporary column lets the row export find the row it has just inserted when it adds
  // a value in pieces; without rows it would stay behind as a stray column.
  const bool rows = m_bExportRows == 1;
  const bool tempColumn = rows && (table->m_bHasNtext || table->m_bHasBlob);
  if (server) {
    if (tempColumn) create += AddTempColumnStatement(*table);
    CString error;
    if (!Execute(database, create, &error)) LogError(create);
  } else {
    CString text = create + kSqlScriptGo;
    if (tempColumn) text += AddTempColumnStatement(*table) + kSqlScriptGo;
    WriteScript(m_hTableSqlFile, text);
  }

  BindDefaults(*this, *table, bindings, server, database, m_hConstraintSqlFile);
  GenerateConstraintQueries(table, database);

  if (rows) {
    m_bExportMode = 1;
    if (m_pStatus) m_pStatus->m_pExportTable = table;
    ExportTableRows(table, server ? database : nullptr);
  }
  // Dropped on every way out of the rows, a stopped export too.
  if (tempColumn) {
    if (server) Execute(database, DropTempColumnStatement(*table));
    else WriteScript(m_hTableSqlFile, DropTempColumnStatement(*table) + kSqlScriptGo);
  }
  table->m_bHasNtext = false;
  table->m_bHasBlob = false;
  // CHECK constraints after the rows, so rows the original took are not refused on the way.
  for (const CCheckConstraint& check : table->m_vecChecks)
    for (const CString& statement : SqlCheckStatements(QualifiedName(*table), check)) {
      if (server) {
        CString error;
        if (!Execute(database, statement, &error)) Log("Constraint failed: " + OneLine(statement) + " | " + OneLine(error));
      } else {
        std::lock_guard<std::mutex> lock(ScriptLock2000());
        WriteScript(m_hConstraintSqlFile, statement + kSqlScriptGo);
      }
    }
}

void CSQLServer2000::GenerateTableQueries(CTable* table) {
  if (!table) return;
  const bool server = m_bExportToServer == 1;
  const bool rows = m_bExportRows == 1;
  // The rows name their identity values under IDENTITY_INSERT and fill long values through the
  // temporary column: a table that is to take them is made with both, or they would be refused.
  const TableScript kind = rows ? TableScript::kFull : TableScript::kPlain;
  auto createDefault = [&](const CString& text, const CString& type) { CreateDefaultObject(text, server, m_pDatabase, type); };
  auto clearFlags = [&] {
    table->m_bHasNtext = false;
    table->m_bHasBlob = false;
  };
  CString create;
  std::vector<DefaultBinding> bindings;
  if (!BuildCreateTable(*this, *table, kind, createDefault, create, bindings)) {
    clearFlags();
    return;
  }
  const bool tempColumn = rows && (table->m_bHasNtext || table->m_bHasBlob);
  if (server) {
    if (tempColumn) create += AddTempColumnStatement(*table);
    if (!Execute(m_pDatabase, create)) LogError(create);
  } else {
    CString text = create + kSqlScriptGo;
    if (tempColumn) text += AddTempColumnStatement(*table) + kSqlScriptGo;
    WriteScript(m_hTableSqlFile, text);
  }
  BindDefaults(*this, *table, bindings, server, m_pDatabase, m_hTableSqlFile);
  if (!rows) return;

  std::string value;
  if (ReadSetting("Avoid_Duplicate", value) == SettingLookup::Found && value == "1") m_bAvoidDuplicate = 1;
  m_bExportMode = 1;
  if (m_pStatus) m_pStatus->m_pExportTable = table;
  // The walk runs on this thread and has ended when it returns: nothing is left to wait for.
  ExportTableRows(table, server ? m_pDatabase : nullptr);
  if (tempColumn) {
    if (server) Execute(m_pDatabase, DropTempColumnStatement(*table));
    else WriteScript(m_hTableSqlFile, DropTempColumnStatement(*table) + kSqlScriptGo);
  }
  clearFlags();
}

// ---- keys and indexes

void CSQLServer2000::GenerateConstraintQueries(CTable* table, CDatabase* database) {
  if (!table) return;
  {
    std::lock_guard<std::mutex> lock(ScriptLock2000());
    CTable* found = nullptr;
    if (!m_mapTables.Lookup(FormatString("%ld", table->m_dwObjectId).view(), found) || !found) return;
  }
  const bool server = m_bExportToServer == 1;
  const CString tableName = QualifiedName(*table);

  auto emit = [&](const CString& statement) {
    if (server) {
      CString error;
      if (!Execute(database, statement, &error)) Log("Constraint failed: " + OneLine(statement) + " | " + OneLine(error));
      return;
    }
    std::lock_guard<std::mutex> lock(ScriptLock2000());
    WriteScript(m_hConstraintSqlFile, statement + kSqlScriptGo);
  };

  for (const auto& entry : table->m_mapTableIndexes) {
    const CIndexInfo* index = entry.second;
    if (!index) continue;
    std::vector<const CColumn*> columns;
    for (int id : index->m_vecColumns)
      if (const CColumn* c = ColumnWithId(*table, id)) columns.push_back(c);
    // A record without key columns (one loaded from an older scan file) says nothing to run.
    if (columns.empty()) continue;

    const bool primaryKey = index->m_bPrimaryKey != 0;
    const bool constraint = index->m_bConstraint != 0;
    const char* kind = index->m_bClustered ? "CLUSTERED " : index->m_bNonClustered ? "NONCLUSTERED " : "";
    CString statement;
    CString list;
    if (primaryKey || constraint) {
      statement = "ALTER TABLE " + tableName + " ADD";
      if (!index->m_strName.IsEmpty()) statement += " CONSTRAINT " + SqlQuoteName(index->m_strName);
      // A key constraint that is not the primary key is a unique one, whatever its flags say.
      statement += primaryKey ? " PRIMARY KEY " : " UNIQUE ";
      statement += CString(kind) + "(";
    } else {
      if (index->m_strName.IsEmpty()) {
        Log("Index without a name on " + tableName + ": not created");
        continue;
      }
      statement = CString("CREATE ") + (index->m_bUnique ? "UNIQUE " : "") + kind + "INDEX " +
                  SqlQuoteName(index->m_strName) + " ON " + tableName + "(";
    }
    for (const CColumn* c : columns) {
      if (!list.IsEmpty()) list += ",";
      if (primaryKey) {
        // A primary key needs NOT NULL columns; one declared so already needs nothing (its
        // default or its index would make the ALTER fail), and a computed one cannot change.
        if (c->m_bNullable && c->m_strComputed.IsEmpty())
          emit("ALTER TABLE " + tableName + " ALTER COLUMN " + SqlQuoteName(c->m_strName) + " " + DeclaredType(*c) +
               " NOT NULL");
        list += SqlQuoteName(c->m_strName);
      } else {
        list += SqlQuoteName(c->m_strName) + " ASC";
      }
    }
    emit(statement + list + ")");
  }
}

// ---- foreign keys

void CSQLServer2000::GenerateForeignKeyConstraint() {
  const bool server = m_bExportToServer == 1;
  // Every table that has keys is scripted, selected or not: a key whose table was left out
  // of a partial export fails on the server and is logged there.
  for (const auto& entry : m_mapForeignKeyTables) {
    const CTable* table = entry.second;
    if (!table) continue;
    for (const CForeignKey* key = table->m_pForeignKeyHead; key; key = key->m_pNext) {
      const CString what = FormatString("Foreign key %lu of %s", key->m_dwConstraintId, QualifiedName(*table));
      CString name;
      if (!m_mapForeignKeyNames.Lookup(FormatString("%lu", key->m_dwConstraintId).view(), name) || name.IsEmpty()) {
        Log(what + ": no constraint name, not created");
        continue;
      }
      CTable* referenced = nullptr;
      if (!m_mapTables.Lookup(FormatString("%lu", key->m_dwRefTableId).view(), referenced) || !referenced) {
        Log(what + FormatString(": referenced table %lu not recovered, not created", key->m_dwRefTableId));
        continue;
      }
      std::vector<CString> columns, refColumns;
      bool complete = key->Count() > 0 && key->m_vecRefColumns.size() == key->m_vecKeyColumns.size();
      for (size_t i = 0; complete && i < key->m_vecKeyColumns.size(); ++i) {
        const CColumn* c = ColumnWithId(*table, key->m_vecKeyColumns[i]);
        const CColumn* r = ColumnWithId(*referenced, key->m_vecRefColumns[i]);
        if (!c || !r) {
          complete = false;
          break;
        }
        columns.push_back(c->m_strName);
        refColumns.push_back(r->m_strName);
      }
      // A key with a column that is not there would reference the wrong columns or none.
      if (!complete) {
        Log(what + " " + SqlQuoteName(name) + ": a key column was not recovered, not created");
        continue;
      }
      for (const CString& statement :
           SqlForeignKeyStatements(QualifiedName(*table), name, columns, QualifiedName(*referenced), refColumns,
                                   key->m_bDeleteAction, key->m_bUpdateAction, key->m_state)) {
        if (server) {
          CString error;
          if (!Execute(m_pDatabase, statement, &error)) Log("Foreign key failed: " + OneLine(statement) + " | " + OneLine(error));
        } else {
          WriteScript(m_hTableSqlFile, statement + kSqlScriptGo);
        }
      }
    }
  }
}

// ---- user data types

void CSQLServer2000::GenerateUserDataTypeQueries() {
  // The first call of an export: what the last export created is forgotten.
  {
    std::lock_guard<std::mutex> lock(m_csDefaultObjects);
    m_setDefaultObjects.clear();
    m_setTypeRules.clear();
  }
  m_nFailedScriptWrites = 0;
  m_nObjectsWithoutText = 0;

  const bool server = m_bExportToServer == 1;
  std::vector<const CDataType*> exported;
  for (const auto& entry : m_mapDataTypes) {
    const CDataType* type = entry.second;
    if (!type || type->m_strName.IsEmpty()) continue;
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
    if (server) Execute(m_pDatabase, statement);
    else WriteScript(m_hUserTypesSqlFile, statement + kSqlScriptGo);
    exported.push_back(type);
  }
  BindTypeObjects(exported);
  // The program opens this one file and leaves closing it to the engine.
  if (!server) CloseFileHandle(m_hUserTypesSqlFile);
}

// A type comes back with what was bound to it, whatever else is exported: once every type
// exists and before any table, so a column of the type takes them as it did in the original.
void CSQLServer2000::BindTypeObjects(const std::vector<const CDataType*>& types) {
  const bool server = m_bExportToServer == 1;
  for (const RuleOfTypes& r : RulesBoundToTypes(types, m_mapRules)) {
    m_setTypeRules.insert(r.rule->m_strName);
    EmitRule(r.rule, m_hUserTypesSqlFile);
    for (const CString& type : r.types) SendRuleBinding(SqlBindRuleToTypeStatement(type, r.rule->m_strName), m_hUserTypesSqlFile);
  }
  for (const CDataType* type : types)
    if (!type->m_strDefaultText.IsEmpty())
      CreateDefaultObject(type->m_strDefaultText, server, m_pDatabase, type->m_strName, m_hUserTypesSqlFile);
}

// ---- views, procedures, rules and triggers

namespace {

// The object's text as one statement. An empty text is still sent: the object is counted
// as exported without text, and its batch is empty.
void EmitObject(CSQLServer2000& engine, const CViewStoredProc* object, FILE_HANDLE file, bool logFailure) {
  if (!object) return;
  CString trimmed(object->m_strText);
  trimmed.Trim();
  if (trimmed.IsEmpty()) ++engine.m_nObjectsWithoutText;
  const CString statement = object->m_strText + "\r\n";
  if (engine.m_bExportToServer == 1) {
    CString error;
    if (Execute(engine.m_pDatabase, statement, &error)) {
      if (engine.m_pStatus) ++engine.m_pStatus->m_nRecordsSent;
    } else if (logFailure) {
      LogError(statement);
    }
    return;
  }
  engine.WriteScript(file, statement + kSqlScriptGo);
}

}  // namespace

// An indexed view's indexes follow its own batch, in its file or on the server.
void CSQLServer2000::GenerateViewQueries(CViewStoredProc* object) {
  EmitObject(*this, object, m_hViewsSqlFile, false);
  if (!object) return;
  std::vector<CString> problems;
  const std::vector<CString> statements = SqlViewIndexStatements(*object, problems);
  for (const CString& problem : problems) Log(problem);
  for (const CString& statement : statements) {
    CString error;
    if (m_bExportToServer != 1)
      WriteScript(m_hViewsSqlFile, statement + kSqlScriptGo);
    else if (!Execute(m_pDatabase, statement, &error))
      Log("View Index failed: " + OneLine(statement) + " | " + OneLine(error));
  }
}

void CSQLServer2000::GenerateStoredProcQueries(CViewStoredProc* object) {
  EmitObject(*this, object, m_hProcSqlFile, true);
}

void CSQLServer2000::EmitRule(const CViewStoredProc* rule, FILE_HANDLE file) { EmitObject(*this, rule, file, false); }

void CSQLServer2000::SendRuleBinding(const CString& statement, FILE_HANDLE file) {
  CString error;
  if (m_bExportToServer != 1) WriteScript(file, statement + kSqlScriptGo);
  else if (!Execute(m_pDatabase, statement, &error))
    Log("Bind Rule failed: " + OneLine(statement) + " | " + OneLine(error));
}

// A rule is bound, right after it is created, to every column that used it: the tables exist
// by then, as the rules follow them.
void CSQLServer2000::GenerateRulesQueries(CViewStoredProc* object) {
  // A rule of an exported type was created, and bound to its types, with the types.
  const bool withTypes = object && m_setTypeRules.count(object->m_strName);
  if (!withTypes) EmitRule(object, m_hRulesSqlFile);
  if (!object || object->m_strName.IsEmpty()) return;
  CString trimmed(object->m_strText);
  trimmed.Trim();
  if (trimmed.IsEmpty()) return;
  auto send = [&](const CString& statement) { SendRuleBinding(statement, m_hRulesSqlFile); };
  // The types first: a plain bind also binds their columns that have no rule, and a column's
  // own binding, written after, stays the column's.
  std::set<CString> types;
  for (const auto& entry : m_mapDataTypes) {
    const CDataType* type = entry.second;
    if (!type || type->m_strName.IsEmpty() || type->m_strRuleName != object->m_strName) continue;
    types.insert(type->m_strName);
    if (!withTypes) send(SqlBindRuleToTypeStatement(type->m_strName, object->m_strName));
  }
  for (const auto& entry : m_mapTables) {
    const CTable* table = entry.second;
    if (!table) continue;
    for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
      if (c->m_strRuleName == object->m_strName)
        send(SqlBindRuleStatement(OwnerOf(*table), table->m_strName, c->m_strName, c->m_strRuleName));
      else if (!withTypes && c->m_strRuleName.IsEmpty() && types.count(c->m_strUserType))
        // The original column had no rule although its type had one: the type's bind gave it
        // one. (With the types, the table's own script unbinds it.)
        send(SqlUnbindRuleStatement(OwnerOf(*table), table->m_strName, c->m_strName));
    }
  }
}

void CSQLServer2000::GenerateTriggerQueries(CViewStoredProc* object) {
  EmitObject(*this, object, m_hTriggersSqlFile, false);
}
