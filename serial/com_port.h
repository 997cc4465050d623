// TCustomComPort / TComPort: the serial port component.
//
// Settings are properties (X() / SetX(v)); the four settings objects are
// reached as Parity(), FlowControl(), Timeouts(), Buffer() (edit them in
// place: port.Parity().SetBits(prEven)) and replaced whole with SetParity(other)
// etc. While the port is open a change reaches the device at once, or once at
// the outermost EndUpdate. Events are public std::function members, empty when
// unassigned; they are called with the port as Sender.
//
// Every failing device call raises EComPort (serial/com_errors.h).
#pragma once

#include "rtl/classes.h"
#include "rtl/hidden_window.h"
#include "serial/com_errors.h"
#include "serial/com_settings.h"
#include "serial/com_types.h"
#include "winapi/win32.h"

#include <cstdint>
#include <atomic>
#include <functional>
#include <string>

class TComThread;
class TRegistry;
class TIniFile;

enum TTransferKind : uint8_t { tkWrite = 0, tkRead = 1 };

// One overlapped transfer; made by NewTransfer, released by FreeTransfer.
struct TAsyncTransfer {
  OVERLAPPED Overlapped;
  TTransferKind Kind;
};

// Message the event thread sends to the notify window (smWindowSync).
constexpr UINT CM_COMPORT_EVENT = WM_USER + 1;

// The error codes with which Windows answers calls on a port whose device
// has been removed (an unplugged adapter, a far end that hung up).
bool DeviceLossError(DWORD error);

class TCustomComPort;
// The settings dialog lives above this layer; the GUI installs it here.
using TShowSettingsDialogHook = std::function<void(TCustomComPort* Port)>;
void SetShowSettingsDialogHook(TShowSettingsDialogHook hook);

class TCustomComPort : public TComponent {
 public:
  explicit TCustomComPort(TComponent* AOwner = nullptr);
  // Closes the port (firing the close notifications), then frees the settings.
  ~TCustomComPort() override;
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // ---- Connection ----
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  // Open: before-open, device, settings, event thread, after-open, signal
  // reports. Close: before-close, signals off, abort transfers, stop thread,
  // close device, after-close. Each does nothing in the target state.
  // Close from inside one of the port's own line-event handlers would wait
  // for itself: it raises Exception instead. A lost device still closes, and
  // the refused purge (code 5) is raised afterwards.
  void Open();
  void Close();
  HANDLE DeviceHandle() const { return handle_; }
  bool ThreadCreated() const { return threadCreated_; }
  HWND NotifyWindow() const { return notifyWindow_; }

  // ---- Settings ----
  const std::string& Port() const { return port_; }
  // Normalised to COM1..COM16; an open port is closed and reopened on a change.
  void SetPort(const std::string& value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int32_t value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);

  TComParity& Parity() { return *parity_; }
  const TComParity& Parity() const { return *parity_; }
  void SetParity(const TComParity& value);
  TComFlowControl& FlowControl() { return *flowControl_; }
  const TComFlowControl& FlowControl() const { return *flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return *timeouts_; }
  const TComTimeouts& Timeouts() const { return *timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() { return *buffer_; }
  const TComBuffer& Buffer() const { return *buffer_; }
  void SetBuffer(const TComBuffer& value);

  // Events watched by the event thread; takes effect at the next open.
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  // EComPort code 14 while connected.
  void SetSyncMethod(TSyncMethod value);
  TStoredGroups StoredGroups() const { return storedGroups_; }
  void SetStoredGroups(TStoredGroups value) { storedGroups_ = value; }

  // Update bracket: an open port applies everything once at the outermost EndUpdate.
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return updateCount_; }

  // ---- Transfers ----
  // Blocking: return when the driver has completed the transfer under the
  // time-outs. ReadText leaves Str exactly as long as the count returned.
  int32_t WriteText(const std::string& Str);
  int32_t ReadText(std::string& Str, int32_t Count);
  int32_t ReadBuffer(void* Buffer, int32_t Count);
  // Overlapped: start and return the count known at once (0 while pending).
  // The string or buffer must stay alive and untouched until WaitForTransfer.
  int32_t WriteTextAsync(const std::string& Str, TAsyncTransfer* Transfer);
  int32_t ReadTextAsync(std::string& Str, int32_t Count, TAsyncTransfer* Transfer);
  int32_t ReadBufferAsync(void* Buffer, int32_t Count, TAsyncTransfer* Transfer);
  int32_t WaitForTransfer(TAsyncTransfer* Transfer);
  // NewTransfer raises code 6 when no event can be made; FreeTransfer sets
  // the reference to nullptr and accepts nullptr.
  static void NewTransfer(TAsyncTransfer*& Transfer);
  static void FreeTransfer(TAsyncTransfer*& Transfer);
  // Cancels pending writes and reads (PurgeComm TXABORT|RXABORT); code 5.
  void AbortTransfers();

  // ---- Status ----
  // True when the port is open and its device has gone away (unplugged, the
  // far end hung up): a status query fails with what Windows answers for a
  // removed device (DeviceLossError). A driver that merely cannot report
  // its modem lines has not gone.
  bool DeviceGone() const;
  int32_t InputCount();        // characters waiting; code 10
  TComErrors LineErrors();     // and clears them in the driver; code 10
  TModemSignals ModemStatus(); // code 11

  // Shows the settings dialog for this port (through the installed hook).
  void ShowSettingsDialog();

  // ---- Persistence (serial/com_storage.cpp) ----
  // The store is opened by the caller; only the groups in StoredGroups() take part.
  virtual void StoreToRegistry(TRegistry& Reg);
  virtual void StoreToIniFile(TIniFile& IniFile);
  virtual void LoadFromRegistry(TRegistry& Reg);
  virtual void LoadFromIniFile(TIniFile& IniFile);

  // ---- Events ----
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;
  // Not one of the line events: called, on the thread SyncMethod chooses,
  // once waiting for line events keeps failing because the device has gone
  // (unplugged, hung up), with the Windows error code. Unassigned, that
  // failure goes to the error report in English.
  std::function<void(TObject* Sender, int32_t WinErrorCode)> OnLineLost;

 protected:
  virtual void OpenDevice();
  virtual void CloseDevice();
  virtual void ApplyAllSettings();

  virtual void TriggerAfterClose();
  virtual void TriggerAfterOpen();
  virtual void TriggerBeforeClose();
  virtual void TriggerBeforeOpen();
  virtual void TriggerRxChar(int32_t Count);
  virtual void TriggerRxBuf(const void* Buffer, int32_t Count);
  virtual void TriggerTxEmpty();
  virtual void TriggerBreak();
  virtual void TriggerRing();
  virtual void TriggerRxFlag();
  virtual void TriggerCTSChange(bool OnOff);
  virtual void TriggerDSRChange(bool OnOff);
  virtual void TriggerError(TComErrors Errors);
  virtual void TriggerRLSDChange(bool OnOff);
  virtual void TriggerRx80Full();

  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyBufferSizes();

  // The DCB and COMMTIMEOUTS exactly as the apply steps hand them over.
  DCB BuildDCB() const;
  COMMTIMEOUTS BuildTimeouts() const;

  // Processors: gather an event's data and call its trigger.
  void ProcessRxChar();
  void ProcessTxEmpty();
  void ProcessBreak();
  void ProcessRing();
  void ProcessCTSChange();
  void ProcessDSRChange();
  void ProcessRxFlag();
  void ProcessRLSDChange();
  void ProcessError();
  void ProcessRx80Full();
  // Open: the lines' current states; close: all three off.
  void ReportSignals(bool Open);
  // Reports the exception in flight from an event's handling, unless the
  // device has gone meanwhile (DeviceGone): then the wait for the next event
  // fails and tells the loss, once.
  void ReportEventFailure();
  // Window procedure of NotifyWindow (smWindowSync).
  void HandleNotifyMessage(TMessage& Msg);

  void Loaded() override;

 private:
  friend class TComSettings;
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;
  friend class TComThread;

  // Marks the calling thread as running this port's event handlers, so a
  // Close from inside one is refused instead of waiting for itself.
  class DeliveryScope {
   public:
    explicit DeliveryScope(const TCustomComPort* port);
    ~DeliveryScope();
    DeliveryScope(const DeliveryScope&) = delete;
    DeliveryScope& operator=(const DeliveryScope&) = delete;
  };
  bool InOwnHandler() const;

  bool CanApply() const;
  void StartEventThread();
  // Stops the event thread, closes the device and marks the port closed,
  // without notifications.
  void ShutDown();
  // Lets what the driver still holds of completed writes go out before a
  // purge could throw it away (Windows completes a write once the driver
  // has its bytes; elsewhere a write completes once they have gone).
  void DrainOutput();

  bool connected_ = false;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  // Line errors that InputCount cleared in the driver, for LineErrors.
  mutable std::atomic<DWORD> unreportedErrors_{0};
  TComThread* eventThread_ = nullptr;
  bool threadCreated_ = false;
  bool closing_ = false;  // the event thread is being stopped
  HWND notifyWindow_ = nullptr;
  int32_t updateCount_ = 0;

  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  int32_t customBaudRate_ = 9600;
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TComEvents events_ = AllComEvents;
  TSyncMethod syncMethod_ = smThreadSync;
  TStoredGroups storedGroups_{sgBasic};

  TComParity* parity_ = nullptr;
  TComFlowControl* flowControl_ = nullptr;
  TComTimeouts* timeouts_ = nullptr;
  TComBuffer* buffer_ = nullptr;
};

// The published form of the port (what a window's definition holds).
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};
