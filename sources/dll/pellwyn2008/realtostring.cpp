// The engine operation over the preview text of a real value, which both engines share.
#include "common/formatters.h"
#include "pellwyn2008.h"

CString CSQLServer2008::RealToString(DWORD bits) { return RealToStringText(bits); }
