// The fixed tables the record targets decode pages against, shared with the seed maker: two
// laid out as the Northwind tables of the fixtures are (so their real pages decode as rows)
// and one wide table with a column of every type the decoders know, plus the odd ones.
#pragma once

#include <memory>

#include "common/records.h"
#include "dll/pellwyn2008/record_builder.h"

namespace fuzztables {

constexpr int kTableCount = 3;

inline void Employees(CTable& t) {
  recordtest::TableBuilder b(t, "Employees");
  b.Fixed("EmployeeID", "int", 4, false, 10);
  b.Variable("LastName", "nvarchar", 40, false);
  b.Variable("FirstName", "nvarchar", 20, false);
  b.Variable("Title", "nvarchar", 60);
  b.Variable("TitleOfCourtesy", "nvarchar", 50);
  b.Fixed("BirthDate", "datetime", 8, true, 23, 3);
  b.Fixed("HireDate", "datetime", 8, true, 23, 3);
  for (const char* name : {"Address", "City", "Region", "PostalCode", "Country", "HomePhone", "Extension"})
    b.Variable(name, "nvarchar", 60);
  b.Variable("Photo", "image", 16);
  b.Variable("Notes", "ntext", 16);
  b.Fixed("ReportsTo", "int", 4, true, 10);
  b.Variable("PhotoPath", "nvarchar", 255);
  t.m_bHasIdentity = true;
}

inline void OrderDetails(CTable& t) {
  recordtest::TableBuilder b(t, "Order Details");
  b.Fixed("OrderID", "int", 4, false, 10);
  b.Fixed("ProductID", "int", 4, false, 10);
  b.Fixed("UnitPrice", "money", 8, false, 19, 4);
  b.Fixed("Quantity", "smallint", 2, false, 5);
  b.Fixed("Discount", "real", 4, false, 24);
}

inline void Wide(CTable& t) {
  recordtest::TableBuilder b(t, "Wide");
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
  b.Fixed("da", "date", 3, true, 10);
  b.Fixed("t7", "time", 5, true, 16, 7);
  b.Fixed("dt2", "datetime2", 7, true, 23, 3);
  b.Fixed("dto", "datetimeoffset", 10, true, 34, 7);
  b.Fixed("c", "char", 10);
  b.Fixed("nc", "nchar", 10);
  b.Fixed("bin", "binary", 4);
  b.Fixed("g", "uniqueidentifier", 16);
  b.Fixed("ts", "timestamp", 8, false);
  b.Fixed("odd", "hierarchyid", 3);
  CColumn* gone = b.Fixed("gone", "int", 4);
  gone->m_bDropped = 1;
  --t.m_nCatalogColumns;
  b.Variable("vc", "varchar", 50);
  b.Variable("nv", "nvarchar", 0xFFFF);
  b.Variable("tx", "text", 16);
  b.Variable("ntx", "ntext", 16);
  b.Variable("img", "image", 16);
  b.Variable("vb", "varbinary", 0xFFFF);
  b.Variable("x", "xml", 0xFFFF);
  b.Variable("sv", "sql_variant", 8016);
  b.Variable("geo", "geography", 0xFFFF);
  CColumn* goneVar = b.Variable("goneVar", "varchar", 20);
  goneVar->m_bDropped = 1;
  --t.m_nCatalogColumns;
  b.Computed("twice", "int", "([id]*(2))");
}

// Table `which` (taken modulo kTableCount), built afresh.
inline std::unique_ptr<CTable> Make(unsigned which) {
  auto t = std::make_unique<CTable>();
  switch (which % kTableCount) {
    case 0: Employees(*t); break;
    case 1: OrderDetails(*t); break;
    default: Wide(*t); break;
  }
  t->m_dwObjectId = 1000 + which % kTableCount;
  return t;
}

}  // namespace fuzztables
