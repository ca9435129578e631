#include "common/scriptfile.h"

#include <string>

#include "common/unicodetext.h"

namespace {
const char kByteOrderMark[] = "\xFF\xFE";
}  // namespace

bool WriteScriptFileText(FILE_HANDLE file, std::string_view utf8) {
  if (file == kInvalidFile) return false;
  if (IsUtf16File(file)) {
    const std::string units = Utf8ToUtf16(utf8);
    return WriteFileAll(file, units.data(), units.size());
  }
  if (IsAsciiText(utf8)) return WriteFileAll(file, utf8.data(), utf8.size());
  // The first text beyond ASCII: the file so far (ASCII, so the same characters) and this
  // text go out as UTF-16 behind the mark.
  std::string held;
  if (!ReadWrittenFile(file, held)) return false;
  std::string whole(kByteOrderMark, 2);
  whole += Utf8ToUtf16(held);
  whole += Utf8ToUtf16(utf8);
  if (!RewriteFileFromStart(file, whole)) return false;
  MarkUtf16File(file);
  return true;
}
