// fuzz-seeds FIXTURES OUT: writes the seed corpora of every fuzz target from the real fixture
// files into OUT/<target>/. Nothing it writes is kept in the repository.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/backupreader.h"
#include "common/page.h"
#include "dll/pellwyn2000/pellwyn2000.h"
#include "dll/pellwyn2000/record2000.h"
#include "dll/pellwyn2008/lob.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "dll/pellwyn2008/record.h"
#include "fuzz_tables.h"
#include "fuzz_tables2000.h"
#include "fuzzsupport.h"
#include "support/fakeprogram.h"

namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

namespace {

std::string g_out;
int g_written = 0;

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(g_out + "/" + target);
  std::ofstream out(g_out + "/" + target + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ++g_written;
}

Bytes Slice(const Bytes& b, size_t at, size_t n) {
  if (at >= b.size()) return {};
  return Bytes(b.begin() + long(at), b.begin() + long(std::min(b.size(), at + n)));
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// Backup reader: the head of each backup (tape header, set, descriptor and stream headers),
// and a stitched image holding the head of every set and the end of the file.
void BackupSeeds(const std::string& name, const Bytes& file) {
  constexpr size_t kPiece = 64 * 1024;
  Seed("backupreader", name + ".head", Slice(file, 0, kPiece + 32 * 1024));
  CBackupReader reader;
  reader.ReadDataSets(file.data(), file.size());
  Bytes stitched = Slice(file, 0, kPiece);
  for (int i = 1; i <= reader.m_nStreamCount; ++i) {
    const CBackupSet* set = reader.GetSet(i);
    if (set && set->m_nPosition >= kPiece) Append(stitched, Slice(file, size_t(set->m_nPosition) / 512 * 512, kPiece));
  }
  Append(stitched, Slice(file, file.size() > kPiece ? file.size() - kPiece : 0, kPiece));
  Seed("backupreader", name + ".stitched", stitched);
}

// Census: pages of a database file the catalog reads, one after the other (the target puts
// each back at its page id): the file header, the first allocation page and the boot page, the
// first pages of every system table, a few text pages and the first page of a few user tables.
// "catalog" keeps every page of the tables a user table is found through (objects, columns,
// rowsets, rowset columns, allocation units; in 2005-format files the rowset and hobt columns
// that place its columns) and three of each other system table; "objects"
// only the first page of the objects, columns, rowsets and allocation units, so an execution
// stays short.
void CensusSeeds(const std::string& name, const Bytes& file) {
  static const std::set<DWORD> kCatalog = {3, 4, 5, 7, 13, 27, 34, 41, 50, 54, 55, 60, 64};
  static const std::set<DWORD> kObjects = {5, 7, 34, 41};
  static const std::set<DWORD> kWhole = {3, 4, 5, 7, 13, 34, 41};
  Bytes catalog, objects;
  std::map<DWORD, int> kept;
  int text = 0, users = 0;
  for (size_t at = 0; at + kPageSize <= file.size(); at += kPageSize) {
    const BYTE* p = file.data() + at;
    const size_t n = at / kPageSize;
    const BYTE type = PageTypeOf(p);
    const DWORD object = PageObjectId(p);
    const bool header = n == 0 || n == 1 || n == 9;
    bool keep = header;
    if (type == kPageData && kCatalog.count(object)) keep = kWhole.count(object) || kept[object] < 3;
    if (type == kPageData && kCatalog.count(object)) ++kept[object];
    if ((type == kPageTextMix || type == kPageTextTree) && text < 4) keep = ++text > 0;
    if (type == kPageData && object >= 100 && users < 2 && kept[object]++ == 0) keep = ++users > 0;
    if (keep) catalog.insert(catalog.end(), p, p + kPageSize);
    if (header || (type == kPageData && kObjects.count(object) && kept[object] <= 1))
      objects.insert(objects.end(), p, p + kPageSize);
  }
  Seed("census", name + ".catalog", catalog);
  Seed("census", name + ".objects", objects);
  // The damage kinds a census must take without adding rows: a page copied over another (its
  // id met twice), a page id rewritten, a slot count of 65535, a catalog page zeroed.
  const size_t pages = catalog.size() / kPageSize;
  if (pages < 6) return;
  auto page = [&](Bytes& b, size_t n) { return b.data() + n * kPageSize; };
  Bytes copied = catalog;
  std::memcpy(page(copied, pages - 1), page(copied, pages - 2), kPageSize);
  Seed("census", name + ".copied", copied);
  Bytes renamed = catalog;
  const DWORD id = PageIdOf(page(renamed, 4));
  std::memcpy(page(renamed, 3) + 32, &id, 4);
  Seed("census", name + ".renamed", renamed);
  Bytes slots = catalog;
  for (size_t n = 0; n < pages; ++n)
    if (PageTypeOf(page(slots, n)) == kPageData) page(slots, n)[22] = page(slots, n)[23] = 0xFF;
  Seed("census", name + ".slots", slots);
  Bytes zeroed = catalog;
  for (size_t n = 3; n < pages; ++n)
    if (PageTypeOf(page(zeroed, n)) == kPageData && PageObjectId(page(zeroed, n)) < 100) {
      std::memset(page(zeroed, n), 0, kPageSize);
      break;
    }
  Seed("census", name + ".zeroed", zeroed);
}

// Allocation evidence: the allocation pages of a database file with the data pages of its
// first interval they speak of, at their own page ids; and the same pages as a backup
// stream lays them out (option bit 0).
void AllocationSeeds(const std::string& name, const Bytes& file) {
  Bytes plain = {0}, stream = {1};
  int data = 0;
  for (size_t at = 0; at + kPageSize <= file.size(); at += kPageSize) {
    const BYTE* p = file.data() + at;
    const BYTE type = PageTypeOf(p);
    if (type != kPagePfs && type != 10 && !(type == kPageData && data++ < 24)) continue;
    plain.insert(plain.end(), p, p + kPageSize);
    stream.insert(stream.end(), p, p + kPageSize);
    if (plain.size() > 38 * kPageSize) break;
  }
  Seed("allocation", name + ".plain", plain);
  Seed("allocation", name + ".stream", stream);
}

// The 2000 system tables: the file header, allocation and boot pages, every page of the
// system tables the catalog is read from, and the IAM pages of the first few objects.
void Catalog2000Seeds(const std::string& name, const Bytes& file) {
  static const std::set<DWORD> kSystem = {1, 2, 3, 4, 6, 10, 14};
  Bytes pages;
  int iams = 0;
  for (size_t at = 0; at + kPageSize <= file.size(); at += kPageSize) {
    const BYTE* p = file.data() + at;
    const size_t n = at / kPageSize;
    const bool keep = n <= 1 || n == 9 || (PageTypeOf(p) == kPageData && kSystem.count(PageObjectId(p))) ||
                      (PageTypeOf(p) == 10 && iams++ < 4);
    if (keep) pages.insert(pages.end(), p, p + kPageSize);
  }
  Seed("catalog2000", name, pages);
}

int TableChoice(const CTable& t) {
  if (t.m_strName == "Employees") return 0;
  if (t.m_strName == "Order Details" || t.m_strName == "OrderDetail") return 1;
  return 2;
}

// The pages an off-row value of these pages reads, by page id.
std::map<DWORD, Bytes> OffRowPages(CSQLServer2008& engine, const CTable& table, const Bytes& page) {
  std::map<DWORD, Bytes> read;
  const RecordPlan plan(table);
  const OffRowReader reader = [&](const OffRowPointer& pointer, LobSink& sink, LobReadReport* report) {
    LobWalker walker([&](DWORD id, BYTE* out) {
      if (!engine.ReadPageById(id, out)) return false;
      if (read.size() < 24) read.emplace(id, Bytes(out, out + kPageSize));
      return true;
    });
    walker.ReadPointer(pointer, sink);
    if (report) *report = walker.report();
    return walker.report().complete();
  };
  RecordDecodeOptions options;
  options.offRow = &reader;
  ForEachSlot(page.data(), [&](int, WORD entry) {
    DecodedRecord record;
    ByteView bytes(page.data() + entry, size_t(kPageSize - entry));
    DecodeRecord(plan, bytes, options, record);
    return true;
  });
  return read;
}

// Record and off-row seeds from the tables of a scanned fixture.
void RowSeeds(const std::string& name, CSQLServer2008& engine) {
  int lobSeeds = 0;
  for (const auto& entry : engine.m_mapTables) {
    CTable* table = entry.second;
    if (!table || table->m_vecDataPages.empty() || table->m_dwObjectId < 100) continue;
    const int choice = TableChoice(*table);
    Bytes page(kPageSize);
    if (!engine.ReadSourcePage(table->m_vecDataPages.front(), page.data())) continue;
    RestoreTornBitsIfPresent(page.data());
    Bytes seed = {BYTE(choice), 0};
    Append(seed, page);
    std::map<DWORD, Bytes> extra = OffRowPages(engine, *table, page);
    for (const auto& [id, p] : extra) Append(seed, p);
    std::string safe = table->m_strName.str();
    for (char& c : safe)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    Seed("record", name + "." + safe, seed);

    // Every off-row pointer of the page, with the pages it reads.
    const RecordPlan plan(*table);
    RecordDecodeOptions options;
    ForEachSlot(page.data(), [&](int, WORD at) {
      DecodedRecord record;
      ByteView bytes(page.data() + at, size_t(kPageSize - at));
      if (DecodeRecord(plan, bytes, options, record) != RecordVerdict::kDecoded) return true;
      for (const RecordCell& cell : record.cells) {
        if (!cell.offRow || lobSeeds >= 40) continue;
        std::map<DWORD, Bytes> pages;
        LobWalker walker([&](DWORD id, BYTE* out) {
          if (!engine.ReadPageById(id, out)) return false;
          pages.emplace(id, Bytes(out, out + kPageSize));
          return true;
        });
        LobBytesSink sink;
        walker.ReadPointer(cell.pointer, sink);
        Bytes lob = {BYTE(0), BYTE(cell.inRow.size()), BYTE(cell.inRow.size() >> 8)};
        lob.insert(lob.end(), cell.inRow.data(), cell.inRow.data() + cell.inRow.size());
        for (const auto& [id, p] : pages) Append(lob, p);
        Seed("lob", name + ".lob" + std::to_string(lobSeeds++), lob);
      }
      return true;
    });
  }
}

// Pages of the wide table built record by record: every value set, every value null, and the
// record kinds the decoder treats apart (ghost, forwarded, forwarding stub).
void SyntheticRecordSeeds() {
  std::unique_ptr<CTable> table = fuzztables::Make(2);
  recordtest::RecordParts full;
  full.columnCount = table->m_nAllColumns;
  full.fixed.assign(size_t(4), 0);
  int offset = 4;
  for (const CColumn* c = table->m_pColumnHead; c; c = c->m_pNext) {
    if (c->m_nOffset > 0 && c->m_strComputed.IsEmpty()) {
      Bytes value(c->m_wLength);
      for (size_t i = 0; i < value.size(); ++i) value[i] = BYTE(0x11 * (i + 1));
      full.Set(c->m_nOffset, value);
      offset = std::max(offset, c->m_nOffset + int(c->m_wLength));
    }
  }
  full.fixed.resize(size_t(offset), 0);
  for (int k = 0; k < table->m_nVarColumns; ++k) full.vars.push_back({recordtest::Utf16("value" + std::to_string(k))});
  recordtest::RecordParts nulls = full;
  nulls.vars.clear();
  nulls.statusA = 0x10;
  for (int i = 1; i <= nulls.columnCount; ++i) nulls.nullBits.push_back(i);
  recordtest::RecordParts ghost = full;
  ghost.statusA = 0x3C;
  recordtest::RecordParts forwarded = full;
  forwarded.statusA = 0x32;
  forwarded.vars.push_back({Bytes{0, 2, 0, 0, 1, 0, 3, 0, 0, 0}, true});
  const Bytes stub = {0x04, 0, 0x10, 0, 0, 0, 1, 0, 0, 0};
  std::vector<Bytes> records = {recordtest::BuildRecord(full), recordtest::BuildRecord(nulls),
                                recordtest::BuildRecord(ghost), recordtest::BuildRecord(forwarded), stub};
  Bytes seed = {2, 1};
  Append(seed, recordtest::DataPage(7, 1002, records));
  Seed("record", "synthetic.wide", seed);
}

// Connection strings: the credentials a user types, separated by zero bytes.
void ConnectSeeds() {
  using namespace std::string_literals;
  const std::string sets[] = {
      "HOST\\SQL2008\0sa\0p@ss\0Northwind"s,
      "127.0.0.1,1433\0u;x\0a;b}c{d=e f\0two words"s,
      "h\0 lead\0trail \0{Braced}"s,
      "DRIVER=SQL Server;SERVER={x}};y};UID=u"s,
  };
  int n = 0;
  for (const std::string& text : sets) Seed("connect", "typed." + std::to_string(++n), Bytes(text.begin(), text.end()));
}

// 2000 record and off-row seeds from the sample 2000 data files (page n at n x 8192): the
// first data pages of the tables fuzz_tables2000.h lays out as they are, in both modes, each
// with the text pages its values read, and the text pointers of those pages with theirs.
void Rows2000Seeds(const std::string& name, const Bytes& file) {
  static const std::map<DWORD, int> kTables = {
      {21575115, 0},   // Northwind Orders
      {1977058079, 1}, // Northwind Employees (pubs' authors share the id: decoded as another table)
      {2041058307, 2}, // Northwind Categories
      {405576483, 3},  // pubs employee
      {357576312, 4},  // pubs pub_info
  };
  auto read = [&](DWORD page, BYTE* out) {
    if ((size_t(page) + 1) * kPageSize > file.size()) return false;
    std::memcpy(out, file.data() + size_t(page) * kPageSize, kPageSize);
    return true;
  };
  std::map<int, int> pagesOfTable;
  int lobSeeds = 0;
  for (DWORD n = 0; (size_t(n) + 1) * kPageSize <= file.size(); ++n) {
    Bytes page(kPageSize);
    read(n, page.data());
    if (PageTypeOf(page.data()) != kPageData) continue;
    auto table = kTables.find(PageObjectId(page.data()));
    if (table == kTables.end() || pagesOfTable[table->second]++ >= 2) continue;
    RestoreTornBitsIfPresent(page.data());
    std::unique_ptr<CTable> t = fuzztables2000::Make(unsigned(table->second));
    const rows2000::RowPlan plan(*t);
    // The text pages the page's values read (for the record seed) and those one pointer's
    // value reads (for its own seed), recorded as the reader fetches them.
    std::map<DWORD, Bytes> pagePages, pointerPages;
    const rows2000::LobReader lob([&](const lobcore::Rid& rid, BYTE* out) {
      if (!read(rid.page, out)) return false;
      pagePages.emplace(rid.page, Bytes(out, out + kPageSize));
      pointerPages.emplace(rid.page, Bytes(out, out + kPageSize));
      return true;
    });
    rows2000::DecodeOptions options;
    options.mode = rows2000::Mode::kExport;
    options.lob = &lob;
    const ByteView body(page.data() + kPageHeaderSize, kPageBodySize);
    ForEachSlot(page.data(), [&](int, WORD entry) {
      const WORD offset = WORD(entry - kPageHeaderSize);
      rows2000::DecodedRow row;
      rows2000::DecodeRecord(plan, body, offset, options, row);
      // Each text pointer of the record, with the pages its value reads.
      ByteView rec(body.data() + offset, kPageBodySize - offset);
      const WORD fixedEnd = rec.U16(2);
      const size_t at = size_t(fixedEnd) + 2 + BitmapBytes(rec.U16(fixedEnd));
      const int entries = rec.U16(at);
      size_t pos = at + 2 + 2 * size_t(entries);
      for (int i = 0; rec.ok() && i < entries && lobSeeds < 40; ++i) {
        const WORD end = rec.U16(at + 2 + 2 * size_t(i));
        if (end <= 8192) {
          pos = end;
          continue;
        }
        rows2000::TextPointer pointer;
        if (!rows2000::ParseTextPointer(rec.Sub(pos, rows2000::kTextPointerSize), pointer)) break;
        pointerPages.clear();
        std::string bytes;
        lob.Read(pointer, bytes);
        Bytes seed = {0};
        seed.insert(seed.end(), rec.data() + pos, rec.data() + pos + rows2000::kTextPointerSize);
        for (const auto& [id, p] : pointerPages) Append(seed, p);
        Seed("lob2000", name + ".lob" + std::to_string(lobSeeds++), seed);
        pos += rows2000::kTextPointerSize;
      }
      return true;
    });
    for (BYTE mode : {BYTE(0), BYTE(2)}) {
      Bytes seed = {BYTE(table->second), mode};
      Append(seed, page);
      for (const auto& [id, p] : pagePages) Append(seed, p);
      Seed("record2000", name + ".p" + std::to_string(n) + (mode ? ".export" : ".preview"), seed);
      // The walks read the same page with its slot array; the export bit means nothing there.
      if (!mode) Seed("walk2000", name + ".p" + std::to_string(n), seed);
    }
  }
}

// Settings files as users write them, and paths with names in several scripts.
void SettingsSeeds() {
  const char* const seeds[][2] = {
      {"windows", "Thread_Size=4\r\nAvoid_Duplicate=1\r\nExportsize=100\r\n"},
      {"unix", "Thread_Size=2\nAvoid_Duplicate=0\nThread_Size=5\n"},
      {"paths", "/data/Am\xc3\xa9rique.bak\n/data/\xe6\x97\xa5\xe6\x9c\xac.bak\n/raw\xe9\xc3"},
  };
  for (const auto& s : seeds) Seed("settings", s[0], Bytes(s[1], s[1] + std::strlen(s[1])));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: fuzz-seeds FIXTURES OUT\n";
    return 2;
  }
  const std::string fixtures = argv[1];
  g_out = argv[2];
  fuzzsupport::ScratchDir();
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(fixtures))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  for (const std::string& path : files) {
    const std::string name = fs::path(path).filename().string();
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext != ".bak" && ext != ".mdf") continue;
    const Bytes file = ReadAll(path);
    if (name.rfind("sample2000_", 0) == 0 || name.rfind("sql2000", 0) == 0) {
      // 2000 files also seed the 2000 engine's targets.
      Catalog2000Seeds(name, file);
      CSQLServer2000 engine2000;
      if (testsupport::RunRecovery(engine2000, path).finished) {
        // The program's Open Scan takes either version, so the 2008 loader's target gets the
        // 2000 scan too.
        for (const char* target : {"scanfile2000", "scanfile"}) {
          fs::create_directories(g_out + "/" + target);
          const std::string scan = g_out + "/" + target + "/" + name + ".2000.str";
          CString error;
          if (engine2000.SaveScanFile(scan.c_str(), &error)) ++g_written;
        }
      }
    }
    if (ext == ".bak") {
      BackupSeeds(name, file);
    } else {
      CensusSeeds(name, file);
      AllocationSeeds(name, file);
    }
    if (name.rfind("sample2000_", 0) == 0) Rows2000Seeds(name, file);
    CSQLServer2008 engine;
    testsupport::RecoveryOptions options;
    options.censusHandOverEvery = 64;
    if (!testsupport::RunRecovery(engine, path, options).finished) continue;
    RowSeeds(name, engine);
    CString error;
    const std::string scan = g_out + "/scanfile/" + name + ".str";
    fs::create_directories(g_out + "/scanfile");
    if (engine.SaveScanFile(scan.c_str(), &error)) ++g_written;
  }
  SyntheticRecordSeeds();
  ConnectSeeds();
  SettingsSeeds();
  std::cout << "fuzz-seeds: " << g_written << " seeds in " << g_out << "\n";
  return 0;
}
