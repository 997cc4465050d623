// The only file that sees the kernel's termios2: it clashes with <termios.h>.
#include "winapi/termios2_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace winapi {

namespace {

struct StandardRate {
  uint32_t baud;
  tcflag_t code;
};

// Rates with a classic code are set with it, so that tools reading the
// ordinary termios see them too.
constexpr StandardRate kRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}};

}  // namespace

int SetLineSpeed(int fd, uint32_t baud) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  tcflag_t code = BOTHER;
  for (const StandardRate& r : kRates)
    if (r.baud == baud) code = r.code;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= code;  // input speed follows the output speed
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int GetLineSpeed(int fd, uint32_t* baud) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  *baud = t.c_ospeed;
  return 0;
}

}  // namespace winapi
