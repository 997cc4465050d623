// Command line of the simulated exchange.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/exchange-sim/dump_image.h"

namespace exchange_sim {

enum class Trigger { Open, Command };

struct SimOptions {
  // Port
  std::string device;          // empty: a pseudo-terminal
  unsigned baud = 1200;
  int data_bits = 8;
  int stop_bits = 1;
  char parity = 'N';           // N, E, O
  std::string link;
  bool print_path = false;

  // Dump
  std::string dump_file;       // empty: generated
  GenerateOptions generate;
  LineEnding line_ending = LineEnding::Cr;
  std::string end_mark = "77";
  unsigned line_speed = 0;     // 0: unpaced
  unsigned bits_per_char = 10;

  // When the dump goes out
  Trigger trigger = Trigger::Open;
  unsigned quiet_ms = 500;

  // Loads
  std::string expect_file;     // empty: the image
  unsigned load_idle_ms = 0;   // 0: a load ends when the port is closed
  std::string save_load;
  std::string report;

  // Ending
  bool once = false;
  bool exit_after_load = false;
  bool commands = true;
  bool quit_on_eof = false;

  // Only write the dump as the tool saves it and end (a peer's expected file).
  std::string write_dump;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses the arguments (without the program name). Returns nothing when
// --help was asked for. Throws UsageError with a message naming the option.
std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args);

std::string UsageText(const std::string& program);

}  // namespace exchange_sim
