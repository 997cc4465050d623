// Receiving and sending the 10 MiB benchmark dump unpaced over a
// pseudo-terminal, through the whole path of the program (port, event thread,
// hand-over, ComPort1RxChar, Memo1; the send dialog's loop and WriteText),
// beside a plain blocking read and write of the same pseudo-terminal; then a
// send over a UART at 1200 Bd (the virtual device's paced line) with
// "Storno" pressed in the middle of it.
//   receive_send_bench
// Figures as key=value lines; bench/run_all.sh makes the table.
#include "app/app_state.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"
#include "bench/bench_util.h"
#include "serial/serial.h"
#include "tests/app/transfer_test_util.h"
#include "winapi/virtual_device.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

using namespace bench;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// How long the window could not answer: every 5 ms another thread posts a
// call to the main thread, as the window system posts the user's input;
// the longest a call waited is kept. (A timer would not do: the toolkit
// lets timers wait while posted events keep coming.)
class Stall {
 public:
  ~Stall() { Stop(); }
  void Start() {
    worst_ = 0;
    running_ = true;
    pinger_ = std::thread([this] {
      while (running_) {
        const auto posted = std::chrono::steady_clock::now();
        QMetaObject::invokeMethod(qApp, [this, posted] {
          const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - posted);
          worst_ = std::max<qint64>(worst_, waited.count());
        }, Qt::QueuedConnection);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  // Stops measuring; the worst wait so far is kept.
  void Stop() {
    if (!pinger_.joinable()) return;
    running_ = false;
    pinger_.join();
    QCoreApplication::sendPostedEvents();  // the calls still on their way count too
  }
  qint64 WorstMs() const { return worst_; }

 private:
  std::thread pinger_;
  std::atomic<bool> running_{false};
  qint64 worst_ = 0;
};

// Sends `lines` over a UART of 1200 Bd (a small transmit queue the driver
// sees, so each write completes as its bytes leave): the longest the window
// could not answer, and how many writes began after "Storno" was pressed in
// the middle of the send (the line going out at the press may finish).
void PacedSend(const QString& dir, const std::vector<std::string>& lines) {
  auto device = vdev::VirtualDevice::Register("COM9");
  device->PaceLine(120, 16, true);
  const QString file = dir + QStringLiteral("/paced.nvr");
  WriteBytes(file, DumpOf(lines));

  auto* form = new TForm1;
  form->show();
  form->ComPort1->SetPort("COM9");
  form->DirectoryListBox1->SetDirectory(dir);
  form->FileListBox1->HighlightName(QStringLiteral("paced.nvr"));
  form->FileListBox1Click();

  DialogAnswerer answers;
  Stall stall;
  int writesAtPress = -1;
  answers.Then(DialogAnswerer::Press("OK"));
  answers.Then([&](QWidget* dialog) {
    stall.Start();
    // Half way through the lines, as a user would press it.
    const int pressAfterMs = static_cast<int>(lines.size()) * 55 * 10 * 1000 / 1200 / 2;
    QTimer::singleShot(pressAfterMs, dialog, [&] {
      stall.Stop();
      writesAtPress = device->CountOf("WriteFile");
      Form2->BitBtn1->click();
    });
  });
  form->ToolButton2->click();
  device->WaitUntilSent();
  Print("send_uart_lines", static_cast<double>(lines.size()), 0);
  Print("send_uart_longest_stall_ms", static_cast<double>(stall.WorstMs()), 0);
  Print("send_uart_writes_after_storno", writesAtPress < 0 ? -1 : device->CountOf("WriteFile") - writesAtPress, 0);
  delete form;
  vdev::VirtualDevice::Unregister("COM9");
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  VazurApplication app(argc, argv);
  QTemporaryDir temp;
  QDir::setCurrent(temp.path());

  const std::vector<std::string> lines = DumpLines(kDumpBytes);
  const QString dumpFile = temp.filePath("bench.nvr");
  WriteDumpFile(dumpFile.toStdString(), lines);
  const std::string wire = WireOf(lines);
  const double wireMiB = static_cast<double>(wire.size()) / kMiB;
  const double loadMiB = static_cast<double>(DumpOf(lines).size()) / kMiB;  // each line with CR LF
  Print("dump_mib", wireMiB, 2);
  Print("dump_lines", static_cast<double>(lines.size()), 0);

  ExchangeSim sim({"--dump", dumpFile.toStdString(), "--trigger", "command", "--unpaced"});
  ::setenv("VAZUR_PORT_MAP", ("COM1=" + sim.Path()).c_str(), 1);

  // ---- plain read of the dump ----
  {
    const int fd = OpenRaw(sim.Path());
    sim.WaitFor("open");
    const PlainRun plain = PlainRead(fd, wire, [&] { sim.Command("dump"); });
    ::close(fd);
    sim.WaitFor("closed");
    Print("plain_read_mib_s", wireMiB / plain.seconds, 2);
    Print("plain_read_peak_mib_per_mib", plain.peakKiB / 1024.0 / wireMiB, 2);
    PrintText("plain_read_equal", plain.equal ? "yes" : "no");
  }

  // ---- the receive command ----
  auto* form = new TForm1;
  form->show();
  QCoreApplication::processEvents();
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
    Print("receive_command_mib_s", wireMiB / (end - start), 2);
    Print("receive_longest_stall_ms", static_cast<double>(stall.WorstMs()), 0);
    Print("receive_peak_mib_per_mib", static_cast<double>(StatusKiB("VmHWM") - residentBefore) / 1024.0 / wireMiB, 2);
    PrintText("receive_count_exact", ReceivedCount == expected ? "yes" : "no");
    PrintText("receive_saved_equal",
              ReadBytes(temp.filePath("received.nvr")) == DumpOf(lines) + "77\r\n" ? "yes" : "no");
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
    Print("send_command_mib_s", loadMiB / (end - start), 2);
    Print("send_longest_stall_ms", static_cast<double>(stall.WorstMs()), 0);
    std::string verdict = sim.WaitFor("load: ");
    if (verdict == "load: receiving") verdict = sim.WaitFor("load: ");
    PrintText("send_load_equal",
              verdict.find("equal") != std::string::npos && verdict.find("differs") == std::string::npos ? "yes"
                                                                                                          : "no");
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
    Print("plain_write_mib_s", loadMiB / (Now() - start), 2);
    ::close(fd);
    sim.WaitFor("load: ");
  }

  // ---- a send at the exchange's speed ----
  PacedSend(temp.path(), std::vector<std::string>(lines.begin(), lines.begin() + 12));
  return 0;
}
