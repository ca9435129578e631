#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/archive.h"
#include "support/fixtures.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Bytes a store archive writes.
std::string Stored(const std::function<void(CArchive&)>& write) {
  TempDir dir;
  CArchive ar;
  EXPECT_TRUE(ar.Open(dir.file("a.bin").c_str(), CArchive::store));
  write(ar);
  ar.Close();
  return ReadFile(dir.file("a.bin"));
}

// Runs read over an archive of the given bytes; gives the cause of the exception it
// raised, or -1 when it raised none.
int LoadCause(const std::string& bytes, const std::function<void(CArchive&)>& read) {
  TempDir dir;
  WriteFile(dir.file("a.bin"), bytes);
  CArchive ar;
  EXPECT_TRUE(ar.Open(dir.file("a.bin").c_str(), CArchive::load));
  try {
    read(ar);
  } catch (const CArchiveException& e) {
    return e.m_cause;
  }
  return -1;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

}  // namespace

TEST(Archive, PrimitivesAreLittleEndian) {
  std::string bytes = Stored([](CArchive& ar) {
    ar << BYTE(0x81) << WORD(0x1234) << short(-2) << int(-0x01020304) << DWORD(0xA1B2C3D4);
    ar.WriteFlag(true);
    ar.WriteFlag(false);
    ar.WriteCount(2);
    ar << BYTE(7) << BYTE(8);
  });
  EXPECT_EQ(Hex(bytes), "81" "3412" "feff" "fcfcfdfe" "d4c3b2a1" "01000000" "00000000" "02000000" "0708");

  EXPECT_EQ(LoadCause(bytes,
                      [](CArchive& ar) {
                        BYTE b;
                        WORD w;
                        short s;
                        int i;
                        DWORD d;
                        ar >> b >> w >> s >> i >> d;
                        EXPECT_EQ(b, 0x81);
                        EXPECT_EQ(w, 0x1234);
                        EXPECT_EQ(s, -2);
                        EXPECT_EQ(i, -0x01020304);
                        EXPECT_EQ(d, 0xA1B2C3D4u);
                        EXPECT_TRUE(ar.ReadFlag());
                        EXPECT_FALSE(ar.ReadFlag());
                        EXPECT_EQ(ar.ReadCount(1), 2);
                        EXPECT_EQ(ar.BytesLeft(), 2u);
                      }),
            -1);
}

TEST(Archive, StringPrefixBoundaries) {
  struct Case {
    size_t length;
    std::string prefix;
  };
  const Case cases[] = {
      {0, "00"},
      {254, "fe"},
      {255, "ffff00"},
      {300, "ff2c01"},
      {0xFFFD, "fffdff"},
      {0xFFFE, "ffffff" "feff0000"},
      {0x12345, "ffffff" "45230100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string text(c.length, 'x');
    for (size_t i = 0; i < c.length; ++i) text[i] = char('a' + i % 26);
    std::string bytes = Stored([&](CArchive& ar) { ar << CString(text); });
    ASSERT_EQ(bytes.size(), c.prefix.size() / 2 + c.length);
    EXPECT_EQ(Hex(bytes.substr(0, c.prefix.size() / 2)), c.prefix);
    EXPECT_EQ(bytes.substr(c.prefix.size() / 2), text);
    EXPECT_EQ(LoadCause(bytes,
                        [&](CArchive& ar) {
                          CString back;
                          ar >> back;
                          EXPECT_EQ(back.str(), text);
                          EXPECT_EQ(ar.BytesLeft(), 0u);
                        }),
              -1);
  }
}

TEST(Archive, DamagedInputRaisesTheDefinedException) {
  auto readString = [](CArchive& ar) {
    CString s;
    ar >> s;
  };
  auto readInt = [](CArchive& ar) {
    int v;
    ar >> v;
  };
  struct Case {
    const char* what;
    std::string bytes;
    std::function<void(CArchive&)> read;
    int cause;
  };
  const std::string wideTag("\xff\xfe\xff\x03" "a\0b\0c\0", 10);
  const Case cases[] = {
      {"empty file", "", readString, CArchiveException::endOfFile},
      {"short int", std::string("\x01\x02\x03", 3), readInt, CArchiveException::endOfFile},
      {"text shorter than its prefix", std::string("\x05" "abcd"), readString, CArchiveException::endOfFile},
      {"prefix cut in its WORD", std::string("\xff\x10", 2), readString, CArchiveException::endOfFile},
      // A text file read as an archive: 'C' announces 67 bytes.
      {"text file", "Code:0  Error:0", readString, CArchiveException::endOfFile},
      {"4 GB string", std::string("\xff\xff\xff\xfe\xff\xff\xff" "abc", 10), readString,
       CArchiveException::endOfFile},
      {"64-bit length", std::string("\xff\xff\xff\xff\xff\xff\xff" "\x00\x00\x00\x00\x01\x00\x00\x00", 15), readString,
       CArchiveException::endOfFile},
      {"wide-string tag", wideTag, readString, CArchiveException::badFormat},
      {"count beyond the bytes left", std::string("\x10\x00\x00\x00" "abcd", 8),
       [](CArchive& ar) { ar.ReadCount(4); }, CArchiveException::endOfFile},
      {"huge count", std::string("\xff\xff\xff\x7f", 4), [](CArchive& ar) { ar.ReadCount(1); },
       CArchiveException::endOfFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LoadCause(c.bytes, c.read), c.cause);
  }
}

TEST(Archive, NegativeCountReadsAsZero) {
  std::string bytes("\xff\xff\xff\xff" "\x00\x00\x00\x80", 8);
  EXPECT_EQ(LoadCause(bytes,
                      [](CArchive& ar) {
                        EXPECT_EQ(ar.ReadCount(60), 0);
                        EXPECT_EQ(ar.ReadCount(60), 0);
                      }),
            -1);
}

TEST(Archive, ValuesCrossTheBufferBorder) {
  // Odd-sized items so that values straddle every 4096-byte buffer edge.
  std::string bytes = Stored([](CArchive& ar) {
    for (int i = 0; i < 3000; ++i) ar << BYTE(i) << int(i * 7919) << CString(std::string(size_t(i % 5), 'q'));
  });
  EXPECT_GT(bytes.size(), 3 * CArchive::kBufferSize);
  EXPECT_EQ(LoadCause(bytes,
                      [](CArchive& ar) {
                        for (int i = 0; i < 3000; ++i) {
                          BYTE b;
                          int v;
                          CString s;
                          ar >> b >> v >> s;
                          ASSERT_EQ(b, BYTE(i));
                          ASSERT_EQ(v, i * 7919);
                          ASSERT_EQ(s.GetLength(), i % 5);
                        }
                        EXPECT_EQ(ar.BytesLeft(), 0u);
                      }),
            -1);
}

TEST(Archive, OpenAndWriteFailures) {
  TempDir dir;
  CArchive ar;
  EXPECT_FALSE(ar.Open(dir.file("missing.str").c_str(), CArchive::load));
  EXPECT_FALSE(ar.Open(dir.file("no/such/folder.str").c_str(), CArchive::store));
  EXPECT_FALSE(ar.Open(nullptr, CArchive::load));
  EXPECT_FALSE(ar.IsOpen());

  // A disk that is full: the buffered bytes fail when they are written out.
  if (!ar.Open("/dev/full", CArchive::store)) GTEST_SKIP() << "/dev/full not available";
  ar << CString("scan");
  int cause = -1;
  try {
    ar.Close();
  } catch (const CArchiveException& e) {
    cause = e.m_cause;
  }
  EXPECT_EQ(cause, CArchiveException::writeFailed);
  EXPECT_FALSE(ar.IsOpen());

  // More than one buffer: the failure surfaces while writing, not only at Close.
  ASSERT_TRUE(ar.Open("/dev/full", CArchive::store));
  cause = -1;
  try {
    for (int i = 0; i < 2000; ++i) ar << DWORD(i);
  } catch (const CArchiveException& e) {
    cause = e.m_cause;
  }
  EXPECT_EQ(cause, CArchiveException::writeFailed);
  ar.Abort();
}
