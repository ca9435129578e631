// The connection string: built from four typed values, it must read back, the way
// FreeTDS's driver reads it, as exactly those four values and nothing more, whatever
// separators, braces or blanks they hold; a value that cannot be passed is refused. The
// driver-name replacement must take any text.
//
// Input: the server, user, password and database, separated by zero bytes (missing ones
// are empty). The whole input is also given to the driver-name replacement as it is.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzzsupport.h"
#include "platform/database.h"

namespace {

// FreeTDS's reading: a key runs to '=' (blanks before it skipped); a value that starts
// with '{' runs to the first "};" (or the end) and is taken literally, any other value to
// the next ';'.
std::vector<std::pair<std::string, std::string>> ReadAsFreeTds(const std::string& s) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t p = 0;
  while (p < s.size()) {
    size_t eq = s.find('=', p);
    if (eq == std::string::npos) break;
    while (p < eq && s[p] == ' ') ++p;
    std::string key = s.substr(p, eq - p);
    p = eq + 1;
    size_t end;
    if (p < s.size() && s[p] == '{') {
      ++p;
      end = s.find("};", p);
    } else {
      end = s.find(';', p);
    }
    if (end == std::string::npos) end = s.size();
    out.emplace_back(key, s.substr(p, end - p));
    p = end;
    if (p >= s.size()) break;
    if (s[p] == '}') ++p;
    ++p;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const std::string text = input.substr(0, input.find('\0'));
  CString replaced = ReplaceOdbcDriver(text.c_str(), "SQL Server", "FreeTDS");
  FUZZ_CHECK(replaced == text.c_str() || replaced.Find("{FreeTDS}") != -1);

  std::string values[4];
  size_t at = 0;
  for (std::string& v : values) {
    if (at > input.size()) break;
    size_t end = input.find('\0', at);
    if (end == std::string::npos) end = input.size();
    v = input.substr(at, end - at);
    at = end + 1;
  }
  bool unpassable = false;
  for (const std::string& v : values) unpassable |= v.find("};") != std::string::npos;
  try {
    const std::string built =
        SqlServerConnectString(values[0].c_str(), values[1].c_str(), values[2].c_str(), values[3].c_str()).str();
    FUZZ_CHECK(!unpassable);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"DRIVER", "SQL SERVER"}, {"SERVER", values[0]}, {"UID", values[1]}, {"PWD", values[2]}, {"DATABASE", values[3]}};
    FUZZ_CHECK(ReadAsFreeTds(built) == expected);
  } catch (const CDBException& e) {
    FUZZ_CHECK(unpassable);
    FUZZ_CHECK(e.m_strSqlState == "HY024");
  }
  return 0;
}
