#include "rtl/hidden_window.h"

#include "rtl/error_report.h"
#include "test_thread.h"

#include <gtest/gtest.h>

#include <memory>
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
  HWND wnd = nullptr;
  auto text = std::make_shared<std::string>("still here");
  std::string seen;
  wnd = AllocateHWnd([&seen, &wnd, text](TMessage& m) {
    DeallocateHWnd(wnd);
    seen = *text;  // the method's captures outlive the window until it returns
    m.Result = 3;
  });
  text.reset();
  EXPECT_EQ(SendMessage(wnd, kNotify, 0, 0), 3);
  EXPECT_EQ(seen, "still here");
  EXPECT_EQ(SendMessage(wnd, kNotify, 0, 0), 0);
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

TEST(RtlHiddenWindow, DefWindowProcReturnsZero) { EXPECT_EQ(DefWindowProc(nullptr, kNotify, 1, 2), 0); }

}  // namespace
