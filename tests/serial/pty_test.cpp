// The port over a real line: a pseudo-terminal pair, real bytes through the
// driver. On Windows (under Wine) COM5 and COM6 are two pseudo-terminals that
// ./test --windows joins back to back, modem lines all off as here.
#include "serial/serial.h"
#include "serial_test_util.h"
#include "tests/wine.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

#ifndef _WIN32
// The far end of the line: the master side of a pseudo-terminal, mapped to COM5.
class FarEnd {
 public:
  FarEnd() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) return;
    const char* name = ptsname(fd_);
    if (!name) return;
    setenv("VAZUR_PORT_MAP", (std::string("COM5=") + name).c_str(), 1);
  }
  ~FarEnd() { HangUp(); }
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

  bool Ok() const { return fd_ >= 0; }
  void Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<size_t>(n);
    }
  }
  // Reads until `count` bytes came or nothing came for a generous while.
  std::string Receive(size_t count) {
    std::string out;
    while (out.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) break;
      char buffer[256];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }
  void HangUp() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};
#else
// The far end of the line: COM6, joined to COM5.
class FarEnd {
 public:
  FarEnd() {
    // A fresh line: nothing left on either side by an earlier test.
    const HANDLE nearEnd = OpenPort("COM5");
    if (nearEnd == INVALID_HANDLE_VALUE) return;
    PurgeComm(nearEnd, PURGE_RXCLEAR | PURGE_TXCLEAR);
    CloseHandle(nearEnd);
    handle_ = OpenPort("COM6");
    if (handle_ == INVALID_HANDLE_VALUE) return;
    PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    COMMTIMEOUTS timeouts{0, 0, 10000, 0, 10000};  // a read waits up to 10 s for all it asks
    SetCommTimeouts(handle_, &timeouts);
  }
  ~FarEnd() {
    if (Ok()) CloseHandle(handle_);
  }
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

  bool Ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Send(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  std::string Receive(size_t count) {
    std::string out(count, '\0');
    size_t got = 0;
    while (got < count) {
      DWORD n = 0;
      if (!ReadFile(handle_, out.data() + got, static_cast<DWORD>(count - got), &n, nullptr) || n == 0) break;
      got += n;
    }
    out.resize(got);
    return out;
  }

 private:
  static HANDLE OpenPort(const std::string& name) {
    return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};
#endif

std::string Pattern(size_t size) {
  std::string s;
  for (size_t i = 0; i < size; ++i) s.push_back(static_cast<char>(i * 7 + i / 256));
  return s;
}

// A port on the near end of the line, without an event thread.
void OnNearEnd(TComPort& port, TBaudRate baud = br9600, TStopBits stopBits = sbOneStopBit) {
  port.SetPort("COM5");
  port.SetEvents(TComEvents{});
  port.SetBaudRate(baud);
  port.SetStopBits(stopBits);
}

}  // namespace

TEST(SerialPty, WriteAndReadMoveRealBytes) {
  FarEnd remote;
  ASSERT_TRUE(remote.Ok());
  TComPort port(nullptr);
  OnNearEnd(port, br1200, sbTwoStopBits);
  port.Open();
  ASSERT_TRUE(port.Connected());

  const std::string line = "0123 ABCD\r\n";
  EXPECT_EQ(port.WriteText(line), static_cast<int32_t>(line.size()));
  EXPECT_EQ(remote.Receive(line.size()), line);

  // All 256 byte values, untranslated. A read that returns what is queued
  // but waits for the first byte (bounded), repeated until all arrived.
  // Wine's read waits for all it asks for: there a pause in the bytes ends it.
  if (RunningUnderWine())
    port.Timeouts().SetReadInterval(100);
  else
    port.Timeouts().SetReadTotalMultiplier(-1);
  port.Timeouts().SetReadTotalConstant(10000);
  std::string text, bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  remote.Send(bytes);
  std::string got;
  while (got.size() < bytes.size()) {
    const int32_t n = port.ReadText(text, 1000);
    ASSERT_GT(n, 0) << "after " << got.size() << " bytes";
    EXPECT_EQ(text.size(), static_cast<size_t>(n));
    got += text;
  }
  EXPECT_EQ(got, bytes);
  port.Close();

  try {
    port.WriteText("late");
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 2);
    EXPECT_EQ(e.WinErrorCode(), static_cast<int32_t>(ERROR_INVALID_HANDLE));
  }
}

TEST(SerialPty, ReadWithNothingWaitingReturnsAtOnceWithNothing) {
  SKIP_UNDER_WINE("a read with nothing waiting stays pending instead of returning at once");
  FarEnd remote;
  ASSERT_TRUE(remote.Ok());
  TComPort port(nullptr);
  OnNearEnd(port);
  port.Open();
  std::string text = "x";
  EXPECT_EQ(port.ReadText(text, 10), 0);  // the default time-outs
  EXPECT_EQ(text, "");
}

// What Close does to a transfer still waiting for bytes.
TEST(SerialPty, AbortTransfersEndsAPendingRead) {
  SKIP_UNDER_WINE("PurgeComm leaves a pending read waiting for its time-out");
  FarEnd remote;
  ASSERT_TRUE(remote.Ok());
  TComPort port(nullptr);
  OnNearEnd(port);
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(60000);
  port.Open();
  TAsyncTransfer* transfer = nullptr;
  TCustomComPort::NewTransfer(transfer);
  std::string text;
  EXPECT_EQ(port.ReadTextAsync(text, 10, transfer), 0);
  port.AbortTransfers();
  try {
    port.WaitForTransfer(transfer);
    ADD_FAILURE() << "the read was not ended";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 3);
    EXPECT_EQ(e.WinErrorCode(), static_cast<int32_t>(ERROR_OPERATION_ABORTED));
  }
  TCustomComPort::FreeTransfer(transfer);
  port.Close();
}

TEST(SerialPty, SecondOpenOfTheSameDeviceIsRefused) {
  SKIP_UNDER_WINE("a serial port opens twice");
  FarEnd remote;
  ASSERT_TRUE(remote.Ok());
  TComPort first(nullptr), second(nullptr);
  first.SetPort("COM5");
  second.SetPort("COM5");
  first.Open();
  try {
    second.Open();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_GT(e.WinErrorCode(), 0);
  }
  EXPECT_FALSE(second.Connected());
  EXPECT_TRUE(first.Connected());
}

TEST(SerialPty, MissingPortFailsWithItsWindowsCode) {
  TComPort port(nullptr);
  port.SetPort("COM16");
  try {
    port.Open();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinErrorCode(), static_cast<int32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
}

// What the port asks for is what the device then holds: the DCB read back.
TEST(SerialPty, SettingsReachTheDeviceAndReadBack) {
  FarEnd remote;
  ASSERT_TRUE(remote.Ok());
  TComPort port(nullptr);
  OnNearEnd(port, br1200, sbTwoStopBits);
  port.FlowControl().SetFlowControl(fcSoftware);
  port.FlowControl().SetXonChar('Q');
  port.FlowControl().SetXoffChar('S');
  port.Open();
  ASSERT_TRUE(port.Connected());
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(port.DeviceHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 1200u);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_TRUE(dcb.fOutX);
  EXPECT_TRUE(dcb.fInX);
  EXPECT_FALSE(dcb.fOutxCtsFlow);
  EXPECT_EQ(dcb.XonChar, 'Q');
  EXPECT_EQ(dcb.XoffChar, 'S');

  // A change while open reaches the device at once; a bracket holds it back.
  port.SetBaudRate(br115200);
  ASSERT_TRUE(GetCommState(port.DeviceHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);
  port.BeginUpdate();
  port.SetBaudRate(br19200);
  port.SetStopBits(sbOneStopBit);
  port.FlowControl().SetFlowControl(fcNone);
  ASSERT_TRUE(GetCommState(port.DeviceHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);
  port.EndUpdate();
  ASSERT_TRUE(GetCommState(port.DeviceHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fInX);
}

TEST(SerialPty, ALineWithoutModemLinesReportsEverySignalOff) {
  FarEnd remote;
  ASSERT_TRUE(remote.Ok());
  TComPort port(nullptr);
  OnNearEnd(port);
  std::vector<std::string> reports;
  port.OnCTSChange = [&](TObject*, bool on) { reports.push_back(on ? "CTS on" : "CTS off"); };
  port.OnDSRChange = [&](TObject*, bool on) { reports.push_back(on ? "DSR on" : "DSR off"); };
  port.OnRLSDChange = [&](TObject*, bool on) { reports.push_back(on ? "RLSD on" : "RLSD off"); };
  port.Open();
  EXPECT_EQ(reports, (std::vector<std::string>{"CTS off", "DSR off", "RLSD off"}));
  EXPECT_TRUE(port.ModemStatus().Empty());
  port.Close();
}

TEST(SerialPty, EventCharacterRaisesOnRxFlag) {
  SKIP_UNDER_WINE("no EV_RXFLAG: the event character is ignored");
  MainLoop loop;
  FarEnd remote;
  ASSERT_TRUE(remote.Ok());
  TComPort port(nullptr);
  port.SetPort("COM5");
  port.SetEvents(TComEvents{evRxChar, evRxFlag});
  port.SetEventChar('\r');
  int flags = 0;
  std::string received;
  port.OnRxChar = [&](TObject*, int32_t count) {
    std::string chunk;
    port.ReadText(chunk, count);
    received += chunk;
  };
  port.OnRxFlag = [&](TObject*) { ++flags; };
  port.Open();
  remote.Send("no end yet");
  ASSERT_TRUE(loop.Pump([&] { return received.size() >= 10; }));
  EXPECT_EQ(flags, 0);
  remote.Send("line\r");
  ASSERT_TRUE(loop.Pump([&] { return flags > 0; }));
  EXPECT_EQ(flags, 1);
  port.Close();
}

class SerialPtyEvents : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(far_.Ok());
    port_.SetPort("COM5");
    port_.SetSyncMethod(GetParam());
    mainThread_ = std::this_thread::get_id();
    // As the application does: read what is waiting, in the handler.
    port_.OnRxChar = [this](TObject* sender, int32_t count) {
      auto* port = static_cast<TCustomComPort*>(sender);
      std::string chunk;
      port->ReadText(chunk, count);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_ += chunk;
        if (std::this_thread::get_id() != mainThread_) offMain_ = true;
        ++calls_;
      }
      loop_.Notify();
    };
  }

  size_t Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
  }
  std::string TakeReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(received_, {});
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  MainLoop loop_;
  FarEnd far_;
  std::thread::id mainThread_;
  std::mutex mutex_;
  std::string received_;
  bool offMain_ = false;
  int calls_ = 0;
  TComPort port_{nullptr};  // last: goes first, while what its handlers use still exists
};

TEST_P(SerialPtyEvents, FarEndBytesReachOnRxChar) {
  port_.Open();
  // In pieces smaller than the driver's 1024-byte queue: a pseudo-terminal
  // delivers at once what a real line spreads over seconds.
  const std::string data = Pattern(20000);
  for (size_t at = 0; at < data.size(); at += 997) {
    far_.Send(data.substr(at, 997));
    const size_t sent = std::min(data.size(), at + 997);
    ASSERT_TRUE(loop_.Pump([&] { return Received() >= sent; })) << Received() << " of " << sent << " bytes";
  }
  EXPECT_EQ(TakeReceived(), data);
  bool offMain;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    offMain = offMain_;
  }
  EXPECT_EQ(offMain, GetParam() == smNone);
  port_.Close();
}

// As the send loop does: writes while the event thread waits on the same
// device, with bytes coming in all the while.
TEST_P(SerialPtyEvents, WritesGoOutWhileTheLineIsWatched) {
  port_.Open();
  const std::string incoming = Pattern(3000);
  std::string sent;
  for (size_t i = 0; i < 30; ++i) {
    far_.Send(incoming.substr(i * 100, 100));
    const std::string line = "0123456789 line " + std::to_string(i) + "\r\n";
    ASSERT_EQ(port_.WriteText(line), static_cast<int32_t>(line.size()));
    sent += line;
  }
  EXPECT_EQ(far_.Receive(sent.size()), sent);
  ASSERT_TRUE(loop_.Pump([&] { return Received() >= incoming.size(); })) << Received();
  EXPECT_EQ(TakeReceived(), incoming);
  port_.Close();
}

// The transmit side's event reaches its own handler: the mask bits of
// EV_TXEMPTY and EV_RXFLAG sit the other way round from the event set's.
TEST_P(SerialPtyEvents, OnTxEmptyFollowsAWrite) {
  std::atomic<int> empties{0};
  port_.OnTxEmpty = [&](TObject*) {
    ++empties;
    loop_.Notify();
  };
  int flags = 0;
  port_.OnRxFlag = [&](TObject*) { ++flags; };
  port_.Open();
  EXPECT_EQ(port_.WriteText("ping\r\n"), 6);
  ASSERT_TRUE(loop_.Pump([&] { return empties > 0; }));
  EXPECT_EQ(far_.Receive(6), "ping\r\n");
  port_.Close();
  EXPECT_EQ(flags, 0);
  port_.OnTxEmpty = nullptr;
  port_.OnRxFlag = nullptr;
}

// Close while the event thread is blocked handing events to this thread
// (or, with smNone, while it runs a handler itself).
TEST_P(SerialPtyEvents, CloseDuringAHandOverFinishes) {
  std::mutex gate;
  std::condition_variable cv;
  bool entered = false, go = false;
  if (GetParam() == smNone) {
    // The handler holds the event thread until Close has begun.
    port_.OnRxChar = [&](TObject*, int32_t count) {
      std::string chunk;
      port_.ReadText(chunk, count);
      std::unique_lock<std::mutex> lock(gate);
      entered = true;
      cv.notify_all();
      cv.wait_for(lock, std::chrono::seconds(30), [&] { return go; });
    };
    port_.OnBeforeClose = [&](TObject*) {
      std::lock_guard<std::mutex> lock(gate);
      go = true;
      cv.notify_all();
    };
  }
  port_.Open();
  const int queued = loop_.Queued();
  far_.Send("ping");
  if (GetParam() == smNone) {
    std::unique_lock<std::mutex> lock(gate);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return entered; }));
  } else {
    ASSERT_TRUE(loop_.WaitForQueued(queued + 1));
  }
  port_.Close();  // runs the pending hand-over while it waits for the thread
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(port_.ThreadCreated());
  port_.OnRxChar = nullptr;
  port_.OnBeforeClose = nullptr;
}

#ifndef _WIN32
// The far end of the joined pseudo-terminals under Wine cannot hang up.
TEST_P(SerialPtyEvents, HangUpLeavesThePortClosableAndReopenable) {
  ReportCapture reports(&loop_);
  port_.Open();
  far_.Send("before");
  ASSERT_TRUE(loop_.Pump([&] { return Received() >= 6; }));
  far_.HangUp();
  // Let the port see the hang-up through whatever it delivers, then close.
  loop_.Pump([&] { return !reports.Messages().empty(); }, std::chrono::seconds(1));
  try {
    port_.Close();
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 5);
  }
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(port_.DeviceHandle(), INVALID_HANDLE_VALUE);

  FarEnd again;  // a new line under the same port name
  ASSERT_TRUE(again.Ok());
  TakeReceived();
  port_.Open();
  again.Send("after");
  ASSERT_TRUE(loop_.Pump([&] { return Received() >= 5; }));
  EXPECT_EQ(TakeReceived(), "after");
  EXPECT_EQ(port_.WriteText("ok"), 2);
  EXPECT_EQ(again.Receive(2), "ok");
  port_.Close();
}
#endif

INSTANTIATE_TEST_SUITE_P(SyncMethods, SerialPtyEvents, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& info) {
                           switch (info.param) {
                             case smThreadSync: return std::string("ThreadSync");
                             case smWindowSync: return std::string("WindowSync");
                             default: return std::string("None");
                           }
                         });
