#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/datarecord.h"
#include "common/deletedrows.h"
#include "common/page.h"

namespace {

// A table of one nvarchar and three ints, as the rows of a small enrolment table: fixed part
// 4 + 12 bytes, 4 columns, one variable entry.
RecordShape EnrolmentShape() {
  RecordShape shape;
  shape.fixedEnd = 16;
  shape.columnCount = 4;
  shape.ghostVersion = true;
  return shape;
}
const RecordShape kShape = EnrolmentShape();

// A record of that table: ('<text>', a, b, key), status byte A given (0x30 live, 0x3C ghost).
std::vector<BYTE> Row(BYTE statusA, const std::string& text, int a, int b, int key) {
  std::vector<BYTE> r = {statusA, 0, 16, 0};
  for (int v : {a, b, key})
    for (int i = 0; i < 4; ++i) r.push_back(BYTE(v >> (8 * i)));
  r.insert(r.end(), {4, 0, 0, 1, 0});
  const size_t end = r.size() + 2 + text.size() * 2;
  r.push_back(BYTE(end));
  r.push_back(BYTE(end >> 8));
  for (char c : text) r.insert(r.end(), {BYTE(c), 0});
  return r;
}

struct TestPage {
  std::vector<BYTE> bytes = std::vector<BYTE>(kPageSize, 0);
  WORD at = kPageHeaderSize;

  TestPage() { bytes[1] = kPageData; }
  // Appends bytes at the free-space offset; returns where they start.
  WORD Put(const std::vector<BYTE>& record) {
    const WORD start = at;
    std::memcpy(bytes.data() + at, record.data(), record.size());
    at = WORD(at + record.size());
    bytes[30] = BYTE(at);
    bytes[31] = BYTE(at >> 8);
    return start;
  }
  void Slots(const std::vector<WORD>& entries) {
    bytes[22] = BYTE(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      bytes[kPageSize - 2 * (i + 1)] = BYTE(entries[i]);
      bytes[kPageSize - 2 * (i + 1) + 1] = BYTE(entries[i] >> 8);
    }
  }
  const BYTE* data() const { return bytes.data(); }
};

WORD Entry(const BYTE* page, int slot) { return SlotEntry(page, slot); }

TEST(RecordCandidate, HeaderMustFitTheTable) {
  struct Case {
    const char* what;
    std::vector<BYTE> record;
    RecordFault fault;
  };
  std::vector<BYTE> wrongFixed = Row(0x30, "CS440", 1, 2, 3);
  wrongFixed[2] = 20;
  std::vector<BYTE> wrongCount = Row(0x30, "CS440", 1, 2, 3);
  wrongCount[16] = 5;
  std::vector<BYTE> unordered = Row(0x30, "CS440", 1, 2, 3);
  unordered[21] = 10;  // the entry would end inside the offset array
  std::vector<BYTE> beyond = Row(0x30, "CS440", 1, 2, 3);
  beyond[21] = 200;  // past the room the record has
  const std::vector<Case> cases = {
      {"live record", Row(0x30, "CS440", 1, 2, 3), RecordFault::kNone},
      {"ghost record", Row(0x3C, "CS440", 1, 2, 3), RecordFault::kNone},
      {"index record", Row(0x36, "CS440", 1, 2, 3), RecordFault::kNotData},
      {"forwarding stub", Row(0x34, "CS440", 1, 2, 3), RecordFault::kNotData},
      {"no null bitmap", Row(0x20, "CS440", 1, 2, 3), RecordFault::kNotData},
      {"another fixed part", wrongFixed, RecordFault::kFixedEnd},
      {"another column count", wrongCount, RecordFault::kColumnCount},
      {"offsets out of order", unordered, RecordFault::kOffsetsOrder},
      {"value past the room", beyond, RecordFault::kOutOfRoom},
  };
  for (const Case& c : cases) {
    TestPage p;
    const WORD at = p.Put(c.record);
    WORD end = 0;
    EXPECT_EQ(CheckRecordCandidate(p.data(), at, p.at, kShape, &end), c.fault) << c.what;
    if (c.fault == RecordFault::kNone) EXPECT_EQ(end, p.at) << c.what;
  }
  // A uniquifier column is the table's only when the table has one.
  std::vector<BYTE> five = Row(0x30, "A", 1, 2, 3);
  five[16] = 5;
  TestPage p;
  const WORD at = p.Put(five);
  EXPECT_EQ(CheckRecordCandidate(p.data(), at, p.at, kShape, nullptr), RecordFault::kColumnCount);
  RecordShape withUniquifier = kShape;
  withUniquifier.uniquifier = true;
  EXPECT_EQ(CheckRecordCandidate(p.data(), at, p.at, withUniquifier, nullptr), RecordFault::kNone);
}

TEST(RecordCandidate, NeverReadsPastTheRoomOrThePage) {
  // A record at the very end of the page whose header claims more than the page holds.
  std::vector<BYTE> page(kPageSize, 0);
  const WORD at = kPageSize - 6;
  page[at] = 0x30;
  page[at + 2] = 16;
  EXPECT_EQ(CheckRecordCandidate(page.data(), at, kPageSize, kShape, nullptr), RecordFault::kOutOfRoom);
  EXPECT_EQ(RecordEndOf(page.data(), at, kPageSize), 0);
  EXPECT_EQ(CheckRecordCandidate(page.data(), kPageSize - 3, kPageSize, kShape, nullptr), RecordFault::kNoRoom);
  EXPECT_EQ(CheckRecordCandidate(page.data(), 50, kPageSize, kShape, nullptr), RecordFault::kNoRoom);
  // A page of 0x30 bytes looks like headers everywhere, but none fits the table.
  std::vector<BYTE> junk(kPageSize, 0x30);
  EXPECT_EQ(FindRecordCandidate(junk.data(), kPageHeaderSize, kPageSize, kShape, nullptr), 0);
}

// A shortened row leaves its old tail: the zeroed slot's record starts two bytes after the
// previous record's end, where the rule alone would read junk.
TEST(SlotRows, ZeroedSlotAfterStaleBytesFindsTheRecord) {
  TestPage p;
  const WORD first = p.Put(Row(0x30, "EE434", 60205, 1, 1));
  const WORD shortened = p.Put(Row(0x30, "EE510", 60205, 1, 12));
  p.Put({0x30, 0x00});
  const WORD deleted = p.Put(Row(0x30, "CS440", 80586, 1, 13));
  const WORD last = p.Put(Row(0x30, "CS450", 60205, 1, 15));
  p.Slots({first, shortened, 0, last});
  SlotRowsReport report;
  const std::vector<SlotRow> rows = ReadSlotRows(p.data(), false, kShape, Entry, &report);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].offset, first);
  EXPECT_FALSE(rows[0].deleted);
  EXPECT_EQ(rows[2].offset, deleted);
  EXPECT_TRUE(rows[2].deleted);
  EXPECT_EQ(rows[3].offset, last);
  EXPECT_TRUE(report.emptySlots.empty());
}

// The record after the previous one is live (a known slot points at it), or nothing that
// fits lies before the free space: the zeroed slot yields nothing, and says so.
TEST(SlotRows, ZeroedSlotWithoutARecordYieldsNothing) {
  {
    TestPage p;
    const WORD a = p.Put(Row(0x30, "A", 1, 1, 1));
    const WORD b = p.Put(Row(0x30, "B", 2, 2, 2));
    p.Slots({a, 0, b});
    SlotRowsReport report;
    const std::vector<SlotRow> rows = ReadSlotRows(p.data(), false, kShape, Entry, &report);
    EXPECT_EQ(rows[1].offset, 0);
    EXPECT_EQ(report.emptySlots, std::vector<int>{1});
  }
  {
    TestPage p;
    const WORD a = p.Put(Row(0x30, "A", 1, 1, 1));
    // Stale bytes past the free-space offset look like a record, but no record is there.
    const WORD freeSpace = p.at;
    p.Put(Row(0x30, "B", 2, 2, 2));
    p.bytes[30] = BYTE(freeSpace);
    p.bytes[31] = BYTE(freeSpace >> 8);
    p.Slots({a, 0, 0});
    SlotRowsReport report;
    const std::vector<SlotRow> rows = ReadSlotRows(p.data(), false, kShape, Entry, &report);
    EXPECT_EQ(rows[1].offset, 0);
    EXPECT_EQ(rows[2].offset, 0);
    EXPECT_EQ(report.emptySlots, (std::vector<int>{1, 2}));
  }
}

// On a page the allocation map marks free every record is a deleted row; ghosts elsewhere
// are too. Either is taken only when it fits.
TEST(SlotRows, GhostsAndFreedPagesAreDeletedRowsThatMustFit) {
  TestPage p;
  const WORD live = p.Put(Row(0x30, "A", 1, 1, 1));
  const WORD ghost = p.Put(Row(0x3C, "B", 2, 2, 2));
  std::vector<BYTE> other = Row(0x3C, "C", 3, 3, 3);
  other[2] = 12;  // a row of another table's shape
  const WORD unfit = p.Put(other);
  p.Slots({live, ghost, unfit});
  for (bool setAside : {false, true}) {
    SlotRowsReport report;
    const std::vector<SlotRow> rows = ReadSlotRows(p.data(), setAside, kShape, Entry, &report);
    EXPECT_EQ(rows[0].offset, live);
    EXPECT_EQ(rows[0].deleted, setAside);
    EXPECT_EQ(rows[1].offset, ghost);
    EXPECT_TRUE(rows[1].deleted);
    EXPECT_EQ(rows[2].offset, 0);
    ASSERT_EQ(report.unfit.size(), 1u);
    EXPECT_EQ(report.unfit[0].offset, unfit);
    EXPECT_EQ(report.unfit[0].fault, RecordFault::kFixedEnd);
  }
}

// The key of a test row: its last int.
bool Identify(const BYTE* page, WORD offset, bool, RowIdentity& id) {
  id.key.assign(reinterpret_cast<const char*>(page + offset + 12), 4);
  id.keyText = FormatString("[key]=%d", int(ReadU32(page + offset + 12)));
  id.valuesText = id.keyText;
  return true;
}

// A deleted row whose key a live row has, or an earlier recovered row, is left out; the
// first of the copies among deleted rows is kept. Pages set aside count as deleted rows.
TEST(DeletedRowPlan, LeavesOutCopiesOfLiveAndRecoveredRows) {
  TestPage live;
  const WORD a = live.Put(Row(0x30, "A", 1, 1, 1));
  const WORD ghostOfA = live.Put(Row(0x3C, "A2", 1, 1, 1));
  const WORD ghostNew = live.Put(Row(0x3C, "N", 7, 7, 7));
  live.Slots({a, ghostOfA, ghostNew});
  TestPage freed;
  const WORD copyOfA = freed.Put(Row(0x30, "A", 1, 1, 1));
  const WORD copyOfNew = freed.Put(Row(0x30, "N", 7, 7, 7));
  const WORD other = freed.Put(Row(0x30, "O", 9, 9, 9));
  freed.Slots({copyOfA, copyOfNew, other});
  const std::vector<const TestPage*> pages = {&live, &freed};

  DeletedRowSteps steps;
  steps.readPage = [&](size_t position, BYTE* page) {
    std::memcpy(page, pages[position]->data(), kPageSize);
    return true;
  };
  steps.slotEntry = Entry;
  steps.identify = Identify;
  const DeletedRowPlan plan = PlanDeletedRows(2, 1, kShape, steps, "[dbo].[T]", false);
  EXPECT_EQ(plan.RowAt(0, 0), DeletedRowPlan::kAsStored);
  EXPECT_EQ(plan.RowAt(0, 1), 0);
  EXPECT_EQ(plan.RowAt(0, 2), ghostNew);
  EXPECT_EQ(plan.RowAt(1, 0), 0);
  EXPECT_EQ(plan.RowAt(1, 1), 0);
  EXPECT_EQ(plan.RowAt(1, 2), other);
  EXPECT_EQ(plan.recovered, 2);
  EXPECT_EQ(plan.copies, 3);
  EXPECT_EQ(plan.unfit + plan.notFound, 0);
}

// A row written before a column was added holds fewer columns: a deleted one is the table's
// when live rows of that count are there too, and not otherwise.
TEST(DeletedRowPlan, OlderColumnCountsOnlyWhenLiveRowsHoldThem) {
  auto older = [](int key) {
    std::vector<BYTE> r = Row(0x3C, "X", key, key, key);
    r[16] = 3;
    return r;
  };
  for (bool liveOlder : {false, true}) {
    SCOPED_TRACE(liveOlder ? "live rows of 3 columns" : "no live row of 3 columns");
    TestPage p;
    std::vector<BYTE> live = Row(0x30, "A", 1, 1, 1);
    if (liveOlder) live[16] = 3;
    const WORD a = p.Put(live);
    const WORD ghost = p.Put(older(2));
    p.Slots({a, ghost});
    DeletedRowSteps steps;
    steps.readPage = [&](size_t, BYTE* page) {
      std::memcpy(page, p.data(), kPageSize);
      return true;
    };
    steps.slotEntry = Entry;
    steps.identify = Identify;
    const DeletedRowPlan plan = PlanDeletedRows(1, 1, kShape, steps, "[dbo].[T]", false);
    EXPECT_EQ(plan.RowAt(0, 1), liveOlder ? ghost : 0);
    EXPECT_EQ(plan.unfit, liveOlder ? 0 : 1);
  }
}

}  // namespace
