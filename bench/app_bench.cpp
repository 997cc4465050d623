// The program itself, measured: receptions at the exchange's real speeds
// (paced by the simulated exchange) through the "Přijmout" command beside a
// plain blocking read of the same line, an open idle port, a 10 MiB and a
// 100 kB dump shown in Memo1, a directory of 10,000 dump files, the file
// pane following 1,000 new files written beside it.
//   app_bench [paced] [idle] [load] [list] [watch]   (all when none is named)
// VAZUR_BENCH_BAUD=1200 runs one speed only, VAZUR_BENCH_PACED_SECONDS=5
// shortens each reception (10 s of line time by default).
// Figures as key=value lines; bench/run_all.sh makes the table.
#include "app/app_state.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/receive_dialog.h"
#include "bench/bench_util.h"
#include "serial/serial.h"
#include "tests/app/transfer_test_util.h"

#include <sys/stat.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <iostream>
#include <set>
#include <thread>

using namespace bench;

namespace {

QString g_dir;

// Runs the event loop for `seconds` (the process sleeps in it).
void RunEventLoopFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

// One reception at `baud` of about `seconds` of line time through the
// receive command, its dialogs answered as a user would; before it, the
// same dump read by a plain blocking read() loop on the same kind of
// pseudo-terminal. CPU is this process's, all threads, over the reception.
void Paced(unsigned baud, double seconds) {
  const std::string key = "paced_" + std::to_string(baud);
  const std::vector<std::string> lines = DumpLines(static_cast<size_t>(seconds * baud / 10), baud);
  const std::string wire = WireOf(lines);
  const double lineSeconds = static_cast<double>(wire.size()) * 10.0 / baud;
  const QString dumpFile = g_dir + QStringLiteral("/paced_%1.txt").arg(baud);
  WriteDumpFile(dumpFile.toStdString(), lines);
  ExchangeSim sim({"--dump", dumpFile.toStdString(), "--trigger", "command", "--line-speed", std::to_string(baud)});
  ::setenv("VAZUR_PORT_MAP", ("COM1=" + sim.Path()).c_str(), 1);

  {
    const int fd = OpenRaw(sim.Path());
    sim.WaitFor("open");
    const PlainRun plain = PlainRead(fd, wire, [&] { sim.Command("dump"); });
    ::close(fd);
    sim.WaitFor("closed");
    PrintText(key + "_plain_equal", plain.equal ? "yes" : "no");
    Print(key + "_plain_seconds", plain.seconds);
    Print(key + "_plain_cpu_percent", 100.0 * plain.cpuSeconds / plain.seconds, 3);
    Print(key + "_plain_wakes_per_s", static_cast<double>(plain.sleeps) / plain.seconds, 0);
  }

  auto* form = new TForm1;
  form->show();
  // The technician sets the exchange's speed.
  form->ComPort1->SetBaudRate(baud == 1200 ? br1200 : baud == 9600 ? br9600 : br115200);
  QCoreApplication::processEvents();
  const int expected = static_cast<int>(lines.size()) + 1;  // and the "77" line
  double start = 0, end = 0, cpuStart = 0, cpuEnd = 0;
  long sleepsStart = 0, sleepsEnd = 0;
  bool timedOut = false;

  DialogAnswerer answers;
  answers.Then(SaveAs(g_dir + QStringLiteral("/paced_%1.nvr").arg(baud)));
  answers.Then([&](QWidget* dialog) {
    // Seldom, so that the measuring costs nothing worth counting.
    auto* poll = new QTimer(dialog);
    auto* deadline = new QTimer(dialog);
    deadline->setSingleShot(true);
    deadline->start(static_cast<int>(lineSeconds * 1000) + kPatienceMs);
    QObject::connect(poll, &QTimer::timeout, dialog, [&, poll, deadline, dialog] {
      const bool late = !deadline->isActive();
      if (end == 0 && ReceivedCount >= expected) {
        end = Now();
        cpuEnd = CpuSeconds();
        sleepsEnd = Sleeps();
      }
      if (!late && (end == 0 || QApplication::activeModalWidget() != dialog)) return;
      timedOut = late;
      poll->stop();
      Form3->BitBtn1->click();
    });
    poll->start(250);
    sim.WaitFor("open");  // the exchange has seen the port open
    cpuStart = CpuSeconds();
    sleepsStart = Sleeps();
    start = Now();
    sim.Command("dump");
  });
  answers.Then(DialogAnswerer::Press("OK"));  // "Data jsou přijata"
  form->ToolButton1->click();

  PrintText(key + "_lines_ok", !timedOut && ReceivedCount == expected ? "yes" : "no");
  Print(key + "_line_seconds", lineSeconds);
  Print(key + "_seconds", end - start);
  Print(key + "_cpu_percent", 100.0 * (cpuEnd - cpuStart) / (end - start), 3);
  Print(key + "_wakes_per_s", static_cast<double>(sleepsEnd - sleepsStart) / (end - start), 0);
  form->ComPort1->Close();
  delete form;
}

void Idle() {
  ExchangeSim sim({"--generate", "1000", "--trigger", "command"});
  ::setenv("VAZUR_PORT_MAP", ("COM1=" + sim.Path()).c_str(), 1);
  auto* form = new TForm1;
  form->show();
  form->ComPort1->Open();
  RunEventLoopFor(1);  // settle
  const double cpuStart = CpuSeconds();
  const double start = Now();
  RunEventLoopFor(10);
  const double cpu = CpuSeconds() - cpuStart;
  Print("idle_seconds", Now() - start);
  Print("idle_cpu_ms", cpu * 1000, 1);
  form->ComPort1->Close();
  delete form;
}

// Reads a whole file with plain read() calls, the floor for showing one:
// seconds, and the growth of the peak resident set in KiB.
std::pair<double, long> PlainFileRead(const QString& path) {
  ResetPeakMemory();
  const long before = StatusKiB("VmRSS");
  const double start = Now();
  const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  std::string bytes;
  if (fd >= 0 && ::fstat(fd, &st) == 0) bytes.reserve(static_cast<size_t>(st.st_size));
  std::vector<char> chunk(1 << 16);
  for (ssize_t n; fd >= 0 && (n = ::read(fd, chunk.data(), chunk.size())) > 0;)
    bytes.append(chunk.data(), static_cast<size_t>(n));
  if (fd >= 0) ::close(fd);
  const double seconds = Now() - start;
  return {seconds, StatusKiB("VmHWM") - before};
}

// Clicks a dump in the file list and lets the pane show it: seconds.
double ShowDump(TForm1& form, const QString& name) {
  form.FileListBox1->HighlightName(name);
  QCoreApplication::processEvents();
  const double start = Now();
  form.FileListBox1Click();
  QCoreApplication::processEvents();  // and shown
  return Now() - start;
}

// A 10 MiB dump and a 100 kB one shown in Memo1 by a click in the file list,
// beside reading the same file with plain read() calls.
void Load() {
  const QString dir = g_dir + QStringLiteral("/load");
  QDir().mkpath(dir);
  WriteDumpFile((dir + QStringLiteral("/bench.nvr")).toStdString(), DumpLines(kDumpBytes, 7));
  WriteDumpFile((dir + QStringLiteral("/small.nvr")).toStdString(), DumpLines(100000, 8));
  WriteDumpFile((dir + QStringLiteral("/other.nvr")).toStdString(), DumpLines(1000, 9));
  auto* form = new TForm1;
  form->show();
  form->DirectoryListBox1->SetDirectory(dir);
  QCoreApplication::processEvents();

  // The small one many times (each click reads the file again), after
  // another file each time, so that every click replaces the pane's text.
  std::vector<double> small, smallPlain;
  for (int i = 0; i < 21; ++i) {
    ShowDump(*form, QStringLiteral("other.nvr"));
    small.push_back(ShowDump(*form, QStringLiteral("small.nvr")));
    smallPlain.push_back(PlainFileRead(dir + QStringLiteral("/small.nvr")).first);
  }
  std::sort(small.begin(), small.end());
  std::sort(smallPlain.begin(), smallPlain.end());
  Print("load_small_kb", static_cast<double>(QFileInfo(dir + QStringLiteral("/small.nvr")).size()) / 1e3, 1);
  Print("load_small_ms", small[small.size() / 2] * 1000, 2);
  Print("load_small_worst_ms", small.back() * 1000, 2);
  Print("load_small_plain_ms", smallPlain[smallPlain.size() / 2] * 1000, 3);

  ShowDump(*form, QStringLiteral("other.nvr"));
  const auto [plain, plainPeakKiB] = PlainFileRead(dir + QStringLiteral("/bench.nvr"));
  ResetPeakMemory();
  const long rssBefore = StatusKiB("VmRSS");
  const double seconds = ShowDump(*form, QStringLiteral("bench.nvr"));
  const double mib = static_cast<double>(QFileInfo(dir + QStringLiteral("/bench.nvr")).size()) / 1024.0 / 1024.0;
  Print("load_mib", mib, 2);
  Print("load_seconds", seconds);
  Print("load_plain_seconds", plain, 4);
  Print("load_plain_peak_mib_per_mib", plainPeakKiB / 1024.0 / mib, 2);
  Print("load_peak_mib_per_mib", (StatusKiB("VmHWM") - rssBefore) / 1024.0 / mib, 2);
  delete form;
}

void List() {
  const QString dir = g_dir + QStringLiteral("/many");
  QDir().mkpath(dir);
  for (int i = 0; i < 10000; ++i) {
    QFile f(dir + QStringLiteral("/dump%1.%2").arg(i, 5, 10, QLatin1Char('0')).arg(i % 2 ? "txt" : "nvr"));
    f.open(QIODevice::WriteOnly);
    f.write("000000\r\n");
  }
  auto* form = new TForm1;
  form->show();
  QCoreApplication::processEvents();
  const double start = Now();
  form->DirectoryListBox1->SetDirectory(dir);
  QCoreApplication::processEvents();
  const double seconds = Now() - start;
  Print("list_files", form->FileListBox1->count(), 0);
  Print("list_seconds", seconds);
  delete form;
}

double MainThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// `count` new dump files written into the folder the pane shows by another
// thread, `pauseUs` apart (0: as fast as it can, like a local copy): how many
// times the pane re-read, how long after the last file the list was whole,
// and the main thread's CPU time for all of it (the watcher's events and the
// re-reads). Then the time of one re-read that finds a file more, and of one
// that finds nothing changed, in a folder of `count` files.
void Watch(const std::string& key, int count, int pauseUs) {
  const QString dir = g_dir + QStringLiteral("/") + QString::fromStdString(key);
  QDir().mkpath(dir);
  auto* form = new TForm1;
  form->show();
  form->DirectoryListBox1->SetDirectory(dir);
  QCoreApplication::processEvents();
  int rereads = 0;
  QObject::connect(form->DirectoryListBox1, &TDirectoryListBox::Refreshed, [&] { ++rereads; });

  std::atomic<double> lastWritten{0};
  const double cpuStart = MainThreadCpuSeconds();
  const double start = Now();
  std::thread writer([&] {
    for (int i = 0; i < count; ++i) {
      std::ofstream((dir + QStringLiteral("/dump%1.nvr").arg(i, 5, 10, QLatin1Char('0'))).toStdString(),
                    std::ios::binary)
          << "000000\r\n";
      if (pauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
    }
    lastWritten = Now();
  });
  const bool whole =
      ProcessEventsUntil([&] { return lastWritten > 0 && form->FileListBox1->count() == count; }, 60000);
  const double shown = Now();
  const double cpu = MainThreadCpuSeconds() - cpuStart;
  writer.join();
  const int rereadsToWhole = rereads;
  RunEventLoopFor(2);  // anything still to come would come now

  PrintText(key + "_whole", whole ? "yes" : "no");
  Print(key + "_files", count, 0);
  Print(key + "_write_seconds", lastWritten - start);
  Print(key + "_rereads", rereadsToWhole, 0);
  Print(key + "_rereads_later", rereads - rereadsToWhole, 0);
  Print(key + "_whole_after_last_ms", (shown - lastWritten) * 1000, 0);
  Print(key + "_main_cpu_ms", cpu * 1000, 1);

  // One re-read by itself, with a file more and with nothing new.
  constexpr int kRounds = 20;
  double changed = 0, unchanged = 0;
  for (int i = 0; i < kRounds; ++i) {
    const QString extra = dir + QStringLiteral("/extra%1.txt").arg(i);
    QFile(extra).open(QIODevice::WriteOnly);
    double t = Now();
    form->DirectoryListBox1->Refresh();
    changed += Now() - t;
    t = Now();
    form->DirectoryListBox1->Refresh();
    unchanged += Now() - t;
  }
  Print(key + "_reread_changed_ms", changed * 1000 / kRounds, 1);
  Print(key + "_reread_unchanged_ms", unchanged * 1000 / kRounds, 1);
  delete form;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  VazurApplication app(argc, argv);
  std::set<std::string> parts(argv + 1, argv + argc);
  const auto wanted = [&](const char* part) { return parts.empty() || parts.count(part) > 0; };
  QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/vazur-bench-XXXXXX"));
  g_dir = temp.path();
  QDir::setCurrent(g_dir);
  try {
    if (wanted("paced")) {
      // About ten seconds of line time at each speed.
      const double seconds = qEnvironmentVariableIsSet("VAZUR_BENCH_PACED_SECONDS")
                                 ? qEnvironmentVariable("VAZUR_BENCH_PACED_SECONDS").toDouble()
                                 : 10;
      for (const char* baud : {"1200", "9600", "115200"})
        if (!qEnvironmentVariableIsSet("VAZUR_BENCH_BAUD") || qEnvironmentVariable("VAZUR_BENCH_BAUD") == baud)
          Paced(static_cast<unsigned>(std::atoi(baud)), seconds);
    }
    if (wanted("idle")) Idle();
    if (wanted("load")) Load();
    if (wanted("list")) List();
    if (wanted("watch")) {
      Watch("watch_burst", 1000, 0);
      Watch("watch_spread", 1000, 3000);  // about three seconds
    }
  } catch (const std::exception& e) {
    std::cerr << "app_bench: " << e.what() << "\n";
    return 1;
  }
  QDir::setCurrent(QDir::tempPath());
  return 0;
}
