// Shared pieces of the benchmarks: the test dump, the simulated exchange as
// a child process read with blocking calls, process CPU time and memory.
// Every program prints its figures as "key=value" lines; bench/run_all.sh
// puts them into one table.
#pragma once

#include "tools/exchange-sim/dump_image.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// The benchmark dump: about 10 MiB on the line of exchange RAM as the
// simulated exchange lists it ("AAAA: DD .. DD", 53 characters, some lines
// with Czech labels in Windows-1250, "77" inside lines and at their start).
inline constexpr size_t kDumpBytes = 10u * 1024u * 1024u;

inline std::vector<std::string> DumpLines(size_t bytes, uint64_t seed = 1) {
  exchange_sim::GenerateOptions options;
  options.bytes = bytes;
  options.seed = seed;
  options.high_bytes = true;
  return exchange_sim::GenerateImage(options);
}

// What the exchange puts on the line for `lines`: each with CR, then "77" CR.
inline std::string WireOf(const std::vector<std::string>& lines) {
  return exchange_sim::EncodeDump(lines, exchange_sim::LineEnding::Cr, "77");
}

// A dump file as the tool keeps it: each line, then CR LF.
inline void WriteDumpFile(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) out << line << "\r\n";
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// CPU seconds this process has used, all threads.
inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Times this process's threads went to sleep waiting (voluntary context
// switches): each is a wake-up later.
inline long Sleeps() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_nvcsw;
}

// From /proc/self/status: "VmRSS" or "VmHWM" (peak) in KiB.
inline long StatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string word;
  while (in >> word) {
    if (word == std::string(key) + ":") {
      long kib = 0;
      in >> kib;
      return kib;
    }
  }
  return -1;
}

// Clears the peak so that a later VmHWM tells the peak of one phase. Memory
// freed earlier goes back to the system first: reused, it would hide what
// the phase takes.
inline void ResetPeakMemory() {
  malloc_trim(0);
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

inline void Print(const std::string& key, double value, int decimals = 3) {
  std::printf("%s=%.*f\n", key.c_str(), decimals, value);
  std::fflush(stdout);
}

inline void PrintText(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

// The simulated exchange on a fresh pseudo-terminal; its events are read
// with blocking calls (for programs without an event loop).
class Simulator {
 public:
  Simulator(const std::string& program, std::vector<std::string> args) {
    int out[2];
    int in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    args.insert(args.begin(), {program, "--pty", "--print-path"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in[0]);
    output_ = out[0];
    input_ = in[1];
    if (error != 0) throw std::runtime_error("cannot start " + program);
    path_ = WaitFor("/", 30000);
    if (path_.empty()) throw std::runtime_error("the simulator printed no path");
  }
  ~Simulator() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    close(output_);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  const std::string& Path() const { return path_; }

  void Command(const std::string& line) {
    const std::string text = line + "\n";
    if (write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("cannot write to the simulator");
  }

  // The next output line starting with `prefix`; empty after `timeoutMs`
  // without one or when the simulator ended.
  std::string WaitFor(const std::string& prefix, int timeoutMs = 600000) {
    const double deadline = Now() + timeoutMs / 1000.0;
    for (;;) {
      for (size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (line.rfind(prefix, 0) == 0) return line;
      }
      const int left = static_cast<int>((deadline - Now()) * 1000);
      if (left <= 0) return {};
      pollfd p{output_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(output_, chunk, sizeof chunk);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  int input_ = -1;
  std::string buffer_;
  std::string path_;
};

// A pseudo-terminal opened raw, as a plain serial logger opens it.
inline int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// What a plain blocking read() loop costs for `expected` bytes: wall time
// from `start` (which makes the far end send), this process's CPU over it,
// and the growth of the peak resident set (the reader keeps what it read).
struct PlainRun {
  double seconds = 0;
  double cpuSeconds = 0;
  long sleeps = 0;
  double peakKiB = 0;
  bool equal = false;
};

template <typename Start>
PlainRun PlainRead(int fd, const std::string& expected, Start start) {
  PlainRun run;
  ResetPeakMemory();
  const long before = StatusKiB("VmRSS");
  std::string got;
  got.reserve(expected.size());
  std::vector<char> chunk(1 << 16);
  const double cpu = CpuSeconds();
  const long sleeps = Sleeps();
  const double begin = Now();
  start();
  while (got.size() < expected.size()) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.append(chunk.data(), static_cast<size_t>(n));
  }
  run.seconds = Now() - begin;
  run.cpuSeconds = CpuSeconds() - cpu;
  run.sleeps = Sleeps() - sleeps;
  run.peakKiB = static_cast<double>(StatusKiB("VmHWM") - before);
  run.equal = got == expected;
  return run;
}

}  // namespace bench
