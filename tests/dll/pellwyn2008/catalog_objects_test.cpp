#include <gtest/gtest.h>
#include <fstream>
#include <iostream>
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/catalogtext.h"
#include "support/fakeprogram.h"
#include "support/fixtures.h"

TEST(ScratchH5, Dump) {
  const char* names = getenv("H5_FIX");
  if (!names) GTEST_SKIP();
  std::string list = names;
  size_t s = 0;
  while (s < list.size()) {
    size_t e = list.find(',', s);
    std::string n = list.substr(s, e == std::string::npos ? std::string::npos : e - s);
    s = e == std::string::npos ? list.size() : e + 1;
    std::string path = testsupport::FixturePath(n);
    testsupport::ModuleFolderScope scope;
    CSQLServer2008 engine;
    auto r = testsupport::RunRecovery(engine, path);
    std::ofstream out("/tmp/h5scratch/" + n + ".txt");
    out << "finished " << r.finished << "\n";
    testsupport::PrintCatalog(engine, out);
    out << "-----owners\n";
    for (auto& e : engine.m_mapOwnerNames) out << e.first << " " << e.second.str() << "\n";
    out << "-----indexes\n";
    for (auto& e : engine.m_mapIndexes) out << e.first << " v=" << e.second->m_nValue << " " << e.second->m_strText.str().substr(0,80) << "\n";
    out << "-----computed\n";
    for (auto& e : engine.m_mapTables) for (auto& c : e.second->m_mapComputed) out << e.first << " " << c.first << " " << c.second.str() << "\n";
    out << "-----execlog\n" << scope.ReadExecLog();
  }
}
