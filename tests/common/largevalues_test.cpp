#include "common/largevalues.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tsqllexer.h"

namespace {

const CString kTable = "[dbo].[T]";
const CString kTemp = "[_TARNWELL_TEMPCOL]";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// The hex digits of every piece a text holds after `lead`, joined.
std::string Pieces(const std::string& text, const std::string& lead) {
  std::string digits;
  for (size_t p = text.find(lead); p != std::string::npos; p = text.find(lead, p + 1)) {
    size_t at = p + lead.size();
    while (at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at]))) digits += text[at++];
  }
  return digits;
}

std::string Digits(size_t n) {
  std::string s;
  s.reserve(n);
  for (size_t i = 0; i < n; ++i) s += "0123456789abcdef"[i * 7 % 16];
  return s;
}

}  // namespace

// Each form on a value of two pieces: the first line of a piece, and the value whole again.
TEST(LargeValues, EachFormInPieces) {
  struct Case {
    ChunkForm form;
    const char* lead;
    const char* placeholder;
    size_t pointerLines;
  } cases[] = {
      {ChunkForm::kNText, "SET @NTEXT = Convert(nvarchar(4000),0x", "''", 1},
      {ChunkForm::kText, "SET @TEXT = Convert(varchar(8000),0x", "''", 1},
      {ChunkForm::kImage, "Updatetext [dbo].[T].[c] @PTR NULL 0 0x", "0x", 1},
      {ChunkForm::kWriteBinary, "UPDATE [dbo].[T] SET [c].WRITE(0x", "0x", 0},
      {ChunkForm::kWriteVarChar, "UPDATE [dbo].[T] SET [c].WRITE(CONVERT(varchar(8000),0x", "''", 0},
      {ChunkForm::kWriteNVarChar, "UPDATE [dbo].[T] SET [c].WRITE(CONVERT(nvarchar(4000),0x", "''", 0},
  };
  const std::string value = Digits(kChunkHexDigits + 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lead);
    std::string out;
    AppendChunkedValues(out, kTable, kTemp, "@ID", " \r\n", {{"[c]", c.form, value}});
    EXPECT_EQ(Pieces(out, c.lead), value);
    EXPECT_EQ(Count(out, c.lead), 2u);
    EXPECT_EQ(Count(out, "Select @PTR = TEXTPTR([c]) from [dbo].[T] where [_TARNWELL_TEMPCOL] = @ID \r\n"),
              c.pointerLines);
    EXPECT_EQ(Count(out, "Declare @TEXT"), c.form == ChunkForm::kText ? 1u : 0u);
    EXPECT_STREQ(ChunkedPlaceholder(c.form), c.placeholder);
    EXPECT_TRUE(testsupport::LexSqlBatch(out).ok()) << testsupport::LexSqlBatch(out).error;
  }
}

// A row whose pieces outgrow one batch goes on in further batches, each of which declares the
// variables again, takes the text pointer again and stays within what a server takes; without
// a break the row stays one batch (a connection's).
TEST(LargeValues, PiecesBeyondABatchGoOnInTheNext) {
  const std::string image = Digits(kBatchHexDigits + 3 * kChunkHexDigits);
  const std::string text = Digits(2 * kChunkHexDigits);
  const std::vector<ChunkedValue> values = {{"[pic]", ChunkForm::kImage, image}, {"[t]", ChunkForm::kText, text}};
  EXPECT_TRUE(NeedsSeveralBatches(values));
  EXPECT_FALSE(NeedsSeveralBatches({{"[t]", ChunkForm::kText, text}}));

  const std::string declarations = "Declare @ID Uniqueidentifier \r\n Set @ID = '{0}' \r\n";
  std::string out;
  AppendChunkedValues(out, kTable, kTemp, "@ID", " \r\n", values, "go\r\n" + declarations);
  const std::vector<std::string> batches = testsupport::SplitSqlBatches(out);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[1].rfind(declarations + "Select @PTR = TEXTPTR([pic])", 0), 0u) << batches[1].substr(0, 200);
  for (const std::string& batch : batches) {
    EXPECT_LE(Pieces(batch, "@PTR NULL 0 0x").size() + Pieces(batch, "Convert(varchar(8000),0x").size(),
              kBatchHexDigits);
    EXPECT_TRUE(testsupport::LexSqlBatch(batch).ok());
  }
  EXPECT_EQ(Pieces(out, "Updatetext [dbo].[T].[pic] @PTR NULL 0 0x"), image);
  EXPECT_EQ(Pieces(out, "SET @TEXT = Convert(varchar(8000),0x"), text);
  // The text's variable is declared in the batch that uses it.
  EXPECT_EQ(Count(batches[0], "Declare @TEXT"), 0u);
  EXPECT_EQ(Count(batches[1], "Declare @TEXT"), 1u);

  std::string one;
  AppendChunkedValues(one, kTable, kTemp, "@ID", " \r\n", values);
  EXPECT_EQ(testsupport::SplitSqlBatches(one).size(), 1u);
  EXPECT_EQ(Pieces(one, "Updatetext [dbo].[T].[pic] @PTR NULL 0 0x"), image);

  // Markers are uniqueidentifier literals, new each time.
  const CString a = NewRowMarkerLiteral(), b = NewRowMarkerLiteral();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.GetLength(), 40);
  EXPECT_EQ(a.str().substr(0, 2), "'{");
}
