// The catalog rows a cut-off source lost. A backup that ends inside its data stream keeps the
// pages before the cut: a table's object row may be there while some of its column rows were
// on pages past the end. Such a table must never pass for whole: it is marked, in the tree, in
// the export's log and in its script.
#pragma once

#include <string>

class CSQLServer;
class CTable;

namespace uicore {

// What the catalog of the table lacks, judged from what it holds: column ids missing between
// 1 and the highest one it names, no column at all, index keys naming columns it does not
// have. Empty when nothing is seen missing.
std::string DescribeCatalogLoss(const CTable& table);

// Marks (m_strCatalogLoss) every named table of the engine whose catalog lacks rows; gives how
// many were marked. Only for a source known to be cut off, and only once its scan thread has
// left the engine: a whole source has gaps of its own (dropped columns leave their ids unused).
int MarkCatalogLosses(CSQLServer& engine);

// The comment a marked table's script begins with; empty for an unmarked table.
std::string CatalogLossComment(const CTable& table);

}  // namespace uicore
