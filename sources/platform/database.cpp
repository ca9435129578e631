#include "database.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// A batch that fails row by row can report thousands of records; the first ones say why.
constexpr int kMaxDiagnosticRecords = 50;

bool Succeeded(SQLRETURN rc) { return SQL_SUCCEEDED(rc); }
// A searched UPDATE or DELETE that touches no row answers SQL_NO_DATA: not an error.
bool ExecutedOk(SQLRETURN rc) { return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA; }

// Texts cross the driver as UTF-16 (the wide calls): names, statements and credentials reach
// the server with every character, whatever code page the driver would give its 8-bit calls.
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR holds one UTF-16 unit");

std::u16string Wide(std::string_view utf8) { return WidenUtf8(utf8); }

SQLWCHAR* WideArg(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

SQLPOINTER IntegerAttr(DWORD value) { return reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(value)); }

CDBException Diagnose(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc, const char* call) {
  CString text;
  CString firstState;
  LONG firstNative = 0;
  std::string previous;
  int kept = 0;
  std::vector<SQLWCHAR> message(512);
  for (SQLSMALLINT record = 1; record > 0; ++record) {
    SQLWCHAR wideState[SQL_SQLSTATE_SIZE + 1] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    // Lengths are in characters; a server message may name objects in any script.
    SQLRETURN r = SQLGetDiagRecW(handleType, handle, record, wideState, &native, message.data(),
                                 SQLSMALLINT(message.size()), &length);
    if (r == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(message.size()) && length < 32767) {
      message.resize(size_t(length) + 1);  // the text was cut: read the record again
      r = SQLGetDiagRecW(handleType, handle, record, wideState, &native, message.data(),
                         SQLSMALLINT(message.size()), &length);
    }
    if (!Succeeded(r)) break;
    size_t shown = length < 0 ? 0 : std::min(size_t(length), message.size() - 1);
    const std::string state = NarrowUtf16(reinterpret_cast<const char16_t*>(wideState),
                                          std::char_traits<char16_t>::length(reinterpret_cast<const char16_t*>(wideState)));
    std::string line = "State:" + state + ",Native:" + std::to_string(native) + ",Message:" +
                       NarrowUtf16(reinterpret_cast<const char16_t*>(message.data()), shown);
    if (record == 1) {
      firstState = state.c_str();
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

// One attribute of a connection string. Values in braces may hold ';' and '='; "}}" in
// braces is read as one '}' (the driver manager's convention; FreeTDS reads braces its own
// way, see QuoteConnectValue).
struct ConnectAttribute {
  std::string key;    // blanks around it removed
  std::string value;  // braces removed
  size_t valueBegin;  // where the value starts in the text, its brace included
  size_t valueEnd;    // one past the value, its closing brace included
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<ConnectAttribute> ParseConnectString(const std::string& s) {
  std::vector<ConnectAttribute> attributes;
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

    ConnectAttribute a;
    a.key = s.substr(keyBegin, keyEnd - keyBegin);
    a.valueBegin = eq + 1;
    while (a.valueBegin < n && IsBlank(s[a.valueBegin])) ++a.valueBegin;
    if (a.valueBegin < n && s[a.valueBegin] == '{') {
      size_t j = a.valueBegin + 1;
      while (j < n) {
        if (s[j] == '}') {
          if (j + 1 < n && s[j + 1] == '}') {
            a.value += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        a.value += s[j++];
      }
      a.valueEnd = j;
    } else {
      a.valueEnd = s.find(';', a.valueBegin);
      if (a.valueEnd == std::string::npos) a.valueEnd = n;
      a.value = s.substr(a.valueBegin, a.valueEnd - a.valueBegin);
      while (!a.value.empty() && IsBlank(a.value.back())) a.value.pop_back();
    }
    attributes.push_back(a);
    size_t next = s.find(';', a.valueEnd);
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return attributes;
}

bool SameName(const std::string& a, const char* b) { return CString(a.c_str()).CompareNoCase(b) == 0; }

// The driver manager takes the first of a repeated key.
const ConnectAttribute* FindAttribute(const std::vector<ConnectAttribute>& attributes, const char* key) {
  for (const ConnectAttribute& a : attributes) {
    if (SameName(a.key, key)) return &a;
  }
  return nullptr;
}

// The attributes of a registered driver ("Driver=libtdsodbc.so", ...) joined by '\n';
// nothing when no driver of that name is registered.
std::optional<std::string> RegisteredDriver(SQLHENV env, const char* name) {
  SQLCHAR description[512];
  SQLCHAR attributes[4096];
  SQLSMALLINT descriptionLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (Succeeded(SQLDrivers(env, direction, description, sizeof(description), &descriptionLength, attributes,
                              sizeof(attributes), &attributesLength))) {
    direction = SQL_FETCH_NEXT;
    if (CString(reinterpret_cast<const char*>(description)).CompareNoCase(name) != 0) continue;
    // The pairs are separated by zeros and end with two.
    std::string joined;
    const size_t length = std::min(size_t(attributesLength < 0 ? 0 : attributesLength), sizeof(attributes) - 1);
    for (size_t i = 0; i < length; ++i) {
      if (attributes[i] == 0 && i + 1 < length && attributes[i + 1] == 0) break;
      joined += attributes[i] ? char(attributes[i]) : '\n';
    }
    return joined;
  }
  return std::nullopt;
}

bool IsFreeTdsLibrary(const std::string& path) { return path.find("libtdsodbc") != std::string::npos; }

// Whether unixODBC will load FreeTDS for this DRIVER value: a registered name whose library
// is FreeTDS's, or the library's path itself.
bool ReachesFreeTds(SQLHENV env, const std::string& driver) {
  if (IsFreeTdsLibrary(driver) && driver.find('/') != std::string::npos) return true;
  std::optional<std::string> registered = RegisteredDriver(env, driver.c_str());
  if (!registered) return false;
  for (size_t at = 0; at < registered->size();) {
    size_t end = registered->find('\n', at);
    if (end == std::string::npos) end = registered->size();
    const std::string pair = registered->substr(at, end - at);
    if (CString(pair.substr(0, 7).c_str()).CompareNoCase("Driver=") == 0 && IsFreeTdsLibrary(pair)) return true;
    at = end + 1;
  }
  return false;
}

// FreeTDS's protocol version when neither the string nor a DSN names one. FreeTDS's own
// default ("auto") tries TDS 7.4 and then the Sybase protocol 5.0; against a host that
// accepts the connection but never answers, the second attempt never ends (FreeTDS 1.3),
// so the login time-out would not hold. 7.4 is what "auto" sends first, and SQL Server
// 2000, 2005 and 2008 answer it with their own version (7.1, 7.2, 7.3), as newer ones do.
constexpr const char* kFreeTdsVersion = "7.4";

// The program names the Windows driver. On this host FreeTDS speaks to SQL Server: the
// install script registers it under the Windows name; where that was not done, a driver
// registered as "FreeTDS" is used instead. Through FreeTDS the protocol version is fixed
// (above) unless the text sets it.
//
// FreeTDS takes a port as "SERVER=host,port" (as the Windows driver does) or as a separate
// "PORT=n"; without one it uses freetds.conf's port (1433 by default). The environment
// variables TDSPORT and TDSVER override both (FreeTDS reads them last).
CString ConnectStringForThisHost(SQLHENV env, const char* connect) {
  std::string text = connect;
  std::vector<ConnectAttribute> attributes = ParseConnectString(text);
  const ConnectAttribute* driver = FindAttribute(attributes, "DRIVER");
  if (!driver || FindAttribute(attributes, "DSN") || FindAttribute(attributes, "FILEDSN")) return CString(connect);

  std::string driverName = driver->value;
  while (!driverName.empty() && IsBlank(driverName.front())) driverName.erase(0, 1);
  if (SameName(driverName, "SQL Server") && !RegisteredDriver(env, "SQL Server") && RegisteredDriver(env, "FreeTDS")) {
    text = ReplaceOdbcDriver(connect, "SQL Server", "FreeTDS").str();
    driverName = "FreeTDS";
  }
  if (ReachesFreeTds(env, driverName) && !FindAttribute(attributes, "TDS_Version")) {
    if (!text.empty() && text.back() != ';') text += ';';
    text += "TDS_Version=";
    text += kFreeTdsVersion;
  }
  return CString(text);
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

  std::u16string text = Wide(ConnectStringForThisHost(env, connect).view());
  rc = SQLDriverConnectW(dbc, nullptr, WideArg(text), SQL_NTS, nullptr, 0, nullptr,
                         SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) throw Diagnose(SQL_HANDLE_DBC, dbc, rc, "SQLDriverConnect");

  m_hdbc.store(dbcGuard.Release());
  m_henv = envGuard.Release();
  m_strConnect = connect;
  m_dwOpenOptions = options;
  return true;
}

bool CDatabase::Reopen() {
  std::string connect;
  DWORD options = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    connect = m_strConnect;
    options = m_dwOpenOptions;
  }
  if (connect.empty()) return false;
  Close();
  try {
    return OpenEx(connect.c_str(), options);
  } catch (const CDBException&) {
    return false;
  }
}

bool IsConnectionLost(const CDBException& e) {
  if (e.m_strSqlState.GetLength() >= 2 && e.m_strSqlState.Left(2) == "08") return true;
  // FreeTDS gives a warning record first ("Unexpected EOF from the server", native 20017) and
  // the link failure after it; a connection closed under the statement says so in words.
  return e.m_strError.Find("State:08") != -1 || e.m_nNativeError == 20017 || e.m_strError.Find("not open") != -1 ||
         e.m_strError.Find("closed") != -1;
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
  // The explicit length passes the text whole, whatever quotes or brackets it holds.
  std::u16string text = Wide(std::string_view(sql, length));
  if (text.size() > size_t(INT32_MAX)) throw CDBException(SQL_ERROR, "ExecuteSQL: statement too long", "HY090");
  rc = SQLExecDirectW(stmt, WideArg(text), SQLINTEGER(text.size()));
  if (!ExecutedOk(rc)) throw Diagnose(SQL_HANDLE_STMT, stmt, rc, "SQLExecDirect");
  DrainResults(stmt);
}

void CDatabase::SetQueryTimeout(DWORD seconds) { m_dwQueryTimeout.store(seconds); }
DWORD CDatabase::GetQueryTimeout() const { return m_dwQueryTimeout.load(); }
void CDatabase::SetLoginTimeout(DWORD seconds) { m_dwLoginTimeout.store(seconds); }
DWORD CDatabase::GetLoginTimeout() const { return m_dwLoginTimeout.load(); }

void* CDatabase::GetConnectionHandle() const { return m_hdbc.load(); }

std::optional<CString> RegisteredOdbcDriver(const char* name) {
  SQLHENV env = SQL_NULL_HENV;
  if (!name || !Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return std::nullopt;
  HandleGuard envGuard(SQL_HANDLE_ENV, env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  std::optional<std::string> attributes = RegisteredDriver(env, name);
  if (!attributes) return std::nullopt;
  return CString(*attributes);
}

CString ReplaceOdbcDriver(const char* connect, const char* from, const char* to) {
  if (!connect) return CString();
  const std::string s = connect;
  std::vector<ConnectAttribute> attributes = ParseConnectString(s);
  const ConnectAttribute* driver = FindAttribute(attributes, "DRIVER");
  if (!driver || CString(driver->value.c_str()).CompareNoCase(from) != 0) return CString(connect);
  return CString(s.substr(0, driver->valueBegin) + "{" + std::string(to ? to : "") + "}" + s.substr(driver->valueEnd));
}

namespace {

// FreeTDS (1.3) reads a value that starts with '{' up to the first "};", taking every
// character between literally: "}}" stays two braces, and a braced value at the very end
// keeps its closing brace. So a braced value is always followed by ';', inner braces are
// not doubled, and a value holding "};" cannot be passed at all.
std::string QuoteConnectValue(const char* key, const char* value) {
  const std::string v = value ? value : "";
  if (v.find_first_of(";{}= \t") == std::string::npos) return v;
  if (v.find("};") != std::string::npos) {
    CString message;
    message.Format("The %s value holds \"};\", which the ODBC driver cannot take in a connection string", key);
    throw CDBException(SQL_ERROR, message, "HY024");
  }
  return "{" + v + "};";
}

}  // namespace

CString SqlServerConnectString(const char* server, const char* user, const char* password, const char* database) {
  std::string text = "DRIVER=SQL SERVER";
  const std::pair<const char*, const char*> parts[] = {
      {"SERVER", server}, {"UID", user}, {"PWD", password}, {"DATABASE", database}};
  for (const auto& [key, value] : parts) {
    if (text.back() != ';') text += ';';
    text += key;
    text += '=';
    text += QuoteConnectValue(key, value);
  }
  return CString(text);
}
