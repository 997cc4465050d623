// The virtual test device, as the port component's tests use it.
#include "winapi/port_map.h"
#include "winapi/virtual_device.h"
#include "winapi/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <cstdlib>
#include <thread>

namespace {

class WinapiVirtual : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VAZUR_PORT_MAP");
    dev = vdev::VirtualDevice::Register("COM7");
    ev = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    CloseHandle(ev);
    vdev::VirtualDevice::Unregister("COM7");
  }
  void Open() {
    h = CreateFile("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                   nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  }
  // Starts a WaitCommEvent; returns true when it is pending.
  bool StartWait() {
    ov = OVERLAPPED{};
    ov.hEvent = ev;
    mask = 0xDEAD;
    if (WaitCommEvent(h, &mask, &ov)) return false;
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    return true;
  }
  DWORD FinishWait() {
    EXPECT_EQ(WaitForSingleObject(ev, 10000), WAIT_OBJECT_0);
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(h, &ov, &n, FALSE));
    return mask;
  }

  std::shared_ptr<vdev::VirtualDevice> dev;
  HANDLE h = INVALID_HANDLE_VALUE;
  HANDLE ev = nullptr;
  OVERLAPPED ov{};
  DWORD mask = 0;
};

TEST_F(WinapiVirtual, RecordsTheOpenSequenceInOrder) {
  Open();
  EXPECT_TRUE(dev->IsOpen());
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 1200;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.StopBits = TWOSTOPBITS;
  dcb.XonLim = dcb.XoffLim = 256;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  COMMTIMEOUTS t{MAXDWORD, 0, 0, 100, 1000};
  ASSERT_TRUE(SetupComm(h, 1024, 1024));
  ASSERT_TRUE(SetCommState(h, &dcb));
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  ASSERT_TRUE(SetCommMask(h, 0x5FF));
  ASSERT_TRUE(PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR));
  ASSERT_TRUE(CloseHandle(h));
  h = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(dev->IsOpen());

  auto calls = dev->Calls();
  std::vector<std::string> names;
  for (const auto& c : calls) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"CreateFile", "SetupComm", "SetCommState", "SetCommTimeouts",
                                             "SetCommMask", "PurgeComm", "CloseHandle"}));
  EXPECT_EQ(calls[0].data, "\\\\.\\COM7");
  EXPECT_EQ(calls[1].arg1, 1024u);
  EXPECT_EQ(calls[1].arg2, 1024u);
  EXPECT_EQ(calls[2].dcb.BaudRate, 1200u);
  EXPECT_EQ(calls[2].dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(calls[3].timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(calls[3].timeouts.WriteTotalTimeoutConstant, 1000u);
  EXPECT_EQ(calls[4].arg1, 0x5FFu);
  EXPECT_EQ(calls[5].arg1, 12u);
  EXPECT_EQ(dev->CountOf("SetCommState"), 1);
  dev->ClearCalls();
  EXPECT_TRUE(dev->Calls().empty());
}

TEST_F(WinapiVirtual, OpenIsExclusiveAndNamesAreNormalised) {
  Open();
  HANDLE second = CreateFile("COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                             nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(WinapiVirtual, WritesAreRecordedAndComplete) {
  Open();
  OVERLAPPED w{};
  w.hEvent = ev;
  DWORD n = 0;
  if (!WriteFile(h, "AB\r\n", 4, &n, &w)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_EQ(WaitForSingleObject(ev, 10000), WAIT_OBJECT_0);
  }
  ASSERT_TRUE(GetOverlappedResult(h, &w, &n, TRUE));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);  // completion signals the event
  EXPECT_EQ(dev->TakeWritten(), "AB\r\n");
  EXPECT_EQ(dev->TakeWritten(), "");
  EXPECT_EQ(dev->Calls().back().data, "AB\r\n");
}

// A write of `bytes` through the transfer's event; returns the count.
DWORD WriteAndWait(HANDLE h, HANDLE ev, const std::string& bytes) {
  OVERLAPPED w{};
  w.hEvent = ev;
  DWORD n = 0;
  if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &w)) {
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_TRUE(GetOverlappedResult(h, &w, &n, TRUE));
  }
  return n;
}

// A real line is slow and has a transmit queue: a write completes when its
// bytes have left a queue the driver can see, and neither a purge nor the
// close throws away bytes of a write already reported complete.
TEST_F(WinapiVirtual, APacedLineCompletesWritesWhenTheBytesAreOutAndNeverLosesThem) {
  const std::string line(600, 'x');
  dev->PaceLine(4000, 256, true);  // a UART: the queue is smaller than the write
  Open();
  EXPECT_EQ(WriteAndWait(h, ev, line), 600u);
  EXPECT_EQ(dev->TakeWritten(), line) << "complete only once every byte has left";

  // Completed by its time-out with bytes still queued: the close's purge keeps them.
  COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 1};
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  dev->PaceLine(4000, 4096, true);
  EXPECT_EQ(WriteAndWait(h, ev, line), 600u);
  ASSERT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  ASSERT_TRUE(CloseHandle(h));
  h = INVALID_HANDLE_VALUE;
  dev->WaitUntilSent();
  EXPECT_EQ(dev->TakeWritten(), line);
  EXPECT_EQ(dev->Discarded(), 0u);

  // A pseudo-terminal: the queue cannot be seen, so the write completes when
  // it is taken, and the line still delivers it after the close.
  dev->PaceLine(4000, 65536, false);
  Open();
  EXPECT_EQ(WriteAndWait(h, ev, line + line), 1200u);
  ASSERT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  ASSERT_TRUE(CloseHandle(h));
  h = INVALID_HANDLE_VALUE;
  dev->WaitUntilSent();
  EXPECT_EQ(dev->TakeWritten(), line + line);
  EXPECT_EQ(dev->Discarded(), 0u);
}

TEST_F(WinapiVirtual, FeedRaisesReceiveEventsAndFillsTheQueue) {
  Open();
  DCB dcb{};
  ASSERT_TRUE(GetCommState(h, &dcb));
  dcb.EvtChar = '\r';
  ASSERT_TRUE(SetCommState(h, &dcb));
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY));
  ASSERT_TRUE(StartWait());
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  dev->Feed("12\r");
  EXPECT_EQ(FinishWait(), DWORD(EV_RXCHAR | EV_RXFLAG));

  DWORD errors = 1;
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(h, &errors, &stat));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(stat.cbInQue, 3u);
  COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  char buf[10] = {};
  DWORD n = 0;
  OVERLAPPED r{};
  r.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(ReadFile(h, buf, 10, &n, &r));  // what is queued, at once
  EXPECT_EQ(std::string(buf, n), "12\r");
  ASSERT_TRUE(ReadFile(h, buf, 10, &n, &r));
  EXPECT_EQ(n, 0u);
  CloseHandle(r.hEvent);
}

TEST_F(WinapiVirtual, EventsOutsideTheMaskAreNotReported) {
  Open();
  ASSERT_TRUE(SetCommMask(h, EV_BREAK | EV_CTS));
  dev->RaiseEvents(EV_RING);
  ASSERT_TRUE(StartWait());
  dev->RaiseEvents(EV_RING | EV_BREAK);
  EXPECT_EQ(FinishWait(), DWORD(EV_BREAK));
  // Events that happen between waits are kept for the next one.
  dev->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  ov = OVERLAPPED{};
  ov.hEvent = ev;
  EXPECT_TRUE(WaitCommEvent(h, &mask, &ov));
  EXPECT_EQ(mask, DWORD(EV_CTS));
  DWORD ms = 0;
  ASSERT_TRUE(GetCommModemStatus(h, &ms));
  EXPECT_EQ(ms, DWORD(MS_CTS_ON | MS_RLSD_ON));
}

TEST_F(WinapiVirtual, SetCommMaskCompletesAPendingWaitWithZero) {
  Open();
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  ASSERT_TRUE(StartWait());
  ASSERT_TRUE(SetCommMask(h, 0));
  EXPECT_EQ(FinishWait(), 0u);
  // With no mask there is nothing to wait for.
  EXPECT_FALSE(WaitCommEvent(h, &mask, &ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(WinapiVirtual, LineErrorsAreReportedOnceAndModemStatusAsSet) {
  Open();
  dev->SetLineErrors(CE_FRAME | CE_OVERRUN);
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(h, &errors, nullptr));
  EXPECT_EQ(errors, DWORD(CE_FRAME | CE_OVERRUN));
  ASSERT_TRUE(ClearCommError(h, &errors, nullptr));
  EXPECT_EQ(errors, 0u);
}

TEST_F(WinapiVirtual, InjectedFailures) {
  dev->FailCall("CreateFile", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(CreateFile("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  Open();  // only once
  DCB dcb{};
  ASSERT_TRUE(GetCommState(h, &dcb));
  dev->FailCall("SetCommState", 31, 2);
  EXPECT_FALSE(SetCommState(h, &dcb));
  EXPECT_EQ(GetLastError(), 31u);
  EXPECT_FALSE(SetCommState(h, &dcb));
  EXPECT_TRUE(SetCommState(h, &dcb));
  EXPECT_EQ(dev->CountOf("SetCommState"), 3);  // failed calls are recorded too

  // A failing WaitCommEvent leaves its event reset, so a waiting loop blocks.
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  SetEvent(ev);
  dev->FailCall("WaitCommEvent", ERROR_GEN_FAILURE);
  ov = OVERLAPPED{};
  ov.hEvent = ev;
  EXPECT_FALSE(WaitCommEvent(h, &mask, &ov));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  dev->ClearFailures();
  EXPECT_TRUE(StartWait());
}

TEST_F(WinapiVirtual, PurgeAbortsPendingTransfers) {
  Open();
  COMMTIMEOUTS t{0, 0, 0, 0, 0};  // a read waits for all it asked for
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  char buf[8];
  DWORD n = 0;
  OVERLAPPED r{};
  r.hEvent = ev;
  ASSERT_FALSE(ReadFile(h, buf, 8, &n, &r));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(GetOverlappedResult(h, &r, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  dev->Feed("abc");
  ASSERT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT));
  ASSERT_EQ(WaitForSingleObject(ev, 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(h, &r, &n, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(n, 3u);  // what it had got so far
}

TEST_F(WinapiVirtual, ReadTimeOutEndsWithWhatCame) {
  Open();
  COMMTIMEOUTS t{0, 0, 50, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  char buf[8];
  DWORD n = 99;
  OVERLAPPED r{};
  r.hEvent = ev;
  ASSERT_FALSE(ReadFile(h, buf, 8, &n, &r));
  dev->Feed("x");
  ASSERT_TRUE(GetOverlappedResult(h, &r, &n, TRUE));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(buf[0], 'x');
}

TEST_F(WinapiVirtual, UnplugEndsPendingWorkAndLaterCalls) {
  Open();
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  ASSERT_TRUE(StartWait());
  COMMTIMEOUTS t{0, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  char buf[4];
  DWORD n = 0;
  OVERLAPPED r{};
  r.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_FALSE(ReadFile(h, buf, 4, &n, &r));
  dev->Unplug();
  ASSERT_EQ(WaitForSingleObject(ev, 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(h, &ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(GetOverlappedResult(h, &r, &n, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  OVERLAPPED w{};
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, &w));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(WaitCommEvent(h, &mask, &ov));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  // Closing still works, without complaint.
  EXPECT_TRUE(SetCommMask(h, 0));
  EXPECT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT));
  EXPECT_TRUE(CloseHandle(h));
  h = INVALID_HANDLE_VALUE;
  CloseHandle(r.hEvent);
  EXPECT_EQ(CreateFile("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(WinapiVirtual, TakesPrecedenceOverTheMapAndIsListed) {
  setenv("VAZUR_PORT_MAP", "COM7=/dev/null", 1);
  EXPECT_EQ(PortDevicePath("COM7"), "(virtual test device)");
  Open();
  EXPECT_EQ(dev->CountOf("CreateFile"), 1);
  bool listed = false;
  for (const auto& [name, path] : ListPortMap()) listed |= name == "COM7";
  EXPECT_TRUE(listed);
  unsetenv("VAZUR_PORT_MAP");
}

TEST_F(WinapiVirtual, DroppingTheObjectUnregistersIt) {
  dev.reset();
  EXPECT_EQ(CreateFile("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// The port component's shape: an event thread waiting while the main thread
// writes, reads and finally stops it.
TEST_F(WinapiVirtual, EventThreadAndMainThreadShareTheHandle) {
  Open();
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR | EV_TXEMPTY));
  HANDLE stop = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE got = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> rxEvents{0};
  std::thread events([&] {
    OVERLAPPED o{};
    o.hEvent = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    HANDLE hs[2] = {stop, o.hEvent};
    DWORD m = 0;
    for (;;) {
      WaitCommEvent(h, &m, &o);
      if (WaitForMultipleObjects(2, hs, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
      DWORD n;
      if (GetOverlappedResult(h, &o, &n, FALSE) && (m & EV_RXCHAR)) {
        ++rxEvents;
        SetEvent(got);
      }
    }
    SetCommMask(h, 0);
    CloseHandle(o.hEvent);
  });
  for (int i = 0; i < 50; ++i) {
    DWORD n;
    OVERLAPPED w{};
    w.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    if (!WriteFile(h, "ping", 4, &n, &w)) { ASSERT_TRUE(GetOverlappedResult(h, &w, &n, TRUE)); }
    CloseHandle(w.hEvent);
    dev->Feed("pong");
    ASSERT_EQ(WaitForSingleObject(got, 10000), WAIT_OBJECT_0);
    char buf[16];
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(h, &t);
    OVERLAPPED r{};
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, &r));
  }
  SetEvent(stop);
  events.join();
  EXPECT_GE(rxEvents.load(), 50);
  EXPECT_EQ(dev->TakeWritten().size(), 200u);
  CloseHandle(stop);
  CloseHandle(got);
}

}  // namespace
