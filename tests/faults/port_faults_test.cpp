// The port meeting faults of the world outside the program: the far end's
// process going away in the middle of a read, a write and an event wait; the
// device held by another process; a device node without permission. Each
// call ends (none hangs), says what went wrong through EComPort, and hands
// over every byte that arrived before the fault.
#include "rtl/thread.h"
#include "serial/serial.h"
#include "tests/faults/fault_test_util.h"
#include "tests/serial/serial_test_util.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>

#include <future>
#include <thread>

extern char** environ;

namespace {

constexpr int32_t kDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
constexpr int32_t kAccessDenied = 5;           // ERROR_ACCESS_DENIED

// A port on COM7 without an event thread, whose transfers wait for ever
// unless the line ends them.
void Prepare(TComPort& port, bool events) {
  port.SetPort("COM7");
  port.SetBaudRate(br115200);
  if (!events) port.SetEvents({});
  port.Buffer().SetInputSize(1 << 20);  // as the program's: room for a burst
  TComTimeouts timeouts;
  timeouts.SetReadInterval(0);
  timeouts.SetReadTotalMultiplier(0);
  timeouts.SetReadTotalConstant(0);
  timeouts.SetWriteTotalMultiplier(0);
  timeouts.SetWriteTotalConstant(0);
  port.SetTimeouts(timeouts);
}

// A pseudo-terminal's kernel drops whatever the near end has not read yet
// when the far end closes, so each test lets the bytes arrive first: what
// the port has taken in must never be lost.
TEST(PortFaults, FarEndGoneMidReadHandsOverWhatCameThenSaysTheDeviceIsGone) {
  ProcessFarEnd far("last words");
  ASSERT_TRUE(far.Ok());
  far.MapAs("COM7");
  TComPort port;
  Prepare(port, false);
  port.Open();
  far.SendPayload();
  std::string first;
  ASSERT_EQ(port.ReadText(first, 4), 4);  // the bytes are in the port's hands now
  ASSERT_EQ(first, "last");

  // The read wants more than will ever come; only the hang-up can end it.
  auto read = std::async(std::launch::async, [&] {
    std::string got;
    port.ReadText(got, 100);
    return got;
  });
  far.HangUp();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the read never ended";
  EXPECT_EQ(read.get(), " words");

  std::string more;
  try {
    port.ReadText(more, 10);
    ADD_FAILURE() << "a read from a hung-up line succeeded";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.WinErrorCode(), kDeviceNotConnected);
    EXPECT_NE(std::string(e.what()).find("1167"), std::string::npos) << e.what();
  }
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST(PortFaults, FarEndGoneMidWriteEndsTheWriteWithAnError) {
  ProcessFarEnd far;
  ASSERT_TRUE(far.Ok());
  far.MapAs("COM7");
  TComPort port;
  Prepare(port, false);
  port.Open();

  // Far more than the line holds: the write is still going when the far
  // end, having read a little, goes away.
  const std::string big(8 << 20, 'w');
  auto write = std::async(std::launch::async, [&]() -> std::string {
    try {
      const int32_t n = port.WriteText(big);
      return "returned " + std::to_string(n);
    } catch (const EComPort& e) {
      return std::string("error ") + std::to_string(e.WinErrorCode()) + ": " + e.what();
    }
  });
  ASSERT_TRUE(far.ReadSome());
  far.HangUp();
  ASSERT_EQ(write.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the write never ended";
  const std::string outcome = write.get();
  // Never a silent success: the caller learns that the data did not go out.
  EXPECT_EQ(outcome.rfind("error 1167: ", 0), 0u) << outcome;
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST(PortFaults, FarEndGoneMidEventWaitEndsTheWaitAndThePortStillCloses) {
  std::string payload;
  for (int i = 0; i < 4000; ++i) payload += "line " + std::to_string(i) + "\r";
  ProcessFarEnd far(payload);
  ASSERT_TRUE(far.Ok());
  far.MapAs("COM7");
  MainLoop loop;
  ReportCapture reports(&loop);
  TComPort port;
  Prepare(port, true);
  std::string received;
  bool overrun = false;
  port.OnError = [&](TObject*, TComErrors errors) { overrun |= errors.Contains(erRxOver); };
  port.OnRxChar = [&](TObject*, int32_t count) {
    std::string chunk;
    port.ReadText(chunk, count);
    received += chunk;
    loop.Notify();
  };
  port.Open();
  far.SendPayload();
  ASSERT_TRUE(loop.Pump([&] { return received.size() >= payload.size(); })) << received.size() << " " << (reports.Messages().empty() ? "" : reports.Messages()[0]);
  EXPECT_TRUE(received == payload) << received.size() << " bytes received";
  EXPECT_FALSE(overrun);
  // The event thread is waiting again when the line goes.
  far.HangUp();
  // Closing stops the thread (which must not be spinning or stuck) and
  // frees the device; a failure on the way says what it was.
  try {
    port.Close();
  } catch (const EComPort& e) {
    EXPECT_FALSE(std::string(e.what()).empty());
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.ThreadCreated());
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
  for (const std::string& m : reports.Messages()) EXPECT_FALSE(m.empty());
}

// This test program started again to hold a port, as a second copy of the
// tool would: prints "held" once the port is open, closes it at end of input.
int HoldPort(const std::string& com) {
  try {
    TComPort port;
    port.SetPort(com);
    port.SetEvents({});
    port.Open();
    std::printf("held\n");
    std::fflush(stdout);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    port.Close();
    return 0;
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    return 1;
  }
}

class Holder {
 public:
  explicit Holder(const std::string& com) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string self = "/proc/self/exe", flag = "--hold-port", name = com;
    char* argv[] = {self.data(), flag.data(), name.data(), nullptr};
    if (posix_spawn(&pid_, "/proc/self/exe", &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~Holder() {
    Kill();
    if (output_ >= 0) close(output_);
  }
  // The child's first line ("held" or "failed: ...").
  std::string FirstLine() {
    std::string line;
    char c;
    pollfd p{output_, POLLIN, 0};
    while (poll(&p, 1, 60000) > 0 && read(output_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Ends it as a user would: the program closes the port and exits.
  void Finish() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Ends it as a crash would.
  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    if (input_ >= 0) close(input_);
    input_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

void ExpectRefused(TComPort& port, int32_t winCode) {
  try {
    port.Open();
    ADD_FAILURE() << "the port opened";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.WinErrorCode(), winCode) << e.what();
    EXPECT_NE(std::string(e.what()).find(std::to_string(winCode)), std::string::npos) << e.what();
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
}

TEST(PortFaults, APortHeldByAnotherProcessIsRefusedUntilThatProcessLetsGo) {
  ProcessFarEnd far;
  ASSERT_TRUE(far.Ok());
  far.MapAs("COM7");
  TComPort port;
  Prepare(port, true);

  Holder other("COM7");
  ASSERT_EQ(other.FirstLine(), "held");
  ExpectRefused(port, kAccessDenied);
  other.Finish();
  port.Open();
  EXPECT_TRUE(port.Connected());
  port.Close();

  // A holder that crashes lets go as well.
  Holder crashing("COM7");
  ASSERT_EQ(crashing.FirstLine(), "held");
  ExpectRefused(port, kAccessDenied);
  crashing.Kill();
  port.Open();
  EXPECT_TRUE(port.Connected());
  port.Close();
}

TEST(PortFaults, ADeviceWithoutPermissionIsRefusedWithAccessDenied) {
  ProcessFarEnd far;
  ASSERT_TRUE(far.Ok());
  far.MapAs("COM7");
  ASSERT_EQ(chmod(far.SlavePath().c_str(), 0), 0);
  FilePermissionsHold hold;
  if (!hold.Active() || !RefusesAccess(far.SlavePath(), O_RDWR))
    GTEST_SKIP() << "running as root with file permissions overridden; no way to meet a permission error here";
  TComPort port;
  Prepare(port, true);
  ExpectRefused(port, kAccessDenied);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--hold-port") return HoldPort(argv[2]);
  SetMainThread();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
