#include "tools/exchange-sim/exchange.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace exchange_sim {
namespace {

// Signals reach the loop through a pipe; the handler only writes to it.
int g_signal_pipe[2] = {-1, -1};

extern "C" void OnSignal(int signal_number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  [[maybe_unused]] ssize_t n = ::write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

void InstallSignals() {
  if (g_signal_pipe[0] < 0) {
    if (::pipe(g_signal_pipe) != 0) throw std::runtime_error("cannot create a pipe");
    for (int fd : g_signal_pipe) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) ::sigaction(s, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  // Started in the background of a shell: reading the terminal then fails
  // with EIO instead of stopping the simulator.
  ::signal(SIGTTIN, SIG_IGN);
}

void MakeLink(const std::string& link, const std::string& target) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode))
      throw std::runtime_error(link + " exists and is not a symbolic link; not replacing it");
    ::unlink(link.c_str());
  }
  if (::symlink(target.c_str(), link.c_str()) != 0)
    throw std::runtime_error("cannot create the link " + link + ": " + std::strerror(errno));
}

bool LinkPointsTo(const std::string& link, const std::string& target) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  return n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == target;
}

}  // namespace

Exchange::Exchange(SimOptions options, Lines image, Lines expected, std::string expected_name)
    : options_(std::move(options)),
      image_(std::move(image)),
      expected_(std::move(expected)),
      expected_name_(std::move(expected_name)) {
  wire_ = EncodeDump(image_, options_.line_ending, options_.end_mark);
  const std::size_t end_size = LineEndBytes(options_.line_ending).size();
  std::size_t offset = 0;
  for (const auto& line : image_) line_ends_.push_back(offset += line.size() + end_size);
  if (options_.line_speed > 0) {
    chars_per_second_ = double(options_.line_speed) / options_.bits_per_char;
    // Writes of about 20 ms of line time: lines arrive in pieces, as from a UART.
    slice_ = std::max<std::size_t>(1, std::size_t(chars_per_second_ * 0.02));
  }

  InstallSignals();
  if (options_.device.empty()) {
    pty_ = std::make_unique<PseudoTerminal>();
    port_path_ = pty_->slave_path();
    if (!options_.link.empty()) {
      MakeLink(options_.link, port_path_);
      link_made_ = true;
    }
  } else {
    device_ = OpenDevice(options_.device, DeviceSettings{options_.baud, options_.data_bits,
                                                         options_.stop_bits, options_.parity});
    port_path_ = options_.device;
  }
  if (options_.print_path) Say(port_path_);
}

Exchange::~Exchange() {
  if (link_made_ && LinkPointsTo(options_.link, port_path_)) ::unlink(options_.link.c_str());
}

int Exchange::port() const { return pty_ ? pty_->master() : device_.get(); }

void Exchange::Say(const std::string& line) const {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int Exchange::Run() {
  commands_open_ = options_.commands;
  if (pty_) {
    std::string line = "waiting for the tool to open " + port_path_;
    if (link_made_) line += " (" + options_.link + ")";
    Say(line);
  } else {
    StartSession();
  }
  while (!quit_) {
    std::vector<pollfd> fds;
    fds.push_back({g_signal_pipe[0], POLLIN, 0});
    const int stdin_index = commands_open_ ? int(fds.size()) : -1;
    if (commands_open_) fds.push_back({STDIN_FILENO, POLLIN, 0});
    const int watch_index = pty_ ? int(fds.size()) : -1;
    if (pty_) fds.push_back({pty_->watch(), POLLIN, 0});
    // A master without its slave reports hang-up constantly: only watch it while connected.
    const int port_index = connected_ ? int(fds.size()) : -1;
    // A paced load is read no faster than the line brings it; the rest waits
    // in the terminal's buffer, as in a slow exchange's UART. (A hang-up is
    // reported all the same.)
    const std::size_t allowance = connected_ ? LoadAllowance(Clock::now()) : 0;
    if (connected_)
      fds.push_back({port(), short((allowance > 0 ? POLLIN : 0) | (dump_active_ && waiting_for_room_ ? POLLOUT : 0)), 0});

    int timeout = -1;
    if (auto deadline = NextDeadline()) {
      auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      timeout = int(std::clamp<long long>(wait, 0, 60000));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }

    if (fds[0].revents) HandleSignals();
    if (port_index >= 0 && fds[port_index].revents) {
      const short revents = fds[port_index].revents;
      if (revents & POLLOUT) waiting_for_room_ = false;
      // After a hang-up the line has carried everything the tool sent.
      bool alive = true;
      if (revents & (POLLHUP | POLLERR))
        alive = ReadPort();
      else if (revents & POLLIN)
        alive = ReadPort(LoadAllowance(Clock::now()));
      if (!alive || (revents & (POLLHUP | POLLERR))) {
        if (!pty_) throw std::runtime_error("the device " + port_path_ + " is gone");
        if (connected_) EndSession();
      }
    }
    if (auto nudge = NudgeAt(Clock::now()); port_index >= 0 && nudge && Clock::now() >= *nudge) {
      // A Linux pseudo-terminal can lose the wake-up that moves the tool's
      // bytes on to this side while a slow reader keeps the buffer full:
      // the tool's writes then stall with nothing to read here. A read
      // sets it going again.
      last_nudge_ = Clock::now();
      if (!ReadPort(LoadAllowance(last_nudge_)) && connected_) EndSession();
    }
    if (watch_index >= 0 && fds[watch_index].revents) HandleOpenEvents();
    if (stdin_index >= 0 && fds[stdin_index].revents) HandleCommandInput();
    HandleTimers();
    ContinueDump();
  }
  if (connected_ && load_active_) FinishLoad();
  WriteReport();
  return last_load_ && !last_load_->equal ? 1 : 0;
}

void Exchange::HandleSignals() {
  unsigned char signals[64];
  ssize_t n;
  while ((n = ::read(g_signal_pipe[0], signals, sizeof signals)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (signals[i] == SIGUSR1) {
        StartDump("SIGUSR1");
      } else {
        Say(std::string("stopping on ") + (signals[i] == SIGINT ? "SIGINT" : signals[i] == SIGTERM ? "SIGTERM" : "SIGHUP"));
        quit_ = true;
      }
    }
  }
}

void Exchange::HandleOpenEvents() {
  for (auto event : pty_->ReadEvents()) {
    if (event == PseudoTerminal::Event::Opened) {
      // A close followed by an open is a new session even if the hang-up
      // was never seen because the tool reopened that fast.
      if (connected_ && close_seen_) {
        ReadPort();
        EndSession();
      }
      if (!connected_) StartSession();
    } else if (connected_) {
      close_seen_ = true;
    }
  }
  if (connected_ && close_seen_ && pty_->HungUp()) {
    ReadPort();
    EndSession();
  }
}

void Exchange::StartSession() {
  connected_ = true;
  close_seen_ = false;
  session_dumped_ = false;
  if (pty_) Say("open");
  if (options_.trigger == Trigger::Open) quiet_deadline_ = Clock::now() + std::chrono::milliseconds(options_.quiet_ms);
}

void Exchange::EndSession() {
  if (dump_active_) {
    dump_active_ = false;
    ++dumps_interrupted_;
    Say("dump: interrupted after " + std::to_string(LinesWritten()) + " of " +
        std::to_string(image_.size()) + " lines, the port was closed");
  }
  if (load_active_) FinishLoad();
  quiet_deadline_.reset();
  connected_ = false;
  close_seen_ = false;
  Say("closed");
  if (options_.once) quit_ = true;
}

std::size_t Exchange::LoadAllowance(Clock::time_point now) const {
  if (chars_per_second_ <= 0 || !pty_) return SIZE_MAX;
  if (!load_active_) return slice_;
  const double elapsed = std::chrono::duration<double>(now - load_start_).count();
  const std::size_t due = std::size_t(elapsed * chars_per_second_) + slice_;
  const std::size_t taken = load_.raw().size();
  return due > taken ? due - taken : 0;
}

bool Exchange::ReadPort(std::size_t limit) {
  char buffer[65536];
  while (limit > 0) {
    ssize_t n = ::read(port(), buffer, std::min(sizeof buffer, limit));
    if (n > 0) {
      OnData(buffer, std::size_t(n));
      limit -= std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;  // 0 or EIO: the far end has gone; whatever it sent has been read
  }
  return true;
}

void Exchange::OnData(const char* data, std::size_t size) {
  if (!load_active_) {
    load_active_ = true;
    load_start_ = Clock::now();
    load_ = LoadCollector();
    Say("load: receiving");
  }
  load_.Feed(std::string_view(data, size));
  last_data_ = Clock::now();
  quiet_deadline_.reset();  // the tool is talking: this open is a load, not a reception
}

void Exchange::FinishLoad() {
  load_active_ = false;
  LoadResult result = CompareLoad(load_.lines(), load_.tail(), expected_, options_.end_mark);
  Say("load: " + DescribeLoad(result, expected_name_));
  if (!result.equal) {
    if (!result.line_extra) Say("  expected: " + Printable(result.expected_line));
    if (!result.line_missing || !result.received_line.empty())
      Say("  received: " + Printable(result.received_line));
  }
  ++loads_;
  last_load_ = result;
  last_load_bytes_ = load_.raw().size();
  if (!options_.save_load.empty()) {
    std::ofstream out(options_.save_load, std::ios::binary | std::ios::trunc);
    out << load_.raw();
    if (!out) std::fprintf(stderr, "exchange-sim: cannot write %s\n", options_.save_load.c_str());
  }
  WriteReport();
  if (options_.exit_after_load) quit_ = true;
}

void Exchange::StartDump(const char* why) {
  if (!connected_) {
    Say("dump: not sent, no one has " + port_path_ + " open");
    return;
  }
  if (dump_active_) {
    Say("dump: already going out");
    return;
  }
  if (pty_ && pty_->SlaveEchoes())
    std::fprintf(stderr, "exchange-sim: warning: %s echoes its input; the dump will come back as a load\n",
                 port_path_.c_str());
  quiet_deadline_.reset();
  session_dumped_ = true;
  dump_active_ = true;
  waiting_for_room_ = false;
  dump_written_ = 0;
  dump_start_ = Clock::now();
  std::string pace = options_.line_speed > 0
                         ? "at " + std::to_string(options_.line_speed) + " Bd"
                         : (pty_ ? std::string("unpaced") : "at the device's " + std::to_string(options_.baud) + " Bd");
  Say(std::string("dump: sending ") + std::to_string(image_.size()) + " lines, " +
      std::to_string(wire_.size()) + " bytes, " + pace + " (" + why + ")");
}

std::size_t Exchange::LinesWritten() const {
  return std::size_t(std::upper_bound(line_ends_.begin(), line_ends_.end(), dump_written_) - line_ends_.begin());
}

void Exchange::ContinueDump() {
  if (!dump_active_ || !connected_ || waiting_for_room_) return;
  std::size_t allowed = wire_.size();
  if (chars_per_second_ > 0) {
    double elapsed = std::chrono::duration<double>(Clock::now() - dump_start_).count();
    allowed = std::min(allowed, std::size_t(elapsed * chars_per_second_) + slice_);
  }
  while (dump_written_ < allowed) {
    ssize_t n = ::write(port(), wire_.data() + dump_written_, allowed - dump_written_);
    if (n > 0) {
      dump_written_ += std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      waiting_for_room_ = true;
      return;
    }
    // EIO: the tool has closed the port; the hang-up ends the session.
    if (!pty_) throw std::runtime_error("cannot write to " + port_path_ + ": " + std::strerror(errno));
    waiting_for_room_ = true;
    return;
  }
  if (dump_written_ == wire_.size()) {
    dump_active_ = false;
    ++dumps_sent_;
    Say("dump: sent " + std::to_string(image_.size()) + " lines" +
        (options_.end_mark.empty() ? std::string() : " and the end mark " + options_.end_mark));
    WriteReport();
  }
}

std::optional<Exchange::Clock::time_point> Exchange::NextDeadline() const {
  std::optional<Clock::time_point> next = quiet_deadline_;
  auto consider = [&](Clock::time_point t) {
    if (!next || t < *next) next = t;
  };
  if (dump_active_ && !waiting_for_room_ && chars_per_second_ > 0) {
    // When the next character falls due.
    double due = double(dump_written_ + 1 - std::min(dump_written_ + 1, slice_)) / chars_per_second_;
    consider(dump_start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due)));
  }
  if (load_active_ && options_.load_idle_ms > 0)
    consider(last_data_ + std::chrono::milliseconds(options_.load_idle_ms));
  if (connected_ && load_active_ && chars_per_second_ > 0 && pty_ && LoadAllowance(Clock::now()) == 0) {
    // When the line has brought the next character of the load.
    double due = double(load_.raw().size() + 1 - std::min(load_.raw().size() + 1, slice_)) / chars_per_second_;
    consider(load_start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due)));
  }
  if (auto nudge = NudgeAt(Clock::now())) consider(*nudge);
  return next;
}

std::optional<Exchange::Clock::time_point> Exchange::NudgeAt(Clock::time_point now) const {
  if (!connected_ || !load_active_ || !pty_ || chars_per_second_ <= 0 || LoadAllowance(now) == 0) return std::nullopt;
  return std::max(last_data_, last_nudge_) + kNudgeAfter;
}

void Exchange::HandleTimers() {
  const auto now = Clock::now();
  if (quiet_deadline_ && now >= *quiet_deadline_) {
    quiet_deadline_.reset();
    if (connected_ && !session_dumped_ && !load_active_) StartDump("the port was opened");
  }
  if (load_active_ && options_.load_idle_ms > 0 && now - last_data_ >= std::chrono::milliseconds(options_.load_idle_ms))
    FinishLoad();
}

void Exchange::HandleCommandInput() {
  char buffer[1024];
  ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n <= 0) {
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n < 0)
      std::fprintf(stderr, "exchange-sim: cannot read commands (%s); use SIGUSR1 to send the dump\n",
                   errno == EIO ? "the terminal belongs to the foreground" : std::strerror(errno));
    commands_open_ = false;  // end of input: keep serving without commands
    if (n == 0 && options_.quit_on_eof) quit_ = true;
    return;
  }
  command_buffer_.append(buffer, std::size_t(n));
  std::size_t end;
  while ((end = command_buffer_.find('\n')) != std::string::npos) {
    std::string command = command_buffer_.substr(0, end);
    command_buffer_.erase(0, end + 1);
    while (!command.empty() && (command.back() == '\r' || command.back() == ' ')) command.pop_back();
    while (!command.empty() && command.front() == ' ') command.erase(0, 1);
    HandleCommand(command);
  }
}

void Exchange::HandleCommand(const std::string& command) {
  if (command.empty() || command == "dump" || command == "d") {
    StartDump("command");
  } else if (command == "status" || command == "s") {
    std::string state = connected_ ? "open" : "not open";
    if (dump_active_) state += ", dump going out (" + std::to_string(LinesWritten()) + " of " + std::to_string(image_.size()) + " lines)";
    if (load_active_) state += ", load coming in (" + std::to_string(load_.lines().size()) + " lines so far)";
    Say("status: " + port_path_ + " " + state + "; " + std::to_string(dumps_sent_) + " dumps sent, " +
        std::to_string(loads_) + " loads received");
  } else if (command == "quit" || command == "q") {
    quit_ = true;
  } else {
    std::fprintf(stderr, "exchange-sim: unknown command '%s' (dump, status, quit)\n", command.c_str());
  }
}

void Exchange::WriteReport() const {
  if (options_.report.empty()) return;
  std::string text;
  text += "port=" + port_path_ + "\n";
  text += "image_lines=" + std::to_string(image_.size()) + "\n";
  text += "dumps_sent=" + std::to_string(dumps_sent_) + "\n";
  text += "dumps_interrupted=" + std::to_string(dumps_interrupted_) + "\n";
  text += "loads=" + std::to_string(loads_) + "\n";
  if (last_load_) {
    text += "load_lines=" + std::to_string(last_load_->lines) + "\n";
    text += "load_bytes=" + std::to_string(last_load_bytes_) + "\n";
    text += std::string("load_equal=") + (last_load_->equal ? "yes" : "no") + "\n";
    text += std::string("load_end_mark=") + (last_load_->end_mark ? "yes" : "no") + "\n";
    text += "load_first_difference=" + std::to_string(last_load_->first_difference) + "\n";
  } else {
    text += "load_equal=none\n";
  }
  // Written whole and renamed into place: a reader never sees half a report.
  const std::string temporary = options_.report + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
      std::fprintf(stderr, "exchange-sim: cannot write %s\n", temporary.c_str());
      return;
    }
  }
  if (std::rename(temporary.c_str(), options_.report.c_str()) != 0)
    std::fprintf(stderr, "exchange-sim: cannot write %s: %s\n", options_.report.c_str(), std::strerror(errno));
}

}  // namespace exchange_sim
