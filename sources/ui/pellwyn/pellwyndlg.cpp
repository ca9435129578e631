#include "pellwyndlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "common/backupreader.h"
#include "common/executionlog.h"
#include "common/sqlserver.h"
#include "ui/core/catalogloss.h"
#include "ui/core/displaytext.h"
#include "ui/core/openscan.h"
#include "ui/core/previewdriver.h"
#include "ui/core/programfolder.h"
#include "ui/core/prompts.h"
#include "ui/core/scanfollower.h"
#include "ui/core/sinks.h"
#include "ui/pellwyn/aboutdlg.h"
#include "ui/pellwyn/artwork.h"
#include "ui/pellwyn/exportcontroller.h"
#include "ui/pellwyn/guipost.h"
#include "ui/pellwyn/progressdlg.h"
#include "ui/pellwyn/splashscreen.h"
#include "ui/pellwyn/splittercontrol.h"
#include "ui/pellwyn/style.h"
#include "ui/pellwyn/tabctrlex.h"
#include "ui/pellwyn/textconv.h"
#include "ui/pellwyn/usersettings.h"

namespace {

using namespace std::chrono_literals;

constexpr int kKindRole = Qt::UserRole;
constexpr int kRecordRole = Qt::UserRole + 1;

// The splitter bar may move this far from where it starts: left, then right.
constexpr int kSplitterLeftRange = 62;
constexpr int kSplitterRightRange = 275;
constexpr int kInitialTreeWidth = 260;
constexpr int kMinTreeWidth = 120;
constexpr int kMinListWidth = 320;
// The window's first size, where the screen has room for it.
constexpr QSize kInitialSize(1024, 740);
constexpr int kListRowHeight = 20;
// Exit waits this long for the engines' threads before the process ends without them.
constexpr auto kExitJoinBound = 2s;

const char* const kCloseQuestion = "Are you sure you want to close the application ?";
const char* const kLoadBeforeExport = "Please load bak file before export";
const char* const kLoadBeforeSave = "Please load mdf file before saving";
const std::string kRecoveringStatus = "Recovering file :";
// Load offers backups and database files together first, then each kind alone, then any file.
const char* const kLoadFilter =
    "Backups and database files (*.bak *.BAK *.mdf *.MDF *.ndf *.NDF);;Backups (*.bak *.BAK);;"
    "Database files (*.mdf *.MDF *.ndf *.NDF);;All files (*)";
const char* const kMdfFilter = "MDF Files (*.mdf *.MDF *.ndf *.NDF);;All files (*)";
const char* const kLoadFailedStatus = "Load failed: ";
const char* const kPartialCatalogQuestion =
    "The recovery was stopped: the catalog holds only what was read before the stop, and objects or "
    "columns may be missing. %s it anyway?";
const char* const kScanOpenFilter = "Scan Files (*.str *.STR)";
const char* const kScanSaveFilter = " (*.str *.STR);;All Files (*)";
const char* const kScanSuffix = "str";
// Record list columns, each as wide, whatever the column holds.
constexpr int kListColumnWidth = 180;

// One row of the command table: a menu item or toolbar button and the handler it runs.
struct Command {
  int id;
  const char* text;      // the toolbar button's tooltip, and the menu text without its mnemonic
  const char* menuText;  // the menu text with its mnemonic; null for a command on no menu
  const char* shortcut;  // the usual key of the command; null for none
  void (CPellwynDlg::*handler)();
};

// The menu items take the keys: the toolbar buttons of the same commands are shortcuts of the
// mouse only (Tab never reaches a toolbar).
const Command kCommands[] = {
    {kCmdLoadMenu, "Load", "&Load...", "Ctrl+O", &CPellwynDlg::OnLoadBak},
    {kCmdExportMenu, "Export", "&Export...", "Ctrl+E", &CPellwynDlg::OnExport},
    {kCmdExitMenu, "Exit", "E&xit", "Ctrl+Q", &CPellwynDlg::OnExit},
    {kCmdHelpContents, "Help Contents", "&Help Contents", "F1", &CPellwynDlg::OnHelp},
    {kCmdAboutUs, "About Us", "&About Us", nullptr, &CPellwynDlg::OnAbout},
    {kCmdAbout, "About", nullptr, nullptr, &CPellwynDlg::OnAbout},
    {kCmdLoad, "Load", nullptr, nullptr, &CPellwynDlg::OnLoadBak},
    {kCmdOpenScan, "Open Scan", "&Open Scan...", "Ctrl+Shift+O", &CPellwynDlg::OnOpenScan},
    {kCmdSaveScan, "Save Scan", "&Save Scan...", "Ctrl+S", &CPellwynDlg::OnSaveScan},
    {kCmdExport, "Export", nullptr, nullptr, &CPellwynDlg::OnExportMenu},
    {kCmdSupport, "Support", "Su&pport", nullptr, &CPellwynDlg::OnSupport},
    {kCmdHelp, "Help", nullptr, nullptr, &CPellwynDlg::OnHelp},
    {kCmdExit, "Exit", nullptr, nullptr, &CPellwynDlg::OnExit},
};

// Menu order; 0 is a separator.
const int kActionsMenuLayout[] = {kCmdLoadMenu, kCmdOpenScan, kCmdSaveScan, 0, kCmdExportMenu, 0, kCmdSupport, 0,
                                  kCmdExitMenu};
const int kHelpMenuLayout[] = {kCmdHelpContents, kCmdAboutUs};

// Toolbar order; 0 is a separator.
const int kToolbarLayout[] = {kCmdLoad, kCmdOpenScan, kCmdSaveScan, 0, kCmdExport, 0, kCmdSupport, 0, kCmdHelp,
                              0, kCmdExit};

// A tooltip that wraps a long value at the width of a readable line, with its own line breaks.
QString CellToolTip(const QString& text) {
  return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

ToolbarImage ImageOf(int id) {
  switch (id) {
    case kCmdLoad: return ToolbarImage::Load;
    case kCmdOpenScan: return ToolbarImage::OpenScan;
    case kCmdSaveScan: return ToolbarImage::SaveScan;
    case kCmdExport: return ToolbarImage::Export;
    case kCmdSupport: return ToolbarImage::Support;
    case kCmdHelp: return ToolbarImage::Help;
    default: return ToolbarImage::Exit;
  }
}

QString Id(int id) { return QStringLiteral("id%1").arg(id); }

TreeItemKind KindOf(const QTreeWidgetItem* item) { return TreeItemKind(item->data(0, kKindRole).toInt()); }

template <class Record>
Record* RecordOf(const QTreeWidgetItem* item) {
  return static_cast<Record*>(item->data(0, kRecordRole).value<void*>());
}

QLabel* HiddenLabel(QWidget* parent, int id, const QString& text = QString()) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(Id(id));
  label->hide();
  return label;
}

QPushButton* Button(QWidget* parent, int id, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(Id(id));
  return button;
}

// The object tree, whose width the splitter sets: it asks for that width, and a narrow window
// may give it less.
class ObjectTreeWidget : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;
  void SetPreferredWidth(int width) {
    m_nPreferred = width;
    updateGeometry();
  }
  QSize sizeHint() const override { return QSize(m_nPreferred, QTreeWidget::sizeHint().height()); }

 private:
  int m_nPreferred = 0;
};

// The main window's side of IMainWindowSink: every call is posted to the GUI thread.
class MainWindowSink : public IMainWindowSink {
 public:
  explicit MainWindowSink(CPellwynDlg* window) : m_window(window) {}
  void SetStatusText(const std::string& text) override {
    PostToGui(m_window, [text](CPellwynDlg& w) { w.SetStatusText(text); });
  }
  void FillObjectTree() override {
    PostToGui(m_window, [](CPellwynDlg& w) { w.FillObjectTree(); });
  }
  void ScanEnded() override {
    PostToGui(m_window, [](CPellwynDlg& w) { w.OnScanEnded(); });
  }

 private:
  const QPointer<CPellwynDlg> m_window;
};

// The scan follower's reports: the dialog's on the dialog, the tree and the end of the scan
// on the main window, each for the engine of this recovery only.
class RecoverySink : public uicore::IScanProgressSink {
 public:
  RecoverySink(CPellwynDlg* window, const CSQLServer* engine) : m_window(window), m_engine(engine) {}
  // Before the follower starts; its threads only read it.
  void SetDialog(CProgressDlg* dialog) { m_dialog = dialog; }

  void ShowFormat(const std::string& format) override {
    PostToGui(m_dialog, [format](CProgressDlg& d) { d.ShowFormat(format); });
  }
  void ShowDatabaseName(const std::string& name) override {
    PostToGui(m_dialog, [name](CProgressDlg& d) { d.ShowDatabaseName(name); });
  }
  void ShowPercent(int percent) override {
    PostToGui(m_dialog, [percent](CProgressDlg& d) { d.ShowPercent(percent); });
  }
  void ShowPagesRead(long long pages) override {
    PostToGui(m_dialog, [pages](CProgressDlg& d) { d.ShowPagesRead(pages); });
  }
  void FillObjectTree() override {
    PostToGui(m_window, [engine = m_engine](CPellwynDlg& w) { w.FillObjectTreeOf(engine); });
  }
  void ShowCounts(const uicore::ObjectCounts& counts) override {
    PostToGui(m_dialog, [counts](CProgressDlg& d) { d.ShowCounts(counts); });
  }
  void RecoveryComplete() override {
    // What the scan could not recover, by name, at the end of the dialog as in the log. The
    // scan thread waits in its last hand-shake meanwhile, so its list is complete and still.
    // A few lines, so the dialog keeps its size; the log has them all.
    constexpr size_t kShownLosses = 3;
    std::string losses;
    const std::vector<std::string> none;
    const std::vector<std::string>& all = m_engine ? m_engine->m_vecScanWarnings : none;
    for (size_t i = 0; i < all.size() && i < kShownLosses; ++i) losses += (losses.empty() ? "" : "\n") + all[i];
    if (all.size() > kShownLosses)
      losses += "\n... and " + std::to_string(all.size() - kShownLosses) + " more losses, named in the error log";
    PostToGui(m_dialog, [losses](CProgressDlg& d) {
      if (!losses.empty()) d.AddEndWarning(losses);
      d.RecoveryComplete();
    });
  }
  void ScanEnded() override {
    PostToGui(m_window, [engine = m_engine](CPellwynDlg& w) { w.OnScanEnded(engine); });
  }

 private:
  const QPointer<CPellwynDlg> m_window;
  QPointer<CProgressDlg> m_dialog;
  const CSQLServer* const m_engine;
};

// Preview pages, carried to the main window with the preview they belong to.
class PreviewSink : public uicore::IPreviewSink {
 public:
  PreviewSink(CPellwynDlg* window, int generation) : m_window(window), m_generation(generation) {}
  void ShowPage(const uicore::PreviewPage& page) override {
    PostToGui(m_window, [page, generation = m_generation](CPellwynDlg& w) { w.ShowPreviewPage(page, generation); });
  }

 private:
  const QPointer<CPellwynDlg> m_window;
  const int m_generation;
};

}  // namespace

struct CPellwynDlg::Recovery {
  Recovery(CPellwynDlg* window, CSQLServer& engine, uicore::ScanFollowerOptions options)
      : engine(&engine), sink(window, &engine), follower(engine, sink, std::move(options)) {}
  // The dialog reads the follower: it goes first, even when closed and only waiting for its
  // deferred delete, since reports the follower queued for it before it closed (its recovery
  // complete) may still be waiting too, and would run after the next Load freed the follower.
  ~Recovery() { delete dialog.data(); }
  const CSQLServer* engine;
  bool stopped = false;  // Stop or the close box ended the scan before its end
  RecoverySink sink;  // outlives the follower, whose threads report to it
  uicore::ScanFollower follower;
  QPointer<CProgressDlg> dialog;
};

struct CPellwynDlg::Preview {
  Preview(CPellwynDlg* window, CSQLServer& e, int generation) : engine(&e), sink(window, generation), driver(e, sink) {}
  CSQLServer* engine;
  PreviewSink sink;
  uicore::PreviewDriver driver;
};

CPellwynDlg::CPellwynDlg(const Services& services, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_pSink(std::make_shared<MainWindowSink>(this)) {
  setObjectName(QStringLiteral("id102"));
  setWindowTitle(QStringLiteral("Tarnwell Brackmoor - v4.10"));
  setWindowIcon(ProgramIcon());
  if (m_services.splashDelayMs >= 0) CSplashScreen::ShowSplashScreen(this, m_services.splashDelayMs);
  BuildControls();
  BuildCommands();
  BuildInitialTree();
  InitialState();
  BuildExport();
  // The log's banner, then the folder its later lines go to.
  { CExecutionLog banner; }
  CExecutionLog::GetModuleFolder();
  RestorePlacement();
}

void CPellwynDlg::RestorePlacement() {
  const WindowPlacement kept = RememberedPlacement();
  if (kept.treeWidth > 0) {
    // Within the splitter's own reach from where it starts.
    const int width = std::clamp(kept.treeWidth, kInitialTreeWidth - kSplitterLeftRange,
                                 kInitialTreeWidth + kSplitterRightRange);
    SetTreeWidth(width);
    const int moved = width - kInitialTreeWidth;
    m_pSplitter->SetRange(kSplitterLeftRange + moved, kSplitterRightRange - moved);
  }
  if (!kept.geometry.isEmpty() && restoreGeometry(kept.geometry)) return;
  // The first window fits the screen's free area, in the screen's own (scaled) units, and
  // stands in its middle.
  resize(FittedSize(this, kInitialSize));
  const QScreen* on = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!on) return;
  const QSize room = ScreenRoom(this);
  move(on->availableGeometry().topLeft() +
       QPoint(std::max(0, (room.width() - width()) / 2), std::max(0, (room.height() - height()) / 2)));
}

void CPellwynDlg::SavePlacement() {
  WindowPlacement placement;
  placement.geometry = saveGeometry();
  placement.treeWidth = m_nTreeWidth;
  RememberPlacement(placement);
}

CPellwynDlg::~CPellwynDlg() {
  // An export still running is stopped and joined while the windows it reports to exist.
  m_pExport.reset();
  // The preview and the follower end their threads before the window they report to goes.
  m_pPreview.reset();
  m_pRecovery.reset();
}

void CPellwynDlg::BuildControls() {
  ApplyDialogColours(this);
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("central"));
  setCentralWidget(central);

  m_pBanner = new QLabel(central);
  m_pBanner->setObjectName(Id(1010));
  m_pBanner->setPixmap(BannerPixmap());
  m_pBanner->setFixedHeight(60);
  // Cut at the right rather than hold the window wider than a small screen.
  m_pBanner->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  m_pBanner->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_pBanner->setAutoFillBackground(true);
  QPalette bannerPalette = m_pBanner->palette();
  bannerPalette.setColor(QPalette::Window, QColor(24, 52, 96));
  m_pBanner->setPalette(bannerPalette);

  m_pToolBar = new QToolBar(central);
  m_pToolBar->setObjectName(QStringLiteral("id184"));
  m_pToolBar->setIconSize(QSize(50, 50));
  m_pToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  m_pToolBar->setMovable(false);
  m_pToolBar->setFloatable(false);

  auto* body = new QWidget(central);
  body->setObjectName(QStringLiteral("body"));
  m_pTree = new ObjectTreeWidget(body);
  m_pTree->setObjectName(Id(1001));
  m_pTree->setHeaderHidden(true);
  m_pTree->setRootIsDecorated(true);
  m_pTree->setItemsExpandable(true);
  m_pTree->setMouseTracking(true);  // hot tracking
  m_pTree->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pTree->setIconSize(QSize(16, 16));
  SetTreeWidth(kInitialTreeWidth);
  m_pTree->setStyleSheet(QStringLiteral("QTreeView::item:hover { text-decoration: underline; color: #1a4fa0; }"));

  // The splitter takes the place of the placeholder 1120: a tall, thin rectangle.
  m_pSplitter = new CSplitterControl(QRect(kInitialTreeWidth, 0, 1, 400), body, 1120);
  m_pSplitter->SetRange(kSplitterLeftRange, kSplitterRightRange);
  connect(m_pSplitter, &CSplitterControl::moved, this, &CPellwynDlg::OnSplitterMoved);

  auto* right = new QWidget(body);
  // The list never narrows to a sliver, whatever the tree's width: the tree gives way first.
  right->setMinimumWidth(kMinListWidth);
  right->setObjectName(QStringLiteral("rightSide"));
  m_pTab = new CTabCtrlEx(right);
  m_pTab->setObjectName(Id(1123));

  auto* content = new QWidget(right);
  content->setObjectName(QStringLiteral("content"));
  content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  m_pList = new QTableWidget(content);
  m_pList->setObjectName(Id(1002));
  m_pList->setShowGrid(true);
  m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_pList->verticalHeader()->hide();
  m_pList->verticalHeader()->setDefaultSectionSize(kListRowHeight);
  m_pList->verticalHeader()->setMinimumSectionSize(kListRowHeight);
  m_pList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_pList->horizontalHeader()->setDefaultSectionSize(kListColumnWidth);
  m_pTextBox = new QPlainTextEdit(content);
  m_pTextBox->setObjectName(Id(1003));
  m_pTextBox->setReadOnly(true);
  m_pTextBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // A multi-line box with a vertical scroll bar only: long lines wrap.
  m_pTextBox->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // The list and the text box share one place; one of them shows at a time.
  auto* stack = new QGridLayout(content);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->addWidget(m_pList, 0, 0);
  stack->addWidget(m_pTextBox, 0, 0);

  m_pPrevButton = Button(right, 1070, QStringLiteral("<"));
  m_pRowCount = new QLabel(right);
  m_pRowCount->setObjectName(Id(1064));
  m_pOfPage = new QLabel(QStringLiteral("of Page "), right);
  m_pOfPage->setObjectName(Id(1100));
  m_pPageNumber = new QLabel(right);
  m_pPageNumber->setObjectName(Id(1074));
  m_pNextButton = Button(right, 1071, QStringLiteral(">"));
  m_pRowsShown = new QLabel(right);
  m_pRowsShown->setObjectName(QStringLiteral("rowsShown"));
  for (QPushButton* b : {m_pPrevButton, m_pNextButton}) {
    b->setFixedSize(28, 24);
    // Enter presses the focused paging button, as Space does.
    b->setAutoDefault(true);
  }
  auto* paging = new QHBoxLayout();
  paging->setContentsMargins(0, 4, 0, 4);
  paging->addWidget(m_pPrevButton);
  paging->addSpacing(6);
  paging->addWidget(m_pRowCount);
  paging->addSpacing(4);
  paging->addWidget(m_pOfPage);
  paging->addWidget(m_pPageNumber);
  paging->addSpacing(6);
  paging->addWidget(m_pNextButton);
  paging->addSpacing(12);
  paging->addWidget(m_pRowsShown);
  paging->addStretch(1);

  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->setSpacing(0);
  rightLayout->addWidget(m_pTab, 0, Qt::AlignLeft);
  rightLayout->addWidget(content, 1);
  rightLayout->addLayout(paging);

  auto* bodyLayout = new QHBoxLayout(body);
  bodyLayout->setContentsMargins(4, 0, 4, 0);
  bodyLayout->setSpacing(0);
  bodyLayout->addWidget(m_pTree);
  bodyLayout->addWidget(m_pSplitter);
  bodyLayout->addWidget(right, 1);

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_pBanner);
  layout->addWidget(m_pToolBar);
  layout->addWidget(body, 1);

  // State holders of the load and export steps; never shown.
  m_pPathBox = new QLineEdit(central);
  m_pPathBox->setObjectName(Id(1005));
  m_pPathBox->hide();
  m_pBrowseButton = Button(central, 1006, QStringLiteral("Browse"));
  m_pRecoverButton = Button(central, 1007, QStringLiteral("Recover"));
  m_pExportButton = Button(central, 1008, QStringLiteral("Export"));
  m_pExportButton2 = Button(central, 1009, QStringLiteral("Export"));
  for (QPushButton* b : {m_pBrowseButton, m_pRecoverButton, m_pExportButton, m_pExportButton2}) b->hide();
  HiddenLabel(central, 1028, QStringLiteral("Table :"));
  HiddenLabel(central, 1099, QStringLiteral("Displaying"));
  HiddenLabel(central, 1066, QStringLiteral("Database Name :"));
  m_pTableName = HiddenLabel(central, 1068);
  m_pDatabaseName = HiddenLabel(central, 1069);
  HiddenLabel(central, 1053);
  HiddenLabel(central, 1080);
  m_pExportProgress = new QProgressBar(central);
  m_pExportProgress->setObjectName(Id(1056));
  m_pExportProgress->hide();
  connect(m_pBrowseButton, &QPushButton::clicked, this, &CPellwynDlg::OnBrowseMdf);
  connect(m_pRecoverButton, &QPushButton::clicked, this, &CPellwynDlg::OnRecover);
  connect(m_pExportButton, &QPushButton::clicked, this, &CPellwynDlg::OnExport);
  connect(m_pPrevButton, &QPushButton::clicked, this, &CPellwynDlg::OnPrevPage);
  connect(m_pNextButton, &QPushButton::clicked, this, &CPellwynDlg::OnNextPage);

  // One pane, written by the handlers, on the status bar's grey.
  m_pStatusPane = new QLabel(this);
  m_pStatusPane->setObjectName(QStringLiteral("statusPane0"));
  m_pStatusPane->setMinimumWidth(200);
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("statusBar"));
  bar->setSizeGripEnabled(true);
  bar->addWidget(m_pStatusPane, 1);
  bar->setAutoFillBackground(true);
  QPalette statusPalette = bar->palette();
  statusPalette.setColor(QPalette::Window, kStatusBarColour);
  bar->setPalette(statusPalette);

  connect(m_pTree, &QTreeWidget::currentItemChanged, this, &CPellwynDlg::OnTreeSelChanged);

  // Tab walks tree, list (or text box), "<" and ">"; inside the list the arrow keys move, and
  // Page Down and Page Up turn its pages.
  m_pList->setTabKeyNavigation(false);
  m_pList->installEventFilter(this);
  m_pList->viewport()->installEventFilter(this);
  m_pTextBox->setTabChangesFocus(true);
  m_pTab->setFocusPolicy(Qt::NoFocus);
  setTabOrder(m_pTree, m_pList);
  setTabOrder(m_pList, m_pTextBox);
  setTabOrder(m_pTextBox, m_pPrevButton);
  setTabOrder(m_pPrevButton, m_pNextButton);
}

bool CPellwynDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_pList && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() == Qt::NoModifier && (key->key() == Qt::Key_PageDown || key->key() == Qt::Key_PageUp)) {
      QPushButton* button = key->key() == Qt::Key_PageDown ? m_pNextButton : m_pPrevButton;
      if (button->isEnabled() && button->isVisible()) button->click();
      return true;
    }
  }
  if (watched == m_pList->viewport() && event->type() == QEvent::ToolTip) {
    // A value the cell cuts short (or one of several lines) shows whole in its tooltip.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = m_pList->indexAt(help->pos());
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = m_pList->visualRect(index);
    const int room = cell.width() - 2 * (m_pList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
    if (index.isValid() && (text.contains(QLatin1Char('\n')) || m_pList->fontMetrics().horizontalAdvance(text) > room))
      QToolTip::showText(help->globalPos(), CellToolTip(text), m_pList->viewport(), cell);
    else
      QToolTip::hideText();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void CPellwynDlg::BuildCommands() {
  for (const Command& c : kCommands) {
    auto* action = new QAction(QString::fromLatin1(c.menuText ? c.menuText : c.text), this);
    action->setObjectName(Id(c.id));
    action->setToolTip(QString::fromLatin1(c.text));
    if (c.shortcut) action->setShortcut(QKeySequence(QString::fromLatin1(c.shortcut)));
    // The toolbar's pictures are for the toolbar: in the menu every item is text alone.
    action->setIconVisibleInMenu(false);
    if (c.handler) connect(action, &QAction::triggered, this, c.handler);
    addAction(action);
  }
  auto fill = [this](QMenu* menu, const auto& layout) {
    for (int id : layout) {
      if (id == 0) menu->addSeparator();
      else menu->addAction(CommandAction(id));
    }
  };
  QMenu* actions = menuBar()->addMenu(QStringLiteral("&Actions"));
  actions->setObjectName(QStringLiteral("menuActions"));
  fill(actions, kActionsMenuLayout);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("menuHelp"));
  fill(help, kHelpMenuLayout);

  for (int id : kToolbarLayout) {
    if (id == 0) {
      m_pToolBar->addSeparator();
      continue;
    }
    QAction* action = CommandAction(id);
    action->setIcon(QIcon(ToolbarPixmap(ImageOf(id))));
    m_pToolBar->addAction(action);
    if (QWidget* button = m_pToolBar->widgetForAction(action)) {
      button->setObjectName(QStringLiteral("button%1").arg(id));
      button->setFixedSize(56, 56);
    }
  }
}

QAction* CPellwynDlg::CommandAction(int id) const { return findChild<QAction*>(Id(id), Qt::FindDirectChildrenOnly); }

void CPellwynDlg::BuildInitialTree() {
  for (int i = 0; i < kTreeImageCount; ++i) m_imgTree[size_t(i)] = QIcon(TreeImage(i));
  auto item = [&](QTreeWidgetItem* parent, const char* text, int image, TreeItemKind kind) {
    auto* it = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_pTree);
    it->setText(0, QString::fromLatin1(text));
    it->setIcon(0, m_imgTree[size_t(image)]);
    it->setData(0, kKindRole, int(kind));
    return it;
  };
  m_hRootItem = item(nullptr, kInitialRootText, kImageDatabase, TreeItemKind::Root);
  m_hDatabaseItem = item(m_hRootItem, kInitialDatabaseText, kImageDatabase, TreeItemKind::Database);
  for (int f = 0; f < kFolderCount; ++f) {
    const FolderInfo& info = GetFolderInfo(ObjectFolder(f));
    m_hFolderItems[size_t(f)] = item(m_hDatabaseItem, info.text, info.image, TreeItemKind::Folder);
  }
  m_nPreviewPage = 0;
}

void CPellwynDlg::InitialState() {
  m_pTextBox->hide();
  m_pList->show();
  m_pTab->SetSingleTab(QString(26, QLatin1Char(' ')));
  m_hRootItem->setExpanded(true);
  m_hDatabaseItem->setExpanded(true);
  m_pExportButton->setEnabled(false);
  m_pExportButton2->setEnabled(false);
  m_pRecoverButton->setEnabled(false);
  m_pRowCount->clear();
  ShowPagingRow(false);
  SetStatusText("Ready");
  CommandAction(kCmdExportMenu)->setEnabled(false);
}

void CPellwynDlg::SetStatusText(const std::string& text) { m_pStatusPane->setText(FromEngineText(text)); }

QString CPellwynDlg::StatusText() const { return m_pStatusPane->text(); }

void CPellwynDlg::Inform(const std::string& text) { m_services.prompts->Inform(kMessageTitle, text); }

std::array<QWidget*, 6> CPellwynDlg::PagingRow() const {
  return {m_pPrevButton, m_pRowCount, m_pOfPage, m_pPageNumber, m_pNextButton, m_pRowsShown};
}

void CPellwynDlg::ShowPagingRow(bool show) {
  m_pPrevButton->setEnabled(show);
  m_pNextButton->setEnabled(show);
  for (QWidget* w : PagingRow()) w->setVisible(show);
}

// ---- tree

void CPellwynDlg::DeleteChildItems(QTreeWidgetItem* item) {
  if (!item) return;
  // Taken in one step: the tree then moves its current item once, to `item`, instead of from
  // child to child while they go one by one.
  const QList<QTreeWidgetItem*> children = item->takeChildren();
  qDeleteAll(children);
}

void CPellwynDlg::EmptyObjectFolders() {
  m_hPreviewItem = nullptr;
  for (QTreeWidgetItem* folder : m_hFolderItems) DeleteChildItems(folder);
}

void CPellwynDlg::ClearRecordList() {
  m_pList->clearContents();
  m_pList->setRowCount(0);
  m_pList->setColumnCount(0);
}

QTreeWidgetItem* CPellwynDlg::AddTreeNode(const TreeNode& node) {
  auto* item = new QTreeWidgetItem();
  item->setText(0, FromEngineText(node.text));
  item->setIcon(0, m_imgTree[size_t(node.image)]);
  item->setData(0, kKindRole, int(node.kind));
  void* record = node.object ? static_cast<void*>(node.object) : static_cast<void*>(node.table);
  item->setData(0, kRecordRole, QVariant::fromValue(record));
  if (node.bold) {
    QFont bold = item->font(0);
    bold.setBold(true);
    item->setFont(0, bold);
  }
  for (const TreeNode& child : node.children) item->addChild(AddTreeNode(child));
  return item;
}

void CPellwynDlg::FillObjectTreeOf(const CSQLServer* engine) {
  if (engine && engine == m_host.Current()) FillObjectTree();
}

void CPellwynDlg::FillObjectTree() {
  CSQLServer* engine = m_host.Current();
  if (!engine) return;
  const EngineVersion* version = m_host.CurrentVersion();
  const ObjectTreeContent content = BuildObjectTree(*engine, version ? version->label : m_strVersionLabel);
  m_hRootItem->setText(0, FromEngineText(content.rootText));
  m_hDatabaseItem->setText(0, FromEngineText(content.databaseText));
  EmptyObjectFolders();
  for (int f = 0; f < kFolderCount; ++f) {
    QList<QTreeWidgetItem*> items;
    for (const TreeNode& node : content.folders[size_t(f)]) items.append(AddTreeNode(node));
    m_hFolderItems[size_t(f)]->addChildren(items);
  }
  update();
}

void CPellwynDlg::OnTreeSelChanged(QTreeWidgetItem* current, QTreeWidgetItem*) {
  // Recover empties the folders while the selection may lie inside them; the change that
  // causes is not the user's.
  if (m_bIgnoreSelChange) {
    m_bIgnoreSelChange = false;
    m_pTextBox->hide();
    m_pList->show();
    return;
  }
  if (!current) return;
  switch (EffectOfSelecting(KindOf(current))) {
    case SelectionEffect::PreviewTable:
      StartPreview(RecordOf<CTable>(current), current);
      break;
    case SelectionEffect::ShowObjectText:
      ShowPagingRow(false);
      m_pTextBox->show();
      m_pList->hide();
      // The tab names what the pane shows, the object as a previewed table.
      m_pTab->SetSingleTab(QStringLiteral("  ") + current->text(0) + QStringLiteral("  "));
      ShowObjectText(RecordOf<CViewStoredProc>(current));
      break;
    case SelectionEffect::Nothing:
      break;
  }
}

void CPellwynDlg::ShowObjectText(const CViewStoredProc* object) {
  if (!object) return;
  QString text = FromEngineText(object->m_strText.str());
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  m_pTextBox->setPlainText(text);
  update();
  m_pTextBox->setFocus();
}

void CPellwynDlg::StartPreview(CTable* table, QTreeWidgetItem* item) {
  CSQLServer* engine = m_host.Current();
  if (!engine || !table || engine->m_bExportMode || m_pExport->Running()) return;
  m_pTextBox->hide();
  m_pList->show();
  for (QWidget* w : PagingRow()) w->show();
  if (!m_pPreview || m_pPreview->engine != engine)
    m_pPreview = std::make_unique<Preview>(this, *engine, ++m_nPreviewGeneration);
  uicore::PreviewDriver& driver = m_pPreview->driver;
  if (driver.Running()) {
    // One page at a time: the selection goes back to the table being read.
    PutSelectionBackOnPreview();
    return;
  }
  // A scan reopened from its file reads its rows from the backup it names, once its set is
  // located again.
  const uicore::PageSourceCheck source = uicore::AttachPageSource(
      *engine, [this](const CBackupReader& reader) { return m_services.prompts->ChooseBackupSet(reader); });
  ClearRecordList();
  if (!source.ready) {
    m_pRowCount->setText(QStringLiteral("0"));
    m_pPrevButton->setEnabled(false);
    m_pNextButton->setEnabled(false);
    SetStatusText(source.message);
    return;
  }
  // The rows are found now: a word that they could not be read no longer holds.
  if (StatusText().startsWith(QLatin1String(uicore::kRowsNeedBackup))) SetStatusText("Ready");
  m_pDatabaseName->setText(FromEngineText(engine->m_strDatabaseName.str()));
  m_pTableName->setText(item->text(0));
  m_pTab->SetSingleTab(QStringLiteral("  ") + item->text(0) + QStringLiteral("  "));
  if (driver.SelectTable(table) != uicore::PreviewStart::Started) return;
  m_mapPageRows.clear();
  m_nTableRows = -1;
  m_pRowsShown->clear();
  m_nPreviewPage = driver.PageNumber();
  m_pPageNumber->setText(QString::number(m_nPreviewPage));
  m_hPreviewItem = item;
  ShowPagingState();
  item->setExpanded(true);
}

void CPellwynDlg::PutSelectionBackOnPreview() {
  // Not from inside the tree's own selection signal: once it has returned.
  QTimer::singleShot(0, this, [this] {
    if (!m_hPreviewItem) return;
    const QSignalBlocker quiet(m_pTree);
    m_pTree->setCurrentItem(m_hPreviewItem);
  });
}

void CPellwynDlg::ShowPagingState() {
  // Both buttons stay disabled until the page asked for is shown, and that page sets them:
  // the driver is free a moment before its page reaches this window, and buttons enabled then
  // would turn past a page the user has not seen.
  m_pPrevButton->setEnabled(false);
  m_pNextButton->setEnabled(false);
}

void CPellwynDlg::OnNextPage() { TurnPreviewPage(true); }

void CPellwynDlg::OnPrevPage() { TurnPreviewPage(false); }

void CPellwynDlg::TurnPreviewPage(bool forward) {
  CSQLServer* engine = m_host.Current();
  if (!engine || engine->m_bExportMode || m_pExport->Running() || !m_pPreview || m_pPreview->engine != engine)
    return;
  uicore::PreviewDriver& driver = m_pPreview->driver;
  if ((forward ? driver.NextPage() : driver.PreviousPage()) != uicore::PreviewStart::Started) return;
  m_nPreviewPage = driver.PageNumber();
  m_pPageNumber->setText(QString::number(m_nPreviewPage));
  ShowPagingState();
}

void CPellwynDlg::ShowPreviewPage(const uicore::PreviewPage& page, int generation) {
  if (!m_pPreview || generation != m_nPreviewGeneration) return;
  ClearRecordList();
  const int columns = int(page.headers.size());
  m_pList->setColumnCount(columns);
  QStringList headers;
  for (const std::string& h : page.headers) headers << FromEngineText(h);
  m_pList->setHorizontalHeaderLabels(headers);
  for (int c = 0; c < columns; ++c) m_pList->setColumnWidth(c, kListColumnWidth);
  m_pList->setRowCount(int(page.rows.size()));
  for (int r = 0; r < int(page.rows.size()); ++r) {
    const std::vector<std::string>& cells = page.rows[size_t(r)];
    // A cell beyond the table's columns has no place in the list.
    for (int c = 0; c < int(cells.size()) && c < columns; ++c) {
      auto* cell = new QTableWidgetItem(FromEngineText(cells[size_t(c)]));
      // Numbers line up at their last digit.
      if (size_t(c) < page.numeric.size() && page.numeric[size_t(c)])
        cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      m_pList->setItem(r, c, cell);
    }
  }
  m_nPreviewPage = page.pageNumber;
  m_pPageNumber->setText(QString::number(page.pageNumber));
  m_pRowCount->setText(QString::number(page.rows.size()));
  // Where the page lies in the table: the first page starts at row 1, a later one where the
  // page before it ended; going back finds the start it had.
  const long long rows = static_cast<long long>(page.rows.size());
  long long first = 0;
  if (page.pageNumber > 1) {
    const auto before = m_mapPageRows.find(page.pageNumber - 1);
    const auto again = m_mapPageRows.find(page.pageNumber);
    if (again != m_mapPageRows.end()) first = again->second.first;
    else if (before != m_mapPageRows.end()) first = before->second.first + before->second.second;
    else first = -1;  // not reached page by page: where it starts is not known
  }
  if (first >= 0) {
    m_mapPageRows[page.pageNumber] = {first, rows};
    if (page.lastPage) m_nTableRows = first + rows;
  }
  m_pRowsShown->setText(FromEngineText(PagerRowsText(first, rows, m_nTableRows)));
  m_pPrevButton->setEnabled(page.previousEnabled);
  m_pNextButton->setEnabled(page.nextEnabled);
  // ">" takes the focus, unless the keys are at work in the tree (arrowing from table to
  // table) or in the list (Page Down): there they stay, for the next key.
  const QWidget* focus = QApplication::focusWidget();
  if (focus != m_pTree && focus != m_pList) m_pNextButton->setFocus();
  update();
  ++m_nPreviewPagesShown;
}

void CPellwynDlg::SetTreeWidth(int width) {
  // The tree takes the width it was given while the window has room for it and the list's
  // least width beside it; a narrower window narrows the tree first, down to its own least.
  m_nTreeWidth = std::max(kMinTreeWidth, width);
  static_cast<ObjectTreeWidget*>(m_pTree)->SetPreferredWidth(m_nTreeWidth);
  m_pTree->setMinimumWidth(std::min(kMinTreeWidth, m_nTreeWidth));
  m_pTree->setMaximumWidth(m_nTreeWidth);
}

void CPellwynDlg::OnSplitterMoved(int distance) {
  // The tree grows by the distance; the layout narrows the right side by as much and moves
  // the paging row with it.
  SetTreeWidth(m_pTree->width() + distance);
  update();
}

// ---- load

void CPellwynDlg::OnLoadBak() {
  SetStatusText("Select the backup or database file to recover");
  std::optional<std::string> path = m_services.prompts->OpenFile(kLoadFilter);
  if (!path) {
    SetStatusText("Ready");
    return;
  }
  LoadFile(*path);
}

void CPellwynDlg::LoadFile(const std::string& path) {
  m_strSourcePath = path;
  m_pPathBox->setText(FromPath(m_strSourcePath));
  if (!m_bExportStarted) m_pRecoverButton->setEnabled(true);
  OnRecover();
}

void CPellwynDlg::OnBrowseMdf() {
  std::optional<std::string> path = m_services.prompts->OpenFile(kMdfFilter);
  if (!path) return;
  m_strSourcePath = *path;
  m_pPathBox->setText(FromPath(m_strSourcePath));
  if (!m_bExportStarted) m_pRecoverButton->setEnabled(true);
}

void CPellwynDlg::UpdateExportCommands(bool enable) {
  // Nothing turns them on while an export runs: its worker still uses the engine.
  enable = enable && !(m_pExport && m_pExport->Running());
  m_pExportButton->setEnabled(enable);
  CommandAction(kCmdExportMenu)->setEnabled(enable);
  CommandAction(kCmdExport)->setEnabled(enable);
  CommandAction(kCmdSaveScan)->setEnabled(enable);
}

void CPellwynDlg::EndRecoverEarly() {
  m_bIgnoreSelChange = false;
  // Nothing of the earlier table or object stays on view, and nothing is said to be running.
  ClearRightPane();
  EndRecoveringStatus();
  m_pTextBox->hide();
  m_pList->hide();
  // An engine whose scan has not run has nothing to export or save yet; with no engine the
  // commands stay usable and say that a backup must be loaded first.
  UpdateExportCommands(!m_host.Current() || m_host.CatalogComplete());
}

void CPellwynDlg::LoadFailed(const std::string& why) {
  Inform(why);
  m_host.ReleaseCurrent();
  ReturnToEmpty();
  SetStatusText(kLoadFailedStatus + why);
}

void CPellwynDlg::ReturnToEmpty() {
  m_pPreview.reset();
  m_hRootItem->setText(0, QString::fromLatin1(kInitialRootText));
  m_hDatabaseItem->setText(0, QString::fromLatin1(kInitialDatabaseText));
  EmptyObjectFolders();
  ClearRecordList();
  m_pTableName->clear();
  m_pDatabaseName->clear();
  m_pRowCount->clear();
  m_pTab->SetSingleTab(QString(26, QLatin1Char(' ')));
  m_nPreviewPage = 0;
  EndRecoverEarly();
}

int CPellwynDlg::ChooseVersionFor(const uicore::SourceFacts& facts) {
  const int version = m_services.prompts->ChooseVersion(facts.engine);
  if (version == 0) return 0;
  const std::string question = uicore::ContraryChoiceQuestion(facts, version);
  if (question.empty() || m_services.prompts->AskYesNo(kMessageTitle, question)) return version;
  // No: the dialog once more, on the file's own version; what is chosen then is taken as it is.
  return m_services.prompts->ChooseVersion(facts.engine);
}

void CPellwynDlg::OnRecover() {
  SetStatusText(kRecoveringStatus + PathForDisplay(m_strSourcePath));
  m_strTruncation.clear();
  m_bIgnoreSelChange = true;
  m_pTextBox->hide();
  ClearRecordList();
  m_pPrevButton->setEnabled(false);
  m_pNextButton->setEnabled(false);
  UpdateExportCommands(false);

  // What the file is, before any engine is made: a file no engine can read is refused here,
  // with the reason, and the version dialog opens on the version the file says.
  const uicore::SourceFacts facts =
      m_services.detectSource ? m_services.detectSource(m_strSourcePath) : uicore::DetectSource(m_strSourcePath);
  if (!facts.Loadable()) return LoadFailed(facts.failure);
  const int version = ChooseVersionFor(facts);
  if (version == 0) return EndRecoverEarly();
  CreatedEngine created = m_services.createEngine ? m_services.createEngine(version) : CreateEngine(version);
  if (!created) {
    // The version's engine is not in this build: nothing is created and the previous engine
    // and its tree stay as they were.
    Inform(created.refusal);
    return EndRecoverEarly();
  }
  m_strVersionLabel = created.version->label;
  m_host.Adopt(std::move(created));
  CSQLServer* engine = m_host.Current();
  m_pPreview.reset();

  EmptyObjectFolders();
  ClearRightPane();
  engine->m_strFilePath = m_strSourcePath.c_str();
  // Detection read what the file is; the engines would go by its name's extension.
  engine->m_bSourceIsDatabaseFile = !facts.backup;
  engine->ScanDataSets();
  if (facts.backup) {
    if (engine->m_nDataSetCount <= 0 || !engine->m_pBackupReader)
      return LoadFailed(PathForDisplay(m_strSourcePath) + " holds no backup set.");
    const int set = m_services.prompts->ChooseBackupSet(*engine->m_pBackupReader);
    // The engine before this Load was given up when the version was chosen: the tree must not
    // keep its name over the folders it emptied.
    if (set == -1) return ReturnToEmpty();
    engine->m_nSelectedDataSet = set;
    const std::string alone = uicore::MissingBaseWarning(*engine);
    if (!alone.empty()) Inform(alone);
  } else {
    // A database file is one database: no set to choose; its pages lie at page number x 8192.
    engine->m_nSelectedDataSet = 1;
  }
  m_strTruncation = uicore::SourceCutOffText(*engine);

  // The follower prepares the status block, starts the scan and follows it.
  const std::string format = m_host.CurrentVersion()->formatText;
  uicore::ScanFollowerOptions options;
  options.format = format;
  options.startScan = [this] { m_host.StartScan(); };
  // The previous recovery's follower goes (its threads are joined); its engine is no longer
  // the current one.
  m_pRecovery.reset();
  m_pRecovery = std::make_unique<Recovery>(this, *engine, std::move(options));
  auto* dialog = new CProgressDlg(m_pRecovery->follower, *m_services.prompts, format, this);
  dialog->SetEndWarning(m_strTruncation);
  m_pRecovery->sink.SetDialog(dialog);
  m_pRecovery->dialog = dialog;
  m_pProgress = dialog;
  connect(dialog, &CProgressDlg::stoppedByButton, this, [this](bool stopped) {
    if (stopped && m_pRecovery) m_pRecovery->stopped = true;
    std::string status = stopped ? uicore::ScanFollower::kStoppedStatus : uicore::ScanFollower::kCompleteStatus;
    if (!m_strTruncation.empty()) status += ". " + m_strTruncation;
    SetStatusText(status);
  });
  connect(dialog, &QDialog::finished, this, &CPellwynDlg::EndRecover);
  // Modal over the main window; the window's own event loop keeps everything responsive.
  dialog->open();
  m_pRecovery->follower.Start();
}

void CPellwynDlg::EndRecoveringStatus() {
  if (StatusText().startsWith(QLatin1String(kRecoveringStatus))) SetStatusText("Ready");
}

void CPellwynDlg::ClearRightPane() {
  ClearRecordList();
  m_pTextBox->clear();
  m_pPageNumber->setText(QStringLiteral(" "));
  m_pRowCount->setText(QStringLiteral("0"));
  m_pRowsShown->clear();
  m_pTableName->clear();
  m_pTab->SetSingleTab(QString(26, QLatin1Char(' ')));
  ShowPagingRow(false);
  m_nPreviewPage = 0;
  m_hPreviewItem = nullptr;
  m_mapPageRows.clear();
  m_nTableRows = -1;
  // Nothing in the tree stays chosen for a pane that shows nothing: choosing the same table
  // again previews it again.
  const QSignalBlocker quiet(m_pTree);
  m_pTree->setCurrentItem(nullptr);
  m_pTree->clearSelection();
}

void CPellwynDlg::EndRecover() {
  m_bIgnoreSelChange = false;
  // The keys go on in the tree the recovery filled.
  m_pTree->setFocus();
  EndRecoveringStatus();
  // Export and Save Scan wait for the scan thread to leave the engine, which a stopped scan
  // may do after the dialog has gone.
  UpdateExportCommands(m_host.CatalogComplete());
  if (m_pProgress) m_pProgress->deleteLater();
  m_pProgress = nullptr;
}

CProgressDlg* CPellwynDlg::ProgressDialog() const { return m_pProgress.data(); }

void CPellwynDlg::OnScanEnded(const CSQLServer* engine) {
  if (engine && engine != m_host.Current()) return;
  // A stopped recovery's tree was never filled: it shows what the scan read before the stop,
  // marked partial for Export and Save Scan.
  const bool stopped = engine && m_pRecovery && m_pRecovery->engine == engine && m_pRecovery->stopped;
  m_host.MarkCatalogComplete(stopped);
  // A cut-off source: the tables whose catalog rows lay past the end are marked, now that the
  // scan thread has left the maps, and the tree shows the marks.
  const bool marked = engine && !m_strTruncation.empty() && uicore::MarkCatalogLosses(*m_host.Current()) > 0;
  if (stopped || marked) FillObjectTree();
  UpdateExportCommands(true);
}

bool CPellwynDlg::ConfirmPartialCatalog(const char* action) {
  if (!m_host.CatalogPartial()) return true;
  return m_services.prompts->AskYesNo(kMessageTitle, FormatString(kPartialCatalogQuestion, action).str());
}

// ---- export, save

void CPellwynDlg::OnExportMenu() {
  if (m_hDatabaseItem->text(0) == QLatin1String(kInitialDatabaseText)) return Inform(kLoadBeforeExport);
  OnExport();
}

void CPellwynDlg::OnExport() {
  // Whatever enabled the command, there must be an engine to export from.
  CSQLServer* engine = m_host.Current();
  if (!engine) return Inform(kLoadBeforeExport);
  if (m_pExport->Running()) return;
  if (!ConfirmPartialCatalog("Export")) return;
  m_bExportStarted = true;
  m_pExport->Run(*engine, ExportObjects(), engine->m_strDatabaseName.str());
}

void CPellwynDlg::BuildExport() {
  CExportController::Window side;
  side.parent = this;
  side.setRunning = [this](bool running) { SetExportRunning(running); };
  side.setPercent = [this](int percent) {
    m_pExportProgress->setValue(std::clamp(percent, 0, 100));
    if (auto* text = findChild<QLabel*>(Id(1053))) text->setText(QStringLiteral("%1%").arg(percent));
  };
  side.setCounter = [this](const std::string& counter) {
    if (auto* text = findChild<QLabel*>(Id(1080))) text->setText(FromEngineText(counter));
  };
  std::unique_ptr<IExportRunner> runner =
      m_services.createExportRunner ? m_services.createExportRunner() : NewExportWorkerRunner();
  m_pExport = std::make_unique<CExportController>(*m_services.prompts, std::move(side), std::move(runner));
  connect(m_pExport.get(), &CExportController::cancelled, this, [this] { m_bExportStarted = false; });
}

void CPellwynDlg::SetExportRunning(bool running) {
  m_pExportButton->setText(running ? QStringLiteral("Stop") : QStringLiteral("Export"));
  m_pRecoverButton->setEnabled(!running);
  UpdateExportCommands(!running && m_host.CatalogComplete());
  if (!running) {
    if (auto* text = findChild<QLabel*>(Id(1080))) text->clear();
  }
}

uicore::ExportCheckTree CPellwynDlg::ExportObjects() const {
  uicore::ExportCheckTree tree;
  tree.rootText = ToEngineText(m_hRootItem->text(0));
  for (int f = 0; f < kFolderCount && f < uicore::kExportFolderCount; ++f) {
    const QTreeWidgetItem* folder = m_hFolderItems[size_t(f)];
    auto& objects = tree.folders[size_t(f)].objects;
    for (int i = 0; i < folder->childCount(); ++i) {
      const QTreeWidgetItem* item = folder->child(i);
      uicore::ExportTreeObject o;
      o.name = ToEngineText(item->text(0));
      o.bold = item->font(0).bold();
      if (KindOf(item) == TreeItemKind::Table) o.table = RecordOf<CTable>(item);
      else o.object = RecordOf<CViewStoredProc>(item);
      objects.push_back(std::move(o));
    }
  }
  return tree;
}

void CPellwynDlg::OnSaveScan() {
  // A catalog the scan thread may still be writing is not saved.
  if (m_strSourcePath.empty() || !m_host.Current() || !m_host.CatalogComplete()) return Inform(kLoadBeforeSave);
  if (!ConfirmPartialCatalog("Save")) return;
  const uicore::SaveScanResult saved = uicore::SaveScan(m_host.Current(), m_strSourcePath, [this] {
    return m_services.prompts->SaveFile(kScanSaveFilter, kScanSuffix);
  });
  if (!saved.message.empty()) Inform(saved.message);
}

void CPellwynDlg::OnOpenScan() {
  SetStatusText("Loading...");
  for (int i = 0; i < m_hRootItem->childCount(); ++i) m_hRootItem->child(i)->setExpanded(false);
  const std::optional<std::string> path = m_services.prompts->OpenFile(kScanOpenFilter);
  // Nothing is loading once the dialog is cancelled or the file refused.
  if (!path) return SetStatusText("Ready");
  // Read into a new engine first: a file that is refused changes neither the engine in use
  // nor its tree.
  uicore::OpenScanResult opened = uicore::OpenScanFile(*path);
  if (!opened.Loaded()) {
    SetStatusText("Ready");
    return Inform(opened.message);
  }
  CreatedEngine created;
  created.engine = std::move(opened.engine);
  created.version = FindEngineVersion(opened.version);
  // The tree's label follows the engine that read the file.
  if (created.version) m_strVersionLabel = created.version->label;
  m_host.Adopt(std::move(created));
  m_host.MarkCatalogComplete();
  m_pPreview.reset();
  EmptyObjectFolders();
  CommandAction(kCmdExportMenu)->setEnabled(true);
  ClearRightPane();
  FillObjectTree();
  SetStatusText("Ready");
  Inform(uicore::kLoadComplete);
  UpdateExportCommands(true);
}

// ---- help, support, about, exit

void CPellwynDlg::OnHelp() {
  const std::string path = ProgramFile(kHelpFileName);
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(path, error) || !m_services.shell->OpenDocument(path))
    Inform("The help file " + PathForDisplay(path) + " could not be opened.");
}

void CPellwynDlg::OnSupport() {
  if (!m_services.shell->OpenUrl(kSupportUrl)) Inform(std::string("The support page ") + kSupportUrl + " could not be opened.");
}

void CPellwynDlg::OnAbout() {
  auto* about = new CAboutDlg(this);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}

void CPellwynDlg::OnExit() {
  if (!m_services.prompts->AskYesNo(kMessageTitle, kCloseQuestion)) return;
  m_bCloseConfirmed = true;
  close();
}

void CPellwynDlg::closeEvent(QCloseEvent* event) {
  if (!m_bCloseConfirmed && !m_services.prompts->AskYesNo(kMessageTitle, kCloseQuestion)) {
    event->ignore();
    return;
  }
  m_bCloseConfirmed = true;
  SavePlacement();
  m_bAllThreadsEnded = m_host.Shutdown(kExitJoinBound);
  if (CSplashScreen* splash = CSplashScreen::Current()) splash->close();
  event->accept();
}
