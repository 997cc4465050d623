// The floor the tool is measured against: the benchmark dump moved over a
// pseudo-terminal with plain blocking reads and writes, no port component,
// no event thread, no window, against the same simulated exchange.
//   receive_plain_*: the exchange sends the dump unpaced; read() until all of it is in.
//   send_plain_*:    one write() per line with CR LF to the exchange taking a load.
#include "bench/bench_util.h"

#include <iostream>

using namespace bench;

namespace {

void MeasureReceive(const std::string& dumpFile, const std::vector<std::string>& lines) {
  Simulator sim(EXCHANGE_SIM_PATH, {"--dump", dumpFile, "--trigger", "command", "--unpaced"});
  const int fd = OpenRaw(sim.Path());
  const std::string expected = WireOf(lines);

  std::string got;
  got.reserve(expected.size());
  std::vector<char> chunk(1 << 16);
  const double start = Now();
  sim.Command("dump");
  while (got.size() < expected.size()) {
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n <= 0) throw std::runtime_error("plain read ended early");
    got.append(chunk.data(), static_cast<size_t>(n));
  }
  const double seconds = Now() - start;
  close(fd);
  if (got != expected) throw std::runtime_error("plain read: the bytes differ");
  Print("receive_plain_bytes", static_cast<double>(got.size()), 0);
  Print("receive_plain_seconds", seconds);
  Print("receive_plain_mb_per_s", static_cast<double>(got.size()) / 1e6 / seconds);
  Print("receive_plain_lines_per_s", static_cast<double>(lines.size()) / seconds, 0);
}

void MeasureSend(const std::string& dumpFile, const std::vector<std::string>& lines) {
  Simulator sim(EXCHANGE_SIM_PATH, {"--dump", dumpFile, "--trigger", "command", "--exit-after-load"});
  const int fd = OpenRaw(sim.Path());
  size_t bytes = 0;
  const double start = Now();
  for (const std::string& line : lines) {
    const std::string out = line + "\r\n";
    size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = write(fd, out.data() + done, out.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("plain write failed");
      done += static_cast<size_t>(n);
    }
    bytes += out.size();
  }
  const double seconds = Now() - start;
  close(fd);
  std::string verdict = sim.WaitFor("load: ");
  while (verdict == "load: receiving") verdict = sim.WaitFor("load: ");
  if (verdict.find("equal") == std::string::npos) throw std::runtime_error("plain send: " + verdict);
  Print("send_plain_bytes", static_cast<double>(bytes), 0);
  Print("send_plain_seconds", seconds);
  Print("send_plain_mb_per_s", static_cast<double>(bytes) / 1e6 / seconds);
}

}  // namespace

int main() {
  try {
    char dir[] = "/tmp/vazur-bench-XXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("no temporary directory");
    const std::string dumpFile = std::string(dir) + "/bench.txt";
    const std::vector<std::string> lines = DumpLines(kDumpBytes);
    WriteDumpFile(dumpFile, lines);
    MeasureReceive(dumpFile, lines);
    MeasureSend(dumpFile, lines);
    unlink(dumpFile.c_str());
    rmdir(dir);
  } catch (const std::exception& e) {
    std::cerr << "pty_baseline_bench: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
