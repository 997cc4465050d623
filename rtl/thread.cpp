#include "rtl/thread.h"

#include "rtl/error_report.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include "winapi/win32.h"
#endif

namespace {

// One call waiting for the main thread.
struct SyncRequest {
  const std::function<void()>* method = nullptr;  // lives on the caller's stack; the caller waits
  uint64_t seq = 0;
  bool done = false;  // guarded by g_mutex
  std::exception_ptr error;
  std::condition_variable doneCv;
};

// One lock for the hand-over queue and every thread's "finished" flag, so the
// main thread can wait for "finished or something queued" on one condition.
std::mutex g_mutex;
std::condition_variable g_wake;  // signalled when a call is queued and when a body ends
std::deque<std::shared_ptr<SyncRequest>> g_queue;
uint64_t g_lastSeq = 0;

std::mutex g_hookMutex;
std::function<void()> g_wakeHook;

std::atomic<std::thread::id> g_mainThread{};

#ifdef _WIN32
// The main thread's waits must also let messages sent to its windows in,
// which a condition variable cannot; it waits on this event instead.
HANDLE WakeEvent() {
  static HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}
#endif

// Called with g_mutex released.
void WakeWaiters() {
  g_wake.notify_all();
#ifdef _WIN32
  SetEvent(WakeEvent());
#endif
}

void CallWakeHook() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    hook = g_wakeHook;
  }
  if (!hook) return;
  try {
    hook();
  } catch (...) {
    // The call is queued already and the caller must wait for it regardless.
    ReportCurrentException();
  }
}

// The thread that runs static initialisation is the main thread.
const bool g_mainThreadSet = (SetMainThread(), true);

}  // namespace

bool IsMainThread() {
  std::thread::id expected{};
  std::thread::id self = std::this_thread::get_id();
  // Nothing set yet (a call during static initialisation): the first caller is it.
  if (g_mainThread.compare_exchange_strong(expected, self)) return true;
  return expected == self;
}

void SetMainThread() { g_mainThread.store(std::this_thread::get_id()); }

void SetWakeMainThreadHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  g_wakeHook = std::move(hook);
}

bool CheckSynchronize() {
  if (!IsMainThread()) throw Exception("CheckSynchronize must be called on the main thread");
  uint64_t last;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    last = g_lastSeq;
  }
  bool ran = false;
  // One at a time: a call that runs a nested event loop lets the rest of the
  // queue through from there.
  for (;;) {
    std::shared_ptr<SyncRequest> request;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_queue.empty() || g_queue.front()->seq > last) break;
      request = std::move(g_queue.front());
      g_queue.pop_front();
    }
    try {
      (*request->method)();
    } catch (...) {
      request->error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      request->done = true;
    }
    request->doneCv.notify_one();
    ran = true;
  }
  return ran;
}

void SynchronizeCall(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  auto request = std::make_shared<SyncRequest>();
  request->method = &method;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    request->seq = ++g_lastSeq;
    g_queue.push_back(request);
  }
  WakeWaiters();
  CallWakeHook();
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    request->doneCv.wait(lock, [&] { return request->done; });
    // Taken out here so the exception object ends its life on this thread only.
    error = std::move(request->error);
  }
  if (error) std::rethrow_exception(error);
}

struct TThread::State {
  std::mutex threadMutex;  // guards thread and started
  std::thread thread;
  bool started = false;
  bool finished = false;  // guarded by g_mutex
};

TThread::TThread(bool /*CreateSuspended*/) : state_(std::make_shared<State>()) {}

TThread::~TThread() {
  Terminate();
  std::unique_lock<std::mutex> lock(state_->threadMutex);
  if (!state_->thread.joinable()) return;
  if (state_->thread.get_id() == std::this_thread::get_id()) {
    // Destroyed from its own body: the body touches only the shared state from now on.
    state_->thread.detach();
    return;
  }
  lock.unlock();
  WaitFor();
}

void TThread::Resume() {
  std::lock_guard<std::mutex> lock(state_->threadMutex);
  if (state_->started) return;
  state_->started = true;
  std::shared_ptr<State> state = state_;
  state_->thread = std::thread([this, state] {
    try {
      Execute();
    } catch (...) {
      ReportCurrentException();
    }
    {
      std::lock_guard<std::mutex> guard(g_mutex);
      state->finished = true;
    }
    WakeWaiters();
  });
}

void TThread::Terminate() { terminated_.store(true); }

bool TThread::Finished() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return state_->finished;
}

void TThread::WaitFor() {
  {
    std::lock_guard<std::mutex> lock(state_->threadMutex);
    if (!state_->started) return;
    if (state_->thread.joinable() && state_->thread.get_id() == std::this_thread::get_id())
      throw Exception("A thread cannot wait for its own end");
  }
  if (IsMainThread()) {
#ifdef _WIN32
    for (;;) {
      CheckSynchronize();
      {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (state_->finished) break;
        if (!g_queue.empty()) continue;
      }
      // Also wakes for messages sent to the main thread's windows; peeking
      // delivers them.
      HANDLE event = WakeEvent();
      DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_SENDMESSAGE);
      if (r == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      }
    }
#else
    std::unique_lock<std::mutex> lock(g_mutex);
    while (!state_->finished) {
      if (!g_queue.empty()) {
        lock.unlock();
        CheckSynchronize();
        lock.lock();
        continue;
      }
      g_wake.wait(lock);
    }
#endif
  } else {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_wake.wait(lock, [&] { return state_->finished; });
  }
  std::lock_guard<std::mutex> lock(state_->threadMutex);
  if (state_->thread.joinable()) state_->thread.join();
}

void TThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}
