#include "exportcontroller.h"

#include <QWidget>

#include "common/enginestatus.h"
#include "common/sqlserver.h"
#include "platform/database.h"
#include "ui/core/openscan.h"
#include "ui/core/programfolder.h"
#include "ui/core/serverconnection.h"
#include "ui/core/prompts.h"
#include "ui/pellwyn/exportoptiondlg.h"
#include "ui/pellwyn/exportprogressdlg.h"

namespace {

class WorkerRunner : public IExportRunner {
 public:
  WorkerRunner() : m_worker(ProgramFolder()) {}
  bool Start(CSQLServer& engine, uicore::ExportRequest request, uicore::IExportSink& sink,
             CDatabase* mainConnection) override {
    return m_worker.Start(engine, std::move(request), sink, mainConnection);
  }
  void Stop() override { m_worker.Stop(); }
  void Join() override { m_worker.Join(); }

 private:
  uicore::ExportWorker m_worker;
};

// The main connection of a server export, on the database the user named; made first on the
// server when the dialog asks for it.
std::unique_ptr<CDatabase> OpenMainConnection(const uicore::ExportRequest& request, std::string& error) {
  const uicore::ServerLogin login{request.server, request.user, request.password, request.database};
  if (request.createDatabase && !uicore::CreateDestinationDatabase(login, &error)) return nullptr;
  return uicore::NewServerConnection(login, &error);
}

const char* const kStillRunning = "An export is still running.";
const char* const kNoExport = "Export is not available in this build.";
const char* const kSchemaOnly = " The schema is exported without rows.";
}  // namespace

std::unique_ptr<IExportRunner> NewExportWorkerRunner() { return std::make_unique<WorkerRunner>(); }

CExportController::CExportController(IPrompts& prompts, Window window, std::unique_ptr<IExportRunner> runner)
    : m_prompts(prompts), m_window(std::move(window)), m_pRunner(std::move(runner)) {
  m_pOptions = new CExportOptionDlg(prompts, m_window.parent);
  m_pOptions->SetConnectionOpener(OpenMainConnection);
  connect(m_pOptions, &QDialog::finished, this, [this] {
    CSQLServer* engine = m_pEngine;
    if (!engine) return;
    engine->m_bRecoverDeleted = m_pOptions->Request().recoverDeleted ? 1 : 0;
    if (!m_pOptions->Accepted()) {
      emit cancelled();
      return;
    }
    StartExport(*engine, m_strDatabaseName);
  });
}

CExportController::~CExportController() {
  // A worker still running reports to windows that are going: it is stopped and waited for
  // here, and its last reports find no receiver.
  if (m_bRunning && m_pRunner) {
    m_pRunner->Stop();
    m_pRunner->Join();
  }
  delete m_pOptions;
}

CExportProgressDlg* CExportController::ProgressDialog() const { return m_pProgress.data(); }

void CExportController::Run(CSQLServer& engine, const uicore::ExportCheckTree& objects,
                            const std::string& databaseName) {
  if (m_bRunning) return m_prompts.Inform(kMessageTitle, kStillRunning);
  if (!m_pRunner) return m_prompts.Inform(kMessageTitle, kNoExport);
  m_pEngine = &engine;
  m_strDatabaseName = databaseName;
  engine.m_bExportToServer = 0;
  m_pOptions->Prepare(objects, databaseName);
  m_pOptions->open();
}

void CExportController::StartExport(CSQLServer& engine, const std::string& databaseName) {
  if (engine.m_pStatus) engine.m_pStatus->m_bStopRecords = 0;
  m_pConnection = m_pOptions->TakeConnection();
  uicore::ExportRequest request = m_pOptions->Request();
  // A scan reopened from its file reads its rows from the backup it names once its set is
  // located again, as the preview does; without the backup the schema goes out alone, and
  // the user is told so rather than finding tables without rows.
  if (request.rows) {
    const uicore::PageSourceCheck source = uicore::AttachPageSource(
        engine, [this](const CBackupReader& reader) { return m_prompts.ChooseBackupSet(reader); });
    if (!source.ready) {
      m_prompts.Inform(kMessageTitle, source.message + kSchemaOnly);
      request.rows = false;
    }
  }

  auto* dialog = new CExportProgressDlg(m_prompts, [this] { m_pRunner->Stop(); }, m_window.parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->Begin(request.toServer, databaseName);
  m_pProgress = dialog;
  ExportSinkToGui::MainWindowSide side;
  side.setPercent = m_window.setPercent;
  side.setCounter = m_window.setCounter;
  side.showMessage = [this](const std::string& text) { m_prompts.Inform(std::string(), text); };
  side.ended = [this] { WorkerEnded(); };
  m_pSink = std::make_unique<ExportSinkToGui>(dialog, this, std::move(side));

  m_bRunning = true;
  if (m_window.setRunning) m_window.setRunning(true);
  dialog->open();
  if (!m_pRunner->Start(engine, request, *m_pSink, m_pConnection.get())) {
    m_bRunning = false;
    if (m_window.setRunning) m_window.setRunning(false);
    dialog->EndEarly();
    m_pConnection.reset();
    m_prompts.Inform(kMessageTitle, kStillRunning);
  }
}

void CExportController::WorkerEnded() {
  if (!m_bRunning) return;
  // The worker's last report came just before its thread returns: the join is short.
  m_pRunner->Join();
  m_bRunning = false;
  m_pConnection.reset();
  if (m_window.setRunning) m_window.setRunning(false);
  emit ended();
}
