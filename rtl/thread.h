// Threads and the main thread's hand-over queue.
#pragma once

#include "rtl/classes.h"

#include <atomic>
#include <functional>
#include <memory>

// Runs every call queued for the main thread. Returns true if any ran.
// Must be called on the main thread.
bool CheckSynchronize();

// Called (from any thread) whenever a call is queued for the main thread, so
// the main thread's event loop can run CheckSynchronize soon. Empty by default.
void SetWakeMainThreadHook(std::function<void()> hook);

// The main thread is the thread that first touched the runtime (static
// initialisation), unless a program sets it explicitly.
bool IsMainThread();
void SetMainThread();

// Queues `method` for the main thread and blocks until it has run there. An
// exception thrown by the call is re-thrown in the caller. Called on the main
// thread, it runs the method at once.
void SynchronizeCall(const std::function<void()>& method);

class TThread : public TObject {
 public:
  // Threads are always created suspended here; Resume starts the body.
  explicit TThread(bool CreateSuspended = true);
  // Terminates, resumes if never started, and waits for the body to end.
  // A subclass whose Execute uses its own members must call TerminateAndWait()
  // in its own destructor, before those members go.
  ~TThread() override;

  void Resume();
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const;
  // Waits for the body to end. On the main thread it keeps running
  // CheckSynchronize while it waits, so a body blocked in Synchronize finishes.
  void WaitFor();
  void TerminateAndWait();

  void Synchronize(const std::function<void()>& method) { SynchronizeCall(method); }

 protected:
  virtual void Execute() = 0;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::atomic<bool> terminated_{false};
};
