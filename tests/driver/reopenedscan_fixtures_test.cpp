// A scan saved and opened again exports what the scan itself exports: every visible fixture
// of both formats, exported by the program's export worker straight after the scan and after
// Save Scan and Open Scan, gives the same files byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"
#include "support/everyobject.h"
#include "support/quietexportsink.h"
#include "ui/core/exportworker.h"
#include "ui/core/openscan.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;

namespace {

// Every object of the scan into `folder`, as the program's export worker writes it.
bool ExportEverything(CSQLServer& engine, const std::string& folder) {
  uicore::ExportRequest request = testsupport::EveryObject(engine);
  request.rows = false;
  request.outputFolder = folder;
  testsupport::QuietExportSink sink;
  uicore::ExportWorker worker("");
  if (!worker.Start(engine, std::move(request), sink)) return false;
  worker.Join();
  return worker.Result().end == uicore::ExportResult::End::kFinished;
}

std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out[fs::relative(e.path(), folder).generic_string()] = ReadFile(e.path().string());
  return out;
}

}  // namespace

TEST(ReopenedScanFixtures, ExportAfterOpenScanEqualsTheExportAfterTheScan) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  testsupport::TempDir dir;
  testsupport::ModuleFolderScope module;
  const struct {
    const char* file;
    int format;
  } fixtures[] = {
      {"sample2000_NORTHWND.MDF", 2000},      {"sample2000_PUBS.MDF", 2000},
      {"bak2005_northwind_gabrujo.bak", 2005}, {"bak2005_stdb2sql_2sets.bak", 2005},
      {"mdf2005_pubs_upg2000.mdf", 2005},     {"bak2008_northwind_thuyluv.bak", 2008},
      {"bak2008_northwind_512blk.bak", 2008}, {"bak2008_library_small.bak", 2008},
      {"bak2008r2_northwind_victor.bak", 2008}, {"bak2008r2_entrepot_fr.bak", 2008},
      {"mdf2008_qlsinhvien.mdf", 2008},       {"mdf2008_pubs_itsligo.mdf", 2008},
      {"mdf2008_northwnd_itsligo.mdf", 2008},
  };
  int compared = 0;
  for (const auto& f : fixtures) {
    SCOPED_TRACE(f.file);
    const std::string path = testsupport::FixturesDir() + "/" + f.file;
    if (!fs::exists(path)) continue;
    std::unique_ptr<CSQLServer> scanned;
    if (f.format == 2000) scanned = std::make_unique<CSQLServer2000>();
    else scanned = std::make_unique<CSQLServer2008>();
    scanned->m_nFormatVersion = f.format;
    ASSERT_TRUE(testsupport::RunRecovery(*scanned, path).finished);
    const std::string scanFile = dir.file(std::string(f.file) + ".str");
    const bool saved = f.format == 2000 ? static_cast<CSQLServer2000&>(*scanned).SaveScanFile(scanFile.c_str())
                                        : static_cast<CSQLServer2008&>(*scanned).SaveScanFile(scanFile.c_str());
    ASSERT_TRUE(saved);
    const std::string direct = dir.file(std::string(f.file) + ".direct");
    ASSERT_TRUE(ExportEverything(*scanned, direct));

    uicore::OpenScanResult opened = uicore::OpenScanFile(scanFile);
    ASSERT_EQ(opened.outcome, uicore::OpenScanResult::Outcome::Loaded);
    const std::string reopened = dir.file(std::string(f.file) + ".reopened");
    ASSERT_TRUE(ExportEverything(*opened.engine, reopened));

    const auto want = Files(direct), got = Files(reopened);
    std::vector<std::string> wantNames, gotNames;
    for (const auto& e : want) wantNames.push_back(e.first);
    for (const auto& e : got) gotNames.push_back(e.first);
    ASSERT_EQ(gotNames, wantNames);
    for (const auto& [name, text] : want) EXPECT_TRUE(got.at(name) == text) << name;
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "fixtures not available";
}
