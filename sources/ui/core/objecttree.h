// The object tree's content, built from an engine's catalog maps: the root and database
// texts, and under six folders the tables (with their columns, keys and indexes), views,
// stored procedures, rules, triggers and functions. The window only mirrors it into its tree
// control, so what the tree shows, its order included, is decided here.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

class CSQLServer;
class CTable;
class CViewStoredProc;

// Key: a primary key or a foreign key of the table, under its "Keys".
enum class TreeItemKind { Root, Database, Folder, Table, Columns, Keys, Indexes, Column, Index, Object, Key };

// Indexes into the tree's image list.
enum TreeImage : int {
  kImageDatabase = 0,     // root and database
  kImageTables = 1,       // folder Tables
  kImageView = 2,         // folder Views and view items
  kImageProcedures = 3,   // folder Stored Procedures
  kImageTable = 4,
  kImageColumn = 5,       // column items and stored procedure items
  kImageColumns = 6,      // "Columns" items
  kImageRule = 7,         // folder Rules and rule items
  kImageTrigger = 8,      // folder Triggers and trigger items
  kImageKeys = 9,         // "Keys" items
  kImageIndex = 10,       // "Indexes" items and index items
  kImageFunction = 11,    // folder Functions and function items
  kTreeImageCount = 12
};

enum class ObjectFolder : int { Tables, Views, StoredProcedures, Rules, Triggers, Functions };
inline constexpr int kFolderCount = 6;

struct FolderInfo {
  const char* text;  // "Tables", "Views", ...
  int image;
};
const FolderInfo& GetFolderInfo(ObjectFolder folder);

// The tree before any load.
inline constexpr const char* kInitialRootText = "Set 1";
inline constexpr const char* kInitialDatabaseText = "<Database Name>";

struct TreeNode {
  std::string text;
  int image = 0;
  bool bold = false;
  TreeItemKind kind = TreeItemKind::Object;
  CTable* table = nullptr;            // table, "Columns", "Keys", "Indexes", column and index items
  CViewStoredProc* object = nullptr;  // view, procedure, rule, trigger and function items
  std::vector<TreeNode> children;
};

struct ObjectTreeContent {
  std::string rootText;
  std::string databaseText;
  std::array<std::vector<TreeNode>, kFolderCount> folders;  // indexed by ObjectFolder
  std::vector<TreeNode>& Folder(ObjectFolder f) { return folders[size_t(f)]; }
  const std::vector<TreeNode>& Folder(ObjectFolder f) const { return folders[size_t(f)]; }
};

// Reads the engine's maps; the scan must have finished writing them. `versionLabel` follows
// the root and database texts ("(SQL Server 2008)"). Records without a name, and views
// without text, are left out.
ObjectTreeContent BuildObjectTree(CSQLServer& engine, std::string_view versionLabel);

// What selecting an item does: a table starts its record preview, a view, procedure, rule,
// trigger or function shows its definition; folders, columns, keys and indexes do nothing.
enum class SelectionEffect { Nothing, PreviewTable, ShowObjectText };
SelectionEffect EffectOfSelecting(TreeItemKind kind);
