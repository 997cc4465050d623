// Storing the port's settings in a registry key or an INI file section, and
// loading them back through the ordinary setters, group by group.
#include "serial/com_storage.h"

#include "rtl/ini_file.h"
#include "rtl/registry.h"
#include "serial/com_port.h"

#include <string>

namespace {

// Groups are always handled in this order, whatever the order of the bits.
constexpr TStoredGroup kGroupOrder[] = {sgBasic, sgReceive, sgParityDetails, sgBuffer, sgTimeouts, sgFlowDetails};

// The two kinds of store differ only in how one value is written or read.
class ValueWriter {
 public:
  virtual ~ValueWriter() = default;
  virtual void Text(const char* name, const std::string& value) = 0;
  virtual void Integer(const char* name, int32_t value) = 0;
};

class ValueReader {
 public:
  virtual ~ValueReader() = default;
  // `current` is what the setting holds now (the default for a missing value
  // where the store has defaults).
  virtual std::string Text(const char* name, const std::string& current) = 0;
  virtual int32_t Integer(const char* name, int32_t current) = 0;
};

void StoreGroup(const TCustomComPort& port, TStoredGroup group, ValueWriter& out) {
  switch (group) {
    case sgBasic:
      out.Text("Port", port.Port());
      out.Text("BaudRate", BaudRateToText(port.BaudRate()));
      if (port.BaudRate() == brCustom) out.Integer("CustomBaudRate", port.CustomBaudRate());
      out.Text("StopBits", StopBitsToText(port.StopBits()));
      out.Text("DataBits", DataBitsToText(port.DataBits()));
      out.Text("Parity", ParityToText(port.Parity().Bits()));
      out.Text("FlowControl", FlowControlToText(port.FlowControl().FlowControl()));
      break;
    case sgReceive:
      out.Text("EventChar", CharToText(port.EventChar()));
      out.Text("DiscardNull", BoolToText(port.DiscardNull()));
      break;
    case sgParityDetails:
      out.Text("Parity.Check", BoolToText(port.Parity().Check()));
      out.Text("Parity.Replace", BoolToText(port.Parity().Replace()));
      out.Text("Parity.ReplaceChar", CharToText(port.Parity().ReplaceChar()));
      break;
    case sgBuffer:
      out.Integer("Buffer.OutputSize", port.Buffer().OutputSize());
      out.Integer("Buffer.InputSize", port.Buffer().InputSize());
      break;
    case sgTimeouts: {
      const TComTimeouts& t = port.Timeouts();
      out.Integer("Timeouts.ReadInterval", t.ReadInterval());
      out.Integer("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
      out.Integer("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
      out.Integer("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
      out.Integer("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
      break;
    }
    case sgFlowDetails: {
      const TComFlowControl& f = port.FlowControl();
      out.Text("FlowControl.ControlRTS", RtsControlToText(f.ControlRTS()));
      out.Text("FlowControl.ControlDTR", DtrControlToText(f.ControlDTR()));
      out.Text("FlowControl.DSRSensitivity", BoolToText(f.DSRSensitivity()));
      out.Text("FlowControl.OutCTSFlow", BoolToText(f.OutCTSFlow()));
      out.Text("FlowControl.OutDSRFlow", BoolToText(f.OutDSRFlow()));
      out.Text("FlowControl.TxContinueOnXoff", BoolToText(f.TxContinueOnXoff()));
      out.Text("FlowControl.XonXoffIn", BoolToText(f.XonXoffIn()));
      out.Text("FlowControl.XonXoffOut", BoolToText(f.XonXoffOut()));
      out.Text("FlowControl.XoffChar", CharToText(f.XoffChar()));
      out.Text("FlowControl.XonChar", CharToText(f.XonChar()));
      break;
    }
  }
}

// Each value goes through its setter as soon as it is read, so an open port
// applies it as any other change, and a failure leaves earlier ones in place.
void LoadGroup(TCustomComPort& port, TStoredGroup group, ValueReader& in) {
  switch (group) {
    case sgBasic:
      port.SetPort(in.Text("Port", port.Port()));
      port.SetBaudRate(TextToBaudRate(in.Text("BaudRate", BaudRateToText(port.BaudRate()))));
      // Not the current rate: a section without it means the usual 9600.
      if (port.BaudRate() == brCustom) port.SetCustomBaudRate(in.Integer("CustomBaudRate", 9600));
      port.SetStopBits(TextToStopBits(in.Text("StopBits", StopBitsToText(port.StopBits()))));
      port.SetDataBits(TextToDataBits(in.Text("DataBits", DataBitsToText(port.DataBits()))));
      port.Parity().SetBits(TextToParity(in.Text("Parity", ParityToText(port.Parity().Bits()))));
      port.FlowControl().SetFlowControl(
          TextToFlowControl(in.Text("FlowControl", FlowControlToText(port.FlowControl().FlowControl()))));
      break;
    case sgReceive:
      port.SetEventChar(TextToChar(in.Text("EventChar", CharToText(port.EventChar()))));
      port.SetDiscardNull(TextToBool(in.Text("DiscardNull", BoolToText(port.DiscardNull()))));
      break;
    case sgParityDetails: {
      TComParity& p = port.Parity();
      p.SetCheck(TextToBool(in.Text("Parity.Check", BoolToText(p.Check()))));
      p.SetReplace(TextToBool(in.Text("Parity.Replace", BoolToText(p.Replace()))));
      p.SetReplaceChar(TextToChar(in.Text("Parity.ReplaceChar", CharToText(p.ReplaceChar()))));
      break;
    }
    case sgBuffer: {
      TComBuffer& b = port.Buffer();
      b.SetOutputSize(in.Integer("Buffer.OutputSize", b.OutputSize()));
      b.SetInputSize(in.Integer("Buffer.InputSize", b.InputSize()));
      break;
    }
    case sgTimeouts: {
      TComTimeouts& t = port.Timeouts();
      t.SetReadInterval(in.Integer("Timeouts.ReadInterval", t.ReadInterval()));
      t.SetReadTotalConstant(in.Integer("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
      t.SetReadTotalMultiplier(in.Integer("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
      t.SetWriteTotalConstant(in.Integer("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
      t.SetWriteTotalMultiplier(in.Integer("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
      break;
    }
    case sgFlowDetails: {
      TComFlowControl& f = port.FlowControl();
      f.SetControlRTS(TextToRtsControl(in.Text("FlowControl.ControlRTS", RtsControlToText(f.ControlRTS()))));
      f.SetControlDTR(TextToDtrControl(in.Text("FlowControl.ControlDTR", DtrControlToText(f.ControlDTR()))));
      f.SetDSRSensitivity(TextToBool(in.Text("FlowControl.DSRSensitivity", BoolToText(f.DSRSensitivity()))));
      f.SetOutCTSFlow(TextToBool(in.Text("FlowControl.OutCTSFlow", BoolToText(f.OutCTSFlow()))));
      f.SetOutDSRFlow(TextToBool(in.Text("FlowControl.OutDSRFlow", BoolToText(f.OutDSRFlow()))));
      f.SetTxContinueOnXoff(TextToBool(in.Text("FlowControl.TxContinueOnXoff", BoolToText(f.TxContinueOnXoff()))));
      f.SetXonXoffIn(TextToBool(in.Text("FlowControl.XonXoffIn", BoolToText(f.XonXoffIn()))));
      f.SetXonXoffOut(TextToBool(in.Text("FlowControl.XonXoffOut", BoolToText(f.XonXoffOut()))));
      f.SetXoffChar(TextToChar(in.Text("FlowControl.XoffChar", CharToText(f.XoffChar()))));
      f.SetXonChar(TextToChar(in.Text("FlowControl.XonChar", CharToText(f.XonChar()))));
      break;
    }
  }
}

class RegistryWriter : public ValueWriter {
 public:
  explicit RegistryWriter(TRegistry& reg) : reg_(reg) {}
  void Text(const char* name, const std::string& value) override { reg_.WriteString(name, value); }
  void Integer(const char* name, int32_t value) override { reg_.WriteInteger(name, value); }

 private:
  TRegistry& reg_;
};

// A missing text reads as empty and goes to the parser; a missing integer,
// or one of another type, stops the load with the registry's error.
class RegistryReader : public ValueReader {
 public:
  explicit RegistryReader(TRegistry& reg) : reg_(reg) {}
  std::string Text(const char* name, const std::string&) override { return reg_.ReadString(name); }
  int32_t Integer(const char* name, int32_t) override { return reg_.ReadInteger(name); }

 private:
  TRegistry& reg_;
};

class IniWriter : public ValueWriter {
 public:
  IniWriter(TIniFile& ini, std::string section) : ini_(ini), section_(std::move(section)) {}
  void Text(const char* name, const std::string& value) override { ini_.WriteString(section_, name, value); }
  void Integer(const char* name, int32_t value) override { ini_.WriteInteger(section_, name, value); }

 private:
  TIniFile& ini_;
  std::string section_;
};

// A missing value keeps the current setting.
class IniReader : public ValueReader {
 public:
  IniReader(TIniFile& ini, std::string section) : ini_(ini), section_(std::move(section)) {}
  std::string Text(const char* name, const std::string& current) override {
    return ini_.ReadString(section_, name, current);
  }
  int32_t Integer(const char* name, int32_t current) override { return ini_.ReadInteger(section_, name, current); }

 private:
  TIniFile& ini_;
  std::string section_;
};

void StoreGroups(const TCustomComPort& port, ValueWriter& out) {
  for (const TStoredGroup group : kGroupOrder) {
    if (port.StoredGroups().Contains(group)) StoreGroup(port, group, out);
  }
}

void LoadGroups(TCustomComPort& port, ValueReader& in) {
  const TStoredGroups groups = port.StoredGroups();
  for (const TStoredGroup group : kGroupOrder) {
    if (groups.Contains(group)) LoadGroup(port, group, in);
  }
}

// Store failures become EComPort 16 / 17 with their cause; the port's own
// errors (a device refusing a loaded setting) keep their codes.
template <typename Work>
void Reporting(int32_t code, Work&& work) {
  try {
    work();
  } catch (const EComPort&) {
    throw;
  } catch (const ERegistryException& e) {
    EComPort error(code);
    error.SetMessage(error.Message() + ": " + e.Message());
    throw error;
  } catch (const EIniFileException& e) {
    EComPort error(code);
    error.SetMessage(error.Message() + ": " + e.Message());
    throw error;
  }
}

// `cause` already names the Windows error where there is one.
[[noreturn]] void FailWith(int32_t code, const std::string& cause, DWORD winError) {
  EComPort error = winError == ERROR_SUCCESS ? EComPort(code) : EComPort(code, static_cast<int32_t>(winError));
  error.SetMessage(ComErrorMessage(code) + ": " + cause);
  throw error;
}

}  // namespace

void TCustomComPort::StoreToRegistry(TRegistry& Reg) {
  RegistryWriter out(Reg);
  StoreGroups(*this, out);
}

void TCustomComPort::StoreToIniFile(TIniFile& IniFile) {
  IniWriter out(IniFile, Name());
  StoreGroups(*this, out);
}

void TCustomComPort::LoadFromRegistry(TRegistry& Reg) {
  RegistryReader in(Reg);
  LoadGroups(*this, in);
}

void TCustomComPort::LoadFromIniFile(TIniFile& IniFile) {
  IniReader in(IniFile, Name());
  LoadGroups(*this, in);
}

void StoreSettingsToRegistry(TCustomComPort& Port, HKEY Root, const std::string& Key) {
  TRegistry reg;
  reg.SetRootKey(Root);
  if (!reg.OpenKey(Key, true)) {
    FailWith(ecStoreFailed, "cannot open or create registry key " + Key + ": " + StoreErrorText(reg.LastError()),
             reg.LastError());
  }
  Reporting(ecStoreFailed, [&] { Port.StoreToRegistry(reg); });
}

void LoadSettingsFromRegistry(TCustomComPort& Port, HKEY Root, const std::string& Key) {
  TRegistry reg(KEY_READ);
  reg.SetRootKey(Root);
  if (!reg.OpenKey(Key, false)) {
    FailWith(ecLoadFailed, "cannot open registry key " + Key + ": " + StoreErrorText(reg.LastError()),
             reg.LastError());
  }
  Reporting(ecLoadFailed, [&] { Port.LoadFromRegistry(reg); });
}

void StoreSettingsToIniFile(TCustomComPort& Port, const std::string& FileName) {
  TIniFile ini(FileName);
  Reporting(ecStoreFailed, [&] { Port.StoreToIniFile(ini); });
}

void LoadSettingsFromIniFile(TCustomComPort& Port, const std::string& FileName) {
  TIniFile ini(FileName);
  // Loading from a file or section that is not there would quietly change nothing.
  SetLastError(ERROR_SUCCESS);
  if (!ini.SectionExists(Port.Name())) {
    const DWORD error = GetLastError();
    if (error == ERROR_SUCCESS) FailWith(ecLoadFailed, "no section [" + Port.Name() + "] in " + FileName, error);
    FailWith(ecLoadFailed, "cannot read " + FileName + ": " + StoreErrorText(error), error);
  }
  Reporting(ecLoadFailed, [&] { Port.LoadFromIniFile(ini); });
}
