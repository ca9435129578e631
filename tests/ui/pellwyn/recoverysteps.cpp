#include "recoverysteps.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include "ui/pellwyn/progressdlg.h"

using desktoptest::Child;
using desktoptest::Harness;

namespace recoverysteps {

QString Text(const Harness& h, const char* name) {
  CProgressDlg* dialog = h.window->ProgressDialog();
  if (!dialog) return QStringLiteral("<no dialog>");
  QLabel* label = dialog->findChild<QLabel*>(QLatin1String(name));
  return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

QPushButton* DialogButton(const Harness& h) { return h.window->ProgressDialog()->findChild<QPushButton*>("stopButton"); }

QStringList Dump(const QTreeWidgetItem* item, int depth) {
  QStringList lines;
  lines << QString(depth * 2, QLatin1Char(' ')) + item->text(0) + (item->font(0).bold() ? QStringLiteral(" [b]") : QString());
  for (int i = 0; i < item->childCount(); ++i) lines << Dump(item->child(i), depth + 1);
  return lines;
}

void StartLoad(Harness& h, const std::string& path, int version, int set) {
  h.prompts.files = {path};
  h.prompts.versions = {version};
  h.prompts.sets = {set};
  h.Trigger(kCmdLoad);
}

bool LoadToTheEnd(Harness& h, const std::string& path, int version, int set, const std::function<void()>& complete) {
  StartLoad(h, path, version, set);
  if (!h.window->ProgressDialog()) return false;
  if (!QTest::qWaitFor([&] { return Text(h, "statusText") == QLatin1String("Recovery Complete"); }, kScanTimeoutMs))
    return false;
  if (complete) complete();
  DialogButton(h)->click();
  return QTest::qWaitFor([&] { return !h.window->ProgressDialog() && h.window->CommandAction(kCmdExport)->isEnabled(); },
                         kScanTimeoutMs);
}

QString Cell(const Harness& h, int row, int column) {
  QTableWidgetItem* item = h.List()->item(row, column);
  return item ? item->text() : QString();
}

QString RowCount(const Harness& h) { return h.Find<QLabel>("id1064")->text(); }
QString PageNumber(const Harness& h) { return h.Find<QLabel>("id1074")->text(); }
QPushButton* Prev(const Harness& h) { return h.Find<QPushButton>("id1070"); }
QPushButton* Next(const Harness& h) { return h.Find<QPushButton>("id1071"); }

bool WaitForPage(const Harness& h, int before) {
  return QTest::qWaitFor([&] { return h.window->PreviewPagesShown() > before; }, kScanTimeoutMs);
}

bool Preview(Harness& h, const char* table) {
  QTreeWidgetItem* item = Child(h.Folder(0), QString::fromLatin1(table));
  if (!item) return false;
  const int before = h.window->PreviewPagesShown();
  h.Tree()->setCurrentItem(item);
  return WaitForPage(h, before);
}

bool Turn(Harness& h, QPushButton* button) {
  const int before = h.window->PreviewPagesShown();
  button->click();
  return WaitForPage(h, before);
}

void Picture(const Harness& h, const QString& name) {
  QTest::qWait(50);
  desktoptest::SaveScreenshot(h.window.get(), name);
}

void CheckNorthwindCustomers(Harness& h) {
  QVERIFY(Preview(h, "dbo.Customers"));
  QCOMPARE(RowCount(h), QStringLiteral("91"));
  QCOMPARE(h.List()->rowCount(), 91);
  QCOMPARE(h.List()->columnCount(), 11);
  QCOMPARE(h.List()->horizontalHeaderItem(0)->text(), QStringLiteral("CustomerID"));
  QCOMPARE(h.List()->columnWidth(10), 180);
  QCOMPARE(Cell(h, 0, 0), QStringLiteral("ALFKI"));
  QCOMPARE(Cell(h, 0, 1), QStringLiteral("Alfreds Futterkiste"));
  QVERIFY(!Next(h)->isEnabled());
  QVERIFY(!Prev(h)->isEnabled());
  bool accented = false;
  for (int r = 0; r < 91 && !accented; ++r) accented = Cell(h, r, 5) == QString::fromUtf8("M\xc3\xbcnchen");
  QVERIFY(accented);
}

void CheckNorthwindOrders(Harness& h, const QString& picture) {
  QVERIFY(Preview(h, "dbo.Orders"));
  QCOMPARE(PageNumber(h) + QLatin1Char('/') + RowCount(h), QStringLiteral("1/500"));
  QCOMPARE(Cell(h, 0, 0), QStringLiteral("10248"));
  const QString firstOfPageOne = Cell(h, 0, 1);
  QVERIFY(Next(h)->isEnabled());
  QVERIFY(!Prev(h)->isEnabled());
  QVERIFY(Turn(h, Next(h)));
  QCOMPARE(PageNumber(h) + QLatin1Char('/') + RowCount(h), QStringLiteral("2/330"));
  QVERIFY(Prev(h)->isEnabled());
  QVERIFY(!Next(h)->isEnabled());
  QCOMPARE(Cell(h, 0, 0), QStringLiteral("10748"));
  QCOMPARE(Cell(h, 329, 0), QStringLiteral("11077"));
  h.Folder(0)->setExpanded(true);
  h.Tree()->scrollToItem(Child(h.Folder(0), QStringLiteral("dbo.Orders")));
  Picture(h, picture);
  QVERIFY(Turn(h, Prev(h)));
  QCOMPARE(PageNumber(h) + QLatin1Char('/') + RowCount(h), QStringLiteral("1/500"));
  QCOMPARE(Cell(h, 0, 1), firstOfPageOne);
}

}  // namespace recoverysteps
