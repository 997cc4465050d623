#include "tools/exchange-sim/options.h"

#include <charconv>

namespace exchange_sim {
namespace {

std::uint64_t ParseNumber(const std::string& option, const std::string& text, std::uint64_t max,
                          bool allow_suffix = false) {
  std::uint64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto [end, error] = std::from_chars(first, last, value);
  std::uint64_t scale = 1;
  if (allow_suffix && end + 1 == last) {
    if (*end == 'k' || *end == 'K') scale = 1024, ++end;
    else if (*end == 'M') scale = 1024 * 1024, ++end;
  }
  if (text.empty() || error != std::errc() || end != last || value > max / scale)
    throw UsageError(option + ": '" + text + "' is not a number from 0 to " + std::to_string(max));
  return value * scale;
}

}  // namespace

std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args) {
  SimOptions o;
  bool pty = false;
  bool line_speed_given = false, trigger_given = false, idle_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    auto flag = [&] {
      if (inline_value) throw UsageError(name + " takes no value");
    };
    if (name == "-h" || name == "--help") {
      return std::nullopt;
    } else if (name == "--pty") {
      flag();
      pty = true;
    } else if (name == "--device") {
      o.device = value();
      if (o.device.empty()) throw UsageError("--device needs a path");
    } else if (name == "--baud") {
      o.baud = static_cast<unsigned>(ParseNumber(name, value(), 4000000));
      if (o.baud == 0) throw UsageError("--baud must not be 0");
    } else if (name == "--data-bits") {
      o.data_bits = static_cast<int>(ParseNumber(name, value(), 8));
      if (o.data_bits < 5) throw UsageError("--data-bits must be 5, 6, 7 or 8");
    } else if (name == "--stop-bits") {
      o.stop_bits = static_cast<int>(ParseNumber(name, value(), 2));
      if (o.stop_bits < 1) throw UsageError("--stop-bits must be 1 or 2");
    } else if (name == "--parity") {
      std::string v = value();
      if (v == "none") o.parity = 'N';
      else if (v == "even") o.parity = 'E';
      else if (v == "odd") o.parity = 'O';
      else throw UsageError("--parity must be none, even or odd");
    } else if (name == "--link") {
      o.link = value();
      if (o.link.empty()) throw UsageError("--link needs a path");
    } else if (name == "--print-path") {
      flag();
      o.print_path = true;
    } else if (name == "--dump") {
      o.dump_file = value();
      if (o.dump_file.empty()) throw UsageError("--dump needs a file");
    } else if (name == "--generate") {
      o.dump_file.clear();
      o.generate.bytes = ParseNumber(name, value(), 256u * 1024 * 1024, true);
    } else if (name == "--seed") {
      o.generate.seed = ParseNumber(name, value(), UINT64_MAX);
    } else if (name == "--high-bytes") {
      flag();
      o.generate.high_bytes = true;
    } else if (name == "--line-ending") {
      std::string v = value();
      if (v == "cr") o.line_ending = LineEnding::Cr;
      else if (v == "crlf") o.line_ending = LineEnding::CrLf;
      else throw UsageError("--line-ending must be cr or crlf");
    } else if (name == "--end-mark") {
      o.end_mark = value();
      if (o.end_mark.find_first_of("\r\n") != std::string::npos)
        throw UsageError("--end-mark must not contain CR or LF");
    } else if (name == "--line-speed") {
      o.line_speed = static_cast<unsigned>(ParseNumber(name, value(), 4000000));
      if (o.line_speed == 0) throw UsageError("--line-speed must not be 0 (use --unpaced)");
      line_speed_given = true;
    } else if (name == "--unpaced") {
      flag();
      o.line_speed = 0;
      line_speed_given = true;
    } else if (name == "--bits-per-char") {
      o.bits_per_char = static_cast<unsigned>(ParseNumber(name, value(), 13));
      if (o.bits_per_char < 7) throw UsageError("--bits-per-char must be 7 to 13");
    } else if (name == "--trigger") {
      std::string v = value();
      if (v == "open") o.trigger = Trigger::Open;
      else if (v == "command") o.trigger = Trigger::Command;
      else throw UsageError("--trigger must be open or command");
      trigger_given = true;
    } else if (name == "--quiet") {
      o.quiet_ms = static_cast<unsigned>(ParseNumber(name, value(), 3600000));
    } else if (name == "--expect-load") {
      o.expect_file = value();
      if (o.expect_file == "image") o.expect_file.clear();
    } else if (name == "--load-idle") {
      o.load_idle_ms = static_cast<unsigned>(ParseNumber(name, value(), 3600000));
      idle_given = true;
    } else if (name == "--write-dump") {
      o.write_dump = value();
      if (o.write_dump.empty()) throw UsageError("--write-dump needs a file");
    } else if (name == "--save-load") {
      o.save_load = value();
    } else if (name == "--report") {
      o.report = value();
    } else if (name == "--once") {
      flag();
      o.once = true;
    } else if (name == "--exit-after-load") {
      flag();
      o.exit_after_load = true;
    } else if (name == "--no-commands") {
      flag();
      o.commands = false;
    } else if (name == "--quit-on-eof") {
      flag();
      o.quit_on_eof = true;
    } else {
      throw UsageError("unknown option " + args[i]);
    }
  }
  if (pty && !o.device.empty()) throw UsageError("--pty and --device exclude each other");
  if (!o.device.empty()) {
    // A device cannot tell when the far end opens it, and never hangs up.
    if (o.trigger == Trigger::Open && trigger_given)
      throw UsageError("--trigger open needs a pseudo-terminal; on a device use --trigger command");
    o.trigger = Trigger::Command;
    if (!o.link.empty()) throw UsageError("--link needs a pseudo-terminal");
    if (o.once) throw UsageError("--once needs a pseudo-terminal; on a device use --exit-after-load");
    if (!idle_given) o.load_idle_ms = 2000;
  } else if (!line_speed_given) {
    o.line_speed = 1200;
  }
  return o;
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program + R"( [options]

Plays a VQ exchange on the far end of a serial line: transmits a RAM dump as
CR-ended text lines followed by the end mark "77", and takes in a load (lines
each ended by CR LF), reporting whether it equals the dump's image.

Port:
  --pty                 create a pseudo-terminal (the default)
  --device PATH         use a real serial device instead
  --baud N              device speed (default 1200); --data-bits 5-8 (8),
                        --stop-bits 1|2 (1), --parity none|even|odd (none)
  --link PATH           make PATH a symbolic link to the pseudo-terminal
                        (replaced if it is a link; removed at exit)
  --print-path          print the port's path as the first line of output

Dump:
  --dump FILE           send the lines of FILE (lines ended by CR LF, CR or
                        LF; a last line "77" is the end mark, not sent twice)
  --generate BYTES      send a generated image of about BYTES bytes
                        (default 12000, counted with CR line ends;
                        suffix k or M). Lines look like
                        "76E0: 3F 00 12 ... C4": address, 16 bytes; as in
                        real RAM, "77" stands inside lines and some lines
                        begin with it
  --seed N              seed of the generated image (default 1)
  --high-bytes          some generated lines carry Czech labels in
                        Windows-1250 (bytes 0x8A to 0xFD)
  --line-ending cr|crlf what ends each line (default cr, as the exchange)
  --end-mark TEXT       last line of the dump (default 77; empty: none)
  --line-speed BAUD     pace the dump, and take a load, like a line of BAUD
                        (default 1200 on a pseudo-terminal; a device is
                        paced by its --baud); what the tool sends faster
                        waits in the terminal's buffer
  --bits-per-char N     bits per character on that line (default 10)
  --unpaced             write as fast as the port takes it

When the dump goes out:
  --trigger open        each time the tool opens the pseudo-terminal and
                        sends nothing for --quiet milliseconds (default)
  --trigger command     only on the command "dump" (see below)
  --quiet MS            the silence after the open (default 500). If the
                        tool sends anything first, that is a load instead.
  Commands, one per line on standard input: "dump" (or an empty line) sends
  the dump now, "status" prints the state, "quit" ends. SIGUSR1 also sends
  the dump. --no-commands leaves standard input alone. --quit-on-eof ends
  the simulator when its standard input ends (a controlling program died).

Loads (whatever the tool sends):
  A load starts with the first byte the tool sends and ends when the tool
  closes the port (or after --load-idle). It is then compared line by line
  with the expected lines; a last extra line equal to the end mark is fine.
  --expect-load FILE    compare with FILE's lines ("image": the dump's own
                        lines, the default)
  --load-idle MS        a load also ends after MS without data (default:
                        only when the port is closed; 2000 on a device)
  --save-load FILE      write each load's bytes, as received, to FILE
  --report FILE         write a summary (key=value lines) after each load
                        and at exit

Ending:
  --once                exit when the tool closes the port the first time
  --exit-after-load     exit when the first load has ended
  SIGINT, SIGTERM and SIGHUP end the simulator cleanly (link removed,
  report written). Otherwise it serves the tool until it is stopped: each
  open of the port is a new session.
  --write-dump FILE     only write the dump to FILE as the tool saves it
                        (each line, then CR LF; the end mark the last line)
                        and exit: the file a received dump must equal

Output: events on standard output, one per line, beginning with a fixed
word: "open", "dump: sending ...", "dump: sent N lines", "dump: interrupted
...", "load: receiving", "load: N lines received, equal to image" or
"load: N lines received, differs at line K", "closed". Errors on standard
error.

Exit status: 0; 1 when the last load differed; 2 wrong usage; 3 failure.
)";
}

}  // namespace exchange_sim
