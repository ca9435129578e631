#include "damaged/damagedcase.h"

#include <atomic>
#include <chrono>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "common/backupreader.h"
#include "common/executionlog.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/fakepreview.h"
#include "support/fakeprogram.h"

namespace fs = std::filesystem;

namespace damaged {

std::vector<std::string> BackupFixtures() {
  return {"bak2005_stdb2sql_2sets.bak",   "bak2005_northwind_gabrujo.bak",  "bak2005_northwnd_mina.bak",
          "bak2008_northwind_512blk.bak", "bak2008_northwind_thuyluv.bak",  "bak2008_library_small.bak",
          "bak2008r2_northwind_victor.bak", "bak2008r2_entrepot_fr.bak"};
}

std::vector<std::string> DataFile2000Fixtures() { return {"sample2000_NORTHWND.MDF", "sample2000_PUBS.MDF"}; }

bool Is2000Fixture(const std::string& name) {
  for (const std::string& f : DataFile2000Fixtures())
    if (name.size() >= f.size() && name.compare(name.size() - f.size(), f.size(), f) == 0) return true;
  return false;
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes bytes(in ? size_t(in.tellg()) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  return bytes;
}

Bytes Truncated(const Bytes& file, size_t length) {
  return Bytes(file.begin(), file.begin() + long(std::min(length, file.size())));
}

Bytes Mutant(const Bytes& file, std::uint64_t seed) {
  Bytes out = file;
  if (out.empty()) return out;
  std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + 1);
  auto pick = [&](std::uint64_t n) { return n ? rng() % n : 0; };
  const int changes = 1 + int(pick(16));
  for (int i = 0; i < changes; ++i) {
    // A quarter of the changes hit the tape headers and the first database pages.
    const size_t span = pick(4) == 0 ? std::min<size_t>(out.size(), 96 * 1024) : out.size();
    const size_t at = size_t(pick(span));
    switch (pick(4)) {
      case 0: out[at] = std::uint8_t(rng()); break;
      case 1: out[at] ^= std::uint8_t(1u << pick(8)); break;
      case 2: {
        const size_t n = std::min<size_t>(1 + pick(64), out.size() - at);
        std::fill(out.begin() + long(at), out.begin() + long(at + n), std::uint8_t(pick(2) ? 0x00 : 0xFF));
        break;
      }
      default: {
        // A little-endian field set to an extreme value: lengths, counts, offsets, page ids.
        static const std::uint32_t kValues[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF};
        const std::uint32_t v = kValues[pick(8)];
        for (size_t k = 0; k < 4 && at + k < out.size(); ++k) out[at + k] = std::uint8_t(v >> (8 * k));
        break;
      }
    }
  }
  return out;
}

Bytes PageDamage(const Bytes& file, std::uint64_t seed) {
  Bytes out = file;
  constexpr size_t kPage = 8192;
  auto u32 = [&](size_t at) { return std::uint32_t(out[at] | out[at + 1] << 8 | out[at + 2] << 16 | std::uint32_t(out[at + 3]) << 24); };
  // Page 0: header version 1, type 15 (file header), page id 0, at a 512-byte boundary.
  size_t base = SIZE_MAX;
  for (size_t at = 0; at + kPage <= out.size() && base == SIZE_MAX; at += 512)
    if (out[at] == 1 && out[at + 1] == 15 && u32(at + 32) == 0) base = at;
  if (base == SIZE_MAX) return out;
  std::vector<size_t> data, catalog;
  for (size_t at = base; at + kPage <= out.size(); at += kPage) {
    if (out[at + 1] != 1) continue;
    data.push_back(at);
    if (u32(at + 24) < 100) catalog.push_back(at);
  }
  if (data.size() < 2) return out;
  std::mt19937_64 rng(seed * 0xD1B54A32D192ED03ull + 7);
  auto pick = [&](const std::vector<size_t>& from) { return from[rng() % from.size()]; };
  const size_t page = pick(data);
  switch (seed % 4) {
    case 0: {
      const size_t from = pick(data);
      std::copy(out.begin() + long(from), out.begin() + long(from + kPage), out.begin() + long(page));
      break;
    }
    case 1: {
      const std::uint32_t id = rng() % 2 ? u32(pick(data) + 32) : std::uint32_t(rng());
      for (int k = 0; k < 4; ++k) out[page + 32 + size_t(k)] = std::uint8_t(id >> (8 * k));
      break;
    }
    case 2:
      if (rng() % 2) {
        out[page + 22] = 0xFF;
        out[page + 23] = 0xFF;
      } else {
        for (int k = 0; k < 16; ++k) out[page + kPage - 1 - size_t(rng() % 64)] = std::uint8_t(rng());
      }
      break;
    default: {
      const size_t zeroed = catalog.empty() ? page : pick(catalog);
      std::fill(out.begin() + long(zeroed), out.begin() + long(zeroed + kPage), std::uint8_t(0));
      break;
    }
  }
  return out;
}

void SilenceLogs(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder + "/Log Files", ec);
  for (const char* name : {"ExecLog.log", "ErrorLog.log"}) {
    const fs::path link = fs::path(folder) / "Log Files" / name;
    fs::remove(link, ec);
    fs::create_symlink("/dev/null", link, ec);
  }
  SetModuleFolderOverride(folder);
  CExecutionLog::GetModuleFolder();
}

Watchdog::Watchdog(const std::string& label, unsigned seconds) : m_label(label) {
  m_thread = std::thread([this, seconds] {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
      std::fprintf(stderr, "damaged: case %s did not end within %u s\n", m_label.c_str(), seconds);
      std::fflush(stderr);
      std::abort();
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
  }
  m_cv.notify_all();
  m_thread.join();
}

namespace {

// Writes the case to `path` and scans it; the engine's tables when the scan ended.
bool ScanCase(CSQLServer& engine, const Bytes& bytes, const std::string& path, unsigned timeoutSeconds,
              CaseResult& result, std::vector<CTable*>& tables) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  testsupport::RecoveryOptions options;
  options.censusHandOverEvery = 64;
  options.timeoutMs = timeoutSeconds * 1000;
  result.scanned = testsupport::RunRecovery(engine, path, options).finished;
  if (!result.scanned) return false;
  for (const auto& e : engine.m_mapTables)
    if (e.second) tables.push_back(e.second);
  result.tables = int(tables.size());
  return true;
}

}  // namespace

namespace {

// File position of the first set's stream of a backup; 0 for a database file. SIZE_MAX when a
// backup has no readable set.
size_t FirstPageOffset(const std::string& path, bool backup, size_t* pages = nullptr) {
  if (!backup) return 0;
  CBackupReader* reader = nullptr;
  ReadBackupSets(path.c_str(), reader);
  const CBackupSet* set = reader ? reader->GetSet(1) : nullptr;
  size_t offset = SIZE_MAX;
  if (set && set->m_pStream) {
    offset = size_t(set->m_pStream->nOffset);
    if (pages) *pages = size_t(set->m_pStream->nLength / 8192);
  }
  delete reader;
  return offset;
}

// "owner.name", as the warnings name a table.
std::string QualifiedName(const CTable& table) {
  return table.m_strOwner.IsEmpty() ? table.m_strName.str() : table.m_strOwner.str() + "." + table.m_strName.str();
}

// A warning names the table when its name stands there whole ("dbo.RecoveredTab#_1" is not
// named by a warning on "dbo.RecoveredTab#_12").
bool Named(const ScanSummary& scan, const std::string& table) {
  for (const std::string& w : scan.warnings)
    for (size_t at = w.find(table); at != std::string::npos; at = w.find(table, at + 1)) {
      const size_t end = at + table.size();
      if (end == w.size() || !(std::isalnum((unsigned char)w[end]) || w[end] == '_' || w[end] == '#')) return true;
    }
  return false;
}

// A table whose name was lost can only be named by its object id ("object id 149575571"),
// as the warning on the table it comes back as does.
bool NamedById(const ScanSummary& scan, unsigned long objectId) {
  if (objectId == 0) return false;
  const std::string id = "object id " + std::to_string(objectId);
  for (const std::string& w : scan.warnings)
    for (size_t at = w.find(id); at != std::string::npos; at = w.find(id, at + 1)) {
      const size_t end = at + id.size();
      if (end == w.size() || !std::isdigit((unsigned char)w[end])) return true;
    }
  return false;
}

std::string Warnings(const ScanSummary& scan) {
  std::string all;
  for (const std::string& w : scan.warnings) all += "\n    warning: " + w;
  return all.empty() ? "\n    (no warnings)" : all;
}

}  // namespace

size_t PagePosition(const std::string& path, bool backup, size_t n) {
  const size_t base = FirstPageOffset(path, backup);
  return base == SIZE_MAX ? SIZE_MAX : base + n * 8192;
}

size_t PageCount(const std::string& path, bool backup, size_t fileSize) {
  if (!backup) return fileSize / 8192;
  size_t pages = 0;
  const size_t base = FirstPageOffset(path, backup, &pages);
  if (base == SIZE_MAX || base >= fileSize) return 0;
  return std::min(pages, (fileSize - base) / 8192);
}

ScanSummary SummarizeScan(bool format2000, bool backup, const Bytes& bytes, const std::string& path,
                          const std::string& label, unsigned timeoutSeconds) {
  ScanSummary summary;
  Watchdog watchdog(label, timeoutSeconds);
  std::unique_ptr<CSQLServer> engine;
  if (format2000) engine = std::make_unique<CSQLServer2000>();
  else engine = std::make_unique<CSQLServer2008>();
  CaseResult ignored;
  std::vector<CTable*> tables;
  if (!ScanCase(*engine, bytes, path, timeoutSeconds, ignored, tables)) return summary;
  summary.finished = true;
  summary.warnings = engine->m_vecScanWarnings;
  const size_t base = FirstPageOffset(path, backup);
  auto slotCount = [&](size_t index) -> long long {
    const size_t at = base == SIZE_MAX ? SIZE_MAX : base + index * 8192;
    if (at == SIZE_MAX || at + 8192 > bytes.size()) return 0;
    return bytes[at + 22] | bytes[at + 23] << 8;
  };
  for (CTable* table : tables) {
    ScanTable& t = summary.tables[QualifiedName(*table)];
    t.objectId = table->m_dwObjectId;
    t.rows += (long long)testsupport::AllRows(*engine, table).size();
    for (const std::vector<DWORD>* pages : {&table->m_vecDataPages, &table->m_vecFreedPages})
      for (DWORD index : *pages) t.pageRecords[index] = slotCount(index);
  }
  return summary;
}

std::vector<std::string> ZeroedPageFaults(const ScanSummary& whole, const ScanSummary& damaged, size_t page) {
  std::vector<std::string> faults;
  for (const auto& [name, before] : whole.tables) {
    const auto found = damaged.tables.find(name);
    const long long after = found == damaged.tables.end() ? -1 : found->second.rows;
    const auto onPage = before.pageRecords.find(page);
    const long long allowed = onPage == before.pageRecords.end() ? 0 : onPage->second;
    const bool named = Named(damaged, name) || NamedById(damaged, before.objectId);
    std::string fault;
    if (after > before.rows) fault = "gained rows";
    else if (after < 0 && !named) fault = "absent, no warning names it";
    else if (after >= 0 && before.rows - after > allowed && !named)
      fault = "lost more than the page held (" + std::to_string(allowed) + "), no warning names it";
    if (!fault.empty())
      faults.push_back("table " + name + ": " + fault + "; undamaged " + std::to_string(before.rows) +
                       " rows, damaged " + (after < 0 ? std::string("absent") : std::to_string(after)) +
                       Warnings(damaged));
  }
  for (const auto& [name, after] : damaged.tables)
    if (!whole.tables.count(name) && after.rows > 0 && !Named(damaged, name))
      faults.push_back("table " + name + ": made up with " + std::to_string(after.rows) +
                       " rows, no warning names it" + Warnings(damaged));
  return faults;
}

std::vector<std::string> SlotCountFaults(const ScanSummary& whole, const ScanSummary& damaged) {
  std::vector<std::string> faults;
  for (const auto& [name, after] : damaged.tables) {
    const auto found = whole.tables.find(name);
    if (found == whole.tables.end())
      faults.push_back("table " + name + ": made up with " + std::to_string(after.rows) + " rows" + Warnings(damaged));
    else if (after.rows > found->second.rows)
      faults.push_back("table " + name + ": gained rows; undamaged " + std::to_string(found->second.rows) +
                       " rows, damaged " + std::to_string(after.rows) + Warnings(damaged));
  }
  return faults;
}

CaseResult RunCase2000(const Bytes& bytes, const std::string& folder, const std::string& label,
                       unsigned timeoutSeconds) {
  CaseResult result;
  Watchdog watchdog(label, timeoutSeconds);
  CSQLServer2000 engine;
  std::vector<CTable*> tables;
  if (!ScanCase(engine, bytes, folder + "/case.mdf", timeoutSeconds, result, tables)) return result;
  const std::string script = folder + "/table.sql";
  for (CTable* table : tables) {
    result.previewRows += (long long)testsupport::AllRows(engine, table).size();
    engine.m_hTableSqlFile = CreateFileForWrite(script.c_str());
    engine.ExportTableRows(table, nullptr);
    CloseFileHandle(engine.m_hTableSqlFile);
    engine.m_hTableSqlFile = kInvalidFile;
    result.exportedRows += table->m_nRowsExported;
  }
  std::error_code ec;
  fs::remove(script, ec);
  return result;
}

CaseResult RunCase(const Bytes& bytes, const std::string& folder, const std::string& label, unsigned timeoutSeconds) {
  CaseResult result;
  Watchdog watchdog(label, timeoutSeconds);
  CSQLServer2008 engine;
  std::vector<CTable*> tables;
  if (!ScanCase(engine, bytes, folder + "/case.bak", timeoutSeconds, result, tables)) return result;
  std::vector<long long> shown;
  for (CTable* table : tables) {
    shown.push_back((long long)testsupport::AllRows(engine, table).size());
    result.previewRows += shown.back();
  }

  // The export worker's script mode, rows included.
  const std::string out = folder + "/export";
  std::error_code ec;
  fs::remove_all(out, ec);
  fs::create_directories(out + "/Tables", ec);
  engine.m_bExportToServer = 0;
  engine.m_strOutputFolder = out.c_str();
  engine.m_hUserTypesSqlFile = CreateFileForWrite((out + "/UserDefinedDatatypes.sql").c_str());
  engine.GenerateUserDataTypeQueries();
  engine.m_bExportRows = 1;
  int n = 0;
  for (CTable* table : tables) {
    const std::string base = out + "/Tables/t" + std::to_string(n++);
    engine.m_hTableSqlFile = CreateFileForWrite((base + ".sql").c_str());
    engine.m_hConstraintSqlFile = CreateFileForWrite((base + "_Constraint.sql").c_str());
    engine.m_hDefaultSqlFile = OpenFileForAppend((out + "/Default.sql").c_str());
    table->m_nRowsExported = 0;
    engine.GenerateTableQueries(table, nullptr);
    result.exportedRows += table->m_nRowsExported;
    if (table->m_nRowsExported != shown[size_t(n - 1)])
      result.disagreements.push_back(table->m_strName.str() + " preview=" + std::to_string(shown[size_t(n - 1)]) +
                                     " export=" + std::to_string(table->m_nRowsExported));
    CloseFileHandle(engine.m_hTableSqlFile);
    CloseFileHandle(engine.m_hConstraintSqlFile);
    CloseFileHandle(engine.m_hDefaultSqlFile);
  }
  engine.m_bExportMode = 0;
  struct Kind {
    FILE_HANDLE CSQLServer::*handle;
    CStringKeyMap<CViewStoredProc*> CSQLServer::*objects;
    void (CSQLServer2008::*generate)(CViewStoredProc*);
  } kinds[] = {
      {&CSQLServer::m_hViewsSqlFile, &CSQLServer::m_mapViews, &CSQLServer2008::GenerateViewQueries},
      {&CSQLServer::m_hProcSqlFile, &CSQLServer::m_mapStoredProcs, &CSQLServer2008::GenerateStoredProcQueries},
      {&CSQLServer::m_hFunctionsSqlFile, &CSQLServer::m_mapFunctions, &CSQLServer2008::GenerateFunctionQueries},
      {&CSQLServer::m_hRulesSqlFile, &CSQLServer::m_mapRules, &CSQLServer2008::GenerateRulesQueries},
      {&CSQLServer::m_hTriggersSqlFile, &CSQLServer::m_mapTriggers, &CSQLServer2008::GenerateTriggerQueries},
  };
  for (const Kind& k : kinds) {
    engine.*k.handle = CreateFileForWrite((out + "/objects.sql").c_str());
    for (const auto& e : engine.*k.objects)
      if (e.second) (engine.*k.generate)(e.second);
    CloseFileHandle(engine.*k.handle);
  }
  fs::remove_all(out, ec);
  return result;
}

}  // namespace damaged
