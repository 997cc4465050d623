// The simulator's end of the line: a pseudo-terminal master, or a real device.
#pragma once

#include <string>
#include <vector>

namespace exchange_sim {

// Owns a file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Pseudo-terminal whose slave the tool opens. The master never opens the
// slave itself: then the master's hang-up tells when the tool has closed it.
// Opens of the slave are seen through inotify on the slave's device node
// (a master shows no hang-up before the first open, so poll alone cannot
// tell a first open from nothing).
class PseudoTerminal {
 public:
  enum class Event { Opened, Closed };

  // Throws std::runtime_error.
  PseudoTerminal();
  int master() const { return master_.get(); }
  int watch() const { return watch_.get(); }
  const std::string& slave_path() const { return slave_path_; }

  // Open and close events in the order they happened; call when watch() is readable.
  std::vector<Event> ReadEvents();
  // True while no one has the slave open (after it has been open once).
  bool HungUp() const;
  // The slave echoes what it receives: a dump would come straight back.
  bool SlaveEchoes() const;

 private:
  Fd master_;
  Fd watch_;
  std::string slave_path_;
};

struct DeviceSettings {
  unsigned baud = 1200;
  int data_bits = 8;
  int stop_bits = 1;
  char parity = 'N';
};

// Opens a serial device raw, non-blocking, with the given settings.
// Throws std::runtime_error with a message naming the device.
Fd OpenDevice(const std::string& path, const DeviceSettings& settings);

// Sets any speed; returns the speed the device took, 0 on failure (errno set).
unsigned SetDeviceSpeed(int fd, unsigned baud);

}  // namespace exchange_sim
