#include <gtest/gtest.h>

#include <string>

#include "common/unicodetext.h"

namespace {
ByteView View(const std::string& bytes) {
  return ByteView(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
}
}  // namespace

TEST(Utf16Text, DecodesEveryPlaneAndMarksBrokenPairs) {
  struct Case {
    std::string utf16;
    std::string utf8;
    bool clean;
  } cases[] = {
      {std::string("A\0", 2), "A", true},
      {std::string("\xE9\x00", 2), "\xC3\xA9", true},                            // é
      {std::string("\x00\x4E", 2), "\xE4\xB8\x80", true},                        // U+4E00, low byte 0
      {std::string("\x1F\x04\x40\x04", 4), "\xD0\x9F\xD1\x80", true},            // Пр
      {std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80", true},            // U+1F600 as a pair
      {std::string("\x3D\xD8" "A\0", 4), "\xEF\xBF\xBD" "A", false},             // lone high surrogate
      {std::string("\x00\xDC", 2), "\xEF\xBF\xBD", false},                       // lone low surrogate
      {std::string("AB", 2) + std::string("C", 1), "\xE4\x89\x81", true},       // odd byte left out
  };
  for (const Case& c : cases) {
    bool clean = true;
    EXPECT_EQ(Utf16ToUtf8(View(c.utf16), &clean), c.utf8);
    EXPECT_EQ(clean, c.clean);
  }
}

TEST(Utf16Text, RoundTripsThroughUtf8AndKeepsStrayBytes) {
  const std::string stored("N\0g\0u\0y\0\xC5\x1E" "n\0 \0\x00\x4E\x3D\xD8\x00\xDE", 20);
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(View(stored))), stored);
  // A byte that is no UTF-8 goes out as the Latin-1 character it would be.
  EXPECT_EQ(Utf8ToUtf16("a\xE9"), std::string("a\0\xE9\0", 4));
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), std::string("\xE4\0\xB8\0", 4));  // cut-off sequence
}

TEST(StoredNames, ControlCharactersAndBrokenPairsAreNoNames) {
  CString name;
  EXPECT_TRUE(DecodeStoredName(View(std::string("\x2D\x4E\x87\x65", 4)), name));
  EXPECT_EQ(name, "\xE4\xB8\xAD\xE6\x96\x87");  // 中文
  EXPECT_FALSE(DecodeStoredName(View(std::string("A\0\n\0", 4)), name));
  EXPECT_FALSE(DecodeStoredName(View(std::string("A\0\x85\0", 4)), name));
  EXPECT_FALSE(DecodeStoredName(View(std::string("\x00\xD8", 2)), name));
  EXPECT_FALSE(DecodeStoredName(View(std::string("\0\0", 2)), name));
}

TEST(CodePages, DecodeByCodePage) {
  struct Case {
    unsigned codePage;
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {1252, "Donn\xE9" "es \x80", "Donn\xC3\xA9" "es \xE2\x82\xAC"},
      {1250, "\x8A", "\xC5\xA0"},                 // Š
      {1251, "\xCF\xF0", "\xD0\x9F\xD1\x80"},     // Пр
      {1253, "\xC1", "\xCE\x91"},                 // Α
      {1258, "Nguy\xEAn", "Nguy\xC3\xAAn"},
      {1258, "e\xCC", "\xC3\xA8"},             // a letter and the combining grave after it
      {874, "\xA1", "\xE0\xB8\x81"},              // ก
      {932, "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},  // 日本
      {936, "\xD6\xD0", "\xE4\xB8\xAD"},          // 中
      {949, "\xC7\xD1", "\xED\x95\x9C"},          // 한
      {950, "\xA4\xA4", "\xE4\xB8\xAD"},          // 中
      {932, "a\x81", "a\xEF\xBF\xBD"},            // a lead byte with nothing after it
      {1252, "\x81", "\xEF\xBF\xBD"},             // a byte 1252 leaves undefined
      {9999, "\xE9", "\xC3\xA9"},                 // unknown code page: read as 1252
  };
  for (const Case& c : cases) EXPECT_EQ(CodePageToUtf8(View(c.bytes), c.codePage), c.utf8) << c.codePage;
}

TEST(CodePages, OfStoredCollations) {
  // Ids as the catalogs hold them: SQL collations by their sort order in the top byte,
  // Windows collations by their language.
  struct Case {
    DWORD id;
    unsigned codePage;
  } cases[] = {
      {0, 0},               // Unicode types carry none
      {872468488, 1252},    // SQL_Latin1_General_CP1_CI_AS
      {53256, 1252},        // Latin1_General_CI_AS
      {0x00010008, 1252},   // Latin1_General_BIN
      {53259, 1252},        // French_CI_AS
      {53255, 1253},        // Greek_CI_AS
      {0xD000 | 0x29, 1258},  // Vietnamese
      {0xD000 | 0x10, 932},   // Japanese
      {0xD000 | 0x03, 936},   // Chinese (PRC)
      {0xD000 | 0x18, 1251},  // Russian: Cyrillic_General
      {0xD000 | 0x1D, 874},   // Thai
      {0x68000000u | 0xD008, 1251},  // sort order 104: a Cyrillic SQL collation
  };
  for (const Case& c : cases) EXPECT_EQ(CodePageOfCollation(c.id), c.codePage) << c.id;
}
