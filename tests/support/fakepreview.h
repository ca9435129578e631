// Plays the desktop program's side of the record preview without a GUI: the tree selection
// that clears the paging state, the next- and previous-page buttons, and the preview thread
// that starts the engine's record thread and takes the window's rows.
#pragma once

#include <string>
#include <vector>

class CSQLServer2008;
class CTable;

namespace testsupport {

struct PreviewWindow {
  bool finished = false;          // the record thread said it was done in time
  std::vector<std::string> rows;  // the window's rows, "$#$" after every value
  bool lastWindow = false;        // m_bLastWindow afterwards
};

// The table named `name` ("name" or "owner.name"); null when the catalog has none.
CTable* FindTable(CSQLServer2008& engine, const std::string& name);

// A table selected in the tree: clears the paging state, then previews the first window.
PreviewWindow SelectTable(CSQLServer2008& engine, CTable* table, unsigned timeoutMs = 60000);
// The next- and previous-page buttons (ignored, giving an unfinished window, in export mode).
PreviewWindow NextWindow(CSQLServer2008& engine, unsigned timeoutMs = 60000);
PreviewWindow PreviousWindow(CSQLServer2008& engine, unsigned timeoutMs = 60000);

// Every row of the table, paging forward from the first window to the last.
std::vector<std::string> AllRows(CSQLServer2008& engine, CTable* table, int* windows = nullptr);

}  // namespace testsupport
