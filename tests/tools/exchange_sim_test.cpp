// The simulator as a program, driven the way the tool and its end-to-end
// tests drive it: through the pseudo-terminal, its output and its report.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>

#include "tools/exchange-sim/dump_image.h"

extern char** environ;

namespace exchange_sim {
namespace {

constexpr int kPatienceMs = 30000;  // upper bound only; everything waits on events

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "exchange-sim-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The simulator as a child process with pipes on its standard input and output.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    args.insert(args.begin(), EXCHANGE_SIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int error = posix_spawn(&pid_, EXCHANGE_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (error != 0) throw std::runtime_error("cannot start " EXCHANGE_SIM_PATH);
  }
  ~Simulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) ::close(input_);
    ::close(output_);
  }

  // Next line of output; empty optional at end of output or after the patience.
  std::optional<std::string> ReadLine() {
    for (;;) {
      if (auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        seen_.push_back(line);
        return line;
      }
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, kPatienceMs) != 1) return std::nullopt;
      char chunk[4096];
      ssize_t n = ::read(output_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, std::size_t(n));
    }
  }
  // Reads output until a line starting with prefix; returns that line.
  std::string WaitFor(const std::string& prefix) {
    while (auto line = ReadLine())
      if (line->rfind(prefix, 0) == 0) return *line;
    ADD_FAILURE() << "no line starting with '" << prefix << "'; output was:\n" << Transcript();
    return {};
  }
  std::string Transcript() const {
    std::string all;
    for (const auto& l : seen_) all += l + "\n";
    return all + buffer_;
  }
  void Command(const std::string& text) { ASSERT_EQ(::write(input_, text.data(), text.size()), ssize_t(text.size())); }
  void Signal(int number) { ::kill(pid_, number); }

  // Reads the rest of the output (the program closes it when it ends), then reaps it.
  int WaitExit() {
    while (ReadLine()) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffer_;
  std::vector<std::string> seen_;
};

// The tool's end of the line, opened raw as a serial port.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~Port() { Close(); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Reads until size bytes have come, or nothing comes for the patience.
  std::string Read(std::size_t size) {
    std::string data;
    while (data.size() < size) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, kPatienceMs) != 1) break;
      char chunk[4096];
      ssize_t n = ::read(fd_, chunk, std::min(sizeof chunk, size - data.size()));
      if (n <= 0) break;
      data.append(chunk, std::size_t(n));
    }
    return data;
  }
  void Write(std::string_view data) {
    while (!data.empty()) {
      ssize_t n = ::write(fd_, data.data(), data.size());
      ASSERT_GT(n, 0);
      data.remove_prefix(std::size_t(n));
    }
  }

 private:
  int fd_;
};

std::string Load(const Lines& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

Lines Generated(std::size_t bytes, bool high) {
  GenerateOptions o;
  o.bytes = bytes;
  o.high_bytes = high;
  return GenerateImage(o);
}

TEST(ExchangeSim, DumpArrivesCompleteAndByteExactAtEveryOpen) {
  Simulator sim({"--print-path", "--unpaced", "--generate", "30000", "--high-bytes", "--quiet", "100",
                 "--no-commands"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  const std::string expected = EncodeDump(Generated(30000, true), LineEnding::Cr, "77");
  ASSERT_EQ(expected.substr(expected.size() - 3), "77\r");
  for (int session = 0; session < 2; ++session) {
    Port port(*path);
    sim.WaitFor("open");
    EXPECT_EQ(port.Read(expected.size()), expected) << "session " << session;
    sim.WaitFor("dump: sent");
    port.Close();
    sim.WaitFor("closed");
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST(ExchangeSim, PacedDumpFromAFileKeepsEveryByte) {
  TempDir dir;
  std::string high;
  for (int c = 0x80; c <= 0xFF; ++c) high += char(c);
  {
    std::ofstream file(dir / "saved.nvr", std::ios::binary);
    file << "first\r\n\r\n" << high << "\r\nlast\r\n77\r\n";  // saved by the tool, end mark included
  }
  Simulator sim({"--print-path", "--dump", dir / "saved.nvr", "--line-speed", "230400", "--line-ending",
                 "crlf", "--quiet", "50", "--once"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Port port(*path);
  const std::string expected = "first\r\n\r\n" + high + "\r\nlast\r\n77\r\n";
  EXPECT_EQ(port.Read(expected.size()), expected);
  sim.WaitFor("dump: sent 4 lines");
  port.Close();
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST(ExchangeSim, DumpOnCommandOnly) {
  Simulator sim({"--print-path", "--trigger", "command", "--unpaced", "--generate", "100", "--end-mark", "END"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  sim.Command("dump\n");
  EXPECT_NE(sim.WaitFor("dump: not sent").find("open"), std::string::npos);
  Port port(*path);
  sim.WaitFor("open");
  sim.Command("status\n");
  EXPECT_NE(sim.WaitFor("status:").find("0 dumps sent"), std::string::npos);
  sim.Command("\n");
  const std::string expected = EncodeDump(Generated(100, false), LineEnding::Cr, "END");
  EXPECT_EQ(port.Read(expected.size()), expected);
  sim.WaitFor("dump: sent");
  sim.Command("quit\n");
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST(ExchangeSim, LoadEqualToTheImageIsReported) {
  TempDir dir;
  Simulator sim({"--print-path", "--trigger", "command", "--unpaced", "--generate", "20000", "--high-bytes",
                 "--exit-after-load", "--report", dir / "report", "--save-load", dir / "load"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Lines image = Generated(20000, true);
  Lines sent = image;
  sent.push_back("77");  // a reception saved by the tool keeps the end mark
  const std::string load = Load(sent);
  {
    Port port(*path);
    // In pieces that cut through line ends, as a slow writer would.
    for (std::size_t at = 0; at < load.size(); at += 1001) port.Write(std::string_view(load).substr(at, 1001));
  }
  std::string line = sim.WaitFor("load: ");
  while (line == "load: receiving") line = sim.WaitFor("load: ");
  EXPECT_EQ(line, "load: " + std::to_string(sent.size()) + " lines received, equal to image (and the end mark)");
  EXPECT_EQ(sim.WaitExit(), 0);
  const std::string report = ReadFile(dir / "report");
  EXPECT_NE(report.find("load_equal=yes\n"), std::string::npos) << report;
  EXPECT_NE(report.find("load_lines=" + std::to_string(sent.size()) + "\n"), std::string::npos) << report;
  EXPECT_NE(report.find("dumps_sent=0\n"), std::string::npos) << report;
  EXPECT_EQ(ReadFile(dir / "load"), load);
}

TEST(ExchangeSim, DifferingLoadNamesTheLine) {
  TempDir dir;
  Simulator sim({"--print-path", "--trigger", "command", "--generate", "4000", "--exit-after-load",
                 "--report", dir / "report"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Lines lines = Generated(4000, false);
  ASSERT_GT(lines.size(), 20u);
  lines[16][10] = lines[16][10] == '0' ? '1' : '0';
  {
    Port port(*path);
    port.Write(Load(lines));
  }
  std::string line = sim.WaitFor("load: " + std::to_string(lines.size()));
  EXPECT_NE(line.find("differs at line 17"), std::string::npos) << line;
  EXPECT_NE(sim.WaitFor("  expected: ").find(Generated(4000, false)[16]), std::string::npos);
  EXPECT_NE(sim.WaitFor("  received: ").find(lines[16]), std::string::npos);
  EXPECT_EQ(sim.WaitExit(), 1);
  const std::string report = ReadFile(dir / "report");
  EXPECT_NE(report.find("load_equal=no\n"), std::string::npos) << report;
  EXPECT_NE(report.find("load_first_difference=17\n"), std::string::npos) << report;
}

TEST(ExchangeSim, LoadThatStopsShortOrUnfinishedDiffers) {
  Simulator sim({"--print-path", "--trigger", "command", "--generate", "1000"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Lines lines = Generated(1000, false);
  {
    Port port(*path);
    port.Write(Load(Lines(lines.begin(), lines.end() - 1)));
  }
  EXPECT_NE(sim.WaitFor("load: " + std::to_string(lines.size() - 1)).find(
                "differs at line " + std::to_string(lines.size()) + " (the load ends before it)"),
            std::string::npos);
  sim.WaitFor("closed");
  {
    Port port(*path);
    port.Write(Load(lines) + "half a li");
  }
  EXPECT_NE(sim.WaitFor("load: " + std::to_string(lines.size())).find("differs"), std::string::npos);
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.WaitExit(), 1);  // the last load differed
}

TEST(ExchangeSim, ReceptionThenLoadOnTheSamePortOpen) {
  // The tool keeps the port open after a reception and sends on it.
  Simulator sim({"--print-path", "--unpaced", "--generate", "2000", "--quiet", "100", "--once"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Lines image = Generated(2000, false);
  const std::string dump = EncodeDump(image, LineEnding::Cr, "77");
  Port port(*path);
  EXPECT_EQ(port.Read(dump.size()), dump);
  sim.WaitFor("dump: sent");
  port.Write(Load(image));
  sim.WaitFor("load: receiving");
  port.Close();
  EXPECT_EQ(sim.WaitFor("load: " + std::to_string(image.size())),
            "load: " + std::to_string(image.size()) + " lines received, equal to image");
  sim.WaitFor("closed");
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST(ExchangeSim, ClosingDuringThePacedDumpInterruptsIt) {
  Simulator sim({"--print-path", "--line-speed", "2400", "--generate", "100000", "--quiet", "0", "--once"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Port port(*path);
  EXPECT_EQ(port.Read(10).size(), 10u);
  port.Close();
  EXPECT_NE(sim.WaitFor("dump: interrupted after").find("the port was closed"), std::string::npos);
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST(ExchangeSim, SigtermEndsCleanlyRemovingTheLinkAndWritingTheReport) {
  TempDir dir;
  const std::string link = dir / "COM1";
  Simulator sim({"--print-path", "--link", link, "--report", dir / "report"});
  auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  char target[256] = {};
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), *path);
  sim.WaitFor("waiting for the tool");
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitExit(), 0);
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";
  const std::string report = ReadFile(dir / "report");
  EXPECT_NE(report.find("port=" + *path + "\n"), std::string::npos) << report;
  EXPECT_NE(report.find("load_equal=none\n"), std::string::npos) << report;
}

TEST(ExchangeSim, WrongUsageAndMissingFilesAreExplained) {
  Simulator usage({"--line-speed", "fast"});
  EXPECT_EQ(usage.WaitExit(), 2);
  Simulator missing({"--dump", "/nonexistent/dump.nvr"});
  EXPECT_EQ(missing.WaitExit(), 3);
  TempDir dir;
  { std::ofstream(dir / "file") << "x"; }
  Simulator clobber({"--link", dir / "file"});
  EXPECT_EQ(clobber.WaitExit(), 3);
  EXPECT_EQ(ReadFile(dir / "file"), "x");
}

}  // namespace
}  // namespace exchange_sim
