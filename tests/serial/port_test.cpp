// The port against the virtual test device: what reaches the device, when,
// and how every refusal is reported.
#include "serial/serial.h"
#include "serial_test_util.h"
#include "winapi/virtual_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Gives the tests the DCB the port would build.
class InspectablePort : public TComPort {
 public:
  using TComPort::TComPort;
  using TCustomComPort::BuildDCB;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = vdev::VirtualDevice::Register("COM7");
    port_.SetPort("COM7");
    port_.SetEvents(TComEvents{});  // no event thread unless a test asks
  }
  void TearDown() override {
    // Handlers of a test may refer to its locals, which are gone by now.
    port_.OnBeforeOpen = port_.OnAfterOpen = port_.OnBeforeClose = port_.OnAfterClose = nullptr;
    port_.Close();
    vdev::VirtualDevice::Unregister("COM7");
  }

  std::vector<vdev::Call> CallsNamed(const std::string& name) const {
    std::vector<vdev::Call> out;
    for (const auto& c : device_->Calls())
      if (c.name == name) out.push_back(c);
    return out;
  }
  DcbBytes LastDcb() const {
    auto calls = CallsNamed("SetCommState");
    EXPECT_FALSE(calls.empty());
    return calls.empty() ? DcbBytes{} : BytesOf(calls.back().dcb);
  }
  // Opens, forgets the open's own calls, changes something, returns the DCB sent.
  template <typename Change>
  DcbBytes DcbAfter(Change change) {
    if (!port_.Connected()) port_.Open();
    device_->ClearCalls();
    change(port_);
    EXPECT_EQ(device_->CountOf("SetCommState"), 1);
    return LastDcb();
  }

  std::shared_ptr<vdev::VirtualDevice> device_;
  InspectablePort port_{nullptr};
};

}  // namespace

// ---- What the device receives ----

TEST_F(SerialPortTest, OpenAppliesBuffersThenLineThenTimeouts) {
  port_.Open();
  ASSERT_TRUE(port_.Connected());
  std::vector<std::string> order;
  for (const auto& c : device_->Calls())
    if (c.name == "CreateFile" || c.name == "SetupComm" || c.name == "SetCommState" || c.name == "SetCommTimeouts")
      order.push_back(c.name);
  EXPECT_EQ(order, (std::vector<std::string>{"CreateFile", "SetupComm", "SetCommState", "SetCommTimeouts"}));

  auto open = CallsNamed("CreateFile");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].data, "\\\\.\\COM7");

  auto setup = CallsNamed("SetupComm");
  EXPECT_EQ(setup[0].arg1, 1024u);
  EXPECT_EQ(setup[0].arg2, 1024u);

  EXPECT_EQ(LastDcb(), ExpectedDcb{}.Bytes());

  auto t = CallsNamed("SetCommTimeouts")[0].timeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(SerialPortTest, ApplicationLineSettings1200_8N2) {
  port_.SetBaudRate(br1200);
  port_.SetDataBits(dbEight);
  port_.SetStopBits(sbTwoStopBits);
  port_.Parity().SetBits(prNone);
  port_.FlowControl().SetFlowControl(fcNone);
  EXPECT_EQ(device_->Calls().size(), 0u);  // closed: only stored
  port_.Open();
  ExpectedDcb want;
  want.baud = 1200;
  want.stopBits = TWOSTOPBITS;
  EXPECT_EQ(LastDcb(), want.Bytes());
}

TEST_F(SerialPortTest, LineSettingsFieldByField) {
  ExpectedDcb want;
  want.baud = 1200;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.SetBaudRate(br1200); }), want.Bytes());
  // The custom speed re-applies even while not selected: the same 1200 again.
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.SetCustomBaudRate(31250); }), want.Bytes());
  want.baud = 31250;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.SetBaudRate(brCustom); }), want.Bytes());
  want.byteSize = 7;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.SetDataBits(dbSeven); }), want.Bytes());
  want.parity = MARKPARITY;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.Parity().SetBits(prMark); }), want.Bytes());
  want.stopBits = TWOSTOPBITS;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.SetStopBits(sbTwoStopBits); }), want.Bytes());
  want.stopBits = ONE5STOPBITS;
  want.byteSize = 5;
  EXPECT_EQ(DcbAfter([](TComPort& p) {
              p.BeginUpdate();
              p.SetStopBits(sbOne5StopBits);
              p.SetDataBits(dbFive);
              p.EndUpdate();
            }),
            want.Bytes());
  want.flags |= 0x0800;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.SetDiscardNull(true); }), want.Bytes());
  want.evtChar = '\n';
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.SetEventChar('\n'); }), want.Bytes());
  want.flags |= 0x0020;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake); }), want.Bytes());
  want.flags |= 0x3000;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); }), want.Bytes());
  want.flags |= 0x0008 | 0x0040 | 0x0080;
  EXPECT_EQ(DcbAfter([](TComPort& p) {
              p.BeginUpdate();
              p.FlowControl().SetOutDSRFlow(true);
              p.FlowControl().SetDSRSensitivity(true);
              p.FlowControl().SetTxContinueOnXoff(true);
              p.EndUpdate();
            }),
            want.Bytes());
  want.xonChar = 'Q';
  want.xoffChar = 'S';
  EXPECT_EQ(DcbAfter([](TComPort& p) {
              p.BeginUpdate();
              p.FlowControl().SetXonChar('Q');
              p.FlowControl().SetXoffChar('S');
              p.EndUpdate();
            }),
            want.Bytes());
}

TEST_F(SerialPortTest, FlowPresets) {
  port_.FlowControl().SetControlDTR(dtrEnable);  // kept by every preset
  ExpectedDcb hardware;
  hardware.flags = 0x0001 | 0x0010 | 0x0004 | 0x2000;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); }), hardware.Bytes());
  // The preset applies even when nothing changes.
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); }), hardware.Bytes());
  ExpectedDcb software;
  software.flags = 0x0001 | 0x0010 | 0x0100 | 0x0200;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetFlowControl(fcSoftware); }), software.Bytes());
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetFlowControl(fcCustom); }), software.Bytes());
  ExpectedDcb none;
  none.flags = 0x0001 | 0x0010;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetFlowControl(fcNone); }), none.Bytes());
}

TEST_F(SerialPortTest, ParityReplacementNeedsCheckAndReplace) {
  ExpectedDcb want;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.Parity().SetReplaceChar('?'); }), want.Bytes());
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.Parity().SetReplace(true); }), want.Bytes());
  want.flags = 0x0001 | 0x0002 | 0x0400;
  want.errorChar = '?';
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.Parity().SetCheck(true); }), want.Bytes());
  want.flags = 0x0001 | 0x0002;
  want.errorChar = 0;
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.Parity().SetReplace(false); }), want.Bytes());
}

TEST_F(SerialPortTest, XonXoffLimitsFollowInputSize) {
  ExpectedDcb want;
  want.xonLim = want.xoffLim = 1000;
  port_.Open();
  device_->ClearCalls();
  port_.Buffer().SetInputSize(4001);  // stored as 4000
  EXPECT_EQ(CallsNamed("SetupComm").at(0).arg1, 4000u);
  EXPECT_EQ(device_->CountOf("SetCommState"), 0);  // the limits follow at the next line apply
  EXPECT_EQ(DcbAfter([](TComPort& p) { p.FlowControl().SetFlowControl(fcNone); }), want.Bytes());

  // The 16-bit fields take the low bits of the quotient.
  port_.Close();
  port_.Buffer().SetInputSize(400000);
  EXPECT_EQ(port_.BuildDCB().XonLim, static_cast<WORD>((400000 / 4) & 0xFFFF));
  EXPECT_EQ(port_.BuildDCB().XoffLim, static_cast<WORD>((400000 / 4) & 0xFFFF));
  port_.Buffer().SetInputSize(-202);
  EXPECT_EQ(port_.BuildDCB().XonLim, static_cast<WORD>(-50));
}

TEST_F(SerialPortTest, UnchangedValuesReachNoDevice) {
  port_.Open();
  device_->ClearCalls();
  port_.SetBaudRate(port_.BaudRate());
  port_.SetCustomBaudRate(port_.CustomBaudRate());
  port_.SetStopBits(port_.StopBits());
  port_.SetDataBits(port_.DataBits());
  port_.SetDiscardNull(false);
  port_.SetEventChar(0);
  port_.SetPort("com7");
  port_.Parity().SetBits(prNone);
  port_.Parity().SetCheck(false);
  port_.FlowControl().SetXonChar(17);
  port_.FlowControl().SetControlRTS(rtsDisable);
  port_.Timeouts().SetReadInterval(-1);
  port_.Timeouts().SetWriteTotalConstant(1000);
  port_.Buffer().SetInputSize(1024);
  EXPECT_TRUE(device_->Calls().empty());
}

TEST_F(SerialPortTest, SettingsObjectsAndTimeoutsApplyOnce) {
  port_.Open();
  device_->ClearCalls();
  TComTimeouts t;
  t.SetReadInterval(5);
  t.SetReadTotalMultiplier(6);
  t.SetReadTotalConstant(7);
  t.SetWriteTotalMultiplier(8);
  t.SetWriteTotalConstant(-1);
  port_.SetTimeouts(t);
  auto sent = CallsNamed("SetCommTimeouts");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].timeouts.ReadIntervalTimeout, 5u);
  EXPECT_EQ(sent[0].timeouts.ReadTotalTimeoutMultiplier, 6u);
  EXPECT_EQ(sent[0].timeouts.ReadTotalTimeoutConstant, 7u);
  EXPECT_EQ(sent[0].timeouts.WriteTotalTimeoutMultiplier, 8u);
  EXPECT_EQ(sent[0].timeouts.WriteTotalTimeoutConstant, MAXDWORD);

  TComParity parity;
  parity.SetBits(prEven);
  parity.SetCheck(true);
  port_.SetParity(parity);
  TComBuffer buffer;
  buffer.SetOutputSize(2048);
  port_.SetBuffer(buffer);
  TComFlowControl flow;
  flow.SetFlowControl(fcSoftware);
  port_.SetFlowControl(flow);
  EXPECT_EQ(device_->CountOf("SetCommState"), 2);
  EXPECT_EQ(device_->CountOf("SetupComm"), 1);
  EXPECT_EQ(device_->CountOf("SetCommTimeouts"), 1);
  ExpectedDcb want;
  want.flags = 0x0001 | 0x0002 | 0x0100 | 0x0200;
  want.parity = EVENPARITY;
  EXPECT_EQ(LastDcb(), want.Bytes());
}

TEST_F(SerialPortTest, UpdateBracketAppliesOnceAtTheLastEnd) {
  port_.Open();
  device_->ClearCalls();
  port_.BeginUpdate();
  port_.BeginUpdate();
  port_.SetBaudRate(br115200);
  port_.SetStopBits(sbTwoStopBits);
  port_.Timeouts().SetReadTotalConstant(50);
  port_.Buffer().SetInputSize(2048);
  port_.FlowControl().SetFlowControl(fcHardware);
  port_.EndUpdate();
  EXPECT_TRUE(device_->Calls().empty());
  port_.EndUpdate();
  EXPECT_EQ(device_->CountOf("SetupComm"), 1);
  EXPECT_EQ(device_->CountOf("SetCommState"), 1);
  EXPECT_EQ(device_->CountOf("SetCommTimeouts"), 1);
  EXPECT_EQ(port_.UpdateCount(), 0);

  device_->ClearCalls();
  port_.EndUpdate();  // without a BeginUpdate
  EXPECT_TRUE(device_->Calls().empty());
  EXPECT_EQ(port_.UpdateCount(), 0);
}

TEST_F(SerialPortTest, LoadingOnlyStoresAndOpensWhenDone) {
  ReportCapture reports;
  port_.BeginLoading();
  port_.SetConnected(true);
  port_.SetBaudRate(br1200);
  port_.SetPort("COM7");
  EXPECT_TRUE(device_->Calls().empty());
  port_.EndLoading();
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(device_->CountOf("CreateFile"), 1);
  EXPECT_EQ(BytesOf(CallsNamed("SetCommState").at(0).dcb)[4], 1200 & 0xFF);
  EXPECT_TRUE(reports.Messages().empty());
}

TEST_F(SerialPortTest, LoadedOpenFailureGoesToTheReport) {
  ReportCapture reports;
  device_->FailCall("CreateFile", ERROR_ACCESS_DENIED);
  port_.BeginLoading();
  port_.SetConnected(true);
  EXPECT_NO_THROW(port_.EndLoading());
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(reports.Messages(), std::vector<std::string>{"Unable to open com port (win error code: 5)"});
}

// ---- Connection ----

TEST_F(SerialPortTest, OpenAndCloseAreIdempotent) {
  int afterOpen = 0, afterClose = 0;
  port_.OnAfterOpen = [&](TObject* sender) {
    EXPECT_EQ(sender, &port_);
    ++afterOpen;
  };
  port_.OnAfterClose = [&](TObject*) { ++afterClose; };
  port_.Close();
  EXPECT_TRUE(device_->Calls().empty());
  port_.SetConnected(true);
  HANDLE h = port_.DeviceHandle();
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  device_->ClearCalls();
  port_.Open();
  port_.SetConnected(true);
  EXPECT_TRUE(device_->Calls().empty());
  EXPECT_EQ(port_.DeviceHandle(), h);
  port_.SetConnected(false);
  EXPECT_EQ(port_.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(device_->IsOpen());
  port_.Close();
  EXPECT_EQ(afterOpen, 1);
  EXPECT_EQ(afterClose, 1);
  auto purges = CallsNamed("PurgeComm");
  ASSERT_EQ(purges.size(), 1u);
  EXPECT_EQ(purges[0].arg1, static_cast<DWORD>(PURGE_TXABORT | PURGE_RXABORT));
}

TEST_F(SerialPortTest, PortChangeReopensOnTheNewDevice) {
  auto other = vdev::VirtualDevice::Register("COM8");
  std::vector<std::string> seen;
  port_.OnAfterClose = [&](TObject*) { seen.push_back("closed " + port_.Port()); };
  port_.OnAfterOpen = [&](TObject*) { seen.push_back("opened " + port_.Port()); };
  port_.Open();
  port_.SetPort("com8");
  EXPECT_TRUE(port_.Connected());
  EXPECT_FALSE(device_->IsOpen());
  EXPECT_TRUE(other->IsOpen());
  EXPECT_EQ(other->Calls().at(0).data, "\\\\.\\COM8");
  EXPECT_EQ(seen, (std::vector<std::string>{"opened COM7", "closed COM8", "opened COM8"}));
  port_.Close();
  vdev::VirtualDevice::Unregister("COM8");
}

TEST_F(SerialPortTest, FailingReopenPropagatesAndKeepsTheName) {
  port_.Open();
  try {
    port_.SetPort("COM9");  // nothing answers to COM9
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 1);
  }
  EXPECT_EQ(port_.Port(), "COM9");
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(device_->IsOpen());
}

TEST_F(SerialPortTest, FailingApplyDuringOpenClosesTheDeviceAgain) {
  struct Case {
    const char* call;
    int code;
    const char* message;
  };
  for (const Case& c : {Case{"SetupComm", 9, "SetupComm function failed (win error code: 87)"},
                        Case{"SetCommState", 7, "SetCommState function failed (win error code: 87)"},
                        Case{"SetCommTimeouts", 8, "SetCommTimeouts failed (win error code: 87)"}}) {
    SCOPED_TRACE(c.call);
    int afterOpen = 0, afterClose = 0;
    port_.OnAfterOpen = [&](TObject*) { ++afterOpen; };
    port_.OnAfterClose = [&](TObject*) { ++afterClose; };
    device_->FailCall(c.call, ERROR_INVALID_PARAMETER, 1);
    device_->ClearCalls();
    try {
      port_.Open();
      ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(e.WinErrorCode(), 87);
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_FALSE(port_.Connected());
    EXPECT_EQ(port_.DeviceHandle(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(device_->IsOpen());
    EXPECT_EQ(afterOpen, 0);
    EXPECT_EQ(afterClose, 0);
    // The failing step ended the sequence.
    if (std::string(c.call) == "SetupComm") { EXPECT_EQ(device_->CountOf("SetCommState"), 0); }
    if (std::string(c.call) != "SetCommTimeouts") { EXPECT_EQ(device_->CountOf("SetCommTimeouts"), 0); }
    device_->ClearFailures();
    port_.Open();  // the next open works
    EXPECT_TRUE(port_.Connected());
    port_.Close();
  }
}

// Loss is told by what Windows answers for a removed device: a driver that
// cannot report its modem lines (some virtual ports) opens with them off
// and is not taken for gone; an unplugged one is.
TEST_F(SerialPortTest, ADriverWithoutModemLinesOpensAndOnlyALossCountsAsGone) {
  bool cts = true;
  port_.OnCTSChange = [&](TObject*, bool on) { cts = on; };
  device_->FailCall("GetCommModemStatus", ERROR_INVALID_FUNCTION);
  port_.Open();
  EXPECT_TRUE(port_.Connected());
  EXPECT_FALSE(cts);
  EXPECT_FALSE(port_.DeviceGone());
  device_->Unplug();
  EXPECT_TRUE(port_.DeviceGone());
  port_.Close();
}

// A device whose lines cannot be read after it opened (seen under another
// implementation of the API) must not leave a half-open port behind.
TEST_F(SerialPortTest, FailingSignalReportClosesTheDeviceAgain) {
  device_->FailCall("GetCommModemStatus", ERROR_GEN_FAILURE, 1);
  try {
    port_.Open();
    ADD_FAILURE() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 11);
  }
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(port_.ThreadCreated());
  EXPECT_FALSE(device_->IsOpen());
  port_.Open();  // the next open works
  EXPECT_TRUE(port_.Connected());
  port_.Close();
}

TEST_F(SerialPortTest, RefusedSettingStaysStoredAndIsSentAgain) {
  port_.Open();
  device_->FailCall("SetCommState", ERROR_INVALID_PARAMETER, 1);
  EXPECT_THROW(port_.SetBaudRate(br256000), EComPort);
  EXPECT_EQ(port_.BaudRate(), br256000);
  device_->ClearCalls();
  port_.SetDataBits(dbSeven);
  ExpectedDcb want;
  want.baud = 256000;
  want.byteSize = 7;
  EXPECT_EQ(LastDcb(), want.Bytes());
}

TEST_F(SerialPortTest, OpenFailureCarriesTheWindowsCode) {
  device_->FailCall("CreateFile", ERROR_FILE_NOT_FOUND);
  int beforeOpen = 0;
  port_.OnBeforeOpen = [&](TObject*) { ++beforeOpen; };
  try {
    port_.Open();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinErrorCode(), 2);
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  }
  EXPECT_EQ(beforeOpen, 1);
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(port_.DeviceHandle(), INVALID_HANDLE_VALUE);
}

TEST_F(SerialPortTest, SyncMethodIsFixedWhileConnected) {
  port_.SetSyncMethod(smWindowSync);
  EXPECT_EQ(port_.SyncMethod(), smWindowSync);
  port_.Open();
  port_.SetSyncMethod(smWindowSync);  // equal: nothing
  try {
    port_.SetSyncMethod(smNone);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 14);
    EXPECT_EQ(e.WinErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Cannot set SyncMethod while connected");
  }
  EXPECT_EQ(port_.SyncMethod(), smWindowSync);
  port_.Close();
  port_.SetSyncMethod(smNone);
  EXPECT_EQ(port_.SyncMethod(), smNone);
}

// A device that has gone away refuses the purge: the port still closes.
TEST_F(SerialPortTest, CloseOfALostDeviceStillCloses) {
  port_.SetEvents(AllComEvents);
  std::vector<std::string> seen;
  port_.OnBeforeClose = [&](TObject*) { seen.push_back("before"); };
  port_.OnAfterClose = [&](TObject*) { seen.push_back("after"); };
  port_.Open();
  ASSERT_TRUE(port_.ThreadCreated());
  device_->FailCall("PurgeComm", ERROR_DEVICE_NOT_CONNECTED);
  try {
    port_.Close();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 5);
    EXPECT_EQ(e.WinErrorCode(), static_cast<int32_t>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_STREQ(e.what(), "PurgeComm function failed (win error code: 1167)");
  }
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(port_.ThreadCreated());
  EXPECT_EQ(port_.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(device_->IsOpen());
  EXPECT_EQ(seen, (std::vector<std::string>{"before", "after"}));
  device_->ClearFailures();
  port_.Open();
  EXPECT_TRUE(port_.Connected());
  port_.Close();
}

// ---- Transfers and status ----

TEST_F(SerialPortTest, TransfersMoveBytes) {
  port_.Open();
  EXPECT_EQ(port_.WriteText("AB\r\n"), 4);
  EXPECT_EQ(port_.WriteText(""), 0);
  EXPECT_EQ(device_->TakeWritten(), "AB\r\n");

  std::string text = "old";
  EXPECT_EQ(port_.ReadText(text, 10), 0);
  EXPECT_EQ(text, "");
  device_->Feed("xyz");
  EXPECT_EQ(port_.InputCount(), 3);
  EXPECT_EQ(port_.ReadText(text, 10), 3);
  EXPECT_EQ(text, "xyz");
  device_->Feed(std::string("a\0b\xff", 4));
  char buffer[8] = {};
  EXPECT_EQ(port_.ReadBuffer(buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), std::string("a\0", 2));
  EXPECT_EQ(port_.ReadText(text, -5), 0);  // a negative count reads nothing
  EXPECT_EQ(port_.ReadText(text, 10), 2);
  EXPECT_EQ(text, "b\xff");
}

TEST_F(SerialPortTest, AsyncTransfers) {
  port_.Open();
  TAsyncTransfer* transfer = nullptr;
  TCustomComPort::NewTransfer(transfer);
  ASSERT_NE(transfer, nullptr);
  std::string data = "hello";
  port_.WriteTextAsync(data, transfer);
  EXPECT_EQ(transfer->Kind, tkWrite);
  EXPECT_EQ(port_.WaitForTransfer(transfer), 5);
  EXPECT_EQ(device_->TakeWritten(), "hello");

  device_->Feed("0123456789");
  std::string in;
  port_.ReadTextAsync(in, 4, transfer);
  EXPECT_EQ(transfer->Kind, tkRead);
  EXPECT_EQ(port_.WaitForTransfer(transfer), 4);
  EXPECT_EQ(in.substr(0, 4), "0123");
  TCustomComPort::FreeTransfer(transfer);
  EXPECT_EQ(transfer, nullptr);
  TCustomComPort::FreeTransfer(transfer);  // nothing left to free

  try {
    port_.WaitForTransfer(nullptr);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 4);
    EXPECT_EQ(e.WinErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Invalid Async parameter");
  }
}

TEST_F(SerialPortTest, TransferAndStatusFailures) {
  auto expectCode = [](auto&& call, int code, int win, const std::string& message) {
    try {
      call();
      ADD_FAILURE() << "no error for code " << code;
    } catch (const EComPort& e) {
      EXPECT_EQ(e.Code(), code);
      EXPECT_EQ(e.WinErrorCode(), win);
      EXPECT_EQ(e.Message(), message);
    }
  };
  std::string text;
  // Closed port: the invalid handle is refused by Windows.
  expectCode([&] { port_.WriteText("x"); }, 2, 6, "WriteFile function failed (win error code: 6)");
  expectCode([&] { port_.ReadText(text, 5); }, 3, 6, "ReadFile function failed (win error code: 6)");
  expectCode([&] { port_.InputCount(); }, 10, 6, "ClearCommError function failed (win error code: 6)");
  expectCode([&] { port_.LineErrors(); }, 10, 6, "ClearCommError function failed (win error code: 6)");
  expectCode([&] { port_.ModemStatus(); }, 11, 6, "GetCommModemStatus function failed (win error code: 6)");
  expectCode([&] { port_.AbortTransfers(); }, 5, 6, "PurgeComm function failed (win error code: 6)");

  port_.Open();
  device_->FailCall("WriteFile", ERROR_GEN_FAILURE, 1);
  expectCode([&] { port_.WriteText("x"); }, 2, 31, "WriteFile function failed (win error code: 31)");
  device_->FailCall("ReadFile", ERROR_GEN_FAILURE, 1);
  expectCode([&] { port_.ReadText(text, 5); }, 3, 31, "ReadFile function failed (win error code: 31)");
  EXPECT_EQ(text, "");
  device_->FailCall("ClearCommError", ERROR_GEN_FAILURE, 1);
  expectCode([&] { port_.InputCount(); }, 10, 31, "ClearCommError function failed (win error code: 31)");
  device_->FailCall("GetCommModemStatus", ERROR_GEN_FAILURE, 1);
  expectCode([&] { port_.ModemStatus(); }, 11, 31, "GetCommModemStatus function failed (win error code: 31)");
  // Works again afterwards.
  EXPECT_EQ(port_.WriteText("ok"), 2);
}

TEST_F(SerialPortTest, StatusQueries) {
  port_.Open();
  device_->SetModemStatus(MS_CTS_ON | MS_RING_ON);
  EXPECT_EQ(port_.ModemStatus(), (TModemSignals{msCTS, msRing}));
  device_->SetLineErrors(CE_FRAME | CE_RXPARITY | CE_OVERRUN);
  EXPECT_EQ(port_.LineErrors(), (TComErrors{erFrame, erOverrun}));
  EXPECT_TRUE(port_.LineErrors().Empty());  // reading cleared them
  port_.Parity().SetCheck(true);
  device_->SetLineErrors(CE_RXPARITY);
  EXPECT_EQ(port_.LineErrors(), TComErrors{erRxParity});
  // An overrun comes with characters: counting them must not swallow it.
  device_->SetLineErrors(CE_OVERRUN);
  EXPECT_EQ(port_.InputCount(), 0);
  EXPECT_EQ(port_.LineErrors(), TComErrors{erOverrun});
  EXPECT_TRUE(port_.LineErrors().Empty());
}

TEST(SerialPortDialog, ShowSettingsDialogGoesThroughTheHook) {
  TComPort port(nullptr);
  EXPECT_THROW(port.ShowSettingsDialog(), Exception);
  TCustomComPort* shown = nullptr;
  SetShowSettingsDialogHook([&](TCustomComPort* p) { shown = p; });
  port.ShowSettingsDialog();
  EXPECT_EQ(shown, &port);
  SetShowSettingsDialogHook(nullptr);
}
