// One export of the loaded engine's objects, to a folder of scripts or into a live server, on
// a thread of its own. The worker drives the engine's generators object by object in a fixed
// order, writes the batch file and reports through an IExportSink; it never touches a window.
// One export runs at a time: Start refuses a second one until the first has been joined, and
// the previews stay off for as long (the window asks Busy()).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/core/exportpool.h"

class CSQLServer;
class CTable;
class CViewStoredProc;
class CDatabase;

namespace uicore {

// What the export options dialog hands over when the user confirms it.
struct ExportRequest {
  bool toServer = false;         // "SQL Server Database" rather than scripts
  bool rows = true;              // "With Schema && Data"
  bool recoverDeleted = false;
  bool createDatabase = true;    // "Create destination database" (server target)
  std::string server, user, password, database;
  std::string folder;            // the parent folder of the script folder (script target)
  // The script folder itself, made when missing, in place of a new time-stamped folder under
  // `folder`: for a front end that is told where to write (engine-driver).
  std::string outputFolder;
  // Server target: where the connection pool's connections come from; empty: each is opened
  // with server, user, password and database (NewServerConnection). A front end given a whole
  // connection string (engine-driver), or a test, supplies its own.
  ConnectionFactory connections;
  // Server target: the pool size asked for in place of "Thread_Size" of the settings file
  // (engine-driver's --threads); the pool clamps it as it clamps the setting.
  std::optional<int> threadSize;
  // The checked objects of each kind, in tree order. They point into the engine's maps.
  std::vector<CTable*> tables;
  std::vector<CViewStoredProc*> views, procedures, rules, triggers, functions;
};

// The export progress dialog and the main window's export texts. Called from the worker and
// the pool threads; the window side carries each call over to the GUI thread. Every text is
// the program's 8-bit text.
class IExportSink {
 public:
  virtual ~IExportSink() = default;
  virtual void AppendStatus(const std::string& line) = 0;          // the sorted status list
  virtual void SetDialogPercent(int percent) = 0;                  // dialog bar and "N%"
  virtual void SetMainPercent(int percent) = 0;                    // main window bar and "N%"
  virtual void SetCounterText(const std::string& text) = 0;        // "(3 / 13)" or ""
  // The table being exported, while its rows are walked: "dbo.Orders: 12000 rows (page 340
  // of 1200)"; "" once it is done. Front ends without a place for it ignore it.
  virtual void ShowTableProgress(const std::string& text) { (void)text; }
  // Server target: one row of the object list; first puts it at the top (a rule's name).
  virtual void AddObjectRow(const std::string& name, const std::string& count, bool first) = 0;
  virtual void AppendReport(const std::string& line) = 0;          // one CSV report line
  virtual void ShowMessage(const std::string& text) = 0;           // a message box, OK only
  // The normal end. Script target: message is the completion text; server target: empty,
  // and the dialog shows its object list.
  virtual void Finished(bool toServer, const std::string& message) = 0;
  // An early end (a stop, a refused start, a folder that could not be made): the dialog closes.
  virtual void EndedEarly() = 0;
};

// What one export did, for the front end that reads it once the worker has been joined.
struct ExportResult {
  enum class End { kNone, kFinished, kEndedEarly };
  End end = End::kNone;
  std::string folder;  // the script folder ("" for a server target or when none was made)
  int poolConnections = 0;  // server target: the pooled connections that opened
  struct Table {
    CTable* table = nullptr;
    std::string script;  // relative to the folder: "Tables/<file name>.sql" ("" on a server)
    long rows = 0;       // rows exported
  };
  std::vector<Table> tables;  // in export order
};

class ExportWorker {
 public:
  // The clock of the folder's time stamp: UTC date, local time of day.
  using Clock = std::function<std::string()>;  // returns "_M_D_YYYY_h_m_s"

  // programFolder: where ReadMe.txt ships; stateFolder: where "sql.settings" is read and
  // "OutputFldr.txt" written. Empty: the program's own folders (ProgramFolder, StateFolder).
  explicit ExportWorker(std::string programFolder, Clock clock = {}, std::string stateFolder = {});
  ~ExportWorker();  // raises the stop flag and joins
  ExportWorker(const ExportWorker&) = delete;
  ExportWorker& operator=(const ExportWorker&) = delete;

  // Starts the export on its own thread. False (and nothing started) while another export of
  // this worker has not been joined. mainConnection: the open connection of a server target.
  bool Start(CSQLServer& engine, ExportRequest request, IExportSink& sink,
             CDatabase* mainConnection = nullptr);
  // The Stop button: raises the engine's record-stop flag; the worker ends at its next check.
  void Stop();
  void Join();
  bool Busy() const;
  // The script folder of the last export ("" before one was made).
  std::string OutputFolder() const;
  // The last export's outcome; complete once it has been joined.
  ExportResult Result() const;
  // Connections and pool threads a server export asks for: "Thread_Size" of the settings
  // file read at the last start, kept from the export before when the file does not set it.
  int ThreadSize() const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace uicore
