// Creates the engine for a SQL Server version: by the number the version dialog gives
// (1 = 2000, 2 = 2005, 3 = 2008) or by the version text a scan file holds ("2000", "2005",
// "2008"). Each call makes a new engine; the caller owns it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class CSQLServer;

namespace uicore {

// Version number of a scan file's version text; 0 for any other text.
int VersionOfText(std::string_view text);

// The new engine, or null with the reason in *reason (a version no engine serves, or one
// whose engine is not part of this build).
std::unique_ptr<CSQLServer> CreateEngine(int version, std::string* reason = nullptr);
std::unique_ptr<CSQLServer> CreateEngine(std::string_view versionText, std::string* reason = nullptr);

}  // namespace uicore
