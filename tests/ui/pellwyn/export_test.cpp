// The export from the main window: the options dialog with its check-box tree over the loaded
// catalog, the request it hands over, and the progress dialog fed by a scripted worker thread
// through the same sink the real worker reports to (sorted status lines, percentages, Stop
// and the close box, the completion message, the object list and its CSV report). The main
// window's commands and previews stay off until the worker has been joined.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <condition_variable>
#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "common/enginestatus.h"
#include "ui/core/exportnames.h"
#include "platform/database.h"
#include "support/catalogengine.h"
#include "support/fakepreview.h"
#include "support/fixtures.h"
#include "support/tdsendpoint.h"
#include "ui/pellwyn/exportcontroller.h"
#include "ui/pellwyn/exportoptiondlg.h"
#include "ui/pellwyn/exportprogressdlg.h"
#include "ui/pellwyn/progressdlg.h"
#include "ui/pellwyn/textconv.h"
#include "desktoptest.h"
#include "scriptfiles.h"

using desktoptest::ChildTexts;
using desktoptest::Harness;
using testsupport::CatalogEngine;
using namespace scriptfiles;

namespace {

constexpr int kScanTimeoutMs = 60000;

// A worker on a thread of its own that plays a script against the sink, as the export worker
// does. It can be held at a gate, and it sees the stop flag the dialog raises.
class ScriptedRunner : public IExportRunner {
 public:
  struct Shared {
    std::mutex lock;
    std::condition_variable wake;
    bool open = false;  // the gate
    std::atomic<bool> stopped{false};
    std::atomic<int> starts{0};
    uicore::ExportRequest request;
    CDatabase* connection = nullptr;
    // The script: runs on the runner's thread.
    std::function<void(Shared&, uicore::IExportSink&)> script;

    void Open() {
      std::lock_guard<std::mutex> hold(lock);
      open = true;
      wake.notify_all();
    }
    // Waits at the gate; false when a stop came first.
    bool Gate() {
      std::unique_lock<std::mutex> hold(lock);
      wake.wait(hold, [this] { return open || stopped; });
      return !stopped;
    }
  };

  explicit ScriptedRunner(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}
  ~ScriptedRunner() override {
    Stop();
    Join();
  }
  bool Start(CSQLServer&, uicore::ExportRequest request, uicore::IExportSink& sink, CDatabase* connection) override {
    if (m_thread.joinable()) return false;
    m_shared->starts++;
    m_shared->request = std::move(request);
    m_shared->connection = connection;
    m_shared->stopped = false;
    m_thread = std::thread([shared = m_shared, &sink] { shared->script(*shared, sink); });
    return true;
  }
  void Stop() override {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    m_shared->stopped = true;
    m_shared->wake.notify_all();
  }
  void Join() override {
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  std::shared_ptr<ScriptedRunner::Shared> m_shared;
  std::thread m_thread;
};

struct ExportHarness {
  std::shared_ptr<ScriptedRunner::Shared> shared = std::make_shared<ScriptedRunner::Shared>();
  Harness h{{}, [s = shared] { return std::make_unique<ScriptedRunner>(s); }};
  CatalogEngine* engine = nullptr;

  ExportHarness() {
    engine = h.AdoptFake(3);
    engine->m_strDatabaseName = "Sales";
    engine->AddTable(1, "dbo", "orders", 3);
    engine->AddTable(2, "dbo", "Customers", 0);
    engine->AddTable(3, "sales", "archive", 1);
    engine->AddObject(engine->m_mapViews, 10, "v_recent", "create view v_recent as select 1");
    engine->AddObject(engine->m_mapViews, 11, "v_all", "create view v_all as select 2");
    engine->AddObject(engine->m_mapStoredProcs, 20, "p_list", "create proc p_list as select 1");
    engine->AddObject(engine->m_mapRules, 30, "r_positive", "create rule r_positive as @v > 0");
    engine->AddObject(engine->m_mapTriggers, 40, "t_audit", "create trigger t_audit on orders for insert as");
    engine->AddObject(engine->m_mapFunctions, 50, "f_total", "create function f_total() returns int");
    h.window->OnScanEnded();
    h.window->FillObjectTree();
  }
  CExportController& Exporter() const { return *h.window->Exporter(); }
  CExportOptionDlg& Options() const { return *Exporter().OptionsDialog(); }
  QTreeWidget* OptionsTree() const { return Options().findChild<QTreeWidget*>("id1079"); }
  QTreeWidgetItem* Root() const { return OptionsTree()->topLevelItem(0); }
  QTreeWidgetItem* Folder(int f) const { return Root()->child(f); }
  template <class T>
  T* Option(const char* name) const {
    T* w = Options().findChild<T*>(QLatin1String(name));
    if (!w) qFatal("no control %s", name);
    return w;
  }
  CExportProgressDlg* Progress() const { return Exporter().ProgressDialog(); }
  template <class T>
  T* InProgress(const char* name) const {
    T* w = Progress() ? Progress()->findChild<T*>(QLatin1String(name)) : nullptr;
    if (!w) qFatal("no progress control %s", name);
    return w;
  }
  // The options dialog, opened from the toolbar.
  bool OpenOptions() const {
    h.Trigger(kCmdExport);
    return QTest::qWaitFor([&] { return Options().isVisible(); }, 5000);
  }
  // Confirms a script export into `folder` with the scripted folder chooser.
  void ConfirmScripts(const std::string& folder) {
    Option<QRadioButton>("id1042")->click();
    h.prompts.files = {folder};
    Option<QPushButton>("id1021")->click();
  }
  bool ExportEnded() const {
    return QTest::qWaitFor([&] { return !Exporter().Running(); }, 10000);
  }
};

QString Checks(const QTreeWidgetItem* item) {
  QString s = item->checkState(0) == Qt::Checked ? QStringLiteral("x") : QStringLiteral(".");
  if (item->childCount() == 0) return s;
  s += QLatin1Char('(');
  for (int i = 0; i < item->childCount(); ++i) s += Checks(item->child(i));
  return s + QLatin1Char(')');
}

// Where a mouse click lands on the item's check box, and on its text.
QPoint CheckBoxPoint(QTreeWidget* tree, QTreeWidgetItem* item) {
  QStyleOptionViewItem option;
  option.initFrom(tree->viewport());
  option.rect = tree->visualItemRect(item);
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  option.text = item->text(0);
  option.font = item->font(0);
  option.fontMetrics = QFontMetrics(option.font);
  return tree->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, tree).center();
}

QPoint TextPoint(QTreeWidget* tree, QTreeWidgetItem* item) {
  const QRect r = tree->visualItemRect(item);
  return QPoint(r.right() - 4, r.center().y());
}

QStringList Lines(const QListWidget* list) {
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

// The progress a worker reports at the start of a script export, in the worker's order, so
// the list shows them sorted and not as they came.
void ScriptStart(uicore::IExportSink& sink) {
  sink.AppendStatus("Exporting table : sales.archive");
  sink.AppendStatus("Exporting table : dbo.orders");
  sink.AppendStatus("exporting table : dbo.Customers");
  sink.SetCounterText("(2 / 3)");
  sink.SetDialogPercent(20);
  sink.SetMainPercent(20);
  sink.ShowTableProgress("sales.archive: 12000 rows (page 340 of 1200)");
}

// Loads `path` with the real 2008 engine and closes the recovery dialog once the scan is over.
bool LoadToTheEnd(Harness& h, const std::string& path) {
  h.prompts.files = {path};
  h.prompts.versions = {3};
  h.prompts.sets = {1};
  h.Trigger(kCmdLoad);
  if (!h.window->ProgressDialog()) return false;
  if (!QTest::qWaitFor(
          [&] {
            auto* label = h.window->ProgressDialog()->findChild<QLabel*>("statusText");
            return label && label->text() == QLatin1String("Recovery Complete");
          },
          kScanTimeoutMs))
    return false;
  h.window->ProgressDialog()->findChild<QPushButton*>("stopButton")->click();
  return QTest::qWaitFor([&] { return h.window->CommandAction(kCmdExport)->isEnabled(); }, kScanTimeoutMs);
}

}  // namespace

class ExportDialogsTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void optionsTreeMirrorsTheMainWindowAndPropagatesClicks();
  void optionsOpenedTwiceStartOverAndCancelExportsNothing();
  void confirmHandsOverTheRequest();
  void progressFollowsTheWorkerToTheCompletionMessage();
  void serverExportListsTheTablesAndOffersTheReport();
  void stopAndTheCloseBox();
  void optionsOnAScannedBackup();
  void scriptExportOfNorthwindWritesWhatTheDriverWrites();
  void recoverDeletedRowsIsOffByDefaultAndReachesTheEngine();
  void scriptExportWithDeletedRowsWritesWhatTheDriverWrites();
  void folderThatCannotBeMadeEndsTheExport();
  void serverExportOfNorthwindThroughTheDriver();
};

void ExportDialogsTest::optionsTreeMirrorsTheMainWindowAndPropagatesClicks() {
  ExportHarness x;
  QVERIFY(x.OpenOptions());
  QCOMPARE(x.Root()->text(0), x.h.Tree()->topLevelItem(0)->text(0));
  QCOMPARE(ChildTexts(x.Root()),
           (QStringList{"TABLES", "VIEWS", "STORED PROCEDURE", "RULES", "TRIGGERS", "FUNCTIONS"}));
  // The main window's order and bold tables; item data are the records themselves.
  QCOMPARE(ChildTexts(x.Folder(0)), ChildTexts(x.h.Folder(0)));
  QCOMPARE(ChildTexts(x.Folder(0)), (QStringList{"dbo.Customers", "dbo.orders", "sales.archive"}));
  QCOMPARE(ChildTexts(x.Folder(1)), (QStringList{"v_all", "v_recent"}));
  QVERIFY(!x.Folder(0)->child(0)->font(0).bold());
  QVERIFY(x.Folder(0)->child(1)->font(0).bold());
  QVERIFY(!(x.Folder(0)->child(0)->flags() & Qt::ItemIsAutoTristate));
  QCOMPARE(x.Options().Boxes().Folder(uicore::ExportFolder::Tables).objects[1].table,
           testsupport::FindTable(*x.engine, "orders"));
  // Everything expanded but the triggers.
  QVERIFY(x.Root()->isExpanded());
  for (int f = 0; f < 6; ++f) QCOMPARE(x.Folder(f)->isExpanded(), f != 4);
  QCOMPARE(Checks(x.Root()), QStringLiteral("x(x(xxx)x(xx)x(x)x(x)x(x)x(x))"));
  QCOMPARE(x.Options().DefaultDatabaseName(), std::string("Sales_Recovered"));
  QCOMPARE(x.Option<QLineEdit>("id1054")->text(), QStringLiteral("Sales_Recovered"));

  // Clicks as a user gives them: on a table's box with the mouse; on its text nothing changes.
  QTreeWidget* tree = x.OptionsTree();
  QTreeWidgetItem* archive = x.Folder(0)->child(2);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, TextPoint(tree, archive));
  QCOMPARE(Checks(x.Root()), QStringLiteral("x(x(xxx)x(xx)x(x)x(x)x(x)x(x))"));
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, CheckBoxPoint(tree, archive));
  QCOMPARE(Checks(x.Root()), QStringLiteral(".(.(xx.)x(xx)x(x)x(x)x(x)x(x))"));
  // The keyboard's space on TABLES: every table, and the root, since the other five are checked.
  tree->setFocus();
  tree->setCurrentItem(x.Folder(0));
  QTest::keyClick(tree, Qt::Key_Space);
  QCOMPARE(Checks(x.Root()), QStringLiteral("x(x(xxx)x(xx)x(x)x(x)x(x)x(x))"));
  // A folder off: its objects and the root; checking an object back changes nothing else.
  x.Folder(1)->setCheckState(0, Qt::Unchecked);
  QCOMPARE(Checks(x.Root()), QStringLiteral(".(x(xxx).(..)x(x)x(x)x(x)x(x))"));
  x.Folder(1)->child(0)->setCheckState(0, Qt::Checked);
  QCOMPARE(Checks(x.Root()), QStringLiteral(".(x(xxx).(x.)x(x)x(x)x(x)x(x))"));
  // TABLES on while VIEWS is off leaves the root; the root then checks everything, and off
  // again clears everything.
  x.Folder(0)->setCheckState(0, Qt::Unchecked);
  x.Folder(0)->setCheckState(0, Qt::Checked);
  QCOMPARE(Checks(x.Root()), QStringLiteral(".(x(xxx).(x.)x(x)x(x)x(x)x(x))"));
  x.Root()->setCheckState(0, Qt::Checked);
  QCOMPARE(Checks(x.Root()), QStringLiteral("x(x(xxx)x(xx)x(x)x(x)x(x)x(x))"));
  x.Root()->setCheckState(0, Qt::Unchecked);
  QCOMPARE(Checks(x.Root()), QStringLiteral(".(.(...).(..).(.).(.).(.).(.))"));
  desktoptest::SaveScreenshot(&x.Options(), QStringLiteral("export-options-nothing-checked"));
  x.Option<QPushButton>("id1025")->click();
}

void ExportDialogsTest::optionsOpenedTwiceStartOverAndCancelExportsNothing() {
  ExportHarness x;
  QVERIFY(x.OpenOptions());
  x.Folder(2)->setCheckState(0, Qt::Unchecked);
  x.Option<QRadioButton>("id1042")->click();
  x.Option<QRadioButton>("id1076")->click();
  x.Option<QLineEdit>("id1054")->setText(QStringLiteral("Other"));
  x.Option<QPushButton>("id1025")->click();
  QVERIFY(!x.Options().isVisible());
  QVERIFY(!x.Options().Accepted());
  QCOMPARE(x.shared->starts.load(), 0);
  QVERIFY(x.h.window->CommandAction(kCmdExport)->isEnabled());

  // The second opening: the full tree, all checked, the initial choices. Esc cancels too.
  QVERIFY(x.OpenOptions());
  QCOMPARE(Checks(x.Root()), QStringLiteral("x(x(xxx)x(xx)x(x)x(x)x(x)x(x))"));
  QVERIFY(x.Option<QRadioButton>("id1041")->isChecked());
  QVERIFY(x.Option<QRadioButton>("id1077")->isChecked());
  QVERIFY(x.Option<QCheckBox>("id1125")->isChecked());
  QVERIFY(x.Option<QGroupBox>("id1027")->isEnabled());
  QCOMPARE(x.Option<QLineEdit>("id1054")->text(), QStringLiteral("Sales_Recovered"));
  QCOMPARE(x.Option<QLineEdit>("id1047")->echoMode(), QLineEdit::Password);
  QTest::keyClick(&x.Options(), Qt::Key_Escape);
  QVERIFY(!x.Options().isVisible());
  QCOMPARE(x.shared->starts.load(), 0);
}

void ExportDialogsTest::confirmHandsOverTheRequest() {
  ExportHarness x;
  x.shared->script = [](ScriptedRunner::Shared&, uicore::IExportSink& sink) { sink.EndedEarly(); };
  QVERIFY(x.OpenOptions());
  // The credentials belong to the server target only.
  x.Option<QRadioButton>("id1042")->click();
  QVERIFY(!x.Option<QGroupBox>("id1027")->isEnabled());
  QVERIFY(!x.Option<QLineEdit>("id1044")->isEnabled());
  x.Option<QRadioButton>("id1041")->click();
  QVERIFY(x.Option<QLineEdit>("id1044")->isEnabled());

  // Server target: empty fields are said; a connection that does not open keeps the dialog.
  x.Option<QPushButton>("id1021")->click();
  QCOMPARE(x.h.prompts.Last("info"), std::string("Please enter the server name."));
  QVERIFY(x.Options().isVisible());
  x.Option<QLineEdit>("id1044")->setText(QStringLiteral("db.example"));
  x.Option<QLineEdit>("id1046")->setText(QStringLiteral("sa"));
  x.Option<QLineEdit>("id1047")->setText(QStringLiteral("p;w}d"));
  x.Option<QCheckBox>("id1125")->setChecked(false);
  uicore::ExportRequest seen;
  bool refuse = true;
  x.Options().SetConnectionOpener([&](const uicore::ExportRequest& r, std::string& error) -> std::unique_ptr<CDatabase> {
    seen = r;
    if (refuse) {
      error = "Login failed for user 'sa'.";
      return nullptr;
    }
    return std::make_unique<CDatabase>();
  });
  x.Option<QPushButton>("id1021")->click();
  QCOMPARE(x.h.prompts.Last("info"), std::string("Login failed for user 'sa'."));
  QVERIFY(x.Options().isVisible());
  QCOMPARE(x.shared->starts.load(), 0);
  QCOMPARE(seen.server + "|" + seen.database + "|" + seen.user + "|" + seen.password,
           std::string("db.example|Sales_Recovered|sa|p;w}d"));
  QVERIFY(!seen.createDatabase);
  refuse = false;
  x.Option<QPushButton>("id1021")->click();
  QVERIFY(x.ExportEnded());
  QCOMPARE(x.shared->starts.load(), 1);
  QVERIFY(x.shared->request.toServer);
  QVERIFY(x.shared->request.rows);
  QVERIFY(x.shared->connection != nullptr);
  QCOMPARE(x.shared->request.tables.size(), size_t(3));

  // Script target, schema only, two objects off: a cancelled folder chooser keeps the dialog.
  QVERIFY(x.OpenOptions());
  x.Option<QRadioButton>("id1042")->click();
  x.Option<QRadioButton>("id1076")->click();
  x.Folder(0)->child(1)->setCheckState(0, Qt::Unchecked);
  x.Folder(1)->child(0)->setCheckState(0, Qt::Unchecked);
  x.h.prompts.files.clear();
  x.Option<QPushButton>("id1021")->click();
  QCOMPARE(x.h.prompts.asked.back().kind, std::string("folder"));
  QCOMPARE(x.h.prompts.asked.back().title, std::string(" Please select a folder to save the .sql files "));
  QVERIFY(x.Options().isVisible());
  QCOMPARE(x.shared->starts.load(), 1);
  x.ConfirmScripts("/srv/exports");
  QVERIFY(x.ExportEnded());
  QCOMPARE(x.shared->starts.load(), 2);
  const uicore::ExportRequest& r = x.shared->request;
  QVERIFY(!r.toServer);
  QVERIFY(!r.rows);
  QCOMPARE(r.folder, std::string("/srv/exports"));
  QVERIFY(x.shared->connection == nullptr);
  QCOMPARE(r.tables, (std::vector<CTable*>{testsupport::FindTable(*x.engine, "Customers"),
                                           testsupport::FindTable(*x.engine, "archive")}));
  QCOMPARE(r.views.size(), size_t(1));
  QCOMPARE(r.views[0]->m_strName.str(), std::string("v_recent"));
  QCOMPARE(r.procedures.size() + r.rules.size() + r.triggers.size() + r.functions.size(), size_t(4));
}

void ExportDialogsTest::progressFollowsTheWorkerToTheCompletionMessage() {
  ExportHarness x;
  x.shared->script = [](ScriptedRunner::Shared& s, uicore::IExportSink& sink) {
    ScriptStart(sink);
    if (!s.Gate()) return sink.EndedEarly();
    sink.SetDialogPercent(100);
    sink.AppendStatus("Export Complete.");
    sink.Finished(false,
                  "Your scripts have been saved at the location : /srv/exports/Tarnwell_Pellwyn_Sales_1_2_2026_3_4_5"
                  "\r\n\nPlease read ReadMe.txt in the same location for details on how to run the scripts.");
  };
  QVERIFY(x.OpenOptions());
  x.ConfirmScripts("/srv/exports");
  QVERIFY(x.Progress());
  // Before the worker's first report.
  QCOMPARE(x.InProgress<QLabel>("id1053")->text(), QStringLiteral("0  %"));
  QVERIFY(!x.InProgress<QPushButton>("id1098")->isVisible());
  QVERIFY(!x.InProgress<QPlainTextEdit>("id1096")->isVisible());
  QVERIFY(!x.InProgress<QTableWidget>("id1097")->isVisible());
  QListWidget* status = x.InProgress<QListWidget>("id1095");
  QTRY_COMPARE(status->count(), 4);
  QCOMPARE(Lines(status), (QStringList{"Exporting database...", "exporting table : dbo.Customers",
                                       "Exporting table : dbo.orders", "Exporting table : sales.archive"}));
  QTRY_COMPARE(x.InProgress<QLabel>("id1053")->text(), QStringLiteral("20%"));
  QCOMPARE(x.InProgress<QProgressBar>("id1056")->value(), 20);
  // The table being walked, and how far.
  QTRY_COMPARE(x.InProgress<QLabel>("tableProgress")->text(), QStringLiteral("sales.archive: 12000 rows (page 340 of 1200)"));
  // The main window's hidden progress controls, and its commands off while the worker runs.
  QTRY_COMPARE(x.h.Find<QProgressBar>("id1056")->value(), 20);
  QCOMPARE(x.h.Find<QLabel>("id1080")->text(), QStringLiteral("(2 / 3)"));
  QCOMPARE(x.h.Find<QPushButton>("id1008")->text(), QStringLiteral("Stop"));
  for (int id : {kCmdExport, kCmdExportMenu}) QVERIFY(!x.h.window->CommandAction(id)->isEnabled());
  QVERIFY(!x.h.Find<QPushButton>("id1007")->isEnabled());
  // Not even a scan that ends meanwhile turns them on.
  x.h.window->OnScanEnded();
  QVERIFY(!x.h.window->CommandAction(kCmdExport)->isEnabled());
  // A second export is refused, and a table's preview does not start.
  x.h.window->OnExport();
  QVERIFY(!x.Options().isVisible());
  x.h.Tree()->setCurrentItem(x.h.Folder(0)->child(1));
  QCOMPARE(x.h.Find<QLabel>("id1068")->text(), QString());
  desktoptest::SaveScreenshot(x.Progress(), QStringLiteral("export-progress-mid-run"));

  x.shared->Open();
  QTRY_VERIFY(x.InProgress<QPushButton>("id1098")->isVisible());
  QPlainTextEdit* message = x.InProgress<QPlainTextEdit>("id1096");
  QVERIFY(message->isVisible());
  QVERIFY(message->toPlainText().startsWith(QStringLiteral("Your scripts have been saved at the location : /srv/")));
  QVERIFY(message->toPlainText().contains(QStringLiteral("\n\nPlease read ReadMe.txt")));
  for (const char* hidden : {"id1095", "id1056", "id1053", "id1093"})
    QVERIFY2(!x.Progress()->findChild<QWidget*>(QLatin1String(hidden))->isVisible(), hidden);
  QCOMPARE(x.InProgress<QPushButton>("id1093")->text(), QStringLiteral("Finish"));
  QVERIFY(x.ExportEnded());
  QVERIFY(x.h.window->CommandAction(kCmdExport)->isEnabled());
  QVERIFY(x.h.window->CommandAction(kCmdExportMenu)->isEnabled());
  QCOMPARE(x.h.Find<QPushButton>("id1008")->text(), QStringLiteral("Export"));
  desktoptest::SaveScreenshot(x.Progress(), QStringLiteral("export-finished-message"));
  // A script export offers no report.
  x.InProgress<QPushButton>("id1098")->click();
  QTRY_VERIFY(!x.Progress());
  QCOMPARE(x.h.prompts.Count("question"), 0);
  // Previews work again once the worker has been joined.
  QVERIFY(x.h.window->CommandAction(kCmdExport)->isEnabled());
}

void ExportDialogsTest::serverExportListsTheTablesAndOffersTheReport() {
  ExportHarness x;
  x.shared->script = [](ScriptedRunner::Shared&, uicore::IExportSink& sink) {
    const std::pair<const char*, long> tables[] = {{"orders", 830}, {"Customers", 91}, {"a,b", 5}};
    for (const auto& [name, count] : tables) {
      sink.AddObjectRow(name, std::to_string(count), false);
      sink.AppendReport(uicore::ExportReportLine(name, count));
    }
    sink.AddObjectRow("r_positive", "", true);
    sink.Finished(true, "");
  };
  x.Options().SetConnectionOpener(
      [](const uicore::ExportRequest&, std::string&) { return std::make_unique<CDatabase>(); });
  QVERIFY(x.OpenOptions());
  x.Option<QLineEdit>("id1044")->setText(QStringLiteral("db.example"));
  x.Option<QPushButton>("id1021")->click();
  QVERIFY(x.Progress());
  QTableWidget* objects = x.InProgress<QTableWidget>("id1097");
  QTRY_VERIFY(objects->isVisible());
  QCOMPARE(objects->horizontalHeaderItem(0)->text(), QStringLiteral("Name"));
  QCOMPARE(objects->horizontalHeaderItem(1)->text(), QStringLiteral("Exported Record Count"));
  QCOMPARE(objects->columnWidth(0), 250);
  QCOMPARE(objects->columnWidth(1), 248);
  QCOMPARE(objects->rowCount(), 4);
  QCOMPARE(objects->item(0, 0)->text(), QStringLiteral("r_positive"));
  QCOMPARE(objects->item(1, 0)->text() + QLatin1Char('=') + objects->item(1, 1)->text(), QStringLiteral("orders=830"));
  QCOMPARE(objects->item(3, 0)->text(), QStringLiteral("a,b"));
  QVERIFY(!x.InProgress<QPlainTextEdit>("id1096")->isVisible());
  desktoptest::SaveScreenshot(x.Progress(), QStringLiteral("export-server-object-list"));

  // Close: the report question; a cancelled folder chooser keeps the dialog.
  testsupport::TempDir dir;
  x.h.prompts.yesNo = {true, true};
  x.h.prompts.files.clear();
  x.InProgress<QPushButton>("id1098")->click();
  QCOMPARE(x.h.prompts.Last("question"), std::string("Do you want to Export the Details to a .csv file ?"));
  QCOMPARE(x.h.prompts.asked.back().title, std::string(" Please select a folder to save the .csv files "));
  QVERIFY(x.Progress() && x.Progress()->isVisible());
  x.h.prompts.files = {dir.path()};
  x.InProgress<QPushButton>("id1098")->click();
  QTRY_VERIFY(!x.Progress());
  std::vector<std::filesystem::path> written;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) written.push_back(e.path());
  QCOMPARE(written.size(), size_t(1));
  const std::string name = written[0].filename().string();
  QVERIFY2(name.rfind("ExportReport_Sales_", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".csv",
           name.c_str());
  QCOMPARE(testsupport::ReadFile(written[0].string()), std::string("orders,830\r\nCustomers,91\r\n\"a,b\",5\r\n"));
  QVERIFY(x.ExportEnded());

  // A report that cannot be written is said; the dialog closes as usual. No: no report.
  const std::string notAFolder = dir.file("plain-file");
  testsupport::WriteFile(notAFolder, "x");
  for (bool wanted : {true, false}) {
    QVERIFY(x.OpenOptions());
    x.Option<QLineEdit>("id1044")->setText(QStringLiteral("db.example"));
    x.Option<QPushButton>("id1021")->click();
    QTRY_VERIFY(x.Progress() && x.Progress()->ExportFinished());
    x.h.prompts.yesNo = {wanted};
    x.h.prompts.files = {notAFolder};
    const int folders = x.h.prompts.Count("folder");
    x.InProgress<QPushButton>("id1098")->click();
    QTRY_VERIFY(!x.Progress());
    QCOMPARE(x.h.prompts.Count("folder"), folders + (wanted ? 1 : 0));
    if (wanted) QVERIFY(x.h.prompts.Last("info").rfind("The report could not be written to " + notAFolder + "/ExportReport_Sales_", 0) == 0);
    QVERIFY(x.ExportEnded());
  }
}

void ExportDialogsTest::stopAndTheCloseBox() {
  ExportHarness x;
  x.shared->script = [](ScriptedRunner::Shared& s, uicore::IExportSink& sink) {
    sink.AppendStatus("Generating tables");
    if (!s.Gate()) {
      // The worker reaches its next check a little after the dialog has gone.
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      sink.AppendStatus("Export terminated");
      return sink.EndedEarly();
    }
    sink.Finished(false, "done");
  };
  // Stop: No changes nothing; Yes raises the flag, captions "Finish" and closes at once, but
  // the commands stay off until the worker has ended.
  QVERIFY(x.OpenOptions());
  x.ConfirmScripts("/srv/exports");
  QPointer<CExportProgressDlg> dialog = x.Progress();
  QVERIFY(dialog);
  x.h.prompts.yesNo = {false};
  x.InProgress<QPushButton>("id1093")->click();
  QCOMPARE(x.h.prompts.Last("question"), std::string("Are you sure you want stop the export process ?"));
  QVERIFY(dialog->isVisible());
  QVERIFY(!x.shared->stopped);
  x.h.prompts.yesNo = {true};
  QPushButton* stop = x.InProgress<QPushButton>("id1093");
  stop->click();
  QVERIFY(x.shared->stopped);
  QVERIFY(!dialog || !dialog->isVisible());
  QVERIFY(x.Exporter().Running());
  QVERIFY(!x.h.window->CommandAction(kCmdExport)->isEnabled());
  QVERIFY(x.ExportEnded());
  QVERIFY(x.h.window->CommandAction(kCmdExport)->isEnabled());

  // The close box while the export runs: on Yes only the flag; the worker's end closes it.
  QVERIFY(x.OpenOptions());
  x.ConfirmScripts("/srv/exports");
  dialog = x.Progress();
  QVERIFY(dialog);
  QTRY_COMPARE(x.InProgress<QListWidget>("id1095")->count(), 2);
  x.h.prompts.yesNo = {true};
  dialog->close();
  QVERIFY(x.shared->stopped);
  QVERIFY(dialog->isVisible());
  QTRY_VERIFY(!dialog || !dialog->isVisible());
  QVERIFY(x.ExportEnded());

  // After a finished export, Stop and the close box close without a question.
  QVERIFY(x.OpenOptions());
  x.ConfirmScripts("/srv/exports");
  dialog = x.Progress();
  x.shared->Open();
  QTRY_VERIFY(x.Progress() && x.Progress()->ExportFinished());
  const int questions = x.h.prompts.Count("question");
  x.InProgress<QPushButton>("id1093")->click();
  QTRY_VERIFY(!dialog);
  QCOMPARE(x.h.prompts.Count("question"), questions);
  QVERIFY(x.ExportEnded());
}

void ExportDialogsTest::optionsOnAScannedBackup() {
  const std::string path = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (path.empty()) QSKIP("fixtures not available");
  auto shared = std::make_shared<ScriptedRunner::Shared>();
  Harness h({}, [shared] { return std::make_unique<ScriptedRunner>(shared); });
  QVERIFY(LoadToTheEnd(h, path));

  CExportOptionDlg& options = *h.window->Exporter()->OptionsDialog();
  h.Trigger(kCmdExport);
  QTRY_VERIFY(options.isVisible());
  QTreeWidget* tree = options.findChild<QTreeWidget*>("id1079");
  QTreeWidgetItem* root = tree->topLevelItem(0);
  QCOMPARE(root->text(0), h.Tree()->topLevelItem(0)->text(0));
  QCOMPARE(root->child(0)->childCount(), 13);
  QCOMPARE(root->child(1)->childCount(), 16);
  QCOMPARE(root->child(2)->childCount(), 7);
  for (int f = 0; f < 6; ++f) QCOMPARE(ChildTexts(root->child(f)), ChildTexts(h.Folder(f)));
  for (int i = 0; i < 13; ++i)
    QCOMPARE(root->child(0)->child(i)->font(0).bold(), h.Folder(0)->child(i)->font(0).bold());
  QCOMPARE(options.findChild<QLineEdit*>("id1054")->text(), QStringLiteral("Northwind_Recovered"));
  desktoptest::SaveScreenshot(&options, QStringLiteral("export-options-northwind"));

  // Orders off: the request holds the other twelve tables, in the tree's order.
  QTreeWidgetItem* orders = nullptr;
  for (int i = 0; i < 13; ++i)
    if (root->child(0)->child(i)->text(0) == QLatin1String("dbo.Orders")) orders = root->child(0)->child(i);
  QVERIFY(orders);
  orders->setCheckState(0, Qt::Unchecked);
  QCOMPARE(root->checkState(0), Qt::Unchecked);
  shared->script = [](ScriptedRunner::Shared&, uicore::IExportSink& sink) { sink.EndedEarly(); };
  options.findChild<QRadioButton*>("id1042")->click();
  h.prompts.files = {std::string("/tmp")};
  options.findChild<QPushButton*>("id1021")->click();
  QTRY_VERIFY(!h.window->Exporter()->Running() && shared->starts == 1);
  QCOMPARE(shared->request.tables.size(), size_t(12));
  QCOMPARE(shared->request.views.size(), size_t(16));
  for (CTable* t : shared->request.tables) QVERIFY(t->m_strName.str() != "Orders");
}

void ExportDialogsTest::scriptExportOfNorthwindWritesWhatTheDriverWrites() {
  const std::string path = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;  // the program's own export worker
  QVERIFY(LoadToTheEnd(h, path));
  CExportController& exporter = *h.window->Exporter();
  h.Trigger(kCmdExport);
  QTRY_VERIFY(exporter.OptionsDialog()->isVisible());
  exporter.OptionsDialog()->findChild<QRadioButton*>("id1042")->click();
  testsupport::TempDir parent;
  h.prompts.files = {parent.path()};
  exporter.OptionsDialog()->findChild<QPushButton*>("id1021")->click();
  QVERIFY(exporter.ProgressDialog());
  QTRY_VERIFY_WITH_TIMEOUT(exporter.ProgressDialog()->ExportFinished(), kScanTimeoutMs);

  std::vector<std::string> folders;
  for (const auto& e : std::filesystem::directory_iterator(parent.path())) folders.push_back(e.path().string());
  QCOMPARE(folders.size(), size_t(1));
  const std::string folder = folders[0];
  QVERIFY2(std::filesystem::path(folder).filename().string().rfind("Tarnwell_Pellwyn_Northwind_", 0) == 0,
           folder.c_str());
  const QString message = exporter.ProgressDialog()->findChild<QPlainTextEdit*>("id1096")->toPlainText();
  QVERIFY2(message.startsWith(QStringLiteral("Your scripts have been saved at the location : ") + FromPath(folder)),
           qPrintable(message));
  desktoptest::SaveScreenshot(exporter.ProgressDialog(), QStringLiteral("export-finished-northwind"));
  exporter.ProgressDialog()->findChild<QPushButton*>("id1098")->click();
  QTRY_VERIFY(!exporter.ProgressDialog());
  QTRY_VERIFY(!exporter.Running());
  QCOMPARE(h.prompts.Count("question"), 0);

  // engine-driver's export: the same worker over every object, rows included.
  testsupport::TempDir driverDir;
  QProcess driver;
  driver.start(QStringLiteral(PELLWYN_ENGINE_DRIVER),
               {QStringLiteral("export"), FromPath(path), FromPath(driverDir.path()), QStringLiteral("--rows")});
  QVERIFY(driver.waitForFinished(120000));
  QCOMPARE(driver.exitCode(), 0);

  const std::map<std::string, std::string> ours = FilesUnder(folder);
  const std::map<std::string, std::string> theirs = FilesUnder(driverDir.path());
  QStringList ourScripts, theirScripts;
  for (const auto& [name, bytes] : ours)
    if (name.size() > 4 && name.substr(name.size() - 4) != ".txt") ourScripts << QString::fromStdString(name);
  for (const auto& [name, bytes] : theirs)
    if (name.size() > 4 && name.substr(name.size() - 4) != ".txt") theirScripts << QString::fromStdString(name);
  QCOMPARE(ourScripts, theirScripts);
  // Every one of the thirteen tables has its script and its constraint script.
  QCOMPARE(ourScripts.filter(QRegularExpression(QStringLiteral("^Tables/[^/]*\\.sql$"))).size(), 26);
  QVERIFY(ourScripts.contains(QStringLiteral("Tables/Order Details.sql")));
  QVERIFY(ourScripts.contains(QStringLiteral("Northwind.bat")));
  for (const QString& name : ourScripts) {
    // Every value is in the scripts themselves: none names the folder it was written to.
    const std::string a = Replaced(ours.at(name.toStdString()), folder, "<folder>");
    const std::string b = Replaced(theirs.at(name.toStdString()), driverDir.path(), "<folder>");
    QVERIFY2(a.find("<folder>") == std::string::npos, qPrintable(name));
    if (name.contains(QLatin1Char('/'))) {
      QVERIFY2(a == b, qPrintable(name));
    } else {
      // The tree lists objects by name, the driver by object id: the same statements (the
      // batch file: the same lines), in another order.
      const std::string separator = name.endsWith(QStringLiteral(".bat")) ? "\r\n"
                                    : name.endsWith(QStringLiteral(".sh")) ? "\n"
                                                                           : "\r\ngo\r\n";
      QVERIFY2(SortedPieces(a, separator) == SortedPieces(b, separator), qPrintable(name));
    }
  }
  QVERIFY(ours.at("Tables/Orders.sql").find("INSERT") != std::string::npos);
}

void ExportDialogsTest::recoverDeletedRowsIsOffByDefaultAndReachesTheEngine() {
  ExportHarness x;
  x.shared->script = [](ScriptedRunner::Shared&, uicore::IExportSink& sink) { sink.EndedEarly(); };
  QVERIFY(x.OpenOptions());
  QCheckBox* box = x.Option<QCheckBox>("id1126");
  QCOMPARE(box->text(), QStringLiteral("Recover deleted rows"));
  QVERIFY(!box->isChecked());
  box->click();
  desktoptest::SaveScreenshot(&x.Options(), QStringLiteral("export-options-recover-deleted"));
  x.ConfirmScripts("/srv/exports");
  QVERIFY(x.ExportEnded());
  QVERIFY(x.shared->request.recoverDeleted);
  // The engine keeps it for the export and for the previews after it.
  QCOMPARE(int(x.engine->m_bRecoverDeleted), 1);
  // Each opening starts with it off; an export confirmed so turns the engine's flag off.
  QVERIFY(x.OpenOptions());
  QVERIFY(!box->isChecked());
  x.ConfirmScripts("/srv/exports");
  QVERIFY(x.ExportEnded());
  QVERIFY(!x.shared->request.recoverDeleted);
  QCOMPARE(int(x.engine->m_bRecoverDeleted), 0);
}

void ExportDialogsTest::scriptExportWithDeletedRowsWritesWhatTheDriverWrites() {
  // Set 1 of this backup holds one deleted row of Enrollment under a zeroed slot.
  const std::string path = testsupport::FixturePath("bak2005_stdb2sql_2sets.bak");
  if (path.empty()) QSKIP("fixtures not available");
  Harness h;
  QVERIFY(LoadToTheEnd(h, path));
  CExportController& exporter = *h.window->Exporter();
  h.Trigger(kCmdExport);
  QTRY_VERIFY(exporter.OptionsDialog()->isVisible());
  exporter.OptionsDialog()->findChild<QRadioButton*>("id1042")->click();
  exporter.OptionsDialog()->findChild<QCheckBox*>("id1126")->click();
  testsupport::TempDir parent;
  h.prompts.files = {parent.path()};
  exporter.OptionsDialog()->findChild<QPushButton*>("id1021")->click();
  QVERIFY(exporter.ProgressDialog());
  QTRY_VERIFY_WITH_TIMEOUT(exporter.ProgressDialog()->ExportFinished(), kScanTimeoutMs);
  exporter.ProgressDialog()->findChild<QPushButton*>("id1098")->click();
  QTRY_VERIFY(!exporter.Running());
  std::vector<std::string> folders;
  for (const auto& e : std::filesystem::directory_iterator(parent.path())) folders.push_back(e.path().string());
  QCOMPARE(folders.size(), size_t(1));

  testsupport::TempDir driverDir;
  QProcess driver;
  driver.start(QStringLiteral(PELLWYN_ENGINE_DRIVER), {QStringLiteral("export"), FromPath(path),
                                                       FromPath(driverDir.path()), QStringLiteral("--rows"),
                                                       QStringLiteral("--deleted")});
  QVERIFY(driver.waitForFinished(120000));
  QCOMPARE(driver.exitCode(), 0);
  const std::map<std::string, std::string> ours = FilesUnder(folders[0]);
  const std::map<std::string, std::string> theirs = FilesUnder(driverDir.path());
  int tables = 0;
  for (const auto& [name, bytes] : theirs) {
    if (name.rfind("Tables/", 0) != 0) continue;
    ++tables;
    QVERIFY2(ours.count(name), name.c_str());
    QVERIFY2(Replaced(ours.at(name), folders[0], "<folder>") == Replaced(bytes, driverDir.path(), "<folder>"),
             name.c_str());
  }
  QVERIFY(tables > 0);
  QVERIFY(ours.at("Tables/Enrollment.sql").find("values(CONVERT(nvarchar(10),0x43005300340034003000),80586,1,13)") !=
          std::string::npos);
  // The rows the export wrote are the rows the preview shows now.
  const std::vector<std::string> rows =
      testsupport::AllRows(*h.window->Engines().Current(),
                            testsupport::FindTable(*h.window->Engines().Current(), "Enrollment"));
  QCOMPARE(rows.size(), size_t(13));
  QVERIFY(std::find(rows.begin(), rows.end(), "CS440$#$80586$#$1$#$13$#$") != rows.end());
}

void ExportDialogsTest::folderThatCannotBeMadeEndsTheExport() {
  Harness h;  // the program's own worker
  CatalogEngine* engine = h.AdoptFake(3);
  engine->m_strDatabaseName = "Sales";
  engine->AddTable(1, "dbo", "orders", 1);
  h.window->OnScanEnded();
  h.window->FillObjectTree();
  testsupport::TempDir dir;
  const std::string notAFolder = dir.file("plain-file");
  testsupport::WriteFile(notAFolder, "x");
  CExportController& exporter = *h.window->Exporter();
  h.Trigger(kCmdExport);
  QTRY_VERIFY(exporter.OptionsDialog()->isVisible());
  exporter.OptionsDialog()->findChild<QRadioButton*>("id1042")->click();
  h.prompts.files = {notAFolder};
  exporter.OptionsDialog()->findChild<QPushButton*>("id1021")->click();
  QTRY_VERIFY(!exporter.Running());
  QTRY_VERIFY(!exporter.ProgressDialog());
  // Named, with the reason: the chosen parent is a file.
  const std::string message = h.prompts.Last("info");
  QVERIFY2(message.rfind("Directory could not be created: " + notAFolder + "/Tarnwell_Pellwyn_", 0) == 0,
           message.c_str());
  QVERIFY2(message.find("(Not a directory)") != std::string::npos, message.c_str());
  QCOMPARE(h.prompts.asked.back().title, std::string());
  QVERIFY(h.window->CommandAction(kCmdExport)->isEnabled());
  QVERIFY(h.window->CommandAction(kCmdExportMenu)->isEnabled());
}

void ExportDialogsTest::serverExportOfNorthwindThroughTheDriver() {
  const std::string path = testsupport::FixturePath("bak2008_northwind_thuyluv.bak");
  if (path.empty()) QSKIP("fixtures not available");
  const std::string unavailable = testsupport::FreeTdsUnavailableReason();
  if (!unavailable.empty()) QSKIP(unavailable.c_str());
  Harness h;  // the program's own worker and connection
  QVERIFY(LoadToTheEnd(h, path));
  CExportController& exporter = *h.window->Exporter();
  CExportOptionDlg& options = *exporter.OptionsDialog();
  auto fill = [&](const testsupport::TdsEndpoint& endpoint) {
    h.Trigger(kCmdExport);
    QTRY_VERIFY(options.isVisible());
    options.findChild<QLineEdit*>("id1044")->setText(FromEngineText(endpoint.Server()));
    options.findChild<QLineEdit*>("id1046")->setText(QStringLiteral("sa"));
    options.findChild<QLineEdit*>("id1047")->setText(QStringLiteral("p;w}d"));
  };

  {
    // A refused login is the server's message; the dialog stays for another try.
    testsupport::TdsEndpoint refusing(testsupport::RefusingLogins());
    QVERIFY2(refusing.Running(), refusing.Error().c_str());
    fill(refusing);
    options.findChild<QPushButton*>("id1021")->click();
    QVERIFY(options.isVisible());
    QVERIFY(!exporter.Running());
    QVERIFY(!h.prompts.Last("info").empty());
    QVERIFY(h.prompts.Last("info").find("p;w}d") == std::string::npos);
    options.findChild<QPushButton*>("id1025")->click();
  }

  testsupport::TdsEndpoint endpoint(testsupport::AcceptingOnly("p;w}d"));
  QVERIFY2(endpoint.Running(), endpoint.Error().c_str());
  fill(endpoint);
  options.findChild<QPushButton*>("id1021")->click();
  QVERIFY(exporter.ProgressDialog());
  QTRY_VERIFY_WITH_TIMEOUT(exporter.ProgressDialog()->ExportFinished(), kScanTimeoutMs);
  const std::vector<std::string> batches = endpoint.Batches();
  QVERIFY(!batches.empty());
  QCOMPARE(batches.front(), std::string("CREATE DATABASE [Northwind_Recovered]"));
  const auto created = std::count_if(batches.begin(), batches.end(),
                                     [](const std::string& b) { return b.rfind("CREATE TABLE", 0) == 0; });
  QCOMPARE(int(created), 13);
  QTableWidget* objects = exporter.ProgressDialog()->findChild<QTableWidget*>("id1097");
  QVERIFY(objects->isVisible());
  QCOMPARE(objects->rowCount(), 13);
  // The pool reports tables as they complete: look the row up by its name.
  QStringList rows;
  for (int r = 0; r < objects->rowCount(); ++r) rows << objects->item(r, 0)->text() + QLatin1Char('=') + objects->item(r, 1)->text();
  QVERIFY2(rows.contains(QStringLiteral("Orders=830")), qPrintable(rows.join(QLatin1Char(' '))));
  desktoptest::SaveScreenshot(exporter.ProgressDialog(), QStringLiteral("export-server-northwind"));

  testsupport::TempDir reports;
  h.prompts.yesNo = {true};
  h.prompts.files = {reports.path()};
  exporter.ProgressDialog()->findChild<QPushButton*>("id1098")->click();
  QTRY_VERIFY(!exporter.ProgressDialog());
  QTRY_VERIFY(!exporter.Running());
  const std::map<std::string, std::string> files = FilesUnder(reports.path());
  QCOMPARE(files.size(), size_t(1));
  const std::string& csv = files.begin()->second;
  QCOMPARE(SortedPieces(csv, "\r\n").size(), size_t(14));  // 13 lines and what follows the last
  // The rows exported, as the object list showed them.
  QVERIFY(csv.find("Orders,830\r\n") != std::string::npos);
  QVERIFY(csv.find("Order Details,2155\r\n") != std::string::npos);
}

DESKTOP_TEST(ExportDialogsTest);

#include "export_test.moc"
