// Preloaded into Wine by ./test --windows: gives the pseudo-terminals behind
// COM5 and COM6 what a serial line with only its data wires has, modem lines
// that are all off and no line errors. Linux refuses these requests on a
// pseudo-terminal; Wine's serial driver would then fail GetCommModemStatus,
// and every wait for line events that includes a modem line. The POSIX
// layer of this program reads a pseudo-terminal the same way.
#include <asm/ioctls.h>
#include <dlfcn.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

// Unix98 pseudo-terminal slaves.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

bool FarEndGone(int fd) {
  pollfd p{fd, 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
}

using IoctlFunction = int (*)(int, unsigned long, void*);

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);

  if (argument != nullptr && IsPseudoTerminal(fd)) {
    // Once the far end has gone the line is an unplugged adapter: Linux
    // refuses every request on a hung-up terminal with EIO.
    if (FarEndGone(fd)) {
      errno = EIO;
      return -1;
    }
    switch (request) {
      case TIOCMGET:  // modem lines: all off
        *static_cast<int*>(argument) = 0;
        return 0;
      case TIOCGICOUNT:  // nothing counted on lines that do not exist
        std::memset(argument, 0, sizeof(serial_icounter_struct));
        return 0;
      case TIOCSERGETLSR:  // what was written has gone
        *static_cast<unsigned*>(argument) = TIOCSER_TEMT;
        return 0;
      default:
        break;
    }
  }
  static const auto next = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  if (next == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return next(fd, request, argument);
}
