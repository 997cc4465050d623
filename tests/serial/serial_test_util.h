// Shared pieces of the port tests: a main-thread pump that waits on the
// hand-over queue's wake-up (never sleeps), error-report capture, DCB bytes.
#pragma once

#include "rtl/error_report.h"
#include "rtl/thread.h"
#include "serial/serial.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Wakes the test's main loop when a hand-over is queued or a handler on
// another thread has news; Pump runs hand-overs until a condition holds.
class MainLoop {
 public:
  MainLoop() {
    SetWakeMainThreadHook([this] { Notify(true); });
  }
  ~MainLoop() { SetWakeMainThreadHook(nullptr); }
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Called from any thread when something the test waits for may have changed.
  void Notify(bool queued = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    if (queued) ++queued_;
    cv_.notify_all();
  }

  int Queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queued_;
  }

  // Waits (without running hand-overs) until `n` hand-overs have been queued.
  bool WaitForQueued(int n, std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return queued_ >= n; });
  }

  // Runs hand-overs on this (main) thread until `done` holds; false after the bound.
  bool Pump(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      uint64_t seen;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        seen = generation_;
      }
      CheckSynchronize();
      if (done()) return true;
      std::unique_lock<std::mutex> lock(mutex_);
      if (!cv_.wait_until(lock, deadline, [&] { return generation_ != seen; })) return done();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t generation_ = 0;
  int queued_ = 0;
};

// Collects what reaches the application's general error report.
class ReportCapture {
 public:
  // Reports may come from the event thread; `loop` is woken for each.
  explicit ReportCapture(MainLoop* loop = nullptr) {
    SetErrorReportHook([this, loop](const std::string& message) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
      }
      if (loop) loop->Notify();
    });
  }
  ~ReportCapture() { SetErrorReportHook(nullptr); }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> messages_;
};

using DcbBytes = std::array<uint8_t, 28>;

inline DcbBytes BytesOf(const DCB& dcb) {
  DcbBytes bytes{};
  std::memcpy(bytes.data(), &dcb, sizeof dcb);
  return bytes;
}

// The 28 bytes a DCB must have, laid out by hand (little-endian).
struct ExpectedDcb {
  uint32_t baud = 9600;
  uint32_t flags = 0x0001;
  uint16_t xonLim = 256;
  uint16_t xoffLim = 256;
  uint8_t byteSize = 8;
  uint8_t parity = 0;
  uint8_t stopBits = 0;
  uint8_t xonChar = 17;
  uint8_t xoffChar = 19;
  uint8_t errorChar = 0;
  uint8_t evtChar = 0;

  DcbBytes Bytes() const {
    DcbBytes b{};
    auto put32 = [&](int at, uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put16 = [&](int at, uint16_t v) {
      b[at] = static_cast<uint8_t>(v);
      b[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    put32(0, 28);
    put32(4, baud);
    put32(8, flags);
    put16(12, 0);  // wReserved
    put16(14, xonLim);
    put16(16, xoffLim);
    b[18] = byteSize;
    b[19] = parity;
    b[20] = stopBits;
    b[21] = xonChar;
    b[22] = xoffChar;
    b[23] = errorChar;
    b[24] = 0;  // EofChar
    b[25] = evtChar;
    put16(26, 0);  // wReserved1
    return b;
  }
};
