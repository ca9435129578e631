// Stable, diff-friendly text of what an engine holds: backup sets, census groups and the
// recovered catalog. Shared by engine-driver and the integration tests.
#pragma once

#include <ostream>

class CSQLServer;

namespace testsupport {

void PrintSets(const CSQLServer& engine, std::ostream& out);
// Database name, the census page total and the text pages it found.
void PrintCensus(const CSQLServer& engine, std::ostream& out);
// The catalog as the desktop's tree shows it: tables with columns, keys and indexes, then
// views, procedures, rules, triggers, functions and user data types.
// Foreign keys (the 2000 format) follow each table's indexes, named as the engine read them.
void PrintCatalog(const CSQLServer& engine, std::ostream& out);

}  // namespace testsupport
