// One export from the main window: the options dialog, then the progress dialog over the
// export worker. The controller counts as running from the worker's start until the worker
// has been joined, not merely until its dialog closes: Stop closes the dialog at once while
// the worker goes on to its next check, and a second export or a record preview meanwhile
// would share the engine with it.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "ui/core/exportchecktree.h"
#include "ui/core/exportworker.h"

class CDatabase;
class CExportOptionDlg;
class CExportProgressDlg;
class CSQLServer;
class ExportSinkToGui;
class IPrompts;
class QWidget;

// What runs the export: the core's ExportWorker in the program, a scripted one in tests.
class IExportRunner {
 public:
  virtual ~IExportRunner() = default;
  // False, with nothing started, while an earlier export has not been joined.
  virtual bool Start(CSQLServer& engine, uicore::ExportRequest request, uicore::IExportSink& sink,
                     CDatabase* mainConnection) = 0;
  virtual void Stop() = 0;
  virtual void Join() = 0;
};

// The program's runner: the core's export worker, with the program's folders.
std::unique_ptr<IExportRunner> NewExportWorkerRunner();

class CExportController : public QObject {
  Q_OBJECT

 public:
  // The main window's side, all on the GUI thread.
  struct Window {
    QWidget* parent = nullptr;                        // the dialogs' parent
    std::function<void(bool running)> setRunning;     // commands off while an export runs
    std::function<void(int percent)> setPercent;      // the main window's bar and percent text
    std::function<void(const std::string&)> setCounter;
  };

  CExportController(IPrompts& prompts, Window window, std::unique_ptr<IExportRunner> runner);
  ~CExportController() override;

  CExportOptionDlg* OptionsDialog() const { return m_pOptions; }
  // The progress dialog while it is open; null otherwise.
  CExportProgressDlg* ProgressDialog() const;

  // Shows the options dialog over the engine's objects (every box checked) and, once the user
  // confirms it, runs the export. Refused while an export is running.
  void Run(CSQLServer& engine, const uicore::ExportCheckTree& objects, const std::string& databaseName);
  // From the start of the worker until it has been joined.
  bool Running() const { return m_bRunning; }

 signals:
  // The options dialog closed without an export.
  void cancelled();
  // The worker has ended and been joined.
  void ended();

 private:
  void StartExport(CSQLServer& engine, const std::string& databaseName);
  void WorkerEnded();

  IPrompts& m_prompts;
  Window m_window;
  std::unique_ptr<IExportRunner> m_pRunner;
  CExportOptionDlg* m_pOptions = nullptr;
  QPointer<CExportProgressDlg> m_pProgress;
  std::unique_ptr<ExportSinkToGui> m_pSink;
  std::unique_ptr<CDatabase> m_pConnection;
  CSQLServer* m_pEngine = nullptr;
  std::string m_strDatabaseName;
  bool m_bRunning = false;
};
