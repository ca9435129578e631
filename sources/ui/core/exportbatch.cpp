#include "ui/core/exportbatch.h"

namespace uicore {

namespace {

const char kHeader[] =
    "@echo off\r\n"
    "set op1=false\r\n"
    "set op2=false\r\n"
    "if not \"%0\"==\"\" (if not \"%1\"==\"\" (if not \"%2\"==\"\" set op1=true))\r\n"
    "if not \"%3\"==\"\" (if not \"%4\"==\"\" set op2=true)\r\n"
    "if \"%op1%\"==\"true\" (if \"%op2%\"==\"true\" goto label2)\r\n"
    "if \"%op1%\"==\"true\" (if \"%op2%\"==\"false\" goto label1)\r\n"
    "goto label3\r\n"
    ":label1\r\n";

// Two of the option lines break a word with a run of 24 blanks; the batch files users already
// have say it so, and scripts that compare them expect the same bytes.
const char kTail[] =
    "goto end\r\n"
    ":label3\r\n"
    "echo.\r\n"
    "echo Syntax:\r\n"
    "echo\t^<batch file path^> ^[^<user name^> ^<password^>^] ^<server name^> ^<database name^>\r\n"
    "echo.\r\n"
    "echo  Options:\r\n"
    "echo.\r\n"
    "echo    batch file path    : path of batch file which will run the exported SQL scrip"
    "                        ts\r\n"
    "echo.\r\n"
    "echo    user name password : user name and password for SQL Server^(for SQL Server Aut"
    "                        hentication^)\r\n"
    "echo.\r\n"
    "echo    server name        : instance of SQL Server to which to connect\r\n"
    "echo.\r\n"
    "echo    database name      : name of database to which data will be exported\r\n"
    "echo.\r\n"
    ":end";

}  // namespace

BatchFile::BatchFile(BatchClient client)
    : m_client(client == BatchClient::kOsql ? "osql" : "sqlcmd"), m_windows(kHeader), m_sql(":label2\r\n") {}

void BatchFile::Add(std::string_view argument) {
  m_arguments.emplace_back(argument);
  m_windows += m_client + " -E -S %1 -d %2 -i ";
  m_windows.append(argument);
  m_windows += "\r\n";
  m_sql += m_client + " -U %1 -P %2 -S %3 -d %4 -i ";
  m_sql.append(argument);
  m_sql += "\r\n";
}

void BatchFile::AddTableScript(std::string_view fileName) {
  std::string argument = "\"Tables\\";
  argument.append(fileName);
  argument += '"';
  Add(argument);
}

std::string BatchFile::Text() const { return m_windows + "goto end\r\n" + m_sql + kTail; }

void BatchFile::ClearWindowsSection() { m_windows.clear(); }

std::vector<std::string> BatchFile::Scripts() const {
  std::vector<std::string> scripts;
  for (std::string path : m_arguments) {
    // The batch file's form: some names end in a blank, a table's path is quoted and uses
    // backslashes (a table's file name never holds one of its own).
    while (!path.empty() && path.back() == ' ') path.pop_back();
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
    for (char& c : path)
      if (c == '\\') c = '/';
    scripts.push_back(path);
  }
  return scripts;
}

namespace {

// The text as one shell word: in single quotes, each quote inside as '\''. (printf, not echo,
// writes the names below: some shells' echo reads a backslash in a name as an escape.)
std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

const char kShellHead[] =
    "#!/bin/sh\n"
    "# Runs the exported scripts with sqlcmd, in the order the batch file runs them, and stops at\n"
    "# the first one that fails.\n"
    "#   sh <this file> <server name> <database name>\n"
    "#       integrated authentication (sqlcmd -E)\n"
    "#   sh <this file> <user name> <password> <server name> <database name>\n"
    "#       SQL Server authentication; the password goes to sqlcmd in SQLCMDPASSWORD\n"
    "cd \"$(dirname \"$0\")\" || exit 1\n"
    "if [ $# -eq 2 ]; then\n"
    "  set -- -E -S \"$1\" -d \"$2\"\n"
    "elif [ $# -eq 4 ]; then\n"
    "  SQLCMDPASSWORD=$2\n"
    "  export SQLCMDPASSWORD\n"
    "  set -- -U \"$1\" -S \"$3\" -d \"$4\"\n"
    "else\n"
    "  printf 'Syntax: %s [<user name> <password>] <server name> <database name>\\n' \"$0\" >&2\n"
    "  exit 2\n"
    "fi\n"
    "for script in \\\n";

const char kShellTail[] =
    "do\n"
    "  if ! sqlcmd -b \"$@\" -i \"$script\"; then\n"
    "    printf '%s: %s failed; the scripts after it were not run\\n' \"$0\" \"$script\" >&2\n"
    "    exit 1\n"
    "  fi\n"
    "done\n";

}  // namespace

std::string BatchFile::ShellText() const {
  std::string text = kShellHead;
  const std::vector<std::string> scripts = Scripts();
  for (size_t i = 0; i < scripts.size(); ++i) text += "  " + ShellQuote(scripts[i]) + (i + 1 < scripts.size() ? " \\\n" : "\n");
  return text + kShellTail;
}

const char* BatchFile::Header() { return kHeader; }
const char* BatchFile::Tail() { return kTail; }

std::string ExportCompletionMessage(const ScriptFolderContents& c) {
  std::vector<std::string> runs = {"UserDefinedDatatypes.sql"};
  if (c.defaults) runs.push_back("Default.sql");
  if (c.tables > 0)
    runs.push_back("the script of each of the " + std::to_string(c.tables) +
                   " tables in Tables, each followed by its _Constraint.sql");
  if (c.foreignKeys) runs.push_back("ForeignKeys.sql");
  for (const std::string& script : c.objectScripts)
    runs.push_back(c.functionsInViews && script == "Views.sql" ? script + " (with the functions)" : script);
  std::string order;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) order += i + 1 == runs.size() ? " and " : ", ";
    order += runs[i];
  }
  return "Your scripts have been saved at the location : " + c.folder +
         "\r\n\nRestore your database by following the below steps :-"
         "\r\n\n\t1. Create an empty database on the server."
         "\r\n\n\t2. From a command prompt in the folder above, run " + c.batchFile +
         " <server name> <database name>\r\n\t    (Windows authentication), or " + c.batchFile +
         " <user name> <password> <server name> <database name>\r\n\t    (SQL Server authentication)."
         "\r\n\n\t    It runs " + order + ", in this order." +
         (c.shellFile.empty() ? std::string()
                              : "\r\n\n\t    On Linux, sh " + c.shellFile +
                                    " takes the same arguments and runs the same scripts with sqlcmd.") +
         (c.deletedRows ? "\r\n\nDeleted rows: " + std::to_string(c.deletedRecovered) +
                              " recovered into the scripts, " + std::to_string(c.deletedCopies) +
                              " left out as copies of other rows (the execution log names them)."
                        : std::string()) +
         "\r\n\nPlease read ReadMe.txt in the same location for details on how to run the scripts.";
}

}  // namespace uicore
