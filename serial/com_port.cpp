#include "serial/com_port.h"

#include "rtl/error_report.h"
#include "serial/com_thread.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex g_dialogHookMutex;

// Ports whose line-event handlers the current thread is running.
thread_local std::vector<const TCustomComPort*> t_delivering;
TShowSettingsDialogHook g_dialogHook;

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

// Frees a transfer record however the blocking transfer ends.
class TransferGuard {
 public:
  TransferGuard() { TCustomComPort::NewTransfer(transfer_); }
  ~TransferGuard() { TCustomComPort::FreeTransfer(transfer_); }
  TransferGuard(const TransferGuard&) = delete;
  TransferGuard& operator=(const TransferGuard&) = delete;
  TAsyncTransfer* get() const { return transfer_; }

 private:
  TAsyncTransfer* transfer_ = nullptr;
};

}  // namespace

TCustomComPort::DeliveryScope::DeliveryScope(const TCustomComPort* port) { t_delivering.push_back(port); }

TCustomComPort::DeliveryScope::~DeliveryScope() { t_delivering.pop_back(); }

bool TCustomComPort::InOwnHandler() const {
  return std::find(t_delivering.begin(), t_delivering.end(), this) != t_delivering.end();
}

void SetShowSettingsDialogHook(TShowSettingsDialogHook hook) {
  std::lock_guard<std::mutex> lock(g_dialogHookMutex);
  g_dialogHook = std::move(hook);
}

// ---- Life ----

TCustomComPort::TCustomComPort(TComponent* AOwner) : TComponent(AOwner) {
  parity_ = new TComParity;
  parity_->comPort_ = this;
  flowControl_ = new TComFlowControl;
  flowControl_->comPort_ = this;
  timeouts_ = new TComTimeouts;
  timeouts_->comPort_ = this;
  buffer_ = new TComBuffer;
  buffer_->comPort_ = this;
}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    ReportCurrentException();
  }
  // A close handler that threw leaves the port open; the device still goes.
  if (connected_ || handle_ != INVALID_HANDLE_VALUE) ShutDown();
  delete buffer_;
  delete flowControl_;
  delete timeouts_;
  delete parity_;
}

void TCustomComPort::Loaded() {
  TComponent::Loaded();
  if (connected_ && !IsDesigning()) {
    connected_ = false;
    try {
      Open();
    } catch (...) {
      // Loading of the window goes on; the user is told why the port is closed.
      ReportCurrentException();
    }
  }
}

// ---- Connection ----

void TCustomComPort::SetConnected(bool value) {
  if (IsLoading() || IsDesigning()) {
    connected_ = value;
    return;
  }
  if (value == connected_) return;
  if (value)
    Open();
  else
    Close();
}

void TCustomComPort::Open() {
  if (connected_ || IsDesigning() || closing_) return;
  TriggerBeforeOpen();
  OpenDevice();
  unreportedErrors_ = 0;
  connected_ = true;
  try {
    ApplyAllSettings();
    if (!events_.Empty())
      StartEventThread();
    else
      threadCreated_ = false;
  } catch (...) {
    CloseDevice();
    connected_ = false;
    throw;
  }
  TriggerAfterOpen();
  try {
    ReportSignals(true);
  } catch (...) {
    // A port that cannot tell its lines is not usable: no caller may find
    // it half open.
    ShutDown();
    throw;
  }
}

void TCustomComPort::StartEventThread() {
  if (syncMethod_ == smWindowSync)
    notifyWindow_ = AllocateHWnd([this](TMessage& msg) { HandleNotifyMessage(msg); });
  try {
    eventThread_ = new TComThread(this);
  } catch (...) {
    if (notifyWindow_) {
      DeallocateHWnd(notifyWindow_);
      notifyWindow_ = nullptr;
    }
    throw;
  }
  threadCreated_ = true;
}

void TCustomComPort::Close() {
  if (!connected_ || IsDesigning() || closing_) return;
  if (threadCreated_ && InOwnHandler())
    throw Exception("The port " + port_ + " cannot be closed from its own event handler");
  TriggerBeforeClose();
  ReportSignals(false);
  DrainOutput();
  // A device that has gone away refuses the purge; the port is closed all
  // the same and the refusal is raised afterwards.
  std::exception_ptr purgeError;
  try {
    AbortTransfers();
  } catch (const EComPort&) {
    purgeError = std::current_exception();
  }
  ShutDown();
  TriggerAfterClose();
  if (purgeError) std::rethrow_exception(purgeError);
}

#ifdef _WIN32
namespace {

DWORD WINAPI FlushPort(LPVOID handle) {
  FlushFileBuffers(static_cast<HANDLE>(handle));
  return 0;
}

}  // namespace
#endif

void TCustomComPort::DrainOutput() {
#ifdef _WIN32
  if (handle_ == INVALID_HANDLE_VALUE || DeviceGone()) return;
  DWORD errors = 0;
  COMSTAT stat;
  std::memset(&stat, 0, sizeof stat);
  if (!ClearCommError(handle_, &errors, &stat)) return;
  if (errors) unreportedErrors_.fetch_or(errors);
  // The driver's queue and what an adapter's chip may hold beyond it, at the
  // line's pace; an exchange that holds the line longer gets no more.
  DWORD baud = BaudRateToValue(baudRate_);
  if (baud == 0) baud = static_cast<DWORD>(std::max<int32_t>(customBaudRate_, 1));
  const uint64_t bytes = uint64_t{stat.cbOutQue} + 512;
  const DWORD boundMs = static_cast<DWORD>(std::min<uint64_t>(bytes * 11 * 1000 / baud + 500, 60000));
  // The flush has no time-out of its own: it runs on a thread of its own
  // and is cancelled once the bound is up.
  HANDLE flusher = CreateThread(nullptr, 0, FlushPort, handle_, 0, nullptr);
  if (!flusher) return;
  if (WaitForSingleObject(flusher, boundMs) != WAIT_OBJECT_0) {
    // A driver that cannot cancel it keeps it until the handle closes.
    CancelSynchronousIo(flusher);
    WaitForSingleObject(flusher, 1000);
  }
  CloseHandle(flusher);
#endif
}

void TCustomComPort::ShutDown() {
  // Handlers run by hand-overs while the thread stops must not re-enter
  // Open or Close.
  closing_ = true;
  if (threadCreated_ || eventThread_) {
    TComThread* thread = eventThread_;
    delete thread;
    eventThread_ = nullptr;
    threadCreated_ = false;
  }
  if (notifyWindow_) {
    DeallocateHWnd(notifyWindow_);
    notifyWindow_ = nullptr;
  }
  CloseDevice();
  connected_ = false;
  closing_ = false;
}

void TCustomComPort::OpenDevice() {
  const std::string name = "\\\\.\\" + port_;
  handle_ = CreateFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) throw EComPort(ecOpenFailed, LastError());
}

void TCustomComPort::CloseDevice() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (connected_ && !IsLoading() && !IsDesigning()) throw EComPort(ecSyncMethod);
  syncMethod_ = value;
}

// ---- Settings ----

void TCustomComPort::SetPort(const std::string& value) {
  const std::string name = NormalizePortName(value);
  if (name == port_) return;
  port_ = name;
  if (connected_ && !IsLoading() && !IsDesigning()) {
    Close();
    Open();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (value == baudRate_) return;
  baudRate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t value) {
  if (value == customBaudRate_) return;
  customBaudRate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (value == stopBits_) return;
  stopBits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (value == dataBits_) return;
  dataBits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (value == discardNull_) return;
  discardNull_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value) {
  if (value == eventChar_) return;
  eventChar_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_->Assign(&value);
  ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_->Assign(&value);
  ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_->Assign(&value);
  ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_->Assign(&value);
  ApplyBufferSizes();
}

void TCustomComPort::BeginUpdate() { ++updateCount_; }

void TCustomComPort::EndUpdate() {
  if (updateCount_ <= 0) return;
  if (--updateCount_ == 0) ApplyAllSettings();
}

// ---- Apply steps ----

bool TCustomComPort::CanApply() const {
  return connected_ && updateCount_ == 0 && !IsLoading() && !IsDesigning();
}

DCB TCustomComPort::BuildDCB() const {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = baudRate_ == brCustom ? static_cast<DWORD>(customBaudRate_) : BaudRateToValue(baudRate_);

  const TComParity& parity = *parity_;
  const TComFlowControl& flow = *flowControl_;
  const bool replace = parity.Check() && parity.Replace();
  dcb.fBinary = 1;
  dcb.fParity = parity.Check() ? 1 : 0;
  dcb.fOutxCtsFlow = flow.OutCTSFlow() ? 1 : 0;
  dcb.fOutxDsrFlow = flow.OutDSRFlow() ? 1 : 0;
  dcb.fDtrControl = static_cast<DWORD>(flow.ControlDTR());
  dcb.fDsrSensitivity = flow.DSRSensitivity() ? 1 : 0;
  dcb.fTXContinueOnXoff = flow.TxContinueOnXoff() ? 1 : 0;
  dcb.fOutX = flow.XonXoffOut() ? 1 : 0;
  dcb.fInX = flow.XonXoffIn() ? 1 : 0;
  dcb.fErrorChar = replace ? 1 : 0;
  dcb.fNull = discardNull_ ? 1 : 0;
  dcb.fRtsControl = static_cast<DWORD>(flow.ControlRTS());

  const auto limit = static_cast<WORD>(static_cast<uint32_t>(buffer_->InputSize() / 4) & 0xFFFFu);
  dcb.XonLim = limit;
  dcb.XoffLim = limit;
  dcb.ByteSize = DataBitsToValue(dataBits_);
  dcb.Parity = ParityToValue(parity.Bits());
  dcb.StopBits = StopBitsToValue(stopBits_);
  dcb.XonChar = flow.XonChar();
  dcb.XoffChar = flow.XoffChar();
  if (replace) dcb.ErrorChar = parity.ReplaceChar();
  dcb.EvtChar = eventChar_;
  return dcb;
}

COMMTIMEOUTS TCustomComPort::BuildTimeouts() const {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = static_cast<DWORD>(timeouts_->ReadInterval());
  t.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts_->ReadTotalMultiplier());
  t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts_->ReadTotalConstant());
  t.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts_->WriteTotalMultiplier());
  t.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts_->WriteTotalConstant());
  return t;
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  DCB dcb = BuildDCB();
  if (!SetCommState(handle_, &dcb)) throw EComPort(ecSetStateFailed, LastError());
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!CanApply()) return;
  COMMTIMEOUTS t = BuildTimeouts();
  if (!SetCommTimeouts(handle_, &t)) throw EComPort(ecTimeoutsFailed, LastError());
}

void TCustomComPort::ApplyBufferSizes() {
  if (!CanApply()) return;
  if (!SetupComm(handle_, static_cast<DWORD>(buffer_->InputSize()), static_cast<DWORD>(buffer_->OutputSize())))
    throw EComPort(ecSetupCommFailed, LastError());
}

void TCustomComPort::ApplyAllSettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

// ---- Transfers ----

void TCustomComPort::NewTransfer(TAsyncTransfer*& Transfer) {
  auto* transfer = new TAsyncTransfer;
  std::memset(&transfer->Overlapped, 0, sizeof transfer->Overlapped);
  transfer->Kind = tkWrite;
  transfer->Overlapped.hEvent = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  if (!transfer->Overlapped.hEvent) {
    const int32_t error = LastError();
    delete transfer;
    throw EComPort(ecAsyncCheck, error);
  }
  Transfer = transfer;
}

void TCustomComPort::FreeTransfer(TAsyncTransfer*& Transfer) {
  if (!Transfer) return;
  if (Transfer->Overlapped.hEvent) CloseHandle(Transfer->Overlapped.hEvent);
  delete Transfer;
  Transfer = nullptr;
}

int32_t TCustomComPort::WriteTextAsync(const std::string& Str, TAsyncTransfer* Transfer) {
  if (!Transfer) throw EComPort(ecInvalidAsync);
  Transfer->Kind = tkWrite;
  DWORD written = 0;
  if (!WriteFile(handle_, Str.data(), static_cast<DWORD>(Str.size()), &written, &Transfer->Overlapped)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) throw EComPort(ecWriteFailed, static_cast<int32_t>(error));
  }
  return static_cast<int32_t>(written);
}

int32_t TCustomComPort::ReadBufferAsync(void* Buffer, int32_t Count, TAsyncTransfer* Transfer) {
  if (!Transfer) throw EComPort(ecInvalidAsync);
  Transfer->Kind = tkRead;
  // A negative count would reach the driver as a huge length.
  const DWORD toRead = Count > 0 ? static_cast<DWORD>(Count) : 0;
  DWORD read = 0;
  if (!ReadFile(handle_, Buffer, toRead, &read, &Transfer->Overlapped)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) throw EComPort(ecReadFailed, static_cast<int32_t>(error));
  }
  return static_cast<int32_t>(read);
}

int32_t TCustomComPort::ReadTextAsync(std::string& Str, int32_t Count, TAsyncTransfer* Transfer) {
  if (!Transfer) throw EComPort(ecInvalidAsync);
  Str.resize(Count > 0 ? static_cast<std::size_t>(Count) : 0);
  return ReadBufferAsync(Str.data(), Count, Transfer);
}

int32_t TCustomComPort::WaitForTransfer(TAsyncTransfer* Transfer) {
  if (!Transfer) throw EComPort(ecInvalidAsync);
  DWORD transferred = 0;
  bool ok = false;
  DWORD error = 0;
  if (WaitForSingleObject(Transfer->Overlapped.hEvent, INFINITE) == WAIT_OBJECT_0)
    ok = GetOverlappedResult(handle_, &Transfer->Overlapped, &transferred, FALSE) != 0;
  if (!ok) error = GetLastError();
  if (Transfer->Kind == tkRead) {
    // Clears the driver's line-error state after a read. When the read itself
    // failed, that failure is the one worth reporting.
    if (ok)
      try {
        InputCount();
      } catch (const EComPort&) {
        // The device went away after the read: the bytes read stand, and the
        // next call reports the loss.
      }
    else
      try {
        InputCount();
      } catch (const EComPort&) {
      }
  }
  if (!ok)
    throw EComPort(Transfer->Kind == tkRead ? ecReadFailed : ecWriteFailed, static_cast<int32_t>(error));
  return static_cast<int32_t>(transferred);
}

int32_t TCustomComPort::WriteText(const std::string& Str) {
  TransferGuard transfer;
  WriteTextAsync(Str, transfer.get());
  return WaitForTransfer(transfer.get());
}

int32_t TCustomComPort::ReadText(std::string& Str, int32_t Count) {
  TransferGuard transfer;
  try {
    ReadTextAsync(Str, Count, transfer.get());
    const int32_t read = WaitForTransfer(transfer.get());
    Str.resize(static_cast<std::size_t>(read));
    return read;
  } catch (...) {
    Str.clear();
    throw;
  }
}

int32_t TCustomComPort::ReadBuffer(void* Buffer, int32_t Count) {
  TransferGuard transfer;
  ReadBufferAsync(Buffer, Count, transfer.get());
  return WaitForTransfer(transfer.get());
}

void TCustomComPort::AbortTransfers() {
  if (!PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT)) throw EComPort(ecPurgeFailed, LastError());
}

// ---- Status ----

bool DeviceLossError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:         // USB adapters once unplugged
    case ERROR_NOT_READY:             // a terminal hung up under Wine (EIO)
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
      return true;
    default:
      return false;
  }
}

bool TCustomComPort::DeviceGone() const {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  DWORD status = 0;
  if (GetCommModemStatus(handle_, &status)) return false;
  if (DeviceLossError(GetLastError())) return true;
  // A driver without modem lines (some virtual ports): ask what every
  // driver answers.
  DWORD errors = 0;
  COMSTAT stat;
  std::memset(&stat, 0, sizeof stat);
  if (ClearCommError(handle_, &errors, &stat)) {
    if (errors) unreportedErrors_.fetch_or(errors);  // for LineErrors
    return false;
  }
  return DeviceLossError(GetLastError());
}

int32_t TCustomComPort::InputCount() {
  DWORD errors = 0;
  COMSTAT stat;
  std::memset(&stat, 0, sizeof stat);
  if (!ClearCommError(handle_, &errors, &stat)) throw EComPort(ecClearCommFailed, LastError());
  // The query clears the driver's errors: keep them for LineErrors, or an
  // overrun that came with the characters would never be told.
  if (errors) unreportedErrors_.fetch_or(errors);
  return static_cast<int32_t>(stat.cbInQue);
}

TComErrors TCustomComPort::LineErrors() {
  DWORD errors = 0;
  COMSTAT stat;
  std::memset(&stat, 0, sizeof stat);
  if (!ClearCommError(handle_, &errors, &stat)) throw EComPort(ecClearCommFailed, LastError());
  return ErrorWordToErrors(errors | unreportedErrors_.exchange(0), parity_->Check());
}

TModemSignals TCustomComPort::ModemStatus() {
  DWORD status = 0;
  if (!GetCommModemStatus(handle_, &status)) throw EComPort(ecModemStatFailed, LastError());
  return ModemWordToSignals(status);
}

void TCustomComPort::ShowSettingsDialog() {
  TShowSettingsDialogHook hook;
  {
    std::lock_guard<std::mutex> lock(g_dialogHookMutex);
    hook = g_dialogHook;
  }
  if (!hook) throw Exception("No port settings dialog is available in this program");
  hook(this);
}

// ---- Triggers ----

void TCustomComPort::TriggerAfterClose() {
  if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::TriggerAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::TriggerBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::TriggerBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::TriggerRxChar(int32_t Count) {
  if (OnRxChar) OnRxChar(this, Count);
}
void TCustomComPort::TriggerRxBuf(const void* Buffer, int32_t Count) {
  if (OnRxBuf) OnRxBuf(this, Buffer, Count);
}
void TCustomComPort::TriggerTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::TriggerBreak() {
  if (OnBreak) OnBreak(this);
}
void TCustomComPort::TriggerRing() {
  if (OnRing) OnRing(this);
}
void TCustomComPort::TriggerRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::TriggerCTSChange(bool OnOff) {
  if (OnCTSChange) OnCTSChange(this, OnOff);
}
void TCustomComPort::TriggerDSRChange(bool OnOff) {
  if (OnDSRChange) OnDSRChange(this, OnOff);
}
void TCustomComPort::TriggerError(TComErrors Errors) {
  if (OnError) OnError(this, Errors);
}
void TCustomComPort::TriggerRLSDChange(bool OnOff) {
  if (OnRLSDChange) OnRLSDChange(this, OnOff);
}
void TCustomComPort::TriggerRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}

// ---- Processors ----

void TCustomComPort::ReportEventFailure() {
  if (!DeviceGone()) ReportCurrentException();
}

void TCustomComPort::ProcessRxChar() {
  const int32_t count = InputCount();
  // Already read (by a handler of an earlier event): nothing to report.
  if (count > 0) TriggerRxChar(count);
}
void TCustomComPort::ProcessTxEmpty() { TriggerTxEmpty(); }
void TCustomComPort::ProcessBreak() { TriggerBreak(); }
void TCustomComPort::ProcessRing() { TriggerRing(); }
void TCustomComPort::ProcessCTSChange() { TriggerCTSChange(ModemStatus().Contains(msCTS)); }
void TCustomComPort::ProcessDSRChange() { TriggerDSRChange(ModemStatus().Contains(msDSR)); }
void TCustomComPort::ProcessRxFlag() { TriggerRxFlag(); }
void TCustomComPort::ProcessRLSDChange() { TriggerRLSDChange(ModemStatus().Contains(msRLSD)); }
void TCustomComPort::ProcessError() { TriggerError(LineErrors()); }
void TCustomComPort::ProcessRx80Full() { TriggerRx80Full(); }

void TCustomComPort::ReportSignals(bool Open) {
  if (Open) {
    TModemSignals signals;
    try {
      signals = ModemStatus();
    } catch (const EComPort& e) {
      // A driver that cannot report its modem lines has them read as off,
      // as a line with only its data wires; a device that is gone fails.
      if (e.WinErrorCode() < 0 || DeviceLossError(static_cast<DWORD>(e.WinErrorCode()))) throw;
    }
    TriggerCTSChange(signals.Contains(msCTS));
    TriggerDSRChange(signals.Contains(msDSR));
    TriggerRLSDChange(signals.Contains(msRLSD));
  } else {
    TriggerCTSChange(false);
    TriggerDSRChange(false);
    TriggerRLSDChange(false);
  }
}

void TCustomComPort::HandleNotifyMessage(TMessage& Msg) {
  if (Msg.Msg != CM_COMPORT_EVENT) {
    Msg.Result = DefWindowProc(notifyWindow_, Msg.Msg, Msg.WParam, Msg.LParam);
    return;
  }
  // Result 1 tells the event thread to go on with the wait's other events.
  Msg.Result = 1;
  DeliveryScope scope(this);
  try {
    switch (Msg.WParam) {
      case EV_RXCHAR: ProcessRxChar(); break;
      case EV_RXFLAG: ProcessRxFlag(); break;
      case EV_TXEMPTY: ProcessTxEmpty(); break;
      case EV_CTS: ProcessCTSChange(); break;
      case EV_DSR: ProcessDSRChange(); break;
      case EV_RLSD: ProcessRLSDChange(); break;
      case EV_BREAK: ProcessBreak(); break;
      case EV_ERR: ProcessError(); break;
      case EV_RING: ProcessRing(); break;
      case EV_RX80FULL: ProcessRx80Full(); break;
      default: break;
    }
  } catch (...) {
    Msg.Result = 0;
    ReportEventFailure();
  }
}
