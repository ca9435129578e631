// The main window: banner, toolbar, the object tree beside the record list and text box,
// the paging row and the status pane; the menu; the commands; and the current engine.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ui/core/enginehost.h"
#include "ui/core/exportchecktree.h"
#include "ui/core/objecttree.h"
#include "ui/core/sourcedetection.h"

class CExportController;
class CProgressDlg;
class IExportRunner;
class CSplitterControl;
class CSQLServer;
class CTable;
class CTabCtrlEx;
class CViewStoredProc;
class IDesktopShell;
class IMainWindowSink;
class IPrompts;
class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace uicore {
struct PreviewPage;
}

// Command identifiers: the menu items and toolbar buttons.
enum PellwynCommand : int {
  kCmdLoadMenu = 32771,
  kCmdExportMenu = 32772,
  kCmdExitMenu = 32773,
  kCmdHelpContents = 32774,
  kCmdAboutUs = 32775,
  kCmdAbout = 32781,
  kCmdExit = 32783,
  kCmdHelp = 32784,
  kCmdSupport = 32786,
  kCmdLoad = 32787,
  kCmdExport = 32788,
  kCmdOpenScan = 32789,
  kCmdSaveScan = 32790,
};

// Where Support sends the user.
inline constexpr const char* kSupportUrl = "https://www.example.com/tarnwell-brackmoor/support";

class CPellwynDlg : public QMainWindow {
  Q_OBJECT

 public:
  struct Services {
    IPrompts* prompts = nullptr;   // every message box, question and file dialog
    IDesktopShell* shell = nullptr;  // Help and Support
    int splashDelayMs = 2000;      // how long the splash stays; negative: no splash
    // Makes the engine of a chosen version; empty: the engine factory's own.
    std::function<CreatedEngine(int version)> createEngine;
    // Makes what runs an export; empty: the core's export worker.
    std::function<std::unique_ptr<IExportRunner>()> createExportRunner;
    // Tells what a chosen file is before the version dialog; empty: the core's DetectSource.
    std::function<uicore::SourceFacts(const std::string& path)> detectSource;
  };

  explicit CPellwynDlg(const Services& services, QWidget* parent = nullptr);
  ~CPellwynDlg() override;

  // The action of a command identifier; null for an unknown one.
  QAction* CommandAction(int id) const;
  EngineHost& Engines() { return m_host; }
  // For worker threads: each call is carried to this window on the GUI thread, and dropped
  // once the window has gone.
  std::shared_ptr<IMainWindowSink> MainSink() const { return m_pSink; }

  // Fills the tree from the current engine.
  void FillObjectTree();
  // Deletes every child of the item, with its subtree, and keeps the item.
  void DeleteChildItems(QTreeWidgetItem* item);
  void SetStatusText(const std::string& text);
  QString StatusText() const;
  // The scan thread of `engine` (null: the current engine) has ended: once it is the current
  // engine, its catalog may be exported and saved.
  void OnScanEnded(const CSQLServer* engine = nullptr);
  // Fills the tree from `engine` once its scan is complete, if it is still the current one.
  void FillObjectTreeOf(const CSQLServer* engine);
  // A page of the record preview, read for the preview generation `generation`; pages of an
  // earlier engine's preview are dropped.
  void ShowPreviewPage(const uicore::PreviewPage& page, int generation);
  // The export's dialogs and its running state.
  CExportController* Exporter() const { return m_pExport.get(); }
  // The objects of the tree's six folders, as the export options dialog lists them.
  uicore::ExportCheckTree ExportObjects() const;
  // The recovery progress dialog while it is open; null otherwise.
  CProgressDlg* ProgressDialog() const;
  // Preview pages shown so far (for front ends that wait for the next one).
  int PreviewPagesShown() const { return m_nPreviewPagesShown; }
  // False when Exit had to leave a thread running (the process must then end at once).
  bool AllThreadsEnded() const { return m_bAllThreadsEnded; }
  // Load of a file already chosen (the command line's file, or Load's file dialog): the path
  // is kept and Recover runs.
  void LoadFile(const std::string& path);

 public slots:
  void OnLoadBak();
  void OnBrowseMdf();
  void OnRecover();
  void OnExportMenu();
  void OnExport();
  void OnExit();
  void OnHelp();
  void OnAbout();
  void OnSupport();
  void OnSaveScan();
  void OnOpenScan();
  void OnNextPage();
  void OnPrevPage();
  void OnSplitterMoved(int distance);
  void OnTreeSelChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildCommands();
  void BuildInitialTree();
  void InitialState();
  QTreeWidgetItem* AddTreeNode(const TreeNode& node);
  void EndRecoverEarly();
  // Ends a Load the file made impossible: the message box says why, the tree goes back to its
  // empty state, no engine is current and the status pane says the load failed.
  void LoadFailed(const std::string& why);
  // The tree's first state and an empty pane: what the window shows once the engine before a
  // Load has been given up and the Load does not end in a scan.
  void ReturnToEmpty();
  // The version dialog on the file's own version; a choice of the other engine family is
  // questioned once.
  int ChooseVersionFor(const uicore::SourceFacts& facts);
  // Export and Save Scan of a stopped recovery's catalog go on only when the user says so.
  bool ConfirmPartialCatalog(const char* action);
  void UpdateExportCommands(bool enable);
  void ShowPagingRow(bool show);
  // The tree's width as the splitter sets it.
  void SetTreeWidth(int width);
  // The window's size, place and tree width: as the user left them, else fitted to the screen.
  void RestorePlacement();
  void SavePlacement();
  std::array<QWidget*, 6> PagingRow() const;
  void ShowObjectText(const CViewStoredProc* object);
  void StartPreview(CTable* table, QTreeWidgetItem* item);
  void PutSelectionBackOnPreview();
  void TurnPreviewPage(bool forward);
  void ShowPagingState();
  void ClearRecordList();
  // Empties the list and the text box, blanks the tab and hides the paging row.
  void ClearRightPane();
  // A status that still says the file is being recovered says "Ready" once nothing runs.
  void EndRecoveringStatus();
  void EndRecover();
  void EmptyObjectFolders();
  void Inform(const std::string& text);
  void BuildExport();
  void SetExportRunning(bool running);

  Services m_services;
  EngineHost m_host;
  std::shared_ptr<IMainWindowSink> m_pSink;
  // The follower of the last recovery, kept until the next one: it tells when the scan
  // thread has left the engine, after the dialog has gone too.
  struct Recovery;
  std::unique_ptr<Recovery> m_pRecovery;
  QPointer<CProgressDlg> m_pProgress;
  std::unique_ptr<CExportController> m_pExport;
  // The record preview of the current engine, made anew for each engine.
  struct Preview;
  std::unique_ptr<Preview> m_pPreview;
  int m_nPreviewGeneration = 0;
  QTreeWidgetItem* m_hPreviewItem = nullptr;  // the table whose preview started last
  int m_nPreviewPagesShown = 0;

  std::string m_strSourcePath;    // file-system bytes of the chosen backup
  std::string m_strVersionLabel;  // "(SQL Server 2008)"
  std::string m_strTruncation;    // the scan's end warning for a cut-off source; empty: none
  int m_nPreviewPage = 0;
  int m_nTreeWidth = 0;  // what the splitter gave the tree
  // Per page of the table previewed: its first row (from 0) and its row count; the table's
  // row count once its last page was read, else -1.
  std::map<int, std::pair<long long, long long>> m_mapPageRows;
  long long m_nTableRows = -1;
  bool m_bIgnoreSelChange = false;
  bool m_bExportStarted = false;
  bool m_bCloseConfirmed = false;
  bool m_bAllThreadsEnded = true;

  // Controls.
  QLabel* m_pBanner = nullptr;
  QToolBar* m_pToolBar = nullptr;
  QTreeWidget* m_pTree = nullptr;
  CSplitterControl* m_pSplitter = nullptr;
  CTabCtrlEx* m_pTab = nullptr;
  QTableWidget* m_pList = nullptr;
  QPlainTextEdit* m_pTextBox = nullptr;
  QPushButton* m_pPrevButton = nullptr;
  QPushButton* m_pNextButton = nullptr;
  QLabel* m_pRowCount = nullptr;
  QLabel* m_pOfPage = nullptr;
  QLabel* m_pPageNumber = nullptr;
  QLabel* m_pRowsShown = nullptr;  // "rows 501-830 of 830"
  QLabel* m_pStatusPane = nullptr;
  // Hidden controls that hold state for the load and export steps.
  QLineEdit* m_pPathBox = nullptr;
  QPushButton* m_pBrowseButton = nullptr;
  QPushButton* m_pRecoverButton = nullptr;
  QPushButton* m_pExportButton = nullptr;
  QPushButton* m_pExportButton2 = nullptr;
  QLabel* m_pTableName = nullptr;
  QLabel* m_pDatabaseName = nullptr;
  QProgressBar* m_pExportProgress = nullptr;

  QTreeWidgetItem* m_hRootItem = nullptr;
  QTreeWidgetItem* m_hDatabaseItem = nullptr;
  std::array<QTreeWidgetItem*, kFolderCount> m_hFolderItems{};
  std::array<QIcon, kTreeImageCount> m_imgTree;
};
