#include "rtl/hidden_window.h"

#include "rtl/error_report.h"
#include "test_thread.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr UINT kNotify = 1025;  // WM_USER + 1

TEST(RtlHiddenWindow, SendOnMainThreadCallsMethodDirectly) {
  std::vector<UINT> seen;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    seen.push_back(m.Msg);
    if (m.Msg == kNotify)
      m.Result = static_cast<LRESULT>(m.WParam * 2 + m.LParam);
    else
      m.Result = DefWindowProc(nullptr, m.Msg, m.WParam, m.LParam);
  });
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(SendMessage(wnd, kNotify, 20, 2), 42);
  EXPECT_EQ(SendMessage(wnd, 7, 1, 1), 0);
  EXPECT_EQ(seen, (std::vector<UINT>{kNotify, 7}));
  EXPECT_FALSE(CheckSynchronize());  // nothing went through the queue
  DeallocateHWnd(wnd);
}

TEST(RtlHiddenWindow, SendFromThreadRunsOnMainThreadInOrder) {
  std::vector<WPARAM> seen;
  int offMain = 0;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    if (!IsMainThread()) ++offMain;
    seen.push_back(m.WParam);
    m.Result = static_cast<LRESULT>(m.WParam) + 1000;
  });
  std::vector<LRESULT> results;  // written by the thread, read after WaitFor
  LambdaThread thread([&](LambdaThread&) {
    for (WPARAM i = 0; i < 100; ++i) results.push_back(SendMessage(wnd, kNotify, i, 0));
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(offMain, 0);
  ASSERT_EQ(seen.size(), 100u);
  ASSERT_EQ(results.size(), 100u);
  for (WPARAM i = 0; i < 100; ++i) {
    EXPECT_EQ(seen[i], i);
    EXPECT_EQ(results[i], static_cast<LRESULT>(i) + 1000);
  }
  DeallocateHWnd(wnd);
}

TEST(RtlHiddenWindow, DeallocatedWindowIgnoresMessages) {
  int calls = 0;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    ++calls;
    m.Result = 5;
  });
  DeallocateHWnd(wnd);
  DeallocateHWnd(wnd);  // twice is harmless
  EXPECT_EQ(SendMessage(wnd, kNotify, 1, 0), 0);
  LRESULT fromThread = -1;
  LambdaThread thread([&](LambdaThread&) { fromThread = SendMessage(wnd, kNotify, 1, 0); });
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(fromThread, 0);
  EXPECT_EQ(SendMessage(nullptr, kNotify, 1, 0), 0);

  // A handle is never handed out again, so the stale one stays dead.
  HWND other = AllocateHWnd([](TMessage& m) { m.Result = 9; });
  EXPECT_NE(other, wnd);
  EXPECT_EQ(SendMessage(wnd, kNotify, 1, 0), 0);
  EXPECT_EQ(SendMessage(other, kNotify, 1, 0), 9);
  DeallocateHWnd(other);
  EXPECT_EQ(calls, 0);
}

// Windows hands a destroyed window's handle to a later window sooner or
// later; these handles never repeat.
TEST(RtlHiddenWindow, HandlesAreNeverHandedOutTwice) {
  std::set<HWND> handles;
  for (int i = 0; i < 200; ++i) {
    HWND wnd = AllocateHWnd([](TMessage& m) { m.Result = 1; });
    EXPECT_TRUE(handles.insert(wnd).second) << "handle " << wnd << " again after " << i;
    DeallocateHWnd(wnd);
  }
  HWND live = AllocateHWnd([](TMessage& m) { m.Result = 2; });
  for (HWND stale : handles) EXPECT_EQ(SendMessage(stale, kNotify, 0, 0), 0);
  EXPECT_EQ(SendMessage(live, kNotify, 0, 0), 2);
  DeallocateHWnd(live);
}

TEST(RtlHiddenWindow, DeallocatedWhileMessageIsQueued) {
  WakeCounter wakes;
  auto calls = std::make_shared<int>(0);
  HWND wnd = AllocateHWnd([calls](TMessage& m) {
    ++*calls;
    m.Result = 1;
  });
  LRESULT result = -1;
  LambdaThread thread([&](LambdaThread&) { result = SendMessage(wnd, kNotify, 1, 0); });
  thread.Resume();
  ASSERT_TRUE(wakes.WaitForQueued(1));  // the message waits in the queue now
  DeallocateHWnd(wnd);
  thread.WaitFor();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(*calls, 0);
}

TEST(RtlHiddenWindow, MethodMayDeallocateItsOwnWindow) {
  // Statics, not captures: nothing here reads the method's captures once
  // they may be gone, so a method freed while it runs shows every time.
  static HWND wnd = nullptr;
  static bool running = false;
  static bool freedWhileRunning = false;
  static int sentinels = 0;
  struct Sentinel {
    Sentinel() { ++sentinels; }
    ~Sentinel() {
      --sentinels;
      if (running) freedWhileRunning = true;
    }
  };
  auto sentinel = std::make_shared<Sentinel>();
  wnd = AllocateHWnd([sentinel](TMessage& m) {
    running = true;
    DeallocateHWnd(wnd);
    running = false;
    m.Result = 3;
  });
  sentinel.reset();
  EXPECT_EQ(SendMessage(wnd, kNotify, 0, 0), 3);
  EXPECT_FALSE(freedWhileRunning) << "the method was freed while it ran";
  EXPECT_EQ(sentinels, 0) << "and once it has returned, it is gone";
  EXPECT_EQ(SendMessage(wnd, kNotify, 0, 0), 0);
}

// On Windows a window's messages go to the thread that made it; this one is
// still served by the main thread.
TEST(RtlHiddenWindow, WindowAllocatedOnAnotherThreadRunsOnTheMainThread) {
  int onMain = 0, offMain = 0;
  LRESULT result = -1;
  HWND released = nullptr;
  LambdaThread thread([&](LambdaThread&) {
    HWND wnd = AllocateHWnd([&](TMessage& m) {
      ++(IsMainThread() ? onMain : offMain);
      m.Result = 8;
    });
    result = SendMessage(wnd, kNotify, 0, 0);
    DeallocateHWnd(wnd);
    EXPECT_EQ(SendMessage(wnd, kNotify, 0, 0), 0);
    released = wnd;
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(result, 8);
  EXPECT_EQ(onMain, 1);
  EXPECT_EQ(offMain, 0);
  // The main thread's next allocation destroys the window released there.
  DeallocateHWnd(AllocateHWnd(nullptr));
#ifdef _WIN32
  EXPECT_FALSE(IsWindow(released));
#endif
}

TEST(RtlHiddenWindow, ExceptionInMethodIsReportedNotSent) {
  std::vector<std::string> reports;  // the report runs on the main thread
  SetErrorReportHook([&](const std::string& text) { reports.push_back(text); });
  HWND wnd = AllocateHWnd([](TMessage& m) {
    m.Result = 77;
    throw Exception("ClearCommError function failed");
  });
  LRESULT result = -1;
  bool senderSawException = false;
  LambdaThread thread([&](LambdaThread&) {
    try {
      result = SendMessage(wnd, kNotify, 1, 0);
    } catch (...) {
      senderSawException = true;
    }
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(SendMessage(wnd, kNotify, 1, 0), 0);
  SetErrorReportHook(nullptr);
  DeallocateHWnd(wnd);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(senderSawException);
  EXPECT_EQ(reports, (std::vector<std::string>{"ClearCommError function failed", "ClearCommError function failed"}));
}

#ifdef _WIN32
// Windows' own SendMessageW from another thread waits for the window's thread
// to take messages: WaitFor on the main thread lets it in.
TEST(RtlHiddenWindow, WindowsOwnSendFromAThreadGetsThroughWaitFor) {
  int onMain = 0;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    if (IsMainThread()) ++onMain;
    m.Result = 5;
  });
  LRESULT result = 0;
  LambdaThread thread([&](LambdaThread&) { result = SendMessageW(wnd, kNotify, 0, 0); });
  thread.Resume();
  thread.WaitFor();
  EXPECT_EQ(result, 5);
  EXPECT_EQ(onMain, 1);
  DeallocateHWnd(wnd);
}
#endif

TEST(RtlHiddenWindow, DefWindowProcReturnsZero) { EXPECT_EQ(DefWindowProc(nullptr, kNotify, 1, 2), 0); }

}  // namespace
