#include "objecttree.h"

#include <algorithm>

#include "common/backupreader.h"
#include "common/sqlserver.h"
#include "ui/core/displaytext.h"

namespace {

const std::array<FolderInfo, kFolderCount> kFolders = {{
    {"Tables", kImageTables},
    {"Views", kImageView},
    {"Stored Procedures", kImageProcedures},
    {"Rules", kImageRule},
    {"Triggers", kImageTrigger},
    {"Functions", kImageFunction},
}};

TreeNode Node(std::string text, int image, TreeItemKind kind, CTable* table = nullptr) {
  TreeNode n;
  n.text = std::move(text);
  n.image = image;
  n.kind = kind;
  n.table = table;
  return n;
}

TreeNode TableNode(CTable& table) {
  TreeNode item = Node(TableItemText(table), kImageTable, TreeItemKind::Table, &table);
  item.bold = !table.m_vecDataPages.empty();
  // A table a cut-off source lost part of says so first.
  if (!table.m_strCatalogLoss.IsEmpty())
    item.children.push_back(
        Node("Catalog incomplete: " + table.m_strCatalogLoss.str(), kImageColumns, TreeItemKind::Column, &table));
  TreeNode columns = Node("Columns", kImageColumns, TreeItemKind::Columns, &table);
  for (const CColumn* c = table.m_pColumnHead; c; c = c->m_pNext)
    if (!c->m_bDropped) columns.children.push_back(Node(ColumnLine(*c), kImageColumn, TreeItemKind::Column, &table));
  TreeNode indexes = Node("Indexes", kImageIndex, TreeItemKind::Indexes, &table);
  for (const auto& entry : table.m_mapTableIndexes) {
    const CIndexInfo* index = entry.second;
    if (index && (index->m_bClustered || index->m_bNonClustered))
      indexes.children.push_back(Node(index->m_strName.str(), kImageIndex, TreeItemKind::Index, &table));
  }
  item.children.push_back(std::move(columns));
  item.children.push_back(Node("Keys", kImageKeys, TreeItemKind::Keys, &table));
  item.children.push_back(std::move(indexes));
  return item;
}

void AddObjects(std::vector<TreeNode>& folder, const CStringKeyMap<CViewStoredProc*>& map, int image,
                bool needsText) {
  for (const auto& entry : map) {
    CViewStoredProc* object = entry.second;
    if (!object || object->m_strName.IsEmpty() || (needsText && object->m_strText.IsEmpty())) continue;
    TreeNode n = Node(object->m_strName.str(), image, TreeItemKind::Object);
    n.object = object;
    folder.push_back(std::move(n));
  }
}

void SortByText(std::vector<TreeNode>& nodes) {
  std::stable_sort(nodes.begin(), nodes.end(),
                   [](const TreeNode& a, const TreeNode& b) { return TreeTextLess(a.text, b.text); });
}

// A scan file keeps no backup set: the root then names the file the scan was made from.
std::string RootName(const CSQLServer& engine) {
  if (engine.m_pCurrentSet) return engine.m_pCurrentSet->m_pszName.str();
  const std::string& path = engine.m_strFilePath.str();
  const size_t cut = path.find_last_of("/\\");
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  return name.empty() ? kInitialRootText : name;
}

}  // namespace

const FolderInfo& GetFolderInfo(ObjectFolder folder) { return kFolders[size_t(folder)]; }

ObjectTreeContent BuildObjectTree(CSQLServer& engine, std::string_view versionLabel) {
  ObjectTreeContent tree;
  tree.rootText = RootName(engine).append(versionLabel);
  tree.databaseText = engine.m_strDatabaseName.str();
  tree.databaseText.append(versionLabel);

  auto& tables = tree.Folder(ObjectFolder::Tables);
  for (const auto& entry : engine.m_mapTables)
    if (entry.second && !entry.second->m_strName.IsEmpty()) tables.push_back(TableNode(*entry.second));
  AddObjects(tree.Folder(ObjectFolder::Views), engine.m_mapViews, kImageView, true);
  AddObjects(tree.Folder(ObjectFolder::StoredProcedures), engine.m_mapStoredProcs, kImageColumn, false);
  AddObjects(tree.Folder(ObjectFolder::Rules), engine.m_mapRules, kImageRule, false);
  AddObjects(tree.Folder(ObjectFolder::Triggers), engine.m_mapTriggers, kImageTrigger, false);
  AddObjects(tree.Folder(ObjectFolder::Functions), engine.m_mapFunctions, kImageFunction, false);
  // Functions keep the order of their map.
  for (ObjectFolder f : {ObjectFolder::Tables, ObjectFolder::Views, ObjectFolder::StoredProcedures,
                         ObjectFolder::Rules, ObjectFolder::Triggers})
    SortByText(tree.Folder(f));
  return tree;
}

SelectionEffect EffectOfSelecting(TreeItemKind kind) {
  switch (kind) {
    case TreeItemKind::Table:
      return SelectionEffect::PreviewTable;
    case TreeItemKind::Object:
      return SelectionEffect::ShowObjectText;
    default:
      return SelectionEffect::Nothing;
  }
}
