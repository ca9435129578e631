// Text of a 16-byte GUID in registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#pragma once

#include "cstring.h"
#include "types.h"

// The first three groups are little-endian numbers, the last two are bytes in order.
CString GuidToString(const BYTE* bytes16);
