// Line speeds through termios2, so that any rate (14400, 56000, 128000,
// 256000, custom ones) can be set and read back. POSIX builds only.
#pragma once

#include <cstdint>

namespace winapi {

// Sets input and output speed of the tty `fd`. Returns 0 or errno.
int SetLineSpeed(int fd, uint32_t baud);
// Reads the output speed back (on a pty master: the slave's). Returns 0 or errno.
int GetLineSpeed(int fd, uint32_t* baud);

}  // namespace winapi
