// Damaged backups end to end: a bounded sample of the full run (tests/damaged/run-full.sh)
// over every 2005 to 2008 R2 fixture and the SQL Server 2000 data files. Each case is scanned, every table previewed and the
// whole database exported with rows; none may crash, hang or read outside its buffers (the
// sanitizer build checks the last), and preview and export must agree on every table's rows.
#include <gtest/gtest.h>

#include <string>

#include "damaged/damagedcase.h"
#include "support/fixtures.h"

namespace {

std::string FixtureTestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(0, info.param.find('.'));
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class DamagedBackup : public ::testing::TestWithParam<std::string> {};

TEST_P(DamagedBackup, TruncatedAndMutatedCopiesRunEndToEnd) {
  REQUIRE_FIXTURE(path, GetParam());
  testsupport::TempDir dir;
  damaged::SilenceLogs(dir.path());
  const damaged::Bytes file = damaged::ReadBytes(path);
  ASSERT_GT(file.size(), 64u * 1024);
  const size_t blocks = file.size() / 512;
  // The empty file, cuts inside the tape headers and the first pages, cuts spread over the
  // data stream, and the last block missing.
  std::vector<size_t> cuts = {0, 1, 3, 8, 17, 24, 33, 50, 100};
  for (int k = 1; k <= 3; ++k) cuts.push_back(blocks * size_t(k) / 4);
  cuts.push_back(blocks - 1);
  for (size_t cut : cuts) {
    const std::string label = GetParam() + " truncate " + std::to_string(cut);
    const damaged::CaseResult r = damaged::RunCase(damaged::Truncated(file, cut * 512), dir.path(), label);
    EXPECT_TRUE(r.disagreements.empty()) << label << ": " << r.disagreements.front();
  }
  // The whole file still recovers its catalog and rows: the sample measures something.
  const damaged::CaseResult whole = damaged::RunCase(file, dir.path(), GetParam() + " whole");
  EXPECT_TRUE(whole.scanned);
  EXPECT_GT(whole.tables, 0);
  EXPECT_GT(whole.previewRows, 0);
  EXPECT_TRUE(whole.disagreements.empty()) << whole.disagreements.front();
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    const std::string label = GetParam() + " mutate " + std::to_string(seed);
    const damaged::CaseResult r = damaged::RunCase(damaged::Mutant(file, seed), dir.path(), label);
    EXPECT_TRUE(r.disagreements.empty()) << label << ": " << r.disagreements.front();
  }
  // Each kind of page damage twice; a damaged page never adds a table.
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    const std::string label = GetParam() + " page damage " + std::to_string(seed);
    const damaged::CaseResult r = damaged::RunCase(damaged::PageDamage(file, seed), dir.path(), label);
    EXPECT_TRUE(r.scanned) << label;
    EXPECT_LE(r.tables, whole.tables) << label;
    EXPECT_TRUE(r.disagreements.empty()) << label << ": " << r.disagreements.front();
  }
}

// SQL Server 2000 data files: the 2000 engine scans, previews and exports each copy. Cuts
// inside the boot page and the system tables, spread over the data pages, and the last block
// missing; then seeded mutants.
class Damaged2000File : public ::testing::TestWithParam<std::string> {};

TEST_P(Damaged2000File, TruncatedAndMutatedCopiesRunEndToEnd) {
  REQUIRE_FIXTURE(path, GetParam());
  testsupport::TempDir dir;
  damaged::SilenceLogs(dir.path());
  const damaged::Bytes file = damaged::ReadBytes(path);
  ASSERT_GT(file.size(), 64u * 8192);
  const size_t blocks = file.size() / 512;
  std::vector<size_t> cuts = {0, 1, 16, 17, 73, 145, 160, 161, 200};
  for (int k = 1; k <= 3; ++k) cuts.push_back(blocks * size_t(k) / 4 + size_t(k));
  cuts.push_back(blocks - 1);
  long long exported = 0;
  for (size_t cut : cuts) {
    const std::string label = GetParam() + " truncate " + std::to_string(cut);
    exported += damaged::RunCase2000(damaged::Truncated(file, cut * 512), dir.path(), label).exportedRows;
  }
  // Copies cut late keep most of their rows.
  EXPECT_GT(exported, 0);
  const damaged::CaseResult whole = damaged::RunCase2000(file, dir.path(), GetParam() + " whole");
  EXPECT_TRUE(whole.scanned);
  EXPECT_GT(whole.tables, 10);
  EXPECT_EQ(whole.previewRows, whole.exportedRows);
  EXPECT_GT(whole.exportedRows, 250);
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    const std::string label = GetParam() + " mutate " + std::to_string(seed);
    EXPECT_TRUE(damaged::RunCase2000(damaged::Mutant(file, seed), dir.path(), label).scanned) << label;
  }
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    const std::string label = GetParam() + " page damage " + std::to_string(seed);
    const damaged::CaseResult r = damaged::RunCase2000(damaged::PageDamage(file, seed), dir.path(), label);
    EXPECT_TRUE(r.scanned) << label;
    EXPECT_LE(r.tables, whole.tables) << label;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Damaged2000File, ::testing::ValuesIn(damaged::DataFile2000Fixtures()),
                         FixtureTestName);

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedBackup, ::testing::ValuesIn(damaged::BackupFixtures()),
                         FixtureTestName);

}  // namespace
