#include "ui/core/exportnames.h"

#include <cstdio>

#include "common/unicodetext.h"

namespace uicore {

std::string ExportTimeStamp(const std::tm& utc, const std::tm& local) {
  char text[96];
  std::snprintf(text, sizeof text, "_%d_%d_%d_%d_%d_%d", utc.tm_mon + 1, utc.tm_mday,
                utc.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string ExportTimeStampNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{}, local{};
  gmtime_r(&now, &utc);
  localtime_r(&now, &local);
  return ExportTimeStamp(utc, local);
}

std::string DatabaseFolderPart(std::string_view databaseName) {
  const size_t cut = databaseName.find_last_of("\\/");
  return WindowsFileName(cut == std::string_view::npos ? databaseName : databaseName.substr(cut + 1));
}

std::string TableFileName(std::string_view tableName) { return WindowsFileName(tableName); }

std::string BatchFileName(std::string_view databaseName) {
  std::string name = DatabaseFolderPart(databaseName);
  for (char& c : name)
    if (c == '&') c = '_';
  return name;
}

std::string ExportReportLine(std::string_view name, long count, long notStored) {
  std::string line;
  if (name.find_first_of(",\"\r\n") == std::string_view::npos) {
    line.assign(name);
  } else {
    line = "\"";
    for (char c : name) {
      if (c == '"') line += '"';
      line += c;
    }
    line += '"';
  }
  line += "," + std::to_string(count);
  if (notStored > 0) line += "," + std::to_string(notStored) + " not stored";
  return line + "\r\n";
}

const char *const kDeletedRowsReportHeader =
    "Table,Rows,Deleted rows recovered,Deleted rows left out as copies\r\n";

std::string ExportReportLine(std::string_view name, long count,
                             int deletedRecovered, int deletedCopies) {
  std::string line = ExportReportLine(name, count);
  line.resize(line.size() - 2); // its "\r\n"
  return line + "," + std::to_string(deletedRecovered) + "," +
         std::to_string(deletedCopies) + "\r\n";
}

std::string ExportReportPath(std::string_view folder, std::string_view databaseName,
                             std::string_view stamp) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + "ExportReport_" + DatabaseFolderPart(databaseName) +
         std::string(stamp) + ".csv";
}

}  // namespace uicore
