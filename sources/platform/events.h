// Process-wide named manual-reset events. Creating an event under a name that already
// exists returns a new handle to the same event and leaves its state as it is.
#pragma once

#include <memory>

struct NamedEventState;
using EVENT_HANDLE = std::shared_ptr<NamedEventState>;

enum class WaitResult { Signalled, Timeout, Failed };

constexpr unsigned kInfinite = 0xFFFFFFFFu;

// Creates (unsignalled) or opens the named event; a null name creates an event no other
// handle shares. Never returns null except on allocation failure; a null handle makes
// every later call fail at once.
EVENT_HANDLE CreateNamedEvent(const char* name);
bool SetEvent(const EVENT_HANDLE& h);
bool ResetEvent(const EVENT_HANDLE& h);
bool IsEventSet(const EVENT_HANDLE& h);
// Waits until the event is signalled (it stays signalled) or the time-out (ms) passes.
WaitResult WaitForEvent(const EVENT_HANDLE& h, unsigned timeoutMs = kInfinite);
