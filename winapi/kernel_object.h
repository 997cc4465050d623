// Objects behind HANDLE values, and the events they signal (internal to winapi/).
#pragma once

#include "winapi/win32.h"

#include <condition_variable>
#include <memory>
#include <vector>

namespace winapi {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once by CloseHandle after the handle has left the table. Returns
  // 0 or a Windows error (the handle is then put back).
  virtual DWORD OnClose() { return ERROR_SUCCESS; }
};

struct Waiter;

// A Windows event. All events share one lock, so a wait on several of them
// (any or all) sees and consumes their states atomically.
class Event : public KernelObject {
 public:
  Event(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
  void Set();
  void Reset();

  // Waits for one (waitAll false) or all of `events`. Returns WAIT_OBJECT_0 + i,
  // WAIT_TIMEOUT, or WAIT_FAILED with ERROR_INVALID_PARAMETER.
  static DWORD Wait(const std::vector<Event*>& events, bool waitAll, DWORD milliseconds);

 private:
  bool manual_;
  bool signalled_;
  std::vector<Waiter*> waiters_;
};

// The handle table. Handles are never reused while the process runs.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE h);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE h) {
  return std::dynamic_pointer_cast<T>(LookupHandle(h));
}

// Sets the thread's last error and returns FALSE, for `return Fail(code);`.
inline BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace winapi
