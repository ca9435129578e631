// What a user does with a loaded backup, as the recovery tests drive it: Load with its
// dialogs answered, the progress dialog's texts, the tree dumped for comparison, and the
// preview's pages turned and read. Shared by the tests of every format.
#pragma once

#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <string>

#include "desktoptest.h"

class QPushButton;
class QTreeWidgetItem;

namespace recoverysteps {

inline constexpr int kScanTimeoutMs = 60000;

// A label of the progress dialog by its object name; "<no dialog>" when none is shown.
QString Text(const desktoptest::Harness& h, const char* name);
QPushButton* DialogButton(const desktoptest::Harness& h);

// Every item below `item`, one line each, indented by depth, bold tables marked.
QStringList Dump(const QTreeWidgetItem* item, int depth = 0);

// Load with the file, version and set dialogs answered.
void StartLoad(desktoptest::Harness& h, const std::string& path, int version, int set);
// Loads `path` with the real engine: version, set, and the scan to its end; the dialog closed
// (after `complete` has looked at it).
bool LoadToTheEnd(desktoptest::Harness& h, const std::string& path, int version, int set,
                  const std::function<void()>& complete = {});

QString Cell(const desktoptest::Harness& h, int row, int column);
QString RowCount(const desktoptest::Harness& h);
QString PageNumber(const desktoptest::Harness& h);
QPushButton* Prev(const desktoptest::Harness& h);
QPushButton* Next(const desktoptest::Harness& h);

// Waits for the preview page after the `before`th.
bool WaitForPage(const desktoptest::Harness& h, int before);
// Selects a table of the tree and waits for its first page.
bool Preview(desktoptest::Harness& h, const char* table);
// Presses "<" or ">" and waits for the page.
bool Turn(desktoptest::Harness& h, QPushButton* button);

// A picture of the window once the layout has followed the texts just set (a count that grew
// from one digit to two would be cut otherwise).
void Picture(const desktoptest::Harness& h, const QString& name);

// What every format shows of a loaded Northwind, whichever engine read it. A failed check
// fails the test function; callers look at QTest::currentTestFailed().
// Customers: one page of 91 rows, ALFKI first, 180-pixel columns, Latin-1 text as it is.
void CheckNorthwindCustomers(desktoptest::Harness& h);
// Orders: 830 rows, pages of 500 and 330, and back to the first; the window pictured as
// `picture` on page 2.
void CheckNorthwindOrders(desktoptest::Harness& h, const QString& picture);

// The names under a table's "Keys" in the tree (the table as the tree shows it, "dbo.Orders").
inline QStringList TableKeyNames(const desktoptest::Harness& h, const QString& table) {
  QStringList names;
  QTreeWidgetItem* item = desktoptest::Child(h.Folder(0), table);
  QTreeWidgetItem* keys = item ? desktoptest::Child(item, QStringLiteral("Keys")) : nullptr;
  for (int i = 0; keys && i < keys->childCount(); ++i) names << keys->child(i)->text(0);
  return names;
}

// Northwind's Views.sql creates "Product Sales for 1997" before "Category Sales for 1997",
// which selects from it though its name sorts first.
inline bool NorthwindViewsInDependencyOrder(const std::string& views) {
  const size_t used = views.find("create view \"Product Sales for 1997\"");
  const size_t user = views.find("create view \"Category Sales for 1997\"");
  return used != std::string::npos && user != std::string::npos && used < user;
}

}  // namespace recoverysteps
