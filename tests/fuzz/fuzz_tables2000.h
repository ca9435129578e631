// The tables the 2000 record target decodes pages against, shared with the seed maker: five
// laid out as tables of the 2000 sample databases are (so their real pages decode as rows,
// large values and the uniquifier included) and the wide table of the 2008 record target.
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

// Table `which` (taken modulo kTableCount), built afresh.
inline std::unique_ptr<CTable> Make(unsigned which) {
  auto t = std::make_unique<CTable>();
  switch (which % kTableCount) {
    case 0: Orders(*t); break;
    case 1: fuzztables::Employees(*t); break;
    case 2: Categories(*t); break;
    case 3: Employee(*t); break;
    case 4: PubInfo(*t); break;
    // A column of every type either format knows, and some neither does.
    default: fuzztables::Wide(*t); break;
  }
  t->m_strOwner = "dbo";
  t->m_dwObjectId = 2000 + which % kTableCount;
  return t;
}

}  // namespace fuzztables2000
