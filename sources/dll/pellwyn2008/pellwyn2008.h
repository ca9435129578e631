// The 2005/2008-format engine.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "common/catalogpages.h"
#include "common/enginesupport.h"
#include "common/pagesource.h"
#include "common/sqlserver.h"
#include "common/sqltext.h"

// Off-row values (lob.h, over common/lobcore.h).
struct OffRowPointer;
namespace lobcore {
class Sink;
struct Report;
}  // namespace lobcore
using LobSink = lobcore::Sink;
using LobReadReport = lobcore::Report;
// Stored records (record.h).
struct ColumnPlan;
struct RecordCell;
class RecordPlan;
struct DecodedRecord;
struct PreviewWalks;
class DeletedRowPlan;

#if defined(__GNUC__)
#define PELLWYN_EXPORT __attribute__((visibility("default")))
#else
#define PELLWYN_EXPORT
#endif

class PELLWYN_EXPORT CSQLServer2008 : public CSQLServer {
 public:
  CSQLServer2008();
  ~CSQLServer2008() override;

  // The version text this engine's scan files carry after the magic word.
  const char* ScanFileVersion() const { return m_szScanFileVersion; }

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

  // Record recovery threads (preview with the engine alone; export with a table and a
  // connection).
  static DWORD RecoverTableRecordThread(void* engine);
  static DWORD RecoverTableRecordThread(void* engine, CTable* table, CDatabase* database);

  // Page helper kept as an engine operation: body = page + 96.
  void RestoreTornBits(BYTE* body, DWORD tornBits);

  // Every table record of the engine is created here; the engine owns it until
  // FreeRecoveredObjects, whichever maps point at it.
  CTable* NewTable();

  // ---- scan thread, page location and census
  // Text after the last '.' of the source path; empty when the path has two characters or
  // fewer or holds no '.'.
  CString GetFileExtension() const;
  bool IsBackupExtension() const;
  // Finds the chosen set; for a differential set also its base full set in the same file
  // (m_pBaseSet), whose pages the census reads after the differential's own.
  void LocateBackupDataSet();
  // The page-id index of the located set, as the census builds it, without the rest of the
  // census: for a scan reopened from its file, whose off-row values are found by page id.
  // False when no set is located or the file cannot be opened.
  bool IndexSourcePages();
  // The full set a differential set is read over: the latest full set of the same database
  // before it in the file (the database named by each set's boot page). Null when the file
  // holds none.
  CBackupSet* FindDifferentialBase(int number, const CBackupSet* differential);
  // Byte position of page n of the source (stream index inside a backup set, page number of
  // a plain file) into *position; 0 when the chosen set does not hold the page. A
  // differential set read over its base numbers its own stream's pages first, then the
  // base's.
  void GetPageOffset(int page, INT64* position);
  void ReadAllPages();
  // Reads page n of the source (as the census numbers pages) into an 8192-byte buffer.
  // False, with the buffer zeroed, when the page is not in the source or cannot be read whole.
  bool ReadSourcePage(DWORD page, BYTE* buffer);
  // Reads the page whose own page id is pageId (the pages off-row links and other in-page
  // references name): inside a backup the text-page map, then the census's page-id index
  // (false when the set holds no such page); in a plain file the page numbered pageId.
  bool ReadPageById(DWORD pageId, BYTE* buffer);
  // Stream index of the page with this page id inside a backup set; false when the census saw
  // no such page.
  bool StreamIndexOfPageId(DWORD pageId, DWORD& index) const;
  // Waits for an event in short slices so a stopped scan never hangs; false when the scan
  // was stopped or the wait failed.
  bool WaitUnlessStopped(const EVENT_HANDLE& event);
  bool ScanStopped() const { return m_pStatus && m_pStatus->m_bStopScan.load(); }
  // Census pages are handed to the progress partner one at a time by default; a partner that
  // counts pages through m_nCensusPagesRead may ask for a hand-over every N pages.
  void SetCensusHandOverEvery(int pages) { m_nCensusHandOverEvery = pages > 0 ? pages : 1; }
  std::atomic<long long> m_nCensusPagesRead{0};

  // ---- catalog stages (allocation units, rowsets, objects, owners, types, texts)
  // A row decoder of a system table: the page body (page + 96, 8096 bytes) and the record's
  // offset within it. Decoders read only through bounded views of the body.
  using RowDecoder = void (CSQLServer2008::*)(BYTE* body, WORD recordOffset);
  // The system-table page walk: every data page of system object `objectId` (its group in
  // m_mapTables, in list order), torn bits restored, each accepted slot given to `decoder`;
  // pages with more than slotLimit slots are skipped when slotLimit > 0. The page count is
  // logged ("Found : %d") unless logFound is false.
  void WalkSystemTable(const char* objectId, RowDecoder decoder, int slotLimit = 0, bool logFound = true);
  void ReadAllocationInfo();
  void ReadRowsets();
  // After the catalog stages: data pages no catalog row ties to a table (catalog_damage.cpp).
  void RecoverUnclaimedPages();
  bool PageGroupLayout(const CTable& group, int& fixedEnd, int& columns);
  void NoteScanWarning(const CString& text);
  // The catalog page checks of the system-table walk (catalog_damage.cpp). The name of a
  // system table the catalog stages read, by its object id; null for another.
  static const char* SystemTableName(DWORD objectId);
  // The end of one system table's walk: the linked pages the walk did not get, read by page id.
  void FinishCatalogPageCheck(CCatalogPageCheck& check);
  // After the catalog walks: the first page each system table's allocation row names, where
  // the walk of that table did not get it (a table whose only page failed has no neighbour to
  // name it).
  void CheckCatalogFirstPages();
  void GatherDataTypes();
  void ReadOwnerNames();
  void ReadObjectInfo();
  void ReadObjectValues();
  // Gives one row of a catalog page (whole page, slot entry) to the row decoder of the system
  // object named by its id text ("41", "5", "7", "60", "34"); other ids are ignored.
  void DecodeCatalogRow(const CString& objectId, BYTE* page, WORD slotEntry);
  // Row decoders of those stages (RowDecoder shape).
  void DecodeAllocUnitRow(BYTE* body, WORD recordOffset);
  void DecodeRowsetRow(BYTE* body, WORD recordOffset);
  void DecodeDataTypeRow(BYTE* body, WORD recordOffset);
  void DecodeOwnerRow(BYTE* body, WORD recordOffset);
  // Schema rows (class 50) of system object 64: their names win over the principals'.
  void DecodeSchemaRow(BYTE* body, WORD recordOffset);
  void DecodeObjectRow(BYTE* body, WORD recordOffset);
  void DecodeObjectValueRow(BYTE* body, WORD recordOffset);
  // The rowset stage's second half: hands every table object the census pages of its units.
  void LinkUnitPagesToTables();
  // Gives the census pages of the unit keyed `unitKey` to the table of its object id; false
  // when the unit is not taken (its catalog row names no IAM page).
  bool LinkUnitPages(const std::string& unitKey, CTable* unit);
  // A table whose rowset rows were lost still has its columns, and the rowsets of its units
  // their stored columns: a rowset no rowset row ties to an object, holding data pages, whose
  // stored columns (types and lengths) are those of exactly one such table, and no other
  // table's, is that table's. Call once m_mapHobtColumns holds the stored columns.
  void LinkOrphanRowsetsByColumns();
  // Constraint objects of system object 34 (foreign keys, CHECK and default constraints,
  // unique keys), by object id: what their references and texts are filed under.
  struct CatalogConstraint {
    CString name;
    CString type;       // "F", "C", "D", "UQ"
    int parentId = 0;   // the table; 0 for a default object made by CREATE DEFAULT
    DWORD status = 0;
  };
  std::map<int, CatalogConstraint> m_mapConstraintObjects;
  // The foreign keys as system object 74 (object references) describes them, by constraint
  // id: the referenced table, and per key position the referencing and referenced column.
  struct ForeignKeyReferences {
    int refTableId = 0;
    std::map<int, std::pair<int, int>> parentColumns;  // position -> (table id, column id)
    std::map<int, std::pair<int, int>> refColumns;     // position -> (table id, column id)
  };
  std::map<int, ForeignKeyReferences> m_mapForeignKeyReferences;
  // Definition texts filed under a table and a sub-object that is no column: the predicates
  // of filtered indexes, by (table id, index id). The object values are read before the
  // index rows, which take their predicate from here.
  std::map<std::pair<int, int>, CString> m_mapIndexFilterTexts;
  void ReadObjectReferences();
  void DecodeObjectReferenceRow(BYTE* body, WORD recordOffset);
  // Once the tables are final: each gets its foreign keys and CHECK constraints; what cannot
  // be put together whole is logged and left out.
  void AttachConstraints();

  // ---- catalog stages (indexes, columns, schema completion)
  void ReadIndexInfo();
  void ReadColumnInfo();
  void ReadRsCols();
  void FilterObjects();
  void ReadIsCols();
  void OrganizeSchemaInfo();
  // Row decoders of system objects 54 (indexes), 41 (columns), 3 (rowset columns) and 55
  // (index key columns); same arguments as RowDecoder.
  void DecodeIndexRow(BYTE* body, WORD recordOffset);
  void DecodeColumnRow(BYTE* body, WORD recordOffset);
  void DecodeRsColRow(BYTE* body, WORD recordOffset);
  void DecodeIsColRow(BYTE* body, WORD recordOffset);
  // SQL type name of a system type id ("int", "nvarchar", ...); empty for an unknown id.
  static CString GetTypeName(BYTE systemTypeId);
  // The column status byte rebuilt from a column row's status bits (added, not or-ed, so it
  // wraps); identity is read from the status bits themselves, not from this byte.
  static BYTE BuildColumnStatus(BYTE systemTypeId, DWORD status);
  // Gives the column whose column order is rowsetColumnId (a live one before a dropped one)
  // its physical column id, which is also its null-bitmap position; returns that column.
  CColumn* SetPhysicalColumnId(CTable* table, DWORD physicalColumnId, DWORD rowsetColumnId);
  // The column's place in a stored row: a negative offset is minus its variable index, a
  // positive one its offset in the fixed part; bit columns also get their bit.
  void ApplyColumnPosition(CTable* table, CColumn* column, short offset, WORD bitPosition);
  // Rowset column `rowsetColumn` of rowset `rowsetId` is stored at `offset` with null-bitmap
  // number `physicalColumn`: the column of that id of every table the rowset's allocation
  // units belong to gets that place (SetPhysicalColumnId, then ApplyColumnPosition).
  void PlaceRowsetColumn(INT64 rowsetId, DWORD rowsetColumn, DWORD physicalColumn, short offset, WORD bitPosition);
  // The database's on-disk version from its boot page (611 for 2005, 655 and up for 2008);
  // 0 when the boot page cannot be read.
  int ReadOnDiskVersion();
  // 2005-format files keep the stored places in two catalogs of their own: system object 13,
  // the columns of every heap and B-tree with offset, null bit and bit position, and system
  // object 4, which column of each rowset every one of them is. Read as one stage.
  void ReadHobtColumns();
  void DecodeHobtColumnRow(BYTE* body, WORD recordOffset);
  void DecodeRowsetColumnRow(BYTE* body, WORD recordOffset);
  // One line per user table with columns the catalog left unplaced, whose places the row
  // decoders then compute from the column order.
  void LogComputedPositions();
  // A column's place in the stored rows of one heap or B-tree (system object 13).
  struct StoredColumnPlace {
    short offset = 0;
    WORD nullBit = 0;
    WORD bitPosition = 0;
    // The column's type as the hobt stores it: all a table whose column rows were lost keeps.
    BYTE systemType = 0;
    WORD length = 0;
    BYTE precision = 0;
    BYTE scale = 0;
    DWORD collation = 0;
    DWORD status = 0;
  };
  // Filled and emptied by ReadHobtColumns: (hobt id, hobt column id) -> its place, and the
  // hobts that rows of system object 4 named.
  std::map<std::pair<INT64, DWORD>, StoredColumnPlace> m_mapHobtColumns;
  std::set<INT64> m_setHobtsNamedByRowsets;
  // (rowset id, hobt column id) -> rowset column id, as system object 4 pairs them.
  std::map<std::pair<INT64, DWORD>, DWORD> m_mapRowsetColumnOfHobt;
  // A user table the catalog names (or whose pages name it) but whose column rows were all
  // lost: its columns rebuilt, as "Column_N", from the stored types of its heap or clustered
  // hobt, each declared as its column row would declare it; a stored type this reader cannot
  // decode (a CLR type, an unknown id) is kept as binary or varbinary bytes. Gives the rebuilt
  // tables, each named once in a scan warning that also names the columns kept as bytes.
  std::set<CTable*> RebuildLostColumns();
  // RebuildLostColumns, then every rebuilt column's place from the same rows.
  void RebuildAndPlaceLostColumns();
  // The tables of this scan whose columns were rebuilt so: their CHECK conditions name
  // columns by the names that were lost, and are left out.
  std::set<const CTable*> m_setColumnsRebuilt;

  // ---- off-row large values
  // Pages are named by page id, as links name them. The value (or subtree) at page/slot as
  // text, lower-case hex (hex) or, in Blob mode, appended raw to table->m_hBlobFile with an
  // empty result. `root` admits a large root whose identifier equals `stamp`; `textCheck`
  // gives "?????" for bytes that are not UTF-16 text of single-byte characters. Damage ends
  // the read with what was gathered before it, never with an error.
  CString ReadLobValue(DWORD page, WORD slot, DWORD stamp, bool hex, bool root, bool textCheck, bool blob,
                       CTable* table);
  // The children of the internal node at page/slot, read as ReadLobValue reads.
  CString ReadLobFragment(DWORD page, WORD slot, DWORD stamp, bool hex, bool textCheck, bool blob, CTable* table);
  // Every byte of the value a row's off-row pointer names, in value order. True when it was
  // read whole; `report` (optional) says how far the walk got and why it stopped.
  bool ReadOffRowValue(const OffRowPointer& pointer, LobSink& sink, LobReadReport* report = nullptr);

  // ---- row decoding, preview and export walks
  static constexpr int kPreviewWindowRows = 500;
  // Preview texts: one column value with its markers ("NULL", "Empty", "<binary data>"...),
  // and a whole row, every value followed by "$#$".
  CString PreviewCellText(const ColumnPlan& column, const RecordCell& cell);
  CString PreviewRowText(const RecordPlan& plan, const DecodedRecord& record);
  // Which rows a walk over `pages` (the table's data pages, then the pages set aside for it)
  // reads when deleted rows are recovered; `log` writes what was left out, and why.
  DeletedRowPlan PlanDeletedRowsOf(const CTable& table, const std::vector<DWORD>& pages, const RecordPlan& plan,
                                   bool log);
  // One preview window of m_pStatus->m_pPreviewTable, run by the record thread. Tickets
  // order the preview walks of an engine: they run one at a time, and a walk whose ticket is
  // no longer the latest leaves without output and without touching the window state.
  // `walks` is the engine's m_pPreviewWalks, held by the caller: a walk that was replaced
  // touches nothing else, even when it starts after the engine is gone.
  static DWORD RunPreviewWalk(CSQLServer2008* engine, std::shared_ptr<PreviewWalks> walks, UINT64 ticket);
  UINT64 TakePreviewTicket();
  // The end of a record walk that is not a preview (an export walk on the worker's or a pool
  // thread): sets m_bRecordThreadDone unless a preview window is on its way, whose walk alone
  // may say its rows are ready.
  void SetRecordWalkDone();
  static std::shared_ptr<PreviewWalks> NewPreviewWalks();
  std::shared_ptr<PreviewWalks> m_pPreviewWalks = NewPreviewWalks();
  // The export walk of the one-argument record thread (export mode): the rows of
  // m_pStatus->m_pExportTable as the plain table script wants them.
  static DWORD RunScriptWalk(CSQLServer2008* engine);
  // First path "folder/BlobN" (N from 1) that names no file yet; empty when none is left.
  CString GetFreeBlobFileName(CString folder);
  // True when the page with this page id is a text page (type 3 or 4) holding that slot.
  bool IsValidTextPageSlot(DWORD page, DWORD slot);

  // ---- schema scripts
  // Statement separator of every script file.
  static constexpr const char* kScriptGo = kSqlScriptGo;
  // Seconds a schema statement may run on a server: keys and indexes are built after the
  // rows are in, which takes far longer than a connection's default time-out.
  static constexpr DWORD kSchemaQueryTimeout = 1800;
  // Keys, constraints and indexes of one table, the clustered one first: to the constraints
  // file, or executed on `database` in a server export.
  void GenerateConstraintQueries(CTable* table, CDatabase* database);
  // Starts the bookkeeping of one export (default objects created, failure counts). The
  // export's first call, GenerateUserDataTypeQueries, runs it.
  void BeginSchemaExport();
  // Runs one statement on a connection. A refused statement is logged with its first 200
  // characters and the server's message, counted for `table` (may be null), and false is
  // returned; the caller goes on. Safe from several pool threads at once.
  // lost: set when the statement failed because the connection is gone.
  bool ExecuteLogged(CDatabase* database, const CString& sql, const char* what, const CTable* table,
                     bool* lost = nullptr);
  // Writes a text whole to a script file; a failed or short write is logged and counted.
  bool WriteScript(FILE_HANDLE file, const CString& text);
  // Statements the server refused in the last server export of this table.
  int FailedStatementCount(const CTable* table) const;
  // Script writes that failed since the export began.
  int FailedScriptWrites() const { return m_nFailedScriptWrites.load(); }
  // Objects left out since the export began because they have no definition text.
  int ObjectsWithoutText() const { return m_nObjectsWithoutText.load(); }

  mutable std::mutex m_csSchemaCounts;     // guards m_mapFailedStatements
  CStringKeyMap<int> m_mapFailedStatements;  // object id text -> refused statements
  std::mutex m_csDefaultObjects;           // guards m_mapDefaultsCreated and their creation
  CStringKeyMap<int> m_mapDefaultsCreated;   // default-object texts created in this export
  // Rules created with the types in this export: the rules' own export does not create them again.
  std::set<CString> m_setTypeRules;
  std::atomic<int> m_nFailedScriptWrites{0};
  std::atomic<int> m_nObjectsWithoutText{0};

  // ---- scan file
  // Asks where to save a scan file (the desktop shows its save dialog); false = cancelled.
  // Unset, SaveScanInfo saves nothing.
  std::function<bool(CString& path)> m_fnAskSavePath;
  // Writes the scan file to path: a temporary file beside it, renamed over the target only
  // when complete. False (logged, with the reason in *error) when it could not be written;
  // an existing file is then left as it was.
  bool SaveScanFile(const char* path, CString* error = nullptr);
  // Result of the last SaveScanInfo: 1 saved, 0 failed, -1 cancelled or not asked.
  int m_nLastSaveResult = -1;
  // False when rows cannot be read: the source is a backup but no set is located (a scan
  // loaded from a scan file).
  bool HasPageSource() const;

  // Members the 2008 engine adds, in declaration order.
  INT64 m_nDataSetStart = 0;
  INT64 m_nDataSetLength = 0;
  CString m_strSqlBatch;
  ByteFlag m_bBatchFull{0};
  int m_nObjectSerial = 0;
  std::atomic<int> m_nWindowRows{0};
  int m_nUnicodeNameSerial = 1;
  int m_nLobState = 0;
  ByteFlag m_bLobFlag{0};
  CStringKeyMap<std::vector<CTable*>> m_mapAllocUnits;
  CStringKeyMap<CTable*> m_mapRowsets;
  CStringKeyMap<CIndexInfo*> m_mapIndexes;
  CStringKeyMap<CTable*> m_mapPageGroups;
  CMapStringToString m_mapRowsetObjects;
  // Page groups whose pages LinkUnitPagesToTables gave to a table.
  std::set<std::string> m_setLinkedUnits;
  // The catalog page checks of this scan, failed pages told as scan warnings.
  CCatalogPageChecks m_catalogChecks{&CSQLServer2008::SystemTableName,
                                     [this](const std::string& text) { NoteScanWarning(CString(text)); }};
  // Rows per table as its heap or clustered rowsets count them (sysrowsets rcrows).
  std::map<DWORD, INT64> m_mapCatalogRowCounts;
  // Tables a heap or clustered rowset row was read for: a table without one may hold rows
  // its lost rowset rows would have counted.
  std::set<DWORD> m_setTablesWithRowsets;
  // Every object id an object row was read for, whatever its kind: a table its rowsets name
  // but no object row does lost its name and kind with that row.
  std::set<DWORD> m_setObjectRowIds;
  // The full set that the chosen differential set is read over; null for a full set, or
  // when the file holds no base for the differential.
  CBackupSet* m_pBaseSet = nullptr;
  PagePosition m_posNextPage;
  int m_nNextSlotPos = 0;
  int m_nNextSlotIndex = 0;
  // Text after the last '.' of the source path; empty until ScanDataSets has run or when
  // the path has none.
  CString m_strExtension;

 protected:
  // The 2005 and 2008 on-disk formats are read alike, so the 2005 engine is this one under
  // another name: its own format line in the log and its own version in its scan files.
  CSQLServer2008(const char* formatLogText, const char* scanFileVersion);

 private:
  const char* m_szScanFileVersion;
  void RunScan();
  bool OpenSource();
  // Logs a stage text; false when the scan was stopped before the stage.
  bool Stage(const char* text);
  bool HandShake(const char* waitingText);

  int m_nCensusHandOverEvery = 1;
  // The streams the census numbers its pages over, in order: the chosen set's, then its
  // base's; each bounded by what the file holds.
  std::vector<PageSegment> m_vecSetSegments;
  // What a census reads: its pieces one after the other, numbering pages on; the pages it
  // counts; whether a differential's base follows it.
  struct CensusPlan {
    std::vector<PageSegment> pieces;
    UINT64 totalPages = 0;
    int limit = 0;
    bool overlay = false;
  };
  // Opens what a census reads: the chosen set's stream and its base's, or the plain file.
  void OpenCensusSource(CPageSource& source) const;
  CensusPlan PlanCensus(const CPageSource& source) const;
  // Reads the plan's pages, handing each page read with its census index to `visit`, and
  // after every page, read or not, the pages counted so far to `counted` (false ends the
  // walk). A base set's copies of pages its differential holds are passed over; gives how
  // many were.
  int WalkCensusPages(const CPageSource& source, const CensusPlan& plan,
                      const std::function<void(const BYTE* page, DWORD index)>& visit,
                      const std::function<bool(int counted)>& counted) const;
  // Pages read, as runs of consecutive ids of one file at consecutive places, in census order.
  struct CensusRun {
    DWORD pageId;
    DWORD index;
    DWORD count;
    WORD fileId;
  };
  static void AddToRuns(std::vector<CensusRun>& runs, const BYTE* page, DWORD index);
  // Consecutive page ids at consecutive stream places: a backup skips whole extents, so a
  // set's pages fall into few such runs.
  struct PageIdRun {
    DWORD pageId;
    DWORD index;
    DWORD count;
  };
  // Page id -> stream index of every page of the chosen backup set: runs sorted by page id,
  // no two covering one id (where pages share an id, the first in the stream holds it).
  std::vector<PageIdRun> m_vecPageIdRuns;
  void SetPageIdIndex(const std::vector<CensusRun>& runs);
  // The page source rows and catalog pages are read from, kept open between reads and opened
  // again when the path or the located set changes. Guarded by m_csSource.
  mutable std::mutex m_csSource;
  CPageSource m_source;
  CString m_strSourceOpened;
  bool m_bSourceIsBackup = false;
  std::vector<PageSegment> m_vecSourceSegments;
  CTablePool m_tablePool;
};
