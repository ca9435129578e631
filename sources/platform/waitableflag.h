// A byte flag that one thread raises and another sleeps on. It reads and assigns like the
// plain atomic byte it replaces, so the threads that only set or test it stay as they are,
// while a waiter blocks on a condition instead of polling the byte.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "types.h"

class WaitableFlag {
 public:
  explicit WaitableFlag(BYTE initial = 0) : m_value(initial) {}
  WaitableFlag(const WaitableFlag&) = delete;
  WaitableFlag& operator=(const WaitableFlag&) = delete;

  WaitableFlag& operator=(BYTE value) {
    store(value);
    return *this;
  }
  operator BYTE() const { return load(); }
  BYTE load() const { return m_value.load(std::memory_order_acquire); }

  // Notifies under the lock: a waiter can only return after the setter has let go of the
  // flag, so the waiter may free what holds the flag as soon as its wait ends.
  void store(BYTE value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_value.store(value, std::memory_order_release);
    m_changed.notify_all();
  }

  // Waits until the flag holds `value`; false when the time-out passed first.
  template <class Rep, class Period>
  bool WaitFor(BYTE value, std::chrono::duration<Rep, Period> timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_value.load(std::memory_order_acquire) == value; });
  }

  // Wakes every waiter without changing the value, so one that also watches a condition of
  // its own (a stop request) looks at it again.
  void Wake() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changed.notify_all();
  }

  // Waits until the flag holds `value` or `cancelled()` is true (checked on every wake-up,
  // Wake included); true when the flag holds `value`.
  template <class Cancelled>
  bool WaitUnless(BYTE value, Cancelled cancelled) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_value.load(std::memory_order_acquire) == value || cancelled(); });
    return m_value.load(std::memory_order_acquire) == value;
  }

 private:
  std::atomic<BYTE> m_value;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
};
