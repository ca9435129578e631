// The export options dialog's tree of check boxes, without the widget: the root (the
// database), six folders and the recovered objects under them. A click on a check box changes
// more than the box clicked, by rules of this program's own (not a tristate tree's): they are
// applied here, to the states before the click, so the dialog only mirrors the result and
// the rules can be checked case by case. The checked objects then become the export request.
#pragma once

#include <array>
#include <string>
#include <vector>

class CTable;
class CViewStoredProc;

namespace uicore {

struct ExportRequest;

// The folders in the dialog's tree order.
enum class ExportFolder : int { Tables, Views, StoredProcedures, Rules, Triggers, Functions };
inline constexpr int kExportFolderCount = 6;
// "TABLES", "VIEWS", "STORED PROCEDURE", "RULES", "TRIGGERS", "FUNCTIONS".
const char* ExportFolderText(ExportFolder folder);

struct ExportTreeObject {
  std::string name;
  CTable* table = nullptr;            // the TABLES folder's objects
  CViewStoredProc* object = nullptr;  // every other folder's
  bool bold = false;                  // a table with data pages, as in the main window
  bool checked = true;
};

struct ExportTreeFolder {
  bool checked = true;
  std::vector<ExportTreeObject> objects;
};

struct ExportCheckTree {
  std::string rootText;
  bool rootChecked = true;
  std::array<ExportTreeFolder, kExportFolderCount> folders;

  ExportTreeFolder& Folder(ExportFolder f) { return folders[size_t(f)]; }
  const ExportTreeFolder& Folder(ExportFolder f) const { return folders[size_t(f)]; }
  // Every box checked, as each opening of the dialog shows them.
  void CheckAll();
};

// The box a click landed on.
struct CheckTarget {
  enum class Kind { Root, Folder, Object } kind = Kind::Root;
  ExportFolder folder = ExportFolder::Tables;  // Folder and Object
  size_t index = 0;                            // Object: its place in the folder
  static CheckTarget Root() { return {}; }
  static CheckTarget OfFolder(ExportFolder f) { return {Kind::Folder, f, 0}; }
  static CheckTarget OfObject(ExportFolder f, size_t i) { return {Kind::Object, f, i}; }
};

// A click on the target's check box, with `tree` in its state before the click; afterwards
// `tree` is the state after it, the clicked box toggled too:
// - the root checks or unchecks everything;
// - unchecking a folder unchecks its objects and the root; checking it checks its objects,
//   and the root when the other five folders are checked;
// - unchecking an object unchecks its folder and the root; checking it changes nothing else.
// A target outside the tree changes nothing.
void ApplyCheckClick(ExportCheckTree& tree, CheckTarget target);

// The checked objects into the request's six lists, each in tree order (the lists are
// replaced). An unchecked folder whose objects are checked still gives them: the boxes of
// the objects are what the user chose.
void GatherSelection(const ExportCheckTree& tree, ExportRequest& request);

}  // namespace uicore
