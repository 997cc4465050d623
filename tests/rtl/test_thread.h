// A thread whose body is a lambda, and a way to wait for the wake hook.
#pragma once

#include "rtl/thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class LambdaThread : public TThread {
 public:
  explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
  ~LambdaThread() override { TerminateAndWait(); }

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(LambdaThread&)> body_;
};

// Counts the calls of the wake hook, so a test can wait until a thread has
// queued a hand-over (and so is blocked in it).
class WakeCounter {
 public:
  WakeCounter() {
    SetWakeMainThreadHook([this] {
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
      cv_.notify_all();
    });
  }
  ~WakeCounter() { SetWakeMainThreadHook(nullptr); }

  // True when at least `n` calls were queued; false after a generous bound.
  bool WaitForQueued(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(60), [&] { return count_ >= n; });
  }
  int Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int count_ = 0;
};
