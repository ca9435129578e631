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

}  // namespace recoverysteps
