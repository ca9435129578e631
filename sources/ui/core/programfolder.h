// The program's folders (GetModuleFolderPath and GetStateFolderPath decide them): the
// executable's, which holds what ships with the program ("Help.html", "ReadMe.txt"), and the
// state folder, which holds what the program writes and the user edits ("sql.settings",
// "OutputFldr.txt", the "Log Files" folder). Every path under them is made here, joined with
// '/', whatever the working directory is.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kHelpFileName = "Help.html";
inline constexpr const char* kSettingsFileName = "sql.settings";
inline constexpr const char* kOutputListFileName = "OutputFldr.txt";

// With a trailing '/'; empty when the executable's folder cannot be found.
std::string ProgramFolder();
// ProgramFolder() + name; empty when the folder is unknown.
std::string ProgramFile(std::string_view name);

// The state folder, with a trailing '/': the program's folder when it is writable.
std::string StateFolder();
// StateFolder() + name; empty when the folder is unknown.
std::string StateFile(std::string_view name);
