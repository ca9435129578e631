#include "common/names.h"

#include "common/executionlog.h"
#include "common/unicodetext.h"

namespace {
constexpr char kTablePrefix[] = "UnicodeTab#_";
}  // namespace

CString SubstituteTableName(int serial) { return FormatString("UnicodeTab#_%d", serial); }

CString SubstituteColumnName(int serial) { return FormatString("UnicodeCol#_%d", serial); }

bool IsSubstituteTableName(const CString& name) { return name.str().rfind(kTablePrefix, 0) == 0; }

void LogSubstituteName(const char* what, long objectId, ByteView stored, const CString& substitute) {
  const CString line = FormatString("%s of object %ld: the stored name (UTF-16 bytes 0x%s) is no text; named %s",
                                    what, objectId, HexOfBytes(stored), substitute);
  CExecutionLog::WriteLog(0, 0, line.c_str(), false);
}
