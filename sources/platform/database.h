// ODBC connection on which the engines run the recovered statements against a live
// server (unixODBC; FreeTDS's driver reaches SQL Server).
//
// Errors: every failure throws CDBException BY VALUE. Catch it by reference,
//   try { db.ExecuteSQL(sql); } catch (const CDBException& e) { log(e.m_strError); }
// Code written for the Windows class library caught a pointer and called e->Delete();
// a value needs neither, and nothing can leak.
//
// The ODBC headers stay in database.cpp so their macros do not spread to other code.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/cstring.h"
#include "platform/types.h"

using RETCODE = short;  // same type as the ODBC headers' RETCODE

class CDBException : public std::exception {
 public:
  CDBException(RETCODE retCode, CString error, CString sqlState = CString(), LONG nativeError = 0)
      : m_nRetCode(retCode), m_strError(std::move(error)), m_strSqlState(std::move(sqlState)),
        m_nNativeError(nativeError) {}
  const char* what() const noexcept override { return m_strError.c_str(); }

  RETCODE m_nRetCode;  // the ODBC return code of the failed call (-1 = SQL_ERROR)
  // The driver's diagnostics, one line per record (joined by "\n"):
  //   "State:42000,Native:102,Message:[FreeTDS][SQL Server]Incorrect syntax near 'x'."
  CString m_strError;
  CString m_strSqlState;  // SQLSTATE of the first record ("" when the driver gave none)
  LONG m_nNativeError;    // native code of the first record
};

class CDatabase {
 public:
  // OpenEx options. There is no ODBC dialog on this platform: the driver is never
  // allowed to prompt, so noOdbcDialog is always in effect and forceOdbcDialog is
  // ignored, as is useCursorLib.
  enum : DWORD { openReadOnly = 0x0001, useCursorLib = 0x0002, noOdbcDialog = 0x0008, forceOdbcDialog = 0x0010 };
  static constexpr DWORD kDefaultQueryTimeout = 15;  // seconds, as the Windows library had
  static constexpr DWORD kDefaultLoginTimeout = 15;

  CDatabase() = default;
  virtual ~CDatabase();
  CDatabase(const CDatabase&) = delete;
  CDatabase& operator=(const CDatabase&) = delete;

  // Connects with an ODBC connection string ("DRIVER=...;SERVER=...;UID=...;PWD=...").
  // Returns true when connected; when the driver refuses, throws CDBException with the
  // driver's text so the program can show it (the bool is kept for callers written for
  // the Windows library, which returned false only when its dialog was cancelled).
  // "DRIVER=SQL SERVER" names the Windows driver: when unixODBC has no driver of that
  // name but knows "FreeTDS", FreeTDS is used instead. Through FreeTDS, a string that
  // names no TDS_Version gets one, so that the login time-out holds (see database.cpp).
  // Waits for the server at most the login time-out (15 s unless set).
  // Throws too when the connection is already open or the text is null.
  // Neither the connection string nor the password is logged or put into the exception.
  virtual bool OpenEx(const char* connect, DWORD options = 0);
  virtual bool IsOpen() const;
  // Connects again with the connection string and options of the last OpenEx that succeeded,
  // after closing what is left of the connection (a connection the server dropped). False
  // when there was no such OpenEx or the server refuses; never throws.
  virtual bool Reopen();
  // Disconnects; harmless when not open. Waits for a statement in progress; statements
  // started on other threads meanwhile fail as "not open".
  virtual void Close();

  // Runs one statement text (it may be a batch of several) up to its terminating zero.
  // Result sets are read to the end and discarded, so the connection is free for the
  // next statement, and an error raised by a later statement of a batch is not lost.
  // Throws CDBException when the driver reports an error or the connection is closed;
  // the connection stays usable after a failed statement.
  virtual void ExecuteSQL(const char* sql);

  // Seconds every later statement may run (0 = no limit). Drivers that do not support
  // a time-out run the statement without one.
  virtual void SetQueryTimeout(DWORD seconds);
  virtual DWORD GetQueryTimeout() const;
  // Seconds OpenEx waits for the server; applies to the next OpenEx.
  virtual void SetLoginTimeout(DWORD seconds);
  virtual DWORD GetLoginTimeout() const;

  // The SQLHDBC of the open connection (null when closed), for diagnostics such as
  // driver-manager tracing. Do not call ODBC on it while another thread executes.
  void* GetConnectionHandle() const;

 private:
  void FreeHandles();

  // One connection serves one thread at a time; the lock makes a second thread wait
  // instead of interleaving calls on the same handles.
  mutable std::mutex m_mutex;
  void* m_henv = nullptr;
  std::atomic<void*> m_hdbc{nullptr};  // atomic so IsOpen need not wait for a running statement
  // Set while Close waits for the lock, so a thread sending statement after statement
  // cannot keep Close waiting.
  std::atomic<bool> m_bClosing{false};
  std::atomic<DWORD> m_dwQueryTimeout{kDefaultQueryTimeout};
  std::atomic<DWORD> m_dwLoginTimeout{kDefaultLoginTimeout};
  // For Reopen: held in memory only, never logged.
  std::string m_strConnect;
  DWORD m_dwOpenOptions = 0;
};

// Whether a failed statement lost its connection (the server went away, the link broke,
// the connection is closed): SQLSTATE class 08. Another statement on it cannot succeed
// until the connection is opened again.
bool IsConnectionLost(const CDBException& e);

// The connection string the program opens SQL Server with:
//   "DRIVER=SQL SERVER;SERVER=<server>;UID=<user>;PWD=<password>;DATABASE=<database>"
// A value is put in braces only when it holds ';', '{', '}', '=' or a blank, so plain
// names and passwords give that text unchanged; the server may carry a port as
// "host,port". A braced value is followed by ';' (FreeTDS's reading of braces needs it).
// Throws CDBException (state HY024) when a value holds "};", which FreeTDS cannot be
// given in any form; the message names the attribute, never the value.
CString SqlServerConnectString(const char* server, const char* user, const char* password, const char* database);

// The attributes unixODBC holds for a registered driver, one "key=value" a line
// ("Description=...\nDriver=libtdsodbc.so\n..."); nothing when no driver has that name
// (compared without case).
std::optional<CString> RegisteredOdbcDriver(const char* name);

// Returns `connect` with the value of its DRIVER attribute replaced by "{to}" when that
// value is `from` (compared without case, braces or surrounding blanks); otherwise
// returns `connect` unchanged. Values in braces may hold ';' and '=' ("PWD={a;b}").
CString ReplaceOdbcDriver(const char* connect, const char* from, const char* to);
