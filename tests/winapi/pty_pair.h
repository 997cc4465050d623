// A pseudo-terminal whose master side the test drives, mapped to a COM name.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) slave_ = ptsname(master_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() { Close(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  int Master() const { return master_; }
  const std::string& SlavePath() const { return slave_; }

  // Maps `com` ("COM41") to the slave side for CreateFile.
  void MapAs(const std::string& com) const { setenv("VAZUR_PORT_MAP", (com + "=" + slave_).c_str(), 1); }

  bool Write(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      pollfd p{master_, POLLOUT, 0};
      if (poll(&p, 1, 5000) <= 0) return false;
      ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0) done += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads until `count` bytes came or `timeoutMs` passed without any.
  std::string Read(size_t count, int timeoutMs = 5000) const {
    std::string got;
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      char buf[4096];
      ssize_t n = read(master_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

  // Everything the slave has written so far.
  std::string Drain() const {
    std::string got;
    char buf[65536];
    ssize_t n;
    while ((n = read(master_, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    return got;
  }

  void Close() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_;
};
