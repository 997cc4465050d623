// Events, waits, handles and the per-thread last error.
#include "winapi/win32.h"
#include "tests/wine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

TEST(WinapiEvents, ManualResetStaysSignalledUntilReset) {
  HANDLE e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(e));
}

TEST(WinapiEvents, AutoResetIsConsumedByOneWait) {
  HANDLE e = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  SetEvent(e);
  SetEvent(e);  // does not count twice
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST(WinapiEvents, WaitAnyReportsTheLowestSignalledIndex) {
  HANDLE h[3] = {CreateEvent(nullptr, TRUE, FALSE, nullptr), CreateEvent(nullptr, FALSE, FALSE, nullptr),
                 CreateEvent(nullptr, TRUE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(h[2]);
  SetEvent(h[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
  // The auto-reset event was consumed, the manual one was not.
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  for (HANDLE x : h) CloseHandle(x);
}

TEST(WinapiEvents, WaitAllNeedsEveryEventAndConsumesOnlyThen) {
  HANDLE h[2] = {CreateEvent(nullptr, FALSE, FALSE, nullptr), CreateEvent(nullptr, FALSE, FALSE, nullptr)};
  SetEvent(h[0]);
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 20), WAIT_TIMEOUT);
  // The partial wait took nothing.
  EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_OBJECT_0);
  SetEvent(h[0]);
  SetEvent(h[1]);
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, h, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE x : h) CloseHandle(x);
}

TEST(WinapiEvents, WaitAllRefusesAHandleTwice) {
  SKIP_UNDER_WINE("WaitForMultipleObjects waits for all of a list that names a handle twice");
  HANDLE e = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  HANDLE twice[2] = {e, e};
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(e);
}

TEST(WinapiEvents, AnotherThreadWakesAnInfiniteWait) {
  HANDLE stop = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE go = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  DWORD seen = 0;
  std::thread t([&] {
    HANDLE h[2] = {stop, go};
    seen = WaitForMultipleObjects(2, h, FALSE, INFINITE);
    SetEvent(done);
  });
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  t.join();
  EXPECT_EQ(seen, WAIT_OBJECT_0 + 1);
  for (HANDLE x : {stop, go, done}) CloseHandle(x);
}

TEST(WinapiEvents, BadHandlesAndArguments) {
  HANDLE e = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(e));
  EXPECT_FALSE(CloseHandle(e));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(e));
#ifndef _WIN32
  // Windows takes this value for the current process's own handle.
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
#endif
  EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // An event handle is not a device.
  HANDLE other = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(other, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(other);
}

TEST(WinapiEvents, CommCallsOnTheInvalidHandleFail) {
  DWORD n = 0;
  DCB dcb{};
  COMSTAT stat{};
  OVERLAPPED ov{};
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &n, &ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &n, 1, &n, &ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetCommState(INVALID_HANDLE_VALUE, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ClearCommError(INVALID_HANDLE_VALUE, &n, &stat));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(PurgeComm(INVALID_HANDLE_VALUE, PURGE_TXABORT | PURGE_RXABORT));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(WinapiEvents, LastErrorIsPerThread) {
  // Each thread reads its value back after the other has set its own; only
  // calls that succeed (and so leave the last error alone) come between.
  HANDLE set = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE checked = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  DWORD other = 0;
  std::thread t([&] {
    SetLastError(77);
    SetEvent(set);
    WaitForSingleObject(checked, INFINITE);
    other = GetLastError();
  });
  WaitForSingleObject(set, INFINITE);
  SetLastError(1234);
  SetEvent(checked);
  const DWORD mine = GetLastError();
  t.join();
  EXPECT_EQ(mine, 1234u);
  EXPECT_EQ(other, 77u);
  CloseHandle(set);
  CloseHandle(checked);
}

TEST(WinapiEvents, WindowsLayouts) {
  EXPECT_EQ(sizeof(DCB), 28u);
  EXPECT_EQ(sizeof(COMMTIMEOUTS), 20u);
  EXPECT_EQ(sizeof(COMSTAT), 12u);
  DCB d{};
  d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  DWORD flags;
  std::memcpy(&flags, reinterpret_cast<const char*>(&d) + 8, 4);
  EXPECT_EQ(flags, 0x2000u);
}

}  // namespace
