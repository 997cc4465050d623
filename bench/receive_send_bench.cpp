// Receiving and sending the 10 MiB benchmark dump unpaced over a
// pseudo-terminal, through the whole path of the program (port, event thread,
// hand-over, ComPort1RxChar, Memo1; the send dialog's loop and WriteText),
// beside a plain blocking read and write of the same pseudo-terminal.
//   receive_send_bench
// Figures as key=value lines and a small table at the end.
#include "app/app_state.h"
#include "app/application.h"
#include "app/dump_text.h"
#include "app/main_window.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"
#include "bench/bench_util.h"
#include "tests/app/transfer_test_util.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <termios.h>

#include <algorithm>
#include <iostream>

using namespace bench;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// The longest the event loop went without running a 5 ms timer: how long the
// window could not answer the user.
class Stall {
 public:
  Stall() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      worst_ = std::max(worst_, now - last_);
      last_ = now;
    });
  }
  void Start() {
    clock_.start();
    last_ = 0;
    worst_ = 0;
    timer_.start(5);
  }
  // Stops measuring; the worst gap so far is kept.
  void Stop() {
    const qint64 now = clock_.elapsed();
    worst_ = std::max(worst_, now - last_);
    timer_.stop();
  }
  qint64 WorstMs() const { return worst_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 worst_ = 0;
};

struct Figures {
  double plainRead = 0, appReceive = 0, plainWrite = 0, appSend = 0;
  qint64 receiveStall = 0, sendStall = 0;
  double receivePeakMiBPerMiB = 0;  // growth of the peak resident set during the reception
  bool receivedEqual = false, sentEqual = false;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  VazurApplication app(argc, argv);
  QTemporaryDir temp;
  QDir::setCurrent(temp.path());

  const std::vector<std::string> lines = MakeLines(kDumpLines);
  const QString dumpFile = temp.filePath("bench.nvr");
  WriteDumpFile(dumpFile.toStdString(), lines);
  std::string wire;
  for (const std::string& l : lines) wire += l + "\r";
  wire += "77\r";
  const double wireMiB = static_cast<double>(wire.size()) / kMiB;
  Figures f;

  ExchangeSim sim({"--dump", dumpFile.toStdString(), "--trigger", "command", "--unpaced"});
  ::setenv("VAZUR_PORT_MAP", ("COM1=" + sim.Path()).c_str(), 1);

  // ---- plain read of the dump ----
  {
    const int fd = OpenRaw(sim.Path());
    sim.WaitFor("open");
    const double start = Now();
    sim.Command("dump");
    std::string got;
    got.reserve(wire.size());
    std::vector<char> chunk(1 << 16);
    while (got.size() < wire.size()) {
      const ssize_t n = ::read(fd, chunk.data(), chunk.size());
      if (n <= 0) break;
      got.append(chunk.data(), static_cast<size_t>(n));
    }
    f.plainRead = wireMiB / (Now() - start);
    ::close(fd);
    sim.WaitFor("closed");
  }

  // ---- the receive command ----
  auto* form = new TForm1;
  form->show();
  ResetPeakMemory();
  const long residentBefore = StatusKiB("VmRSS");
  {
    DialogAnswerer answers;
    Stall stall;
    double start = 0, end = 0;
    const int expected = static_cast<int>(lines.size()) + 1;
    answers.Then(SaveAs(temp.filePath("received.nvr")));
    answers.Then([&](QWidget* dialog) {
      sim.WaitFor("open");
      stall.Start();
      start = Now();
      sim.Command("dump");
      When([&] { return ReceivedCount >= expected; },
           [&](QWidget*) {
             end = Now();
             stall.Stop();
             Form3->BitBtn1->click();
           })(dialog);
    });
    answers.Then(DialogAnswerer::Press("OK"));  // "Data jsou přijata"
    form->ToolButton1->click();
    f.appReceive = wireMiB / (end - start);
    f.receiveStall = stall.WorstMs();
    f.receivePeakMiBPerMiB = static_cast<double>(StatusKiB("VmHWM") - residentBefore) / 1024.0 / wireMiB;
    std::string expectedFile;
    for (const std::string& l : lines) expectedFile += l + "\r\n";
    expectedFile += "77\r\n";
    f.receivedEqual = ReadBytes(temp.filePath("received.nvr")) == expectedFile;
  }

  // ---- the send command (the port is still open from the reception) ----
  {
    form->FileListBox1->Update();
    form->FileListBox1->HighlightName(QStringLiteral("bench.nvr"));
    form->FileListBox1Click();
    DialogAnswerer answers;
    Stall stall;
    double start = 0, end = 0;
    answers.Then(DialogAnswerer::Press("OK"));
    answers.Then([&](QWidget* dialog) {
      stall.Start();
      start = Now();
      When([] { return Form2->Gauge1->maximum() > 0 && Form2->Gauge1->value() == Form2->Gauge1->maximum(); },
           [&](QWidget*) {
             end = Now();
             stall.Stop();
             Form2->BitBtn1->click();
           })(dialog);
    });
    form->ToolButton2->click();
    f.appSend = wireMiB / (end - start);
    f.sendStall = stall.WorstMs();
    std::string verdict = sim.WaitFor("load: ");
    if (verdict == "load: receiving") verdict = sim.WaitFor("load: ");
    f.sentEqual = verdict.find("equal") != std::string::npos && verdict.find("differs") == std::string::npos;
  }
  delete form;

  // ---- plain write of the same lines, one write per line ----
  {
    const int fd = OpenRaw(sim.Path());
    sim.WaitFor("open");
    const double start = Now();
    for (const std::string& l : lines) {
      const std::string out = l + "\r\n";
      if (::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) break;
    }
    ::tcdrain(fd);
    f.plainWrite = wireMiB / (Now() - start);
    ::close(fd);
    sim.WaitFor("load: ");
  }

  Print("dump_mib", wireMiB, 2);
  Print("dump_lines", static_cast<double>(lines.size()), 0);
  Print("plain_read_mib_s", f.plainRead, 2);
  Print("receive_command_mib_s", f.appReceive, 2);
  Print("receive_longest_stall_ms", static_cast<double>(f.receiveStall), 0);
  PrintText("receive_saved_equal", f.receivedEqual ? "yes" : "no");
  Print("receive_peak_mib_per_mib", f.receivePeakMiBPerMiB, 1);
  Print("plain_write_mib_s", f.plainWrite, 2);
  Print("send_command_mib_s", f.appSend, 2);
  Print("send_longest_stall_ms", static_cast<double>(f.sendStall), 0);
  PrintText("send_load_equal", f.sentEqual ? "yes" : "no");
  std::printf("\n%-36s %10s\n", "10 MiB dump, unpaced pty", "MiB/s");
  std::printf("%-36s %10.2f\n", "plain blocking read", f.plainRead);
  std::printf("%-36s %10.2f  (longest stall %lld ms, saved file %s)\n", "receive command (Přijmout)", f.appReceive,
              static_cast<long long>(f.receiveStall), f.receivedEqual ? "equal" : "DIFFERS");
  std::printf("%-36s %10.2f\n", "plain write, one write per line", f.plainWrite);
  std::printf("%-36s %10.2f  (longest stall %lld ms, load %s)\n", "send command (Odeslat)", f.appSend,
              static_cast<long long>(f.sendStall), f.sentEqual ? "equal" : "DIFFERS");
  return f.receivedEqual && f.sentEqual ? 0 : 1;
}
