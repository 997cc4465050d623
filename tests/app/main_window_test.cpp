// The main window: its controls and captions, the port it owns, About, Exit,
// and the application's general error report.
#include "app/app_state.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "rtl/error_report.h"
#include "rtl/thread.h"
#include "serial/serial.h"
#include "tests/app/gui_test_util.h"
#ifdef _WIN32
#include "winapi/win32.h"
#else
#include "winapi/virtual_device.h"
#endif

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>

#include <atomic>
#include <memory>
#include <thread>

class AppMainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    ASSERT_TRUE(QDir::setCurrent(temp_.path()));
    form_ = new TForm1;
    form_->show();
  }
  void TearDown() override {
    delete form_;
    QDir::setCurrent(QDir::tempPath());
  }

  QTemporaryDir temp_;
  QPointer<TForm1> form_;
  DialogAnswerer answers_;
};

TEST_F(AppMainWindow, HasItsControlsAndCaptions) {
  TForm1& f = *form_;
  EXPECT_EQ(Form1, &f);
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Ukládání a vysílání paměti RAM ústředen VQ"));
  EXPECT_EQ(f.frameGeometry().size(), QSize(644, 423));

  struct Button {
    QToolButton* button;
    const char* caption;
    const char* hint;
  };
  const Button buttons[] = {{f.ToolButton1, "Přijmout", "Přijmout z TÚ"},
                            {f.ToolButton2, "Odeslat", "Vyslat do TÚ"},
                            {f.ToolButton4, "Nastavení", "Nastavení Com portu"},
                            {f.ToolButton6, "Konec", "Konec práce"}};
  for (const Button& b : buttons) {
    EXPECT_EQ(b.button->text(), QString::fromUtf8(b.caption));
    EXPECT_EQ(b.button->toolTip(), QString::fromUtf8(b.hint));
    EXPECT_EQ(b.button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(b.button->iconSize(), QSize(32, 32));
    EXPECT_FALSE(b.button->icon().pixmap(32, 32).isNull());
    EXPECT_GE(b.button->width(), 56);
  }
  const QList<QAction*> tools = f.ToolBar1->actions();
  ASSERT_EQ(tools.size(), 6);
  EXPECT_TRUE(tools[2]->isSeparator());
  EXPECT_TRUE(tools[4]->isSeparator());
  EXPECT_EQ(f.ToolBar1->widgetForAction(tools[5]), f.ToolButton6);
  ASSERT_EQ(f.ImageList1.size(), 4);

  const QList<QAction*> bar = f.MainMenu1->actions();
  ASSERT_EQ(bar.size(), 4);
  EXPECT_EQ(bar[0], f.Soubor1);
  EXPECT_EQ(f.Soubor1->text(), QStringLiteral("&Soubor"));
  ASSERT_NE(f.Soubor1->menu(), nullptr);
  const QList<QAction*> items = f.Soubor1->menu()->actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0], f.Pijmout1);
  EXPECT_EQ(items[1], f.Vyslat1);
  EXPECT_TRUE(items[2]->isSeparator());
  EXPECT_EQ(items[3], f.UlozitJako1);
  EXPECT_EQ(f.UlozitJako1->text(), QStringLiteral("&Uložit jako…"));
  EXPECT_EQ(f.Pijmout1->text(), QStringLiteral("&Přijmout"));
  EXPECT_EQ(f.Vyslat1->text(), QStringLiteral("&Vyslat"));
  EXPECT_EQ(bar[1], f.Nastaven1);
  EXPECT_EQ(f.Nastaven1->text(), QStringLiteral("&Nastavení"));
  EXPECT_EQ(f.Nastaven1->menu(), nullptr);
  EXPECT_EQ(bar[2], f.Konec1);
  EXPECT_EQ(f.Konec1->text(), QStringLiteral("&Konec"));
  EXPECT_EQ(bar[3], f.Oaplikaci1);
  EXPECT_EQ(f.Oaplikaci1->text(), QStringLiteral("&O aplikaci"));

  EXPECT_EQ(f.Splitter1->widget(0), f.Panel1);
  EXPECT_EQ(f.Splitter1->widget(1), f.Memo1);
  EXPECT_EQ(f.Splitter1->sizes()[0], 149);
  EXPECT_EQ(f.Splitter1->handleWidth(), 3);
  EXPECT_EQ(f.Splitter2->widget(0), f.Panel2);
  EXPECT_EQ(f.Splitter2->widget(1), f.FileListBox1);
  EXPECT_EQ(f.Splitter2->sizes()[0], 169);
  EXPECT_EQ(f.Splitter2->handleWidth(), 3);
  EXPECT_EQ(f.DriveComboBox1->parentWidget(), f.Panel2);
  EXPECT_EQ(f.DirectoryListBox1->parentWidget(), f.Panel2);
  EXPECT_EQ(f.DirectoryListBox1->PopupMenu, f.PopupMenu1);
  EXPECT_EQ(f.FileListBox1->PopupMenu, f.PopupMenu2);
  EXPECT_EQ(f.PopupMenu1->actions(), QList<QAction*>({f.VytvoitAdres1, f.Smazatadres1}));
  EXPECT_EQ(f.VytvoitAdres1->text(), QStringLiteral("&Vytvořit adresář"));
  EXPECT_EQ(f.Smazatadres1->text(), QStringLiteral("&Smazat adresář"));
  EXPECT_EQ(f.PopupMenu2->actions(), QList<QAction*>({f.MenuItem4, f.MenuItem5}));
  EXPECT_EQ(f.MenuItem4->text(), QStringLiteral("&Smazat soubor"));
  EXPECT_EQ(f.MenuItem5->text(), QStringLiteral("&Přejmenovat soubor"));

  const QFontMetrics memoFont(f.Memo1->font());  // every letter as wide as the next
  EXPECT_EQ(memoFont.horizontalAdvance(QLatin1Char('i')), memoFont.horizontalAdvance(QLatin1Char('W')));
  EXPECT_EQ(f.Memo1->wrapMode(), QsciScintilla::WrapNone);
  EXPECT_EQ(f.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(f.Memo1->isReadOnly());
  EXPECT_TRUE(f.Memo1->text().isEmpty());
  EXPECT_EQ(f.StatusBar1, f.statusBar());
  EXPECT_EQ(f.StatusBar1Panel0->parentWidget(), f.StatusBar1);
  EXPECT_TRUE(f.StatusBar1Panel0->text().isEmpty());
  EXPECT_EQ(f.SaveDialog1, nullptr);

  EXPECT_FALSE(Receiving);
  EXPECT_EQ(ReceivedCount, 0);
  EXPECT_FALSE(Sending);
}

// Memo1 follows new lines while its view is at the end and stays where the
// user scrolled to otherwise; long lines run off to the right with no
// horizontal bar; its context menu speaks Czech.
TEST_F(AppMainWindow, TheTextPaneFollowsNewLinesOnlyAtTheEnd) {
  TMemo& memo = *form_->Memo1;
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += "7700: 12 34 56 78 9A BC DE F0 12 34 56 78 9A BC DE F0 ;" + std::string(200, 'x') + "\n";
  memo.AppendLines(lines);
  QCoreApplication::processEvents();
  const long shown = memo.SendScintilla(QsciScintillaBase::SCI_LINESONSCREEN);
  EXPECT_GE(memo.SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE) + shown, 300) << "the last line is in view";
  EXPECT_TRUE(memo.verticalScrollBar()->isVisible());
  EXPECT_FALSE(memo.horizontalScrollBar()->isVisible());

  memo.SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, 10UL);
  memo.AppendLines("7710: 00\n");
  QCoreApplication::processEvents();
  EXPECT_EQ(memo.SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE), 10) << "scrolled back, the view stays";
  EXPECT_EQ(memo.LineCount(), 301);

  std::unique_ptr<QMenu> menu(memo.createStandardContextMenu());
  ASSERT_NE(menu, nullptr);
  QStringList items;
  for (QAction* action : menu->actions()) items << action->text().remove(QLatin1Char('&'));
  EXPECT_TRUE(items.contains(QStringLiteral("Vložit"))) << items.join(QLatin1Char('|')).toStdString();
}

// Every command is in reach of the keyboard, driven by real key events on
// the real window: the toolbar in the Tab order (which no control keeps to
// itself), F10 and Alt for the menu bar, the items' letters.
TEST_F(AppMainWindow, TheKeyboardReachesEveryCommand) {
  TForm1& f = *form_;
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.ToolButton1->setFocus();
  const QList<QWidget*> order = {f.ToolButton2,      f.ToolButton4,        f.ToolButton6, f.DriveComboBox1,
                                 f.DirectoryListBox1, f.FileListBox1, f.Memo1,        f.ToolButton1};
  for (QWidget* next : order) {
    PressKey(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  EXPECT_TRUE(f.Memo1->text().isEmpty()) << "Tab left the text pane without a tab character";
  PressKey(Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), f.Memo1);
  PressKey(Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), f.FileListBox1);

  // Space presses a focused toolbar button: "Odeslat" with nothing to send.
  f.ToolButton2->setFocus();
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  answers_.Then([](QWidget*) { PressKey(Qt::Key_Return); });
  PressKey(Qt::Key_Space);
  ASSERT_EQ(answers_.Seen().size(), 2u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[0].title, QStringLiteral(" INFORMACE "));
  EXPECT_TRUE(answers_.Seen()[1].text.contains(QStringLiteral("není co odeslat"))) << answers_.Told();

  // F10 opens the first menu; Escape closes it and leaves the bar.
  QWidget* opened = nullptr;
  answers_.Then([&](QWidget* menu) {
    opened = menu;
    PressKey(Qt::Key_Escape);
  });
  PressKey(Qt::Key_F10);
  EXPECT_EQ(opened, f.Soubor1->menu());
  PressKey(Qt::Key_Escape);
  EXPECT_EQ(f.MainMenu1->activeAction(), nullptr);

  // Alt alone marks the bar; the arrows walk it, Enter runs the item.
  QTest::keyPress(KeyboardWindow(), Qt::Key_Alt, Qt::AltModifier);
  QTest::keyRelease(KeyboardWindow(), Qt::Key_Alt, Qt::AltModifier);
  EXPECT_EQ(f.MainMenu1->activeAction(), f.Soubor1);
  for (int i = 0; i < 3; ++i) PressKey(Qt::Key_Right);
  EXPECT_EQ(f.MainMenu1->activeAction(), f.Oaplikaci1);
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  PressKey(Qt::Key_Return);
  ASSERT_EQ(answers_.Seen().size(), 4u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[3].title, QStringLiteral(" O APLIKACI "));

  // Alt and a letter opens "Soubor"; there "Vyslat" answers to its letter.
  answers_.Then([](QWidget*) { PressKey(Qt::Key_V); });
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  PressKey(Qt::Key_S, Qt::AltModifier);
  ASSERT_TRUE(ProcessEventsUntil([&] { return answers_.Pending() == 0; }, 5000)) << answers_.Told();
  ASSERT_EQ(answers_.Seen().size(), 7u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[4].buttons, QStringList({"Přijmout", "Vyslat", "", "Uložit jako…"}));
  EXPECT_EQ(answers_.Seen()[5].title, QStringLiteral(" INFORMACE "));
  EXPECT_EQ(answers_.Unexpected(), 0) << answers_.Told();
}

TEST_F(AppMainWindow, OwnsComPort1ClosedWithTheExchangesSettings) {
  TComPort* port = form_->ComPort1;
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->Name(), "ComPort1");
  EXPECT_FALSE(port->Connected());
  EXPECT_FALSE(port->IsLoading());
  EXPECT_EQ(port->Port(), "COM1");
  EXPECT_EQ(port->BaudRate(), br1200);
  EXPECT_EQ(port->DataBits(), dbEight);
  EXPECT_EQ(port->StopBits(), sbTwoStopBits);
  EXPECT_EQ(port->Parity().Bits(), prNone);
  const TComFlowControl& flow = port->FlowControl();
  EXPECT_FALSE(flow.OutCTSFlow());
  EXPECT_FALSE(flow.OutDSRFlow());
  EXPECT_EQ(flow.ControlDTR(), dtrDisable);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.XonXoffOut());
  EXPECT_FALSE(flow.XonXoffIn());
  EXPECT_EQ(flow.FlowControl(), fcNone);
  EXPECT_EQ(port->Events(), AllComEvents);
  EXPECT_TRUE(static_cast<bool>(port->OnRxChar));
  EXPECT_FALSE(static_cast<bool>(port->OnTxEmpty));
  EXPECT_FALSE(static_cast<bool>(port->OnAfterOpen));
}

// The toolkit's own texts (its dialogs' standard buttons) are Czech, from
// the translations the program finds beside Qt, on Windows beside itself.
TEST_F(AppMainWindow, TheToolkitsOwnButtonsAreCzech) {
  QDialogButtonBox box(QDialogButtonBox::Save | QDialogButtonBox::Cancel | QDialogButtonBox::Yes);
  auto text = [&](QDialogButtonBox::StandardButton b) { return box.button(b)->text().remove(QLatin1Char('&')); };
  EXPECT_EQ(text(QDialogButtonBox::Save), QStringLiteral("Uložit"));
  EXPECT_EQ(text(QDialogButtonBox::Cancel), QStringLiteral("Zrušit"));
  EXPECT_EQ(text(QDialogButtonBox::Yes), QStringLiteral("Ano"));
}

TEST_F(AppMainWindow, AboutSaysWhatTheProgramIs) {
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  form_->Oaplikaci1->trigger();
  ASSERT_EQ(answers_.Seen().size(), 1u);
  const SeenDialog& about = answers_.Seen()[0];
  EXPECT_EQ(about.title, QStringLiteral(" O APLIKACI "));
  EXPECT_EQ(about.icon, QMessageBox::Information);
  EXPECT_EQ(about.buttons, QStringList({"OK"}));
  EXPECT_TRUE(about.text.contains(QStringLiteral("Vazur")));
  EXPECT_TRUE(about.text.contains(QCoreApplication::applicationVersion()));
  EXPECT_TRUE(about.text.contains(QStringLiteral("ústředen VQ")));
}

TEST_F(AppMainWindow, ExitClosesTheWindow) {
  form_->Konec1->trigger();
  EXPECT_FALSE(form_ && form_->isVisible());
  ProcessDeferredDeletes();
  EXPECT_TRUE(form_.isNull());
  EXPECT_EQ(Form1, nullptr);
}

#ifdef _WIN32
TEST_F(AppMainWindow, ExitFromTheToolbarClosesAnOpenPort) {
  // COM5 is one end of the test line that ./test --windows lays.
  form_->ComPort1->SetPort("COM5");
  try {
    form_->ComPort1->Open();
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no COM5 here: " << e.what();
  }
  ASSERT_TRUE(form_->ComPort1->Connected());

  QTest::mouseClick(form_->ToolButton6, Qt::LeftButton);
  ProcessDeferredDeletes();
  EXPECT_TRUE(form_.isNull());
  // The port was opened exclusively: it opens again only once closed.
  HANDLE again = CreateFileW(L"\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
  EXPECT_EQ(answers_.Seen().size(), 0u);
}
#else
TEST_F(AppMainWindow, ExitFromTheToolbarClosesAnOpenPort) {
  std::shared_ptr<vdev::VirtualDevice> device = vdev::VirtualDevice::Register("COM1");
  form_->ComPort1->Open();
  ASSERT_TRUE(device->IsOpen());
  device->Feed("bytes nobody reads\r");

  QTest::mouseClick(form_->ToolButton6, Qt::LeftButton);
  ProcessDeferredDeletes();
  EXPECT_TRUE(form_.isNull());
  EXPECT_FALSE(device->IsOpen());
  vdev::VirtualDevice::Unregister("COM1");
  EXPECT_EQ(answers_.Seen().size(), 0u);
}
#endif

namespace {

// Throws from inside the event loop's delivery of one event.
class Thrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw Exception("Soubor nelze uložit: disk je plný");
    return QObject::event(e);
  }
};

}  // namespace

TEST_F(AppMainWindow, AnExceptionInAnEventIsShownAndTheProgramGoesOn) {
  Thrower thrower;
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
  ASSERT_TRUE(ProcessEventsUntil([&] { return answers_.Seen().size() == 1 && answers_.Pending() == 0; }));
  const SeenDialog& report = answers_.Seen()[0];
  EXPECT_EQ(report.title, QStringLiteral("Vazur"));
  EXPECT_EQ(report.icon, QMessageBox::Critical);
  EXPECT_EQ(report.text, QStringLiteral("Soubor nelze uložit: disk je plný"));
  EXPECT_EQ(report.buttons, QStringList({"OK"}));

  // Still working: the menu answers.
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  form_->Oaplikaci1->trigger();
  EXPECT_EQ(answers_.Seen().size(), 2u);
}

TEST_F(AppMainWindow, ReportsFromOtherThreadsReachTheGui) {
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  std::thread worker([] { ReportError("Chyba na vlákně událostí"); });
  worker.join();
  ASSERT_TRUE(ProcessEventsUntil([&] { return answers_.Seen().size() == 1 && answers_.Pending() == 0; }));
  EXPECT_EQ(answers_.Seen()[0].text, QStringLiteral("Chyba na vlákně událostí"));
  EXPECT_EQ(answers_.Seen()[0].icon, QMessageBox::Critical);

  // A hand-over from another thread runs in the event loop, nested loops included.
  std::atomic<bool> ran{false};
  std::thread handOver([&] { SynchronizeCall([&] { ran = true; }); });
  EXPECT_TRUE(ProcessEventsUntil([&] { return ran.load(); }));
  handOver.join();
}
