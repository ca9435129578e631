// The backup reader: walks a Microsoft Tape Format backup once, finds every backup set
// ("SSET" block) and the SQL data stream ("MQDA") that holds each set's database pages,
// and lists one CBackupSet per data stream under "1", "2", ...
//
// Tape structures read (little-endian; offsets from the start of the 8192-byte window
// read at a block's first byte):
//   block header   0  4  type ("SSET", "MSDA")
//                  4  4  block attributes, must be 0
//                  8  2  offset of the first stream header in the block
//   SSET          52  4  set attributes: 4 = full backup, 8 = differential
//                 62  2  data set number
//                 64  4  tape address (WORD size, WORD offset) of the set name
//                 72  4  tape address of the password
//                 76  4  tape address of the user name
//                 88  5  media write date, packed big-endian bit fields
//                 93  1  software major version (8 = SQL Server 2000 ... 11 = 2012)
//                 94  1  software minor version (50 for 2008 R2)
//   stream header  0  4  stream id ("APAD" pad, "MQDA" SQL data), 22 bytes in all
//                  6  2  media format attributes; 4 refuses the stream
//                  8  8  stream length
//
// Damaged backups are expected: every window read is bounded, stream lengths and
// offsets are clamped to the file, and the walk only ever moves forward.
#pragma once

#include <memory>
#include <vector>

#include "platform/collections.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/timeutil.h"
#include "platform/types.h"

// One SQL data stream as it lies in the backup file.
struct DataStreamInfo {
  UINT64 nOffset = 0;        // file position of the first data byte
  UINT64 nLength = 0;        // data bytes the file holds
  UINT64 nDeclaredLength = 0;  // data bytes the stream header declares; more than nLength
                               // when the file ends inside the stream
  UINT64 nLogicalStart = 0;  // range of this stream when the recorded streams are laid end to end
  UINT64 nLogicalEnd = 0;
  DataStreamInfo* pNext = nullptr;  // always null
};

class CBackupSet {
 public:
  CBackupSet() = default;

  UINT64 m_nPosition = 0;  // file position of the SSET block
  int m_nFirstPage = 0;    // range in the reader's running page numbering
  int m_nLastPage = 0;
  int m_nPages = 0;        // full: pages of its stream; differential: running total
  int m_nBackupType = 1;   // 1 full, 2 differential
  int m_nBaseStream = 0;   // differential: stream number of the latest full backup
  WORD m_wSetNumber = 0;
  BYTE m_nSoftwareMajor = 0;  // version of the software that wrote the set; 0 when unknown
  BYTE m_nSoftwareMinor = 0;
  // Texts from the SSET block's tape addresses, as UTF-8. A block
  // without the text gives "", so every reader can use them as they are.
  CString m_pszName;
  CString m_pszPassword;
  CString m_pszUser;
  DataStreamInfo* m_pStream = nullptr;  // owned by the reader
  SYSTEMTIME m_tmWritten;               // day of week and milliseconds stay 0
};

class CBackupReader {
 public:
  static constexpr size_t kWindowSize = 8192;
  enum SeekOrigin { begin, current, end };

  CBackupReader() = default;
  ~CBackupReader();
  CBackupReader(const CBackupReader&) = delete;
  CBackupReader& operator=(const CBackupReader&) = delete;

  // Walks the backup at path; afterwards m_nStreamCount is the number of sets and
  // m_mapSets lists them. An unopenable file logs and lists nothing.
  void ReadDataSets(const char* path);
  // The same walk over bytes in memory, as if they were the whole file.
  void ReadDataSets(const BYTE* data, size_t size);

  // The listed set with this 1-based number, or null.
  CBackupSet* GetSet(int number) const;

  CSourceFile* m_pFile = nullptr;  // the open file during ReadDataSets
  int m_nFirstPage = 0;
  int m_nLastPage = 0;             // last page number given out so far
  int m_nSetCount = 0;             // SSET blocks read
  int m_nFullStream = 0;           // number of the latest full backup's data stream
  UINT64 m_nPosition = 0;          // current position of the walk
  UINT64 m_nSetPosition = 0;       // SSET block whose data stream is looked for; 0 = none
  UINT64 m_nStreamBytes = 0;       // running total, gives the logical ranges
  UINT64 m_nDataBytes = 0;         // data bytes of every recorded stream
  CBackupSet* m_pLastSet = nullptr;  // the set of the SSET block read last
  CStringKeyMap<CBackupSet*> m_mapSets;  // "1".."m_nStreamCount" -> set (owned by the reader)
  int m_nStreamCount = 0;
  int m_nTotalPages = 0;

  // Steps of the walk.
  bool FindBlock(const char* id, UINT64& position);
  bool FindNextSet();
  void AddBackupSet(const BYTE* window, UINT64 position);
  int ReadDataDescriptor();
  int ReadSqlStream(const BYTE* window, UINT64 windowPosition, size_t offset);
  void ScanSqlStreams();
  void AddDataStream(UINT64 position, UINT64 length);
  bool Seek64(UINT64 offset, SeekOrigin origin);
  // Reads the window at the current position, zero-filling what lies past the end of the
  // file; the position moves on only when a whole window was read. Gives the bytes read.
  size_t ReadBlock(BYTE* window);
  static void LogValue(const char* message, UINT64 value);

  // Decoders of the SSET fields.
  static CString ReadTapeText(const BYTE* window, size_t addressOffset);
  static SYSTEMTIME DecodeWriteDate(const BYTE* packed);

 private:
  void Reset();
  void Walk();
  size_t ReadAt(UINT64 position, BYTE* buffer, size_t count) const;

  UINT64 m_nFileSize = 0;
  const BYTE* m_pMemory = nullptr;
  std::vector<std::unique_ptr<CBackupSet>> m_sets;
  std::vector<std::unique_ptr<DataStreamInfo>> m_streams;
};
