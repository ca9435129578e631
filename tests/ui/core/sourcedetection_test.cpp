// What Load finds out about a file before any engine is made: the version of every real
// fixture, the files it refuses with their reason, and the question a contrary choice asks.
#include "ui/core/sourcedetection.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "support/fixtures.h"

namespace {

using uicore::DetectSource;
using uicore::SourceFacts;

TEST(SourceDetection, EveryFixtureSaysItsVersion) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  struct Case {
    const char* file;
    int engine;  // 0: refused
    const char* holds;
  } cases[] = {
      {"sample2000_NORTHWND.MDF", 1, "a SQL Server 2000 database (version 539)"},
      {"sql2000data_model.mdf", 1, "a SQL Server 2000 database (version 539)"},
      {"bak2005_stdb2sql_2sets.bak", 2, "a SQL Server 2005 database (version 611)"},
      {"mdf2005_pubs_upg2000.mdf", 2, "a SQL Server 2005 database (version 611)"},
      {"mdf2005pre_database_sp_v590.mdf", 2, "a pre-release SQL Server 2005 database (version 590)"},
      {"mdf2005pre_prosseappsch07_v607.mdf", 2, "a pre-release SQL Server 2005 database (version 607)"},
      {"bak2008_library_small.bak", 3, "a SQL Server 2008 database (version 655)"},
      {"mdf2008_qlsinhvien.mdf", 3, "a SQL Server 2008 database (version 655)"},
      {"bak2008r2_northwind_victor.bak", 3, "a SQL Server 2008 R2 database (version 661)"},
      {"mdf2008r2_northwnd_upg2000.mdf", 3, "a SQL Server 2008 R2 database (version 661)"},
      // Newer than the engines read: the boot page, or with the boot page missing the set's
      // software version, says so.
      {"bak2012_diff_6sets_2dbs.bak", 0, "a SQL Server 2012 database (version 706)"},
      {"bak2014_northwind_noboot.bak", 0, "a SQL Server 2014 database (backup software version 12.0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = testsupport::FixturePath(c.file);
    const SourceFacts facts = DetectSource(path);
    EXPECT_EQ(facts.engine, c.engine);
    EXPECT_EQ(facts.holds, c.holds);
    EXPECT_EQ(facts.Loadable(), c.engine != 0) << facts.failure;
    EXPECT_FALSE(facts.Truncated());
    if (c.engine == 0) {
      EXPECT_EQ(facts.failure.rfind(path, 0), 0u);
      EXPECT_NE(facts.failure.find("not supported"), std::string::npos) << facts.failure;
    }
  }
  const SourceFacts twelve = DetectSource(testsupport::FixturePath("bak2012_diff_6sets_2dbs.bak"));
  EXPECT_EQ(twelve.softwareMajor, 11);
  EXPECT_EQ(twelve.sets, 6);
  const SourceFacts compressed = DetectSource(testsupport::FixturePath("bak_compressed_northwind.bak"));
  EXPECT_TRUE(compressed.compressed);
  EXPECT_NE(compressed.failure.find("is a compressed backup, which is not supported"), std::string::npos);
}

TEST(SourceDetection, FilesThatCannotBeLoadedSayWhy) {
  testsupport::TempDir dir;
  std::string boot(12 * 8192, '\0');
  boot[9 * 8192 + 1] = 13;  // page type: boot
  boot[9 * 8192 + 32] = 9;  // page id 9
  boot[9 * 8192 + 100] = char(0x8f);  // on-disk version 655
  boot[9 * 8192 + 101] = 2;
  std::string tape = "TAPE" + std::string(8188, '\0');
  const std::string fifo = dir.file("pipe.bak");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string bytes;  // written unless the name is a folder, a pipe or missing
    const char* says;
  } cases[] = {
      {"missing.bak", "", " cannot be opened: No such file or directory."},
      {"sub", "", " is a folder, not a file."},
      {"pipe.bak", "", " is a named pipe (FIFO), not a file."},
      {"empty.bak", "", " is empty."},
      {"notes.txt", "just some text\n", " is not a SQL Server backup or database file."},
      {"notes.bak", "just some text\n", " is not a SQL Server backup: it has no tape header."},
      {"tape.bak", tape, " holds no backup set."},
      {"tape.mdf", tape, " is a backup, not a database file: load it under a name that ends in .bak."},
      {"squeezed.bak", "MSSQLBAK" + std::string(100, '\1'),
       " is a compressed backup, which is not supported: only uncompressed backups can be recovered."},
  };
  ::mkdir(dir.file("sub").c_str(), 0700);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    if (std::string(c.name) != "missing.bak" && std::string(c.name) != "sub" && std::string(c.name) != "pipe.bak")
      testsupport::WriteFile(path, c.bytes);
    const SourceFacts facts = DetectSource(path);
    EXPECT_EQ(facts.failure, path + c.says);
    EXPECT_EQ(facts.engine, 0);
  }

  // The same boot page under a database file's name loads, and says what it holds.
  testsupport::WriteFile(dir.file("database.mdf"), boot);
  const SourceFacts plain = DetectSource(dir.file("database.mdf"));
  EXPECT_TRUE(plain.Loadable()) << plain.failure;
  EXPECT_EQ(plain.engine, 3);
  EXPECT_EQ(plain.pagesHeld, 12u);
  // Named ".bak", the same file is still a database file, read as one.
  testsupport::WriteFile(dir.file("database.bak"), boot);
  const SourceFacts misnamed = DetectSource(dir.file("database.bak"));
  EXPECT_TRUE(misnamed.Loadable()) << misnamed.failure;
  EXPECT_FALSE(misnamed.backup);
  EXPECT_EQ(misnamed.engine, 3);
  EXPECT_TRUE(uicore::ReadAsDatabaseFile(dir.file("database.bak")));
  testsupport::WriteFile(dir.file("tape.bak"), tape);
  EXPECT_FALSE(uicore::ReadAsDatabaseFile(dir.file("tape.bak")));
  // Cut inside its last page: the part page is counted as missing.
  testsupport::WriteFile(dir.file("cut.mdf"), boot.substr(0, boot.size() - 100));
  const SourceFacts cut = DetectSource(dir.file("cut.mdf"));
  EXPECT_TRUE(cut.Loadable());
  EXPECT_EQ(cut.pagesHeld, 11u);
  EXPECT_EQ(cut.pagesDeclared, 12u);
}

TEST(SourceDetection, AContraryChoiceAsksNamingWhatTheFileSays) {
  SourceFacts facts;
  facts.backup = true;
  facts.engine = 3;
  facts.holds = "a SQL Server 2008 database (version 655)";
  EXPECT_EQ(uicore::ContraryChoiceQuestion(facts, 1),
            "This backup holds a SQL Server 2008 database (version 655). Read it as SQL Server 2000?");
  // The 2005 and 2008 choices read the same files: no question between them.
  EXPECT_EQ(uicore::ContraryChoiceQuestion(facts, 2), "");
  EXPECT_EQ(uicore::ContraryChoiceQuestion(facts, 3), "");
  facts.backup = false;
  facts.engine = 1;
  facts.holds = "a SQL Server 2000 database (version 539)";
  EXPECT_EQ(uicore::ContraryChoiceQuestion(facts, 2),
            "This database file holds a SQL Server 2000 database (version 539). Read it as SQL Server 2005?");
  // A file that does not say its version asks nothing.
  EXPECT_EQ(uicore::ContraryChoiceQuestion(SourceFacts{}, 1), "");
}

TEST(SourceDetection, CutBackupsCountThePagesTheFileStillHolds) {
  REQUIRE_FIXTURE(backup, "bak2008_library_small.bak");
  const std::string whole = testsupport::ReadFile(backup);
  const SourceFacts full = DetectSource(backup);
  ASSERT_GT(full.pagesHeld, 100u);
  testsupport::TempDir dir;
  // Cut at 89 % of the file, and inside a page near the stream's end.
  for (size_t size : {whole.size() * 89 / 100, whole.size() - 200 * 1024 - 100}) {
    SCOPED_TRACE(size);
    const std::string path = dir.file("cut.bak");
    testsupport::WriteFile(path, whole.substr(0, size));
    const SourceFacts facts = DetectSource(path);
    EXPECT_TRUE(facts.Loadable()) << facts.failure;
    EXPECT_EQ(facts.engine, 3);
    EXPECT_EQ(facts.pagesDeclared, full.pagesHeld);
    EXPECT_LT(facts.pagesHeld, full.pagesHeld);
    EXPECT_TRUE(facts.Truncated());
  }
}

}  // namespace
