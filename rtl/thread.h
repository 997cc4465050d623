// Threads and the main thread's hand-over queue.
#pragma once

#include "rtl/classes.h"

#include <atomic>
#include <functional>
#include <memory>

// Runs every call queued for the main thread. Returns true if any ran.
// Must be called on the main thread (Exception otherwise). Calls queued while
// it runs are left for the next call, so a steady stream cannot trap it.
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
  // Threads are always created suspended here (a body cannot start before
  // the subclass is built, so the argument is ignored); Resume starts it.
  explicit TThread(bool CreateSuspended = true);
  // Terminates and waits for the body to end; a thread never resumed has no
  // body to run. Every subclass must call TerminateAndWait() in its own
  // destructor: its Execute must not outlive it.
  ~TThread() override;

  // Starts the body; does nothing once started. An exception leaving Execute
  // goes to the error report.
  void Resume();
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const;
  // Waits for the body to end (at once if never resumed). On the main thread
  // it keeps running CheckSynchronize while it waits, so a body blocked in
  // Synchronize or SendMessage finishes. Throws Exception when called from
  // the thread's own body.
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
