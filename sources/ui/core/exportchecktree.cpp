#include "exportchecktree.h"

#include "ui/core/exportworker.h"

namespace uicore {

namespace {

void CheckFolder(ExportTreeFolder& folder, bool checked) {
  folder.checked = checked;
  for (ExportTreeObject& o : folder.objects) o.checked = checked;
}

}  // namespace

const char* ExportFolderText(ExportFolder folder) {
  static const char* const kTexts[kExportFolderCount] = {"TABLES", "VIEWS", "STORED PROCEDURE",
                                                         "RULES",  "TRIGGERS", "FUNCTIONS"};
  const int i = int(folder);
  return i >= 0 && i < kExportFolderCount ? kTexts[i] : "";
}

void ExportCheckTree::CheckAll() {
  rootChecked = true;
  for (ExportTreeFolder& f : folders) CheckFolder(f, true);
}

void ApplyCheckClick(ExportCheckTree& tree, CheckTarget target) {
  const int f = int(target.folder);
  if (target.kind != CheckTarget::Kind::Root && (f < 0 || f >= kExportFolderCount)) return;
  switch (target.kind) {
    case CheckTarget::Kind::Root: {
      const bool checked = !tree.rootChecked;
      tree.rootChecked = checked;
      for (ExportTreeFolder& folder : tree.folders) CheckFolder(folder, checked);
      return;
    }
    case CheckTarget::Kind::Folder: {
      ExportTreeFolder& folder = tree.folders[size_t(f)];
      if (folder.checked) {
        CheckFolder(folder, false);
        tree.rootChecked = false;
        return;
      }
      CheckFolder(folder, true);
      bool all = true;
      for (const ExportTreeFolder& other : tree.folders) all = all && other.checked;
      if (all) tree.rootChecked = true;
      return;
    }
    case CheckTarget::Kind::Object: {
      ExportTreeFolder& folder = tree.folders[size_t(f)];
      if (target.index >= folder.objects.size()) return;
      ExportTreeObject& object = folder.objects[target.index];
      if (object.checked) {
        object.checked = false;
        folder.checked = false;
        tree.rootChecked = false;
      } else {
        object.checked = true;
      }
      return;
    }
  }
}

void GatherSelection(const ExportCheckTree& tree, ExportRequest& request) {
  auto objects = [&](ExportFolder f, std::vector<CViewStoredProc*>& list) {
    list.clear();
    for (const ExportTreeObject& o : tree.Folder(f).objects)
      if (o.checked && o.object) list.push_back(o.object);
  };
  // The order the lists are filled in does not matter to the export; each list keeps the
  // tree's order of its own folder.
  objects(ExportFolder::Views, request.views);
  objects(ExportFolder::StoredProcedures, request.procedures);
  objects(ExportFolder::Functions, request.functions);
  request.tables.clear();
  for (const ExportTreeObject& o : tree.Folder(ExportFolder::Tables).objects)
    if (o.checked && o.table) request.tables.push_back(o.table);
  objects(ExportFolder::Rules, request.rules);
  objects(ExportFolder::Triggers, request.triggers);
}

}  // namespace uicore
