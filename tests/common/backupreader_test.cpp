#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "support/fixtures.h"
#include "support/renamedcopy.h"

using testsupport::ModuleFolderScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr size_t kPage = 8192;

std::string Line(const std::string& message) { return "Code:0  Error:1  MSG:" + message + "\r\n"; }
const std::string kFoundLine = Line("Sql Data Descriptor block found successfully.");

// A synthetic tape image, built block by block at chosen positions.
struct Tape {
  std::string bytes;

  void Put(size_t at, const std::string& data) {
    if (bytes.size() < at + data.size()) bytes.resize(at + data.size(), '\0');
    bytes.replace(at, data.size(), data);
  }
  void Put16(size_t at, unsigned v) { Put(at, std::string{char(v), char(v >> 8)}); }
  void Put32(size_t at, unsigned v) { Put16(at, v & 0xFFFF), Put16(at + 2, v >> 16); }
  void Put64(size_t at, unsigned long long v) { Put32(at, unsigned(v)), Put32(at + 4, unsigned(v >> 32)); }
  void Extend(size_t size) {
    if (bytes.size() < size) bytes.resize(size, '\0');
  }

  // An SSET block; units are the UTF-16 code units of the name, placed 200 bytes in.
  void Sset(size_t at, unsigned setAttributes, unsigned number, const std::u16string& name,
            const std::u16string& user = u"tester") {
    Put(at, "SSET");
    Put32(at + 52, setAttributes);
    Put16(at + 62, number);
    PutText(at, 64, 200, name);
    PutText(at, 76, 300, user);
    Put(at + 88, std::string("\x1f\x63\x12\x81\x43", 5));  // 2008-12-09 08:05:03
  }
  void PutText(size_t block, size_t address, size_t offset, const std::u16string& text) {
    if (text.empty()) return;
    Put16(block + address, unsigned(text.size() * 2));
    Put16(block + address + 2, unsigned(offset));
    for (size_t i = 0; i < text.size(); ++i) Put16(block + offset + 2 * i, text[i]);
  }
  // An MSDA block whose first stream (at 52) is a pad of padLength bytes; returns where
  // the stream after the pad begins.
  size_t Msda(size_t at, unsigned long long padLength, const char* padId = "APAD") {
    Put(at, "MSDA");
    Put16(at + 8, 52);
    Put(at + 52, padId);
    Put64(at + 52 + 8, padLength);
    return at + 52 + 22 + size_t(padLength);
  }
  // An MQDA stream header declaring length; gives the position of its first data byte.
  size_t Mqda(size_t at, unsigned long long length, unsigned mediaAttributes = 0) {
    Put(at, "MQDA");
    Put16(at + 6, mediaAttributes);
    Put64(at + 8, length);
    return at + 24;
  }
  // A data stream of pages pages; every page starts with its number.
  size_t Data(size_t at, int pages) {
    size_t data = Mqda(at, 2 + (unsigned long long)pages * kPage);
    for (int p = 0; p < pages; ++p) Put32(data + size_t(p) * kPage, unsigned(p));
    Extend(data + size_t(pages) * kPage);
    return data;
  }
};

void Read(CBackupReader& reader, const Tape& tape) {
  reader.ReadDataSets(reinterpret_cast<const BYTE*>(tape.bytes.data()), tape.bytes.size());
}

struct SetWant {
  int type, first, last, pages, base;
};
void ExpectSet(const CBackupReader& reader, int number, const SetWant& want) {
  SCOPED_TRACE(number);
  CBackupSet* set = reader.GetSet(number);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->m_nBackupType, want.type);
  EXPECT_EQ(set->m_nFirstPage, want.first);
  EXPECT_EQ(set->m_nLastPage, want.last);
  EXPECT_EQ(set->m_nPages, want.pages);
  EXPECT_EQ(set->m_nBaseStream, want.base);
}

// Properties every walk must keep, whatever the input.
void ExpectConsistent(const CBackupReader& reader, UINT64 size) {
  ASSERT_EQ(reader.m_mapSets.GetCount(), reader.m_nStreamCount);
  UINT64 total = 0, lastEnd = 0;
  for (int i = 1; i <= reader.m_nStreamCount; ++i) {
    CBackupSet* set = reader.GetSet(i);
    ASSERT_NE(set, nullptr) << i;
    ASSERT_NE(set->m_pStream, nullptr) << i;
    const DataStreamInfo& s = *set->m_pStream;
    EXPECT_GE(s.nOffset, lastEnd) << i;  // streams follow one another, never overlap
    EXPECT_LE(s.nOffset + s.nLength, size) << i;
    EXPECT_GT(s.nLength, 0u) << i;
    EXPECT_EQ(s.nLogicalEnd - s.nLogicalStart, s.nLength) << i;
    lastEnd = s.nOffset + s.nLength;
    total += s.nLength;
  }
  EXPECT_EQ(reader.m_nDataBytes, total);
}

}  // namespace

TEST(BackupReader, OneFullSet) {
  ModuleFolderScope scope;
  Tape tape;
  // Two units with a high byte: only the low bytes are kept.
  tape.Sset(0, 4, 7, u"Nw-Full \u00e9\u0107");
  size_t stream = tape.Msda(1024, 100);
  size_t data = tape.Data(stream, 3);
  tape.Extend(data + 3 * kPage + 100);  // a tail shorter than a page

  CBackupReader reader;
  Read(reader, tape);
  EXPECT_EQ(reader.m_nStreamCount, 1);
  EXPECT_EQ(reader.m_nSetCount, 1);
  ExpectSet(reader, 1, {1, 0, 2, 3, 0});
  CBackupSet* set = reader.GetSet(1);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->m_nPosition, 0u);
  EXPECT_EQ(set->m_wSetNumber, 7);
  EXPECT_EQ(set->m_pszName.str(), "Nw-Full \xC3\xA9\xC4\x87");  // é and U+0107 whole
  EXPECT_EQ(set->m_pszUser, "tester");
  EXPECT_EQ(set->m_pszPassword, "");  // no tape address: reads as empty, never null
  EXPECT_STREQ(static_cast<const char*>(set->m_pszPassword), "");
  EXPECT_EQ(set->m_tmWritten.wYear, 2008);
  EXPECT_EQ(set->m_tmWritten.wMonth, 12);
  EXPECT_EQ(set->m_tmWritten.wDay, 9);
  EXPECT_EQ(set->m_tmWritten.wHour, 8);
  EXPECT_EQ(set->m_tmWritten.wMinute, 5);
  EXPECT_EQ(set->m_tmWritten.wSecond, 3);
  EXPECT_EQ(set->m_tmWritten.wDayOfWeek, 0);
  ASSERT_NE(set->m_pStream, nullptr);
  EXPECT_EQ(set->m_pStream->nOffset, data);
  EXPECT_EQ(set->m_pStream->nOffset, 1024u + 52 + 22 + 100 + 24);
  EXPECT_EQ(set->m_pStream->nLength, 3 * kPage);
  EXPECT_EQ(set->m_pStream->nLogicalStart, 0u);
  EXPECT_EQ(set->m_pStream->nLogicalEnd, 3 * kPage);
  EXPECT_EQ(set->m_pStream->pNext, nullptr);
  EXPECT_EQ(reader.m_nDataBytes, 3 * kPage);
  EXPECT_EQ(reader.m_pFile, nullptr);
  EXPECT_EQ(scope.ReadExecLog(), kFoundLine);
}

TEST(BackupReader, FullThenDifferential) {
  ModuleFolderScope scope;
  Tape tape;
  tape.Sset(0, 4, 1, u"full");
  size_t first = tape.Data(tape.Msda(1024, 100), 5);
  size_t second = first + 5 * kPage + 512;
  tape.Sset(second, 8, 2, u"diff");
  size_t diff = tape.Data(tape.Msda(second + 1024, 200), 3);
  tape.Extend(diff + 3 * kPage + kPage);

  CBackupReader reader;
  Read(reader, tape);
  ASSERT_EQ(reader.m_nStreamCount, 2);
  ExpectSet(reader, 1, {1, 0, 4, 5, 0});
  // The differential continues the numbering; its last page is one short of its stream.
  ExpectSet(reader, 2, {2, 5, 5 + 3 - 2, 5 + 3, 1});
  EXPECT_EQ(reader.GetSet(2)->m_pszName, "diff");
  EXPECT_EQ(reader.GetSet(2)->m_pStream->nOffset, diff);
  EXPECT_EQ(reader.GetSet(2)->m_pStream->nLogicalStart, 5 * kPage);
  EXPECT_EQ(reader.m_nDataBytes, 8 * kPage);
  EXPECT_EQ(reader.m_nFullStream, 1);
  EXPECT_EQ(reader.GetSet(3), nullptr);
  EXPECT_EQ(scope.ReadExecLog(), kFoundLine + kFoundLine);
}

TEST(BackupReader, PadLengths) {
  // Every case places the data stream where the pad says it is. A descriptor that leads
  // to no stream (pad 0 or 1024, a pad too long) is followed by the search, so no case
  // loses the set.
  struct Case {
    unsigned long long pad;
    std::string log;
  };
  const Case cases[] = {
      {0, kFoundLine},
      {100, kFoundLine},
      {1023, kFoundLine},
      {1024, kFoundLine},
      {1025, Line("APAD Stream length :") + Line("401")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pad);
    ModuleFolderScope scope;
    Tape tape;
    tape.Sset(0, 4, 1, u"s");
    size_t data = tape.Data(tape.Msda(512, c.pad), 2);
    CBackupReader reader;
    Read(reader, tape);
    ASSERT_EQ(reader.m_nStreamCount, 1);
    EXPECT_EQ(reader.GetSet(1)->m_pStream->nOffset, data);
    EXPECT_EQ(reader.GetSet(1)->m_nLastPage, 1);
    EXPECT_EQ(scope.ReadExecLog(), c.log);
  }
}

TEST(BackupReader, DescriptorFailuresFallBackToTheStreamSearch) {
  ModuleFolderScope scope;
  Tape tape;
  tape.Sset(0, 4, 1, u"two streams");
  tape.Msda(512, 100, "XPAD");  // not a pad: the search takes over
  size_t a = tape.Data(2048, 2);
  size_t b = tape.Data(a + 2 * kPage, 3);
  size_t refused = b + 3 * kPage;
  tape.Mqda(refused, 2 + kPage, 4);  // media attribute 4 refuses the stream and ends the search
  tape.Data(refused + 1024, 1);      // so this one is never recorded

  CBackupReader reader;
  Read(reader, tape);
  ASSERT_EQ(reader.m_nStreamCount, 2);
  // One set with two streams: two entries, each with its own stream and pages.
  CBackupSet* first = reader.GetSet(1);
  CBackupSet* second = reader.GetSet(2);
  ASSERT_NE(first, second);
  EXPECT_EQ(first->m_pStream->nOffset, a);
  EXPECT_EQ(second->m_pStream->nOffset, b);
  ExpectSet(reader, 1, {1, 0, 1, 2, 0});
  ExpectSet(reader, 2, {1, 0, 2, 3, 0});
  EXPECT_EQ(second->m_pszName, "two streams");
  EXPECT_EQ(second->m_nPosition, 0u);
  EXPECT_EQ(reader.m_nSetCount, 1);
  EXPECT_EQ(scope.ReadExecLog(), Line("Norm Scan APAD not found") + Line("44415058"));
}

TEST(BackupReader, StreamHeadersOutsideTheirWindow) {
  struct Case {
    const char* what;
    unsigned firstStream;
    unsigned long long pad;
    std::string log;
  };
  const Case cases[] = {
      {"pad header past the window", 0xFFF0, 100, Line("Norm Scan APAD not found")},
      {"data header past the window", 7200, 1000, Line("Norm Scan APAD not found")},
      {"no first stream", 0, 100, Line("First Stream Offset:")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleFolderScope scope;
    Tape tape;
    tape.Sset(0, 4, 1, u"s");
    tape.Put(512, "MSDA");
    tape.Put16(512 + 8, c.firstStream);
    if (c.firstStream != 0 && c.firstStream + 22 <= kPage) {
      tape.Put(512 + c.firstStream, "APAD");
      tape.Put64(512 + c.firstStream + 8, c.pad);
    }
    // The data stream lies where the pad ends, beyond the descriptor's window: only the
    // search finds it.
    size_t data = tape.Data(512 + 7200 + 22 + 1000, 2);
    CBackupReader reader;
    Read(reader, tape);
    ASSERT_EQ(reader.m_nStreamCount, 1);
    EXPECT_EQ(reader.GetSet(1)->m_pStream->nOffset, data);
    EXPECT_EQ(scope.ReadExecLog(), c.log);
  }
}

TEST(BackupReader, BlockSearchWindows) {
  ModuleFolderScope scope;
  {
    // An SSET across the first window border is found.
    Tape tape;
    tape.Sset(kPage - 2, 4, 1, u"straddles");
    size_t data = tape.Data(tape.Msda(kPage - 2 + 1024, 100), 2);
    CBackupReader reader;
    Read(reader, tape);
    ASSERT_EQ(reader.m_nStreamCount, 1);
    EXPECT_EQ(reader.GetSet(1)->m_nPosition, kPage - 2);
    EXPECT_EQ(reader.GetSet(1)->m_pStream->nOffset, data);
  }
  {
    // A set in the last part of the file that fills no whole window is not searched.
    Tape tape;
    tape.Extend(kPage + 4000);
    tape.Sset(kPage + 100, 4, 1, u"tail");
    tape.Msda(kPage + 1000, 100);
    tape.Extend(kPage + 4000);
    CBackupReader reader;
    Read(reader, tape);
    EXPECT_EQ(reader.m_nSetCount, 0);
  }
  {
    // An SSET with block attributes ends the walk; the valid set after it is not read.
    Tape tape;
    tape.Sset(0, 4, 1, u"bad");
    tape.Put32(4, 1);
    tape.Sset(4096, 4, 2, u"good");
    tape.Data(tape.Msda(4096 + 1024, 100), 2);
    CBackupReader reader;
    Read(reader, tape);
    EXPECT_EQ(reader.m_nSetCount, 0);
    EXPECT_EQ(reader.m_nStreamCount, 0);
  }
}

TEST(BackupReader, DeclaredLengthsAreClampedToTheFile) {
  // A length from the file can neither make the walk run backwards or forever nor record
  // data the file does not hold.
  struct Case {
    const char* what;
    unsigned long long declared;
    size_t fileTail;  // bytes after the data position
    unsigned long long recorded;  // 0: nothing
  };
  const Case cases[] = {
      {"wraps the 64-bit position", ~0ULL, 5 * kPage, 5 * kPage},
      {"longer than the file", 2 + 100 * kPage, 5 * kPage + 7, 5 * kPage + 7},
      {"ends inside the file", 2 + 2 * kPage, 5 * kPage, 2 * kPage},
      {"file ends at the data", 2 + kPage, 0, 0},
      {"one byte", 3, 5 * kPage, 0},
      {"zero", 0, 5 * kPage, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleFolderScope scope;
    Tape tape;
    tape.Sset(0, 4, 1, u"s");
    // The descriptor ends the first whole window the search reads after the set, so the
    // file may end right after the stream header.
    size_t header = tape.Msda(94 + kPage - 4, 100);
    size_t data = tape.Mqda(header, c.declared);
    tape.bytes.resize(data + c.fileTail);
    auto start = std::chrono::steady_clock::now();
    CBackupReader reader;
    Read(reader, tape);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ExpectConsistent(reader, tape.bytes.size());
    if (c.recorded == 0) {
      EXPECT_EQ(reader.m_nStreamCount, 0);
    } else {
      ASSERT_EQ(reader.m_nStreamCount, 1);
      EXPECT_EQ(reader.GetSet(1)->m_pStream->nLength, c.recorded);
      EXPECT_EQ(reader.GetSet(1)->m_nPages, int(c.recorded / kPage));
    }
  }
}

TEST(BackupReader, StreamBeyondFourGigabytes) {
  ModuleFolderScope scope;
  TempDir dir;
  std::string path = dir.file("big.bak");
  // Set 1's stream is longer than 4 GiB, so set 2 and its stream lie beyond 4 GiB.
  const unsigned long long big = (5ULL << 30) + 3 * kPage;
  Tape head;
  head.Sset(0, 4, 1, u"big");
  size_t data1 = head.Mqda(head.Msda(512, 100), 2 + big);
  const unsigned long long second = data1 + big + 4096;
  Tape tail;  // set 2, laid out from offset 0 and written at `second`
  tail.Sset(0, 4, 2, u"beyond");
  size_t data2 = tail.Data(tail.Msda(1024, 100), 2);
  const unsigned long long size = second + data2 + 2 * kPage;

  int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  bool ok = ::ftruncate(fd, off_t(size)) == 0 &&
            ::pwrite(fd, head.bytes.data(), head.bytes.size(), 0) == ssize_t(head.bytes.size()) &&
            ::pwrite(fd, tail.bytes.data(), tail.bytes.size(), off_t(second)) == ssize_t(tail.bytes.size());
  ::close(fd);
  if (!ok) GTEST_SKIP() << "no sparse file of 5 GiB here";

  CBackupReader reader;
  reader.ReadDataSets(path.c_str());
  ASSERT_EQ(reader.m_nStreamCount, 2);
  EXPECT_EQ(reader.GetSet(1)->m_pStream->nLength, big);
  EXPECT_EQ(reader.GetSet(1)->m_nPages, int(big / kPage));
  CBackupSet* set = reader.GetSet(2);
  EXPECT_EQ(set->m_nPosition, second);
  EXPECT_EQ(set->m_pszName, "beyond");
  EXPECT_EQ(set->m_pStream->nOffset, second + data2);
  EXPECT_EQ(set->m_pStream->nLength, 2 * kPage);
  EXPECT_EQ(reader.m_nDataBytes, big + 2 * kPage);
}

TEST(BackupReader, UnopenablePath) {
  ModuleFolderScope scope;
  TempDir dir;
  for (std::string path : {dir.file("missing.bak"), dir.path()}) {
    CBackupReader reader;
    reader.ReadDataSets(path.c_str());
    EXPECT_EQ(reader.m_nStreamCount, 0);
    EXPECT_TRUE(reader.m_mapSets.IsEmpty());
  }
  CBackupReader reader;
  reader.ReadDataSets(static_cast<const char*>(nullptr));
  EXPECT_EQ(scope.ReadExecLog(), Line("Error in opening a file") + Line("Error in opening a file") +
                                     Line("Error in opening a file"));
}

TEST(BackupReader, LogValueLines) {
  ModuleFolderScope scope;
  CBackupReader::LogValue("zero", 0);
  CBackupReader::LogValue("small", 0xABC);
  CBackupReader::LogValue("edge", 0x80000000ULL);
  CBackupReader::LogValue("wide", 0x80000001ULL);
  CBackupReader::LogValue("huge", 0x1234567890ULL);
  EXPECT_EQ(scope.ReadExecLog(), Line("zero") + Line("small") + Line("abc") + Line("edge") + Line("80000000") +
                                     Line("wide") + Line("8 byte Value") + Line("80000001") + Line("0") +
                                     Line("huge") + Line("8 byte Value") + Line("34567890") + Line("12"));
}

// ---- real backups

namespace {
struct FixtureSet {
  const char* name;
  const char* user;
  int type;
  int year, month, day, hour, minute, second;
};
struct FixtureBackup {
  const char* file;
  bool pagesAtStream;  // 2005-2008 R2: page 0 of the database starts the stream
  std::vector<FixtureSet> sets;
};

const std::vector<FixtureBackup>& FixtureBackups() {
  static const std::vector<FixtureBackup> all = {
      {"bak2005_northwind_gabrujo.bak", true,
       {{"Northwind-Full Database Backup", "PICO2\\Administrator", 1, 2012, 11, 27, 15, 21, 47}}},
      {"bak2005_northwnd_mina.bak", true,
       {{"NORTHWND-Full Database Backup", "TRIGYN\\Binoj.Antony", 1, 2011, 8, 10, 19, 46, 56}}},
      {"bak2005_stdb2sql_2sets.bak", true,
       {{"StDb2SQL-Full Database Backup", "PICO2\\Administrator", 1, 2009, 8, 11, 14, 57, 39},
        {"StDb2SQL-Full Database Backup", "PICO2\\Administrator", 1, 2010, 12, 2, 23, 8, 33}}},
      {"bak2008_library_small.bak", true,
       {{"Library-Full Database Backup", "TARDIS-CONSOLE\\John_Smith", 1, 2016, 12, 12, 18, 42, 50}}},
      {"bak2008_northwind_512blk.bak", true,
       {{"Northwind-Full Database Backup", "CHELYABINSK\\evgenye", 1, 2014, 9, 3, 16, 8, 43}}},
      {"bak2008_northwind_thuyluv.bak", true,
       {{"Northwind-Full Database Backup", "sa", 1, 2021, 4, 28, 19, 55, 38}}},
      {"bak2008r2_entrepot_fr.bak", true,
       {{"Entrepot-Compl\xC3\xA8te Base de donn\xC3\xA9" "es Sauvegarde", "G264-14\\Usager", 1, 2015, 2, 19, 11, 49, 49}}},
      {"bak2008r2_northwind_victor.bak", true,
       {{"Northwind-Full Database Backup", "I301-40\\Almno", 1, 2015, 2, 5, 21, 35, 33}}},
      {"bak2012_diff_6sets_2dbs.bak", false,
       {{"", "sa", 2, 2021, 7, 31, 9, 49, 39},
        {"", "sa", 2, 2021, 7, 31, 9, 50, 4},
        {"", "sa", 2, 2021, 7, 31, 9, 51, 36},
        {"", "sa", 2, 2021, 7, 31, 9, 55, 43},
        {"", "sa", 2, 2021, 7, 31, 10, 1, 13},
        {"", "sa", 2, 2021, 7, 31, 10, 7, 28}}},
      // Its pad is longer than 1024 bytes: the stream search finds the data.
      {"bak2014_northwind_noboot.bak", false,
       {{"Northwind-Full Database Backup", "LENOVO\\Astrit", 1, 2024, 12, 9, 18, 58, 10}}},
      // Compressed: no tape blocks at all.
      {"bak_compressed_northwind.bak", false, {}},
  };
  return all;
}
}  // namespace

TEST(BackupReaderFixtures, SetsOfEveryBackup) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  ModuleFolderScope scope;
  for (const FixtureBackup& b : FixtureBackups()) {
    SCOPED_TRACE(b.file);
    REQUIRE_FIXTURE(path, b.file);
    CBackupReader reader;
    reader.ReadDataSets(path.c_str());
    ASSERT_EQ(reader.m_nStreamCount, int(b.sets.size()));
    ExpectConsistent(reader, std::filesystem::file_size(path));
    for (size_t i = 0; i < b.sets.size(); ++i) {
      SCOPED_TRACE(i + 1);
      const FixtureSet& want = b.sets[i];
      CBackupSet* set = reader.GetSet(int(i + 1));
      ASSERT_NE(set, nullptr);
      EXPECT_EQ(set->m_pszName.str(), want.name);
      EXPECT_EQ(set->m_pszUser.str(), want.user);
      EXPECT_EQ(set->m_nBackupType, want.type);
      EXPECT_EQ(set->m_tmWritten.wYear, want.year);
      EXPECT_EQ(set->m_tmWritten.wMonth, want.month);
      EXPECT_EQ(set->m_tmWritten.wDay, want.day);
      EXPECT_EQ(set->m_tmWritten.wHour, want.hour);
      EXPECT_EQ(set->m_tmWritten.wMinute, want.minute);
      EXPECT_EQ(set->m_tmWritten.wSecond, want.second);
      if (want.type == 1) EXPECT_EQ(set->m_nPages, int(set->m_pStream->nLength / kPage));
      else EXPECT_EQ(set->m_nBaseStream, 0);  // no full backup in the file
      if (!b.pagesAtStream) continue;
      // The recorded data position is the first byte of page 0, and the boot page lies
      // nine pages further on.
      std::vector<std::uint8_t> page = testsupport::ReadPageAt(path, set->m_pStream->nOffset);
      ASSERT_EQ(page.size(), kPage);
      EXPECT_EQ(page[1], 15);
      EXPECT_EQ(page[32] | page[33] << 8 | page[34] << 16 | page[35] << 24, 0);
      page = testsupport::ReadPageAt(path, set->m_pStream->nOffset + 9 * kPage);
      ASSERT_EQ(page.size(), kPage);
      EXPECT_EQ(page[1], 13);
      EXPECT_EQ(page[32], 9);
    }
  }
}

TEST(BackupReaderFixtures, DamagedCopiesOfEveryBackup) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  ModuleFolderScope scope;
  // Without its folder the log writes nothing: this test is about the walk, not the log.
  std::filesystem::remove_all(scope.path() + "/Log Files");
  auto started = std::chrono::steady_clock::now();
  for (const FixtureBackup& b : FixtureBackups()) {
    SCOPED_TRACE(b.file);
    REQUIRE_FIXTURE(path, b.file);
    std::string image = ReadFile(path);
    auto* bytes = reinterpret_cast<BYTE*>(image.data());
    CBackupReader whole;
    whole.ReadDataSets(bytes, image.size());

    // Cut at every 512-byte boundary: a set whose data begins before the cut keeps its
    // place, with the stream ending at the cut.
    for (size_t cut = 0; cut < image.size(); cut += 512) {
      CBackupReader reader;
      reader.ReadDataSets(bytes, cut);
      ExpectConsistent(reader, cut);
      if (whole.m_nStreamCount > 0) {
        const DataStreamInfo& full = *whole.GetSet(1)->m_pStream;
        if (cut >= full.nOffset + 2 * kPage) {
          ASSERT_GE(reader.m_nStreamCount, 1) << cut;
          EXPECT_EQ(reader.GetSet(1)->m_pStream->nOffset, full.nOffset) << cut;
          EXPECT_EQ(reader.GetSet(1)->m_pStream->nLength, std::min<UINT64>(full.nLength, cut - full.nOffset))
              << cut;
        }
      }
    }

    // Random bytes overwritten, mostly in the block headers at the start, each near the
    // end of a set, and elsewhere; every image is restored after its walk.
    std::mt19937 random(20240611u + unsigned(image.size()));
    for (int round = 0; round < 150; ++round) {
      std::vector<std::pair<size_t, char>> saved;
      int count = 1 + int(random() % 8);
      for (int k = 0; k < count; ++k) {
        size_t at;
        switch (random() % 3) {
          case 0: at = random() % std::min<size_t>(image.size(), 20000); break;
          case 1: at = image.size() - 1 - random() % std::min<size_t>(image.size(), 120000); break;
          default: at = random() % image.size(); break;
        }
        saved.emplace_back(at, image[at]);
        image[at] = char(random());
      }
      CBackupReader reader;
      reader.ReadDataSets(bytes, image.size());
      ExpectConsistent(reader, image.size());
      for (auto it = saved.rbegin(); it != saved.rend(); ++it) image[it->first] = it->second;
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::minutes(2));
}

// A set name beyond Latin-1 comes out whole: Chinese holding U+4E00, whose low byte is zero,
// and Cyrillic, in a copy of a visible backup with only its set name rewritten.
TEST(BackupReaderFixtures, SetNamesBeyondLatin1AreWhole) {
  ModuleFolderScope scope;
  TempDir dir;
  for (const testsupport::RenamedSet& renamed : testsupport::kRenamedSets) {
    const std::string copy = dir.file("renamed.bak");
    if (!testsupport::WriteRenamedSetBackup(copy, renamed.stored)) GTEST_SKIP() << "fixture not available";
    CBackupReader reader;
    reader.ReadDataSets(copy.c_str());
    ASSERT_EQ(reader.m_nSetCount, 1);
    EXPECT_EQ(reader.GetSet(1)->m_pszName.str(), renamed.utf8);
    EXPECT_EQ(reader.GetSet(1)->m_pszUser.str(), "TARDIS-CONSOLE\\John_Smith");
  }
}
