// Any speed on Linux, 14400 and 56000 included, through termios2. This file
// stays apart: <asm/termbits.h> and <termios.h> cannot share a unit.
#include <cerrno>

#ifdef __linux__
#include <asm/ioctls.h>
#include <asm/termbits.h>
extern "C" int ioctl(int fd, unsigned long request, ...);
#else
#include <termios.h>
#endif

namespace exchange_sim {

unsigned SetDeviceSpeed(int fd, unsigned baud) {
#ifdef __linux__
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  t.c_cflag &= ~CBAUD;
  t.c_cflag |= BOTHER;
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  t.c_cflag &= ~(CBAUD << IBSHIFT);
  t.c_cflag |= BOTHER << IBSHIFT;
  if (ioctl(fd, TCSETS2, &t) != 0) return 0;
  if (ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
#else
  termios t{};
  if (tcgetattr(fd, &t) != 0 || cfsetspeed(&t, baud) != 0 || tcsetattr(fd, TCSANOW, &t) != 0) return 0;
  return static_cast<unsigned>(cfgetospeed(&t));
#endif
}

}  // namespace exchange_sim
