// The receive command against a recording device: the save dialog, the
// characters-received handler, the receive dialog and the dump it saves.
#include "app/app_state.h"
#include "app/dump_text.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"
#include "serial/serial.h"
#include "tests/app/form_fixture.h"
#include "tests/app/memo_lines.h"
#include "tests/app/transfer_test_util.h"
#include "winapi/virtual_device.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QKeyEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

namespace {

const QString kEndMessage = QStringLiteral("Data jsou přijata");

class AppReceive : public FormOnVirtualPort {
 protected:
  QStringList Lines() const { return MemoLines(*form_->Memo1); }
  int Count(const QString& text) const {
    int n = 0;
    for (const SeenDialog& s : answers_.Seen()) n += s.text.contains(text) ? 1 : 0;
    return n;
  }

  // Runs steps one after the other while the receive dialog is open: each
  // waits (in the event loop) for its condition, then acts.
  struct Step {
    std::function<bool()> ready;
    std::function<void()> act;
  };
  DialogAnswerer::Answer Script(std::vector<Step> steps) {
    auto shared = std::make_shared<std::vector<Step>>(std::move(steps));
    auto index = std::make_shared<size_t>(0);
    return [this, shared, index](QWidget* dialog) {
      auto* timer = new QTimer(dialog);
      auto* deadline = new QTimer(dialog);
      deadline->setSingleShot(true);
      deadline->start(kPatienceMs);
      timer->setInterval(2);
      QObject::connect(timer, &QTimer::timeout, dialog, [=, this] {
        if (*index >= shared->size()) return timer->stop();
        Step& step = (*shared)[*index];
        if (!step.ready()) {
          if (deadline->isActive()) return;
          scriptTimedOut_ = true;
          timer->stop();
          if (auto* d = qobject_cast<QDialog*>(dialog)) d->done(QDialog::Rejected);
          return;
        }
        ++*index;
        deadline->start(kPatienceMs);
        step.act();
      });
      timer->start();
    };
  }
  static std::function<bool()> Always() {
    return [] { return true; };
  }
  void PressStorno() {
    ASSERT_NE(Form3, nullptr);
    Form3->BitBtn1->click();
  }
  // A reception into `file` of one line from `device`, ended by Storno.
  void ReceiveOneLine(vdev::VirtualDevice& device, const QString& file, const std::string& line) {
    answers_.Then(SaveAs(file));
    answers_.Then(Script({
        {Always(), [&device, line] { device.Feed(line + "\r"); }},
        {[this] { return Lines().size() == 1; }, [this] { PressStorno(); }},
    }));
    form_->ToolButton1->click();
  }

  bool scriptTimedOut_ = false;
};

TEST_F(AppReceive, LinesArrivingTogetherAreAllShownCountedAndSaved) {
  QString label;
  answers_.Then(SaveAs(Path("dump.nvr")));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("AB\rCD\r"); }},
      {[&] { return Lines().size() == 2; },
       [&] {
         label = Form3->Label1->text();
         PressStorno();
       }},
  }));
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_EQ(Lines(), QStringList({"AB", "CD"}));
  EXPECT_EQ(label, QStringLiteral("Přijato vět: 2"));
  EXPECT_EQ(ReceivedCount, 2);
  EXPECT_EQ(ReadBytes(Path("dump.nvr")), "AB\r\nCD\r\n");
  EXPECT_FALSE(Receiving);
  EXPECT_EQ(Form3, nullptr);
  EXPECT_TRUE(form_->ComPort1->Connected()) << "the port stays open after a reception";
  EXPECT_EQ(form_->StatusBar1Panel0->text(), QDir::toNativeSeparators(Path("dump.nvr")));
  EXPECT_EQ(form_->DirectoryListBox1->Directory(), QDir::toNativeSeparators(temp_.path()));
  EXPECT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("dump.nvr"))) << "the file list was read again";
  EXPECT_EQ(answers_.Unexpected(), 0);
}

TEST_F(AppReceive, LineEndsAreCrWithOrWithoutLf) {
  QString firstLabel;
  answers_.Then(SaveAs(Path("ends.txt")));
  answers_.Then(Script({
      {Always(), [&] { firstLabel = Form3->Label1->text(); device_->Feed("L1\r\nL2\r\n\r\n"); }},
      {[&] { return Lines().size() == 3; }, [&] { device_->Feed("X\nY\nno end"); }},
      // Nothing to wait for on screen: a further line proves the bytes before were taken.
      {Always(), [&] { device_->Feed("\r"); }},
      {[&] { return Lines().size() == 4; }, [&] { device_->Feed("tail without CR"); }},
      {[&] { return form_->ComPort1->InputCount() == 0; }, [&] { PressStorno(); }},
  }));
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_EQ(firstLabel, QStringLiteral("Přijatých vět:"));
  EXPECT_EQ(Lines(), QStringList({"L1", "L2", "", "XYno end"}));
  EXPECT_EQ(ReadBytes(Path("ends.txt")), "L1\r\nL2\r\n\r\nXYno end\r\n") << "the unfinished line is not saved";
}

// Exchange RAM is full of "77": only a line that is the mark, or the mark
// alone after the last line with the line quiet after it, ends the dump,
// and that is said once a dump.
TEST_F(AppReceive, EndIsAnnouncedOnlyWhenTheDataEndsWithTheMark) {
  std::vector<qsizetype> linesWhenAnnounced;
  auto noteAndOk = [&](QWidget* box) {
    linesWhenAnnounced.push_back(Lines().size());
    DialogAnswerer::PressButton(box, QStringLiteral("OK"));
  };
  // The mark as a line of its own, after lines that begin with or hold "77".
  answers_.Then(SaveAs(Path("line.nvr")));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("7720: 3A 77\r0012: 77"); }},
      {[&] { return Lines().size() == 1; }, [&] { device_->Feed(" 9B\r77\r"); }},
      {[&] { return linesWhenAnnounced.size() == 1; }, [&] { device_->Feed("C\r77\r"); }},
      {[&] { return Lines().size() == 5; }, [&] { PressStorno(); }},
  }));
  answers_.Then(noteAndOk);
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_EQ(linesWhenAnnounced, std::vector<qsizetype>{3});
  EXPECT_EQ(ReadBytes(Path("line.nvr")), "7720: 3A 77\r\n0012: 77 9B\r\n77\r\nC\r\n77\r\n");

  // The mark without its CR (an LF around it ignored) ends the dump once
  // the line has been quiet; the bytes it waited for were all taken.
  answers_.Then(Reusable(SaveAs(Path("tail.nvr"))));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("A\r\n7"); }},
      {[&] { return Lines().size() == 1; }, [&] { device_->Feed("7\n"); }},
      {[&] { return linesWhenAnnounced.size() == 2; }, [&] { PressStorno(); }},
  }));
  answers_.Then(noteAndOk);
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_EQ(linesWhenAnnounced, (std::vector<qsizetype>{3, 1}));
  EXPECT_EQ(Count(kEndMessage), 2);
  EXPECT_EQ(answers_.Unexpected(), 0);
}

// A reception and a send from start to end with the keyboard alone, by
// real key events on the real window. "Data jsou přijata" stands beside
// the receive dialog, as wide as its text, and leaves the count in view.
TEST_F(AppReceive, AReceptionAndASendNeedNoMouse) {
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_));
  QRect box, dialog;
  int textRoom = 0;
  bool announced = false;
  answers_.Then([](QWidget*) { PressKey(Qt::Key_P); });  // F10 opened "Soubor"
  answers_.Then([](QWidget*) {
    PressKey(Qt::Key_A, Qt::ControlModifier);
    TypeKeys(QStringLiteral("prijem.nvr"));
    PressKey(Qt::Key_Return);
  });
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("0000 A1\r0010 B2\r77\r"); }},
      {[&] { return announced; }, [] { PressKey(Qt::Key_Space); }},
  }));
  answers_.Then([&](QWidget* w) {
    box = w->frameGeometry();
    dialog = Form3->frameGeometry();
    if (auto* label = w->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
      textRoom = label->width() - label->fontMetrics().horizontalAdvance(kEndMessage);
    announced = true;
    PressKey(Qt::Key_Return);
  });
  PressKey(Qt::Key_F10);
  ASSERT_TRUE(ProcessEventsUntil([&] { return answers_.Pending() == 0 && !Form3; })) << answers_.Told();
  ASSERT_FALSE(scriptTimedOut_) << answers_.Told();
  ASSERT_EQ(Count(kEndMessage), 1) << answers_.Told();
  EXPECT_FALSE(box.intersects(dialog)) << "the count stays in view";
  EXPECT_GE(textRoom, 0) << "the box is as wide as its text";
  EXPECT_EQ(ReadBytes(Path("prijem.nvr")), "0000 A1\r\n0010 B2\r\n77\r\n");
  EXPECT_EQ(Form3, nullptr);

  // To the file list by Tab, the dump by the arrow key, "Soubor > Vyslat" by
  // Alt and the letters; Enter confirms the reminder and, once all is
  // out, presses "Storno".
  for (int i = 0; i < 10 && QApplication::focusWidget() != form_->FileListBox1; ++i) PressKey(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), form_->FileListBox1);
  PressKey(Qt::Key_Down);
  ASSERT_EQ(form_->FileListBox1->HighlightedName(), QStringLiteral("prijem.nvr"));
  bool timedOut = false;
  answers_.Then([](QWidget*) { PressKey(Qt::Key_V); });  // the menu
  answers_.Then([](QWidget*) { PressKey(Qt::Key_Return); });
  answers_.Then(When([] { return Form2 && Form2->Label6->isVisible(); }, [](QWidget*) { PressKey(Qt::Key_Return); },
                     &timedOut));
  PressKey(Qt::Key_S, Qt::AltModifier);
  ASSERT_TRUE(ProcessEventsUntil([&] { return answers_.Pending() == 0 && !Form2; })) << answers_.Told();
  ASSERT_FALSE(timedOut);
  EXPECT_EQ(Form2, nullptr);
  EXPECT_EQ(device_->TakeWritten(), "0000 A1\r\n0010 B2\r\n77\r\n");
  EXPECT_FALSE(form_->ComPort1->Connected());
  EXPECT_EQ(answers_.Unexpected(), 0) << answers_.Told();
}

// A reception that took no line leaves the dump that was there; where there
// was none, the empty file says that nothing came.
TEST_F(AppReceive, StornoBeforeAnyLineKeepsAnOldDumpAndThePortOpen) {
  WriteBytes(Path("old.nvr"), "old content\r\n");
  answers_.Then(SaveAs(Path("old.nvr")));
  answers_.Then(Script({{Always(), [&] { PressStorno(); }}}));
  answers_.Then(DialogAnswerer::Press("OK"));
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  ASSERT_EQ(answers_.Seen().size(), 3u);
  EXPECT_TRUE(answers_.Seen()[2].text.startsWith(QStringLiteral("Nebyla přijata žádná věta.")));
  EXPECT_EQ(ReadBytes(Path("old.nvr")), "old content\r\n");
  EXPECT_TRUE(form_->ComPort1->Connected());

  answers_.Then(Reusable(SaveAs(Path("new.nvr"))));
  answers_.Then(Script({{Always(), [&] { PressStorno(); }}}));
  form_->ToolButton1->click();
  EXPECT_TRUE(QFileInfo::exists(Path("new.nvr")));
  EXPECT_EQ(ReadBytes(Path("new.nvr")), "");
  EXPECT_EQ(QDir(temp_.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"new.nvr", "old.nvr"}))
      << "no temporary file is left behind";
  EXPECT_EQ(answers_.Unexpected(), 0);
}

// The Enter that confirmed the save dialog, held down, reaches the receive
// dialog as repeats: they must not press its "Storno".
TEST_F(AppReceive, AHeldEnterFromTheSaveDialogDoesNotEndTheReception) {
  bool stillReceiving = false;
  answers_.Then([&](QWidget* dialog) {
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(Path("held.nvr"));
    QTest::keyPress(name, Qt::Key_Return);
  });
  answers_.Then(Script({
      {Always(),
       [&] {
         QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : Form3;
         // The window system does not mark every repeat.
         for (bool marked : {true, true, false, true, false}) {
           QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), marked);
           QApplication::sendEvent(focus, &repeat);
         }
         QTest::keyRelease(focus, Qt::Key_Return);
         stillReceiving = Form3 && Form3->isVisible() && Receiving;
         device_->Feed("A\r");
       }},
      {[&] { return Lines().size() == 1; }, [&] { QTest::mouseClick(Form3->BitBtn1, Qt::LeftButton); }},
  }));
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_TRUE(stillReceiving);
  EXPECT_EQ(ReadBytes(Path("held.nvr")), "A\r\n");
}

TEST_F(AppReceive, CancellingTheSaveDialogChangesNothing) {
  form_->Memo1->setText(QStringLiteral("kept\n"));
  form_->StatusBar1Panel0->setText(QStringLiteral("before"));
  ReceivedCount = 7;
  answers_.Then(Reusable(DialogAnswerer::Press("Storno")));
  form_->ToolButton1->click();
  ASSERT_EQ(answers_.Seen().size(), 1u);
  EXPECT_EQ(answers_.Seen()[0].title, QStringLiteral("Zadejte název souboru pro uložení"));
  EXPECT_EQ(device_->CountOf("CreateFile"), 0);
  EXPECT_FALSE(form_->ComPort1->Connected());
  EXPECT_EQ(form_->Memo1->text(), QStringLiteral("kept\n"));
  EXPECT_EQ(form_->StatusBar1Panel0->text(), QStringLiteral("before"));
  EXPECT_EQ(ReceivedCount, 0);
  EXPECT_FALSE(Receiving);
}

TEST_F(AppReceive, FileTypeChangeProposesTheNameAndItIsKeptForNextTime) {
  QStringList names;
  QStringList filters;
  auto edit = [](QWidget* d) { return d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); };
  auto combo = [](QWidget* d) { return d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")); };
  answers_.Then(Reusable([&](QWidget* d) {
    auto* dialog = qobject_cast<QFileDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    names << edit(d)->text();
    QTest::keyClick(combo(d), Qt::Key_Down);  // *.txt
    names << edit(d)->text();
    QTest::keyClick(combo(d), Qt::Key_Down);  // *.*
    edit(d)->setText(QStringLiteral("typed"));
    QTest::keyClick(combo(d), Qt::Key_Down);  // still *.*: no change, no new name
    names << edit(d)->text();
    QTest::keyClick(combo(d), Qt::Key_Up);  // *.txt
    QTest::keyClick(combo(d), Qt::Key_Up);  // *.nvr
    names << edit(d)->text();
    QTest::keyClick(combo(d), Qt::Key_Down);  // *.txt, then cancel
    DialogAnswerer::PressButton(d, QStringLiteral("Storno"));
  }));
  form_->ToolButton1->click();

  QString nextName;
  QString nextFilter;
  answers_.Then(Reusable([&](QWidget* d) {
    nextName = edit(d)->text();
    nextFilter = qobject_cast<QFileDialog*>(d)->selectedNameFilter();
    DialogAnswerer::PressButton(d, QStringLiteral("Storno"));
  }));
  form_->ToolButton1->click();

  EXPECT_EQ(filters, QStringList({QStringLiteral("Binární výpis dat (*.nvr)"), QStringLiteral("Textový výpis dat (*.txt)"),
                                  QStringLiteral("Všechny typy (*.*)")}));
  EXPECT_EQ(names, QStringList({"Vazur", "Vazur.txt", "typed", "Vazur.nvr"}));
  EXPECT_EQ(nextName, QStringLiteral("Vazur.txt")) << "the name set by the change is proposed again";
  EXPECT_EQ(nextFilter, filters[0]) << "the filter of the last confirmed choice (none yet: the first)";
  EXPECT_EQ(device_->CountOf("CreateFile"), 0);
}

TEST_F(AppReceive, TheChosenNameAndFilterAreProposedNextTime) {
  answers_.Then(Reusable([&](QWidget* d) {
    auto* dialog = qobject_cast<QFileDialog*>(d);
    QTest::keyClick(d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")), Qt::Key_Down);
    dialog->selectFile(Path("chosen.txt"));
    DialogAnswerer::PressButton(dialog, QStringLiteral("Uložit"));
  }));
  answers_.Then(Script({{Always(), [&] { PressStorno(); }}}));
  form_->ToolButton1->click();
  QString nextName, nextFilter;
  answers_.Then(Reusable([&](QWidget* d) {
    nextName = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
    nextFilter = qobject_cast<QFileDialog*>(d)->selectedNameFilter();
    DialogAnswerer::PressButton(d, QStringLiteral("Storno"));
  }));
  form_->ToolButton1->click();
  EXPECT_TRUE(QFileInfo::exists(Path("chosen.txt")));
  EXPECT_EQ(nextName, QStringLiteral("chosen.txt"));
  EXPECT_EQ(nextFilter, QStringLiteral("Textový výpis dat (*.txt)"));
}

TEST_F(AppReceive, APortThatCannotBeOpenedIsReportedAndNothingStarts) {
  device_->FailCall("CreateFile", ERROR_ACCESS_DENIED);
  form_->Memo1->setText(QStringLiteral("kept\n"));
  answers_.Then(SaveAs(Path("never.nvr")));
  answers_.Then(DialogAnswerer::Press("OK"));
  form_->ToolButton1->click();
  ASSERT_EQ(answers_.Seen().size(), 2u);
  EXPECT_EQ(answers_.Seen()[1].text, QStringLiteral("Port nelze otevřít, upravte nastavení!\nPort COM1 používá jiný "
                                                    "program; ukončete ho, nebo zvolte jiný port."));
  EXPECT_EQ(answers_.Seen()[1].title, QStringLiteral("Vazur"));
  EXPECT_EQ(answers_.Seen()[1].icon, QMessageBox::NoIcon);
  EXPECT_FALSE(Receiving);
  EXPECT_FALSE(form_->ComPort1->Connected());
  EXPECT_EQ(form_->Memo1->text(), QStringLiteral("kept\n"));
  EXPECT_FALSE(QFileInfo::exists(Path("never.nvr")));
}

// A driver that refuses the large receive queue still serves a reception,
// with a queue of its own size.
TEST_F(AppReceive, ADriverRefusingTheLargeQueueStillReceives) {
  device_->FailCall("SetupComm", ERROR_INVALID_PARAMETER, 1);
  ReceiveOneLine(*device_, Path("small.nvr"), "A");
  ASSERT_FALSE(scriptTimedOut_) << answers_.Told();
  EXPECT_EQ(ReadBytes(Path("small.nvr")), "A\r\n");
  EXPECT_EQ(answers_.Unexpected(), 0) << answers_.Told();
}

// After a failed save the save dialog proposes the same name again; giving
// up on it ends the reception only when the technician says so, with every
// line kept in the pane, those that came while the boxes were up included.
// Nothing then pretends they were saved, and they can still be.
TEST_F(AppReceive, AFailedSaveEndedWithoutSavingKeepsTheLinesAndTheyCanStillBeSaved) {
  const QString dir = Path("usb");
  ASSERT_TRUE(QDir().mkdir(dir));
  const QString target = dir + QStringLiteral("/dump.nvr");
  QString proposed;
  answers_.Then(SaveAs(target));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("A\rB\r"); }},
      {[&] { return Lines().size() == 2; },
       [&] {
         ASSERT_TRUE(QDir(dir).removeRecursively());  // the stick is pulled
         PressStorno();
       }},
  }));
  answers_.Then([&](QWidget* report) {  // the error report, while the exchange goes on
    device_->Feed("C\r");
    When([&] { return form_->ComPort1->InputCount() == 0; }, DialogAnswerer::Press("OK"))(report);
  });
  answers_.Then(Reusable([&](QWidget* dialog) {
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) proposed = name->text();
    DialogAnswerer::PressButton(dialog, QStringLiteral("Storno"));
  }));
  answers_.Then(DialogAnswerer::Press("Ano"));
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  ASSERT_EQ(answers_.Seen().size(), 5u) << answers_.Told();
  EXPECT_TRUE(answers_.Seen()[2].text.contains(QDir::toNativeSeparators(target))) << answers_.Seen()[2].text.toStdString();
  EXPECT_EQ(proposed, QStringLiteral("dump.nvr"));
  EXPECT_EQ(answers_.Seen()[4].title, QStringLiteral(" DOTAZ "));
  EXPECT_EQ(Form3, nullptr);
  EXPECT_FALSE(Receiving);
  EXPECT_EQ(Lines(), QStringList({"A", "B", "C"}));
  EXPECT_FALSE(QFileInfo::exists(target));
  const QString status = form_->StatusBar1Panel0->text();
  EXPECT_FALSE(status.contains(QStringLiteral("dump.nvr"))) << status.toStdString();
  EXPECT_TRUE(status.contains(QStringLiteral("nejsou uloženy"))) << status.toStdString();

  // Another file is not shown over them without a word.
  // (The pane has left the pulled stick for the folder above it.)
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return form_->DirectoryListBox1->Directory() == QDir::toNativeSeparators(temp_.path()); }));
  WriteBytes(Path("other.nvr"), "X\r\n");
  form_->FileListBox1->Update();
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("other.nvr")));
  answers_.Then(DialogAnswerer::Press("Ne"));
  form_->FileListBox1Click();
  ASSERT_EQ(answers_.Seen().size(), 6u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[5].title, QStringLiteral(" DOTAZ "));
  EXPECT_EQ(Lines(), QStringList({"A", "B", "C"}));

  // "Uložit jako…" saves them, through the same dialog.
  emit form_->Soubor1->menu()->aboutToShow();
  ASSERT_TRUE(form_->UlozitJako1->isEnabled());
  answers_.Then(SaveAs(Path("saved.nvr")));
  form_->UlozitJako1->trigger();
  EXPECT_EQ(ReadBytes(Path("saved.nvr")), "A\r\nB\r\nC\r\n");
  EXPECT_EQ(form_->StatusBar1Panel0->text(), QDir::toNativeSeparators(Path("saved.nvr")));
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("other.nvr")));
  form_->FileListBox1Click();  // saved now: no question
  EXPECT_EQ(Lines(), QStringList({"X"}));
  EXPECT_EQ(answers_.Seen().size(), 7u) << answers_.Told();
  EXPECT_EQ(answers_.Unexpected(), 0);
}

// "Ne" goes back to the reception: the bytes that came while the boxes were
// up are kept, the half line among them joined to its rest, and the next
// Storno saves them all.
TEST_F(AppReceive, AFailedSaveAnsweredNeKeepsEveryByteThatCameMeanwhile) {
  const QString dir = Path("usb");
  ASSERT_TRUE(QDir().mkdir(dir));
  const QString target = dir + QStringLiteral("/dump.nvr");
  answers_.Then(SaveAs(target));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("A\rB\rpart"); }},
      {[&] { return Lines().size() == 2; },
       [&] {
         ASSERT_TRUE(QDir(dir).removeRecursively());
         PressStorno();
       }},
      {Always(), [&] { device_->Feed("D\r"); }},
      {[&] { return Lines().size() == 5; },
       [&] {
         ASSERT_TRUE(QDir().mkdir(dir));  // the stick is back
         PressStorno();
       }},
  }));
  auto whenRead = [&](DialogAnswerer::Answer answer) {
    return When([&] { return form_->ComPort1->InputCount() == 0; }, std::move(answer));
  };
  answers_.Then([&](QWidget* report) {
    device_->Feed("ial\rC\r");
    whenRead(DialogAnswerer::Press("OK"))(report);
  });
  answers_.Then(Reusable(DialogAnswerer::Press("Storno")));
  answers_.Then(DialogAnswerer::Press("Ne"));
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_) << answers_.Told();
  EXPECT_EQ(ReadBytes(target), "A\r\nB\r\npartial\r\nC\r\nD\r\n");
  EXPECT_EQ(ReceivedCount, 5);
  EXPECT_EQ(answers_.Unexpected(), 0) << answers_.Told();
}

// An exchange that sends no CR (wrong line settings, LF-only ends): one
// warning, and the bytes are kept for the line when its end does come.
TEST_F(AppReceive, ALineThatNeverEndsIsToldOnceAndKept) {
  const std::string longRun(70 * 1024, 'x');
  answers_.Then(SaveAs(Path("endless.nvr")));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed(longRun); }},
      {[&] { return answers_.Seen().size() == 3; }, [&] { device_->Feed(longRun + "\r"); }},
      {[&] { return Lines().size() == 1; }, [&] { PressStorno(); }},
  }));
  answers_.Then(DialogAnswerer::Press("OK"));  // the warning
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_) << answers_.Told();
  ASSERT_EQ(answers_.Seen().size(), 3u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[2].title, QStringLiteral(" UPOZORNĚNÍ "));
  EXPECT_TRUE(answers_.Seen()[2].text.contains(QStringLiteral("bez konce věty"))) << answers_.Told();
  EXPECT_EQ(ReadBytes(Path("endless.nvr")), longRun + longRun + "\r\n");
}

TEST_F(AppReceive, TheFolderReceivedIntoIsNotHeldAndMayGoFromOutside) {
  const QString stick = Path("usb");
  ASSERT_TRUE(QDir().mkdir(stick));
  const QString workingDirectory = QDir::currentPath();
  ReceiveOneLine(*device_, stick + QStringLiteral("/dump.nvr"), "A");
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_EQ(form_->DirectoryListBox1->Directory(), QDir::toNativeSeparators(stick));
  EXPECT_EQ(QDir::currentPath(), workingDirectory) << "the pane moved, the process did not";

  QProcess rm;
  rm.start(QStringLiteral("rm"), {QStringLiteral("-r"), stick});
  ASSERT_TRUE(rm.waitForFinished());
  ASSERT_EQ(rm.exitCode(), 0);
  EXPECT_TRUE(ProcessEventsUntil(
      [&] { return form_->DirectoryListBox1->Directory() == QDir::toNativeSeparators(temp_.path()); }));
  EXPECT_EQ(answers_.Unexpected(), 0);
}

TEST_F(AppReceive, EveryByteValueIsSavedAndSentBackUnchanged) {
  std::string line;
  for (int b = 0; b < 256; ++b)
    if (b != '\r' && b != '\n') line += static_cast<char>(b);
  answers_.Then(SaveAs(Path("bytes.nvr")));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed(line + "\r"); }},
      {[&] { return Lines().size() == 1; }, [&] { PressStorno(); }},
  }));
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_EQ(ReadBytes(Path("bytes.nvr")), line + "\r\n");
  EXPECT_EQ(Lines()[0][0], QChar(0x2400)) << "NUL is shown as its symbol";

  // Shown again from the file, then sent back.
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("bytes.nvr")));
  form_->FileListBox1Click();
  device_->TakeWritten();
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(When([] { return Form2 && Form2->Gauge1->value() == 1; },
                     [](QWidget*) { Form2->BitBtn1->click(); }));
  form_->ToolButton2->click();
  EXPECT_EQ(device_->TakeWritten(), line + "\r\n");
}

// Line errors and the loss of the device are told in Czech, once each; the
// lines that came stay and "Storno" saves them.
TEST_F(AppReceive, LineTroubleIsToldOnceAndNothingIsLost) {
  auto overrun = [&] {
    device_->SetLineErrors(CE_OVERRUN | CE_FRAME);
    device_->RaiseEvents(EV_ERR);
  };
  answers_.Then(SaveAs(Path("lost.nvr")));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("A\r"); overrun(); }},
      {[&] { return answers_.Seen().size() == 3; }, [&] { overrun(); device_->Feed("B\r"); }},
      {[&] { return Lines().size() == 2; }, [&] { device_->Unplug(); }},
      {[&] { return answers_.Seen().size() == 4; }, [&] { PressStorno(); }},
  }));
  bool overTheReceiveDialog = false;
  answers_.Then([&](QWidget* box) {  // the line errors
    overTheReceiveDialog = qobject_cast<TForm3*>(box->parentWidget()) != nullptr;
    DialogAnswerer::PressButton(box, QStringLiteral("OK"));
  });
  answers_.Then(DialogAnswerer::Press("OK"));  // the loss
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_);
  ASSERT_EQ(answers_.Seen().size(), 4u);
  EXPECT_EQ(answers_.Seen()[2].title, QStringLiteral(" UPOZORNĚNÍ "));
  EXPECT_TRUE(overTheReceiveDialog);
  EXPECT_TRUE(answers_.Seen()[2].text.contains(QStringLiteral("mohou chybět nebo být poškozené")));
  EXPECT_TRUE(answers_.Seen()[2].text.contains(QStringLiteral("přetečení přijímače, chyba rámce")));
  EXPECT_EQ(answers_.Seen()[3].title, QStringLiteral(" CHYBA "));
  EXPECT_TRUE(answers_.Seen()[3].text.contains(QStringLiteral("na portu COM1")));
  EXPECT_TRUE(answers_.Seen()[3].text.contains(QStringLiteral("Storno je uloží")));
  EXPECT_EQ(ReadBytes(Path("lost.nvr")), "A\r\nB\r\n");

  // The device is back: the next Receive opens it afresh.
  auto fresh = vdev::VirtualDevice::Register("COM1");
  ReceiveOneLine(*fresh, Path("again.nvr"), "C");
  ASSERT_FALSE(scriptTimedOut_);
  EXPECT_EQ(fresh->CountOf("CreateFile"), 1);
  EXPECT_EQ(ReadBytes(Path("again.nvr")), "C\r\n");
  // One report for the loss, however long the dead port stayed open.
  EXPECT_EQ(answers_.Seen().size(), 6u);
  EXPECT_EQ(answers_.Unexpected(), 0);
}

// The exchange goes on talking after Storno: what it says is read and
// dropped, and nothing piles up until the next reception.
TEST_F(AppReceive, WhatComesOutsideAReceptionIsReadAndDropped) {
  ReceiveOneLine(*device_, Path("first.nvr"), "A");
  ASSERT_FALSE(scriptTimedOut_);
  const int reads = device_->CountOf("ReadFile");
  device_->Feed(std::string(300000, 'x') + "\rB\r77\r");
  QTimer look;  // the device's queue sends no event when it empties
  look.start(5);
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return device_->CountOf("ReadFile") > reads && form_->ComPort1->InputCount() == 0; }, kPatienceMs));
  EXPECT_TRUE(RxBuffer.empty());
  EXPECT_EQ(Lines(), QStringList{"A"});
  EXPECT_EQ(ReadBytes(Path("first.nvr")), "A\r\n");
  EXPECT_EQ(answers_.Seen().size(), 2u) << answers_.Told();
}

// A USB adapter pulled out takes its buffer with it: the read of the burst
// that had just been announced fails. That is the loss, told once.
TEST_F(AppReceive, AnAdapterPulledAsABurstArrivesIsToldOnceAsTheLoss) {
  answers_.Then(SaveAs(Path("pulled.nvr")));
  answers_.Then(Script({
      {Always(), [&] { device_->Feed("A\r"); }},
      {[&] { return Lines().size() == 1; },
       [&] {
         device_->Feed("B\rC\r");
         device_->FailCall("ReadFile", ERROR_DEVICE_NOT_CONNECTED);
         device_->Unplug();
       }},
      {[&] { return answers_.Seen().size() == 3; }, [&] { PressStorno(); }},
  }));
  answers_.Then(DialogAnswerer::Press("OK"));  // the loss
  form_->ToolButton1->click();
  ASSERT_FALSE(scriptTimedOut_) << answers_.Told();
  ASSERT_EQ(answers_.Seen().size(), 3u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[2].title, QStringLiteral(" CHYBA "));
  EXPECT_TRUE(answers_.Seen()[2].text.contains(QStringLiteral("Storno je uloží"))) << answers_.Told();
  EXPECT_EQ(ReadBytes(Path("pulled.nvr")), "A\r\n");
}

}  // namespace
