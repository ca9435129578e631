// The catalog of real SQL Server files: every 2005-2008 R2 fixture yields the user tables
// its manifest lists, and the Northwind fixtures yield the public Northwind schema
// (fixtures/oracle/instnwnd.sql) for the columns, keys and indexes of six tables.
#include <gtest/gtest.h>

#include <algorithm>

#include <map>
#include <set>
#include <sstream>

#include "dll/pellwyn2008/catalog_rows.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

using testsupport::ModuleFolderScope;

namespace {

// The catalog after a whole scan of a fixture (chosen set `set` of a backup), with the
// program's side of the hand-shakes played by the test.
bool LoadCatalog(CSQLServer2008& engine, const std::string& path, int set) {
  testsupport::RecoveryOptions options;
  options.selectedSet = set;
  options.timeoutMs = 60000;
  return testsupport::RunRecovery(engine, path, options).finished;
}

std::set<std::string> TableNames(const CSQLServer2008& engine) {
  std::set<std::string> names;
  for (const auto& e : engine.m_mapTables) names.insert(e.second->m_strName.c_str());
  return names;
}

std::set<std::string> Split(const std::string& list) {
  std::set<std::string> out;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) out.insert(item);
  return out;
}

const CTable* TableNamed(const CSQLServer2008& engine, const std::string& name) {
  for (const auto& e : engine.m_mapTables)
    if (name == e.second->m_strName.c_str()) return e.second;
  return nullptr;
}

}  // namespace

TEST(CatalogFixtures, UserTablesOfEveryFixture) {
  const char* kNorthwind =
      "Categories,CustomerCustomerDemo,CustomerDemographics,Customers,EmployeeTerritories,Employees,"
      "Order Details,Orders,Products,Region,Shippers,Suppliers,Territories";
  const std::string kStudents =
      "Courses,CoursesOffered,CoursesTaken,Enrollment,Prerequisites,Students,Users,dtproperties";
  const std::string kPubs =
      "authors,discounts,employee,jobs,pub_info,publishers,roysched,sales,stores,titleauthor,titles";
  // Every stored column of every table is placed by the catalog: the 2008 rowset-column
  // catalog, or the two catalogs 2005-format files (the pre-release ones too) keep instead.
  const struct {
    const char* file;
    int set;
    std::string tables;
  } cases[] = {
      {"bak2005_stdb2sql_2sets.bak", 1, kStudents},
      {"bak2005_stdb2sql_2sets.bak", 2, kStudents},
      {"bak2005_northwind_gabrujo.bak", 1, kNorthwind + std::string(",dtproperties")},
      {"bak2005_northwnd_mina.bak", 1, kNorthwind},
      {"bak2008_northwind_512blk.bak", 1, "Category,Customer,Employee,Order,OrderDetail,Product,Shipper,Supplier"},
      {"bak2008_northwind_thuyluv.bak", 1, kNorthwind},
      {"bak2008_library_small.bak", 1, "Authors,Books,BooksAuthors,History,Readers,RoleData"},
      {"bak2008r2_northwind_victor.bak", 1, kNorthwind + std::string(",titulos_de_contacto")},
      {"bak2008r2_entrepot_fr.bak", 1, "Client,Dates,Employe,Faits,Produit"},
      // The manifest leaves "sales" out here, but its object, column and index rows are live
      // and its data page holds pubs' 21 sales rows.
      {"mdf2005_pubs_upg2000.mdf", 1, kPubs + ",Menus,Users"},
      {"mdf2005pre_database_sp_v590.mdf", 1, ""},
      {"mdf2005pre_prosseappsch07_v607.mdf", 1, "ClassGrades,Classes,Students"},
      {"mdf2008_qlsinhvien.mdf", 1, "Hoc,Lop,MonHoc,SinhVien"},
      {"mdf2008_pubs_itsligo.mdf", 1, kPubs},
      {"mdf2008_northwnd_itsligo.mdf", 1, kNorthwind},
      {"mdf2008r2_northwnd_upg2000.mdf", 1, kNorthwind},
  };
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const auto& c : cases) {
    const std::string path = testsupport::FixturePath(c.file);
    ASSERT_FALSE(path.empty()) << c.file;
    SCOPED_TRACE(std::string(c.file) + " set " + std::to_string(c.set));
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    ASSERT_TRUE(LoadCatalog(engine, path, c.set));
    // The manifest's tables, and nothing nameless. The manifest leaves out the diagram table
    // the management tools add (sysdiagrams); it is user data and is kept.
    auto names = TableNames(engine);
    names.erase("sysdiagrams");
    EXPECT_EQ(names, Split(c.tables));
    for (const auto& e : engine.m_mapTables) {
      const CTable* t = e.second;
      EXPECT_NE(t->m_pColumnHead, nullptr) << t->m_strName.c_str();
      EXPECT_GT(t->m_vecColumnById.size(), size_t(t->m_nMaxColumnId)) << t->m_strName.c_str();
      for (const CColumn* col = t->m_pColumnHead; col; col = col->m_pNext) {
        if (col->m_bDropped || !col->m_strComputed.IsEmpty()) continue;
        EXPECT_EQ(t->m_vecColumnById[col->m_wColOrder], col) << t->m_strName.c_str() << "." << col->m_strName.c_str();
        EXPECT_TRUE(col->m_bCatalogOffset) << t->m_strName.c_str() << "." << col->m_strName.c_str();
        if (col->m_nOffset < 0) {
          EXPECT_TRUE(t->m_mapVarTypes.Contains(FormatString("%hd", col->m_nOffset).view()));
        }
      }
    }
  }
}

namespace {

struct ExpectedColumn {
  const char* name;
  const char* type;
  int length;  // bytes
  bool nullable;
  bool identity;
};

struct ExpectedIndex {
  const char* name;
  bool primaryKey;
  const char* keys;  // key column names in key order
};

struct ExpectedTable {
  const char* name;
  std::vector<ExpectedColumn> columns;
  std::vector<ExpectedIndex> indexes;
};

// From instnwnd.sql: nvarchar(n) and nchar(n) take 2n bytes; every key is clustered, every
// CREATE INDEX nonclustered and not unique.
const std::vector<ExpectedTable>& NorthwindSchema() {
  static const std::vector<ExpectedTable> schema = {
      {"Employees",
       {{"EmployeeID", "int", 4, false, true},         {"LastName", "nvarchar", 40, false, false},
        {"FirstName", "nvarchar", 20, false, false},   {"Title", "nvarchar", 60, true, false},
        {"TitleOfCourtesy", "nvarchar", 50, true, false}, {"BirthDate", "datetime", 8, true, false},
        {"HireDate", "datetime", 8, true, false},      {"Address", "nvarchar", 120, true, false},
        {"City", "nvarchar", 30, true, false},         {"Region", "nvarchar", 30, true, false},
        {"PostalCode", "nvarchar", 20, true, false},   {"Country", "nvarchar", 30, true, false},
        {"HomePhone", "nvarchar", 48, true, false},    {"Extension", "nvarchar", 8, true, false},
        {"Photo", "image", 16, true, false},           {"Notes", "ntext", 16, true, false},
        {"ReportsTo", "int", 4, true, false},          {"PhotoPath", "nvarchar", 510, true, false}},
       {{"PK_Employees", true, "EmployeeID"}, {"LastName", false, "LastName"}, {"PostalCode", false, "PostalCode"}}},
      {"Categories",
       {{"CategoryID", "int", 4, false, true},
        {"CategoryName", "nvarchar", 30, false, false},
        {"Description", "ntext", 16, true, false},
        {"Picture", "image", 16, true, false}},
       {{"PK_Categories", true, "CategoryID"}, {"CategoryName", false, "CategoryName"}}},
      {"Customers",
       {{"CustomerID", "nchar", 10, false, false},     {"CompanyName", "nvarchar", 80, false, false},
        {"ContactName", "nvarchar", 60, true, false},  {"ContactTitle", "nvarchar", 60, true, false},
        {"Address", "nvarchar", 120, true, false},     {"City", "nvarchar", 30, true, false},
        {"Region", "nvarchar", 30, true, false},       {"PostalCode", "nvarchar", 20, true, false},
        {"Country", "nvarchar", 30, true, false},      {"Phone", "nvarchar", 48, true, false},
        {"Fax", "nvarchar", 48, true, false}},
       {{"PK_Customers", true, "CustomerID"},
        {"City", false, "City"},
        {"CompanyName", false, "CompanyName"},
        {"PostalCode", false, "PostalCode"},
        {"Region", false, "Region"}}},
      {"Orders",
       {{"OrderID", "int", 4, false, true},            {"CustomerID", "nchar", 10, true, false},
        {"EmployeeID", "int", 4, true, false},         {"OrderDate", "datetime", 8, true, false},
        {"RequiredDate", "datetime", 8, true, false},  {"ShippedDate", "datetime", 8, true, false},
        {"ShipVia", "int", 4, true, false},            {"Freight", "money", 8, true, false},
        {"ShipName", "nvarchar", 80, true, false},     {"ShipAddress", "nvarchar", 120, true, false},
        {"ShipCity", "nvarchar", 30, true, false},     {"ShipRegion", "nvarchar", 30, true, false},
        {"ShipPostalCode", "nvarchar", 20, true, false}, {"ShipCountry", "nvarchar", 30, true, false}},
       {{"PK_Orders", true, "OrderID"},
        {"CustomerID", false, "CustomerID"},
        {"CustomersOrders", false, "CustomerID"},
        {"EmployeeID", false, "EmployeeID"},
        {"EmployeesOrders", false, "EmployeeID"},
        {"OrderDate", false, "OrderDate"},
        {"ShippedDate", false, "ShippedDate"},
        {"ShippersOrders", false, "ShipVia"},
        {"ShipPostalCode", false, "ShipPostalCode"}}},
      {"Products",
       {{"ProductID", "int", 4, false, true},          {"ProductName", "nvarchar", 80, false, false},
        {"SupplierID", "int", 4, true, false},         {"CategoryID", "int", 4, true, false},
        {"QuantityPerUnit", "nvarchar", 40, true, false}, {"UnitPrice", "money", 8, true, false},
        {"UnitsInStock", "smallint", 2, true, false},  {"UnitsOnOrder", "smallint", 2, true, false},
        {"ReorderLevel", "smallint", 2, true, false},  {"Discontinued", "bit", 1, false, false}},
       {{"PK_Products", true, "ProductID"},
        {"CategoriesProducts", false, "CategoryID"},
        {"CategoryID", false, "CategoryID"},
        {"ProductName", false, "ProductName"},
        {"SupplierID", false, "SupplierID"},
        {"SuppliersProducts", false, "SupplierID"}}},
      {"Order Details",
       {{"OrderID", "int", 4, false, false},
        {"ProductID", "int", 4, false, false},
        {"UnitPrice", "money", 8, false, false},
        {"Quantity", "smallint", 2, false, false},
        {"Discount", "real", 4, false, false}},
       {{"PK_Order_Details", true, "OrderID,ProductID"},
        {"OrderID", false, "OrderID"},
        {"OrdersOrder_Details", false, "OrderID"},
        {"ProductID", false, "ProductID"},
        {"ProductsOrder_Details", false, "ProductID"}}},
  };
  return schema;
}

std::string KeyNames(const CTable* t, const CIndexInfo* ix) {
  std::string out;
  for (size_t p = 1; p < ix->m_vecColumns.size(); ++p) {
    const int id = ix->m_vecColumns[p];
    if (id <= 0 || size_t(id) >= t->m_vecColumnById.size() || !t->m_vecColumnById[id]) continue;
    if (!out.empty()) out += ",";
    out += t->m_vecColumnById[id]->m_strName.c_str();
  }
  return out;
}

}  // namespace

TEST(CatalogFixtures, NorthwindSchemaMatchesTheInstallScript) {
  const char* const files[] = {"bak2005_northwind_gabrujo.bak", "bak2005_northwnd_mina.bak",
                               "bak2008_northwind_thuyluv.bak", "bak2008r2_northwind_victor.bak",
                               "mdf2008_northwnd_itsligo.mdf",  "mdf2008r2_northwnd_upg2000.mdf"};
  // Where an owner changed the schema: gabrujo's ProductName index is unique (its index
  // row has status 0x0b).
  const std::set<std::string> madeUnique = {"bak2005_northwind_gabrujo.bak Products.ProductName"};
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const char* file : files) {
    const std::string path = testsupport::FixturePath(file);
    ASSERT_FALSE(path.empty()) << file;
    SCOPED_TRACE(file);
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    ASSERT_TRUE(LoadCatalog(engine, path, 1));
    for (const ExpectedTable& expected : NorthwindSchema()) {
      SCOPED_TRACE(expected.name);
      const CTable* t = TableNamed(engine, expected.name);
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(t->m_strOwner, "dbo");
      std::vector<const CColumn*> live;
      for (const CColumn* c = t->m_pColumnHead; c; c = c->m_pNext)
        if (!c->m_bDropped) live.push_back(c);
      ASSERT_EQ(live.size(), expected.columns.size());
      bool identity = false;
      for (size_t i = 0; i < live.size(); ++i) {
        const CColumn* c = live[i];
        const ExpectedColumn& e = expected.columns[i];
        EXPECT_EQ(c->m_strName, e.name);
        EXPECT_EQ(c->m_strType, e.type) << e.name;
        EXPECT_EQ(c->m_strUserType, e.type) << e.name;
        EXPECT_EQ(c->m_wLength, e.length) << e.name;
        EXPECT_EQ(c->m_bNullable, e.nullable) << e.name;
        EXPECT_EQ(c->m_bIdentity, e.identity) << e.name;
        if (e.identity) {
          // IDENTITY (1, 1), whatever values were handed out since.
          EXPECT_EQ(c->m_nIdentitySeed64, 1) << e.name;
          EXPECT_EQ(c->m_nIdentityIncrement64, 1) << e.name;
        }
        identity = identity || c->m_bIdentity;
        EXPECT_TRUE(c->m_bCatalogOffset) << e.name;
      }
      EXPECT_EQ(t->m_bHasIdentity, identity);

      std::map<std::string, const CIndexInfo*> byName;
      for (const auto& ix : t->m_mapTableIndexes) byName[ix.second->m_strName.c_str()] = ix.second;
      std::set<std::string> names, expectedNames;
      for (const auto& ix : byName) names.insert(ix.first);
      for (const ExpectedIndex& e : expected.indexes) expectedNames.insert(e.name);
      EXPECT_EQ(names, expectedNames);
      for (const ExpectedIndex& e : expected.indexes) {
        auto found = byName.find(e.name);
        if (found == byName.end()) continue;
        const CIndexInfo* ix = found->second;
        EXPECT_EQ(ix->m_bPrimaryKey != 0, e.primaryKey) << e.name;
        EXPECT_EQ(ix->m_bClustered != 0, e.primaryKey) << e.name;
        EXPECT_EQ(ix->m_bNonClustered != 0, !e.primaryKey) << e.name;
        const bool unique =
            e.primaryKey || madeUnique.count(std::string(file) + " " + expected.name + "." + e.name) > 0;
        EXPECT_EQ(ix->m_bUnique != 0, unique) << e.name;
        EXPECT_EQ(KeyNames(t, ix), e.keys) << e.name;
      }
      EXPECT_EQ(t->m_nExtraColumn, 0);
    }
    // Defaults come from their default objects.
    const CTable* details = TableNamed(engine, "Order Details");
    ASSERT_NE(details, nullptr);
    const CColumn* quantity = catalogrows::ColumnNamed(details, "Quantity");
    ASSERT_NE(quantity, nullptr);
    EXPECT_NE(quantity->m_strDefault.Find("(1)"), -1) << quantity->m_strDefault.c_str();
    // Variable columns have their variable index; the catalog also places the bit column
    // and records the variable columns' types.
    const CTable* employees = TableNamed(engine, "Employees");
    EXPECT_EQ(catalogrows::ColumnNamed(employees, "Notes")->m_nOffset, -13);
    const CColumn* discontinued = catalogrows::ColumnNamed(TableNamed(engine, "Products"), "Discontinued");
    ASSERT_NE(discontinued, nullptr);
    EXPECT_EQ(discontinued->m_nOffset, 30);
    EXPECT_EQ(discontinued->m_bBitPosition, 0);
    EXPECT_EQ(discontinued->m_dwRowsetColumn, 10u);
    CString type;
    EXPECT_TRUE(employees->m_mapVarTypes.Lookup("-13", type));
    EXPECT_EQ(type, "ntext");
  }
}

// Stored places of pubs "sales" and "employee", as each file's catalog gives them. In the
// 2008 file, written by SQL Server itself, the clustered key's columns come first: "sales"
// is clustered on (stor_id, ord_num, title_id), so title_id, column 6, is the second variable
// column and ord_date, column 3, lies at offset 8; "employee" is clustered on (lname, fname,
// minit), so minit leads the fixed part and emp_id follows at 5. The 2005 file was upgraded
// from 2000 and keeps the column order, but for the uniquifier of employee's clustered
// index, which is not unique: the first variable entry of every row, before fname.
TEST(CatalogFixtures, PubsPhysicalPositions) {
  struct Place {
    const char* name;
    short offset;
    DWORD physical;
  };
  const struct {
    const char* file;
    std::vector<Place> sales, employee;
  } cases[] = {
      {"mdf2008_pubs_itsligo.mdf",
       {{"stor_id", 4, 1}, {"ord_num", -1, 2}, {"ord_date", 8, 4}, {"qty", 16, 5}, {"payterms", -3, 6},
        {"title_id", -2, 3}},
       {{"emp_id", 5, 5}, {"fname", -3, 3}, {"minit", 4, 4}, {"lname", -2, 2}, {"hire_date", 21, 9}}},
      {"mdf2005_pubs_upg2000.mdf",
       {{"stor_id", 4, 1}, {"ord_num", -1, 2}, {"ord_date", 8, 3}, {"qty", 16, 4}, {"payterms", -2, 5},
        {"title_id", -3, 6}},
       {{"emp_id", 4, 1}, {"fname", -2, 2}, {"minit", 13, 3}, {"lname", -3, 4}, {"hire_date", 21, 8}}},
  };
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = testsupport::FixturePath(c.file);
    ASSERT_FALSE(path.empty());
    ModuleFolderScope scope;
    CSQLServer2008 engine;
    ASSERT_TRUE(LoadCatalog(engine, path, 1));
    for (const auto& [table, places] : {std::pair{"sales", &c.sales}, std::pair{"employee", &c.employee}}) {
      const CTable* t = TableNamed(engine, table);
      ASSERT_NE(t, nullptr) << table;
      for (const Place& e : *places) {
        const CColumn* col = catalogrows::ColumnNamed(t, e.name);
        ASSERT_NE(col, nullptr) << e.name;
        EXPECT_TRUE(col->m_bCatalogOffset) << e.name;
        EXPECT_EQ(col->m_nOffset, e.offset) << e.name;
        EXPECT_EQ(col->m_dwRowsetColumn, e.physical) << e.name;
      }
    }
    EXPECT_EQ(TableNamed(engine, "employee")->m_nExtraColumn, 1);
    const CColumn* jobId = catalogrows::ColumnNamed(TableNamed(engine, "jobs"), "job_id");
    ASSERT_NE(jobId, nullptr);
    EXPECT_TRUE(jobId->m_bIdentity);
    EXPECT_EQ(jobId->m_nIdentitySeed64, 1);  // smallint IDENTITY(1,1) after 14 rows
    EXPECT_EQ(jobId->m_nIdentityIncrement64, 1);
  }
}
