#include "guid.h"

CString GuidToString(const BYTE* b) {
  if (!b) return CString();
  CString s;
  s.Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           DWORD(b[0]) | DWORD(b[1]) << 8 | DWORD(b[2]) << 16 | DWORD(b[3]) << 24, unsigned(b[4] | b[5] << 8),
           unsigned(b[6] | b[7] << 8), b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return s;
}
