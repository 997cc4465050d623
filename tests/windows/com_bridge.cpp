// Two pseudo-terminals joined back to back, for the port tests under Wine:
// what one side's slave writes, the other side's slave reads. Each slave is
// linked under the name given (a Wine prefix's dosdevices/comN), so a test
// opens one COM name as the port and the other as the far end of the line.
//
//   com_bridge LINK_A LINK_B     prints "ready" once both links exist,
//                                then relays until stdin closes.
//
// Both slaves stay open here too: a test closing its port neither hangs up
// the line nor loses bytes already sent to it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// Bytes held for a side that does not read; beyond this the other side waits.
constexpr size_t kMostPending = 1 << 16;

struct Side {
  int master = -1;
  int slave = -1;
  std::string pending;  // read from the other side, not yet written here
};

bool OpenSide(Side& side, const char* link) {
  side.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (side.master < 0 || grantpt(side.master) != 0 || unlockpt(side.master) != 0) return false;
  const char* name = ptsname(side.master);
  if (name == nullptr) return false;
  side.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (side.slave < 0) return false;
  termios raw{};
  if (tcgetattr(side.slave, &raw) != 0) return false;
  cfmakeraw(&raw);
  if (tcsetattr(side.slave, TCSANOW, &raw) != 0) return false;
  unlink(link);
  return symlink(name, link) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s LINK_A LINK_B\n", argv[0]);
    return 2;
  }
  Side sides[2];
  for (int i = 0; i < 2; ++i) {
    if (!OpenSide(sides[i], argv[1 + i])) {
      std::fprintf(stderr, "com_bridge: %s: %s\n", argv[1 + i], std::strerror(errno));
      return 1;
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);

  for (;;) {
    pollfd fds[3];
    for (int i = 0; i < 2; ++i) {
      fds[i].fd = sides[i].master;
      const bool room = sides[1 - i].pending.size() < kMostPending;
      fds[i].events = static_cast<short>((room ? POLLIN : 0) | (sides[i].pending.empty() ? 0 : POLLOUT));
    }
    fds[2] = {STDIN_FILENO, POLLIN, 0};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (fds[2].revents != 0) break;  // the harness is done (or gone)
    for (int i = 0; i < 2; ++i) {
      Side& self = sides[i];
      Side& other = sides[1 - i];
      if (fds[i].revents & POLLIN) {
        char buffer[4096];
        const ssize_t n = read(self.master, buffer, sizeof buffer);
        if (n > 0) other.pending.append(buffer, static_cast<size_t>(n));
      }
      if (!self.pending.empty()) {
        const ssize_t n = write(self.master, self.pending.data(), self.pending.size());
        if (n > 0) self.pending.erase(0, static_cast<size_t>(n));
      }
    }
  }
  unlink(argv[1]);
  unlink(argv[2]);
  return 0;
}
