// The table stage of an export into a live server: a pool of connections, one pool thread per
// connection, and a queue of one job per selected table. Each job asks the engine to create one
// table on one pooled connection (schema, keys and, when rows are wanted, its rows); several
// jobs run on one engine at once, each with its own table and connection.
//
// A connection is never used by two threads at once: a thread takes a job and a free connection
// together, under the pool's one lock, and puts the connection back only when its job is done.
// The lock guards the queue, the free connections, the counters and the reports the jobs make;
// it is never held during an engine call.
//
// Run blocks the calling thread (the export worker) until every pool thread has been joined.
// Nothing outlives a Run: a second export starts from an idle pool.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CDatabase;
class CSQLServer;
class CTable;

namespace uicore {

class IExportSink;

// The most pool threads (and pooled connections) an export uses, whatever the settings say.
constexpr int kMaxPoolThreads = 5;

// The pool size for a Thread_Size setting and a number of tables: the setting clamped to
// 1..kMaxPoolThreads (0, negative or a bad number count as 1), and no more than one per table.
int PoolSize(int threadSize, int tables);

// Opens one pooled connection. Null when it could not be opened, with the reason (the driver's
// or the server's text, never the password) in `error`. Called from several threads at once.
using ConnectionFactory = std::function<std::unique_ptr<CDatabase>(std::string* error)>;

struct PoolOutcome {
  struct Reported {
    CTable* table = nullptr;
    long rows = 0;  // the rows it exported, as its object-list row and report line say
    long notStored = 0;  // rows decoded that the server did not store (refused or lost)
  };
  int percent = 0;           // the percentage the table stage reached (30 once any table is done)
  int tablesReported = 0;    // rows added to the object list and lines to the report
  std::vector<Reported> reported;  // those tables, in the order they were reported
  int connections = 0;       // pooled connections that opened (and pool threads that ran)
  bool stopped = false;      // the record-stop flag ended the stage early
  bool noConnection = false; // no connection opened; the export must end early
};

class ExportPool {
 public:
  // Shown when not one pooled connection could be opened.
  static constexpr const char* kNoConnectionMessage = "Could not connect to the server";

  // Exports `tables` on engine.GenerateTableQueries(table, connection), with PoolSize(threadSize,
  // tables.size()) connections from `factory`, reporting through `sink`:
  //   - per job: the status line "Exporting table : NAME"; when the engine call returns with no
  //     stop, an object-list row (the table's name and its exported-record count), a report
  //     line, "(done / total)" in the counter text and done * 30 / total percent on the dialog;
  //   - when none opened: the message kNoConnectionMessage, the record-stop flag raised (so the
  //     worker ends the export as Stop ends it), and no job run.
  // With no tables it opens nothing and reports 30 percent.
  static PoolOutcome Run(CSQLServer& engine, const std::vector<CTable*>& tables, int threadSize,
                         IExportSink& sink, const ConnectionFactory& factory);
};

}  // namespace uicore
