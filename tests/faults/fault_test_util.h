// Pieces of the fault tests: a far end of the line that lives in another
// process (so that a hang-up is a process going away), and a way for root
// to meet file permissions as any user does.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

// The master side of a pseudo-terminal, held by a child process that obeys
// one-byte commands: 's' writes the payload it was given, 'r' reads until
// at least one byte came and answers 'r', 'x' exits (the line hangs up).
// The child does nothing but read, write and exit.
class ProcessFarEnd {
 public:
  explicit ProcessFarEnd(std::string payload = {}) : payload_(std::move(payload)) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    slave_ = ptsname(master);
    int command[2], answer[2];
    if (pipe2(command, O_CLOEXEC) != 0 || pipe2(answer, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(command[1]);
      close(answer[0]);
      Serve(master, command[0], answer[1]);
    }
    close(master);
    close(command[0]);
    close(answer[1]);
    command_ = command[1];
    answer_ = answer[0];
  }
  ~ProcessFarEnd() {
    HangUp();
    if (command_ >= 0) close(command_);
    if (answer_ >= 0) close(answer_);
  }
  ProcessFarEnd(const ProcessFarEnd&) = delete;
  ProcessFarEnd& operator=(const ProcessFarEnd&) = delete;

  bool Ok() const { return pid_ > 0 && !slave_.empty(); }
  int Status() const { return status_; }
  const std::string& SlavePath() const { return slave_; }
  void MapAs(const std::string& com) const { setenv("VAZUR_PORT_MAP", (com + "=" + slave_).c_str(), 1); }

  void SendPayload() { Command('s'); }
  // Waits until the far end has read something from the line.
  bool ReadSome() {
    Command('r');
    pollfd p{answer_, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) return false;
    char c = 0;
    return read(answer_, &c, 1) == 1 && c == 'r';
  }
  // The process ends: its side of the line closes, as a pulled cable.
  void HangUp() {
    if (pid_ <= 0) return;
    Command('x');
    waitpid(pid_, &status_, 0);
    pid_ = -1;
  }

 private:
  void Command(char c) {
    if (command_ >= 0) (void)!write(command_, &c, 1);
  }

  [[noreturn]] void Serve(int master, int command, int answer) {
    char c;
    while (read(command, &c, 1) == 1) {
      if (c == 's') {
        size_t done = 0;
        while (done < payload_.size()) {
          const ssize_t n = write(master, payload_.data() + done, payload_.size() - done);
          if (n <= 0) _exit(2);
          done += static_cast<size_t>(n);
        }
      } else if (c == 'r') {
        char buffer[256];
        if (read(master, buffer, sizeof buffer) <= 0) _exit(3);
        (void)!write(answer, "r", 1);
      } else {
        break;
      }
    }
    _exit(0);
  }

  std::string payload_;
  std::string slave_;
  pid_t pid_ = -1;
  int command_ = -1;
  int answer_ = -1;
  int status_ = 0;
};

// While it lives, this thread (the one that opens files) cannot override
// file permissions even as root: the two capabilities that let root do so
// leave the effective set and come back at the end. For anyone else it does
// nothing. Active() tells whether permissions now hold for this thread.
class FilePermissionsHold {
 public:
  FilePermissionsHold() {
    if (geteuid() != 0) {
      active_ = true;
      return;
    }
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2];
    std::memcpy(lowered, saved_, sizeof lowered);
    lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    if (syscall(SYS_capset, &header_, lowered) != 0) return;
    restore_ = true;
    active_ = true;
  }
  ~FilePermissionsHold() {
    if (restore_) syscall(SYS_capset, &header_, saved_);
  }
  FilePermissionsHold(const FilePermissionsHold&) = delete;
  FilePermissionsHold& operator=(const FilePermissionsHold&) = delete;

  bool Active() const { return active_; }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool restore_ = false;
  bool active_ = false;
};

// Whether `path` (made unreadable and unwritable) really refuses this thread.
inline bool RefusesAccess(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    close(fd);
    return false;
  }
  return errno == EACCES || errno == EPERM;
}
