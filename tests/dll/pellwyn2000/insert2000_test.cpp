#include "dll/pellwyn2000/insert2000.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/largevalues.h"
#include "common/records.h"
#include "dll/pellwyn2008/record_builder.h"
#include "rows2000_oracle.h"
#include "support/tsqllexer.h"

using namespace rows2000;
using recordtest::TableBuilder;

namespace {

Value V(const std::string& text) { return Value::Of(text); }
Value M(Mark mark) { return Value::Marked(mark); }

std::string Script(const CTable& table, const std::vector<Value>& values) {
  return BuildInsert(table, values, Target::kScript).ScriptText().str();
}

bool PureAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c > 0x7E || (c < 0x20 && c != '\r' && c != '\n')) return false;
  return true;
}

}  // namespace

TEST(BuildInsert, ColumnsValuesAndTargets) {
  CTable table;
  TableBuilder b(table);
  b.Fixed("Id", "int", 4, false);
  b.Variable("Name", "varchar", 20, false);
  b.Fixed("Qty", "int", 4);
  const std::vector<Value> row = {V("7"), M(Mark::kNull), M(Mark::kNull)};
  // A NULL in a character column that takes none becomes ''; a NULL the column takes is
  // written, so the server does not put the column's default in its place.
  EXPECT_EQ(Script(table, row), "Insert into [dbo].[T] ([Id],[Name],[Qty])  values(7,'',NULL)\r\ngo\r\n");
  const RowStatement server = BuildInsert(table, row, Target::kServer);
  EXPECT_EQ(server.ServerText().str(), "Insert into [dbo].[T] ([Id],[Name],[Qty])  values(7,'',NULL);");
  EXPECT_FALSE(server.HasBlock());
  EXPECT_EQ(server.columns, 3);

  // Every value left to the server: still a row.
  CTable nothing;
  TableBuilder n(nothing);
  n.Fixed("a", "int", 4, false);
  n.Computed("c", "int", "([a])");
  EXPECT_EQ(Script(nothing, {M(Mark::kNull), M(Mark::kFormula)}), "Insert into [dbo].[T] DEFAULT VALUES\r\ngo\r\n");
  EXPECT_EQ(BuildInsert(nothing, {M(Mark::kNull), M(Mark::kFormula)}, Target::kServer).insert.str(),
            "Insert into [dbo].[T] DEFAULT VALUES;");
}

// sql_variant values go as a literal of their base type cast back to it (the decoder gives
// their stored bytes as hex); one whose base type cannot be read is left out and counted, and
// a NOT NULL character column holding NULL gets '' and is counted.
TEST(BuildInsert, SqlVariantAndNullsOfNotNullColumns) {
  CTable table;
  TableBuilder b(table);
  b.Variable("v", "sql_variant", 8016);
  struct Case {
    std::string stored;  // hex
    std::string literal;
  } cases[] = {
      {"38012a000000", "CAST(42 AS int)"},
      {"6a010502" "01960000" "00000000", "CAST(001.50 AS decimal(5,2))"},
      {"a7010800" "08d00134" "69742773", "CAST('it''s' AS varchar(8))"},
      {"e7010a00" "08d00134" "48006900", "CAST(CONVERT(nvarchar(5),0x48006900) AS nvarchar(5))"},
      {"3d01" "000000005b950000", "CAST(CONVERT(datetime, 0x0000955b00000000) AS datetime)"},
      {"a5010400" "dead", "CAST(0xdead AS varbinary(4))"},
      {"3b01" "0000c03f", "CAST(1.5E0 AS real)"},
  };
  for (const Case& c : cases) {
    const RowStatement s = BuildInsert(table, {V(c.stored)}, Target::kScript);
    EXPECT_EQ(s.insert.str(), "Insert into [dbo].[T] ([v])  values(" + c.literal + ")\r\ngo\r\n") << c.stored;
    EXPECT_EQ(s.variantsLeftOut, 0);
  }
  // A base type this exporter does not know, or one SQL Server 2000 has not (date), is not
  // guessed.
  for (const char* stored : {"f0010909", "2801" "5b950a"}) {
    const RowStatement s = BuildInsert(table, {V(stored)}, Target::kScript);
    EXPECT_EQ(s.insert.str(), "Insert into [dbo].[T] DEFAULT VALUES\r\ngo\r\n") << stored;
    EXPECT_EQ(s.variantsLeftOut, 1);
  }

  CTable strict;
  TableBuilder t(strict);
  t.Variable("name", "varchar", 20, false);
  t.Variable("v", "sql_variant", 8016, false);
  const RowStatement s = BuildInsert(strict, {M(Mark::kNull), V("f0010909")}, Target::kScript);
  EXPECT_EQ(s.insert.str(), "Insert into [dbo].[T] ([name],[v])  values('','')\r\ngo\r\n");
  EXPECT_EQ(s.nullsInNotNull, 1);
  EXPECT_EQ(s.variantsLeftOut, 1);
}

TEST(BuildInsert, MarkersByColumnKind) {
  CTable table;
  TableBuilder b(table, "M");
  b.Fixed("i", "int", 4);              // NULL, nullable
  b.Fixed("j", "int", 4, false);       // NULL, not nullable: left to the server
  b.Variable("v", "varchar", 5);       // empty
  b.Variable("vb", "varbinary", 5);    // empty
  b.Fixed("cn", "char", 3, false);     // damaged, not nullable
  b.Fixed("cy", "char", 3);            // damaged, nullable
  b.Fixed("d", "datetime", 8);         // refused date
  b.Computed("f", "int", "([i])");
  CColumn* dropped = b.Fixed("gone", "int", 4);
  dropped->m_bDropped = 1;
  b.Fixed("ts", "timestamp", 8);
  b.Fixed("k", "int", 4);
  const std::vector<Value> row = {M(Mark::kNull),   M(Mark::kNull),    M(Mark::kEmpty),       M(Mark::kEmpty),
                                  M(Mark::kCorrupt), M(Mark::kCorrupt), M(Mark::kInvalidDate), V("99"),
                                  V("5"),            M(Mark::kNull),    V("3")};
  EXPECT_EQ(Script(table, row), "Insert into [dbo].[M] ([i],[v],[vb],[cn],[k])  values(NULL,'',0x,'',3)\r\ngo\r\n");
  // Values past the column list, and columns past the values, are not used.
  std::vector<Value> longer = row;
  longer.push_back(V("extra"));
  EXPECT_EQ(Script(table, longer), Script(table, row));
  EXPECT_EQ(Script(table, {V("1")}), "Insert into [dbo].[M] ([i])  values(1)\r\ngo\r\n");
}

TEST(BuildInsert, LiteralsByType) {
  CTable table;
  TableBuilder b(table, "Odd]Name");
  b.Variable("vc", "varchar", 40);
  b.Variable("hi", "varchar", 40);
  b.Variable("lines", "text", 16);
  b.Variable("nv4000", "nvarchar", 4000);
  b.Variable("nv", "nvarchar", 3998);
  b.Fixed("nc", "nchar", 20);
  b.Variable("img", "image", 16);
  b.Fixed("bin", "binary", 2);
  b.Fixed("dt", "datetime", 8);
  b.Fixed("sdt", "smalldatetime", 4);
  b.Fixed("r", "real", 4);
  b.Fixed("f", "float", 8);
  b.Fixed("m", "money", 8);
  b.Fixed("g", "uniqueidentifier", 16);
  b.Variable("e", "image", 16);
  const std::vector<Value> row = {
      V("O'Neil"), V("M\xFCnchen"), V("a\r\ngo\r\nb"), V("41004200"), V("4100"), V("4100"), V("151c"),
      V("0x01ab"), V("00009b5c00000000"), V("9b5c003c"), V("1.5"), V("1e-300"), V("000000000000032.3800"),
      V("{00112233-4455-6677-8899-AABBCCDDEEFF}"), V("0x")};
  const std::string s = Script(table, row);
  EXPECT_EQ(s,
            "Insert into [dbo].[Odd]]Name] ([vc],[hi],[lines],[nv4000],[nv],[nc],[img],[bin],[dt],[sdt],[r],[f],[m],[g],"
            "[e])  values('O''Neil',CONVERT(varchar(7),0x4dfc6e6368656e),CONVERT(varchar(8),0x610d0a676f0d0a62),"
            "CONVERT(nvarchar(4000),0x41004200),CONVERT(nvarchar(1999),0x4100),CONVERT(nvarchar(10),0x4100),0x151c,"
            "0x01ab,CONVERT(datetime, 0x00009b5c00000000),CONVERT(smalldatetime, 0x9b5c003c),1.5E0,1e-300,"
            "000000000000032.3800,'{00112233-4455-6677-8899-AABBCCDDEEFF}',0x)\r\ngo\r\n");
  EXPECT_TRUE(PureAscii(s));
  const auto batches = testsupport::SplitSqlBatches(s);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_TRUE(testsupport::LexSqlBatch(batches[0]).ok()) << testsupport::LexSqlBatch(batches[0]).error;

}

// Values longer than one line takes follow their row in pieces, in forms SQL Server 2000 runs:
// text through a varchar(8000) variable, image with binary literals, both through UPDATETEXT.
// Nothing needs a (max) type or .WRITE. A connection takes a long image in its statement.
TEST(BuildInsert, LongTextAndImageValuesFollowInPieces) {
  CTable big;
  TableBuilder t(big);
  t.Fixed("id", "int", 4, false);
  t.Variable("t", "text", 16);
  t.Variable("pic", "image", 16);
  const std::string longText = std::string(16000, 'a') + "\n";
  const std::string picture(2 * 8001, 'c');
  const RowStatement script = BuildInsert(big, {V("1"), V(longText), V(picture)}, Target::kScript);
  const std::string text = script.ScriptText().str();
  EXPECT_EQ(text.find("(max)"), std::string::npos);
  EXPECT_EQ(text.find(".WRITE"), std::string::npos);
  EXPECT_EQ(script.insert.str(), "Insert into [dbo].[T] ([id],[t],[pic],[_TARNWELL_TEMPCOL])  values(1,'',0x, @ID)\r\n");
  EXPECT_NE(text.find("Declare @TEXT VarChar(8000) \r\nSelect @PTR = TEXTPTR([t]) from [dbo].[T] where "
                      "[_TARNWELL_TEMPCOL] = @ID \r\nSET @TEXT = Convert(varchar(8000),0x6161"),
            std::string::npos);
  EXPECT_NE(text.find("Updatetext [dbo].[T].[t] @PTR NULL 0 @TEXT \r\n"), std::string::npos);
  EXPECT_NE(text.find("Select @PTR = TEXTPTR([pic]) from [dbo].[T] where [_TARNWELL_TEMPCOL] = @ID \r\n"
                      "Updatetext [dbo].[T].[pic] @PTR NULL 0 0xcccc"),
            std::string::npos);
  // 16001 bytes of text and 8001 of image: three pieces and two.
  EXPECT_EQ(script.pieces, 5);
  const std::vector<Value> back = rowsoracle::ValuesFromStatement(big, text);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[1].text, longText);
  EXPECT_EQ(back[2].text, picture);

  // Up to 8000 bytes a value stays in the row.
  const RowStatement small = BuildInsert(big, {V("1"), V(std::string(8000, 'a')), V(std::string(16000, 'c'))}, Target::kScript);
  EXPECT_FALSE(small.HasBlock());
  // An image longer than one batch takes: the row's marker is a literal, set again in each
  // batch, so the later batches find the row the first one inserted.
  const std::string huge(kBatchHexDigits + 2 * kChunkHexDigits, 'e');
  const RowStatement split = BuildInsert(big, {V("1"), V("x"), V(huge)}, Target::kScript);
  const std::vector<std::string> batches = testsupport::SplitSqlBatches(split.ScriptText().str());
  ASSERT_EQ(batches.size(), 4u);  // two, the switch-off, and the empty text after the last "go"
  const size_t at = batches[0].find(" Set @ID = '{");
  ASSERT_NE(at, std::string::npos);
  const std::string marker = batches[0].substr(at, batches[0].find("\r\n", at) - at);
  EXPECT_EQ(batches[1].find(marker), batches[1].find(" Set @ID = "));
  EXPECT_NE(batches[1].find(marker), std::string::npos);
  EXPECT_EQ(batches[1].find("NewId()"), std::string::npos);
  EXPECT_NE(batches[1].find("commit transaction"), std::string::npos);

  // On a connection the image stays in the statement; the text still goes in pieces.
  const RowStatement server = BuildInsert(big, {V("1"), V(longText), V(picture)}, Target::kServer);
  EXPECT_NE(server.insert.str().find(",0x" + picture + ",@ID);"), std::string::npos);
  EXPECT_EQ(server.pieces, 3);
}

TEST(BuildInsert, NtextValuesGoThroughTheirBlock) {
  CTable table;
  TableBuilder b(table, "Emp");
  table.m_strOwner = "hr";
  b.Fixed("id", "int", 4, false)->m_bIdentity = true;
  b.Variable("notes", "ntext", 16);
  b.Variable("memo", "ntext", 16);
  const std::string one(15996, 'a');
  const std::string two(15997, 'b');
  const RowStatement script = BuildInsert(table, {V("3"), V(one), V(two)}, Target::kScript);
  ASSERT_TRUE(script.HasBlock());
  EXPECT_TRUE(script.identity);
  EXPECT_EQ(script.pieces, 3);
  EXPECT_EQ(script.insert.str(),
            "Insert into [hr].[Emp] ([id],[notes],[memo],[_TARNWELL_TEMPCOL])  values(3,'','', @ID)\r\n");
  const std::string text = script.ScriptText().str();
  const std::string expected =
      "SET XACT_ABORT ON \r\nbegin transaction \r\n"
      "Declare @ID Uniqueidentifier \r\n Declare @NTEXT NVarchar(4000) \r\n Declare @PTR VarBinary(16) \r\n"
      " Set @ID = NewId() \r\n" +
      script.insert.str() + "\r\n" +
      "Select @PTR = TEXTPTR([notes]) from [hr].[Emp] where [_TARNWELL_TEMPCOL] = @ID \r\n"
      "SET @NTEXT = Convert(nvarchar(4000),0x" + one + ")\r\n"
      "Updatetext [hr].[Emp].[notes] @PTR NULL 0 @NTEXT \r\n"
      "Select @PTR = TEXTPTR([memo]) from [hr].[Emp] where [_TARNWELL_TEMPCOL] = @ID \r\n"
      "SET @NTEXT = Convert(nvarchar(4000),0x" + two.substr(0, 15996) + ")\r\n"
      "Updatetext [hr].[Emp].[memo] @PTR NULL 0 @NTEXT \r\n"
      "SET @NTEXT = Convert(nvarchar(4000),0xb)\r\n"
      "Updatetext [hr].[Emp].[memo] @PTR NULL 0 @NTEXT \r\n"
      "commit transaction\r\ngo\r\nSET XACT_ABORT OFF\r\ngo\r\n";
  EXPECT_EQ(text, expected);
  const RowStatement server = BuildInsert(table, {V("3"), V(one), M(Mark::kEmpty)}, Target::kServer);
  EXPECT_EQ(server.insert.str(), "Insert into [hr].[Emp] ([id],[notes],[memo],[_TARNWELL_TEMPCOL])  values(3,'','',@ID);");
  // Any failed piece rolls the whole row back.
  EXPECT_EQ(server.ServerText().str().rfind("SET XACT_ABORT ON \r\nbegin transaction", 0), 0u);
  EXPECT_EQ(server.ServerText().str().find("XACT_ABORT OFF"), std::string::npos);
  EXPECT_EQ(server.pieces, 1);
  EXPECT_EQ(IdentityInsertText(table, true).str(), "SET IDENTITY_INSERT [hr].[Emp] ON");
  EXPECT_EQ(IdentityInsertText(table, false).str(), "SET IDENTITY_INSERT [hr].[Emp] OFF");
}
