#include "common/scanextension.h"

#include <gtest/gtest.h>

#include <string>

#include "common/schemasection.h"
#include "platform/archive.h"
#include "support/fixtures.h"

namespace {

// Writes `head` (what an engine's first layout would hold) and then the extension.
std::string WriteFileWith(const testsupport::TempDir& dir, const CScanFileExtension& extension, bool withExtension) {
  const std::string path = dir.file("scan.str");
  CArchive ar;
  EXPECT_TRUE(ar.Open(path.c_str(), CArchive::store));
  ar << CString("layout");
  if (withExtension) extension.Write(ar);
  ar.Close();
  return path;
}

bool ReadBack(const std::string& path, CScanFileExtension& into) {
  CArchive ar;
  EXPECT_TRUE(ar.Open(path.c_str(), CArchive::load));
  CString head;
  ar >> head;
  return into.Read(ar);
}

}  // namespace

TEST(ScanFileExtension, SectionsComeBackByTagAndAFileWithoutOneHasNone) {
  testsupport::ModuleFolderScope scope;
  testsupport::TempDir dir;
  CScanFileExtension out;
  out.Add("first").U8(7).U16(0x1234).U32(0xDEADBEEF).I64(-5000000000LL).Text(CString(std::string(300, 'x')));
  out.Add("later-feature").Flag(true).Text("tail");
  out.Add("empty");
  CScanFileExtension in;
  ASSERT_TRUE(ReadBack(WriteFileWith(dir, out, true), in));
  const std::string* first = in.Find("first");
  ASSERT_NE(first, nullptr);
  ScanExtensionReader r(*first);
  EXPECT_EQ(r.U8(), 7);
  EXPECT_EQ(r.U16(), 0x1234);
  EXPECT_EQ(r.U32(), 0xDEADBEEFu);
  EXPECT_EQ(r.I64(), -5000000000LL);
  EXPECT_EQ(r.Text(), CString(std::string(300, 'x')));
  EXPECT_TRUE(r.ok() && r.AtEnd());
  // Reading past a section fails softly, never beyond its bytes.
  EXPECT_EQ(r.U32(), 0u);
  EXPECT_FALSE(r.ok());
  ASSERT_NE(in.Find("empty"), nullptr);
  EXPECT_TRUE(in.Find("empty")->empty());
  EXPECT_EQ(in.Find("never-written"), nullptr);

  CScanFileExtension none;
  EXPECT_FALSE(ReadBack(WriteFileWith(dir, out, false), none));
  EXPECT_EQ(none.Find("first"), nullptr);
}

TEST(ScanFileExtension, ACutOrForeignTailRefusesTheFile) {
  testsupport::ModuleFolderScope scope;
  testsupport::TempDir dir;
  CScanFileExtension out;
  out.Add("schema").Count(3).Text("abc");
  const std::string whole = testsupport::ReadFile(WriteFileWith(dir, out, true));
  const size_t layout = 7;  // "layout" with its prefix
  for (size_t cut = layout + 1; cut < whole.size(); ++cut) {
    testsupport::WriteFile(dir.file("cut.str"), whole.substr(0, cut));
    CScanFileExtension in;
    EXPECT_THROW(ReadBack(dir.file("cut.str"), in), CArchiveException) << cut;
    EXPECT_EQ(in.Find("schema"), nullptr) << cut;
  }
  testsupport::WriteFile(dir.file("foreign.str"), whole.substr(0, layout) + "\x05other");
  CScanFileExtension in;
  EXPECT_THROW(ReadBack(dir.file("foreign.str"), in), CArchiveException);
}

TEST(ScanFileExtension, ReaderCountsCannotClaimMoreThanTheSectionHolds) {
  ScanExtensionWriter w;
  w.Count(1000000).U8(1);
  ScanExtensionReader r(w.Bytes());
  EXPECT_EQ(r.Count(4), 0u);
  EXPECT_FALSE(r.ok());
  ScanExtensionWriter t;
  t.U8(0xFF).U16(0xFFFF).U32(0x7FFFFFFF);  // a text length far past the end
  ScanExtensionReader rt(t.Bytes());
  EXPECT_EQ(rt.Text(), CString());
  EXPECT_FALSE(rt.ok());
}

// What a type had bound comes back from the file by the type's key; a file written before
// the section existed still opens, its types unbound, and the load says so.
TEST(ScanFileExtension, TypeBindingsComeBackAndAFileWithoutThemOpensUnbound) {
  testsupport::ModuleFolderScope scope;
  testsupport::TempDir dir;
  CDataType bound, plain;
  bound.m_strName = "qty_t";
  bound.m_dwDefaultObjectId = 501;
  bound.m_dwRuleId = 0xFFFFFFF0u;
  bound.m_strRuleName = "positive";
  bound.m_strDefaultText = "CREATE DEFAULT [dbo].[zero] AS 0";
  plain.m_strName = "id";
  CStringKeyMap<CDataType*> written;
  written.SetAt("300", &bound);
  written.SetAt("301", &plain);
  written.SetAt("302", nullptr);  // a hole in the map is skipped, not written
  CScanFileExtension out;
  out.Add("first").U8(1);
  WriteTypeBindingSection(out, written);
  out.Add("after").U8(2);

  CDataType boundBack, plainBack;
  plainBack.m_dwRuleId = 9;  // what the file says overrides what the catalog left
  CStringKeyMap<CDataType*> read;
  read.SetAt("300", &boundBack);
  read.SetAt("301", &plainBack);
  CScanFileExtension in;
  ASSERT_TRUE(ReadBack(WriteFileWith(dir, out, true), in));
  ApplyTypeBindingSection(in, read);
  EXPECT_EQ(boundBack.m_dwDefaultObjectId, 501u);
  EXPECT_EQ(boundBack.m_dwRuleId, 0xFFFFFFF0u);
  EXPECT_EQ(boundBack.m_strRuleName, CString("positive"));
  EXPECT_EQ(boundBack.m_strDefaultText, CString("CREATE DEFAULT [dbo].[zero] AS 0"));
  EXPECT_EQ(plainBack.m_dwDefaultObjectId, 0u);
  EXPECT_EQ(plainBack.m_dwRuleId, 0u);
  EXPECT_TRUE(plainBack.m_strRuleName.IsEmpty() && plainBack.m_strDefaultText.IsEmpty());
  // The sections around it are untouched.
  ASSERT_NE(in.Find("after"), nullptr);
  EXPECT_EQ(ScanExtensionReader(*in.Find("after")).U8(), 2);

  // An older file: no section, nothing bound, one line in the log.
  CScanFileExtension older;
  older.Add("first").U8(1);
  CScanFileExtension oldIn;
  ASSERT_TRUE(ReadBack(WriteFileWith(dir, older, true), oldIn));
  CDataType untouched;
  CStringKeyMap<CDataType*> oldTypes;
  oldTypes.SetAt("300", &untouched);
  ApplyTypeBindingSection(oldIn, oldTypes);
  EXPECT_EQ(untouched.m_dwDefaultObjectId, 0u);
  EXPECT_TRUE(untouched.m_strRuleName.IsEmpty());
  EXPECT_NE(scope.ReadExecLog().find("written before type bindings were kept"), std::string::npos) << scope.ReadExecLog();

  // A section cut short binds nothing rather than half of it.
  const std::string* section = in.Find(kTypeBindingSectionTag);
  ASSERT_NE(section, nullptr);
  CScanFileExtension cut;
  ScanExtensionWriter& cutWriter = cut.Add(kTypeBindingSectionTag);
  for (size_t i = 0; i + 3 < section->size(); ++i) cutWriter.U8(BYTE((*section)[i]));
  CScanFileExtension cutIn;
  ASSERT_TRUE(ReadBack(WriteFileWith(dir, cut, true), cutIn));
  CDataType cutBack;
  CStringKeyMap<CDataType*> cutTypes;
  cutTypes.SetAt("300", &cutBack);
  ApplyTypeBindingSection(cutIn, cutTypes);
  EXPECT_EQ(cutBack.m_dwDefaultObjectId, 0u);
  EXPECT_TRUE(cutBack.m_strDefaultText.IsEmpty());
}

TEST(ScanFileExtension, ViewIndexesComeBackAndAFileWithoutThemOpensWithout) {
  testsupport::ModuleFolderScope scope;
  testsupport::TempDir dir;
  CViewStoredProc indexed, plain;
  indexed.m_strName = "V";
  indexed.m_strOwner = "sales";
  indexed.AddColumn(1, "OrderID");
  indexed.AddColumn(4, "Total");
  CIndexInfo clustered;
  clustered.m_dwId = 1;
  clustered.m_strName = "CX";
  clustered.m_bClustered = clustered.m_bUnique = 1;
  clustered.m_vecColumns = {0, 1};
  clustered.m_vecDescending = {false, false};
  CIndexInfo cover;
  cover.m_dwId = 3;
  cover.m_strName = "IX";
  cover.m_bNonClustered = 1;
  cover.m_vecColumns = {4};
  cover.m_vecDescending = {true};
  cover.m_vecIncluded = {1};
  indexed.m_vecIndexes = {clustered, cover};
  plain.m_strName = "P";
  plain.AddColumn(1, "a");  // a view without indexes is not written
  CStringKeyMap<CViewStoredProc*> written;
  written.SetAt("700", &indexed);
  written.SetAt("701", &plain);
  written.SetAt("702", nullptr);
  CScanFileExtension out;
  WriteViewIndexSection(out, written);

  CViewStoredProc indexedBack, plainBack;
  CStringKeyMap<CViewStoredProc*> read;
  read.SetAt("700", &indexedBack);
  read.SetAt("701", &plainBack);
  CScanFileExtension in;
  ASSERT_TRUE(ReadBack(WriteFileWith(dir, out, true), in));
  ApplyViewIndexSection(in, read);
  EXPECT_EQ(indexedBack.m_strOwner, CString("sales"));
  ASSERT_EQ(indexedBack.m_vecColumns.size(), 2u);
  EXPECT_EQ(indexedBack.m_vecColumns[1].id, 4);
  EXPECT_EQ(*indexedBack.ColumnName(4), CString("Total"));
  ASSERT_EQ(indexedBack.m_vecIndexes.size(), 2u);
  const CIndexInfo& c = indexedBack.m_vecIndexes[0];
  EXPECT_EQ(c.m_dwId, 1u);
  EXPECT_EQ(c.m_strName, CString("CX"));
  EXPECT_TRUE(c.m_bClustered && c.m_bUnique && !c.m_bNonClustered);
  EXPECT_EQ(c.m_vecColumns, (std::vector<int>{0, 1}));
  const CIndexInfo& i = indexedBack.m_vecIndexes[1];
  EXPECT_EQ(i.m_dwId, 3u);
  EXPECT_TRUE(i.m_bNonClustered && !i.m_bUnique && !i.m_bClustered);
  EXPECT_EQ(i.m_vecDescending, (std::vector<bool>{true}));
  EXPECT_EQ(i.m_vecIncluded, (std::vector<int>{1}));
  EXPECT_TRUE(plainBack.m_vecColumns.empty() && plainBack.m_vecIndexes.empty());

  // An older file: its views open without indexes, and the log says so.
  CScanFileExtension older;
  older.Add("first").U8(1);
  CScanFileExtension oldIn;
  ASSERT_TRUE(ReadBack(WriteFileWith(dir, older, true), oldIn));
  CViewStoredProc untouched;
  CStringKeyMap<CViewStoredProc*> oldViews;
  oldViews.SetAt("700", &untouched);
  ApplyViewIndexSection(oldIn, oldViews);
  EXPECT_TRUE(untouched.m_vecIndexes.empty());
  EXPECT_NE(scope.ReadExecLog().find("written before indexes on views were kept"), std::string::npos);

  // A section cut anywhere gives no index rather than part of one.
  const std::string* section = in.Find(kViewIndexSectionTag);
  ASSERT_NE(section, nullptr);
  for (size_t keep : {size_t(4), section->size() / 2, section->size() - 1}) {
    CScanFileExtension cut;
    ScanExtensionWriter& w = cut.Add(kViewIndexSectionTag);
    for (size_t b = 0; b < keep; ++b) w.U8(BYTE((*section)[b]));
    CScanFileExtension cutIn;
    ASSERT_TRUE(ReadBack(WriteFileWith(dir, cut, true), cutIn));
    CViewStoredProc cutBack;
    CStringKeyMap<CViewStoredProc*> cutViews;
    cutViews.SetAt("700", &cutBack);
    ApplyViewIndexSection(cutIn, cutViews);
    EXPECT_TRUE(cutBack.m_vecIndexes.empty() && cutBack.m_strOwner.IsEmpty()) << keep;
  }
}
