// Where the pages of a source lie and how they are read: the data stream of one backup set
// (page n is the n-th 8192-byte block of the stream) or a plain database file (page n at
// n x 8192). Shared by both engines' censuses, catalog readers and walks.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "platform/cstring.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/types.h"

class CBackupSet;
class CEngineStatus;

// File position of page n of a backup set: its stream offset + n x 8192, full and
// differential sets alike (the stream holds the page's own bytes). 0 when the set has no
// stream or the stream does not hold page n.
UINT64 StreamPageOffset(const CBackupSet* set, INT64 page);
// Whole pages of a set's stream.
UINT64 StreamPageCount(const CBackupSet* set);

// Whole pages one after the other in a file: `pages` pages from byte `offset`.
struct PageSegment {
  UINT64 offset = 0;
  UINT64 pages = 0;
  bool operator==(const PageSegment&) const = default;
};

// File position of page n of segments numbered one after the other (the first segment's
// pages, then the next one's); 0 when the segments do not hold page n.
UINT64 SegmentPageOffset(const std::vector<PageSegment>& segments, UINT64 page);

class CPageSource {
 public:
  // Plain database file: every whole page of the file.
  bool OpenPlain(const char* path);
  // A backup set's stream: `pages` pages from byte `offset`, bounded by what the file holds.
  bool OpenStream(const char* path, UINT64 offset, UINT64 pages);
  // Streams read as one source, numbering pages on from one to the next (a differential
  // set's stream, then its base's); each bounded by what the file holds.
  bool OpenSegments(const char* path, const std::vector<PageSegment>& segments);
  void Close();
  bool IsOpen() const { return m_file.IsOpen(); }
  UINT64 PageCount() const { return m_nPages; }
  // The segments as opened, each bounded by the file.
  const std::vector<PageSegment>& Segments() const { return m_vecSegments; }
  // File position of page n, or 0 when the source does not hold it.
  UINT64 Offset(UINT64 page) const;
  // Reads page n whole into an 8192-byte buffer. False, with the buffer zeroed, when the
  // page lies outside the source or came back short: a half-read page never passes for a
  // page, and nothing of an earlier page is left in the buffer.
  bool ReadPage(UINT64 page, BYTE* buffer) const;
  // Reads up to `count` consecutive pages from `first`, within the segment that holds
  // `first`; gives how many came back whole.
  size_t ReadPages(UINT64 first, size_t count, BYTE* buffer) const;
  const CSourceFile& File() const { return m_file; }

 private:
  // The segment holding page n and n's place in it; false when no segment does.
  bool Locate(UINT64 page, UINT64& offset, UINT64& left) const;
  CSourceFile m_file;
  std::vector<PageSegment> m_vecSegments;
  UINT64 m_nPages = 0;
};

// The database name of a boot page (type 13, page id 9): the UTF-16 field at byte 148,
// 128 units at most, up to the first zero unit, with its padding (zero units, blanks and the
// 0x2020 pairs some versions fill the field with) trimmed at the end, as UTF-8. Empty when the
// page is not a boot page.
CString DatabaseNameFromBootPage(const BYTE* page);
// The on-disk versions of a boot page: the current one at byte 100 (539 = 2000, 611 = 2005,
// 655 = 2008, 661 = 2008 R2, 706 = 2012) and the one the database was created with at 102.
// False when the page is not a boot page or says version 0.
bool BootPageVersions(const BYTE* page, int& current, int& created);
// File position of the boot page in a database file, or in a backup set's stream.
inline constexpr UINT64 kBootPageOffset = 9ull * 8192;

// Waits for a manual-reset event in short slices; false as soon as the stop flag is set or
// the wait fails, so a partner that went away never leaves a thread blocked for good.
bool WaitUnlessStopped(const EVENT_HANDLE& event, const std::atomic<BYTE>* stop);

// Reads pages 0..limit-1 of the source in large pieces (never more than `limit` pages, and
// counting pages the source does not hold): gives each page that came back whole to `visit`
// (page, index), and after every page, read or not, calls `counted` with the pages counted so
// far; `counted` returns false to end the walk. False when it did.
bool ForEachSourcePage(const CPageSource& source, UINT64 limit, const std::function<void(const BYTE*, DWORD)>& visit,
                       const std::function<bool(UINT64 counted)>& counted);

// The page census loop both engines run: reads pages 0..limit-1 of the source in large
// pieces, gives each page that came back whole to `visit` (page, index), and hands the
// progress partner every page, or every `handOverEvery` pages and the last: it sets
// "PageRead" and waits for "RecordEvent", then resets it. `pagesRead` counts the pages
// handed over so far (a coalescing partner reads it). Returns false when the scan was
// stopped during a hand-over; the events are then left reset.
bool RunCensusLoop(const CPageSource& source, UINT64 limit, CEngineStatus* status, int handOverEvery,
                   std::atomic<long long>& pagesRead, const std::function<void(const BYTE*, DWORD)>& visit);
