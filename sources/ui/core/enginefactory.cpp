#include "enginefactory.h"

#include <array>

#include "dll/pellwyn2005/pellwyn2005.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#if PELLWYN_HAVE_ENGINE2000
#include "dll/pellwyn2000/pellwyn2000.h"
#endif

namespace {

using Constructor = CSQLServer* (*)();

template <class Engine>
CSQLServer* Construct() {
  return new Engine();
}

struct Row {
  EngineVersion version;
  Constructor construct;  // null while the version's library is not part of the build
};

// The CMake build defines PELLWYN_HAVE_ENGINE2000 once the Pellwyn2000 target exists.
const std::array<Row, 3> kRows = {{
#if PELLWYN_HAVE_ENGINE2000
    {{1, "2000", "(SQL Server 2000)", "2000 Format"}, &Construct<CSQLServer2000>},
#else
    {{1, "2000", "(SQL Server 2000)", "2000 Format"}, nullptr},
#endif
    {{2, "2005", "(SQL Server 2005)", "2005 Format"}, &Construct<CSQLServer2005>},
    {{3, "2008", "(SQL Server 2008)", "2008 Format"}, &Construct<CSQLServer2008>},
}};

const Row* FindRow(const EngineVersion* version) {
  for (const Row& row : kRows)
    if (&row.version == version) return &row;
  return nullptr;
}

CreatedEngine Create(const EngineVersion* version) {
  CreatedEngine created;
  created.version = version;
  const Row* row = FindRow(version);
  if (!row) {
    created.refusal = "Unknown SQL Server version.";
  } else if (!row->construct) {
    created.refusal = std::string("SQL Server ") + version->text +
                      " backups cannot be recovered yet: this build of Tarnwell Brackmoor has no " + version->text +
                      "-format engine.";
  } else {
    created.engine.reset(row->construct());
  }
  return created;
}

}  // namespace

const EngineVersion* FindEngineVersion(int number) {
  for (const Row& row : kRows)
    if (row.version.number == number) return &row.version;
  return nullptr;
}

const EngineVersion* FindEngineVersion(std::string_view text) {
  for (const Row& row : kRows)
    if (text == row.version.text) return &row.version;
  return nullptr;
}

bool EngineAvailable(int number) {
  const Row* row = FindRow(FindEngineVersion(number));
  return row && row->construct;
}

CreatedEngine CreateEngine(int number) { return Create(FindEngineVersion(number)); }

CreatedEngine CreateEngine(std::string_view versionText) { return Create(FindEngineVersion(versionText)); }
