// The export walk of a table's rows comes with the record threads; until then a table is
// exported without its rows.
#include "pellwyn2000.h"

void CSQLServer2000::ExportTableRows(CTable*, CDatabase*) {}
