#include "common/names.h"

namespace {
constexpr char kTablePrefix[] = "UnicodeTab#_";

bool IsControlUnit(WORD unit) { return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F); }
}  // namespace

bool NarrowStoredName(ByteView utf16, CString& narrowed) {
  narrowed.Empty();
  bool narrowable = true;
  const BYTE* p = utf16.data();
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const WORD unit = WORD(p[i] | p[i + 1] << 8);
    if (unit > 0xFF || IsControlUnit(unit)) narrowable = false;
    if (p[i]) narrowed += char(p[i]);
  }
  return narrowable;
}

CString SubstituteTableName(int serial) { return FormatString("UnicodeTab#_%d", serial); }

CString SubstituteColumnName(int serial) { return FormatString("UnicodeCol#_%d", serial); }

bool IsSubstituteTableName(const CString& name) { return name.str().rfind(kTablePrefix, 0) == 0; }
