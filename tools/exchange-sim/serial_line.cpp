#include "tools/exchange-sim/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace exchange_sim {
namespace {

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

PseudoTerminal::PseudoTerminal() {
  master_ = Fd(::posix_openpt(O_RDWR | O_NOCTTY));
  if (!master_) throw SystemError("cannot create a pseudo-terminal");
  if (::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0)
    throw SystemError("cannot unlock the pseudo-terminal");
  int flags = ::fcntl(master_.get(), F_GETFL);
  ::fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK);
  ::fcntl(master_.get(), F_SETFD, FD_CLOEXEC);
  const char* name = ::ptsname(master_.get());
  if (!name) throw SystemError("cannot name the pseudo-terminal");
  slave_path_ = name;

  // Raw like a serial line, from the start: a tool that opens the port and
  // reads without setting raw mode itself still gets the bytes untouched.
  // Settings made on the master are the slave's.
  termios t{};
  if (::tcgetattr(master_.get(), &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(master_.get(), TCSANOW, &t);
  }

#ifdef __linux__
  watch_ = Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!watch_) throw SystemError("cannot watch the pseudo-terminal (inotify)");
  if (::inotify_add_watch(watch_.get(), slave_path_.c_str(), IN_OPEN | IN_CLOSE) < 0)
    throw SystemError("cannot watch " + slave_path_);
#else
  throw std::runtime_error("seeing the tool open a pseudo-terminal needs Linux; use --device");
#endif
}

std::vector<PseudoTerminal::Event> PseudoTerminal::ReadEvents() {
  std::vector<Event> events;
#ifdef __linux__
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t n = ::read(watch_.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    for (char* p = buffer; p < buffer + n;) {
      auto* event = reinterpret_cast<inotify_event*>(p);
      if (event->mask & IN_OPEN) events.push_back(Event::Opened);
      if (event->mask & IN_CLOSE) events.push_back(Event::Closed);
      if (event->mask & IN_Q_OVERFLOW) events.push_back(HungUp() ? Event::Closed : Event::Opened);
      p += sizeof(inotify_event) + event->len;
    }
  }
#endif
  return events;
}

bool PseudoTerminal::HungUp() const {
  pollfd p{master_.get(), 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

bool PseudoTerminal::SlaveEchoes() const {
  termios t{};
  return ::tcgetattr(master_.get(), &t) == 0 && (t.c_lflag & ECHO);
}

Fd OpenDevice(const std::string& path, const DeviceSettings& settings) {
  Fd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) throw SystemError("cannot open " + path);
  termios t{};
  if (::tcgetattr(fd.get(), &t) != 0) throw SystemError(path + " is not a serial device");
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
  switch (settings.data_bits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  if (settings.stop_bits == 2) t.c_cflag |= CSTOPB;
  if (settings.parity != 'N') t.c_cflag |= PARENB;
  if (settings.parity == 'O') t.c_cflag |= PARODD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd.get(), TCSANOW, &t) != 0) throw SystemError("cannot set up " + path);
  unsigned speed = SetDeviceSpeed(fd.get(), settings.baud);
  if (speed == 0) throw SystemError("cannot set " + path + " to " + std::to_string(settings.baud) + " Bd");
  // A device may round the speed; more than 3 % off garbles every byte.
  if (speed * 100 < settings.baud * 97 || speed * 100 > settings.baud * 103)
    throw std::runtime_error(path + " runs at " + std::to_string(speed) + " Bd, not " +
                             std::to_string(settings.baud));
  ::tcflush(fd.get(), TCIOFLUSH);
  return fd;
}

}  // namespace exchange_sim
