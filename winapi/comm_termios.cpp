// The termios backend: real serial devices and pseudo-terminals.
#include "winapi/termios_device.h"

#include "winapi/termios2_speed.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <set>

namespace winapi {

namespace {

// Devices this process holds open (by device number): a second open fails
// even where the lock below would not see it (another path to the same node).
std::mutex& OpenDevicesLock() {
  static std::mutex m;
  return m;
}
std::set<dev_t>& OpenDevices() {
  static auto* s = new std::set<dev_t>;
  return *s;
}

// Helper threads block in ioctls (TIOCMIWAIT, tcdrain) that only a signal
// interrupts; this one has a handler that does nothing but interrupt.
int WakeSignal() { return SIGRTMIN + 4; }

void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction old {};
    sigaction(WakeSignal(), nullptr, &old);
    if (old.sa_handler != SIG_DFL) return;  // someone else's: leave it
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the ioctl must return EINTR
    sigaction(WakeSignal(), &sa, nullptr);
  });
}

class BlockingHelper {
 public:
  ~BlockingHelper() { Stop(); }

  void Start(std::function<void()> body) {
    InstallWakeHandler();
    thread_ = std::thread([this, body = std::move(body)] {
      body();
      std::lock_guard<std::mutex> lock(mu_);
      finished_ = true;
      cv_.notify_all();
    });
  }

  bool Stopping() const { return stop_.load(); }

  // Waits until Request() or Stop(). Returns false on Stop.
  bool WaitForRequest() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return requested_ || stop_.load(); });
    requested_ = false;
    return !stop_.load();
  }

  void Request() {
    std::lock_guard<std::mutex> lock(mu_);
    requested_ = true;
    cv_.notify_all();
  }

  void Stop() {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> lock(mu_);
    stop_ = true;
    cv_.notify_all();
    // The signal may land just before the thread enters its ioctl: repeat it
    // until the thread has left.
    while (!finished_) {
      pthread_kill(thread_.native_handle(), WakeSignal());
      cv_.wait_for(lock, std::chrono::milliseconds(50));
    }
    lock.unlock();
    thread_.join();
  }

 private:
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::atomic<bool> stop_{false};
  bool requested_ = false;
  bool finished_ = false;
};

DWORD ModemBits(int lines) {
  DWORD s = 0;
  if (lines & TIOCM_CTS) s |= MS_CTS_ON;
  if (lines & TIOCM_DSR) s |= MS_DSR_ON;
  if (lines & TIOCM_RNG) s |= MS_RING_ON;
  if (lines & TIOCM_CD) s |= MS_RLSD_ON;
  return s;
}

class TermiosBackend : public LineBackend {
 public:
  TermiosBackend(int fd, dev_t rdev) : fd_(fd), rdev_(rdev) {
    int lines = 0;
    hasModem_ = ioctl(fd_, TIOCMGET, &lines) == 0;
    modem_ = ModemBits(lines);
    countsErrors_ = ioctl(fd_, TIOCGICOUNT, &icount_) == 0;
    // The far ends of pseudo-terminals: majors 136 to 143.
    pty_ = major(rdev_) >= 136 && major(rdev_) <= 143;
  }

  ~TermiosBackend() override { Stop(); }

  void Start(CommPort* port) override {
    port_ = port;
    if (!hasModem_) return;  // a pseudo-terminal: no lines to watch, no transmitter to drain
    modemWatch_.Start([this] { WatchModemLines(); });
    drain_.Start([this] { WaitForDrains(); });
  }

  void Stop() override {
    if (fd_ < 0) return;
    modemWatch_.Stop();
    drain_.Stop();
    ioctl(fd_, TIOCNXCL);
    close(fd_);  // also drops the flock
    fd_ = -1;
    std::lock_guard<std::mutex> lock(OpenDevicesLock());
    OpenDevices().erase(rdev_);
  }

  int Fd() const override { return fd_; }
  bool MarksErrors() const override { return true; }
  bool HasModemLines() const override { return hasModem_; }

  DCB InitialState() const override {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.fBinary = 1;
    termios t{};
    tcgetattr(fd_, &t);
    uint32_t baud = 9600;
    GetLineSpeed(fd_, &baud);
    d.BaudRate = baud;
    switch (t.c_cflag & CSIZE) {
      case CS5: d.ByteSize = 5; break;
      case CS6: d.ByteSize = 6; break;
      case CS7: d.ByteSize = 7; break;
      default: d.ByteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB))
      d.Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
      d.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
      d.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    d.StopBits = (t.c_cflag & CSTOPB) ? (d.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
    d.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    d.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
    d.fRtsControl = (t.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    d.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    d.fTXContinueOnXoff = 1;
    d.XonChar = static_cast<char>(t.c_cc[VSTART]);
    d.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    d.XonLim = 2048;
    d.XoffLim = 512;
    return d;
  }

  // Raw mode with the line settings the device already has.
  DWORD MakeRaw() {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return ErrorFromIoErrno(errno);
    // Binary-safe until SetCommState says otherwise: no XON/XOFF, no checks.
    t.c_iflag = PARMRK;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return ErrorFromIoErrno(errno);
    return ERROR_SUCCESS;
  }

  DWORD ApplyState(const DCB& d) override {
    termios old{};
    if (tcgetattr(fd_, &old) != 0) return ErrorFromIoErrno(errno);
    uint32_t oldSpeed = 0;
    GetLineSpeed(fd_, &oldSpeed);

    termios t = old;
    // PARMRK marks breaks and bad characters in the stream, so they become
    // CE_BREAK / CE_FRAME / CE_RXPARITY (and ErrorChar) without polling.
    t.c_iflag = PARMRK;
    if (d.fParity) t.c_iflag |= INPCK;
    if (d.fOutX) t.c_iflag |= IXON;
    if (d.fInX) t.c_iflag |= IXOFF;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= (CBAUD | CIBAUD);  // the speed is set below
    t.c_cflag |= CREAD | CLOCAL | HUPCL;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[d.ByteSize - 5];
    switch (d.Parity) {
      case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
      case EVENPARITY: t.c_cflag |= PARENB; break;
      case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
      case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
      default: break;
    }
    // With 5 data bits the UART's "two" stop bits are 1.5.
    if (d.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
    // Linux couples RTS handshake and CTS output flow in one flag.
    if (d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
    t.c_cc[VSTART] = static_cast<cc_t>(d.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(d.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    auto restore = [&](DWORD error) {
      tcsetattr(fd_, TCSANOW, &old);
      if (oldSpeed) SetLineSpeed(fd_, oldSpeed);
      return error;
    };
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return restore(ErrorFromIoErrno(errno));
    if (int e = SetLineSpeed(fd_, d.BaudRate)) return restore(e == EINVAL ? ERROR_INVALID_PARAMETER : ErrorFromIoErrno(e));
    uint32_t actual = 0;
    if (GetLineSpeed(fd_, &actual) == 0) {
      const double off = double(actual) - double(d.BaudRate);
      if (off > d.BaudRate * 0.03 || -off > d.BaudRate * 0.03) return restore(ERROR_INVALID_PARAMETER);
    }
    if (hasModem_) {
      // A real device tells what it refused by changing it back. A
      // pseudo-terminal forces 8 bits without parity: it has no line to frame.
      termios back{};
      const tcflag_t fields = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
      if (tcgetattr(fd_, &back) != 0) return restore(ErrorFromIoErrno(errno));
      if ((back.c_cflag & fields) != (t.c_cflag & fields)) return restore(ERROR_INVALID_PARAMETER);
      SetDtr(d.fDtrControl != DTR_CONTROL_DISABLE);
      SetRts(d.fRtsControl == RTS_CONTROL_ENABLE || d.fRtsControl == RTS_CONTROL_HANDSHAKE);
    }
    return ERROR_SUCCESS;
  }

  DWORD ModemStatus(DWORD* status) override {
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
      if (errno == ENOTTY || errno == EINVAL) {
        *status = 0;
        return ERROR_SUCCESS;
      }
      return ErrorFromIoErrno(errno);
    }
    *status = ModemBits(lines);
    return ERROR_SUCCESS;
  }

  void SetDtr(bool on) override { SetLine(TIOCM_DTR, on); }
  void SetRts(bool on) override { SetLine(TIOCM_RTS, on); }

  long ReadSome(uint8_t* buffer, size_t size, DWORD* error) override {
    const ssize_t n = read(fd_, buffer, size);
    if (n > 0) return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    // End of file on a tty: the far end hung up.
    *error = n == 0 ? ERROR_DEVICE_NOT_CONNECTED : ErrorFromIoErrno(errno);
    return -1;
  }

  long WriteSome(const uint8_t* data, size_t size, DWORD* error) override {
    const ssize_t n = write(fd_, data, size);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EINTR) return 0;
    *error = ErrorFromIoErrno(errno);
    return -1;
  }

  void Flush(bool input, bool output) override {
    if (input) tcflush(fd_, TCIFLUSH);
    if (output) tcflush(fd_, TCOFLUSH);
  }

  // A pseudo-terminal reports its queue as empty while its far end has not
  // read the bytes yet; only a device with a line shows what is still to go.
  bool SeesOutputQueue() const override { return hasModem_; }

  DWORD OutputQueued() override {
    // A pseudo-terminal always says 0, and asking costs as much as a write.
    if (pty_) return 0;
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
    return static_cast<DWORD>(queued);
  }

  bool RequestDrainNotice() override {
    if (!hasModem_) return false;
    drain_.Request();
    return true;
  }

  bool ErrorCounters(DWORD* ceBits) override {
    if (!countsErrors_) return false;
    serial_icounter_struct now {};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return false;
    *ceBits = ErrorDeltas(now);
    return true;
  }

 private:
  DWORD ErrorDeltas(const serial_icounter_struct& now) {
    DWORD ce = 0;
    if (now.frame != icount_.frame) ce |= CE_FRAME;
    if (now.parity != icount_.parity) ce |= CE_RXPARITY;
    if (now.overrun != icount_.overrun || now.buf_overrun != icount_.buf_overrun) ce |= CE_OVERRUN;
    if (now.brk != icount_.brk) ce |= CE_BREAK;
    icount_.frame = now.frame;
    icount_.parity = now.parity;
    icount_.overrun = now.overrun;
    icount_.buf_overrun = now.buf_overrun;
    icount_.brk = now.brk;
    return ce;
  }

  void SetLine(int line, bool on) {
    if (!hasModem_) return;
    ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
  }

  // Modem line changes, where the driver reports them (TIOCMIWAIT).
  void WatchModemLines() {
    serial_icounter_struct last {};
    const bool counts = ioctl(fd_, TIOCGICOUNT, &last) == 0;
    int lines = 0;
    ioctl(fd_, TIOCMGET, &lines);
    while (!modemWatch_.Stopping()) {
      if (ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0) {
        if (errno == EINTR) continue;
        return;  // not supported, or the device is gone (the service thread sees that)
      }
      int now = 0;
      if (ioctl(fd_, TIOCMGET, &now) != 0) return;
      int changed = now ^ lines;
      serial_icounter_struct ic {};
      if (counts && ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
        // Counters catch pulses shorter than our look at the lines.
        if (ic.cts != last.cts) changed |= TIOCM_CTS;
        if (ic.dsr != last.dsr) changed |= TIOCM_DSR;
        if (ic.dcd != last.dcd) changed |= TIOCM_CD;
        if (ic.rng != last.rng) changed |= TIOCM_RNG;
        last = ic;
      }
      lines = now;
      DWORD ev = 0;
      if (changed & TIOCM_CTS) ev |= EV_CTS;
      if (changed & TIOCM_DSR) ev |= EV_DSR;
      if (changed & TIOCM_CD) ev |= EV_RLSD;
      if (changed & TIOCM_RNG) ev |= EV_RING;
      if (ev) port_->OnModemChange(ev);
    }
  }

  // EV_TXEMPTY on a real device: the transmitter has sent the last bit.
  void WaitForDrains() {
    while (drain_.WaitForRequest()) {
      if (tcdrain(fd_) != 0) {
        if (errno == EINTR) {
          if (drain_.Stopping()) return;
          drain_.Request();
          continue;
        }
        // Unplugged while its bytes were going out: they did not all leave.
        port_->OnLost(ErrorFromIoErrno(errno));
        continue;
      }
      port_->OnDrained();
    }
  }

  int fd_;
  dev_t rdev_;
  bool hasModem_ = false;
  bool countsErrors_ = false;
  bool pty_ = false;
  DWORD modem_ = 0;
  serial_icounter_struct icount_{};
  CommPort* port_ = nullptr;
  BlockingHelper modemWatch_;
  BlockingHelper drain_;
};

}  // namespace

DWORD OpenTermiosDevice(const std::string& path, std::unique_ptr<LineBackend>* backend) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ErrorFromOpenErrno(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
    close(fd);
    return ERROR_FILE_NOT_FOUND;  // not a serial device: no such port
  }
  {
    std::lock_guard<std::mutex> lock(OpenDevicesLock());
    if (OpenDevices().count(st.st_rdev)) {
      close(fd);
      return ERROR_ACCESS_DENIED;
    }
    // flock holds against every other opener, root included; TIOCEXCL keeps
    // out unprivileged programs that do not lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      close(fd);
      return ErrorFromOpenErrno(e);
    }
    OpenDevices().insert(st.st_rdev);
  }
  ioctl(fd, TIOCEXCL);
  auto tty = std::make_unique<TermiosBackend>(fd, st.st_rdev);
  if (DWORD e = tty->MakeRaw()) return e;  // the backend's destructor closes and unregisters
  *backend = std::move(tty);
  return ERROR_SUCCESS;
}

}  // namespace winapi
