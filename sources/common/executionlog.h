// The execution log: "Log Files/ExecLog.log" and "Log Files/ErrorLog.log" in the program's
// state folder (beside the running program when it may write there; GetStateFolderPath). Every line is one append, so concurrent writers never interleave and
// the log is complete on disk after each call.
#pragma once

#include <string>

class CExecutionLog {
 public:
  // Writes the "Last Log On" banner to ErrorLog.log and then to ExecLog.log.
  CExecutionLog();
  virtual ~CExecutionLog();

  // Sets the folder WriteLog uses: the program's state folder.
  static void GetModuleFolder();
  // "Code:<code>  Error:<error>  MSG:<message>" + CR LF. A null message is written as empty.
  static bool WriteLog(int code, int error, const char* message, bool toErrorLog);

  // The folder WriteLog currently writes under (with trailing '/'); empty before
  // GetModuleFolder has run.
  static std::string LogFolder();
};
