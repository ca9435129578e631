// The batch file of a script export, and the completion text that tells the user what it runs.
// The batch file is for the Windows command interpreter, so it keeps CR LF line ends and
// backslash paths whatever system wrote it: two arguments (server, database) run every script
// with Windows authentication, four (user, password, server, database) with SQL Server
// authentication, anything else prints the syntax.
//
// Beside it goes a POSIX shell script for Linux and other Unix systems, made from the same list
// of scripts so the two cannot drift apart: the same arguments, every script run with
// "sqlcmd -b" in the same order, and the first one that fails stops the run and is named.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace uicore {

// The command-line client of the server generation the scripts were made for.
enum class BatchClient { kOsql, kSqlcmd };

class BatchFile {
 public:
  explicit BatchFile(BatchClient client);

  // One script, run by both sections. `argument` is what follows "-i " before the line end,
  // exactly as the batch file shall hold it (a bare name, a name and a blank, or a quoted path).
  void Add(std::string_view argument);
  // A table's script or constraint script: Tables\<file name>, in double quotes.
  void AddTableScript(std::string_view fileName);

  // The whole file: the Windows-authentication section (header first), "goto end", the
  // SQL-authentication section and the syntax tail. The last line has no line end.
  std::string Text() const;
  // Forgets the Windows-authentication lines (an export that ended early leaves no batch).
  void ClearWindowsSection();

  // The shell script: LF line ends, forward slashes, each script's path quoted for the shell.
  // With two arguments it runs "sqlcmd -b -E -S <server> -d <database> -i <script>", with
  // four "sqlcmd -b -U <user> -S <server> -d <database> -i <script>" and the password in
  // SQLCMDPASSWORD, where other users of the machine cannot read it; anything else prints the
  // syntax. It always runs sqlcmd, which is what Linux has, whatever the batch file runs.
  std::string ShellText() const;
  // The scripts in the order both files run them, as paths relative to the output folder.
  std::vector<std::string> Scripts() const;

  static const char* Header();
  static const char* Tail();

 private:
  std::string m_client;
  std::string m_windows;  // the header and "<client> -E -S %1 -d %2 -i ..." lines
  std::string m_sql;      // ":label2" and "<client> -U %1 -P %2 -S %3 -d %4 -i ..." lines
  std::vector<std::string> m_arguments;  // each Add's argument as given
};

// What a finished script export left in its folder, in the order its batch file runs it.
struct ScriptFolderContents {
  std::string folder;        // the output folder
  std::string batchFile;     // its name, ".bat" included
  std::string shellFile;     // the shell script's name, ".sh" included; "" when there is none
  bool defaults = false;     // Default.sql (written when tables were exported)
  int tables = 0;            // table scripts, each with its constraint script
  bool foreignKeys = false;  // ForeignKeys.sql
  std::vector<std::string> objectScripts;  // Views.sql ... Triggers.sql, those written
  // Views.sql holds the functions too (views and functions use each other both ways).
  bool functionsInViews = false;
  // With "Recover deleted rows": the deleted rows among the rows, and those
  // left out as copies.
  bool deletedRows = false;
  int deletedRecovered = 0;
  int deletedCopies = 0;
};

// The text shown when a script export has finished: where the scripts are and how to run them.
std::string ExportCompletionMessage(const ScriptFolderContents& contents);

}  // namespace uicore
