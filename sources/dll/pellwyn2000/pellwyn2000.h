// The 2000-format engine: SQL Server 2000 pages, its system tables and its scan file.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/catalogpages.h"
#include "common/enginesupport.h"
#include "common/pagesource.h"
#include "common/pagesource.h"
#include "common/sqlserver.h"

#if defined(__GNUC__)
#define PELLWYN2000_EXPORT __attribute__((visibility("default")))
#else
#define PELLWYN2000_EXPORT
#endif

// The library's one lock for the script writers. A function-static mutex: built once, so a
// second engine never re-initialises it while an abandoned export still holds it.
PELLWYN2000_EXPORT std::mutex& ScriptLock2000();

// The library's exported table object; nothing reads it.
extern PELLWYN2000_EXPORT CTable* m_objTable;

struct PreviewWalks2000;

class PELLWYN2000_EXPORT CSQLServer2000 : public CSQLServer {
 public:
  CSQLServer2000();
  ~CSQLServer2000() override;

  // The 21 operations.
  DWORD RecoverSQLServerMDF(void* engine) override;
  void ScanMdfFile() override;
  void ScanDataSets() override;
  CString GetDatabaseName() override;
  void GetTableRecord(BYTE* pageBody, WORD recordOffset, CTable* table) override;
  WORD ExportTableRecord(BYTE* pageBody, WORD recordOffset, CTable* table, CDatabase* database, CString* batch,
                         bool* batchFull) override;
  void ReadExtentPages(DWORD extent, CString objectId) override;
  void StartRecoverTableRecordThread() override;
  void FreeRecoveredObjects() override;
  void GenerateUserDataTypeQueries() override;
  void SaveScanInfo() override;
  void LoadScanInfo(CArchive& ar) override;
  void GenerateTableQueries(CTable* table) override;
  void GenerateTableQueries(CTable* table, CDatabase* database) override;
  void GenerateViewQueries(CViewStoredProc* object) override;
  void GenerateStoredProcQueries(CViewStoredProc* object) override;
  void GenerateRulesQueries(CViewStoredProc* object) override;
  void GenerateTriggerQueries(CViewStoredProc* object) override;
  void GenerateFunctionQueries(CViewStoredProc* object) override;
  void GenerateForeignKeyConstraint() override;
  CString RealToString(DWORD bits) override;

  // Every table record is made here; the engine owns it until FreeRecoveredObjects, whichever
  // maps point at it, so a table in two maps is freed once.
  CTable* NewTable();

  // ---- page access
  CString GetFileExtension() const { return EngineSourceExtension(*this); }
  bool IsBackupSource() const;
  // Finds the chosen set, and for a differential its base full set (m_pBaseSet).
  void LocateDataSet();
  // The pieces of the located source: the chosen set's stream, then its base's.
  std::vector<PageSegment> SetSegments() const;
  // File position of page n (census numbering: the n-th page of the chosen set's stream, or
  // of a plain file) into *offset; 0 when the source does not hold it.
  void GetPageOffset(int page, INT64* offset);
  // Opens the pages of the source as the census numbers them. False (logged once per open
  // failure) when the file cannot be opened or a backup source has no located set.
  bool OpenPageSource(CPageSource& source);
  // False only for a backup whose set is not located (a scan reopened from its file before
  // LocateDataSet): its pages cannot be told from the tape blocks around them.
  bool HasPageSource() const;
  // Where each text page of the located set lies, as the census notes it, without the rest
  // of the census: a scan reopened from its file finds off-row values by page id. False when
  // the source cannot be opened.
  bool IndexTextPages();
  // The census: every page once, in lock-step with the progress partner; data pages grouped
  // by owning object into m_mapTables, text pages of a backup into m_mapTextPages. Pages the
  // allocation evidence shows as free are kept apart in each table's m_vecFreedPages.
  void ReadAllPages();
  void SetCensusHandOverEvery(int pages) { m_nCensusHandOverEvery = pages > 0 ? pages : 1; }
  std::atomic<long long> m_nCensusPagesRead{0};
  bool ScanStopped() const { return m_pStatus && m_pStatus->m_bStopScan.load(); }

  // ---- system-table readers
  // A row parser: the page body (page + 96, 8096 bytes) and the row's offset in it. Parsers
  // read only through views bounded by the body, and drop a row whose fields leave it.
  using RowParser = void (CSQLServer2000::*)(BYTE* body, WORD rowOffset);
  struct SystemTable {
    const char* objectId;
    const char* missingMessage;
    RowParser parser;
    bool repairFirstSlot;
  };
  // Walks the data pages of one system table (its census group), torn bits restored, pages
  // of more than 500 slots skipped, each accepted slot (96..8191) handed to the parser.
  // False, with the table's message in the error log, when the census found no such table.
  bool ReadSystemTable(const SystemTable& table);
  // Keeps a warning of the scan (engine-driver's `warning:` lines, the progress dialog's end)
  // and writes it to the error log.
  void NoteScanWarning(const CString& text);
  // The name of a system table the catalog stages read, by its object id; null for another.
  static const char* SystemTableName(DWORD objectId);
  // The end of one system table's walk: the linked pages the walk did not get, read by page id.
  void FinishCatalogPageCheck(CCatalogPageCheck& check, CPageSource& source);
  // After the catalog walks: the first page each system table's sysindexes row names, where
  // the walk of that table did not get it (a table whose only page failed has no neighbour to
  // name it).
  void CheckCatalogFirstPages();
  int ReadSysObjects();
  int ReadSysColumns();
  int ReadSysIndexes();
  int ReadSysForeignKeys();
  int ReadSysComments();
  int ReadSysUsers();
  int ReadSysTypes();
  void ParseSysObjectsRow(BYTE* body, WORD rowOffset);
  void DecodeColumnRow(BYTE* body, WORD rowOffset);
  void ParseSysIndexesRow(BYTE* body, WORD rowOffset);
  void ParseSysForeignKeysRow(BYTE* body, WORD rowOffset);
  void ParseSysCommentsRow(BYTE* body, WORD rowOffset);
  void ParseSysUsersRow(BYTE* body, WORD rowOffset);
  void ParseSysTypesRow(BYTE* body, WORD rowOffset);
  // Drops system tables and tables without columns, names the tables whose sysobjects row
  // was never read.
  void NameUnnamedTables();
  // A user table with data pages but no column (its syscolumns rows lost) gets columns from
  // what its records show: the fixed part as binary, each variable entry as varbinary (image
  // where a record keeps a text pointer in it), all read as raw bytes, and a warning names it.
  // False when its records give no column or the scan was stopped before all were read.
  bool RebuildRawColumns(CTable* table);
  // Once the tables are final: the foreign keys get their names and state, every table its
  // CHECK constraints (those without a text are logged and left out).
  void AttachConstraints();
  static CString GetTypeName(BYTE systemTypeId);
  static BYTE BuildColumnStatus(BYTE bitPosition, BYTE typeStatus, BYTE systemTypeId, WORD columnStatus);
  // Column ids of an index's key list (32-byte entries), each once, in key order.
  static std::vector<int> ReadIndexKeyColumns(const BYTE* keys, size_t keyBytes, int entries);

  // ---- scan file
  // Asks where to save a scan file (the desktop shows its save dialog); false = cancelled.
  std::function<bool(CString& path)> m_fnAskSavePath;
  // Writes the scan file to path through a temporary file renamed over it when complete.
  // False (logged, the reason in *error) when it could not be written.
  bool SaveScanFile(const char* path, CString* error = nullptr);
  // Result of the last SaveScanInfo: 1 saved, 0 failed, -1 cancelled or not asked.
  int m_nLastSaveResult = -1;

  // ---- schema scripts and the script-set generators
  // The keys and indexes of one table, with the not-null fix-ups of its primary-key columns.
  void GenerateConstraintQueries(CTable* table, CDatabase* database);
  // Plain script sets of the whole catalog, written into folder (see generators2000.cpp).
  void GenerateQueries(CString folder);
  // The rows alone, handed over table by table: after each table it raises "ExportEvent" and
  // waits for "ExportReady". Without a thread that answers, it returns only once the status
  // block's m_bStopRecords is set, and then writes nothing.
  void GenerateTableInsertQueries(CString folder);
  // Script writes that failed (a full disk must not look like a finished export): the
  // schema's in this export and the rows' since the engine was made; and the objects exported
  // without a definition text.
  int FailedScriptWrites() const { return m_nFailedScriptWrites.load() + m_nFailedRowWrites.load(); }
  int ObjectsWithoutText() const { return m_nObjectsWithoutText.load(); }
  std::atomic<int> m_nFailedScriptWrites{0};
  std::atomic<int> m_nObjectsWithoutText{0};
  // Writes text to a script file; false (counted, the first failures logged) when it failed.
  bool WriteScript(FILE_HANDLE file, const CString& text);
  // Creates a column's default object once per export: on database, or into Default.sql.
  // With a type name, also binds it to that user data type, once per export.
  void BindTypeObjects(const std::vector<const CDataType*>& types);
  void EmitRule(const CViewStoredProc* rule, FILE_HANDLE file);
  void SendRuleBinding(const CString& statement, FILE_HANDLE file);
  // Rules created with the types in this export: the rules' own export does not create them again.
  std::set<CString> m_setTypeRules;
  // Into `file` when given (the types' script), else into the defaults script.
  void CreateDefaultObject(const CString& text, bool server, CDatabase* database, const CString& boundType = CString(),
                           FILE_HANDLE file = kInvalidFile);
  // One line per completed GenerateTableInsertQueries, for a batch file that runs them.
  CString m_strBatchCommands;

  // ---- record walks (walk2000.cpp)
  static constexpr int kPreviewWindowRows = 500;
  // The record thread: a preview window of m_pStatus->m_pPreviewTable, or in export mode the
  // rows of m_pStatus->m_pExportTable (to m_pDatabase when m_bExportToServer is set).
  static DWORD RecoverTableRecordThread(void* engine);
  // The export walk of one table, whatever the engine's mode flags say meanwhile.
  static DWORD RecoverTableRecordThread(void* engine, CTable* table, CDatabase* database);
  // The rows of one table as INSERT statements: written to m_hTableSqlFile (database null) or
  // executed on `database` in batches of "Exportsize" slots. m_nRowsExported counts the rows
  // written or executed. Obeys the record-stop flag; several tables may be exported at once
  // from different threads, each with its own connection.
  void ExportTableRows(CTable* table, CDatabase* database);
  // Ends the record walks' bookkeeping for this engine: a preview walk still running stops at
  // its next slot and publishes nothing. The destructor calls it.
  void StopRecordWalks();
  // Where the next preview window begins.
  WindowStart m_posResume;
  // Row script writes that failed since the engine was made (a full disk, a closed file).
  std::atomic<int> m_nFailedRowWrites{0};
  static std::shared_ptr<PreviewWalks2000> NewPreviewWalks();
  std::shared_ptr<PreviewWalks2000> m_pPreviewWalks = NewPreviewWalks();

  // Members the 2000 engine adds.
  CString m_strExtension;
  // The full set the chosen differential set is read over (LocateDataSet); null for a full
  // set, or when the file holds no base for the differential. The source then numbers the
  // differential's pages first and the base's after them.
  CBackupSet* m_pBaseSet = nullptr;
  INT64 m_llDataSetStart = 0;
  INT64 m_llDataSetLength = 0;
  int m_nUnicodeNameCounter = 1;
  CMapStringToString m_mapForeignKeyNames;       // "%lu" constraint id -> name
  // Constraint rows of sysobjects (foreign keys, CHECK and default constraints) by object id:
  // their table, their column (info) and their status bits.
  struct CatalogConstraint {
    CString name;
    char type = 0;  // 'F', 'C', 'D'
    DWORD parentId = 0;
    WORD columnId = 0;
    DWORD status = 0;
  };
  std::map<DWORD, CatalogConstraint> m_mapConstraintObjects;
  CStringKeyMap<CTable*> m_mapForeignKeyTables;  // "%lu" table id -> table (of m_mapTables)
  CStringKeyMap<CIndexInfo*> m_mapObjectTexts;   // "%ld" object id -> object-text record (owned)
  CMapStringToString m_mapExecutedStatements;
  ByteFlag m_bAvoidDuplicate{0};
  CString m_strSqlBatch;
  std::atomic<int> m_nRowCount{0};

 private:
  DWORD RunExportWalk(CTable* table, CDatabase* database);
  static DWORD RunPreviewWalk(CSQLServer2000* engine, std::shared_ptr<PreviewWalks2000> walks, UINT64 ticket);
  void SetRecordWalkDone();

  void RunScan();
  bool Stage(const char* text);
  bool HandShake(const char* waitingText, const char* receivedText);
  void PublishCounts();
  // Object texts gathered by the syscomments walk: the rows of one (object id, number) by
  // colid, joined when the walk ends.
  struct TextPieces {
    WORD number = 0;
    WORD colid = 0;
    std::map<WORD, CString> rows;
  };
  void StoreObjectTexts();
  CViewStoredProc* FindTextOwner(const CString& key, CStringKeyMap<CViewStoredProc*>** map);

  int m_nCensusHandOverEvery = 1;
  // Default objects already created or written in this export: tables share them, and a
  // second CREATE DEFAULT of one name fails.
  std::mutex m_csDefaultObjects;
  std::set<std::string> m_setDefaultObjects;
  // Ids of sysobjects rows that are not user tables: their syscolumns rows (view columns,
  // procedure parameters) make no table.
  std::set<DWORD> m_setNonTableObjects;
  // The catalog page checks of this scan, failed pages told as scan warnings; and where each
  // walked catalog page lies in the source.
  CCatalogPageChecks m_catalogChecks{&CSQLServer2000::SystemTableName,
                                     [this](const std::string& text) { NoteScanWarning(CString(text)); }};
  std::map<DWORD, DWORD> m_mapCatalogPagePlaces;
  std::map<std::pair<DWORD, WORD>, TextPieces> m_mapTextPieces;
  CTablePool m_tablePool;
};

// The script-set generators under their plain names, for callers that bind the library by
// symbol name (a C++ member's name is mangled).
extern "C" {
PELLWYN2000_EXPORT void GenerateQueries(CSQLServer2000* engine, const char* folder);
PELLWYN2000_EXPORT void GenerateTableInsertQueries(CSQLServer2000* engine, const char* folder);
}
