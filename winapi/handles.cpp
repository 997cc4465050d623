// Handle table, events, waits and the per-thread last error.
#include "winapi/kernel_object.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace winapi {

struct Waiter {
  std::condition_variable cv;
};

namespace {

// The table and the event lock live until the process ends, so that devices
// still open at exit are never torn down while their threads run.
std::mutex& EventLock() {
  static auto* m = new std::mutex;
  return *m;
}

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;
};

HandleTable& Table() {
  static auto* t = new HandleTable;
  return *t;
}

thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

void Event::Set() {
  std::lock_guard<std::mutex> lock(EventLock());
  signalled_ = true;
  for (Waiter* w : waiters_) w->cv.notify_one();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(EventLock());
  signalled_ = false;
}

DWORD Event::Wait(const std::vector<Event*>& events, bool waitAll, DWORD milliseconds) {
  if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (waitAll) {
    std::vector<Event*> sorted(events);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);

  std::unique_lock<std::mutex> lock(EventLock());
  Waiter waiter;
  bool registered = false;
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    if (waitAll) {
      if (std::all_of(events.begin(), events.end(), [](Event* e) { return e->signalled_; })) {
        for (Event* e : events)
          if (!e->manual_) e->signalled_ = false;
        result = WAIT_OBJECT_0;
        break;
      }
    } else {
      auto it = std::find_if(events.begin(), events.end(), [](Event* e) { return e->signalled_; });
      if (it != events.end()) {
        if (!(*it)->manual_) (*it)->signalled_ = false;
        result = WAIT_OBJECT_0 + static_cast<DWORD>(it - events.begin());
        break;
      }
    }
    if (milliseconds == 0) break;
    if (!registered) {
      for (Event* e : events) e->waiters_.push_back(&waiter);
      registered = true;
    }
    if (milliseconds == INFINITE) {
      waiter.cv.wait(lock);
    } else if (waiter.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
      // One last look: a Set may have raced with the time-out.
      milliseconds = 0;
    }
  }
  if (registered) {
    for (Event* e : events) {
      auto& w = e->waiters_;
      w.erase(std::remove(w.begin(), w.end(), &waiter), w.end());
    }
  }
  return result;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  const uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE h) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  return it == t.objects.end() ? nullptr : it->second;
}

}  // namespace winapi

using namespace winapi;

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

BOOL CloseHandle(HANDLE h) {
  HandleTable& t = Table();
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
    if (it == t.objects.end()) return Fail(ERROR_INVALID_HANDLE);
    object = std::move(it->second);
    t.objects.erase(it);
  }
  if (DWORD error = object->OnClose()) {
    std::lock_guard<std::mutex> lock(t.mutex);
    t.objects.emplace(reinterpret_cast<uintptr_t>(h), std::move(object));
    return Fail(error);
  }
  return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
  // Names are not supported: every event is private to the process, which is
  // all the port component needs.
  return InsertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE h) {
  auto e = LookupHandleAs<Event>(h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  e->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  auto e = LookupHandleAs<Event>(h);
  if (!e) return Fail(ERROR_INVALID_HANDLE);
  e->Reset();
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Event>> held;  // keeps the events alive during the wait
  std::vector<Event*> events;
  for (DWORD i = 0; i < count; ++i) {
    auto e = LookupHandleAs<Event>(handles[i]);
    if (!e) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    events.push_back(e.get());
    held.push_back(std::move(e));
  }
  return Event::Wait(events, waitAll != FALSE, milliseconds);
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &h, FALSE, milliseconds);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
