// The recovery progress dialog: the bar, the page count, the database's name and version,
// the six object counts, and the one button, "Stop" while the scan runs and "Close" at the
// end. The core's scan follower does the following; what it finds comes here on the GUI
// thread, and the page count and the bar are read from it by a timer, so a scan of a million
// pages costs the window twenty updates a second, not a million.
#pragma once

#include <QDialog>
#include <string>

#include "ui/core/scanfollower.h"

class IPrompts;
class QLabel;
class QScrollArea;
class QProgressBar;
class QPushButton;
class QTimer;

class CProgressDlg : public QDialog {
  Q_OBJECT

 public:
  // How often the timer shows the follower's page count and percentage.
  static constexpr int kRefreshMs = 50;

  // The follower must outlive the dialog; its threads report through a sink that calls the
  // Show functions below on the GUI thread.
  CProgressDlg(uicore::ScanFollower& follower, IPrompts& prompts, const std::string& format,
               QWidget* parent = nullptr);

  void ShowFormat(const std::string& format);
  void ShowDatabaseName(const std::string& name);
  void ShowPercent(int percent);
  void ShowPagesRead(long long pages);
  void ShowCounts(const uicore::ObjectCounts& counts);
  void RecoveryComplete();
  // What the end of the recovery says beside "Recovery Complete": a source cut off before its
  // end reads only part of its pages. Empty: nothing.
  void SetEndWarning(const std::string& warning);
  // One more line after what SetEndWarning gave (what the scan could not recover).
  void AddEndWarning(const std::string& warning);

  // The button: Stop while the scan runs (after its question), Close once it is complete or
  // stopped. A confirmed Stop keeps the dialog open on "Recovery stopped" until Close.
  void OnStop();
  // Esc and the close box: the same question while the scan runs.
  void reject() override;

 signals:
  // The recovery ended: `stopped` when Stop or the close box was confirmed during the scan,
  // false when the button closed a completed recovery. The main window's status pane says which.
  void stoppedByButton(bool stopped);

 private:
  void FitToScreen();
  void ShowEndText(const QString& text);
  void Refresh();
  void SetPercent(int percent);

  uicore::ScanFollower& m_follower;
  IPrompts& m_prompts;
  QProgressBar* m_pBar = nullptr;
  QLabel* m_pPercent = nullptr;
  QPushButton* m_pButton = nullptr;
  QLabel* m_pPagesRead = nullptr;
  QLabel* m_pDatabaseName = nullptr;
  QLabel* m_pDatabaseVersion = nullptr;
  QLabel* m_pCounts[6] = {};
  QLabel* m_pStatusText = nullptr;
  QScrollArea* m_pScroll = nullptr;
  QLabel* m_pEndText = nullptr;  // "Recovery stopped", or the end warning
  std::string m_strEndWarning;
  bool m_bStopped = false;
  QTimer* m_pTimer = nullptr;
  long long m_nPagesShown = -1;
  bool m_bNameShown = false;
};
