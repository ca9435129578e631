// The export progress dialog: while the export runs, the sorted status list, the bar and its
// percentage, and Stop; at the end, the completion message of a script export or the list of
// exported tables and their row counts of a server export, and Close, which after a server
// export offers the list as a CSV report. The worker's reports arrive through ExportSinkToGui
// on the GUI thread.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <string>

#include "ui/core/exportworker.h"

class IPrompts;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

class CExportProgressDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kStopQuestion = "Are you sure you want stop the export process ?";
  static constexpr const char* kReportQuestion = "Do you want to Export the Details to a .csv file ?";
  static constexpr const char* kReportFolderTitle = " Please select a folder to save the .csv files ";

  // `stop` raises the export's record-stop flag; the worker ends at its next check.
  CExportProgressDlg(IPrompts& prompts, std::function<void()> stop, QWidget* parent = nullptr);

  // Before the worker starts: the running state, and the report's database name.
  void Begin(bool toServer, const std::string& databaseName);

  // The worker's reports.
  void AppendStatus(const std::string& line);
  void SetPercent(int percent);
  // The table whose rows are being walked, and how far ("" once done).
  void ShowTableProgress(const std::string& text);
  void AddObjectRow(const std::string& name, const std::string& count, bool first);
  void AppendReport(const std::string& line);
  void Finish(bool toServer, const std::string& message);
  // An early end: the dialog closes, if Stop has not closed it already.
  void EndEarly();

  bool ExportFinished() const { return m_bFinished; }
  const std::string& ReportText() const { return m_strReport; }

  // Stop (its caption "Finish" once the export has ended or been stopped).
  void OnStop();
  // Close, shown once the export has ended.
  void OnClose();
  // Esc and the close box: while the export runs, the question, then only the stop flag; the
  // dialog stays until the worker ends.
  void reject() override;

 private:
  IPrompts& m_prompts;
  std::function<void()> m_stop;
  bool m_bFinished = false;
  bool m_bToServer = false;
  std::string m_strDatabaseName;
  std::string m_strReport;

  QListWidget* m_pStatusList = nullptr;
  QProgressBar* m_pBar = nullptr;
  QLabel* m_pPercent = nullptr;
  QLabel* m_pTableProgress = nullptr;
  QPushButton* m_pStopButton = nullptr;
  QPushButton* m_pCloseButton = nullptr;
  QTableWidget* m_pObjectList = nullptr;
  QPlainTextEdit* m_pMessage = nullptr;
};

// The worker's sink: each call is carried to the GUI thread, to the dialog or to the main
// window's side, and dropped once its window has gone. `ended` runs on the GUI thread after
// the worker's last report (its normal or early end), whether or not the dialog is still open.
class ExportSinkToGui : public uicore::IExportSink {
 public:
  struct MainWindowSide {
    std::function<void(int percent)> setPercent;
    std::function<void(const std::string& text)> setCounter;
    std::function<void(const std::string& text)> showMessage;
    std::function<void()> ended;
  };

  ExportSinkToGui(CExportProgressDlg* dialog, QObject* mainWindow, MainWindowSide side);

  void AppendStatus(const std::string& line) override;
  void SetDialogPercent(int percent) override;
  void SetMainPercent(int percent) override;
  void SetCounterText(const std::string& text) override;
  void ShowTableProgress(const std::string& text) override;
  void AddObjectRow(const std::string& name, const std::string& count, bool first) override;
  void AppendReport(const std::string& line) override;
  void ShowMessage(const std::string& text) override;
  void Finished(bool toServer, const std::string& message) override;
  void EndedEarly() override;

 private:
  const QPointer<CExportProgressDlg> m_dialog;
  const QPointer<QObject> m_main;
  const MainWindowSide m_side;
};
