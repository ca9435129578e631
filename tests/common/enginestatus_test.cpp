#include <gtest/gtest.h>

#include <vector>

#include "common/enginestatus.h"

// Each engine's status block has events of its own: what one engine's threads signal never
// releases another engine's waits.
TEST(EngineStatus, EveryBlockHasItsOwnEvents) {
  CEngineStatus first;
  CEngineStatus second;
  const std::vector<EVENT_HANDLE CEngineStatus::*> events = {
      &CEngineStatus::m_hTableExtractedEvent, &CEngineStatus::m_hSysTabEvent,
      &CEngineStatus::m_hProgressRdyEvent,    &CEngineStatus::m_hExportEvent,
      &CEngineStatus::m_hExportReady,         &CEngineStatus::m_hExportProgressComplete,
      &CEngineStatus::m_hSysRead,             &CEngineStatus::m_hPageRead,
      &CEngineStatus::m_hSystemTabRdyEvent,   &CEngineStatus::m_hRecordEvent,
      &CEngineStatus::m_hPageReadComplete};
  for (auto event : events) {
    ASSERT_TRUE(first.*event);
    EXPECT_FALSE(IsEventSet(first.*event));
    SetEvent(first.*event);
    EXPECT_TRUE(IsEventSet(first.*event));
    EXPECT_FALSE(IsEventSet(second.*event));
    // Within one block the events are distinct too.
    for (auto other : events) {
      if (other != event) {
        EXPECT_FALSE(IsEventSet(first.*other));
      }
    }
    ResetEvent(first.*event);
  }
  // The two handles of "RecordEvent" are one event.
  EXPECT_EQ(first.m_hRecordEvent, first.m_hRecordEvent2);
  SetEvent(first.m_hRecordEvent2);
  EXPECT_TRUE(IsEventSet(first.m_hRecordEvent));
  EXPECT_NE(first.m_hRecordEvent, second.m_hRecordEvent);
}
