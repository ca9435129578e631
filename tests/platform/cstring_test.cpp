#include <gtest/gtest.h>

#include "platform/cstring.h"
#include "platform/types.h"

TEST(CStringFormat, WindowsWidths) {
  struct Case {
    CString got;
    const char* want;
  } cases[] = {
      {FormatString("%ld", DWORD(0x80000001u)), "-2147483647"},
      {FormatString("%lu", DWORD(0x80000001u)), "2147483649"},
      {FormatString("%lu", -1), "4294967295"},
      {FormatString("%d", -5), "-5"},
      {FormatString("%hd", 0x18000), "-32768"},
      {FormatString("%u", 7u), "7"},
      {FormatString("%I64d", (INT64(1234) << 16) + (INT64(1) << 56)), "72057594118799360"},
      {FormatString("%I64u", UINT64(0xFFFFFFFFFFFFFFFFull)), "18446744073709551615"},
      {FormatString("%x|%08X", 255u, 0xABCu), "ff|00000ABC"},
      {FormatString("Found : %d", 3), "Found : 3"},
      {FormatString("%s-%s", CString("a"), "b"), "a-b"},
      {FormatString("%5.2f%%", 3.14159), " 3.14%"},
      {FormatString("%d %d", 1), "1 "},  // a missing argument prints nothing
      {FormatString("[%-4s]", "ab"), "[ab  ]"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got.str(), c.want);
}

TEST(CStringFormat, LongTextsAreNotCut) {
  std::string big(5000, 'x');
  EXPECT_EQ(FormatString("<%s>", big.c_str()).GetLength(), 5002);
}

TEST(CString, Operations) {
  CString s(" Hello World \t");
  EXPECT_EQ(CString(s).Trim().str(), "Hello World");
  EXPECT_EQ(CString("\xe9t\xe9 ").Trim().str(), "\xe9t\xe9");  // high bytes are not spaces
  EXPECT_EQ(CString("BAK").CompareNoCase("bak"), 0);
  EXPECT_NE(CString("bak2").CompareNoCase("bak"), 0);
  CString path("dir.v2/file.Bak");
  EXPECT_EQ(path.Mid(path.ReverseFind('.') + 1).str(), "Bak");
  CString r("a]b]");
  EXPECT_EQ(r.Replace("]", "]]"), 2);
  EXPECT_EQ(r.str(), "a]]b]]");
  EXPECT_EQ(CString("abc").Left(10).str(), "abc");
  EXPECT_EQ(CString("abc").Right(2).str(), "bc");
  EXPECT_EQ(CString("abc").Mid(5).str(), "");
  EXPECT_EQ(CString("abcabc").Find("ca"), 2);
  EXPECT_EQ(CString("abc").Find('z'), -1);
  EXPECT_EQ(CString(static_cast<const char*>(nullptr)).GetLength(), 0);
  EXPECT_EQ(CString("MiXeD").MakeUpper().str(), "MIXED");
}
