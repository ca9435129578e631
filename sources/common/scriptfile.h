// Script files as sqlcmd and osql read them without options. A file that holds only ASCII is
// written byte for byte as its text; from the first character beyond ASCII (a name or a
// definition text holding one) the whole file becomes UTF-16LE with a byte-order mark, which
// both tools read as Unicode: what the file held so far is rewritten so, and every later
// text is written as UTF-16 too.
#pragma once

#include <string_view>

#include "platform/files.h"

// Appends `utf8` to the script file `file`; false when the write failed.
bool WriteScriptFileText(FILE_HANDLE file, std::string_view utf8);
