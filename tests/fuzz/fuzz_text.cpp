// The text conversions every stored name and value goes through: any bytes as UTF-16, as a
// code page's text, as a definition, and as UTF-8 made into file names.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/unicodetext.h"
#include "fuzzsupport.h"

namespace {
bool IsUtf8(const std::string& text) { return ValidUtf8(text) == text; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  ByteView bytes(data, size);
  const std::string_view raw(reinterpret_cast<const char*>(data), size);

  // Stored UTF-16 becomes UTF-8, and UTF-8 made from it goes back to the same units.
  bool clean = false;
  const std::string utf8 = Utf16ToUtf8(bytes, &clean);
  FUZZ_CHECK(IsUtf8(utf8));
  if (clean) FUZZ_CHECK(Utf8ToUtf16(utf8) == std::string(raw.substr(0, size - size % 2)));
  CString name;
  if (DecodeStoredName(bytes, name)) FUZZ_CHECK(clean && name.str() == utf8);

  FUZZ_CHECK(IsUtf8(DefinitionTextToUtf8(bytes)));
  const unsigned codePages[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
  if (size > 0) FUZZ_CHECK(IsUtf8(CodePageToUtf8(bytes.Sub(1, size - 1), codePages[data[0] % 14])));
  if (size >= 4) (void)CodePageOfCollation(DWORD(data[0] | data[1] << 8 | data[2] << 16 | unsigned(data[3]) << 24));

  // A file name holds nothing Windows forbids and ends in neither a dot nor a blank.
  const std::string file = WindowsFileName(raw);
  FUZZ_CHECK(IsUtf8(file));
  for (unsigned char c : file) FUZZ_CHECK(c >= 0x20 && c != 0x7F && std::string_view("\\/:*?\"<>|").find(char(c)) == std::string_view::npos);
  FUZZ_CHECK(file.empty() || (file.back() != '.' && file.back() != ' '));
  FUZZ_CHECK(IsUtf8(FoldedCase(ValidUtf8(raw))));
  return 0;
}
