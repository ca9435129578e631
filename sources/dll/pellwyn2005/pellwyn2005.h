// The 2005-format engine. SQL Server 2005 and 2008 store pages, records and the catalog the
// same way for everything this system reads, so the 2005 engine is the 2008 engine under its
// own identity: it logs "2005 Format" and its scan files carry the version "2005", which
// makes Open Scan reopen them with this engine.
#pragma once

#include "dll/pellwyn2008/pellwyn2008.h"

class PELLWYN_EXPORT CSQLServer2005 : public CSQLServer2008 {
 public:
  CSQLServer2005();
  ~CSQLServer2005() override;
};
