#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/events.h"

TEST(NamedEvents, SameNameIsOneEventAndKeepsItsState) {
  EVENT_HANDLE a = CreateNamedEvent("test-shared-event");
  ASSERT_TRUE(SetEvent(a));
  EVENT_HANDLE b = CreateNamedEvent("test-shared-event");  // opens, does not reset
  EXPECT_EQ(WaitForEvent(b, 0), WaitResult::Signalled);
  // Manual reset: waits do not consume the signal.
  EXPECT_EQ(WaitForEvent(b, 0), WaitResult::Signalled);
  ResetEvent(b);
  EXPECT_EQ(WaitForEvent(a, 10), WaitResult::Timeout);
  EXPECT_NE(CreateNamedEvent("test-other-event"), a);
}

TEST(NamedEvents, SetFromAnotherThreadReleasesWaiter) {
  EVENT_HANDLE waitOn = CreateNamedEvent("test-wake");
  ResetEvent(waitOn);
  std::thread t([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetEvent(CreateNamedEvent("test-wake"));
  });
  EXPECT_EQ(WaitForEvent(waitOn), WaitResult::Signalled);
  t.join();
}

TEST(NamedEvents, NullHandleFailsAtOnce) {
  EVENT_HANDLE none;
  EXPECT_FALSE(SetEvent(none));
  EXPECT_FALSE(ResetEvent(none));
  EXPECT_EQ(WaitForEvent(none), WaitResult::Failed);
}
