// The desktop's readers of outside text: a "sql.settings" file of any bytes, and the same
// bytes taken as a file-system path to show in a message.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzzsupport.h"
#include "ui/core/displaytext.h"
#include "ui/core/sqlsettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const SqlSettings settings = SqlSettings::Parse(text);
  settings.ThreadSize(3);
  const std::string avoid = settings.AvoidDuplicate();
  // What was read writes back as a file that reads the same: no key holds '=' or a line end,
  // no value a line feed.
  std::string again;
  for (const auto& [key, value] : settings.Values()) {
    FUZZ_CHECK(key.find('=') == std::string::npos && key.find('\n') == std::string::npos);
    FUZZ_CHECK(value.find('\n') == std::string::npos);
    again += key + "=" + value + "\r\n";
  }
  FUZZ_CHECK(SqlSettings::Parse(again).Values() == settings.Values());
  FUZZ_CHECK(avoid == settings.Value("Avoid_Duplicate").value_or(""));

  // A shown path is UTF-8 (showing it again changes nothing), at most twice as long (a byte
  // that is no UTF-8 becomes a two-byte letter), and plain ASCII passes unchanged.
  const std::string shown = PathForDisplay(text);
  FUZZ_CHECK(shown.size() <= 2 * size);
  FUZZ_CHECK(PathForDisplay(shown) == shown);
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii) FUZZ_CHECK(shown == text);
  return 0;
}
