// The whole road against the simulated exchange on a pseudo-terminal: the
// real port, event thread and hand-over, the commands and their dialogs; the
// saved dump and the load are compared byte for byte with the exchange's.
#include "app/app_state.h"
#include "app/dump_text.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"
#include "serial/serial.h"
#include "tests/app/transfer_test_util.h"
#include "tools/exchange-sim/dump_image.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdlib>
#include <utility>

namespace {

using exchange_sim::GenerateImage;
using exchange_sim::GenerateOptions;
using exchange_sim::LineEnding;
using exchange_sim::Lines;

const QString kEndMessage = QStringLiteral("Data jsou přijata");

// A dump file as the tool saves it: the image's lines, the end mark line.
std::string SavedDump(const Lines& image) {
  return exchange_sim::EncodeDump(image, LineEnding::CrLf, "77");
}

class AppEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    ASSERT_TRUE(QDir::setCurrent(temp_.path()));
    form_ = new TForm1;
    form_->show();
  }
  void TearDown() override {
    delete form_;
    sim_.reset();
    ::unsetenv("VAZUR_PORT_MAP");
    QDir::setCurrent(QDir::tempPath());
  }

  void StartSim(std::vector<std::string> args) {
    sim_ = std::make_unique<ExchangeSim>(std::move(args));
    ::setenv("VAZUR_PORT_MAP", ("COM1=" + sim_->Path()).c_str(), 1);
  }

  // The exchange's verdict on the load, once the port has been closed.
  std::string LoadVerdict() {
    for (;;) {
      const std::string line = sim_->WaitFor("load: ");
      if (line != "load: receiving") return line;
    }
  }

  // The simulator saves the load just after telling its verdict.
  std::string SavedLoad(const QString& path, size_t expectedSize) {
    QTimer look;  // a file being written sends no event: look again now and then
    look.start(5);
    ProcessEventsUntil([&] { return ReadBytes(path).size() >= expectedSize; }, kPatienceMs);
    return ReadBytes(path);
  }

  QString Path(const QString& name) const { return temp_.filePath(name); }
  int LineCount() const { return form_->Memo1->LineCount(); }
  int Count(const QString& text) const {
    int n = 0;
    for (const SeenDialog& s : answers_.Seen()) n += s.text.contains(text) ? 1 : 0;
    return n;
  }

  // Receives into `file` until `lines` lines and the end message are there.
  void Receive(const QString& file, int lines) {
    answers_.Then(SaveAs(file));
    answers_.Then(When([=, this] { return LineCount() >= lines && Count(kEndMessage) > endMessages_; },
                       [](QWidget*) { Form3->BitBtn1->click(); }, &timedOut_));
    answers_.Then(DialogAnswerer::Press("OK"));  // "Data jsou přijata"
    form_->ToolButton1->click();
    ++endMessages_;
  }

  // Sends what Memo1 holds and closes the dialog when all of it went out.
  void SendAll() {
    answers_.Then(DialogAnswerer::Press("OK"));
    answers_.Then(When([] { return Form2 && Form2->Gauge1->maximum() > 0 && Form2->Gauge1->value() == Form2->Gauge1->maximum(); },
                       [](QWidget*) { Form2->BitBtn1->click(); }, &timedOut_));
    form_->ToolButton2->click();
  }

  QTemporaryDir temp_;
  QPointer<TForm1> form_;
  std::unique_ptr<ExchangeSim> sim_;
  DialogAnswerer answers_;
  bool timedOut_ = false;
  int endMessages_ = 0;
};

TEST_F(AppEndToEnd, ADumpAtTheExchangesPaceIsSavedByteForByte) {
  // Every byte value a line can hold, NUL and the unassigned ones included.
  Lines image = {"000000 0102030405 ok", std::string("NUL\0 here", 9), "\x81\x83\x88\x90\x98 unassigned",
                 "\x8a\x9a\xe8\xf8\xfd Czech", ""};
  std::string all;
  for (int b = 1; b < 256; ++b)
    if (b != '\r' && b != '\n' && b != '7') all += static_cast<char>(b);
  image.push_back(all);
  WriteBytes(Path("image.txt"), exchange_sim::EncodeDump(image, LineEnding::CrLf, ""));
  StartSim({"--dump", Path("image.txt").toStdString(), "--line-speed", "1200", "--end-mark", "77"});
  Receive(Path("paced.nvr"), static_cast<int>(image.size()) + 1);
  ASSERT_FALSE(timedOut_) << sim_->Transcript();
  EXPECT_EQ(ReadBytes(Path("paced.nvr")), SavedDump(image));
  EXPECT_EQ(Count(kEndMessage), 1);
  EXPECT_EQ(answers_.Unexpected(), 0);
}

TEST_F(AppEndToEnd, AnUnpacedDumpIsSavedByteForByte) {
  GenerateOptions options;
  options.bytes = 400 * 1024;
  options.high_bytes = true;
  const Lines image = GenerateImage(options);
  StartSim({"--generate", std::to_string(options.bytes), "--high-bytes", "--unpaced"});
  Receive(Path("fast.nvr"), static_cast<int>(image.size()) + 1);
  ASSERT_FALSE(timedOut_) << sim_->Transcript();
  EXPECT_EQ(ReadBytes(Path("fast.nvr")), SavedDump(image));
  EXPECT_EQ(ReceivedCount, static_cast<int>(image.size()) + 1);
}

TEST_F(AppEndToEnd, CrLfLineEndsGiveTheSameDump) {
  GenerateOptions options;
  options.bytes = 8000;
  const Lines image = GenerateImage(options);
  StartSim({"--generate", "8000", "--line-ending", "crlf", "--unpaced"});
  Receive(Path("crlf.txt"), static_cast<int>(image.size()) + 1);
  ASSERT_FALSE(timedOut_) << LineCount() << " of " << image.size() + 1 << " lines, buffer " << RxBuffer.size()
                          << ", dialogs " << answers_.Seen().size() << "\n" << sim_->Transcript();
  EXPECT_EQ(ReadBytes(Path("crlf.txt")), SavedDump(image));
}

// An exchange reads a load at its line's pace; what the tool wrote faster
// waits in the line's buffer. "Storno" as soon as the gauge is full closes
// the port, and still the exchange gets every line. The larger load fills
// the terminal's buffer (about 22 kB), which then takes seconds to make
// room again: longer than a write may take, here cut to 300 ms.
TEST_F(AppEndToEnd, AnExchangeThatReadsSlowlyStillGetsTheWholeLoad) {
  form_->ComPort1->Timeouts().SetWriteTotalMultiplier(0);
  form_->ComPort1->Timeouts().SetWriteTotalConstant(300);
  for (const auto& [speed, bytes] : {std::pair{"1200", 12000}, std::pair{"9600", 30000}}) {
    SCOPED_TRACE(speed);
    GenerateOptions options;
    options.bytes = bytes;
    options.high_bytes = true;
    const Lines image = GenerateImage(options);
    const std::string file = exchange_sim::EncodeDump(image, LineEnding::CrLf, "");
    WriteBytes(Path("load.nvr"), file);
    StartSim({"--generate", std::to_string(bytes), "--high-bytes", "--trigger", "command", "--line-speed", speed,
              "--save-load", Path("received-load").toStdString()});
    form_->FileListBox1->Update();
    ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("load.nvr")));
    form_->FileListBox1Click();
    QString counters, done;
    answers_.Then(DialogAnswerer::Press("OK"));
    answers_.Then(When([] { return Form2 && Form2->Label6->text().startsWith(QStringLiteral("Soubor byl celý")); },
                       [&](QWidget*) {
                         counters = Form2->Label4->text() + " z " + Form2->Label5->text();
                         done = Form2->Label6->text();
                         Form2->BitBtn1->click();
                       },
                       &timedOut_));
    form_->ToolButton2->click();
    ASSERT_FALSE(timedOut_);
    EXPECT_EQ(counters, QStringLiteral("%1 z %1").arg(image.size()));
    EXPECT_EQ(done, QStringLiteral("Soubor byl celý odeslán. Storno uzavře port."));
    const std::string verdict = LoadVerdict();
    EXPECT_NE(verdict.find("equal"), std::string::npos) << sim_->Transcript();
    EXPECT_EQ(SavedLoad(Path("received-load"), file.size()), file);
    ::unlink(Path("received-load").toLocal8Bit().constData());
  }
}

TEST_F(AppEndToEnd, AReceptionIsSentBackRightAfterwardsOnTheOpenPort) {
  GenerateOptions options;
  options.bytes = 6000;
  const Lines image = GenerateImage(options);
  StartSim({"--generate", "6000", "--unpaced", "--save-load", Path("back").toStdString()});
  Receive(Path("roundtrip.nvr"), static_cast<int>(image.size()) + 1);
  ASSERT_FALSE(timedOut_);
  ASSERT_TRUE(form_->ComPort1->Connected());
  SendAll();
  ASSERT_FALSE(timedOut_);
  const std::string verdict = LoadVerdict();
  EXPECT_NE(verdict.find("equal"), std::string::npos) << sim_->Transcript();
  EXPECT_EQ(SavedLoad(Path("back"), SavedDump(image).size()), SavedDump(image)) << "the end mark line goes back as it came";
  EXPECT_FALSE(form_->ComPort1->Connected());
}

TEST_F(AppEndToEnd, TheExchangeVanishingMidReceptionLosesNothingReceived) {
  GenerateOptions options;
  options.bytes = 4 * 1024 * 1024;
  const Lines image = GenerateImage(options);
  // Paced like a fast line: unpaced, the whole dump fits into the port's
  // receive queue before a slow (sanitized) window has shown 500 lines, and
  // the exchange would be killed after it had sent everything.
  StartSim({"--generate", std::to_string(options.bytes), "--line-speed", "1000000"});
  int shownAtLoss = -1;
  answers_.Then(SaveAs(Path("cut.nvr")));
  answers_.Then(When([this] { return LineCount() >= 500; },
                     [&](QWidget* dialog) {
                       sim_->Kill();
                       When([&] { return answers_.Seen().size() >= 3; },
                            [&](QWidget*) {
                              shownAtLoss = LineCount();
                              Form3->BitBtn1->click();
                            },
                            &timedOut_)(dialog);
                     },
                     &timedOut_));
  answers_.Then(DialogAnswerer::Press("OK"));  // the loss
  form_->ToolButton1->click();
  ASSERT_FALSE(timedOut_) << LineCount() << " lines, dialogs " << answers_.Seen().size();
  ASSERT_EQ(answers_.Seen().size(), 3u) << answers_.Told();
  ASSERT_GE(shownAtLoss, 500);
  const int saved = LineCount();
  ASSERT_GE(saved, shownAtLoss);
  ASSERT_LT(saved, static_cast<int>(image.size()));
  const Lines got(image.begin(), image.begin() + saved);
  EXPECT_EQ(ReadBytes(Path("cut.nvr")), exchange_sim::EncodeDump(got, LineEnding::CrLf, ""))
      << "every line shown is saved, and each is the exchange's";

  // The exchange is back (on a new terminal): the next Receive opens again.
  GenerateOptions small;
  small.bytes = 3000;
  const Lines again = GenerateImage(small);
  StartSim({"--generate", "3000", "--unpaced"});
  Receive(Path("again.nvr"), static_cast<int>(again.size()) + 1);
  ASSERT_FALSE(timedOut_);
  EXPECT_EQ(ReadBytes(Path("again.nvr")), SavedDump(again));
  EXPECT_EQ(answers_.Seen().size(), 6u) << "one report of the loss, no more:" << answers_.Told();
}

TEST_F(AppEndToEnd, TheExchangeVanishingMidSendIsReportedOnceAndTheNextSendWorks) {
  GenerateOptions options;
  options.bytes = 400 * 1024;
  const Lines image = GenerateImage(options);
  const std::string file = exchange_sim::EncodeDump(image, LineEnding::CrLf, "");
  WriteBytes(Path("big.nvr"), file);
  form_->FileListBox1->Update();
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("big.nvr")));
  form_->FileListBox1Click();
  StartSim({"--generate", std::to_string(options.bytes), "--trigger", "command", "--unpaced"});
  int gaugeAfterLoss = -1;
  bool killed = false;
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then([&](QWidget* dialog) {
    // The exchange goes while the loop runs, once a hundred lines are out.
    QObject::connect(Form2->Gauge1, &QProgressBar::valueChanged, dialog, [&](int value) {
      if (value >= 100 && !killed) {
        killed = true;
        sim_->Kill();
      }
    });
    When([&] { return answers_.Seen().size() >= 3; },
         [&](QWidget*) {
           gaugeAfterLoss = Form2->Gauge1->value();
           Form2->BitBtn1->click();
         },
         &timedOut_)(dialog);
  });
  answers_.Then(DialogAnswerer::Press("OK"));  // the loss
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  ASSERT_EQ(answers_.Seen().size(), 3u);
  EXPECT_LT(gaugeAfterLoss, static_cast<int>(image.size())) << "the loop stopped at the failed write";
  EXPECT_FALSE(form_->ComPort1->Connected());

  StartSim({"--generate", std::to_string(options.bytes), "--trigger", "command", "--unpaced", "--save-load",
            Path("second").toStdString()});
  SendAll();
  ASSERT_FALSE(timedOut_);
  const std::string verdict = LoadVerdict();
  EXPECT_NE(verdict.find("equal"), std::string::npos) << sim_->Transcript();
  EXPECT_EQ(SavedLoad(Path("second"), file.size()), file);
  EXPECT_EQ(answers_.Seen().size(), 5u);
}

}  // namespace
