// The folder of the running executable, which holds "Log Files" and "sql.settings".
#pragma once

#include <string>

// The executable's folder with a trailing '/'; empty when it cannot be determined.
std::string GetModuleFolderPath();
// Tests point the logs and settings at a folder of their own; an empty text restores
// the executable's folder.
void SetModuleFolderOverride(const std::string& folder);
