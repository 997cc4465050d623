// The port over a pseudo-terminal: real bytes through the termios driver.
#include "serial/serial.h"
#include "serial_test_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

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

std::string Pattern(size_t size) {
  std::string s;
  for (size_t i = 0; i < size; ++i) s.push_back(static_cast<char>(i * 7 + i / 256));
  return s;
}

}  // namespace

TEST(SerialPty, WriteAndReadMoveRealBytes) {
  FarEnd far;
  ASSERT_TRUE(far.Ok());
  TComPort port(nullptr);
  port.SetPort("COM5");
  port.SetEvents(TComEvents{});
  port.SetBaudRate(br1200);
  port.SetStopBits(sbTwoStopBits);
  port.Open();
  ASSERT_TRUE(port.Connected());

  const std::string line = "0123 ABCD\r\n";
  EXPECT_EQ(port.WriteText(line), static_cast<int32_t>(line.size()));
  EXPECT_EQ(far.Receive(line.size()), line);

  // Nothing waiting: the default time-outs return at once with nothing.
  std::string text = "x";
  EXPECT_EQ(port.ReadText(text, 10), 0);
  EXPECT_EQ(text, "");

  // All 256 byte values, untranslated. A read that returns what is queued
  // but waits for the first byte (bounded), repeated until all arrived.
  port.Timeouts().SetReadTotalMultiplier(-1);
  port.Timeouts().SetReadTotalConstant(10000);
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  far.Send(bytes);
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

TEST(SerialPty, SecondOpenOfTheSameDeviceIsRefused) {
  FarEnd far;
  ASSERT_TRUE(far.Ok());
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

INSTANTIATE_TEST_SUITE_P(SyncMethods, SerialPtyEvents, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& info) {
                           switch (info.param) {
                             case smThreadSync: return std::string("ThreadSync");
                             case smWindowSync: return std::string("WindowSync");
                             default: return std::string("None");
                           }
                         });
