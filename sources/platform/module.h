// The program's two folders. The executable's folder holds what ships with the program
// (Help.html, ReadMe.txt, the engine libraries). The state folder holds what the program
// writes for itself: "Log Files", "sql.settings", "OutputFldr.txt" and the temporary files of
// large values. They are one folder wherever the user may write beside the executable (a
// build tree, an unpacked copy); an installed copy's folder belongs to root, so its state goes
// to the user's XDG state folder instead.
#pragma once

#include <string>

// The executable's folder with a trailing '/'; empty when it cannot be determined.
std::string GetModuleFolderPath();
// Tests point the logs and settings at a folder of their own; an empty text restores
// the executable's folder.
void SetModuleFolderOverride(const std::string& folder);

// The folder the program writes its own files to, with a trailing '/': the executable's
// folder when this process may create files in it, otherwise $XDG_STATE_HOME/corvane/
// (~/.local/state/corvane/ when the variable is unset, empty or not absolute), created with
// mode 0700 when missing. Every reader and writer of the logs, the settings and the output
// list goes through this one decision.
std::string GetStateFolderPath();

// The decision itself, apart from the file system and the environment: the module folder
// when it is writable, else the XDG state folder from the values of XDG_STATE_HOME and HOME
// (null when unset). When neither gives an absolute folder it is the module folder after all:
// writes there fail quietly, as they would have without the fallback, rather than landing in
// whatever the working directory is.
std::string ChooseStateFolder(const std::string& moduleFolder, bool moduleFolderWritable,
                              const char* xdgStateHome, const char* home);

// True when `folder` is a directory in which this process may create files.
bool IsWritableFolder(const std::string& folder);
