#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/backupreader.h"
#include "support/catalogengine.h"
#include "ui/core/objecttree.h"

using testsupport::CatalogEngine;

namespace {

std::vector<std::string> Texts(const std::vector<TreeNode>& nodes) {
  std::vector<std::string> v;
  for (const TreeNode& n : nodes) v.push_back(n.text);
  return v;
}

const TreeNode* Find(const std::vector<TreeNode>& nodes, const std::string& text) {
  for (const TreeNode& n : nodes)
    if (n.text == text) return &n;
  return nullptr;
}

}  // namespace

TEST(ObjectTree, TablesWithTheirColumnsKeysAndIndexes) {
  CatalogEngine engine;
  engine.m_strDatabaseName = "Northwind";
  CTable* orders = engine.AddTable(21575115, "dbo", "Orders");
  engine.AddColumn(orders, "OrderID", "int", 4);
  engine.AddColumn(orders, "Gone", "int", 4, /*dropped=*/true);
  engine.AddColumn(orders, "ShipName", "nvarchar", 80);
  engine.AddColumn(orders, "Code", "nchar", 20);
  engine.AddColumn(orders, "Note", "varchar", 50);
  engine.AddIndex(orders, 1, "PK_Orders", true, false);
  engine.AddIndex(orders, 2, "ShipName", false, true);
  engine.AddIndex(orders, 0, "heap", false, false);
  CTable* empty = engine.AddTable(5, "sales", "Empty", /*dataPages=*/0);
  engine.AddTable(6, "dbo", "");  // a name lost in the catalog

  ObjectTreeContent tree = BuildObjectTree(engine, "(SQL Server 2008)");
  const auto& tables = tree.Folder(ObjectFolder::Tables);
  ASSERT_EQ(Texts(tables), (std::vector<std::string>{"dbo.Orders", "sales.Empty"}));

  const TreeNode& t = tables[0];
  EXPECT_EQ(t.kind, TreeItemKind::Table);
  EXPECT_EQ(t.table, orders);
  EXPECT_TRUE(t.bold);
  EXPECT_EQ(t.image, kImageTable);
  ASSERT_EQ(Texts(t.children), (std::vector<std::string>{"Columns", "Keys", "Indexes"}));
  const TreeNode& columns = t.children[0];
  const TreeNode& keys = t.children[1];
  const TreeNode& indexes = t.children[2];
  EXPECT_EQ(Texts(columns.children), (std::vector<std::string>{"OrderID (int)", "ShipName (nvarchar (40))",
                                                               "Code (nchar (10))", "Note (varchar (50))"}));
  EXPECT_TRUE(keys.children.empty());
  EXPECT_EQ(Texts(indexes.children), (std::vector<std::string>{"PK_Orders", "ShipName"}));
  EXPECT_EQ(columns.image, kImageColumns);
  EXPECT_EQ(keys.image, kImageKeys);
  EXPECT_EQ(indexes.image, kImageIndex);
  EXPECT_EQ(columns.children[0].image, kImageColumn);
  EXPECT_EQ(indexes.children[0].image, kImageIndex);
  for (const TreeNode* n : {&columns, &keys, &indexes, &columns.children[0], &indexes.children[0]})
    EXPECT_EQ(n->table, orders) << n->text;

  EXPECT_FALSE(tables[1].bold);  // no data pages: normal type, columns still listed
  EXPECT_EQ(tables[1].table, empty);
}

TEST(ObjectTree, ObjectFoldersSortedButFunctionsInMapOrder) {
  CatalogEngine engine;
  engine.AddTable(30, "dbo", "b");
  engine.AddTable(10, "dbo", "C");
  engine.AddTable(20, "dbo", "a");
  engine.AddObject(engine.m_mapViews, 1, "vB", "create view vB");
  engine.AddObject(engine.m_mapViews, 2, "va", "create view va");
  engine.AddObject(engine.m_mapViews, 3, "vNoText", "");
  engine.AddObject(engine.m_mapViews, 4, "", "create view lost");
  engine.AddObject(engine.m_mapStoredProcs, 5, "pZ", "");  // procedures are listed without text
  engine.AddObject(engine.m_mapStoredProcs, 6, "pa", "x");
  engine.AddObject(engine.m_mapRules, 7, "rB", "r");
  engine.AddObject(engine.m_mapRules, 8, "ra", "r");
  engine.AddObject(engine.m_mapTriggers, 9, "tB", "t");
  engine.AddObject(engine.m_mapTriggers, 10, "ta", "t");
  engine.AddObject(engine.m_mapTriggers, 11, "", "t");
  // Map order is key order: "12" < "13" < "9" -> zeta, Alpha, mid.
  engine.AddObject(engine.m_mapFunctions, 12, "zeta", "f");
  engine.AddObject(engine.m_mapFunctions, 13, "Alpha", "f");
  engine.AddObject(engine.m_mapFunctions, 9, "mid", "");

  ObjectTreeContent tree = BuildObjectTree(engine, "");
  EXPECT_EQ(Texts(tree.Folder(ObjectFolder::Tables)), (std::vector<std::string>{"dbo.a", "dbo.b", "dbo.C"}));
  EXPECT_EQ(Texts(tree.Folder(ObjectFolder::Views)), (std::vector<std::string>{"va", "vB"}));
  EXPECT_EQ(Texts(tree.Folder(ObjectFolder::StoredProcedures)), (std::vector<std::string>{"pa", "pZ"}));
  EXPECT_EQ(Texts(tree.Folder(ObjectFolder::Rules)), (std::vector<std::string>{"ra", "rB"}));
  EXPECT_EQ(Texts(tree.Folder(ObjectFolder::Triggers)), (std::vector<std::string>{"ta", "tB"}));
  EXPECT_EQ(Texts(tree.Folder(ObjectFolder::Functions)), (std::vector<std::string>{"zeta", "Alpha", "mid"}));

  struct Expect {
    ObjectFolder folder;
    int image;
  } images[] = {{ObjectFolder::Views, kImageView},     {ObjectFolder::StoredProcedures, kImageColumn},
                {ObjectFolder::Rules, kImageRule},     {ObjectFolder::Triggers, kImageTrigger},
                {ObjectFolder::Functions, kImageFunction}};
  for (const Expect& e : images) {
    for (const TreeNode& n : tree.Folder(e.folder)) {
      EXPECT_EQ(n.image, e.image) << n.text;
      EXPECT_EQ(n.kind, TreeItemKind::Object);
      ASSERT_NE(n.object, nullptr);
      EXPECT_EQ(n.object->m_strName, n.text.c_str());
    }
  }
  const TreeNode* pz = Find(tree.Folder(ObjectFolder::StoredProcedures), "pZ");
  ASSERT_NE(pz, nullptr);
  EXPECT_TRUE(pz->object->m_strText.IsEmpty());
}

TEST(ObjectTree, RootAndDatabaseTexts) {
  CatalogEngine engine;
  engine.m_strDatabaseName = "pubs";
  // No backup set (a scan file, or a database file): the root names the source file.
  engine.m_strFilePath = "/data/backups/pubs.bak";
  ObjectTreeContent tree = BuildObjectTree(engine, "(SQL Server 2005)");
  EXPECT_EQ(tree.rootText, "pubs.bak(SQL Server 2005)");
  EXPECT_EQ(tree.databaseText, "pubs(SQL Server 2005)");

  engine.m_strFilePath = "C:\\DBS\\PUBS.MDF";
  EXPECT_EQ(BuildObjectTree(engine, "").rootText, "PUBS.MDF");
  engine.m_strFilePath = "";
  EXPECT_EQ(BuildObjectTree(engine, "(SQL Server 2008)").rootText, "Set 1(SQL Server 2008)");

  CBackupSet set;
  set.m_pszName = "FullSet";
  engine.m_pCurrentSet = &set;
  EXPECT_EQ(BuildObjectTree(engine, "(SQL Server 2000)").rootText, "FullSet(SQL Server 2000)");
  engine.m_pCurrentSet = nullptr;
}

TEST(ObjectTree, WhatASelectionDoes) {
  struct Case {
    TreeItemKind kind;
    SelectionEffect effect;
  } cases[] = {
      {TreeItemKind::Root, SelectionEffect::Nothing},    {TreeItemKind::Database, SelectionEffect::Nothing},
      {TreeItemKind::Folder, SelectionEffect::Nothing},  {TreeItemKind::Table, SelectionEffect::PreviewTable},
      {TreeItemKind::Columns, SelectionEffect::Nothing}, {TreeItemKind::Keys, SelectionEffect::Nothing},
      {TreeItemKind::Indexes, SelectionEffect::Nothing}, {TreeItemKind::Column, SelectionEffect::Nothing},
      {TreeItemKind::Index, SelectionEffect::Nothing},   {TreeItemKind::Object, SelectionEffect::ShowObjectText},
  };
  for (const Case& c : cases) EXPECT_EQ(EffectOfSelecting(c.kind), c.effect) << int(c.kind);
}
