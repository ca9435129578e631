// Statements that recreate the indexes of an indexed view after the view itself, shared by
// both engines so a view restored from either format gets the same indexes.
#pragma once

#include <vector>

#include "common/records.h"
#include "platform/cstring.h"

// The CREATE INDEX statements of the view's indexes, after the session options they need, the
// clustered one first, then the others by index id. An index that cannot be written whole (no name, a key or included
// column the view's columns do not name, no keys) is left out and described in `problems`;
// without its clustered index none of the others can exist, so they are left out with it.
// A view without a definition text is not created, and neither are its indexes.
//
// Key lists may start with one unfilled position 0 (the 2005/2008 form numbers keys from 1);
// any other unfilled position is a key that was not read.
std::vector<CString> SqlViewIndexStatements(const CViewStoredProc& view, std::vector<CString>& problems);
