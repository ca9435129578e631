// Table and column names as the engines keep them: stored UTF-16 decoded to UTF-8.
#pragma once

#include "common/page.h"
#include "common/unicodetext.h"
#include "platform/cstring.h"

// Stored names are read with DecodeStoredName (unicodetext.h). One it refuses (a broken
// surrogate pair, or a control character that would put line feeds or nothing at all into
// statements and file names) gets a numbered substitute, and the log keeps the bytes it held
// (LogSubstituteName).
// Substitute names, numbered by the engine's serial.
CString SubstituteTableName(int serial);
CString SubstituteColumnName(int serial);
bool IsSubstituteTableName(const CString& name);

// Logs which object got `substitute` and the bytes its stored name held.
void LogSubstituteName(const char* what, long objectId, ByteView stored, const CString& substitute);
