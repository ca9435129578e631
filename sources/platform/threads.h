// Threads and critical sections.
#pragma once

#include <functional>
#include <mutex>

// Starts a detached thread: callers never join, as the engines' threads end by themselves.
bool StartDetachedThread(std::function<void()> routine);

void SleepMs(unsigned ms);

// Re-entrant for the owning thread, like the platform's critical sections.
class CCriticalSection {
 public:
  void Enter() { m_mutex.lock(); }
  void Leave() { m_mutex.unlock(); }
  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }

 private:
  std::recursive_mutex m_mutex;
};
