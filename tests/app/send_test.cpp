// The send command against a recording device: the reminder, the progress
// dialog and its send loop, "Storno", and what reaches the line.
#include "app/app_state.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/send_dialog.h"
#include "serial/serial.h"
#include "tests/app/form_fixture.h"
#include "tests/app/transfer_test_util.h"
#include "winapi/virtual_device.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

const QString kReminder = QStringLiteral("Na vysílači tónů nastavte \"4180\" a na CPU stiskněte tlačítko \"LOAD\" !");

class AppSend : public FormOnVirtualPort {
 protected:
  // What the dialog showed when the loop had run out.
  struct Shown {
    QString title, label2, label3, label4, label5;
    int gauge = -1, gaugeMax = -1;
  };
  // Answers the dialog: once `ready` holds, notes what it shows and presses "Storno".
  void StornoWhen(std::function<bool()> ready, Shown* shown = nullptr) {
    answers_.Then(When(std::move(ready), [shown](QWidget*) {
      if (shown) {
        *shown = {Form2->windowTitle(), Form2->Label2->text(), Form2->Label3->text(), Form2->Label4->text(),
                  Form2->Label5->text(), Form2->Gauge1->value(), Form2->Gauge1->maximum()};
      }
      Form2->BitBtn1->click();
    }, &timedOut_));
  }
  static bool AllSent() { return Form2 && Form2->Gauge1->maximum() > 0 && Form2->Gauge1->value() == Form2->Gauge1->maximum(); }
  // The first `count` lines (all by default) as they go out: each with CR LF.
  static std::string Wire(const QStringList& lines, qsizetype count = -1) {
    std::string out;
    for (qsizetype i = 0; i < (count < 0 ? lines.size() : count); ++i) out += lines[i].toStdString() + "\r\n";
    return out;
  }

  bool timedOut_ = false;
};

TEST_F(AppSend, EachLineGoesOutInOneWriteWithCrLf) {
  WriteBytes(temp_.filePath("dump.nvr"), "first\r\n\r\nthird\r\n");
  form_->FileListBox1->Update();
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("dump.nvr")));
  form_->FileListBox1Click();
  Shown shown;
  answers_.Then(DialogAnswerer::Press("OK"));
  StornoWhen(AllSent, &shown);
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);

  ASSERT_GE(answers_.Seen().size(), 2u);
  EXPECT_EQ(answers_.Seen()[0].title, QStringLiteral(" INFORMACE "));
  EXPECT_EQ(answers_.Seen()[0].text, kReminder);
  EXPECT_EQ(answers_.Seen()[0].icon, QMessageBox::Information);
  EXPECT_EQ(shown.title, QStringLiteral("Odesílání souboru do TÚ"));
  EXPECT_EQ(shown.label2, QDir::toNativeSeparators(temp_.filePath("dump.nvr")));
  EXPECT_EQ(shown.label3, QStringLiteral("Věta            z"));
  EXPECT_EQ(shown.label4, QStringLiteral("3")) << "the last line reads \"Věta N z N\"";
  EXPECT_EQ(shown.label5, QStringLiteral("3"));
  EXPECT_EQ(shown.gauge, 3);

  std::vector<std::string> writes;
  for (const vdev::Call& call : device_->Calls())
    if (call.name == "WriteFile") writes.push_back(call.data);
  EXPECT_EQ(writes, (std::vector<std::string>{"first\r\n", "\r\n", "third\r\n"}));
  EXPECT_FALSE(form_->ComPort1->Connected()) << "\"Storno\" closes the port";
  EXPECT_FALSE(Sending);
  EXPECT_EQ(Form2, nullptr);
  EXPECT_EQ(answers_.Unexpected(), 0);
}

// On a UART or USB adapter the gauge moves with the line: when the dialog
// says the load is out, every byte has left the port's queue, and the close
// that follows throws none away.
TEST_F(AppSend, OnALineThatShowsItsQueueSentMeansOut) {
  QStringList lines;
  for (int i = 0; i < 40; ++i) lines << QStringLiteral("0%1: 3A 77 0F 12 C4 77 9B 00").arg(i);
  form_->Memo1->setText(lines.join('\n'));
  device_->PaceLine(20000, 64, true);
  std::string outWhenDone;
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(When([] { return Form2 && Form2->Label6->isVisible(); },
                     [&](QWidget*) {
                       outWhenDone = device_->TakeWritten();
                       Form2->BitBtn1->click();
                     },
                     &timedOut_));
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  EXPECT_EQ(outWhenDone, Wire(lines));
  EXPECT_EQ(device_->Discarded(), 0u);
}

// "Storno" acts at the next line: no line begins after the press, and one
// that is going out at the press (the window stays live while it does)
// goes out whole before the port closes.
TEST_F(AppSend, StornoInTheMiddleStopsTheWritingButTheGaugeRunsOut) {
  QStringList lines;
  for (int i = 0; i < 200; ++i) lines << QStringLiteral("line %1").arg(i, 3, 10, QLatin1Char('0'));
  form_->Memo1->setText(lines.join('\n'));
  device_->PaceLine(2000, 4, true);  // a UART: each line takes 5 ms to leave
  int writesAtPress = -1;
  bool closedEarly = true;
  int gaugeAtEnd = -1;
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(When([] { return Form2->Gauge1->value() >= 20; },
                     [&](QWidget* dialog) {
                       writesAtPress = device_->CountOf("WriteFile");
                       QObject::connect(qobject_cast<QDialog*>(dialog), &QDialog::finished, dialog,
                                        [&] { gaugeAtEnd = Form2->Gauge1->value(); });
                       Form2->BitBtn1->click();
                       closedEarly = !dialog->isVisible();
                       Form2->BitBtn1->click();  // twice: nothing more happens
                     },
                     &timedOut_));
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  device_->WaitUntilSent();
  const int written = device_->CountOf("WriteFile");
  EXPECT_EQ(written, writesAtPress) << "no line begins after the press";
  EXPECT_LT(written, 200);
  EXPECT_EQ(device_->TakeWritten(), Wire(lines, written)) << "the line going out at the press went out whole";
  EXPECT_EQ(device_->Discarded(), 0u);
  EXPECT_FALSE(closedEarly) << "the dialog stays until the loop has run out";
  EXPECT_EQ(gaugeAtEnd, 200);
  EXPECT_FALSE(form_->ComPort1->Connected());
}

// A busy exchange holds the line (flow control, a full buffer) for longer
// than a write may take: the rest of the line waits for it, nothing is cut
// and nothing reported, and the dialog says why it stands still.
TEST_F(AppSend, AnExchangeThatHoldsTheLineGetsEveryLineOnceItLetsGo) {
  QStringList lines;
  for (int i = 0; i < 30; ++i) lines << QStringLiteral("%1: 3A 77 0F 12 C4 77 9B 00").arg(0x7700 + i * 16, 4, 16);
  form_->Memo1->setText(lines.join('\n'));
  form_->ComPort1->Timeouts().SetWriteTotalMultiplier(0);
  form_->ComPort1->Timeouts().SetWriteTotalConstant(50);  // a held write gives up after 50 ms
  device_->PaceLine(20000, 16, true);
  int writesAtHold = 0;
  QString heldText;
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then([&](QWidget* dialog) {
    When([] { return Form2->Gauge1->value() >= 10; },
         [&](QWidget*) {
           device_->HoldLine(true);
           writesAtHold = device_->CountOf("WriteFile");
         })(dialog);
    // Several write time-outs later.
    When([&] { return writesAtHold > 0 && device_->CountOf("WriteFile") >= writesAtHold + 4; },
         [&](QWidget*) {
           heldText = Form2->Label6->isVisible() ? Form2->Label6->text() : QString();
           device_->HoldLine(false);
         })(dialog);
    When([] { return Form2->Label6->text().startsWith(QStringLiteral("Soubor byl celý")); },
         [](QWidget*) { Form2->BitBtn1->click(); }, &timedOut_)(dialog);
  });
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  EXPECT_EQ(heldText, QStringLiteral("Ústředna zatím nepřijímá, čeká se na ni."));
  device_->WaitUntilSent();
  EXPECT_EQ(device_->TakeWritten(), Wire(lines));
  EXPECT_EQ(answers_.Seen().size(), 2u) << "no report";

  // "Storno" while the exchange holds the line: the send ends at that line
  // at once, whatever the write's time-out, with one report of what the
  // exchange got of it, and the dialog goes.
  form_->ComPort1->Timeouts().SetWriteTotalConstant(200);
  device_->TakeWritten();
  QString heldLine;
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(When([] { return Form2->Gauge1->value() >= 10; },
                     [&](QWidget* dialog) {
                       device_->HoldLine(true);
                       When([] { return Form2->Label6->isVisible(); },
                            [&](QWidget* dialog) {
                              // From the next write on, a time-out past the test's patience.
                              form_->ComPort1->Timeouts().SetWriteTotalConstant(kPatienceMs + 60000);
                              writesAtHold = device_->CountOf("WriteFile");
                              When([&] { return device_->CountOf("WriteFile") > writesAtHold; },
                                   [&](QWidget*) {
                                     heldLine = Form2->Label4->text();
                                     Form2->BitBtn1->click();
                                   },
                                   &timedOut_)(dialog);
                            },
                            &timedOut_)(dialog);
                     },
                     &timedOut_));
  answers_.Then(DialogAnswerer::Press("OK"));
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  ASSERT_EQ(answers_.Seen().size(), 5u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[4].title, QStringLiteral(" CHYBA "));
  // The report's count is what reached the line.
  device_->HoldLine(false);
  device_->WaitUntilSent();
  const int line = heldLine.toInt();
  const std::string before = Wire(lines, line);
  const std::string got = device_->TakeWritten();
  ASSERT_EQ(got.substr(0, before.size()), before);
  const size_t taken = got.size() + device_->Discarded() - before.size();
  EXPECT_EQ(answers_.Seen()[4].text, QStringLiteral("Věta %1 nebyla odeslána celá: port převzal %2 z %3 bajtů.")
                                         .arg(line + 1)
                                         .arg(taken)
                                         .arg(lines[line].size() + 2));
  EXPECT_EQ(Form2, nullptr) << "one Storno ends it";
  EXPECT_FALSE(form_->ComPort1->Connected());
}

TEST_F(AppSend, ALineWithACharacterTheExchangeCannotTakeStopsTheSendBeforeAnything) {
  form_->Memo1->setText(QStringLiteral("fine\nšipka → tady\nfine\n"));
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(DialogAnswerer::Press("OK"));
  form_->ToolButton2->click();
  ASSERT_EQ(answers_.Seen().size(), 2u);
  const SeenDialog& error = answers_.Seen()[1];
  EXPECT_EQ(error.title, QStringLiteral(" CHYBA "));
  EXPECT_TRUE(error.text.startsWith(QStringLiteral("Řádek 2 obsahuje na pozici 7 znak „→“ (U+2192)"))) << error.text.toStdString();
  EXPECT_TRUE(error.text.contains(QStringLiteral("Nic nebylo odesláno.")));
  EXPECT_EQ(device_->CountOf("CreateFile"), 0);
  EXPECT_EQ(device_->CountOf("WriteFile"), 0);
}

// Shift+Enter, or a pasted U+2028 / U+2029, breaks a line as Enter does: no
// invisible character the exchange's code page lacks stops the send.
TEST_F(AppSend, ShiftEnterAndPastedSeparatorsBreakLines) {
  TMemo& memo = *form_->Memo1;
  memo.setText(QStringLiteral("a"));
  memo.setFocus();
  memo.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
  QTest::keyClick(memo.viewport(), Qt::Key_Return, Qt::ShiftModifier);
  QTest::keyClicks(memo.viewport(), QStringLiteral("b"));
  memo.insertAt(QStringLiteral("\u2028c\u2029d"), 1, 1);
  ASSERT_EQ(memo.text(), QStringLiteral("a\nb\u2028c\u2029d"));
  answers_.Then(DialogAnswerer::Press("OK"));
  StornoWhen(AllSent);
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  EXPECT_EQ(device_->TakeWritten(), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(memo.LineCount(), 4);
}

TEST_F(AppSend, AnEmptyPaneSaysThereIsNothingToSend) {
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(DialogAnswerer::Press("OK"));
  form_->ToolButton2->click();
  ASSERT_EQ(answers_.Seen().size(), 2u);
  EXPECT_EQ(answers_.Seen()[0].text, kReminder);
  EXPECT_EQ(answers_.Seen()[1].title, QStringLiteral("Vazur"));
  EXPECT_EQ(answers_.Seen()[1].icon, QMessageBox::NoIcon);
  EXPECT_TRUE(answers_.Seen()[1].text.startsWith(QStringLiteral("V okně není žádná věta, není co odeslat.")));
  EXPECT_EQ(device_->CountOf("CreateFile"), 0);
}

// The message keeps its words; where the system said why, a second line
// tells it: no such port, or one that another program holds.
TEST_F(AppSend, APortThatCannotBeOpenedSendsNothingAndSaysWhy) {
  form_->Memo1->setText(QStringLiteral("a\n"));
  const std::pair<DWORD, QString> cases[] = {
      {ERROR_FILE_NOT_FOUND, QStringLiteral("Port COM1 v počítači není")},
      {ERROR_ACCESS_DENIED, QStringLiteral("Port COM1 používá jiný program")},
      {ERROR_GEN_FAILURE, QString()},
  };
  for (const auto& [error, reason] : cases) {
    device_->FailCall("CreateFile", error);
    answers_.Then(DialogAnswerer::Press("OK"));
    answers_.Then(DialogAnswerer::Press("OK"));
    form_->ToolButton2->click();
    const SeenDialog& box = answers_.Seen().back();
    const QStringList lines = box.text.split(QLatin1Char('\n'));
    EXPECT_EQ(lines[0], QStringLiteral("Port nelze otevřít, upravte nastavení!"));
    if (reason.isEmpty())
      EXPECT_EQ(lines.size(), 1) << box.text.toStdString();
    else
      EXPECT_TRUE(lines.size() == 2 && lines[1].startsWith(reason)) << box.text.toStdString();
    EXPECT_EQ(box.title, QStringLiteral("Vazur"));
    EXPECT_EQ(Form2, nullptr);
  }
  EXPECT_EQ(answers_.Seen().size(), 6u);
  EXPECT_EQ(device_->CountOf("WriteFile"), 0);
}

// A stray keystroke in a shown dump: the status bar says that the pane
// differs from its file, and so does the send dialog; undone, neither does.
TEST_F(AppSend, ATextChangedInTheWindowIsSaidToBeSo) {
  WriteBytes(temp_.filePath("dump.nvr"), "0000 A1\r\n0010 B2\r\n");
  form_->FileListBox1->Update();
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("dump.nvr")));
  form_->FileListBox1Click();
  form_->StatusBar1Panel0->setText(QStringLiteral("předtím"));
  TMemo& memo = *form_->Memo1;
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_));
  memo.setFocus();
  PressKey(Qt::Key_X);
  const QString path = QDir::toNativeSeparators(temp_.filePath("dump.nvr"));
  EXPECT_EQ(form_->StatusBar1Panel0->text(),
            QStringLiteral("Text v okně byl upraven a liší se od souboru %1; Odeslat vyšle text z okna.").arg(path));

  Shown shown;
  answers_.Then(DialogAnswerer::Press("OK"));
  StornoWhen(AllSent, &shown);
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  EXPECT_TRUE(shown.label2.endsWith(QStringLiteral(" (text změněn v okně)"))) << shown.label2.toStdString();
  EXPECT_TRUE(shown.label2.startsWith(path.left(4))) << shown.label2.toStdString();
  EXPECT_EQ(device_->TakeWritten(), "x0000 A1\r\n0010 B2\r\n");

  memo.setFocus();
  PressKey(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(memo.text(), QStringLiteral("0000 A1\n0010 B2\n"));
  EXPECT_EQ(form_->StatusBar1Panel0->text(), QStringLiteral("předtím"));
  answers_.Then(DialogAnswerer::Press("OK"));
  StornoWhen(AllSent, &shown);
  form_->ToolButton2->click();
  EXPECT_EQ(shown.label2, path);
  EXPECT_EQ(answers_.Unexpected(), 0) << answers_.Told();
}

// A file saved as UTF-8 (Czech letters as several bytes, or a byte order
// mark) is not what the exchange reads: the send asks first, "Ne" being
// the default, and nothing goes out unless the answer is "Ano".
TEST_F(AppSend, AUtf8FileAsksBeforeAnythingIsSent) {
  WriteBytes(temp_.filePath("editor.txt"), "0000 P\xC5\x99\xC3\xADjem\r\n");
  WriteBytes(temp_.filePath("bom.txt"), "\xEF\xBB\xBF" "0000 A1\r\n");
  WriteBytes(temp_.filePath("vypis.nvr"), "0000 P\xF8\xEDjem\r\n");  // Windows-1250
  form_->FileListBox1->Update();
  auto show = [&](const QString& name) {
    ASSERT_TRUE(form_->FileListBox1->HighlightName(name));
    form_->FileListBox1Click();
  };

  show(QStringLiteral("editor.txt"));
  QStringList buttons;
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then([&](QWidget* box) {
    buttons = answers_.Seen().back().buttons;
    QTest::keyClick(box, Qt::Key_Return);  // the default
  });
  form_->ToolButton2->click();
  ASSERT_EQ(answers_.Seen().size(), 2u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[1].title, QStringLiteral(" DOTAZ "));
  EXPECT_TRUE(answers_.Seen()[1].text.contains(QStringLiteral("UTF-8"))) << answers_.Told();
  EXPECT_EQ(buttons, QStringList({"Ano", "Ne"}));
  EXPECT_EQ(device_->CountOf("CreateFile"), 0);

  show(QStringLiteral("bom.txt"));
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(DialogAnswerer::Press("Ano"));
  StornoWhen(AllSent);
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  EXPECT_EQ(device_->TakeWritten(), "\xEF\xBB\xBF" "0000 A1\r\n") << "sent as it stands";

  show(QStringLiteral("vypis.nvr"));
  answers_.Then(DialogAnswerer::Press("OK"));
  StornoWhen(AllSent);
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  EXPECT_EQ(device_->TakeWritten(), "0000 P\xF8\xEDjem\r\n");
  EXPECT_EQ(answers_.Seen().size(), 7u) << answers_.Told();
  EXPECT_EQ(answers_.Unexpected(), 0) << answers_.Told();
}

TEST_F(AppSend, AFailedWriteIsReportedAndTheDialogWaitsForStorno) {
  form_->Memo1->setText(QStringLiteral("a\nb\nc\n"));
  device_->FailCall("WriteFile", ERROR_GEN_FAILURE, 1);
  answers_.Then(DialogAnswerer::Press("OK"));
  bool sendingAfterFailure = false;
  answers_.Then(When([&] { return answers_.Seen().size() == 3; },
                     [&](QWidget*) {
                       sendingAfterFailure = Sending;
                       Form2->BitBtn1->click();
                     },
                     &timedOut_));
  answers_.Then(DialogAnswerer::Press("OK"));  // the report
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  ASSERT_EQ(answers_.Seen().size(), 3u);
  EXPECT_EQ(answers_.Seen()[2].text, QStringLiteral("WriteFile function failed (win error code: 31)"));
  EXPECT_TRUE(sendingAfterFailure);
  EXPECT_EQ(device_->TakeWritten(), "") << "the loop left at the first line";
  EXPECT_FALSE(form_->ComPort1->Connected());
}

// A refused write and a lost device both stop the send: while the report
// is up and after it, the dialog says so and what "Storno" does, instead of
// still saying that the file is going out.
TEST_F(AppSend, AStoppedSendSaysSoInTheDialog) {
  QStringList lines;
  for (int i = 0; i < 100; ++i) lines << QStringLiteral("line %1").arg(i);
  form_->Memo1->setText(lines.join('\n'));
  device_->PaceLine(2000, 4, true);  // each line takes a few milliseconds to leave
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"a refused write", [this] { device_->FailCall("WriteFile", ERROR_GEN_FAILURE, 1); }},
      {"a lost device", [this] { device_->Unplug(); }},
  };
  for (const auto& [what, fail] : cases) {
    SCOPED_TRACE(what);
    const size_t seen = answers_.Seen().size();
    QString caption, stateDuringReport, stateAtStorno;
    bool reported = false;
    answers_.Then(DialogAnswerer::Press("OK"));
    answers_.Then([&](QWidget* dialog) {
      When([] { return Form2->Gauge1->value() >= 5; }, [&](QWidget*) { fail(); })(dialog);
      When([&] { return reported; },
           [&](QWidget*) {
             stateAtStorno = Form2->Label6->isVisible() ? Form2->Label6->text() : QString();
             Form2->BitBtn1->click();
           },
           &timedOut_)(dialog);
    });
    answers_.Then([&](QWidget* box) {  // the report
      caption = Form2->Label1->text();
      stateDuringReport = Form2->Label6->isVisible() ? Form2->Label6->text() : QString();
      DialogAnswerer::PressButton(box, QStringLiteral("OK"));
      reported = true;
    });
    form_->ToolButton2->click();
    ASSERT_FALSE(timedOut_);
    ASSERT_EQ(answers_.Seen().size(), seen + 3) << answers_.Told();
    EXPECT_EQ(answers_.Seen()[seen + 2].icon, QMessageBox::Critical);
    EXPECT_NE(caption, QStringLiteral("Vysílá se soubor:"));
    EXPECT_EQ(stateDuringReport, QStringLiteral("Vysílání bylo přerušeno. Storno uzavře port."));
    EXPECT_EQ(stateAtStorno, stateDuringReport);
    EXPECT_EQ(Form2, nullptr);
    EXPECT_FALSE(form_->ComPort1->Connected());
  }
}

TEST_F(AppSend, TheDeviceVanishingMidSendIsReportedOnceAndTheNextSendReopens) {
  QStringList lines;
  for (int i = 0; i < 100; ++i) lines << QStringLiteral("line %1").arg(i);
  form_->Memo1->setText(lines.join('\n'));
  device_->PaceLine(2000, 4, true);  // each line takes a few milliseconds to leave
  answers_.Then(DialogAnswerer::Press("OK"));
  int gaugeAtLoss = -1;
  answers_.Then([&](QWidget* dialog) {
    // Pulled while the loop runs, after the tenth line or so; as on Windows,
    // the gone device then refuses even the purge of the close.
    When([] { return Form2->Gauge1->value() >= 10; },
         [&](QWidget*) {
           device_->FailCall("PurgeComm", ERROR_ACCESS_DENIED);
           device_->Unplug();
         })(dialog);
    // "Storno" only once the loss has been told.
    When([&] { return answers_.Seen().size() >= 3; },
         [&](QWidget*) {
           gaugeAtLoss = Form2->Gauge1->value();
           Form2->BitBtn1->click();
         },
         &timedOut_)(dialog);
  });
  answers_.Then(DialogAnswerer::Press("OK"));  // the loss
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  ASSERT_EQ(answers_.Seen().size(), 3u);
  EXPECT_EQ(answers_.Seen()[2].title, QStringLiteral(" CHYBA "));
  EXPECT_TRUE(answers_.Seen()[2].text.contains(QStringLiteral("portu COM1")));
  const int written = device_->CountOf("WriteFile");
  EXPECT_GE(gaugeAtLoss, 10);
  EXPECT_LT(gaugeAtLoss, 100);
  EXPECT_EQ(written, gaugeAtLoss + 1) << "the loop stops at the failed write";
  EXPECT_TRUE(answers_.Seen()[2].text.contains(QStringLiteral("u věty %1 z 100").arg(written)))
      << answers_.Seen()[2].text.toStdString();

  auto fresh = vdev::VirtualDevice::Register("COM1");
  answers_.Then(DialogAnswerer::Press("OK"));
  StornoWhen(AllSent);
  form_->ToolButton2->click();
  ASSERT_FALSE(timedOut_);
  EXPECT_EQ(fresh->CountOf("WriteFile"), 100);
  EXPECT_EQ(answers_.Seen().size(), 5u) << "no further report of the old loss";
}

}  // namespace
