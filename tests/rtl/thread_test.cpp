#include "rtl/thread.h"

#include "rtl/error_report.h"
#include "test_thread.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(RtlThread, ManyThreadsSynchroniseEveryCallOnMainInOrder) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  std::vector<std::pair<int, int>> log;  // touched only on the main thread
  int offMain = 0;
  std::vector<std::unique_ptr<LambdaThread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<LambdaThread>([&, t](LambdaThread& self) {
      for (int i = 0; i < kCalls; ++i)
        self.Synchronize([&, t, i] {
          if (!IsMainThread()) ++offMain;
          log.emplace_back(t, i);
        });
    }));
  }
  for (auto& thread : threads) thread->Resume();
  for (auto& thread : threads) thread->WaitFor();

  EXPECT_EQ(offMain, 0);
  ASSERT_EQ(log.size(), static_cast<size_t>(kThreads * kCalls));
  std::vector<int> next(kThreads, 0);
  for (auto [t, i] : log) {
    EXPECT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kCalls);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(RtlThread, WakeHookDrivesCheckSynchronize) {
  // The way an event loop runs hand-overs: woken by the hook, no WaitFor.
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  WakeCounter wakes;
  int ran = 0, done = 0;
  std::vector<std::unique_ptr<LambdaThread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<LambdaThread>([&](LambdaThread& self) {
      for (int i = 0; i < kCalls; ++i) self.Synchronize([&] { ++ran; });
      self.Synchronize([&] { ++done; });
    }));
    threads.back()->Resume();
  }
  int seen = 0;
  while (done < kThreads) {
    ASSERT_TRUE(wakes.WaitForQueued(seen + 1)) << "no hand-over arrived";
    seen = wakes.Count();
    CheckSynchronize();
  }
  EXPECT_EQ(ran, kThreads * kCalls);
  for (auto& thread : threads) thread->WaitFor();
  // One wake per queued call.
  EXPECT_EQ(wakes.Count(), kThreads * (kCalls + 1));
}

TEST(RtlThread, ExceptionCrossesHandOver) {
  std::string convertMessage, runtimeMessage;
  int thrownInt = 0;
  bool laterCallRan = false;
  LambdaThread thread([&](LambdaThread& self) {
    try {
      self.Synchronize([] { throw EConvertError("Cannot assign a TComParity to a TComBuffer"); });
    } catch (const EConvertError& e) {
      convertMessage = e.Message();
    }
    try {
      self.Synchronize([] { throw std::runtime_error("device gone"); });
    } catch (const std::runtime_error& e) {
      runtimeMessage = e.what();
    }
    try {
      self.Synchronize([] { throw 42; });
    } catch (int v) {
      thrownInt = v;
    }
    self.Synchronize([&] { laterCallRan = true; });
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(convertMessage, "Cannot assign a TComParity to a TComBuffer");
  EXPECT_EQ(runtimeMessage, "device gone");
  EXPECT_EQ(thrownInt, 42);
  EXPECT_TRUE(laterCallRan);
}

TEST(RtlThread, SynchronizeOnMainThreadRunsAtOnce) {
  bool ran = false;
  SynchronizeCall([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(SynchronizeCall([] { throw Exception("x"); }), Exception);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(RtlThread, WaitForServicesThreadBlockedInSynchronize) {
  WakeCounter wakes;
  bool ran = false;
  LambdaThread thread([&](LambdaThread& self) { self.Synchronize([&] { ran = true; }); });
  thread.Resume();
  ASSERT_TRUE(wakes.WaitForQueued(1));
  EXPECT_FALSE(thread.Finished());
  thread.WaitFor();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(thread.Finished());
}

TEST(RtlThread, DestructorServicesThreadBlockedInSynchronize) {
  WakeCounter wakes;
  int ran = 0;
  auto thread = std::make_unique<LambdaThread>([&](LambdaThread& self) {
    // Keeps handing over until told to stop; the destructor's Terminate ends it.
    while (!self.Terminated()) self.Synchronize([&] { ++ran; });
  });
  thread->Resume();
  ASSERT_TRUE(wakes.WaitForQueued(1));
  thread.reset();
  EXPECT_GE(ran, 1);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(RtlThread, NestedWaitInsideHandOver) {
  // A handler on the main thread that itself waits for another thread's
  // hand-over (a modal loop inside an event handler).
  bool innerRan = false, outerDone = false;
  LambdaThread inner([&](LambdaThread& self) { self.Synchronize([&] { innerRan = true; }); });
  LambdaThread outer([&](LambdaThread& self) {
    self.Synchronize([&] {
      inner.Resume();
      inner.WaitFor();
      outerDone = innerRan;
    });
  });
  outer.Resume();
  outer.WaitFor();
  EXPECT_TRUE(innerRan);
  EXPECT_TRUE(outerDone);
}

TEST(RtlThread, NeverResumedThread) {
  bool ran = false;
  {
    LambdaThread thread([&](LambdaThread&) { ran = true; });
    thread.WaitFor();  // returns: there is no body to wait for
    EXPECT_FALSE(thread.Finished());
  }
  EXPECT_FALSE(ran);
}

TEST(RtlThread, ResumeTwiceRunsBodyOnce) {
  int runs = 0;
  LambdaThread thread([&](LambdaThread& self) { self.Synchronize([&] { ++runs; }); });
  thread.Resume();
  thread.Resume();
  thread.WaitFor();
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(runs, 1);
}

TEST(RtlThread, TerminateIsSeenByBody) {
  WakeCounter wakes;
  int loops = 0;
  LambdaThread thread([&](LambdaThread& self) {
    while (!self.Terminated()) self.Synchronize([&] { ++loops; });
  });
  EXPECT_FALSE(thread.Terminated());
  thread.Resume();
  ASSERT_TRUE(wakes.WaitForQueued(1));  // blocked in its first hand-over
  thread.TerminateAndWait();
  EXPECT_TRUE(thread.Terminated());
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(loops, 1);
}

TEST(RtlThread, ExceptionLeavingExecuteIsReported) {
  std::mutex m;
  std::vector<std::string> reports;
  SetErrorReportHook([&](const std::string& text) {
    std::lock_guard<std::mutex> lock(m);
    reports.push_back(text);
  });
  LambdaThread thread([](LambdaThread&) { throw Exception("event thread failed"); });
  thread.Resume();
  thread.WaitFor();
  SetErrorReportHook(nullptr);
  EXPECT_TRUE(thread.Finished());
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "event thread failed");
}

TEST(RtlThread, WaitForFromAnotherThreadAndFromItself) {
  bool workerRan = false;
  bool sawFinished = false;
  std::string selfWait;
  LambdaThread worker([&](LambdaThread& self) {
    try {
      self.WaitFor();
    } catch (const Exception& e) {
      selfWait = e.Message();
    }
    self.Synchronize([&] { workerRan = true; });
  });
  LambdaThread waiter([&](LambdaThread&) {
    worker.WaitFor();  // the main thread services worker's hand-over meanwhile
    sawFinished = worker.Finished();
  });
  worker.Resume();
  waiter.Resume();
  waiter.WaitFor();
  EXPECT_TRUE(workerRan);
  EXPECT_TRUE(sawFinished);
  EXPECT_EQ(selfWait, "A thread cannot wait for its own end");
}

TEST(RtlThread, CheckSynchronizeOnlyOnMainThread) {
  EXPECT_TRUE(IsMainThread());
  bool threw = false, isMain = true;
  LambdaThread thread([&](LambdaThread&) {
    isMain = IsMainThread();
    try {
      CheckSynchronize();
    } catch (const Exception&) {
      threw = true;
    }
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_FALSE(isMain);
  EXPECT_TRUE(threw);
}

}  // namespace
