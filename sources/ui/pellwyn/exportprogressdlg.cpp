#include "exportprogressdlg.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <fstream>

#include "ui/core/exportnames.h"
#include "ui/core/prompts.h"
#include "ui/pellwyn/guipost.h"
#include "ui/pellwyn/style.h"
#include "ui/pellwyn/textconv.h"

namespace {

QString Id(int id) { return QStringLiteral("id%1").arg(id); }

// The status list keeps its lines in alphabetical order without regard to case, as the list
// box of the original windows did; Qt's own order would put every capital first.
class StatusLine : public QListWidgetItem {
 public:
  explicit StatusLine(const QString& text) : QListWidgetItem(text) {}
  bool operator<(const QListWidgetItem& other) const override {
    const int order = text().compare(other.text(), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : text() < other.text();
  }
};

constexpr int kNameColumnWidth = 250;
constexpr int kCountColumnWidth = 248;

}  // namespace

CExportProgressDlg::CExportProgressDlg(IPrompts& prompts, std::function<void()> stop, QWidget* parent)
    : QDialog(parent), m_prompts(prompts), m_stop(std::move(stop)) {
  setObjectName(Id(159));
  setWindowTitle(QString::fromLatin1(kMessageTitle));
  ApplyDialogColours(this);

  m_pStatusList = new QListWidget(this);
  m_pStatusList->setObjectName(Id(1095));
  m_pStatusList->setSortingEnabled(true);
  m_pStatusList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_pBar = new QProgressBar(this);
  m_pBar->setObjectName(Id(1056));
  m_pBar->setRange(0, 100);
  m_pBar->setTextVisible(false);
  m_pPercent = new QLabel(this);
  m_pPercent->setObjectName(Id(1053));
  m_pPercent->setMinimumWidth(48);
  m_pTableProgress = new QLabel(this);
  m_pTableProgress->setObjectName(QStringLiteral("tableProgress"));
  m_pStopButton = new QPushButton(QStringLiteral("Stop"), this);
  m_pStopButton->setObjectName(Id(1093));
  m_pStopButton->setDefault(true);
  m_pCloseButton = new QPushButton(QStringLiteral("Close"), this);
  m_pCloseButton->setObjectName(Id(1098));
  connect(m_pStopButton, &QPushButton::clicked, this, &CExportProgressDlg::OnStop);
  connect(m_pCloseButton, &QPushButton::clicked, this, &CExportProgressDlg::OnClose);

  m_pObjectList = new QTableWidget(this);
  m_pObjectList->setObjectName(Id(1097));
  m_pObjectList->setShowGrid(true);
  m_pObjectList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_pObjectList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pObjectList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_pObjectList->verticalHeader()->hide();
  m_pObjectList->verticalHeader()->setDefaultSectionSize(20);
  m_pObjectList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_pMessage = new QPlainTextEdit(this);
  m_pMessage->setObjectName(Id(1096));
  m_pMessage->setReadOnly(true);
  m_pMessage->setFrameShape(QFrame::NoFrame);
  // The message indents its steps with tabs: a few blanks wide, not a column of their own.
  m_pMessage->setTabStopDistance(m_pMessage->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4);

  auto* barRow = new QHBoxLayout();
  barRow->addWidget(m_pBar, 1);
  barRow->addWidget(m_pPercent);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(m_pStopButton);
  buttons->addWidget(m_pCloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pStatusList, 1);
  layout->addWidget(m_pObjectList, 1);
  layout->addWidget(m_pMessage, 1);
  layout->addWidget(m_pTableProgress);
  layout->addLayout(barRow);
  layout->addLayout(buttons);
  resize(FittedSize(this, QSize(600, 360)));
  Begin(false, std::string());
}

void CExportProgressDlg::Begin(bool toServer, const std::string& databaseName) {
  m_bFinished = false;
  m_bToServer = toServer;
  m_strDatabaseName = databaseName;
  m_strReport.clear();
  m_pStatusList->clear();
  m_pObjectList->clear();
  m_pObjectList->setRowCount(0);
  m_pObjectList->setColumnCount(0);
  if (toServer) {
    m_pObjectList->setColumnCount(2);
    m_pObjectList->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Exported Record Count")});
    m_pObjectList->setColumnWidth(0, kNameColumnWidth);
    m_pObjectList->setColumnWidth(1, kCountColumnWidth);
  }
  m_pMessage->clear();
  m_pBar->setValue(0);
  m_pPercent->setText(QStringLiteral("0  %"));
  m_pTableProgress->clear();
  m_pStopButton->setText(QStringLiteral("Stop"));
  for (QWidget* w : std::initializer_list<QWidget*>{m_pStatusList, m_pBar, m_pPercent, m_pStopButton}) w->show();
  for (QWidget* w : std::initializer_list<QWidget*>{m_pObjectList, m_pMessage, m_pCloseButton}) w->hide();
  AppendStatus("Exporting database...");
}

void CExportProgressDlg::AppendStatus(const std::string& line) {
  m_pStatusList->addItem(new StatusLine(FromEngineText(line)));
}

void CExportProgressDlg::SetPercent(int percent) {
  m_pBar->setValue(std::clamp(percent, 0, 100));
  m_pPercent->setText(QStringLiteral("%1%").arg(percent));
}

void CExportProgressDlg::ShowTableProgress(const std::string& text) { m_pTableProgress->setText(FromEngineText(text)); }

void CExportProgressDlg::AddObjectRow(const std::string& name, const std::string& count, bool first) {
  const int row = first ? 0 : m_pObjectList->rowCount();
  m_pObjectList->insertRow(row);
  m_pObjectList->setItem(row, 0, new QTableWidgetItem(FromEngineText(name)));
  m_pObjectList->setItem(row, 1, new QTableWidgetItem(FromEngineText(count)));
}

void CExportProgressDlg::AppendReport(const std::string& line) { m_strReport += line; }

void CExportProgressDlg::Finish(bool toServer, const std::string& message) {
  m_bFinished = true;
  m_bToServer = toServer;
  SetPercent(100);
  m_pTableProgress->clear();
  m_pStopButton->setText(QStringLiteral("Finish"));
  for (QWidget* w : std::initializer_list<QWidget*>{m_pStatusList, m_pBar, m_pPercent, m_pStopButton}) w->hide();
  if (toServer) {
    m_pMessage->hide();
    m_pObjectList->show();
  } else {
    QString text = FromEngineText(message);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_pMessage->setPlainText(text);
    m_pObjectList->hide();
    m_pMessage->show();
  }
  m_pCloseButton->show();
  m_pCloseButton->setDefault(true);
  m_pCloseButton->setFocus();
}

void CExportProgressDlg::EndEarly() {
  m_pStopButton->setText(QStringLiteral("Finish"));
  if (isVisible()) QDialog::done(QDialog::Rejected);
}

void CExportProgressDlg::OnStop() {
  if (m_bFinished) return QDialog::done(QDialog::Accepted);
  if (!m_prompts.AskYesNo(kMessageTitle, kStopQuestion)) return;
  if (m_stop) m_stop();
  m_pStopButton->setText(QStringLiteral("Finish"));
  QDialog::done(QDialog::Rejected);
}

void CExportProgressDlg::reject() {
  if (m_bFinished) return QDialog::done(QDialog::Accepted);
  if (!m_prompts.AskYesNo(kMessageTitle, kStopQuestion)) return;
  // The worker ends the export at its next check and closes the dialog then.
  if (m_stop) m_stop();
}

void CExportProgressDlg::OnClose() {
  if (m_bToServer && m_prompts.AskYesNo(kMessageTitle, kReportQuestion)) {
    const std::optional<std::string> folder =
        m_prompts.ChooseFolder(kReportFolderTitle, ToPath(QDir::currentPath()));
    // A cancelled chooser keeps the dialog, so the user may choose again or answer No.
    if (!folder || folder->empty()) return;
    const std::string path =
        uicore::ExportReportPath(*folder, m_strDatabaseName, uicore::ExportTimeStampNow());
    // The lines carry their own CR LF: the file is written byte for byte.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(m_strReport.data(), std::streamsize(m_strReport.size()));
    out.close();
    // A report the user asked for and did not get is said, not passed over.
    if (!out) m_prompts.Inform(kMessageTitle, "The report could not be written to " + path + ".");
  }
  QDialog::done(QDialog::Accepted);
}

// ---- sink

ExportSinkToGui::ExportSinkToGui(CExportProgressDlg* dialog, QObject* mainWindow, MainWindowSide side)
    : m_dialog(dialog), m_main(mainWindow), m_side(std::move(side)) {}

void ExportSinkToGui::AppendStatus(const std::string& line) {
  PostToGui(m_dialog, [line](CExportProgressDlg& d) { d.AppendStatus(line); });
}

void ExportSinkToGui::SetDialogPercent(int percent) {
  PostToGui(m_dialog, [percent](CExportProgressDlg& d) { d.SetPercent(percent); });
}

void ExportSinkToGui::SetMainPercent(int percent) {
  PostToGui(m_main, [f = m_side.setPercent, percent](QObject&) {
    if (f) f(percent);
  });
}

void ExportSinkToGui::SetCounterText(const std::string& text) {
  PostToGui(m_main, [f = m_side.setCounter, text](QObject&) {
    if (f) f(text);
  });
}

void ExportSinkToGui::ShowTableProgress(const std::string& text) {
  PostToGui(m_dialog, [text](CExportProgressDlg& d) { d.ShowTableProgress(text); });
}

void ExportSinkToGui::AddObjectRow(const std::string& name, const std::string& count, bool first) {
  PostToGui(m_dialog, [name, count, first](CExportProgressDlg& d) { d.AddObjectRow(name, count, first); });
}

void ExportSinkToGui::AppendReport(const std::string& line) {
  PostToGui(m_dialog, [line](CExportProgressDlg& d) { d.AppendReport(line); });
}

void ExportSinkToGui::ShowMessage(const std::string& text) {
  PostToGui(m_main, [f = m_side.showMessage, text](QObject&) {
    if (f) f(text);
  });
}

void ExportSinkToGui::Finished(bool toServer, const std::string& message) {
  PostToGui(m_dialog, [toServer, message](CExportProgressDlg& d) { d.Finish(toServer, message); });
  PostToGui(m_main, [f = m_side.ended](QObject&) {
    if (f) f();
  });
}

void ExportSinkToGui::EndedEarly() {
  PostToGui(m_dialog, [](CExportProgressDlg& d) { d.EndEarly(); });
  PostToGui(m_main, [f = m_side.ended](QObject&) {
    if (f) f();
  });
}
