#include "database.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A batch that fails row by row can report thousands of records; the first ones say why.
constexpr int kMaxDiagnosticRecords = 50;

bool Succeeded(SQLRETURN rc) { return SQL_SUCCEEDED(rc); }
// A searched UPDATE or DELETE that touches no row answers SQL_NO_DATA: not an error.
bool ExecutedOk(SQLRETURN rc) { return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA; }

SQLPOINTER IntegerAttr(DWORD value) { return reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(value)); }

CDBException Diagnose(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc, const char* call) {
  CString text;
  CString firstState;
  LONG firstNative = 0;
  std::string previous;
  int kept = 0;
  std::vector<SQLCHAR> message(512);
  for (SQLSMALLINT record = 1; record > 0; ++record) {
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN r = SQLGetDiagRec(handleType, handle, record, state, &native, message.data(),
                                SQLSMALLINT(message.size()), &length);
    if (r == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(message.size()) && length < 32767) {
      message.resize(size_t(length) + 1);  // the text was cut: read the record again
      r = SQLGetDiagRec(handleType, handle, record, state, &native, message.data(), SQLSMALLINT(message.size()),
                        &length);
    }
    if (!Succeeded(r)) break;
    size_t shown = length < 0 ? 0 : std::min(size_t(length), message.size() - 1);
    std::string line = "State:" + std::string(reinterpret_cast<const char*>(state)) +
                       ",Native:" + std::to_string(native) + ",Message:" +
                       std::string(reinterpret_cast<const char*>(message.data()), shown);
    if (record == 1) {
      firstState = reinterpret_cast<const char*>(state);
      firstNative = native;
    }
    if (line == previous) continue;  // some drivers repeat a record verbatim
    previous = line;
    if (kept == kMaxDiagnosticRecords) {
      text += "\n(further diagnostics omitted)";
      break;
    }
    if (!text.IsEmpty()) text += "\n";
    text += line.c_str();
    ++kept;
  }
  if (text.IsEmpty()) {
    text.Format("%s failed (return code %d)%s", call, int(rc), rc == SQL_INVALID_HANDLE ? ": invalid handle" : "");
  }
  return CDBException(RETCODE(rc), text, firstState, firstNative);
}

// Frees an ODBC handle when it goes out of scope, also on the error paths.
class HandleGuard {
 public:
  HandleGuard(SQLSMALLINT type, SQLHANDLE handle) : m_type(type), m_handle(handle) {}
  ~HandleGuard() {
    if (m_handle) SQLFreeHandle(m_type, m_handle);
  }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  SQLHANDLE Release() {
    SQLHANDLE h = m_handle;
    m_handle = nullptr;
    return h;
  }

 private:
  SQLSMALLINT m_type;
  SQLHANDLE m_handle;
};

bool DriverRegistered(SQLHENV env, const char* name) {
  SQLCHAR description[512];
  SQLCHAR attributes[2048];
  SQLSMALLINT descriptionLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (Succeeded(SQLDrivers(env, direction, description, sizeof(description), &descriptionLength, attributes,
                              sizeof(attributes), &attributesLength))) {
    direction = SQL_FETCH_NEXT;
    if (CString(reinterpret_cast<const char*>(description)).CompareNoCase(name) == 0) return true;
  }
  return false;
}

// The program names the Windows driver; on this host FreeTDS speaks to SQL Server, unless
// the administrator registered a driver under the Windows name.
CString ConnectStringForThisHost(SQLHENV env, const char* connect) {
  CString mapped = ReplaceOdbcDriver(connect, "SQL Server", "FreeTDS");
  if (mapped == connect) return mapped;
  if (DriverRegistered(env, "SQL Server") || !DriverRegistered(env, "FreeTDS")) return CString(connect);
  return mapped;
}

// Reads every result set and row to the end. SQL Server reports an error of a later
// statement in a batch only when its result is reached, and unread results would keep
// the connection busy.
void DrainResults(SQLHSTMT stmt) {
  for (;;) {
    SQLSMALLINT columns = 0;
    SQLRETURN rc = SQLNumResultCols(stmt, &columns);
    if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_STMT, stmt, rc, "SQLNumResultCols");
    if (columns > 0) {
      while ((rc = SQLFetch(stmt)) != SQL_NO_DATA) {
        if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_STMT, stmt, rc, "SQLFetch");
      }
    }
    rc = SQLMoreResults(stmt);
    if (rc == SQL_NO_DATA) return;
    if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_STMT, stmt, rc, "SQLMoreResults");
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

CDatabase::~CDatabase() {
  std::lock_guard<std::mutex> lock(m_mutex);
  FreeHandles();
}

bool CDatabase::OpenEx(const char* connect, DWORD options) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_hdbc.load()) throw CDBException(SQL_ERROR, "OpenEx: the connection is already open", "08002");
  if (!connect) throw CDBException(SQL_ERROR, "OpenEx: no connection string", "HY009");

  SQLHENV env = SQL_NULL_HENV;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  if (!Succeeded(rc)) throw CDBException(RETCODE(rc), "OpenEx: the ODBC driver manager has no environment to give");
  HandleGuard envGuard(SQL_HANDLE_ENV, env);
  rc = SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_ENV, env, rc, "SQLSetEnvAttr");

  SQLHDBC dbc = SQL_NULL_HDBC;
  rc = SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_ENV, env, rc, "SQLAllocHandle");
  HandleGuard dbcGuard(SQL_HANDLE_DBC, dbc);
  // Both are hints: a driver that does not support them still connects.
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, IntegerAttr(m_dwLoginTimeout.load()), SQL_IS_UINTEGER);
  if (options & openReadOnly) {
    SQLSetConnectAttr(dbc, SQL_ATTR_ACCESS_MODE, IntegerAttr(SQL_MODE_READ_ONLY), SQL_IS_UINTEGER);
  }

  CString text = ConnectStringForThisHost(env, connect);
  rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS,
                        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_DBC, dbc, rc, "SQLDriverConnect");

  m_hdbc.store(dbcGuard.Release());
  m_henv = envGuard.Release();
  return true;
}

bool CDatabase::IsOpen() const { return m_hdbc.load() != nullptr; }

void CDatabase::Close() {
  m_bClosing.store(true);
  std::lock_guard<std::mutex> lock(m_mutex);
  FreeHandles();
  m_bClosing.store(false);
}

void CDatabase::FreeHandles() {
  if (void* dbc = m_hdbc.exchange(nullptr)) {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  if (m_henv) {
    SQLFreeHandle(SQL_HANDLE_ENV, m_henv);
    m_henv = nullptr;
  }
}

void CDatabase::ExecuteSQL(const char* sql) {
  if (m_bClosing.load()) throw CDBException(SQL_ERROR, "ExecuteSQL: the connection is closing", "08003");
  std::lock_guard<std::mutex> lock(m_mutex);
  SQLHDBC dbc = m_hdbc.load();
  if (!dbc) throw CDBException(SQL_ERROR, "ExecuteSQL: the connection is not open", "08003");
  if (!sql) throw CDBException(SQL_ERROR, "ExecuteSQL: no statement", "HY009");
  const size_t length = std::strlen(sql);
  if (length > size_t(INT32_MAX)) throw CDBException(SQL_ERROR, "ExecuteSQL: statement too long", "HY090");

  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_DBC, dbc, rc, "SQLAllocHandle");
  HandleGuard stmtGuard(SQL_HANDLE_STMT, stmt);
  // A driver without time-outs refuses the attribute; the statement still runs.
  SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, IntegerAttr(m_dwQueryTimeout.load()), SQL_IS_UINTEGER);
  // The explicit length passes the text byte for byte, whatever quotes or brackets it holds.
  rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQLINTEGER(length));
  if (!ExecutedOk(rc)) throw Diagnose(SQL_HANDLE_STMT, stmt, rc, "SQLExecDirect");
  DrainResults(stmt);
}

void CDatabase::SetQueryTimeout(DWORD seconds) { m_dwQueryTimeout.store(seconds); }
DWORD CDatabase::GetQueryTimeout() const { return m_dwQueryTimeout.load(); }
void CDatabase::SetLoginTimeout(DWORD seconds) { m_dwLoginTimeout.store(seconds); }
DWORD CDatabase::GetLoginTimeout() const { return m_dwLoginTimeout.load(); }

void* CDatabase::GetConnectionHandle() const { return m_hdbc.load(); }

CString ReplaceOdbcDriver(const char* connect, const char* from, const char* to) {
  if (!connect) return CString();
  const std::string s = connect;
  const size_t n = s.size();
  size_t pos = 0;
  while (pos < n) {
    size_t eq = s.find('=', pos);
    size_t semi = s.find(';', pos);
    if (eq == std::string::npos) break;
    if (semi != std::string::npos && semi < eq) {  // a segment without '='
      pos = semi + 1;
      continue;
    }
    size_t keyBegin = pos, keyEnd = eq;
    while (keyBegin < keyEnd && IsBlank(s[keyBegin])) ++keyBegin;
    while (keyEnd > keyBegin && IsBlank(s[keyEnd - 1])) --keyEnd;
    const std::string key = s.substr(keyBegin, keyEnd - keyBegin);

    size_t valueBegin = eq + 1;
    while (valueBegin < n && IsBlank(s[valueBegin])) ++valueBegin;
    size_t valueEnd;  // one past the value, braces included
    std::string value;
    if (valueBegin < n && s[valueBegin] == '{') {
      size_t j = valueBegin + 1;
      while (j < n) {
        if (s[j] == '}') {
          if (j + 1 < n && s[j + 1] == '}') {  // "}}" is a literal brace
            value += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += s[j++];
      }
      valueEnd = j;
    } else {
      valueEnd = s.find(';', valueBegin);
      if (valueEnd == std::string::npos) valueEnd = n;
      value = s.substr(valueBegin, valueEnd - valueBegin);
      while (!value.empty() && IsBlank(value.back())) value.pop_back();
    }

    if (CString(key.c_str()).CompareNoCase("DRIVER") == 0) {
      // The driver manager takes the first DRIVER; later ones do not matter.
      if (CString(value.c_str()).CompareNoCase(from) != 0) return CString(connect);
      return CString(s.substr(0, valueBegin) + "{" + std::string(to ? to : "") + "}" + s.substr(valueEnd));
    }
    size_t next = s.find(';', valueEnd);
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return CString(connect);
}
