// Communications devices over pseudo-terminals: the test holds the master side
// and opens the slave through the port map.
#include "pty_pair.h"
#include "winapi/termios2_speed.h"
#include "winapi/win32.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>

#include <cstring>

namespace {

constexpr const char* kPort = "\\\\.\\COM41";

HANDLE OpenPort(const char* name = kPort) {
  return CreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

class WinapiPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    pty.MapAs("COM41");
    h = OpenPort();
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    for (HANDLE& e : ev) e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    if (h != INVALID_HANDLE_VALUE) { EXPECT_TRUE(CloseHandle(h)); }
    for (HANDLE e : ev) CloseHandle(e);
    unsetenv("VAZUR_PORT_MAP");
  }

  void SetTimeouts(DWORD ri, DWORD rm, DWORD rc, DWORD wm = 0, DWORD wc = 0) {
    COMMTIMEOUTS t{ri, rm, rc, wm, wc};
    ASSERT_TRUE(SetCommTimeouts(h, &t));
  }

  DCB State() {
    DCB d{};
    EXPECT_TRUE(GetCommState(h, &d));
    return d;
  }

  // The queues as a status query reports them.
  COMSTAT Queues() {
    COMSTAT stat{};
    DWORD errors = 0;
    EXPECT_TRUE(ClearCommError(h, &errors, &stat));
    return stat;
  }

  // Starts an overlapped call with ev[i]; true when it went pending.
  OVERLAPPED& Ov(int i) {
    ov[i] = OVERLAPPED{};
    ov[i].hEvent = ev[i];
    return ov[i];
  }

  bool Finished(int i, DWORD ms = 10000) { return WaitForSingleObject(ev[i], ms) == WAIT_OBJECT_0; }

  // Waits for the next events; the mask is set beforehand where the events
  // may happen before the call (events outside the mask are not kept).
  DWORD WaitFor(DWORD evMask) {
    DWORD current = 0;
    EXPECT_TRUE(GetCommMask(h, &current));
    if (current != evMask) { EXPECT_TRUE(SetCommMask(h, evMask)); }
    waitMask = 0;
    if (!WaitCommEvent(h, &waitMask, &Ov(2))) {
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
      EXPECT_TRUE(Finished(2));
      DWORD n;
      EXPECT_TRUE(GetOverlappedResult(h, &ov[2], &n, FALSE));
    }
    return waitMask;
  }

  std::string ReadQueued(DWORD max = 4096) {
    SetTimeouts(MAXDWORD, 0, 0);
    std::string buf(max, '\0');
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(h, buf.data(), max, &n, &Ov(0)));
    buf.resize(n);
    return buf;
  }

  bool WriteAll(const std::string& bytes) {
    DWORD n = 0;
    if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &Ov(1))) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      if (!GetOverlappedResult(h, &ov[1], &n, TRUE)) return false;
    }
    return n == bytes.size();
  }

  PtyPair pty;
  HANDLE h = INVALID_HANDLE_VALUE;
  HANDLE ev[3] = {};
  OVERLAPPED ov[3] = {};
  DWORD waitMask = 0;
};

TEST_F(WinapiPty, BytesBothWaysAllValues) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  ASSERT_TRUE(WriteAll(all + all));
  EXPECT_EQ(pty.Read(512), all + all);

  SetTimeouts(0, 0, 0);  // wait for the whole count
  std::string got(512, '\0');
  DWORD n = 0;
  ASSERT_FALSE(ReadFile(h, got.data(), 512, &n, &Ov(0)));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(pty.Write(all));
  ASSERT_TRUE(pty.Write(all));
  ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, TRUE));
  EXPECT_EQ(n, 512u);
  EXPECT_EQ(got, all + all);  // \377 and NUL come through unmarked
}

TEST_F(WinapiPty, ReadReturnsAtOnceWithWhatIsQueued) {
  EXPECT_EQ(ReadQueued(), "");
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  ASSERT_TRUE(pty.Write("abc"));
  EXPECT_EQ(WaitFor(EV_RXCHAR), DWORD(EV_RXCHAR));
  const COMSTAT stat = Queues();
  EXPECT_EQ(stat.cbInQue, 3u);
  EXPECT_EQ(stat.cbOutQue, 0u);
  EXPECT_EQ(ReadQueued(2), "ab");
  EXPECT_EQ(ReadQueued(), "c");
}

// After a small batch the device is left alone for a few characters' time
// (at 1200 Bd the longest): what comes meanwhile still raises its event and
// is kept whole and in order, and a read that waits for bytes gets them.
TEST_F(WinapiPty, BytesArrivingWhileTheyGatherAreCountedAndReadInOrder) {
  DCB d = State();
  d.BaudRate = 1200;
  ASSERT_TRUE(SetCommState(h, &d));
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  ASSERT_TRUE(pty.Write("a"));
  EXPECT_EQ(WaitFor(EV_RXCHAR), DWORD(EV_RXCHAR));
  ASSERT_TRUE(pty.Write("bc"));
  EXPECT_EQ(WaitFor(EV_RXCHAR), DWORD(EV_RXCHAR));
  const COMSTAT stat = Queues();
  EXPECT_EQ(stat.cbInQue, 3u);
  EXPECT_EQ(ReadQueued(), "abc");

  SetTimeouts(0, 0, 0);  // wait for the whole count
  std::string got(2, '\0');
  DWORD n = 0;
  ASSERT_FALSE(ReadFile(h, got.data(), 2, &n, &Ov(0)));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(pty.Write("de"));
  ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, TRUE));
  EXPECT_EQ(got, "de");
}

TEST_F(WinapiPty, ReadTimeOuts) {
  char buf[16];
  DWORD n = 99;
  // Total time-out with nothing coming: success with no bytes.
  SetTimeouts(0, 0, 30);
  ASSERT_FALSE(ReadFile(h, buf, 16, &n, &Ov(0)));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(GetOverlappedResult(h, &ov[0], &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, TRUE));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(WaitForSingleObject(ev[0], 0), WAIT_OBJECT_0);

  // Interval time-out: ends after a pause following the first bytes.
  SetTimeouts(40, 0, 0);
  ASSERT_FALSE(ReadFile(h, buf, 16, &n, &Ov(0)));
  ASSERT_TRUE(pty.Write("xyz"));
  ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, TRUE));
  EXPECT_EQ(std::string(buf, n), "xyz");

  // MAXDWORD, MAXDWORD, c: waits for the first byte, then returns at once.
  SetTimeouts(MAXDWORD, MAXDWORD, 10000);
  ASSERT_FALSE(ReadFile(h, buf, 16, &n, &Ov(0)));
  ASSERT_TRUE(pty.Write("q"));
  ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, TRUE));
  EXPECT_EQ(std::string(buf, n), "q");
}

TEST_F(WinapiPty, WriteTimeOutCompletesWithWhatWentOut) {
  // Nobody reads the master: the pseudo-terminal's buffers fill up.
  SetTimeouts(MAXDWORD, 0, 0, 0, 200);
  const std::string big(1 << 20, 'w');
  DWORD n = 0;
  if (!WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &n, &Ov(1))) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(h, &ov[1], &n, TRUE));
  }
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, big.size());
  EXPECT_EQ(pty.Drain().size(), n);
}

TEST_F(WinapiPty, XoffHoldsOutputUntilXon) {
  DCB d = State();
  d.fOutX = 1;
  d.XonChar = 17;
  d.XoffChar = 19;
  ASSERT_TRUE(SetCommState(h, &d));
  ASSERT_TRUE(pty.Write("\x13"));
  // The XOFF is taken by the line, not queued; wait until it has arrived.
  SetTimeouts(MAXDWORD, 0, 0, 0, 100);
  DWORD n = 1;
  for (int tries = 0; tries < 100 && n > 0; ++tries) {
    if (!WriteFile(h, "held", 4, &n, &Ov(1))) { ASSERT_TRUE(GetOverlappedResult(h, &ov[1], &n, TRUE)); }
    pty.Drain();
  }
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ReadQueued(), "");
  ASSERT_TRUE(pty.Write("\x11"));
  SetTimeouts(MAXDWORD, 0, 0, 0, 0);
  ASSERT_TRUE(WriteAll("go"));
  EXPECT_EQ(pty.Read(2), "go");
}

TEST_F(WinapiPty, ReceiveEvents) {
  DCB d = State();
  d.EvtChar = '\r';
  d.fNull = 1;
  ASSERT_TRUE(SetCommState(h, &d));
  ASSERT_TRUE(SetupComm(h, 100, 100));
  const DWORD all = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL | EV_TXEMPTY | EV_ERR | EV_BREAK | EV_CTS | EV_DSR |
                    EV_RLSD | EV_RING;
  ASSERT_TRUE(SetCommMask(h, all));
  ASSERT_TRUE(pty.Write(std::string("ab\0c", 4)));
  EXPECT_EQ(WaitFor(all), DWORD(EV_RXCHAR));
  EXPECT_EQ(ReadQueued(), "abc");  // NUL dropped

  ASSERT_TRUE(SetCommMask(h, all));
  ASSERT_TRUE(pty.Write("line\r"));
  // The event character may arrive in the same wait or the next one.
  DWORD seen = WaitFor(all);
  if (!(seen & EV_RXFLAG)) seen |= WaitFor(all);
  EXPECT_EQ(seen & (EV_RXCHAR | EV_RXFLAG), DWORD(EV_RXCHAR | EV_RXFLAG));
  EXPECT_EQ(ReadQueued(), "line\r");

  ASSERT_TRUE(pty.Write(std::string(85, 'f')));
  DWORD full = 0;
  for (int i = 0; i < 90 && !(full & EV_RX80FULL); ++i) full |= WaitFor(all);
  EXPECT_TRUE(full & EV_RX80FULL);
  ReadQueued();

  ASSERT_TRUE(WriteAll("out"));
  DWORD tx = 0;
  for (int i = 0; i < 10 && !(tx & EV_TXEMPTY); ++i) tx |= WaitFor(all);
  EXPECT_TRUE(tx & EV_TXEMPTY);
}

TEST_F(WinapiPty, AFullQueueHoldsBytesBackInsteadOfDropping) {
  // No flow control: the bytes that do not fit wait in the kernel, none is lost.
  ASSERT_TRUE(SetupComm(h, 16, 16));
  ASSERT_TRUE(SetCommMask(h, EV_RX80FULL));
  DWORD m = 0;
  ASSERT_FALSE(WaitCommEvent(h, &m, &Ov(2)));
  std::string sent;
  for (int i = 0; i < 40; ++i) sent.push_back(static_cast<char>('a' + i % 26));
  ASSERT_TRUE(pty.Write(sent));
  ASSERT_TRUE(Finished(2));
  EXPECT_EQ(m, DWORD(EV_RX80FULL));
  const COMSTAT stat = Queues();
  EXPECT_LE(stat.cbInQue, 16u);
  std::string got;
  SetTimeouts(0, 0, 5000);
  while (got.size() < sent.size()) {
    char buf[40];
    DWORD n = 0;
    if (!ReadFile(h, buf, static_cast<DWORD>(sent.size() - got.size()), &n, &Ov(0))) {
      ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, TRUE));
    }
    ASSERT_GT(n, 0u);
    got.append(buf, n);
  }
  EXPECT_EQ(got, sent);
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(h, &errors, nullptr));
  EXPECT_EQ(errors, 0u);
}

TEST_F(WinapiPty, InputFlowControlHoldsBytesInsteadOfDropping) {
  ASSERT_TRUE(SetupComm(h, 16, 16));
  DCB d = State();
  d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  d.XonLim = d.XoffLim = 4;
  ASSERT_TRUE(SetCommState(h, &d));
  std::string sent;
  for (int i = 0; i < 40; ++i) sent.push_back(static_cast<char>('A' + i % 26));
  ASSERT_TRUE(pty.Write(sent));
  std::string got;
  SetTimeouts(0, 0, 5000);
  while (got.size() < sent.size()) {
    char buf[40];
    DWORD n = 0;
    if (!ReadFile(h, buf, static_cast<DWORD>(sent.size() - got.size()), &n, &Ov(0))) {
      ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, TRUE));
    }
    ASSERT_GT(n, 0u);
    got.append(buf, n);
  }
  EXPECT_EQ(got, sent);
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(h, &errors, nullptr));
  EXPECT_EQ(errors, 0u);
}

TEST_F(WinapiPty, SetCommMaskReleasesAPendingWait) {
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  DWORD m = 0xFFFF;
  ASSERT_FALSE(WaitCommEvent(h, &m, &Ov(2)));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR | EV_TXEMPTY));
  ASSERT_TRUE(Finished(2));
  DWORD n;
  EXPECT_TRUE(GetOverlappedResult(h, &ov[2], &n, FALSE));
  EXPECT_EQ(m, 0u);
}

TEST_F(WinapiPty, PurgeAbortsAndClears) {
  SetTimeouts(0, 0, 0);
  char buf[8];
  DWORD n;
  ASSERT_FALSE(ReadFile(h, buf, 8, &n, &Ov(0)));
  const std::string big(1 << 20, 'p');
  ASSERT_FALSE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &n, &Ov(1)));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT));
  EXPECT_FALSE(GetOverlappedResult(h, &ov[0], &n, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(GetOverlappedResult(h, &ov[1], &n, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_LT(n, big.size());

  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  ASSERT_TRUE(pty.Write("stale"));
  EXPECT_EQ(WaitFor(EV_RXCHAR), DWORD(EV_RXCHAR));
  ASSERT_TRUE(PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR));
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(h, nullptr, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
  EXPECT_FALSE(PurgeComm(h, 0x10));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(WinapiPty, HangUpEndsPendingReadWriteAndWait) {
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  ASSERT_TRUE(pty.Write("last"));
  EXPECT_EQ(WaitFor(EV_RXCHAR), DWORD(EV_RXCHAR));
  SetTimeouts(MAXDWORD, 0, 0);
  ASSERT_TRUE(SetupComm(h, 8192, 8192));
  SetTimeouts(0, 0, 0);
  // A read that wants more than is queued, a write that cannot finish, a wait.
  std::string buf(100, '\0');
  DWORD n;
  ASSERT_FALSE(ReadFile(h, buf.data(), 100, &n, &Ov(0)));
  const std::string big(1 << 20, 'h');
  ASSERT_FALSE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &n, &Ov(1)));
  ASSERT_TRUE(SetCommMask(h, EV_RXFLAG));
  DWORD m;
  ASSERT_FALSE(WaitCommEvent(h, &m, &Ov(2)));

  pty.Close();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Finished(i)) << i;
  // The read gets what came before the hang-up.
  ASSERT_TRUE(GetOverlappedResult(h, &ov[0], &n, FALSE));
  EXPECT_EQ(buf.substr(0, n), "last");
  EXPECT_FALSE(GetOverlappedResult(h, &ov[1], &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(GetOverlappedResult(h, &ov[2], &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);

  EXPECT_FALSE(ReadFile(h, buf.data(), 10, &n, &Ov(0)));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, &Ov(1)));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  DWORD ms;
  EXPECT_FALSE(GetCommModemStatus(h, &ms));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  // A waiting loop that retries blocks instead of spinning: the event stays reset.
  EXPECT_FALSE(WaitCommEvent(h, &m, &Ov(2)));
  EXPECT_EQ(WaitForSingleObject(ev[2], 0), WAIT_TIMEOUT);
  EXPECT_TRUE(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT));
}

TEST_F(WinapiPty, OpenIsExclusive) {
  HANDLE second = OpenPort();
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // Under another name for the same device, too.
  setenv("VAZUR_PORT_MAP", ("COM41=" + pty.SlavePath() + ",COM42=" + pty.SlavePath()).c_str(), 1);
  EXPECT_EQ(OpenPort("\\\\.\\COM42"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // Other programs (root included) meet the lock.
  int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
  }
  ASSERT_TRUE(CloseHandle(h));
  h = OpenPort();
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
}

TEST_F(WinapiPty, MissingDeviceAndNoPermission) {
  setenv("VAZUR_PORT_MAP", "COM43=/dev/vazur-no-such-device", 1);
  EXPECT_EQ(OpenPort("\\\\.\\COM43"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenPort("\\\\.\\COM250"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenPort("\\\\.\\LPT1"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  PtyPair other;
  ASSERT_TRUE(other.Ok());
  other.MapAs("COM44");
  if (geteuid() != 0) {
    chmod(other.SlavePath().c_str(), 0);
    EXPECT_EQ(OpenPort("\\\\.\\COM44"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    return;
  }
  // Root opens anything: try as nobody in a child process.
  chmod(other.SlavePath().c_str(), 0600);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    HANDLE x = OpenPort("\\\\.\\COM44");
    _exit(x == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 101);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), int(ERROR_ACCESS_DENIED));
}

TEST_F(WinapiPty, ModemStatusOfADeviceWithoutLinesIsAllOff) {
  DWORD ms = 0xFF;
  ASSERT_TRUE(GetCommModemStatus(h, &ms));
  EXPECT_EQ(ms, 0u);
  DCB d = State();
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
  d.fOutxDsrFlow = 1;
  d.fDsrSensitivity = 1;
  EXPECT_TRUE(SetCommState(h, &d));  // nothing to drive: accepted
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  ASSERT_TRUE(pty.Write("ok"));
  EXPECT_EQ(WaitFor(EV_RXCHAR), DWORD(EV_RXCHAR));
  EXPECT_EQ(ReadQueued(), "ok");
}

TEST_F(WinapiPty, TermiosAfterSetCommState) {
  DCB d = State();
  EXPECT_EQ(d.DCBlength, sizeof(DCB));
  for (DWORD baud : {1200u, 14400u, 56000u, 128000u, 256000u, 31250u, 115200u}) {
    d.BaudRate = baud;
    ASSERT_TRUE(SetCommState(h, &d)) << baud;
    uint32_t actual = 0;
    ASSERT_EQ(winapi::GetLineSpeed(pty.Master(), &actual), 0);
    EXPECT_EQ(actual, baud);
  }
  d.BaudRate = 1200;
  d.ByteSize = 7;
  d.Parity = MARKPARITY;
  d.StopBits = TWOSTOPBITS;
  d.fParity = 1;
  d.fOutxCtsFlow = 1;
  d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  d.fOutX = 1;
  d.fInX = 1;
  d.XonChar = 'Q';
  d.XoffChar = 'S';
  ASSERT_TRUE(SetCommState(h, &d));
  termios t{};
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);  // the slave's settings
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CMSPAR);
  EXPECT_TRUE(t.c_cflag & PARODD);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_TRUE(t.c_iflag & PARMRK);
  EXPECT_FALSE(t.c_iflag & (ICRNL | ISTRIP | IGNBRK | BRKINT));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_EQ(t.c_cc[VSTART], 'Q');
  EXPECT_EQ(t.c_cc[VSTOP], 'S');
  // A pseudo-terminal has no line to frame: what it cannot do is accepted.
  DCB back = State();
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, MARKPARITY);
  EXPECT_EQ(back.XonChar, 'Q');

  d.fInX = d.fOutX = 0;
  d.fOutxCtsFlow = 0;
  d.fRtsControl = RTS_CONTROL_DISABLE;
  d.ByteSize = 8;
  d.Parity = NOPARITY;
  d.StopBits = ONESTOPBIT;
  d.fParity = 0;
  ASSERT_TRUE(SetCommState(h, &d));
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS | CMSPAR | PARODD));
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK));
}

TEST_F(WinapiPty, InvalidStatesAreRefused) {
  const DCB good = State();
  auto refused = [&](auto change) {
    DCB d = good;
    change(d);
    SetLastError(0);
    return !SetCommState(h, &d) && GetLastError() == ERROR_INVALID_PARAMETER;
  };
  EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 9; }));
  EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 4; }));
  EXPECT_TRUE(refused([](DCB& d) { d.Parity = 5; }));
  EXPECT_TRUE(refused([](DCB& d) { d.StopBits = 3; }));
  EXPECT_TRUE(refused([](DCB& d) { d.StopBits = ONE5STOPBITS; }));  // only with 5 data bits
  EXPECT_TRUE(refused([](DCB& d) { d.BaudRate = 0; }));
  EXPECT_TRUE(refused([](DCB& d) {
    d.fOutX = 1;
    d.XonChar = d.XoffChar = 17;
  }));
  DCB five = good;
  five.ByteSize = 5;
  five.StopBits = ONE5STOPBITS;
  EXPECT_TRUE(SetCommState(h, &five));
  COMMTIMEOUTS bad{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  EXPECT_FALSE(SetCommTimeouts(h, &bad));
  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(h, &t));
  EXPECT_NE(t.ReadTotalTimeoutConstant, MAXDWORD);
}

}  // namespace
