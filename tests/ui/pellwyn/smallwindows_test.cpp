#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "common/backupreader.h"
#include "support/fixtures.h"
#include "ui/pellwyn/aboutdlg.h"
#include "ui/pellwyn/backupsetdlg.h"
#include "ui/pellwyn/exportprogressdlg.h"
#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/splashscreen.h"
#include "ui/pellwyn/sqlformatoptdlg.h"
#include "desktoptest.h"

class SmallWindowsTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void splashClosesItselfWithoutHoldingTheWindow();
  void about();
  void versionDialog();
  void backupSetDialog();
  void everyDialogCanShrinkToASmallScaledScreen();
};

void SmallWindowsTest::splashClosesItselfWithoutHoldingTheWindow() {
  testsupport::ModuleFolderScope scope;
  desktoptest::ScriptedPrompts prompts;
  desktoptest::RecordingShell shell;
  CPellwynDlg::Services services;
  services.prompts = &prompts;
  services.shell = &shell;
  services.splashDelayMs = 400;
  QElapsedTimer clock;
  clock.start();
  CPellwynDlg window(services);
  window.show();
  // The splash is up, on top, when the window has been built; its timer runs only once the
  // event loop does, so nothing here can have closed it yet.
  CSplashScreen* splash = CSplashScreen::Current();
  QVERIFY(splash);
  QVERIFY(splash->isVisible());
  QVERIFY(splash->windowFlags() & Qt::WindowStaysOnTopHint);
  QCOMPARE(splash->pixmap().size(), QSize(380, 200));
  desktoptest::SaveScreenshot(splash, QStringLiteral("splash"));
  // One splash at a time.
  CSplashScreen::ShowSplashScreen(&window, 50);
  QCOMPARE(CSplashScreen::Current(), splash);
  // The window shows and the splash goes by itself.
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QTRY_VERIFY_WITH_TIMEOUT(CSplashScreen::Current() == nullptr, 10000);
  QVERIFY(clock.elapsed() >= 400);  // and not before its time
  QVERIFY(window.isVisible());
  prompts.yesNo = {true};
  window.close();
}

void SmallWindowsTest::about() {
  CAboutDlg about;
  QCOMPARE(about.windowTitle(), QStringLiteral("About Tarnwell Brackmoor"));
  QCOMPARE(about.findChild<QLabel*>(QStringLiteral("aboutText"))->text(),
           QStringLiteral("Tarnwell Brackmoor - Version 1.0.0.0"));
  QVERIFY(!about.findChild<QLabel*>(QStringLiteral("aboutIcon"))->pixmap().isNull());
  QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::white));
  about.show();
  QVERIFY(QTest::qWaitForWindowExposed(&about));
  desktoptest::SaveScreenshot(&about, QStringLiteral("about"));
  auto* buttons = about.findChild<QDialogButtonBox*>();
  QVERIFY(buttons);
  buttons->button(QDialogButtonBox::Ok)->click();
  QCOMPARE(about.result(), int(QDialog::Accepted));
}

void SmallWindowsTest::versionDialog() {
  struct Case {
    int choose;   // radio to turn on first; 0 = leave the start
    bool ok;
    int version;
  } cases[] = {{0, true, 1}, {2, true, 2}, {3, true, 3}, {3, false, 0}};
  for (const Case& c : cases) {
    CSqlFormatOptDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Tarnwell Brackmoor"));
    QVERIFY(dialog.findChild<QRadioButton*>(QStringLiteral("version1"))->isChecked());
    if (c.choose) dialog.findChild<QRadioButton*>(QStringLiteral("version%1").arg(c.choose))->click();
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    buttons->button(c.ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    QCOMPARE(dialog.m_nVersion, c.version);
  }
}

void SmallWindowsTest::backupSetDialog() {
  const std::string path = testsupport::FixturePath("bak2005_stdb2sql_2sets.bak");
  if (path.empty()) QSKIP("fixtures not available");
  testsupport::ModuleFolderScope scope;
  CBackupReader reader;
  reader.ReadDataSets(path.c_str());
  QCOMPARE(reader.m_nStreamCount, 2);
  desktoptest::ScriptedPrompts prompts;
  CBackupSetDlg dialog(reader, prompts);
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Brackmoor"));
  QTreeWidget* list = dialog.List();
  QCOMPARE(list->topLevelItemCount(), 2);
  QCOMPARE(list->headerItem()->text(0), QStringLiteral("Backup Date"));
  QCOMPARE(list->headerItem()->text(1), QStringLiteral("Set Name"));
  QCOMPARE(list->headerItem()->text(2), QStringLiteral("Backup Type"));
  QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
  for (int row = 0; row < 2; ++row) {
    const CBackupSet* set = reader.GetSet(row + 1);
    QCOMPARE(list->topLevelItem(row)->text(1), QString::fromLatin1(set->m_pszName.c_str()));
    QCOMPARE(list->topLevelItem(row)->text(2), QStringLiteral("Full Backup"));
    QVERIFY(list->topLevelItem(row)->text(0).endsWith(QLatin1String("M")));
  }
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  desktoptest::SaveScreenshot(&dialog, QStringLiteral("backup-set-dialog"));

  // Recover with no row selected: the message, and the dialog stays.
  auto* recover = dialog.findChild<QPushButton*>(QStringLiteral("recover"));
  list->clearSelection();
  recover->click();
  QCOMPARE(prompts.Last("info"), std::string("Please select the Backup to restore first."));
  QVERIFY(dialog.isVisible());
  QCOMPARE(dialog.m_nSelectedSet, -1);
  // The current row counts only while it is selected.
  list->setCurrentItem(list->topLevelItem(1));
  list->clearSelection();
  recover->click();
  QCOMPARE(prompts.Count("info"), 2);
  list->setCurrentItem(list->topLevelItem(1));
  recover->click();
  QCOMPARE(dialog.m_nSelectedSet, 2);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));

  // The first set is chosen and the list has the keys: Enter at once recovers the first set,
  // Down then Enter the second.
  for (int downs : {0, 1}) {
    CBackupSetDlg keys(reader, prompts);
    keys.show();
    QVERIFY(QTest::qWaitForWindowExposed(&keys));
    QTRY_VERIFY(keys.List()->hasFocus());
    QVERIFY(keys.List()->topLevelItem(0)->isSelected());
    for (int i = 0; i < downs; ++i) QTest::keyClick(keys.List(), Qt::Key_Down);
    QTest::keyClick(keys.List(), Qt::Key_Return);
    QTRY_COMPARE(keys.result(), int(QDialog::Accepted));
    QCOMPARE(keys.m_nSelectedSet, 1 + downs);
  }
  QCOMPARE(prompts.Count("info"), 2);
  // Times on a 12-hour clock with two-digit minutes.
  const QString written = list->topLevelItem(0)->text(0);
  QVERIFY2(QRegularExpression(QStringLiteral("  (1[0-2]|[1-9]):[0-5][0-9] [AP]M$")).match(written).hasMatch(),
           qPrintable(written));
}

DESKTOP_TEST(SmallWindowsTest);

// A 1024x700 screen at scale factor 2 leaves 512x350 device-independent pixels, less the
// window frame: these dialogs' layouts must be able to shrink into that. (The export options
// dialog cannot yet: its layout's least height is about 450.)
void SmallWindowsTest::everyDialogCanShrinkToASmallScaledScreen() {
  const QSize room(512 - 16, 350 - 40);
  desktoptest::ScriptedPrompts prompts;
  CBackupReader reader;
  CAboutDlg about;
  CSqlFormatOptDlg versions;
  CBackupSetDlg sets(reader, prompts);
  CExportProgressDlg exporting(prompts, [] {});
  for (QDialog* dialog : std::initializer_list<QDialog*>{&about, &versions, &sets, &exporting}) {
    const QSize least = dialog->minimumSizeHint().expandedTo(dialog->minimumSize());
    QVERIFY2(least.width() <= room.width() && least.height() <= room.height(),
             qPrintable(QStringLiteral("%1: %2x%3").arg(dialog->metaObject()->className()).arg(least.width()).arg(least.height())));
  }
}
#include "smallwindows_test.moc"
