// The program itself, measured: receptions at the exchange's real speeds
// (paced by the simulated exchange) through the "Přijmout" command, an open
// idle port, a 10 MiB dump shown in Memo1, a directory of 10,000 dump files,
// the file pane following 1,000 new files written beside it.
//   app_bench [paced] [idle] [load] [list] [watch]   (all when none is named)
// Figures as key=value lines; bench/run_all.sh makes the table.
#include "app/app_state.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/receive_dialog.h"
#include "bench/bench_util.h"
#include "serial/serial.h"
#include "tests/app/transfer_test_util.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

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

// One reception at `baud` (0: unpaced) of `lineCount` lines through the
// receive command, its dialogs answered as a user would.
void Paced(unsigned baud, size_t lineCount) {
  const std::string key = "paced_" + std::to_string(baud);
  const std::vector<std::string> lines = MakeLines(lineCount, baud);
  const QString dumpFile = g_dir + QStringLiteral("/paced_%1.txt").arg(baud);
  WriteDumpFile(dumpFile.toStdString(), lines);
  ExchangeSim sim({"--dump", dumpFile.toStdString(), "--trigger", "command", "--line-speed", std::to_string(baud)});
  ::setenv("VAZUR_PORT_MAP", ("COM1=" + sim.Path()).c_str(), 1);

  auto* form = new TForm1;
  form->show();
  const int expected = static_cast<int>(lineCount) + 1;  // and the "77" line
  double start = 0, end = 0, cpuStart = 0, cpuEnd = 0;
  bool timedOut = false;

  DialogAnswerer answers;
  answers.Then(SaveAs(g_dir + QStringLiteral("/paced_%1.nvr").arg(baud)));
  answers.Then([&](QWidget* dialog) {
    // Timing from the exchange's first byte to the tool's last line.
    QObject::connect(form->Memo1->document(), &QTextDocument::blockCountChanged, dialog, [&] {
      if (end == 0 && form->Memo1->document()->blockCount() > expected) {
        end = Now();
        cpuEnd = CpuSeconds();
      }
    });
    auto* poll = new QTimer(dialog);
    auto* deadline = new QTimer(dialog);
    deadline->setSingleShot(true);
    deadline->start(kPatienceMs);
    QObject::connect(poll, &QTimer::timeout, dialog, [&, poll, deadline, dialog] {
      const bool late = !deadline->isActive();
      if (!late && (end == 0 || QApplication::activeModalWidget() != dialog)) return;
      timedOut = late;
      poll->stop();
      Form3->BitBtn1->click();
    });
    poll->start(200);
    sim.WaitFor("open");  // the exchange has seen the port open
    cpuStart = CpuSeconds();
    start = Now();
    sim.Command("dump");
  });
  answers.Then(DialogAnswerer::Press("OK"));  // "Data jsou přijata"
  form->ToolButton1->click();

  const double seconds = end - start;
  const double wire = static_cast<double>(lineCount * (kLineLength + 1) + 3) * 10.0 / baud;
  PrintText(key + "_lines_ok", !timedOut && ReceivedCount == expected ? "yes" : "no");
  Print(key + "_line_seconds", wire);
  Print(key + "_seconds", seconds);
  Print(key + "_cpu_percent", 100.0 * (cpuEnd - cpuStart) / seconds, 2);
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

void Load() {
  const QString dir = g_dir + QStringLiteral("/load");
  QDir().mkpath(dir);
  const std::vector<std::string> lines = MakeLines(kDumpLines, 7);
  WriteDumpFile((dir + QStringLiteral("/bench.nvr")).toStdString(), lines);
  auto* form = new TForm1;
  form->show();
  form->DirectoryListBox1->SetDirectory(dir);
  form->FileListBox1->HighlightName(QStringLiteral("bench.nvr"));
  QCoreApplication::processEvents();
  const long rssBefore = StatusKiB("VmRSS");
  ResetPeakMemory();
  const double start = Now();
  form->FileListBox1Click();
  QCoreApplication::processEvents();  // and shown
  const double seconds = Now() - start;
  const double mb = static_cast<double>(QFileInfo(dir + QStringLiteral("/bench.nvr")).size()) / 1e6;
  Print("load_mb", mb, 2);
  Print("load_lines", static_cast<double>(form->Memo1->document()->blockCount() - 1), 0);
  Print("load_seconds", seconds);
  Print("load_peak_mb_per_mb", (StatusKiB("VmHWM") - rssBefore) / 1024.0 / mb, 1);
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
      Paced(1200, 1200 / 41);
      Paced(9600, 9600 / 41);
      Paced(115200, 115200 / 41);
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
