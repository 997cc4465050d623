// Storing and loading port settings: INI sections, registry keys, the
// groups, encodings and defaults, and loading into an open port.
#include "rtl/ini_file.h"
#include "rtl/registry.h"
#include "serial/serial.h"
#include "tests/scratch.h"
#include "tests/whole_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <tuple>

#ifndef _WIN32
#include "winapi/virtual_device.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr TStoredGroup kAllGroups[] = {sgBasic, sgFlowDetails, sgBuffer, sgTimeouts, sgParityDetails, sgReceive};
const TStoredGroups kEveryGroup{sgBasic, sgFlowDetails, sgBuffer, sgTimeouts, sgParityDetails, sgReceive};

// The file as text, Windows' CR LF line ends read as LF.
std::string IniText(const fs::path& path) {
  std::string text = ReadWholeFile(path);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// The settings of one group, comparable as a whole.
using GroupValues = std::vector<std::string>;

GroupValues ValuesOf(const TCustomComPort& p, TStoredGroup group) {
  const auto b = [](bool v) { return std::string(v ? "T" : "F"); };
  const auto n = [](int64_t v) { return std::to_string(v); };
  switch (group) {
    case sgBasic:
      return {p.Port(), n(p.BaudRate()), n(p.CustomBaudRate()), n(p.StopBits()), n(p.DataBits()),
              n(p.Parity().Bits())};  // the flow preset derives from the flow details
    case sgReceive:
      return {n(static_cast<unsigned char>(p.EventChar())), b(p.DiscardNull())};
    case sgParityDetails:
      return {b(p.Parity().Check()), b(p.Parity().Replace()), n(static_cast<unsigned char>(p.Parity().ReplaceChar()))};
    case sgBuffer:
      return {n(p.Buffer().OutputSize()), n(p.Buffer().InputSize())};
    case sgTimeouts: {
      const TComTimeouts& t = p.Timeouts();
      return {n(t.ReadInterval()), n(t.ReadTotalConstant()), n(t.ReadTotalMultiplier()), n(t.WriteTotalConstant()),
              n(t.WriteTotalMultiplier())};
    }
    case sgFlowDetails: {
      const TComFlowControl& f = p.FlowControl();
      return {n(f.ControlRTS()), n(f.ControlDTR()), b(f.DSRSensitivity()), b(f.OutCTSFlow()), b(f.OutDSRFlow()),
              b(f.TxContinueOnXoff()), b(f.XonXoffIn()), b(f.XonXoffOut()),
              n(static_cast<unsigned char>(f.XoffChar())), n(static_cast<unsigned char>(f.XonChar()))};
    }
  }
  return {};
}

// Every setting away from its default. The flow fields read as the preset
// fcCustom, so loading the basic group alone leaves them as they are.
void ConfigureA(TCustomComPort& p) {
  p.SetPort("COM12");
  p.SetBaudRate(brCustom);
  p.SetCustomBaudRate(31250);
  p.SetStopBits(sbOne5StopBits);
  p.SetDataBits(dbSeven);
  p.Parity().SetBits(prMark);
  p.SetEventChar('\r');
  p.SetDiscardNull(true);
  p.Parity().SetCheck(true);
  p.Parity().SetReplace(true);
  p.Parity().SetReplaceChar(static_cast<char>(200));
  p.Buffer().SetOutputSize(4096);
  p.Buffer().SetInputSize(2048);
  p.Timeouts().SetReadInterval(50);
  p.Timeouts().SetReadTotalConstant(-1);
  p.Timeouts().SetReadTotalMultiplier(3);
  p.Timeouts().SetWriteTotalConstant(0);
  p.Timeouts().SetWriteTotalMultiplier(7);
  TComFlowControl& f = p.FlowControl();
  f.SetControlRTS(rtsToggle);
  f.SetControlDTR(dtrHandshake);
  f.SetDSRSensitivity(true);
  f.SetOutCTSFlow(true);
  f.SetOutDSRFlow(true);
  f.SetTxContinueOnXoff(true);
  f.SetXonXoffIn(true);
  f.SetXonXoffOut(false);
  f.SetXoffChar('X');
  f.SetXonChar('#');
}

// Different again from both A and the defaults.
void ConfigureB(TCustomComPort& p) {
  p.SetPort("COM2");
  p.SetBaudRate(br1200);
  p.SetCustomBaudRate(4321);
  p.SetStopBits(sbTwoStopBits);
  p.SetDataBits(dbSix);
  p.Parity().SetBits(prOdd);
  p.SetEventChar('A');
  p.Parity().SetReplaceChar('?');
  p.Buffer().SetOutputSize(512);
  p.Buffer().SetInputSize(256);
  p.Timeouts().SetReadInterval(10);
  p.Timeouts().SetWriteTotalConstant(99);
  p.FlowControl().SetControlDTR(dtrEnable);
  p.FlowControl().SetXonChar('!');
}

class SerialStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("storage_test");
    ini_ = dir_ / "ports.ini";
    registry_ = std::make_unique<PrivateRegistry>(dir_);
    a_.SetName("ComPort1");
    b_.SetName("ComPort1");
    ConfigureA(a_);
    ConfigureB(b_);
  }
  void TearDown() override {
    registry_.reset();
    fs::remove_all(dir_);
  }

  fs::path dir_;
  fs::path ini_;
  std::unique_ptr<PrivateRegistry> registry_;
  TComPort a_{nullptr};
  TComPort b_{nullptr};
};

TEST_F(SerialStorage, EachGroupAloneTravelsThroughAnIniFileAndNothingElse) {
  for (const TStoredGroup group : kAllGroups) {
    SCOPED_TRACE("group " + std::to_string(group));
    TComPort target(nullptr);
    target.SetName("ComPort1");
    ConfigureB(target);
    fs::remove(ini_);

    a_.SetStoredGroups(TStoredGroups{group});
    target.SetStoredGroups(TStoredGroups{group});
    TIniFile ini(ini_.string());
    a_.StoreToIniFile(ini);
    target.LoadFromIniFile(ini);

    for (const TStoredGroup other : kAllGroups) {
      if (other == group) {
        EXPECT_EQ(ValuesOf(target, other), ValuesOf(a_, other));
      } else {
        EXPECT_EQ(ValuesOf(target, other), ValuesOf(b_, other)) << "group " << int{other} << " changed";
      }
    }
  }
}

TEST_F(SerialStorage, AllGroupsAreWrittenInTheirFixedOrderWithTheirEncodings) {
  a_.SetStoredGroups(kEveryGroup);
  TIniFile ini(ini_.string());
  a_.StoreToIniFile(ini);
  EXPECT_EQ(IniText(ini_),
            "[ComPort1]\n"
            "Port=COM12\n"
            "BaudRate=Custom\n"
            "CustomBaudRate=31250\n"
            "StopBits=1.5\n"
            "DataBits=7\n"
            "Parity=Mark\n"
            "FlowControl=Custom\n"
            "EventChar=#13\n"
            "DiscardNull=Yes\n"
            "Parity.Check=Yes\n"
            "Parity.Replace=Yes\n"
            "Parity.ReplaceChar=#200\n"
            "Buffer.OutputSize=4096\n"
            "Buffer.InputSize=2048\n"
            "Timeouts.ReadInterval=50\n"
            "Timeouts.ReadTotalConstant=-1\n"
            "Timeouts.ReadTotalMultiplier=3\n"
            "Timeouts.WriteTotalConstant=0\n"
            "Timeouts.WriteTotalMultiplier=7\n"
            "FlowControl.ControlRTS=Toggle\n"
            "FlowControl.ControlDTR=Handshake\n"
            "FlowControl.DSRSensitivity=Yes\n"
            "FlowControl.OutCTSFlow=Yes\n"
            "FlowControl.OutDSRFlow=Yes\n"
            "FlowControl.TxContinueOnXoff=Yes\n"
            "FlowControl.XonXoffIn=Yes\n"
            "FlowControl.XonXoffOut=No\n"
            "FlowControl.XoffChar=X\n"
            "FlowControl.XonChar=#\n");

  b_.SetStoredGroups(kEveryGroup);
  b_.LoadFromIniFile(ini);
  for (const TStoredGroup group : kAllGroups) EXPECT_EQ(ValuesOf(b_, group), ValuesOf(a_, group)) << int{group};
}

TEST_F(SerialStorage, DefaultGroupsStoreOnlyTheSevenBasicValues) {
  TComPort port(nullptr);
  port.SetName("ComPort1");
  EXPECT_EQ(port.StoredGroups(), TStoredGroups{sgBasic});
  TIniFile ini(ini_.string());
  port.StoreToIniFile(ini);
  EXPECT_EQ(IniText(ini_),
            "[ComPort1]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");

  // The custom rate joins them only while it is the one in use.
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.StoreToIniFile(ini);
  EXPECT_EQ(ini.ReadSection("ComPort1"), (std::vector<std::string>{"Port", "BaudRate", "StopBits", "DataBits",
                                                                    "Parity", "FlowControl", "CustomBaudRate"}));
  EXPECT_EQ(ini.ReadInteger("ComPort1", "CustomBaudRate", 0), 250000);
}

TEST_F(SerialStorage, FlowControlPresetTravelsInTheBasicGroup) {
  a_.FlowControl().SetFlowControl(fcHardware);
  b_.FlowControl().SetFlowControl(fcSoftware);
  TIniFile ini(ini_.string());
  a_.StoreToIniFile(ini);
  EXPECT_EQ(ini.ReadString("ComPort1", "FlowControl", ""), "Hardware");
  b_.LoadFromIniFile(ini);
  EXPECT_EQ(b_.FlowControl().FlowControl(), fcHardware);
  EXPECT_EQ(b_.FlowControl().ControlRTS(), rtsHandshake);
  EXPECT_TRUE(b_.FlowControl().OutCTSFlow());
  EXPECT_FALSE(b_.FlowControl().XonXoffIn());
}

TEST_F(SerialStorage, SectionLackingValuesKeepsSettingsButCustomRateFallsBackTo9600) {
  WriteWholeFile(ini_, "[Other]\nPort=COM9\n[comport1]\nPort=com5\nBaudRate=custom\n");
  b_.SetStoredGroups(kEveryGroup);
  TComPort expected(nullptr);
  ConfigureB(expected);
  TIniFile ini(ini_.string());
  b_.LoadFromIniFile(ini);
  EXPECT_EQ(b_.Port(), "COM5");
  EXPECT_EQ(b_.BaudRate(), brCustom);
  EXPECT_EQ(b_.CustomBaudRate(), 9600) << "not the 4321 it held";
  EXPECT_EQ(b_.StopBits(), sbTwoStopBits);
  EXPECT_EQ(b_.DataBits(), dbSix);
  EXPECT_EQ(b_.Parity().Bits(), prOdd);
  for (const TStoredGroup group : {sgReceive, sgParityDetails, sgBuffer, sgTimeouts, sgFlowDetails}) {
    EXPECT_EQ(ValuesOf(b_, group), ValuesOf(expected, group)) << int{group};
  }

  // Without "Custom" the rate is not read at all.
  WriteWholeFile(ini_, "[ComPort1]\nBaudRate=2400\nCustomBaudRate=777\n");
  b_.SetCustomBaudRate(4321);
  b_.LoadFromIniFile(ini);
  EXPECT_EQ(b_.BaudRate(), br2400);
  EXPECT_EQ(b_.CustomBaudRate(), 4321);
}

TEST_F(SerialStorage, OnlyYesInAnyCaseReadsAsTrue) {
  b_.SetStoredGroups(TStoredGroups{sgReceive});
  TIniFile ini(ini_.string());
  for (const auto& [text, expected] : std::vector<std::pair<std::string, bool>>{
           {"Yes", true}, {"YES", true}, {"yes", true}, {"yEs", true},
           {"1", false}, {"true", false}, {"No", false}, {"", false}, {"Yes please", false}}) {
    b_.SetDiscardNull(!expected);
    ini.WriteString("ComPort1", "DiscardNull", text);
    b_.LoadFromIniFile(ini);
    EXPECT_EQ(b_.DiscardNull(), expected) << '"' << text << '"';
  }
}

TEST_F(SerialStorage, RegistryRoundTripUsesTextAndDwordValues) {
  a_.SetStoredGroups(kEveryGroup);
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur\\Ports", true));
    a_.StoreToRegistry(reg);
    const auto names = reg.GetValueNames();
    EXPECT_EQ(names.size(), 29u) << ::testing::PrintToString(names);
    EXPECT_EQ(reg.GetDataType("Port"), rdString);
    EXPECT_EQ(reg.GetDataType("BaudRate"), rdString);
    EXPECT_EQ(reg.GetDataType("FlowControl.XonChar"), rdString);
    EXPECT_EQ(reg.GetDataType("DiscardNull"), rdString);
    EXPECT_EQ(reg.ReadString("DiscardNull"), "Yes");
    EXPECT_EQ(reg.GetDataType("CustomBaudRate"), rdInteger);
    EXPECT_EQ(reg.GetDataType("Buffer.InputSize"), rdInteger);
    EXPECT_EQ(reg.ReadInteger("Timeouts.ReadTotalConstant"), -1);
  }
  TRegistry reg(KEY_READ);
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur\\Ports", false));
  b_.SetStoredGroups(kEveryGroup);
  b_.LoadFromRegistry(reg);
  for (const TStoredGroup group : kAllGroups) EXPECT_EQ(ValuesOf(b_, group), ValuesOf(a_, group)) << int{group};
}

TEST_F(SerialStorage, RegistryLoadStopsAtAMissingOrMistypedIntegerKeepingEarlierValues) {
  a_.SetStoredGroups(kEveryGroup);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur\\Ports", true));
  a_.StoreToRegistry(reg);
  ASSERT_TRUE(reg.DeleteValue("Buffer.InputSize"));

  b_.SetStoredGroups(kEveryGroup);
  try {
    b_.LoadFromRegistry(reg);
    FAIL() << "a missing integer must stop the load";
  } catch (const ERegistryException& e) {
    EXPECT_NE(std::string(e.what()).find("\"Buffer.InputSize\""), std::string::npos) << e.what();
  }
  // Groups before the buffer, and the output size read just before, are loaded.
  for (const TStoredGroup group : {sgBasic, sgReceive, sgParityDetails}) {
    EXPECT_EQ(ValuesOf(b_, group), ValuesOf(a_, group)) << int{group};
  }
  EXPECT_EQ(b_.Buffer().OutputSize(), 4096);
  EXPECT_EQ(b_.Buffer().InputSize(), 256);
  TComPort untouched(nullptr);
  ConfigureB(untouched);
  for (const TStoredGroup group : {sgTimeouts, sgFlowDetails}) {
    EXPECT_EQ(ValuesOf(b_, group), ValuesOf(untouched, group)) << int{group};
  }

  // An integer stored as text stops it the same way.
  reg.WriteString("Buffer.InputSize", "2048");
  EXPECT_THROW(b_.LoadFromRegistry(reg), ERegistryException);
}

TEST_F(SerialStorage, RegistryTextMissingReadsAsEmptyAndGoesThroughTheParser) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Vazur\\Ports", true));
  a_.SetBaudRate(br19200);
  a_.StoreToRegistry(reg);
  ASSERT_TRUE(reg.DeleteValue("DataBits"));
  ASSERT_TRUE(reg.DeleteValue("Port"));
  b_.LoadFromRegistry(reg);
  EXPECT_EQ(b_.BaudRate(), br19200);
  EXPECT_EQ(b_.DataBits(), dbEight);
  EXPECT_EQ(b_.Port(), "COM1");
  EXPECT_EQ(b_.StopBits(), sbOne5StopBits);
}

// Against the virtual test device, which only the POSIX layer has.
#ifndef _WIN32

class SerialStorageOpenPort : public SerialStorage {
 protected:
  void SetUp() override {
    SerialStorage::SetUp();
    device_ = vdev::VirtualDevice::Register("COM7");
    port_.SetName("ComPort1");
    port_.SetPort("COM7");
    port_.SetEvents(TComEvents{});
    port_.Open();
    ASSERT_TRUE(port_.Connected());
    device_->ClearCalls();
  }
  void TearDown() override {
    port_.Close();
    vdev::VirtualDevice::Unregister("COM7");
    vdev::VirtualDevice::Unregister("COM8");
    SerialStorage::TearDown();
  }

  std::shared_ptr<vdev::VirtualDevice> device_;
  TComPort port_{nullptr};
};

TEST_F(SerialStorageOpenPort, LoadingAppliesEachChangedSettingThroughItsSetter) {
  WriteWholeFile(ini_,
            "[ComPort1]\nPort=COM7\nBaudRate=19200\nStopBits=2\nDataBits=7\nParity=Even\nFlowControl=None\n"
            "Timeouts.ReadInterval=-1\nTimeouts.ReadTotalConstant=500\nTimeouts.WriteTotalConstant=2000\n");
  port_.SetStoredGroups(TStoredGroups{sgBasic, sgTimeouts});
  TIniFile ini(ini_.string());
  port_.LoadFromIniFile(ini);

  // Four changed line settings plus the preset, which always applies; two
  // changed time-outs; the port was not reopened.
  EXPECT_EQ(device_->CountOf("SetCommState"), 5);
  EXPECT_EQ(device_->CountOf("SetCommTimeouts"), 2);
  EXPECT_EQ(device_->CountOf("CreateFile"), 0);
  const auto calls = device_->Calls();
  const DCB* last = nullptr;
  const COMMTIMEOUTS* timeouts = nullptr;
  for (const auto& call : calls) {
    if (call.name == "SetCommState") last = &call.dcb;
    if (call.name == "SetCommTimeouts") timeouts = &call.timeouts;
  }
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->BaudRate, 19200u);
  EXPECT_EQ(last->StopBits, TWOSTOPBITS);
  EXPECT_EQ(last->ByteSize, 7);
  EXPECT_EQ(last->Parity, EVENPARITY);
  ASSERT_NE(timeouts, nullptr);
  EXPECT_EQ(timeouts->ReadTotalTimeoutConstant, 500u);
  EXPECT_EQ(timeouts->WriteTotalTimeoutConstant, 2000u);
  EXPECT_EQ(timeouts->ReadIntervalTimeout, MAXDWORD);
}

TEST_F(SerialStorageOpenPort, LoadedPortNameReopensTheOpenPortOnTheNewDevice) {
  auto other = vdev::VirtualDevice::Register("COM8");
  WriteWholeFile(ini_, "[ComPort1]\nPort=COM8\n");
  TIniFile ini(ini_.string());
  port_.LoadFromIniFile(ini);
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(port_.Port(), "COM8");
  EXPECT_FALSE(device_->IsOpen());
  EXPECT_TRUE(other->IsOpen());
}

TEST_F(SerialStorageOpenPort, DeviceRefusingALoadedSettingStopsTheLoadWithItsOwnError) {
  WriteWholeFile(ini_, "[ComPort1]\nPort=COM7\nBaudRate=19200\nStopBits=2\n");
  device_->FailCall("SetCommState", ERROR_INVALID_PARAMETER, 1);
  try {
    LoadSettingsFromIniFile(port_, ini_.string());
    FAIL() << "the refusal must reach the caller";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), ecSetStateFailed);
    EXPECT_EQ(e.WinErrorCode(), static_cast<int32_t>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(port_.BaudRate(), br19200) << "the refused value stays stored";
  EXPECT_EQ(port_.StopBits(), sbOneStopBit) << "loading stopped at the refusal";
}

#endif  // !_WIN32

TEST_F(SerialStorage, WrappersReportStoreFailuresAsCodes16And17) {
  const auto codeAndMessage = [](auto&& f) {
    try {
      f();
    } catch (const EComPort& e) {
      return std::make_pair(e.Code(), std::string(e.what()));
    }
    return std::make_pair(0, std::string("(no exception)"));
  };

  auto [code, message] = codeAndMessage([&] { LoadSettingsFromIniFile(b_, (dir_ / "missing.ini").string()); });
  EXPECT_EQ(code, ecLoadFailed);
  EXPECT_EQ(message.rfind("Failed to load settings: ", 0), 0u) << message;
  EXPECT_NE(message.find("missing.ini"), std::string::npos) << message;

  WriteWholeFile(ini_, "[Other]\nPort=COM3\n");
  std::tie(code, message) = codeAndMessage([&] { LoadSettingsFromIniFile(b_, ini_.string()); });
  EXPECT_EQ(code, ecLoadFailed);
  EXPECT_NE(message.find("[ComPort1]"), std::string::npos) << message;

  std::tie(code, message) =
      codeAndMessage([&] { StoreSettingsToIniFile(a_, (dir_ / "no folder" / "x.ini").string()); });
  EXPECT_EQ(code, ecStoreFailed);
  EXPECT_EQ(message.rfind("Failed to store settings: ", 0), 0u) << message;

  std::tie(code, message) = codeAndMessage([&] { LoadSettingsFromRegistry(b_, HKEY_CURRENT_USER, "Software\\None"); });
  EXPECT_EQ(code, ecLoadFailed);
  EXPECT_NE(message.find("Software\\None"), std::string::npos) << message;

  a_.SetStoredGroups(TStoredGroups{sgBasic, sgBuffer});
  StoreSettingsToRegistry(a_, HKEY_CURRENT_USER, "Software\\Vazur");
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Vazur", false));
    ASSERT_TRUE(reg.DeleteValue("CustomBaudRate"));
  }
  std::tie(code, message) = codeAndMessage([&] { LoadSettingsFromRegistry(b_, HKEY_CURRENT_USER, "Software\\Vazur"); });
  EXPECT_EQ(code, ecLoadFailed);
  EXPECT_NE(message.find("\"CustomBaudRate\""), std::string::npos) << message;

  // And when all is there, the wrappers simply work.
  StoreSettingsToIniFile(a_, ini_.string());
  b_.SetStoredGroups(TStoredGroups{sgBasic, sgBuffer});
  LoadSettingsFromIniFile(b_, ini_.string());
  EXPECT_EQ(ValuesOf(b_, sgBasic), ValuesOf(a_, sgBasic));
  EXPECT_EQ(ValuesOf(b_, sgBuffer), ValuesOf(a_, sgBuffer));
}

}  // namespace
