// The simulated exchange: one event loop over the line, the tool's opens and
// closes, standard input and signals. No threads, no busy waiting: it
// sleeps in poll() until something happens or the next timer falls due.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/exchange-sim/dump_image.h"
#include "tools/exchange-sim/options.h"
#include "tools/exchange-sim/serial_line.h"

namespace exchange_sim {

class Exchange {
 public:
  // Opens the port (creates the pseudo-terminal or opens the device), makes
  // the link and prints the path. Throws std::runtime_error.
  Exchange(SimOptions options, Lines image, Lines expected, std::string expected_name);
  ~Exchange();
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // Serves until a signal, "quit", or an ending option. Returns the exit status.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  int port() const;
  void StartSession();
  void EndSession();
  void HandleOpenEvents();
  // Reads at most `limit` bytes; false when the far end has gone.
  bool ReadPort(std::size_t limit = SIZE_MAX);
  // Bytes of a load the exchange can take now at the line's pace.
  std::size_t LoadAllowance(Clock::time_point now) const;
  void OnData(const char* data, std::size_t size);
  void FinishLoad();
  void StartDump(const char* why);
  void ContinueDump();
  std::size_t LinesWritten() const;
  void HandleCommandInput();
  void HandleCommand(const std::string& command);
  void HandleSignals();
  void HandleTimers();
  std::optional<Clock::time_point> NextDeadline() const;
  // When a quiet paced load is due a read all the same (see Run), if it is.
  std::optional<Clock::time_point> NudgeAt(Clock::time_point now) const;
  static constexpr std::chrono::milliseconds kNudgeAfter{500};
  void WriteReport() const;
  void Say(const std::string& line) const;

  SimOptions options_;
  Lines image_;
  Lines expected_;
  std::string expected_name_;
  std::string wire_;
  std::vector<std::size_t> line_ends_;  // offset just past each line end in wire_

  std::unique_ptr<PseudoTerminal> pty_;
  Fd device_;
  std::string port_path_;
  bool link_made_ = false;

  bool quit_ = false;
  bool connected_ = false;
  bool close_seen_ = false;
  bool session_dumped_ = false;
  bool commands_open_ = false;
  std::string command_buffer_;

  std::optional<Clock::time_point> quiet_deadline_;

  bool dump_active_ = false;
  bool waiting_for_room_ = false;
  std::size_t dump_written_ = 0;
  Clock::time_point dump_start_;
  double chars_per_second_ = 0;
  std::size_t slice_ = 0;
  unsigned dumps_sent_ = 0;
  unsigned dumps_interrupted_ = 0;

  bool load_active_ = false;
  Clock::time_point load_start_;
  LoadCollector load_;
  Clock::time_point last_data_;
  Clock::time_point last_nudge_;
  unsigned loads_ = 0;
  std::optional<LoadResult> last_load_;
  std::size_t last_load_bytes_ = 0;
};

}  // namespace exchange_sim
