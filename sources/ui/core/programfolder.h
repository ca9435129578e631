// The program's folder: the executable's, which holds "Help.html", "sql.settings",
// "ReadMe.txt", "OutputFldr.txt" and the "Log Files" folder. Every path under it is made
// here, joined with '/', whatever the working directory is.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kHelpFileName = "Help.html";
inline constexpr const char* kSettingsFileName = "sql.settings";

// With a trailing '/'; empty when the executable's folder cannot be found.
std::string ProgramFolder();
// ProgramFolder() + name; empty when the folder is unknown.
std::string ProgramFile(std::string_view name);
