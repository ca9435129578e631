// The record preview as the desktop program runs it, without a window: the program's preview
// driver (ui/core) with a sink that keeps the page it was given.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CSQLServer;
class CTable;

namespace uicore {
class PreviewDriver;
}

namespace testsupport {

struct PreviewWindow {
  bool finished = false;          // the page came in time
  std::vector<std::string> rows;  // the page's row texts as the engine gave them
  bool lastWindow = false;        // the engine read the table's last page to its end
  bool previousEnabled = false;   // the "<" and ">" buttons after the page
  bool nextEnabled = false;
};

// The table named `name` ("name" or "owner.name"); null when the catalog has none.
CTable* FindTable(CSQLServer& engine, const std::string& name);

// One engine's preview: a table selected in the tree, and the "<" and ">" buttons. Each call
// waits for its page (an unfinished window when it does not come in time, or when the driver
// refused to start it).
class Preview {
 public:
  explicit Preview(CSQLServer& engine);
  ~Preview();
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  PreviewWindow Select(CTable* table, unsigned timeoutMs = 60000);
  PreviewWindow Next(unsigned timeoutMs = 60000);
  PreviewWindow Previous(unsigned timeoutMs = 60000);

  struct Collector;

 private:
  std::unique_ptr<Collector> m_collector;
  std::unique_ptr<uicore::PreviewDriver> m_driver;
};

// Every row of the table, paging forward from the first page to the last.
std::vector<std::string> AllRows(CSQLServer& engine, CTable* table, int* windows = nullptr);

}  // namespace testsupport
