// Catalog records: tables, columns, variable-length columns, keys and indexes, object
// texts and user data types, with their scan-file form.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/collections.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/types.h"

class CArchive;
class DeletedRowPlanCache;

class CDataType {
 public:
  BYTE m_bSystemTypeId = 0;
  WORD m_wLength = 0;
  BYTE m_bPrecision = 0;
  BYTE m_bScale = 0;
  DWORD m_dwValue1 = 0;  // the four values copied from the data type row, in row order
  DWORD m_dwValue2 = 0;
  DWORD m_dwValue3 = 0;
  DWORD m_dwValue4 = 0;  // not carried by the scan file
  CString m_strName;
  // Columns of the type refuse NULL unless they say otherwise (sp_addtype ..., 'NOT NULL').
  bool m_bNotNull = false;
  // What sp_bindefault / sp_bindrule bound to the type itself: the catalog's object ids (0 for
  // none) and the rule's name once the rules are known. Kept in the scan file's extension.
  DWORD m_dwDefaultObjectId = 0;
  DWORD m_dwRuleId = 0;
  CString m_strRuleName;
  // The bound default object's CREATE DEFAULT statement, once the objects' texts are known;
  // empty when the type has none or its text was not recovered.
  CString m_strDefaultText;

  // Archived size with every text empty: the least a record takes in a scan file.
  static constexpr size_t kMinArchiveBytes = 18;
  void Save(CArchive& ar) const;
  void Load(CArchive& ar);
};

class CColumn {
 public:
  CString m_strName;
  CString m_strType;
  CString m_strUserType;
  CString m_strDefault;
  CString m_strComputed;
  WORD m_wColOrder = 0;
  WORD m_wSpare = 0;
  DWORD m_dwRowsetColumn = 0;
  DWORD m_dwIdentitySeed = 0;
  DWORD m_dwIdentityIncrement = 0;
  short m_nOffset = 0;
  int m_nColumnId = 0;
  WORD m_wLength = 0;
  BYTE m_bPrecision = 0;
  BYTE m_bScale = 0;
  BYTE m_bBitPosition = 0;
  int m_bDropped = 0;
  int m_bFirstFixed = 0;
  int m_nValue19 = 0;
  int m_nValue20 = 0;
  bool m_bNullable = false;
  bool m_bCatalogOffset = false;
  bool m_bIdentity = false;
  // Full identity values (bigint identities keep 64 bits and the sign in memory).
  INT64 m_nIdentitySeed64 = 0;
  INT64 m_nIdentityIncrement64 = 0;
  // The name of the default constraint whose text m_strDefault holds; empty for a bound
  // default object or when the catalog gave no name.
  CString m_strDefaultName;
  // The rule bound to the column (sp_bindrule), as its object is named; empty when none.
  CString m_strRuleName;
  // The stored collation id: the code page char, varchar and text values are shown in
  // (CodePageOfCollation). Not carried by the scan file: a loaded scan shows them as 1252.
  DWORD m_dwCollation = 0;
  CColumn* m_pNext = nullptr;

  // Archived size with every text empty: the least a record takes in a scan file.
  static constexpr size_t kMinArchiveBytes = 60;
  void Save(CArchive& ar) const;
  void Load(CArchive& ar);
};

class CVarColumn {
 public:
  CString m_strName;
  CString m_strDefault;
  CString m_strType;
  WORD m_wColOrder = 0;
  WORD m_wLength = 0;
  DWORD m_dwRowsetColumn = 0;
  int m_bDeleted = 0;
  int m_nValue8 = 0;
  short m_nVarIndex = 0;
  CVarColumn* m_pNext = nullptr;

  // Archived size with every text empty: the least a record takes in a scan file.
  static constexpr size_t kMinArchiveBytes = 21;
  void Save(CArchive& ar) const;
  void Load(CArchive& ar);
};

class CIndexInfo {
 public:
  DWORD m_dwId = 0;
  // The nine flag bytes, in declared order.
  BYTE m_bConstraint = 0;
  BYTE m_bPrimaryKey = 0;
  BYTE m_bClustered = 0;
  BYTE m_bNonClustered = 0;
  BYTE m_bUnique = 0;
  BYTE m_bFlag6 = 0;
  BYTE m_bFlag7 = 0;
  BYTE m_bFlag8 = 0;
  BYTE m_bFlag9 = 0;
  // The 2000 format keeps one more archived flag and an eleventh flag and a second number
  // that stay in memory only.
  BYTE m_bFlag10 = 0;
  BYTE m_bFlag11 = 0;
  int m_nValue = 0;
  int m_nValue2 = 0;
  CString m_strName;
  CString m_strText;
  std::vector<int> m_vecColumns;
  // Per key column: true when the column is sorted descending (same order as m_vecColumns).
  std::vector<bool> m_vecDescending;
  // Columns the index carries beside its keys (INCLUDE), by column id in catalog order; not
  // archived by the first form (the scan file's extension carries them).
  std::vector<int> m_vecIncluded;
  // The predicate of a filtered index, as the catalog stores it ("([c] IS NOT NULL)"); empty
  // for an index over every row. Kept by the scan file's extension only.
  CString m_strFilter;

  // Archived size with every text empty: the least a record takes in a scan file.
  static constexpr size_t kMinArchiveBytes = 50;
  void Save(CArchive& ar) const;
  void Load(CArchive& ar);
};

// What the catalog says of a constraint beyond its definition: whether the server checked
// the rows it holds, whether it is switched off, whether replication agents skip it, and
// whether the server made up its name.
struct ConstraintState {
  bool notTrusted = false;
  bool disabled = false;
  bool notForReplication = false;
  bool systemNamed = false;
};

// Referential actions as the catalog numbers them.
enum : BYTE { kNoAction = 0, kCascade = 1, kSetNull = 2, kSetDefault = 3 };

// A foreign key: entry i of the two column lists forms one column pair. The 2000 format
// keeps its names in a map of the engine; the 2005/2008 format fills m_strName.
class CForeignKey {
 public:
  DWORD m_dwConstraintId = 0;
  DWORD m_dwTableId = 0;     // referencing table
  DWORD m_dwRefTableId = 0;  // referenced table
  std::vector<WORD> m_vecKeyColumns;
  std::vector<WORD> m_vecRefColumns;
  CString m_strName;
  BYTE m_bDeleteAction = kNoAction;
  BYTE m_bUpdateAction = kNoAction;
  ConstraintState m_state;
  CForeignKey* m_pNext = nullptr;

  WORD Count() const { return WORD(m_vecKeyColumns.size()); }
};

// A CHECK constraint of a table, column and table constraints alike.
class CCheckConstraint {
 public:
  DWORD m_dwId = 0;
  CString m_strName;
  CString m_strText;    // the condition as the catalog holds it, "([Quantity]>(0))"
  WORD m_wColumnId = 0; // the column a column constraint belongs to; 0 for a table constraint
  ConstraintState m_state;
};

// A column of a view as the catalog lists it: enough to name an index key.
struct ViewColumn {
  int id = 0;
  CString name;
};

class CViewStoredProc {
 public:
  CString m_strName;
  WORD m_wValue1 = 0;
  WORD m_wValue2 = 0;
  CString m_strText;
  // Of a view only, read for its indexes (an indexed view): the owner its index statements
  // name, its columns by column id and its indexes in the order read (m_dwId the index id).
  // None of them is archived by the first form; the scan file's extension keeps them for the
  // views that have indexes.
  CString m_strOwner;
  std::vector<ViewColumn> m_vecColumns;
  std::vector<CIndexInfo> m_vecIndexes;

  // The index of that id, or null.
  CIndexInfo* FindIndex(DWORD id);
  // Adds a column once: a page read twice gives its rows twice.
  void AddColumn(int id, const CString& name);
  // The column's name, or null for an id the view has no column of.
  const CString* ColumnName(int id) const;

  // Archived size with every text empty: the least a record takes in a scan file.
  static constexpr size_t kMinArchiveBytes = 6;
  void Save(CArchive& ar) const;
  void Load(CArchive& ar);
};

class CTable {
 public:
  CTable();
  ~CTable();
  CTable(const CTable&) = delete;
  CTable& operator=(const CTable&) = delete;

  CString m_strName;               // 1
  CString m_strText2;              // 2
  CString m_strText3;              // 3
  CString m_strText4;              // 4
  CString m_strOwner;              // 5 owner (schema) name
  DWORD m_dwValue6 = 0;            // 6
  DWORD m_dwObjectId = 0;          // 7
  int m_nCatalogColumns = 0;       // 8 catalog column count (dropped columns not counted)
  int m_nVarColumns = 0;           // 9 variable-column counter
  int m_nAllColumns = 0;           // 10 column count including dropped columns
  int m_nBitColumns = 0;           // 11
  int m_nExtraColumn = 0;          // 12 extra-column flag (clustered, not unique index)
  int m_nMaxColumnId = 0;          // 13 highest column id
  int m_nValue14 = 0;              // 14
  CString m_strText15;             // 15
  int m_nValue16 = 0;              // 16 (not archived)
  std::string m_strRowText;        // 17 (not archived)
  WORD m_wVarColumnCap = 0;        // 18 variable-column count limit
  bool m_bHasIdentity = false;     // 19
  bool m_bHasNtext = false;        // 20 ntext flag of the table script
  bool m_bHasBlob = false;         // 21 Blob flag of the table script

  CColumn* m_pColumnHead = nullptr;  // 22
  CColumn* m_pColumnTail = nullptr;
  CColumn* m_pColumn2Head = nullptr;  // 23 (not archived)
  CColumn* m_pColumn2Tail = nullptr;
  CVarColumn* m_pVarHead = nullptr;  // 24
  CVarColumn* m_pVarTail = nullptr;

  // Its foreign keys (owned, appended at the tail) and, in the 2000 format, whether index
  // records were read for it (not archived).
  CForeignKey* m_pForeignKeyHead = nullptr;
  CForeignKey* m_pForeignKeyTail = nullptr;
  bool m_bHasIndexes = false;
  // Its CHECK constraints in object-id order (carried by the scan file's extension).
  std::vector<CCheckConstraint> m_vecChecks;

  CMapStringToString m_mapComputed;                 // 25 column id text -> computed/default text
  CStringKeyMap<CIndexInfo*> m_mapTableIndexes;     // 26 index id text -> index record (owned)
  CMapStringToString m_mapVarTypes;                 // 27 variable index text -> type name
  std::vector<int> m_vecExtentPages;                // 28
  std::vector<DWORD> m_vecDataPages;                // 29 data pages, walked by the record threads
  std::vector<DWORD> m_vecValue30;                  // 30 (not archived)
  DWORD m_dwRowsetValue = 0;                        // 31 16-bit value of the rowset row
  DWORD m_dwFirstIamPage = 0;                       // 32
  WORD m_wFirstIamFile = 0;                         // 33
  CString m_strText34;                              // 34
  CString m_strBlobFolder;                          // 35 folder of the large-value files
  int m_nRowsExported = 0;                          // 36 (not archived)
  // Server export: rows decoded but not stored (refused, or lost with the connection).
  int m_nRowsNotStored = 0;                         // (not archived)

  // Not carried by the scan file.
  INT64 m_nAllocUnitId = 0;                 // allocation-unit records
  std::vector<DWORD> m_vecFreedPages;       // pages the allocation map marks free (deleted data)
  std::vector<CColumn*> m_vecColumnById;    // column index by column id, empty entries null
  FILE_HANDLE m_hBlobFile = kInvalidFile;   // Blob file being written
  // What a cut-off source lost of this table's catalog ("columns 1-7 missing"); empty when
  // nothing is known to be missing.
  CString m_strCatalogLoss;
  // Deleted rows of the last row export: exported, and left out as copies of other rows.
  int m_nDeletedRecovered = 0;
  int m_nDeletedCopies = 0;
  // Which slots the walks read deleted rows from, once worked out (common/deletedrows.h).
  std::shared_ptr<DeletedRowPlanCache> m_pDeletedRows;

  // Appends a column (or variable column) at the tail of its list; the table owns it.
  void AppendColumn(CColumn* column);
  void AppendVarColumn(CVarColumn* column);
  void AppendForeignKey(CForeignKey* key);
  // Replaces (and frees) an index record under a key.
  void SetIndex(const CString& key, CIndexInfo* index);

  // Archived size with every text empty: the least a record takes in a scan file.
  static constexpr size_t kMinArchiveBytes = 94;
  void Save(CArchive& ar) const;
  void Load(CArchive& ar);
};
