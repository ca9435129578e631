#include "events.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

struct NamedEventState {
  std::mutex mutex;
  std::condition_variable cv;
  std::atomic<bool> signalled{false};
};

namespace {
std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::weak_ptr<NamedEventState>>& Registry() {
  static auto* r = new std::map<std::string, std::weak_ptr<NamedEventState>>();
  return *r;
}
}  // namespace

EVENT_HANDLE CreateNamedEvent(const char* name) {
  if (!name) return std::make_shared<NamedEventState>();
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto& slot = Registry()[name];
  if (auto existing = slot.lock()) return existing;
  auto created = std::make_shared<NamedEventState>();
  slot = created;
  return created;
}

bool SetEvent(const EVENT_HANDLE& h) {
  if (!h) return false;
  {
    std::lock_guard<std::mutex> lock(h->mutex);
    h->signalled.store(true, std::memory_order_release);
  }
  h->cv.notify_all();
  return true;
}

bool ResetEvent(const EVENT_HANDLE& h) {
  if (!h) return false;
  std::lock_guard<std::mutex> lock(h->mutex);
  h->signalled.store(false, std::memory_order_release);
  return true;
}

bool IsEventSet(const EVENT_HANDLE& h) { return h && h->signalled.load(std::memory_order_acquire); }

WaitResult WaitForEvent(const EVENT_HANDLE& h, unsigned timeoutMs) {
  if (!h) return WaitResult::Failed;
  // The page census hands over once per page: a short spin catches the partner's answer
  // without a sleep and wake-up.
  for (int i = 0; i < 2000; ++i) {
    if (h->signalled.load(std::memory_order_acquire)) return WaitResult::Signalled;
    if ((i & 63) == 63) std::this_thread::yield();
  }
  std::unique_lock<std::mutex> lock(h->mutex);
  auto ready = [&] { return h->signalled.load(std::memory_order_acquire); };
  if (timeoutMs == kInfinite) {
    h->cv.wait(lock, ready);
    return WaitResult::Signalled;
  }
  if (h->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) return WaitResult::Signalled;
  return WaitResult::Timeout;
}
