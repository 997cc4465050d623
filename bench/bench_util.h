// Shared pieces of the benchmarks: the test dump, the simulated exchange as
// a child process read with blocking calls, process CPU time and memory.
// Every program prints its figures as "key=value" lines; bench/run_all.sh
// puts them into one table.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// The benchmark dump: 10 MiB on the line as 40-character lines, each ended
// by CR (41 bytes). No '7' anywhere, so "77" never appears before the end.
inline constexpr size_t kLineLength = 40;
inline constexpr size_t kDumpLines = 10u * 1024u * 1024u / (kLineLength + 1);

inline std::vector<std::string> MakeLines(size_t count, uint32_t seed = 1) {
  static const char kAlphabet[] = "0123456889ABCDEF 0123456889ABCDEF";
  std::vector<std::string> lines;
  lines.reserve(count);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < count; ++i) {
    std::string line(kLineLength, ' ');
    for (char& c : line) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = kAlphabet[x % (sizeof kAlphabet - 1)];
    }
    lines.push_back(std::move(line));
  }
  return lines;
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

// Clears the peak so that a later VmHWM tells the peak of one phase.
inline void ResetPeakMemory() {
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

}  // namespace bench
