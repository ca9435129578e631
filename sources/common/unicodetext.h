// Text as SQL Server stores it, and as this program carries it. Names, definition texts,
// messages and paths travel as UTF-8 in CString / std::string; stored UTF-16 becomes UTF-8
// once, where it is read. Values stay as their bytes until the edge that shows them: UTF-16
// for the Unicode types, and the column's code page for char, varchar and text.
#pragma once

#include <string>
#include <string_view>

#include "common/page.h"
#include "platform/cstring.h"

// UTF-16LE as UTF-8. A lone surrogate becomes U+FFFD; an odd last byte is no unit and is left
// out. Sets *clean (when given) to false when either happened.
std::string Utf16ToUtf8(ByteView utf16, bool* clean = nullptr);

// UTF-8 as UTF-16LE, without a byte-order mark. Bytes that are not UTF-8 are taken as the
// Latin-1 characters they would be, so no text is lost on the way to a file.
std::string Utf8ToUtf16(std::string_view utf8);

// A stored UTF-16 name as UTF-8. Returns false when the name cannot be one: a lone surrogate,
// or a control character (U+0000-U+001F, U+007F-U+009F) that would put line feeds or nothing
// at all into statements and file names. `name` holds the decoded text either way.
bool DecodeStoredName(ByteView utf16, CString& name);

// A definition text (view, procedure, rule, trigger, function, computed column) as UTF-8.
// Texts are stored as UTF-16, zero units left out; bytes that cannot be UTF-16 (an odd count,
// or no zero high byte anywhere, which SQL text always has) are taken as 1252 text.
std::string DefinitionTextToUtf8(ByteView bytes);

// Text that should be UTF-8 made sure to be: bytes that are no UTF-8 are taken as the Latin-1
// characters they would be (the program's texts were 8-bit once).
std::string ValidUtf8(std::string_view text);

// A name (UTF-8) as one file or folder name Windows can hold, in UTF-8: every letter kept;
// left out are only what Windows forbids in a name (\ / : * ? " < > |, control characters
// U+0000-U+001F and U+007F-U+009F) and trailing dots and blanks. A name Windows reserves
// for a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, also before an extension) gets "_".
std::string WindowsFileName(std::string_view name);

// Text folded to lower case, every letter (Windows compares file names so): for telling
// names that would be one file apart.
std::string FoldedCase(std::string_view utf8);

// The bytes as hexadecimal digits, for the log where a name cannot be shown.
std::string HexOfBytes(ByteView bytes);

// True when every byte is below 0x80.
bool IsAsciiText(std::string_view text);

// Bytes of a Windows code page (874, 932, 936, 949, 950, 1250-1258, ...) as UTF-8. A byte
// sequence the code page does not define becomes U+FFFD; an unknown code page is read as 1252.
std::string CodePageToUtf8(ByteView bytes, unsigned codePage);

// The Windows code page of a stored collation id (the 4-byte id of column, type and database
// rows): SQL collations by their sort order, Windows collations by their locale. 0 when the
// id names no collation (the Unicode types carry 0).
unsigned CodePageOfCollation(DWORD collationId);
