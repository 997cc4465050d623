// A technician's day in one process: cycle after cycle, a dump of a few
// hundred lines received through "Přijmout" (the save dialog answered, the
// lines coming in, "Storno"), the saved file shown in the pane, the file
// sent back through "Odeslat" (the reminder answered, "Storno" at the end);
// every few cycles the device goes in the middle of the reception and comes
// back. What it measures is whether memory keeps growing with the cycles.
//   soak_bench [cycles] [pty]                    (100 cycles when not given)
// The far end is the virtual device (lines fed, the device unplugged), or
// with "pty" the simulated exchange on a pseudo-terminal at 115200 Bd (the
// exchange killed, so that the terminal hangs up, and a new one started).
// VAZUR_SOAK_LINES sets the lines of a dump (300), VAZUR_SOAK_UNPLUG_EVERY
// how often the device goes (every 5th cycle; 0 never),
// VAZUR_SOAK_IDLE_SECONDS how long the window then stands idle before the
// last figures (0), which tells growth an idle toolkit gives back from
// growth that stays. With VAZUR_SOAK_NO_TEARDOWN=1 the process ends after
// the last figure without closing the window, so that a heap profiler
// counts what the cycles left behind as leaked (heaptrack, valgrind
// --leak-check=full).
// Figures as key=value lines: the resident set every 10 cycles, then the
// growth per cycle over the second half, of the resident set and of the
// bytes the allocator has handed out (mallinfo2), and the objects under the
// main window.
#include "app/app_state.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"
#include "bench/bench_util.h"
#include "tests/app/transfer_test_util.h"
#include "winapi/virtual_device.h"

#include <malloc.h>

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <iostream>
#include <memory>

using namespace bench;

namespace {

// What the allocator has handed out and not had back, in KiB.
double HeapInUseKiB() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / 1024.0;
}

struct Sample {
  int cycle = 0;
  long rssKiB = 0;
  double heapKiB = 0;
  int objects = 0;
};

// The exchange's side of the line.
class FarEnd {
 public:
  virtual ~FarEnd() = default;
  // Inside the receive dialog: the dump starts coming (with `half`, only
  // the lines up to the unplug need to come).
  virtual void SendDump(bool half) = 0;
  // The lines that must have come before the device goes, or before
  // "Storno" when it stays (with the end mark).
  virtual int LinesBefore(bool unplug) const = 0;
  virtual void Unplug() = 0;
  virtual void Replug() = 0;
  // After a send of a whole dump: false when the exchange got other lines.
  virtual bool LoadArrivedWhole() = 0;
};

// The virtual device: the test feeds the lines and pulls the plug.
class VirtualEnd : public FarEnd {
 public:
  explicit VirtualEnd(const std::vector<std::string>& dump)
      : wire_(WireOf(dump)), load_(DumpOf(dump) + "77\r\n"), lines_(static_cast<int>(dump.size()) + 1) {
    Replug();
  }
  ~VirtualEnd() override { vdev::VirtualDevice::Unregister("COM1"); }

  void SendDump(bool half) override {
    size_t end = wire_.size();
    if (half) {
      end = 0;
      for (int n = 0; n < LinesBefore(true); ++n) end = wire_.find('\r', end) + 1;
    }
    // In pieces, as the line brings them.
    for (size_t at = 0; at < end; at += 512) device_->Feed(wire_.substr(at, std::min<size_t>(512, end - at)));
  }
  int LinesBefore(bool unplug) const override { return unplug ? lines_ / 2 : lines_; }
  void Unplug() override { device_->Unplug(); }
  // The adapter is back in its socket: the next command opens it afresh.
  void Replug() override { device_ = vdev::VirtualDevice::Register("COM1"); }
  bool LoadArrivedWhole() override {
    // The device's record of calls is the bench's, not the program's: it goes.
    device_->ClearCalls();
    return device_->TakeWritten() == load_;
  }

 private:
  std::string wire_;
  std::string load_;  // the dump as the file holds it, the end mark too
  int lines_;         // and the end mark
  std::shared_ptr<vdev::VirtualDevice> device_;
};

// The simulated exchange on a pseudo-terminal.
class PtyEnd : public FarEnd {
 public:
  PtyEnd(const QString& dumpFile, int lines) : dumpFile_(dumpFile.toStdString()), lines_(lines + 1) { Replug(); }

  void SendDump(bool) override {
    sim_->WaitFor("open");
    sim_->Command("dump");
  }
  int LinesBefore(bool unplug) const override { return unplug ? lines_ / 4 : lines_; }
  void Unplug() override { sim_->Kill(); }
  void Replug() override {
    sim_.reset();
    sim_ = std::make_unique<ExchangeSim>(std::vector<std::string>{
        "--dump", dumpFile_, "--trigger", "command", "--line-speed", "115200"});
    ::setenv("VAZUR_PORT_MAP", ("COM1=" + sim_->Path()).c_str(), 1);
  }
  bool LoadArrivedWhole() override {
    std::string verdict = sim_->WaitFor("load: ");
    if (verdict == "load: receiving") verdict = sim_->WaitFor("load: ");
    return verdict.find("equal") != std::string::npos && verdict.find("differs") == std::string::npos;
  }

 private:
  std::string dumpFile_;
  int lines_;
  std::unique_ptr<ExchangeSim> sim_;
};

class Soak {
 public:
  Soak(FarEnd& far, const QString& dir, int unplugEvery) : far_(far), dir_(dir), unplugEvery_(unplugEvery) {
    form_ = new TForm1;
    form_->show();
    QCoreApplication::processEvents();
  }
  ~Soak() { delete form_; }

  int Objects() const { return static_cast<int>(form_->findChildren<QObject*>().size()); }
  int Failures() const { return failures_; }
  int Unplugs() const { return unplugs_; }

  void Cycle(int cycle) {
    const bool unplug = unplugEvery_ > 0 && cycle % unplugEvery_ == 0;
    Receive(unplug);
    if (unplug) {
      far_.Replug();
      ++unplugs_;
    }
    Show();
    Send();
    if (!far_.LoadArrivedWhole() && !unplug) Fail("the load did not arrive whole");
  }

 private:
  QString File() const { return dir_ + QStringLiteral("/soak.nvr"); }

  void Fail(const std::string& what) {
    ++failures_;
    std::cerr << "soak_bench: " << what << "\n";
  }

  // "Přijmout", the lines, "Storno". With `unplug` the device goes part way
  // through the lines; "Storno" then saves what came.
  void Receive(bool unplug) {
    DialogAnswerer answers;
    bool timedOut = false;
    const int before = far_.LinesBefore(unplug);
    answers.Then(SaveAs(File()));
    answers.Then([&](QWidget* dialog) {
      far_.SendDump(unplug);
      When([&] { return ReceivedCount >= before; },
           [&](QWidget* d) {
             if (unplug) far_.Unplug();
             // "Storno" once the box that follows (the end, or the loss) has been answered.
             When([&, d] { return answers.Pending() == 0 && QApplication::activeModalWidget() == d; },
                  [](QWidget*) { Form3->BitBtn1->click(); }, &timedOut)(d);
           },
           &timedOut)(dialog);
    });
    answers.Then(DialogAnswerer::Press("OK"));  // "Data jsou přijata", or the loss
    form_->ToolButton1->click();
    if (timedOut || answers.Unexpected() > 0 || ReceivedCount < before || (!unplug && ReceivedCount != before))
      Fail("reception: " + std::to_string(ReceivedCount) + " lines, " + std::to_string(before) + " due" +
           answers.Told());
  }

  void Show() {
    form_->FileListBox1->Update();
    if (!form_->FileListBox1->HighlightName(QStringLiteral("soak.nvr"))) return Fail("soak.nvr is not listed");
    form_->FileListBox1Click();
  }

  // "Odeslat", the reminder, "Storno" once every line is out.
  void Send() {
    DialogAnswerer answers;
    bool timedOut = false;
    answers.Then(DialogAnswerer::Press("OK"));
    answers.Then(When([] { return Form2 && Form2->Gauge1->maximum() > 0 && Form2->Gauge1->value() == Form2->Gauge1->maximum(); },
                      [](QWidget*) { Form2->BitBtn1->click(); }, &timedOut));
    form_->ToolButton2->click();
    if (timedOut || answers.Unexpected() > 0) Fail("send" + answers.Told());
  }

  FarEnd& far_;
  QString dir_;
  int unplugEvery_;
  TForm1* form_ = nullptr;
  int failures_ = 0;
  int unplugs_ = 0;
};

int EnvInt(const char* name, int otherwise) {
  return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : otherwise;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  VazurApplication app(argc, argv);
  const int cycles = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100;
  const bool pty = argc > 2 && std::string(argv[2]) == "pty";
  QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/vazur-soak-XXXXXX"));
  QDir::setCurrent(temp.path());
  std::vector<Sample> samples;
  int failures = 0;
  try {
    const std::vector<std::string> dump = DumpLines(static_cast<size_t>(EnvInt("VAZUR_SOAK_LINES", 300)) * 54, 11);
    // The exchange's own image, outside the folder the pane shows.
    const QString image = temp.filePath(QStringLiteral("image/exchange.nvr"));
    QDir().mkpath(QFileInfo(image).absolutePath());
    WriteDumpFile(image.toStdString(), dump);
    std::unique_ptr<FarEnd> far;
    if (pty)
      far = std::make_unique<PtyEnd>(image, static_cast<int>(dump.size()));
    else
      far = std::make_unique<VirtualEnd>(dump);
    Soak soak(*far, temp.path(), EnvInt("VAZUR_SOAK_UNPLUG_EVERY", 5));
    const auto sample = [&](int cycle) {
      samples.push_back({cycle, StatusKiB("VmRSS"), HeapInUseKiB(), soak.Objects()});
      const Sample& s = samples.back();
      Print("soak_rss_kib_" + std::to_string(cycle), static_cast<double>(s.rssKiB), 0);
      Print("soak_heap_kib_" + std::to_string(cycle), s.heapKiB, 0);
      Print("soak_objects_" + std::to_string(cycle), s.objects, 0);
    };
    sample(0);
    const int half = cycles / 2;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
      soak.Cycle(cycle);
      if (cycle % 10 == 0 || cycle == half || cycle == cycles) sample(cycle);
    }
    const auto at = [&](int cycle) {
      for (const Sample& s : samples)
        if (s.cycle == cycle) return s;
      return Sample{};
    };
    const Sample mid = at(half);
    const Sample end = at(cycles);
    const double span = cycles - half;
    PrintText("soak_far_end", pty ? "pty" : "virtual");
    Print("soak_cycles", cycles, 0);
    Print("soak_unplugs", soak.Unplugs(), 0);
    Print("soak_rss_growth_kib_per_cycle", static_cast<double>(end.rssKiB - mid.rssKiB) / span, 2);
    Print("soak_heap_growth_kib_per_cycle", (end.heapKiB - mid.heapKiB) / span, 2);
    Print("soak_objects_growth_per_cycle", (end.objects - mid.objects) / span, 2);
    if (const int idle = EnvInt("VAZUR_SOAK_IDLE_SECONDS", 0); idle > 0) {
      QEventLoop loop;
      QTimer::singleShot(idle * 1000, &loop, &QEventLoop::quit);
      loop.exec();
      Print("soak_idle_seconds", idle, 0);
      Print("soak_rss_kib_after_idle", static_cast<double>(StatusKiB("VmRSS")), 0);
      Print("soak_heap_kib_after_idle", HeapInUseKiB(), 0);
    }
    // What the allocator keeps for reuse, given back.
    malloc_trim(0);
    Print("soak_rss_kib_trimmed", static_cast<double>(StatusKiB("VmRSS")), 0);
    failures = soak.Failures();
    Print("soak_failures", failures, 0);
    if (EnvInt("VAZUR_SOAK_NO_TEARDOWN", 0) != 0) std::_Exit(failures == 0 ? 0 : 1);
  } catch (const std::exception& e) {
    std::cerr << "soak_bench: " << e.what() << "\n";
    failures = -1;
  }
  QDir::setCurrent(QDir::tempPath());
  return failures == 0 ? 0 : 1;
}
