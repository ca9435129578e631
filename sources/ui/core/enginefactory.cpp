#include "ui/core/enginefactory.h"

#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"

namespace uicore {

int VersionOfText(std::string_view text) {
  if (text == "2000") return 1;
  if (text == "2005") return 2;
  if (text == "2008") return 3;
  return 0;
}

std::unique_ptr<CSQLServer> CreateEngine(int version, std::string* reason) {
  switch (version) {
    case 2:  // 2005 and 2008 share one on-disk format
    case 3:
      return std::make_unique<CSQLServer2008>();
    case 1:
      return std::make_unique<CSQLServer2000>();
    default:
      if (reason) *reason = "Unknown SQL Server version " + std::to_string(version) + ".";
      return nullptr;
  }
}

std::unique_ptr<CSQLServer> CreateEngine(std::string_view versionText, std::string* reason) {
  const int version = VersionOfText(versionText);
  if (version == 0) {
    if (reason) *reason = "Unknown SQL Server version \"" + std::string(versionText) + "\".";
    return nullptr;
  }
  return CreateEngine(version, reason);
}

}  // namespace uicore
