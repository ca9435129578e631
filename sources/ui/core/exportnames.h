// The names an export gives what it writes: the script folder and its time stamp, each table's
// script file, the batch file, and the CSV report's file and lines. One place, so the worker,
// the pool and the progress dialog cannot disagree.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace uicore {

// "_M_D_YYYY_h_m_s", unpadded: the date from the UTC clock, the time of day from the local one
// (so shortly after midnight UTC the date can differ from the local date).
std::string ExportTimeStamp(const std::tm& utc, const std::tm& local);
// The same from the system clocks now.
std::string ExportTimeStampNow();

// The engine's database name as a file name: what follows its last backslash or slash (a
// database name field may hold the path the file was attached from), as Windows can hold
// it (WindowsFileName).
std::string DatabaseFolderPart(std::string_view databaseName);
// A table's script file name: its name as Windows can hold it (WindowsFileName).
std::string TableFileName(std::string_view tableName);
// The batch file's name (without ".bat"): the database's file name with "&" as "_", which
// the command interpreter would read as the end of a command.
std::string BatchFileName(std::string_view databaseName);

// One line of the CSV report with its line end: name,count CR LF; the name in double quotes
// (doubled inside) only when it holds a comma, a quote or a line break.
// A table some of whose rows the server did not store (refused, or lost with the connection)
// says so in a third field: name,count,N not stored CR LF.
std::string ExportReportLine(std::string_view name, long count, long notStored = 0);
// The line of a table when deleted rows were recovered: two more fields, the
// deleted rows among the rows and the deleted rows left out as copies of other
// rows; the report's first line names the fields.
std::string ExportReportLine(std::string_view name, long count,
                             int deletedRecovered, int deletedCopies);
extern const char *const kDeletedRowsReportHeader;
// The report's file: folder + "/ExportReport_" + database name + stamp + ".csv".
std::string ExportReportPath(std::string_view folder, std::string_view databaseName,
                             std::string_view stamp);

}  // namespace uicore
