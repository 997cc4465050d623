// The driver side of a communications device, as a Windows program sees it.
#include "winapi/comm_port.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace winapi {

namespace {

// OVERLAPPED.Internal holds the state of the transfer: pending, success, or
// kErrorBase + the Windows error. InternalHigh holds the byte count.
constexpr ULONG_PTR kPending = 0x103;
constexpr ULONG_PTR kErrorBase = 0xE0000000u;
constexpr DWORD kValidEvents = 0x1FFF;
constexpr DWORD kMaxQueue = 64u * 1024 * 1024;

void StoreResult(OVERLAPPED* ov, ULONG_PTR status, DWORD bytes) {
  std::atomic_ref<ULONG_PTR>(ov->InternalHigh).store(bytes, std::memory_order_relaxed);
  std::atomic_ref<ULONG_PTR>(ov->Internal).store(status, std::memory_order_release);
}

ULONG_PTR LoadStatus(OVERLAPPED* ov) {
  return std::atomic_ref<ULONG_PTR>(ov->Internal).load(std::memory_order_acquire);
}

// Windows resets the transfer's event when a call starts, also when it then
// fails; a caller looping on WaitCommEvent must not see a stale signal.
std::shared_ptr<Event> ResetOverlappedEvent(OVERLAPPED* ov) {
  if (ov == nullptr || ov->hEvent == nullptr) return nullptr;
  auto e = LookupHandleAs<Event>(ov->hEvent);
  if (e) e->Reset();
  return e;
}

vdev::Call NamedCall(const char* name) {
  vdev::Call call;
  call.name = name;
  return call;
}

}  // namespace

DWORD ErrorFromIoErrno(int error) {
  switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case ENOENT:
      return ERROR_DEVICE_NOT_CONNECTED;
    case EACCES:
    case EPERM:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD ErrorFromOpenErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    default:
      return ErrorFromIoErrno(error);
  }
}

struct CommPort::Op {
  enum Kind { kRead, kWrite, kWait } kind;
  OVERLAPPED* ov = nullptr;
  std::shared_ptr<Event> event;
  uint8_t* readBuffer = nullptr;
  std::string writeData;
  DWORD want = 0;
  DWORD done = 0;  // bytes, or the event mask of a wait
  DWORD* maskOut = nullptr;
  COMMTIMEOUTS timeouts{};
  bool armed = false;
  std::optional<Clock::time_point> total;
  std::optional<Clock::time_point> interval;
};

CommPort::CommPort(std::unique_ptr<LineBackend> backend) : backend_(std::move(backend)) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  dcb_ = backend_->InitialState();
  rx_.resize(kDefaultQueueSize);
}

CommPort::~CommPort() {
  bool open;
  {
    std::lock_guard<std::mutex> lock(mu_);
    open = !closed_;
  }
  if (open) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      closed_ = stopping_ = true;
    }
    Wake();
    if (service_.joinable()) service_.join();
    backend_->Stop();
  }
  if (wakeFd_ >= 0) close(wakeFd_);
}

void CommPort::Start() {
  backend_->Start(this);
  service_ = std::thread([this] { ServiceLoop(); });
}

void CommPort::Wake() {
  uint64_t one = 1;
  ssize_t r = write(wakeFd_, &one, sizeof one);
  (void)r;  // a full counter is still a wake-up
}

DWORD CommPort::OnClose() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (closed_) return ERROR_INVALID_HANDLE;
    if (DWORD e = Intercept(NamedCall("CloseHandle"))) return e;
    closed_ = true;
    stopping_ = true;
    AbortAll(reads_, ERROR_OPERATION_ABORTED);
    AbortAll(writes_, ERROR_OPERATION_ABORTED);
    if (wait_) {
      Complete(*wait_, ERROR_OPERATION_ABORTED);
      wait_.reset();
    }
  }
  Wake();
  if (service_.joinable()) service_.join();
  backend_->Stop();
  return ERROR_SUCCESS;
}

DWORD CommPort::Intercept(const vdev::Call& call) {
  if (!backend_->RecordsCalls()) return ERROR_SUCCESS;
  return backend_->OnCall(call);
}

BOOL CommPort::Begin(std::unique_lock<std::mutex>&, const char* name, vdev::Call* call) {
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (backend_->RecordsCalls()) {
    vdev::Call c = call ? *call : vdev::Call{};
    c.name = name;
    if (DWORD e = backend_->OnCall(c)) return Fail(e);
  }
  return TRUE;
}

// ---- completion -------------------------------------------------------------

void CommPort::Complete(Op& op, DWORD error) {
  if (op.kind == Op::kWait && op.maskOut != nullptr && error == ERROR_SUCCESS) *op.maskOut = op.done;
  const DWORD bytes = op.kind == Op::kWait ? 0 : op.done;
  if (op.ov) StoreResult(op.ov, error == ERROR_SUCCESS ? 0 : kErrorBase + error, bytes);
  if (op.event) op.event->Set();
  done_.notify_all();
}

void CommPort::AbortAll(std::deque<std::unique_ptr<Op>>& ops, DWORD error) {
  while (!ops.empty()) {
    auto op = std::move(ops.front());
    ops.pop_front();
    Complete(*op, error);
  }
}

BOOL CommPort::StartOp(std::unique_ptr<Op> op, DWORD* transferred, std::unique_lock<std::mutex>& lock) {
  OVERLAPPED local{};
  const bool synchronous = op->ov == nullptr;
  if (synchronous) op->ov = &local;
  OVERLAPPED* ov = op->ov;
  StoreResult(ov, kPending, 0);
  const Op::Kind kind = op->kind;
  const auto now = Clock::now();
  if (kind == Op::kRead) {
    reads_.push_back(std::move(op));
    ServiceReads(now);
  } else if (kind == Op::kWrite) {
    writes_.push_back(std::move(op));
    ServiceWrites(now);
  } else {
    wait_ = std::move(op);
  }
  if (synchronous) return Synchronous(local, transferred, lock);
  const ULONG_PTR status = LoadStatus(ov);
  if (status == kPending) {
    // The service thread takes up a read's deadline or a write's wait for
    // room; a wait for events needs nothing of it.
    if (kind != Op::kWait) Wake();
    if (transferred) *transferred = 0;
    return Fail(ERROR_IO_PENDING);
  }
  if (transferred) *transferred = static_cast<DWORD>(ov->InternalHigh);
  if (status != 0) return Fail(static_cast<DWORD>(status - kErrorBase));
  return TRUE;
}

BOOL CommPort::Synchronous(OVERLAPPED& ov, DWORD* transferred, std::unique_lock<std::mutex>& lock) {
  Wake();
  done_.wait(lock, [&] { return LoadStatus(&ov) != kPending; });
  const ULONG_PTR status = LoadStatus(&ov);
  if (transferred) *transferred = static_cast<DWORD>(ov.InternalHigh);
  if (status != 0) return Fail(static_cast<DWORD>(status - kErrorBase));
  return TRUE;
}

BOOL CommPort::GetResult(OVERLAPPED* ov, DWORD* transferred, bool wait) {
  std::unique_lock<std::mutex> lock(mu_);
  if (backend_->RecordsCalls())
    if (DWORD e = backend_->OnCall(NamedCall("GetOverlappedResult"))) return Fail(e);
  ULONG_PTR status = LoadStatus(ov);
  while (status == kPending) {
    if (!wait) return Fail(ERROR_IO_INCOMPLETE);
    done_.wait(lock);
    status = LoadStatus(ov);
  }
  if (transferred) *transferred = static_cast<DWORD>(std::atomic_ref<ULONG_PTR>(ov->InternalHigh).load());
  if (status != 0) return Fail(static_cast<DWORD>(status - kErrorBase));
  return TRUE;
}

// ---- reads ------------------------------------------------------------------

BOOL CommPort::Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov) {
  auto event = ResetOverlappedEvent(ov);
  std::unique_lock<std::mutex> lock(mu_);
  vdev::Call call;
  call.arg1 = count;
  if (!Begin(lock, "ReadFile", &call)) return FALSE;
  if (buffer == nullptr && count > 0) return Fail(ERROR_INVALID_PARAMETER);
  if (abortedByError_) return Fail(ERROR_OPERATION_ABORTED);
  if (lost_ && rxUsed_ == 0) return Fail(lost_);
  auto op = std::make_unique<Op>();
  op->kind = Op::kRead;
  op->ov = ov;
  op->event = std::move(event);
  op->readBuffer = static_cast<uint8_t*>(buffer);
  op->want = count;
  op->timeouts = timeouts_;
  return StartOp(std::move(op), read, lock);
}

void CommPort::ServiceReads(Clock::time_point now) {
  while (!reads_.empty()) {
    Op& op = *reads_.front();
    const COMMTIMEOUTS& t = op.timeouts;
    const bool immediate =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    const bool intervalOn = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
    if (!op.armed) {
      op.armed = true;
      if (firstByte) {
        op.total = now + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
      } else if (!immediate && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)) {
        uint64_t ms = uint64_t(t.ReadTotalTimeoutMultiplier) * op.want + t.ReadTotalTimeoutConstant;
        ms = std::min<uint64_t>(ms, uint64_t(1) << 40);
        op.total = now + std::chrono::milliseconds(ms);
      }
    }
    // Take what the queue holds.
    const size_t take = std::min<size_t>(rxUsed_, op.want - op.done);
    if (take > 0) {
      const bool wasFull = rxUsed_ == rx_.size();
      size_t first = std::min(take, rx_.size() - rxHead_);
      std::memcpy(op.readBuffer + op.done, rx_.data() + rxHead_, first);
      std::memcpy(op.readBuffer + op.done + first, rx_.data(), take - first);
      rxHead_ = (rxHead_ + take) % rx_.size();
      rxUsed_ -= take;
      if (rxUsed_ == 0) rxHead_ = 0;
      op.done += static_cast<DWORD>(take);
      if (intervalOn) op.interval = now + std::chrono::milliseconds(t.ReadIntervalTimeout);
      if (rxUsed_ * 5 < rx_.size() * 4) rx80Raised_ = false;
      UpdateDtrHandshake();
      if (wasFull) Wake();  // reading from the device may go on
    }
    bool finished = op.done == op.want || immediate || (firstByte && op.done > 0) ||
                    (op.total && now >= *op.total) || (op.interval && now >= *op.interval);
    DWORD error = ERROR_SUCCESS;
    if (!finished && lost_) {
      finished = true;
      if (op.done == 0) error = lost_;
    }
    if (!finished) break;
    auto done = std::move(reads_.front());
    reads_.pop_front();
    Complete(*done, error);
  }
}

// ---- writes -----------------------------------------------------------------

BOOL CommPort::Write(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov) {
  auto event = ResetOverlappedEvent(ov);
  std::unique_lock<std::mutex> lock(mu_);
  vdev::Call call;
  call.arg1 = count;
  if (buffer && count) call.data.assign(static_cast<const char*>(buffer), count);
  if (!Begin(lock, "WriteFile", &call)) return FALSE;
  if (buffer == nullptr && count > 0) return Fail(ERROR_INVALID_PARAMETER);
  if (abortedByError_) return Fail(ERROR_OPERATION_ABORTED);
  if (lost_) return Fail(lost_);
  auto op = std::make_unique<Op>();
  op->kind = Op::kWrite;
  op->ov = ov;
  op->event = std::move(event);
  if (count) op->writeData.assign(static_cast<const char*>(buffer), count);
  op->want = count;
  op->timeouts = timeouts_;
  return StartOp(std::move(op), written, lock);
}

bool CommPort::OutputHeld() {
  if (!dcb_.fOutxDsrFlow || !backend_->HasModemLines()) return false;
  DWORD status = 0;
  if (backend_->ModemStatus(&status) != ERROR_SUCCESS) return false;
  return (status & MS_DSR_ON) == 0;
}

void CommPort::ServiceWrites(Clock::time_point now) {
  while (!writes_.empty()) {
    Op& op = *writes_.front();
    if (lost_) {
      AbortAll(writes_, lost_);
      return;
    }
    if (!op.armed) {
      op.armed = true;
      uint64_t ms = uint64_t(op.timeouts.WriteTotalTimeoutMultiplier) * op.want + op.timeouts.WriteTotalTimeoutConstant;
      if (ms != 0) op.total = now + std::chrono::milliseconds(std::min<uint64_t>(ms, uint64_t(1) << 40));
      if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !rtsToggleOn_ && op.want > 0) {
        backend_->SetRts(true);
        rtsToggleOn_ = true;
      }
    }
    if (!OutputHeld()) {
      while (op.done < op.want) {
        DWORD error = ERROR_SUCCESS;
        const long n = backend_->WriteSome(reinterpret_cast<const uint8_t*>(op.writeData.data()) + op.done,
                                           op.want - op.done, &error);
        if (n < 0) {
          MarkLost(error);
          return;
        }
        if (n == 0) break;
        op.done += static_cast<DWORD>(n);
        written_ += static_cast<uint64_t>(n);
        txPendingEmpty_ = true;
        drainSeen_ = false;
      }
    }
    const bool timedOut = op.total && now >= *op.total;
    if (op.done < op.want && !timedOut) {
      // A device without a descriptor says when it has room again.
      if (backend_->Fd() < 0) backend_->RequestDrainNotice();
      break;
    }
    // Handed over is not yet sent: where the device shows its queue, the
    // write is complete when its bytes have left it, so that the caller's
    // progress is the line's.
    if (!timedOut && !drainSeen_ && backend_->SeesOutputQueue() && backend_->OutputQueued() > 0 &&
        backend_->RequestDrainNotice())
      break;  // OnDrained follows
    // A write time-out ends the transfer successfully with what went out.
    if (!drainSeen_ && backend_->SeesOutputQueue() && backend_->OutputQueued() > 0) completedUndrained_ = true;
    auto done = std::move(writes_.front());
    writes_.pop_front();
    Complete(*done, ERROR_SUCCESS);
  }
  if (writes_.empty() && txPendingEmpty_) {
    // Asked only where the queue shows: the query costs as much as the write.
    if (!drainSeen_ && backend_->SeesOutputQueue() && backend_->OutputQueued() > 0 && backend_->RequestDrainNotice())
      return;  // OnDrained follows
    txPendingEmpty_ = false;
    completedUndrained_ = false;
    if (rtsToggleOn_) {
      backend_->SetRts(false);
      rtsToggleOn_ = false;
    }
    Raise(EV_TXEMPTY);
  }
}

void CommPort::OnDrained() {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || lost_) return;
  drainSeen_ = true;
  ServiceWrites(Clock::now());
}

// ---- receiving ----------------------------------------------------------------

void CommPort::UpdateDtrHandshake() {
  if (dcb_.fDtrControl != DTR_CONTROL_HANDSHAKE || !backend_->HasModemLines()) return;
  const size_t free = rx_.size() - rxUsed_;
  if (!dtrLowered_ && free < dcb_.XoffLim) {
    backend_->SetDtr(false);
    dtrLowered_ = true;
  } else if (dtrLowered_ && rxUsed_ <= dcb_.XonLim) {
    backend_->SetDtr(true);
    dtrLowered_ = false;
  }
}

void CommPort::Receive(const uint8_t* data, size_t size) {
  if (size == 0) return;
  if (dcb_.fDsrSensitivity && backend_->HasModemLines()) {
    DWORD status = 0;
    if (backend_->ModemStatus(&status) == ERROR_SUCCESS && !(status & MS_DSR_ON)) return;
  }
  DWORD raised = 0;
  bool overflow = false;
  if (!dcb_.fNull) {
    // Whole runs into the ring, at most two copies.
    const size_t take = std::min(size, rx_.size() - rxUsed_);
    overflow = take < size;
    size_t tail = (rxHead_ + rxUsed_) % rx_.size();
    for (size_t done = 0; done < take;) {
      const size_t run = std::min(take - done, rx_.size() - tail);
      std::memcpy(rx_.data() + tail, data + done, run);
      done += run;
      tail = (tail + run) % rx_.size();
    }
    rxUsed_ += take;
    if (take > 0) raised |= EV_RXCHAR;
    if (std::memchr(data, static_cast<uint8_t>(dcb_.EvtChar), take)) raised |= EV_RXFLAG;
  } else {
    for (size_t i = 0; i < size; ++i) {
      const uint8_t c = data[i];
      if (c == 0) continue;
      if (rxUsed_ == rx_.size()) {
        overflow = true;
        continue;
      }
      rx_[(rxHead_ + rxUsed_) % rx_.size()] = c;
      ++rxUsed_;
      raised |= EV_RXCHAR;
      if (c == static_cast<uint8_t>(dcb_.EvtChar)) raised |= EV_RXFLAG;
    }
  }
  if (!rx80Raised_ && rxUsed_ * 5 >= rx_.size() * 4) {
    rx80Raised_ = true;
    raised |= EV_RX80FULL;
  }
  Raise(raised);
  if (overflow) AddErrors(CE_RXOVER, true);
  UpdateDtrHandshake();
  ServiceReads(Clock::now());
}

// With PARMRK the line discipline sends \377 \377 for a \377 byte, \377 \0 \0
// for a break and \377 \0 x for a character x received with a parity or
// framing error.
void CommPort::ReceiveMarked(const uint8_t* data, size_t size) {
  std::vector<uint8_t> clean;
  clean.reserve(size);
  DWORD errors = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t c = data[i];
    if (markState_ == 0) {
      if (c == 0xFF)
        markState_ = 1;
      else
        clean.push_back(c);
    } else if (markState_ == 1) {
      if (c == 0xFF) {
        clean.push_back(0xFF);
        markState_ = 0;
      } else if (c == 0) {
        markState_ = 2;
      } else {  // not a mark after all
        clean.push_back(0xFF);
        clean.push_back(c);
        markState_ = 0;
      }
    } else {
      markState_ = 0;
      if (c == 0) {
        errors |= CE_BREAK;
      } else {
        errors |= dcb_.fParity ? CE_RXPARITY : CE_FRAME;
        clean.push_back(dcb_.fErrorChar && dcb_.fParity ? static_cast<uint8_t>(dcb_.ErrorChar) : c);
      }
    }
  }
  Receive(clean.data(), clean.size());
  if (errors) AddErrors(errors, true);
}

size_t CommPort::ReadFromDevice() {
  uint8_t buffer[4096];
  size_t total = 0;
  for (int round = 0; round < 16 && !lost_; ++round) {
    // A full queue holds reading back rather than dropping bytes: the
    // kernel's own buffer keeps them (and a pseudo-terminal's writer waits),
    // so a slow reader loses nothing it could have kept.
    const size_t room = std::min(sizeof buffer, rx_.size() - rxUsed_);
    if (room == 0) break;
    DWORD error = ERROR_SUCCESS;
    const long n = backend_->ReadSome(buffer, room, &error);
    if (n < 0) {
      MarkLost(error);
      break;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
    if (backend_->MarksErrors())
      ReceiveMarked(buffer, static_cast<size_t>(n));
    else
      Receive(buffer, static_cast<size_t>(n));
    if (static_cast<size_t>(n) < room) break;
  }
  DWORD counted = 0;
  if (!lost_ && backend_->ErrorCounters(&counted) && counted) AddErrors(counted, true);
  return total;
}

void CommPort::GatherAfter(size_t got) {
  const auto now = Clock::now();
  // The line's rate as it comes (a pseudo-terminal's speed setting says
  // nothing), measured over a tenth of a second at least, afresh after a
  // quiet second.
  if (rxRateStart_ == Clock::time_point{} || now - rxRateStart_ > std::chrono::seconds(1)) {
    rxRateStart_ = now;
    rxRateBytes_ = got;
    rxRate_ = 0;
    return;
  }
  rxRateBytes_ += got;
  const double seconds = std::chrono::duration<double>(now - rxRateStart_).count();
  if (seconds >= 0.1) {
    rxRate_ = static_cast<double>(rxRateBytes_) / seconds;
    rxRateStart_ = now;
    rxRateBytes_ = 0;
  }
  if (rxRate_ <= 0 || got >= kHoldBelowBytes || !reads_.empty()) return;
  // A fast line would fill the device's buffer: no longer than a kilobyte takes.
  const auto kilobyte = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1024.0 / rxRate_));
  const auto hold = std::min(HoldTime(), kilobyte);
  if (hold < std::chrono::milliseconds(1)) return;
  rxHoldStart_ = now;
  rxHold_ = now + hold;
}

CommPort::Clock::duration CommPort::HoldTime() const {
  // 128 characters of 10 bits at the line's speed, within 1 and 250 ms.
  const double baud = dcb_.BaudRate > 0 ? dcb_.BaudRate : 9600;
  const double ms = std::clamp(128.0 * 10.0 * 1000.0 / baud, 1.0, 250.0);
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

void CommPort::Raise(DWORD evMask) {
  const DWORD hit = evMask & mask_;
  if (hit == 0) return;
  history_ |= hit;
  if (wait_) {
    auto op = std::move(wait_);
    op->done = history_;
    history_ = 0;
    Complete(*op, ERROR_SUCCESS);
  }
}

void CommPort::AddErrors(DWORD ceBits, bool raiseEvent) {
  if (!dcb_.fParity) ceBits &= ~CE_RXPARITY;
  if (ceBits == 0) return;
  errors_ |= ceBits;
  if (!raiseEvent) return;
  DWORD ev = 0;
  if (ceBits & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER)) ev |= EV_ERR;
  if (ceBits & CE_BREAK) ev |= EV_BREAK;
  Raise(ev);
  if (dcb_.fAbortOnError) {
    abortedByError_ = true;
    AbortAll(reads_, ERROR_OPERATION_ABORTED);
    AbortAll(writes_, ERROR_OPERATION_ABORTED);
  }
}

void CommPort::MarkLost(DWORD error) {
  if (lost_) return;
  lost_ = error ? error : ERROR_DEVICE_NOT_CONNECTED;
  AbortAll(writes_, lost_);
  if (wait_) {
    auto op = std::move(wait_);
    Complete(*op, lost_);
  }
  ServiceReads(Clock::now());
}

// ---- from the backend -----------------------------------------------------------

void CommPort::OnReceived(const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || lost_) return;
  Receive(data, size);
}

void CommPort::OnEvents(DWORD evMask) {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || lost_) return;
  Raise(evMask);
}

void CommPort::OnLineErrors(DWORD ceBits, bool raiseEvent) {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || lost_) return;
  AddErrors(ceBits, raiseEvent);
}

void CommPort::OnModemChange(DWORD evMask) {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || lost_) return;
  Raise(evMask);
  if (!writes_.empty()) Wake();  // DSR output flow may have been released
}

void CommPort::OnLost(DWORD error) {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_) return;
  MarkLost(error);
}

// ---- settings and status ----------------------------------------------------------

BOOL CommPort::Setup(DWORD inQueue, DWORD outQueue) {
  std::unique_lock<std::mutex> lock(mu_);
  vdev::Call call;
  call.arg1 = inQueue;
  call.arg2 = outQueue;
  if (!Begin(lock, "SetupComm", &call)) return FALSE;
  if (lost_) return Fail(lost_);
  if (inQueue > kMaxQueue || outQueue > kMaxQueue) return Fail(ERROR_INVALID_PARAMETER);
  if (inQueue == 0 || inQueue == rx_.size()) return TRUE;
  // The queue takes the new size; queued bytes are kept.
  decltype(rx_) fresh(std::max<size_t>(inQueue, rxUsed_));
  for (size_t i = 0; i < rxUsed_; ++i) fresh[i] = rx_[(rxHead_ + i) % rx_.size()];
  rx_.swap(fresh);
  rxHead_ = 0;
  rx80Raised_ = rxUsed_ * 5 >= rx_.size() * 4;
  Wake();
  return TRUE;
}

BOOL CommPort::GetState(DCB* dcb) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!Begin(lock, "GetCommState")) return FALSE;
  if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (lost_) return Fail(lost_);
  *dcb = dcb_;
  dcb->DCBlength = sizeof(DCB);
  return TRUE;
}

BOOL CommPort::SetState(const DCB* dcb) {
  std::unique_lock<std::mutex> lock(mu_);
  vdev::Call call;
  if (dcb) call.dcb = *dcb;
  if (!Begin(lock, "SetCommState", &call)) return FALSE;
  if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const DCB& d = *dcb;
  // The checks of the Windows serial driver.
  if (d.BaudRate == 0 || d.ByteSize < 5 || d.ByteSize > 8 || d.Parity > SPACEPARITY || d.StopBits > TWOSTOPBITS ||
      (d.StopBits == ONE5STOPBITS && d.ByteSize != 5) || (d.StopBits == TWOSTOPBITS && d.ByteSize == 5) ||
      d.fDtrControl > DTR_CONTROL_HANDSHAKE || ((d.fOutX || d.fInX) && d.XonChar == d.XoffChar))
    return Fail(ERROR_INVALID_PARAMETER);
  // The limits matter only where the receive side throttles the sender.
  const bool throttles = d.fInX || d.fDtrControl == DTR_CONTROL_HANDSHAKE || d.fRtsControl == RTS_CONTROL_HANDSHAKE;
  if (throttles && (d.XonLim > rx_.size() || d.XoffLim > rx_.size())) return Fail(ERROR_INVALID_PARAMETER);
  if (lost_) return Fail(lost_);
  if (DWORD e = backend_->ApplyState(d)) return Fail(e);
  dcb_ = d;
  dcb_.DCBlength = sizeof(DCB);
  dtrLowered_ = false;
  rtsToggleOn_ = false;
  UpdateDtrHandshake();
  Wake();
  return TRUE;
}

BOOL CommPort::GetTimeouts(COMMTIMEOUTS* t) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!Begin(lock, "GetCommTimeouts")) return FALSE;
  if (t == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *t = timeouts_;
  return TRUE;
}

BOOL CommPort::SetTimeouts(const COMMTIMEOUTS* t) {
  std::unique_lock<std::mutex> lock(mu_);
  vdev::Call call;
  if (t) call.timeouts = *t;
  if (!Begin(lock, "SetCommTimeouts", &call)) return FALSE;
  if (t == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (t->ReadIntervalTimeout == MAXDWORD && t->ReadTotalTimeoutMultiplier == MAXDWORD &&
      t->ReadTotalTimeoutConstant == MAXDWORD)
    return Fail(ERROR_INVALID_PARAMETER);
  if (lost_) return Fail(lost_);
  timeouts_ = *t;
  return TRUE;
}

BOOL CommPort::SetMask(DWORD mask) {
  std::unique_lock<std::mutex> lock(mu_);
  vdev::Call call;
  call.arg1 = mask;
  if (!Begin(lock, "SetCommMask", &call)) return FALSE;
  if (mask & ~kValidEvents) return Fail(ERROR_INVALID_PARAMETER);
  // Allowed on a lost device: it is how a waiting thread is released.
  mask_ = mask;
  history_ = 0;
  if (wait_) {
    auto op = std::move(wait_);
    op->done = 0;
    Complete(*op, ERROR_SUCCESS);
  }
  return TRUE;
}

BOOL CommPort::GetMask(DWORD* mask) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!Begin(lock, "GetCommMask")) return FALSE;
  if (mask == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *mask = mask_;
  return TRUE;
}

BOOL CommPort::WaitEvent(DWORD* mask, OVERLAPPED* ov) {
  auto event = ResetOverlappedEvent(ov);
  std::unique_lock<std::mutex> lock(mu_);
  if (!Begin(lock, "WaitCommEvent")) return FALSE;
  if (mask == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (lost_) return Fail(lost_);
  if (mask_ == 0 || wait_) return Fail(ERROR_INVALID_PARAMETER);
  auto op = std::make_unique<Op>();
  op->kind = Op::kWait;
  op->ov = ov;
  op->event = std::move(event);
  op->maskOut = mask;
  if (history_ & mask_) {
    op->done = history_ & mask_;
    history_ = 0;
    OVERLAPPED local{};
    if (!op->ov) op->ov = &local;
    Complete(*op, ERROR_SUCCESS);
    return TRUE;
  }
  return StartOp(std::move(op), nullptr, lock);
}

BOOL CommPort::ClearError(DWORD* errors, COMSTAT* stat) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!Begin(lock, "ClearCommError")) return FALSE;
  // Bytes that reached the device during a hold count as received (asked
  // right after the batch that started the hold, there is nothing yet).
  if (rxHold_ && !lost_ && backend_->Fd() >= 0 && Clock::now() >= rxHoldStart_ + kHoldQueryAfter) ReadFromDevice();
  // After a loss, what was received before it can still be collected.
  if (lost_ && rxUsed_ == 0 && errors_ == 0) return Fail(lost_);
  if (errors) *errors = errors_;
  errors_ = 0;
  abortedByError_ = false;
  if (stat) {
    std::memset(stat, 0, sizeof *stat);
    stat->cbInQue = static_cast<DWORD>(rxUsed_);
    DWORD out = 0;
    for (const auto& op : writes_) out += op->want - op->done;
    if (!lost_) out += backend_->OutputQueued();
    stat->cbOutQue = out;
    if (!writes_.empty() && backend_->HasModemLines() && !lost_) {
      DWORD ms = 0;
      backend_->ModemStatus(&ms);
      stat->fCtsHold = dcb_.fOutxCtsFlow && !(ms & MS_CTS_ON);
      stat->fDsrHold = dcb_.fOutxDsrFlow && !(ms & MS_DSR_ON);
    }
  }
  return TRUE;
}

BOOL CommPort::GetModemStatus(DWORD* status) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!Begin(lock, "GetCommModemStatus")) return FALSE;
  if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (lost_) return Fail(lost_);
  DWORD s = 0;
  if (DWORD e = backend_->ModemStatus(&s)) return Fail(e);
  *status = s;
  return TRUE;
}

BOOL CommPort::Purge(DWORD flags) {
  std::unique_lock<std::mutex> lock(mu_);
  vdev::Call call;
  call.arg1 = flags;
  if (!Begin(lock, "PurgeComm", &call)) return FALSE;
  if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) return Fail(ERROR_INVALID_PARAMETER);
  // Works on a lost device too, so that closing it never gets stuck.
  if (flags & PURGE_TXABORT) AbortAll(writes_, ERROR_OPERATION_ABORTED);
  if (flags & PURGE_RXABORT) AbortAll(reads_, ERROR_OPERATION_ABORTED);
  if ((flags & PURGE_TXCLEAR) && !lost_) {
    // Only bytes of writes not reported complete may be thrown away.
    if (completedUndrained_ && backend_->OutputQueued() == 0) completedUndrained_ = false;
    if (backend_->SeesOutputQueue() && !completedUndrained_) backend_->Flush(false, true);
  }
  if (flags & PURGE_RXCLEAR) {
    rxHead_ = rxUsed_ = 0;
    markState_ = 0;
    rx80Raised_ = false;
    if (!lost_) backend_->Flush(true, false);
    UpdateDtrHandshake();
  }
  Wake();
  return TRUE;
}

// ---- the service thread -------------------------------------------------------------

std::optional<CommPort::Clock::time_point> CommPort::NextDeadline() const {
  std::optional<Clock::time_point> next;
  auto consider = [&](const std::optional<Clock::time_point>& t) {
    if (t && (!next || *t < *next)) next = t;
  };
  if (!reads_.empty()) {
    consider(reads_.front()->total);
    consider(reads_.front()->interval);
  }
  if (!writes_.empty()) {
    consider(writes_.front()->total);
    consider(writeRetry_);
  }
  if (reads_.empty()) consider(rxHold_);
  return next;
}

void CommPort::ServiceLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    const int fd = lost_ ? -1 : backend_->Fd();
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd, 0, 0}};
    if (rxHold_ && (!reads_.empty() || Clock::now() >= *rxHold_)) rxHold_.reset();
    if (fd >= 0) {
      // A hang-up is reported during a hold all the same.
      if (rxUsed_ < rx_.size() && !rxHold_) fds[1].events |= POLLIN;
      if (!writes_.empty() && !OutputHeld() && (!writeRetry_ || Clock::now() >= *writeRetry_))
        fds[1].events |= POLLOUT;
    }
    int timeout = -1;
    if (auto next = NextDeadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    lock.unlock();
    const int ready = poll(fds, fd >= 0 ? 2 : 1, timeout);
    const int pollErrno = errno;
    lock.lock();
    if (stopping_) break;
    if (ready < 0 && pollErrno != EINTR) {
      MarkLost(ERROR_GEN_FAILURE);
      continue;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      ssize_t r = read(wakeFd_, &count, sizeof count);
      (void)r;
    }
    if (fd >= 0 && !lost_ && ready > 0 && fds[1].revents) {
      const short re = fds[1].revents;
      if (re & (POLLIN | POLLHUP | POLLERR)) {
        const size_t got = ReadFromDevice();
        if (got > 0) GatherAfter(got);
      }
      // A hung-up tty stays readable-with-hangup for good: stop polling it.
      if (!lost_ && (re & (POLLHUP | POLLERR | POLLNVAL))) MarkLost(ERROR_DEVICE_NOT_CONNECTED);
    }
    const auto now = Clock::now();
    const uint64_t before = written_;
    const bool writable = fd >= 0 && ready > 0 && (fds[1].revents & POLLOUT);
    if (writeRetry_ && now >= *writeRetry_) writeRetry_.reset();
    ServiceWrites(now);
    if (writes_.empty() || written_ != before) {
      writeBackoffMs_ = 5;
    } else if (writable) {
      writeRetry_ = now + std::chrono::milliseconds(writeBackoffMs_);
      writeBackoffMs_ = std::min(writeBackoffMs_ * 2, 100);
    }
    ServiceReads(now);
  }
}

}  // namespace winapi
