#include "scanfilesupport.h"

#include <cstdio>

#include "common/executionlog.h"

int SaveScanWhereAsked(const std::function<bool(CString& path)>& ask, const std::function<bool(const CString& path)>& save) {
  CString path;
  if (!ask || !ask(path) || path.IsEmpty()) return -1;
  if (path.Find('.', path.ReverseFind('/') + 1) < 0) path += ".str";
  return save(path) ? 1 : 0;
}

bool WriteScanFileAtomically(const char* path, const std::function<void(CArchive&)>& write, CString* error,
                             ScanFileLogTarget log) {
  if (!path || !*path) {
    if (error) *error = "no file name";
    return false;
  }
  const CString target(path);
  const CString temp = target + ".tmp";
  CArchive ar;
  if (!ar.Open(temp, CArchive::store)) {
    CExecutionLog::WriteLog(0, log.error, FormatString("Scan file could not be created: %s", temp), log.toErrorLog);
    if (error) *error = "the file could not be created";
    return false;
  }
  try {
    write(ar);
    ar.Close();
  } catch (const CArchiveException& e) {
    ar.Abort();
    std::remove(temp);
    CExecutionLog::WriteLog(0, log.error, FormatString("Scan file could not be written: %s", e.what()), log.toErrorLog);
    if (error) *error = e.what();
    return false;
  }
  if (std::rename(temp, target) != 0) {
    std::remove(temp);
    CExecutionLog::WriteLog(0, log.error, FormatString("Scan file could not be renamed to %s", target), log.toErrorLog);
    if (error) *error = "the file could not be replaced";
    return false;
  }
  return true;
}
