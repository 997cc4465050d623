// CPU used by an open, idle port: a pseudo-terminal opened through the port
// map, with a WaitCommEvent pending on every event for a few seconds.
//   bench_idle_port [seconds]
#include "winapi/win32.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 5;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  setenv("VAZUR_PORT_MAP", (std::string("COM9=") + ptsname(master)).c_str(), 1);
  HANDLE h = CreateFile("\\\\.\\COM9", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                        nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "CreateFile failed: %u\n", GetLastError());
    return 1;
  }
  SetupComm(h, 1024, 1024);
  const DWORD all = EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING |
                    EV_RX80FULL;
  SetCommMask(h, all);
  OVERLAPPED ov{};
  ov.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  DWORD mask = 0;
  WaitCommEvent(h, &mask, &ov);

  const double cpuBefore = CpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  const DWORD result = WaitForSingleObject(ov.hEvent, static_cast<DWORD>(seconds) * 1000);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  const double cpu = CpuSeconds() - cpuBefore;

  std::printf("idle open port: %.1f s waiting (%s), %.6f CPU seconds used (%.4f %% of one core)\n", wall,
              result == WAIT_TIMEOUT ? "no event" : "an event came", cpu, 100.0 * cpu / wall);
  SetCommMask(h, 0);
  CloseHandle(ov.hEvent);
  CloseHandle(h);
  close(master);
  return 0;
}
