// The tables the 2000 record target decodes pages against, shared with the seed maker: five
// laid out as tables of the 2000 sample databases are (so their real pages decode as rows,
// large values and the uniquifier included) and one with a column of every 2000 type.
#pragma once

#include <memory>

#include "common/records.h"
#include "dll/pellwyn2008/record_builder.h"
#include "fuzz_tables.h"

namespace fuzztables2000 {

constexpr int kTableCount = 6;

inline void Orders(CTable& t) {
  recordtest::TableBuilder b(t, "Orders");
  b.Fixed("OrderID", "int", 4, false, 10)->m_bIdentity = true;
  b.Fixed("CustomerID", "nchar", 10);
  b.Fixed("EmployeeID", "int", 4, true, 10);
  for (const char* name : {"OrderDate", "RequiredDate", "ShippedDate"}) b.Fixed(name, "datetime", 8, true, 23, 3);
  b.Fixed("ShipVia", "int", 4, true, 10);
  b.Fixed("Freight", "money", 8, true, 19, 4);
  for (const char* name : {"ShipName", "ShipAddress", "ShipCity", "ShipRegion", "ShipPostalCode", "ShipCountry"})
    b.Variable(name, "nvarchar", 80);
  t.m_bHasIdentity = true;
}

inline void Categories(CTable& t) {
  recordtest::TableBuilder b(t, "Categories");
  b.Fixed("CategoryID", "int", 4, false, 10)->m_bIdentity = true;
  b.Variable("CategoryName", "nvarchar", 30, false);
  b.Variable("Description", "ntext", 16);
  b.Variable("Picture", "image", 16);
  t.m_bHasIdentity = true;
}

// pubs' employee: a clustered index that is not unique keeps a uniquifier in the first
// variable entry, so the columns' entries start at 2.
inline void Employee(CTable& t) {
  recordtest::TableBuilder b(t, "employee");
  b.Fixed("emp_id", "char", 9, false);
  CColumn* fname = b.Variable("fname", "varchar", 20, false);
  b.Fixed("minit", "char", 1);
  CColumn* lname = b.Variable("lname", "varchar", 30, false);
  b.Fixed("job_id", "smallint", 2, false, 5);
  b.Fixed("job_lvl", "tinyint", 1, true, 3);
  b.Fixed("pub_id", "char", 4, false);
  b.Fixed("hire_date", "datetime", 8, false, 23, 3);
  fname->m_nOffset = -2;
  lname->m_nOffset = -3;
  t.m_mapVarTypes.RemoveAll();
  t.m_mapVarTypes.SetAt("-2", "varchar");
  t.m_mapVarTypes.SetAt("-3", "varchar");
  t.m_nExtraColumn = 1;
}

inline void PubInfo(CTable& t) {
  recordtest::TableBuilder b(t, "pub_info");
  b.Fixed("pub_id", "char", 4, false);
  b.Variable("logo", "image", 16);
  b.Variable("pr_info", "text", 16);
}

inline void Wide(CTable& t) {
  recordtest::TableBuilder b(t, "Wide]2000");
  b.Fixed("id", "int", 4, false, 10);
  b.Bit("b0", 0);
  b.Bit("b1", 1);
  b.Bit("b7", 7);
  b.Fixed("ti", "tinyint", 1);
  b.Fixed("si", "smallint", 2);
  b.Fixed("bi", "bigint", 8);
  b.Fixed("r", "real", 4, true, 24);
  b.Fixed("f", "float", 8, true, 53);
  b.Fixed("d38", "decimal", 17, true, 38, 4);
  b.Fixed("n9", "numeric", 5, true, 9, 2);
  b.Fixed("m", "money", 8, true, 19, 4);
  b.Fixed("sm", "smallmoney", 4, true, 10, 4);
  b.Fixed("dt", "datetime", 8, true, 23, 3);
  b.Fixed("sdt", "smalldatetime", 4, true, 16);
  b.Fixed("c", "char", 10, false);
  b.Fixed("nc", "nchar", 20, false);
  b.Fixed("bin", "binary", 4);
  b.Fixed("g", "uniqueidentifier", 16);
  b.Fixed("ts", "timestamp", 8, false);
  b.Fixed("odd", "odd_type", 3);
  CColumn* gone = b.Fixed("gone", "int", 4);
  gone->m_bDropped = 1;
  b.Variable("vc", "varchar", 50, false);
  b.Variable("nv", "nvarchar", 4000);
  b.Variable("tx", "text", 16);
  b.Variable("ntx", "ntext", 16);
  b.Variable("img", "image", 16);
  b.Variable("vb", "varbinary", 8000);
  CColumn* goneVar = b.Variable("goneVar", "varchar", 20);
  goneVar->m_bDropped = 1;
  b.Computed("twice", "int", "([id]*(2))");
}

// Table `which` (taken modulo kTableCount), built afresh.
inline std::unique_ptr<CTable> Make(unsigned which) {
  auto t = std::make_unique<CTable>();
  switch (which % kTableCount) {
    case 0: Orders(*t); break;
    case 1: fuzztables::Employees(*t); break;
    case 2: Categories(*t); break;
    case 3: Employee(*t); break;
    case 4: PubInfo(*t); break;
    default: Wide(*t); break;
  }
  t->m_strOwner = "dbo";
  t->m_dwObjectId = 2000 + which % kTableCount;
  return t;
}

}  // namespace fuzztables2000
