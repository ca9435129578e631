#include "progressdlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/core/prompts.h"
#include "ui/pellwyn/style.h"
#include "ui/pellwyn/textconv.h"

namespace {

QLabel* NamedLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

QString PercentText(int percent) { return QStringLiteral("%1 %").arg(percent); }

}  // namespace

CProgressDlg::CProgressDlg(uicore::ScanFollower& follower, IPrompts& prompts, const std::string& format,
                           QWidget* parent)
    : QDialog(parent), m_follower(follower), m_prompts(prompts) {
  setObjectName(QStringLiteral("progressDlg"));
  setWindowTitle(QString::fromLatin1(kMessageTitle));
  ApplyDialogColours(this);

  m_pBar = new QProgressBar(this);
  m_pBar->setObjectName(QStringLiteral("progressBar"));
  m_pBar->setRange(0, 100);
  m_pBar->setValue(0);
  m_pBar->setTextVisible(false);
  m_pPercent = NamedLabel(PercentText(0), "percentText", this);
  m_pPercent->setMinimumWidth(48);
  m_pButton = new QPushButton(QStringLiteral("Stop"), this);
  m_pButton->setObjectName(QStringLiteral("stopButton"));
  connect(m_pButton, &QPushButton::clicked, this, &CProgressDlg::OnStop);

  // The details and the end's text scroll, so that on a small or scaled screen the dialog can
  // shrink to fit while the bar and the button stay in view.
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("detailsScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  // The details scroll down only: across, the end's wrapped text keeps to the width left beside
  // the vertical bar, so no word of it hides under the bar.
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* scrolled = new QWidget(scroll);
  auto* details = new QGroupBox(QStringLiteral("BAK Details"), scrolled);
  details->setObjectName(QStringLiteral("bakDetails"));
  auto* grid = new QGridLayout(details);
  grid->setHorizontalSpacing(16);
  int row = 0;
  auto pair = [&](const char* label, const char* name, const QString& value) {
    grid->addWidget(new QLabel(QString::fromLatin1(label), details), row, 0);
    QLabel* v = NamedLabel(value, name, details);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(v, row++, 1);
    return v;
  };
  m_pPagesRead = pair("Pages Read :", "pagesRead", QStringLiteral("0"));
  m_pDatabaseName = pair("Database Name :", "databaseName", QString());
  m_pDatabaseVersion = pair("Database Version :", "databaseVersion", FromEngineText(format));
  const char* const countLabels[6][2] = {{"Tables :", "tables"},       {" Views :", "views"},
                                         {"Stored Procedure :", "procedures"}, {"Rules :", "rules"},
                                         {"Triggers :", "triggers"},   {"Functions :", "functions"}};
  for (int i = 0; i < 6; ++i)
    m_pCounts[i] = pair(countLabels[i][0], countLabels[i][1], FromEngineText(uicore::CountText(0)));
  grid->setColumnStretch(1, 1);

  // Texts the dialog keeps without showing them.
  m_pStatusText = NamedLabel(QStringLiteral("Analyzing mdf file..."), "statusText", this);
  m_pStatusText->hide();
  NamedLabel(QStringLiteral("Records  no :"), "recordsNo", this)->hide();

  auto* barRow = new QHBoxLayout();
  barRow->addWidget(m_pBar, 1);
  barRow->addWidget(m_pPercent);
  // Shown only when the end has something to say.
  m_pEndText = NamedLabel(QString(), "endText", scrolled);
  m_pEndText->setWordWrap(true);
  m_pEndText->hide();

  auto* buttonRow = new QHBoxLayout();
  buttonRow->addStretch(1);
  buttonRow->addWidget(m_pButton);
  auto* scrolledLayout = new QVBoxLayout(scrolled);
  scrolledLayout->setContentsMargins(0, 0, 0, 0);
  scrolledLayout->addWidget(details);
  scrolledLayout->addWidget(m_pEndText);
  scrolledLayout->addStretch(1);
  scroll->setWidget(scrolled);
  m_pScroll = scroll;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(barRow);
  layout->addWidget(scroll, 1);
  layout->addLayout(buttonRow);
  setMinimumWidth(420);
  FitToScreen();

  m_pTimer = new QTimer(this);
  m_pTimer->setInterval(kRefreshMs);
  connect(m_pTimer, &QTimer::timeout, this, &CProgressDlg::Refresh);
  m_pTimer->start();
}

void CProgressDlg::FitToScreen() {
  // The scroll area asks for all of its contents; the screen's room bounds that.
  const QSize whole = m_pScroll->widget()->sizeHint();
  const QSize frame = sizeHint() - m_pScroll->sizeHint();
  QSize wanted = whole + frame;
  if (isVisible()) wanted = wanted.expandedTo(size());  // never shrinks under the user's eyes
  resize(FittedSize(this, wanted));
}

void CProgressDlg::ShowEndText(const QString& text) {
  m_pEndText->setText(text);
  m_pEndText->show();
  m_pScroll->widget()->adjustSize();
  FitToScreen();
}

void CProgressDlg::ShowFormat(const std::string& format) { m_pDatabaseVersion->setText(FromEngineText(format)); }

void CProgressDlg::ShowDatabaseName(const std::string& name) {
  // Shown once, when first known.
  if (m_bNameShown) return;
  m_bNameShown = true;
  m_pDatabaseName->setText(FromEngineText(name));
}

void CProgressDlg::SetPercent(int percent) {
  // The timer and the follower's reports both move the bar; a report posted before the last
  // timer tick must not move it back.
  if (percent < m_pBar->value()) return;
  m_pBar->setValue(percent);
  m_pPercent->setText(PercentText(percent));
}

void CProgressDlg::ShowPercent(int percent) { SetPercent(percent); }

void CProgressDlg::ShowPagesRead(long long pages) {
  m_nPagesShown = pages;
  m_pPagesRead->setText(QString::number(pages));
}

void CProgressDlg::ShowCounts(const uicore::ObjectCounts& counts) {
  const int values[6] = {counts.tables, counts.views, counts.procedures, counts.rules, counts.triggers, counts.functions};
  for (int i = 0; i < 6; ++i) m_pCounts[i]->setText(FromEngineText(uicore::CountText(values[i])));
}

void CProgressDlg::RecoveryComplete() {
  Refresh();
  m_pTimer->stop();
  m_pStatusText->setText(QStringLiteral("Recovery Complete"));
  m_pButton->setEnabled(true);
  m_pButton->setText(QStringLiteral("Close"));
  if (!m_strEndWarning.empty()) {
    ShowEndText(FromEngineText(m_strEndWarning));
  }
}

void CProgressDlg::SetEndWarning(const std::string& warning) { m_strEndWarning = warning; }

void CProgressDlg::AddEndWarning(const std::string& warning) {
  m_strEndWarning += (m_strEndWarning.empty() ? "" : "\n") + warning;
}

void CProgressDlg::Refresh() {
  const long long pages = m_follower.PagesCounted();
  if (pages != m_nPagesShown) ShowPagesRead(pages);
  SetPercent(m_follower.Percent());
}

void CProgressDlg::OnStop() {
  if (m_bStopped) {
    done(QDialog::Rejected);
    return;
  }
  bool asked = false;
  const bool closing = m_follower.Stop([this, &asked](const std::string& question, const std::string& title) {
    asked = true;
    return m_prompts.AskYesNo(title, question);
  });
  if (!closing) return;
  Refresh();  // the pages counted up to the stop
  m_pTimer->stop();
  if (!asked) {
    // The recovery was complete: the button only closes.
    emit stoppedByButton(false);
    done(QDialog::Rejected);
    return;
  }
  // Stopped in the middle: the dialog stays to say so; the main window shows what was read
  // once the scan thread has left the engine.
  m_bStopped = true;
  m_pStatusText->setText(QStringLiteral("Recovery stopped"));
  QString text = QStringLiteral("Recovery stopped: only what was read before the stop is shown.");
  if (!m_strEndWarning.empty()) text += QLatin1Char('\n') + FromEngineText(m_strEndWarning);
  ShowEndText(text);
  m_pButton->setText(QStringLiteral("Close"));
  emit stoppedByButton(true);
}

void CProgressDlg::reject() {
  bool asked = false;
  const bool closing = m_follower.Close([this, &asked](const std::string& question, const std::string& title) {
    asked = true;
    return m_prompts.AskYesNo(title, question);
  });
  if (!closing) return;
  m_pTimer->stop();
  // The close box that stopped a running recovery stopped it as Stop does.
  if (asked) emit stoppedByButton(true);
  QDialog::reject();
}
