// The event thread against the virtual test device: what is delivered, in
// which order, on which thread, and what open and close report.
#include "serial/serial.h"
#include "serial_test_util.h"
#include "winapi/virtual_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kAllEventBits = EV_RXCHAR | EV_TXEMPTY | EV_RXFLAG | EV_RING | EV_BREAK | EV_CTS | EV_DSR |
                                EV_ERR | EV_RLSD | EV_RX80FULL;

class SerialEventsTest : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  void SetUp() override {
    device_ = vdev::VirtualDevice::Register("COM6");
    port_.SetPort("COM6");
    port_.SetSyncMethod(GetParam());
    mainThread_ = std::this_thread::get_id();
    LogAll();
  }
  void TearDown() override {
    port_.Close();
    vdev::VirtualDevice::Unregister("COM6");
  }

  void Log(const std::string& entry) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(entry);
      if (std::this_thread::get_id() != mainThread_) offMain_ = true;
    }
    loop_.Notify();
  }
  std::vector<std::string> TakeLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(log_, {});
  }
  bool Logged(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& e : log_)
      if (e == entry) return true;
    return false;
  }
  bool WaitFor(const std::string& entry) {
    return loop_.Pump([&] { return Logged(entry); });
  }
  bool OffMain() {
    std::lock_guard<std::mutex> lock(mutex_);
    return offMain_;
  }

  void LogAll() {
    auto note = [this](const char* name) { return [this, name](TObject*) { Log(name); }; };
    auto signal = [this](const char* name) {
      return [this, name](TObject*, bool on) { Log(std::string(name) + (on ? " on" : " off")); };
    };
    port_.OnBeforeOpen = note("beforeopen");
    port_.OnAfterOpen = note("afteropen");
    port_.OnBeforeClose = note("beforeclose");
    port_.OnAfterClose = note("afterclose");
    port_.OnRxChar = [this](TObject*, int32_t count) { Log("rxchar " + std::to_string(count)); };
    port_.OnTxEmpty = note("txempty");
    port_.OnBreak = note("break");
    port_.OnRing = note("ring");
    port_.OnRxFlag = note("rxflag");
    port_.OnRx80Full = note("rx80full");
    port_.OnCTSChange = signal("cts");
    port_.OnDSRChange = signal("dsr");
    port_.OnRLSDChange = signal("rlsd");
    port_.OnError = [this](TObject*, TComErrors errors) { Log("error " + std::to_string(errors.ToBits())); };
  }

  MainLoop loop_;
  std::shared_ptr<vdev::VirtualDevice> device_;
  std::thread::id mainThread_;
  std::mutex mutex_;
  std::vector<std::string> log_;
  bool offMain_ = false;
  TComPort port_{nullptr};  // last: goes first, while what its handlers use still exists
};

}  // namespace

TEST_P(SerialEventsTest, OneWaitIsDeliveredInTheFixedOrder) {
  port_.Open();
  TakeLog();
  device_->Feed("abc");  // left unread, so the later evRxChar has a count
  ASSERT_TRUE(WaitFor("rxchar 3"));
  TakeLog();
  device_->RaiseEvents(kAllEventBits);
  ASSERT_TRUE(WaitFor("rx80full"));
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"rxchar 3", "txempty", "break", "ring", "cts off", "dsr off",
                                                 "rxflag", "rlsd off", "error 0", "rx80full"}));
  EXPECT_EQ(OffMain(), GetParam() == smNone);
}

TEST_P(SerialEventsTest, RxCharWithNothingQueuedCallsNothing) {
  port_.Open();
  TakeLog();
  device_->RaiseEvents(EV_RXCHAR | EV_TXEMPTY);
  ASSERT_TRUE(WaitFor("txempty"));
  EXPECT_EQ(TakeLog(), std::vector<std::string>{"txempty"});
}

TEST_P(SerialEventsTest, ParityErrorsOnlyWhileChecked) {
  port_.Open();
  device_->SetLineErrors(CE_RXPARITY | CE_FRAME | CE_BREAK);
  device_->RaiseEvents(EV_ERR);
  ASSERT_TRUE(WaitFor("error " + std::to_string((TComErrors{erFrame, erBreak}).ToBits())));
  port_.Parity().SetCheck(true);
  device_->SetLineErrors(CE_RXPARITY | CE_FRAME);
  device_->RaiseEvents(EV_ERR);
  ASSERT_TRUE(WaitFor("error " + std::to_string((TComErrors{erFrame, erRxParity}).ToBits())));
}

TEST_P(SerialEventsTest, SignalReportsAfterOpenAndBeforeClose) {
  device_->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  port_.Open();
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"beforeopen", "afteropen", "cts on", "dsr off", "rlsd on"}));
  port_.Close();
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"beforeclose", "cts off", "dsr off", "rlsd off", "afterclose"}));
}

TEST_P(SerialEventsTest, SignalEventsReportTheStateWhenProcessed) {
  port_.Open();
  TakeLog();
  device_->SetModemStatus(MS_DSR_ON);
  device_->RaiseEvents(EV_DSR);
  ASSERT_TRUE(WaitFor("dsr on"));
}

TEST_P(SerialEventsTest, NoEventsMeansNoThreadAndNoWindow) {
  port_.SetEvents(TComEvents{});
  device_->SetModemStatus(MS_DSR_ON);
  port_.Open();
  EXPECT_FALSE(port_.ThreadCreated());
  EXPECT_EQ(port_.NotifyWindow(), nullptr);
  EXPECT_EQ(device_->CountOf("SetCommMask"), 0);
  port_.Close();
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"beforeopen", "afteropen", "cts off", "dsr on", "rlsd off",
                                                 "beforeclose", "cts off", "dsr off", "rlsd off", "afterclose"}));
}

TEST_P(SerialEventsTest, ThreadAndWindowLiveWithTheConnection) {
  port_.Open();
  EXPECT_TRUE(port_.ThreadCreated());
  EXPECT_EQ(port_.NotifyWindow() != nullptr, GetParam() == smWindowSync);
  port_.Close();
  EXPECT_FALSE(port_.ThreadCreated());
  EXPECT_EQ(port_.NotifyWindow(), nullptr);
  // The thread cleared the mask and emptied the queues before the handle went.
  auto calls = device_->Calls();
  std::vector<std::string> tail;
  for (const auto& c : calls) {
    if (c.name == "SetCommMask") tail.push_back("mask " + std::to_string(c.arg1));
    if (c.name == "PurgeComm") tail.push_back("purge " + std::to_string(c.arg1));
    if (c.name == "CloseHandle") tail.push_back("close");
  }
  EXPECT_EQ(tail, (std::vector<std::string>{"mask " + std::to_string(EventSetToMask(AllComEvents)), "purge 3",
                                            "mask 0", "purge 12", "close"}));
}

TEST_P(SerialEventsTest, EventsChangeWaitsForTheNextOpen) {
  port_.SetEvents(TComEvents{evRxChar});
  port_.Open();
  port_.SetEvents(TComEvents{});
  EXPECT_TRUE(port_.ThreadCreated());
  device_->Feed("z");
  ASSERT_TRUE(WaitFor("rxchar 1"));
  port_.Close();
  port_.SetEvents(TComEvents{evTxEmpty, evRing});
  device_->ClearCalls();
  port_.Open();
  auto calls = device_->Calls();
  DWORD mask = 0;
  for (const auto& c : calls)
    if (c.name == "SetCommMask") mask = c.arg1;
  EXPECT_EQ(mask, static_cast<DWORD>(EV_TXEMPTY | EV_RING));
}

TEST_P(SerialEventsTest, HandlerFailureIsReportedAndTheLineStillWatched) {
  ReportCapture reports(&loop_);
  port_.OnTxEmpty = [this](TObject*) {
    Log("txempty");
    throw Exception("handler failed");
  };
  port_.Open();
  TakeLog();
  device_->RaiseEvents(EV_TXEMPTY | EV_RING);  // ring comes later in the order: dropped
  ASSERT_TRUE(loop_.Pump([&] { return !reports.Messages().empty(); }));
  EXPECT_EQ(reports.Messages(), std::vector<std::string>{"handler failed"});
  device_->RaiseEvents(EV_BREAK);
  ASSERT_TRUE(WaitFor("break"));
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"txempty", "break"}));
}

TEST_P(SerialEventsTest, CloseFromItsOwnHandlerIsRefused) {
  ReportCapture reports(&loop_);
  port_.OnRxChar = [this](TObject*, int32_t) {
    Log("rxchar");
    port_.Close();
  };
  port_.Open();
  device_->Feed("q");
  ASSERT_TRUE(loop_.Pump([&] { return !reports.Messages().empty(); }));
  EXPECT_EQ(reports.Messages(),
            std::vector<std::string>{"The port COM6 cannot be closed from its own event handler"});
  EXPECT_TRUE(port_.Connected());
  port_.OnRxChar = nullptr;
  port_.Close();
  EXPECT_FALSE(port_.Connected());
}

// A removed device makes every wait fail at once: the thread must pause,
// tell the user once, and still stop when asked.
TEST_P(SerialEventsTest, LostDeviceIsPacedReportedAndClosable) {
  ReportCapture reports(&loop_);
  port_.Open();
  device_->ClearCalls();
  device_->Unplug();
  ASSERT_TRUE(loop_.Pump([&] { return !reports.Messages().empty(); }));
  EXPECT_EQ(reports.Messages(), std::vector<std::string>{"Waiting for line events on COM6 failed (win error code: 1167)"});
  // Two failed waits before the report: no spinning.
  EXPECT_LE(device_->CountOf("WaitCommEvent"), 3);
  try {
    port_.Close();
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 5);
  }
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(port_.ThreadCreated());
  EXPECT_EQ(port_.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(reports.Messages().size(), 1u);
}

// With a handler for the loss, the program tells the user in its own words:
// once, on the main thread where the handlers run, and not in English. A
// handler that fails because the device went meanwhile adds no report.
TEST_P(SerialEventsTest, LostDeviceGoesToItsOwnHandlerOnce) {
  ReportCapture reports(&loop_);
  port_.OnLineLost = [this](TObject* sender, int32_t code) {
    Log((sender == &port_ ? "lost " : "lost by another ") + std::to_string(code));
  };
  // The adapter is pulled out, its buffer with it, as characters are handled.
  port_.OnRxChar = [this](TObject*, int32_t count) {
    device_->FailCall("ReadFile", ERROR_DEVICE_NOT_CONNECTED);
    device_->Unplug();
    std::string text;
    port_.ReadText(text, count);
  };
  port_.Open();
  TakeLog();
  device_->Feed("gone with the adapter\r");
  ASSERT_TRUE(WaitFor("lost 1167"));
  try {
    port_.Close();
  } catch (const EComPort&) {
  }
  std::vector<std::string> lost;
  for (const std::string& entry : TakeLog())
    if (entry.rfind("lost", 0) == 0) lost.push_back(entry);
  EXPECT_EQ(lost, std::vector<std::string>{"lost 1167"});
  EXPECT_EQ(OffMain(), GetParam() == smNone);
  EXPECT_TRUE(reports.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(SyncMethods, SerialEventsTest, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& info) {
                           switch (info.param) {
                             case smThreadSync: return std::string("ThreadSync");
                             case smWindowSync: return std::string("WindowSync");
                             default: return std::string("None");
                           }
                         });
