// Table and column names as the engines keep them: stored UTF-16 narrowed to 8-bit text.
#pragma once

#include "common/page.h"
#include "platform/cstring.h"

// The low byte of every UTF-16 unit of a stored name, zero bytes left out. Returns false when
// the name cannot stand as 8-bit text: a unit above U+00FF, or one that narrows to a control
// character (U+0000-U+001F, U+007F-U+009F). Such a name would put other characters, line
// feeds or nothing at all into statements and file names, so it gets a numbered substitute
// instead; Latin-1 names narrow as they are. An odd last byte is no unit and is ignored.
bool NarrowStoredName(ByteView utf16, CString& narrowed);

// Substitute names for the names NarrowStoredName refuses, numbered by the engine's serial.
CString SubstituteTableName(int serial);
CString SubstituteColumnName(int serial);
bool IsSubstituteTableName(const CString& name);
