// An open communications device: the Windows driver's behaviour (receive
// queue, read and write time-outs, overlapped completion, event mask and
// history, line errors, purge) over a line backend that is either a tty
// (termios) or a virtual test device. Internal to winapi/.
#pragma once

#include "winapi/kernel_object.h"
#include "winapi/virtual_device.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace winapi {

class CommPort;

// The line under a CommPort. Every method except Start/Stop is called with the
// port's lock held and must not block.
class LineBackend {
 public:
  virtual ~LineBackend() = default;

  // Starts helper threads; they may call the port's public On* methods.
  virtual void Start(CommPort* /*port*/) {}
  // Stops helper threads and releases the device. Called without the lock.
  virtual void Stop() {}

  // The descriptor the port's service thread polls, or -1.
  virtual int Fd() const { return -1; }
  // True when received bytes come with PARMRK marks (\377 \0 x).
  virtual bool MarksErrors() const { return false; }

  virtual DCB InitialState() const = 0;
  // Applies a validated DCB. Returns 0 or a Windows error (state unchanged).
  virtual DWORD ApplyState(const DCB& dcb) = 0;
  virtual bool HasModemLines() const { return false; }
  // MS_*_ON bits; 0 and success for a device without modem lines.
  virtual DWORD ModemStatus(DWORD* status) = 0;
  virtual void SetDtr(bool /*on*/) {}
  virtual void SetRts(bool /*on*/) {}

  // Non-blocking transfers. Return bytes moved, 0 when the device would
  // block, or -1 with `error` set to a Windows code when the line is gone.
  virtual long ReadSome(uint8_t* /*buffer*/, size_t /*size*/, DWORD* error) {
    *error = ERROR_SUCCESS;
    return 0;
  }
  virtual long WriteSome(const uint8_t* data, size_t size, DWORD* error) = 0;

  virtual void Flush(bool /*input*/, bool /*output*/) {}
  // True when OutputQueued tells what has not yet left the device (a UART or
  // USB adapter). A write then completes only once its bytes are out, and a
  // purge may flush the device's queue. Where the queue cannot be seen (a
  // pseudo-terminal), bytes the device took are never flushed: they may
  // belong to a write already reported complete.
  virtual bool SeesOutputQueue() const { return false; }
  // Bytes still in the device's own transmit buffer.
  virtual DWORD OutputQueued() { return 0; }
  // Asks for OnDrained once the device's transmit buffer is empty (and, for
  // a device without a descriptor to poll, once it has room again).
  // Returns false when that cannot be known (EV_TXEMPTY is then raised at once).
  virtual bool RequestDrainNotice() { return false; }
  // Line-error deltas since the last call (CE_* bits), for devices that count them.
  virtual bool ErrorCounters(DWORD* /*ceBits*/) { return false; }

  // Every API call on the device passes here first: the virtual device
  // records it and may fail it. Returns 0 or the Windows error to fail with.
  virtual bool RecordsCalls() const { return false; }
  virtual DWORD OnCall(const vdev::Call& /*call*/) { return ERROR_SUCCESS; }
};

class CommPort : public KernelObject {
 public:
  explicit CommPort(std::unique_ptr<LineBackend> backend);
  ~CommPort() override;

  void Start();
  DWORD OnClose() override;

  BOOL Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov);
  BOOL Write(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov);
  BOOL GetResult(OVERLAPPED* ov, DWORD* transferred, bool wait);
  BOOL Setup(DWORD inQueue, DWORD outQueue);
  BOOL GetState(DCB* dcb);
  BOOL SetState(const DCB* dcb);
  BOOL GetTimeouts(COMMTIMEOUTS* t);
  BOOL SetTimeouts(const COMMTIMEOUTS* t);
  BOOL SetMask(DWORD mask);
  BOOL GetMask(DWORD* mask);
  BOOL WaitEvent(DWORD* mask, OVERLAPPED* ov);
  BOOL ClearError(DWORD* errors, COMSTAT* stat);
  BOOL GetModemStatus(DWORD* status);
  BOOL Purge(DWORD flags);

  // From the backend (any thread, lock not held).
  void OnReceived(const uint8_t* data, size_t size);  // clean bytes, no marks
  void OnEvents(DWORD evMask);
  void OnLineErrors(DWORD ceBits, bool raiseEvent);
  void OnModemChange(DWORD evMask);
  void OnDrained();
  void OnLost(DWORD error);
  void Wake();

  static constexpr DWORD kDefaultQueueSize = 4096;

 private:
  using Clock = std::chrono::steady_clock;
  struct Op;

  DWORD Intercept(const vdev::Call& call);
  BOOL Begin(std::unique_lock<std::mutex>& lock, const char* name, vdev::Call* call = nullptr);
  BOOL StartOp(std::unique_ptr<Op> op, DWORD* transferred, std::unique_lock<std::mutex>& lock);
  BOOL Synchronous(OVERLAPPED& ov, DWORD* transferred, std::unique_lock<std::mutex>& lock);
  void Complete(Op& op, DWORD error);
  void AbortAll(std::deque<std::unique_ptr<Op>>& ops, DWORD error);
  void ServiceReads(Clock::time_point now);
  void ServiceWrites(Clock::time_point now);
  void Receive(const uint8_t* data, size_t size);
  void ReceiveMarked(const uint8_t* data, size_t size);
  // Takes what the device has; the number of bytes.
  size_t ReadFromDevice();
  Clock::duration HoldTime() const;
  // After `got` bytes came from the device: whether to let more gather.
  void GatherAfter(size_t got);
  void Raise(DWORD evMask);
  void AddErrors(DWORD ceBits, bool raiseEvent);
  void MarkLost(DWORD error);
  void UpdateDtrHandshake();
  bool OutputHeld();
  std::optional<Clock::time_point> NextDeadline() const;
  void ServiceLoop();

  std::unique_ptr<LineBackend> backend_;
  mutable std::mutex mu_;
  std::condition_variable done_;  // any completion
  std::thread service_;
  int wakeFd_ = -1;
  bool closed_ = false;
  bool stopping_ = false;
  DWORD lost_ = ERROR_SUCCESS;

  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  DWORD mask_ = 0;
  DWORD history_ = 0;
  DWORD errors_ = 0;
  bool abortedByError_ = false;

  // Its bytes are not cleared when made: a large queue takes memory only
  // as far as it fills, as the ring starts over at its front whenever it
  // runs empty.
  template <typename T>
  struct Uncleared : std::allocator<T> {
    template <typename U>
    struct rebind {
      using other = Uncleared<U>;
    };
    Uncleared() = default;
    template <typename U>
    Uncleared(const Uncleared<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
      ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  };
  std::vector<uint8_t, Uncleared<uint8_t>> rx_;  // ring buffer
  size_t rxHead_ = 0;
  size_t rxUsed_ = 0;
  bool rx80Raised_ = false;
  bool dtrLowered_ = false;
  int markState_ = 0;  // PARMRK parser: 0 plain, 1 after \377, 2 after \377 \0

  std::deque<std::unique_ptr<Op>> reads_;
  std::deque<std::unique_ptr<Op>> writes_;
  std::unique_ptr<Op> wait_;
  bool txPendingEmpty_ = false;  // bytes were written since the last EV_TXEMPTY
  // A write was reported complete (by its time-out) while its bytes were
  // still in the device's queue: a purge must not flush them.
  bool completedUndrained_ = false;
  // The device said its queue has drained since the last bytes went in; a
  // driver whose count lags behind its drain must not make us ask forever.
  bool drainSeen_ = false;
  uint64_t written_ = 0;          // bytes handed to the device, for progress checks
  // A stopped pseudo-terminal (XOFF) polls writable but takes nothing; then
  // writing is retried after a growing pause instead of spinning.
  std::optional<Clock::time_point> writeRetry_;
  int writeBackoffMs_ = 5;
  bool rtsToggleOn_ = false;
  // Like a UART's receive FIFO or a USB adapter's latency timer: after a
  // small batch the device is left alone for a few characters' time, so
  // that the bytes gather and one EV_RXCHAR covers many. A read waiting for
  // bytes ends the hold, a status query takes what has come meanwhile, and
  // a large batch or a fast line is followed by no hold at all.
  std::optional<Clock::time_point> rxHold_;
  Clock::time_point rxHoldStart_;
  Clock::time_point rxRateStart_;
  size_t rxRateBytes_ = 0;
  double rxRate_ = 0;  // bytes a second, 0 while not known
  static constexpr size_t kHoldBelowBytes = 4096;
  static constexpr std::chrono::milliseconds kHoldQueryAfter{1};
};

// Maps errno of a transfer or ioctl on an open device to a Windows error.
DWORD ErrorFromIoErrno(int error);
// Maps errno of opening a device to a Windows error.
DWORD ErrorFromOpenErrno(int error);

}  // namespace winapi
