// The program's receive and send commands meeting faults: a directory that
// cannot be written, a disk that fills up, a device node as the target, a
// line a megabyte long, a dump file with mixed line ends. Each ends in a
// clear message and with nothing lost.
#include "app/app_state.h"
#include "app/dump_text.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"
#include "serial/serial.h"
#include "tests/app/form_fixture.h"
#include "tests/app/transfer_test_util.h"
#include "tests/faults/fault_test_util.h"
#include "winapi/virtual_device.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

class AppFaults : public FormOnVirtualPort {
 protected:
  int LineCount() const { return form_->Memo1->LineCount(); }

  // Starts a reception into `file`; `whileOpen` runs once the receive dialog
  // is up (feeding the line, pressing "Storno"); it must end the dialog.
  void Receive(const QString& file, std::function<void()> whileOpen) {
    answers_.Then(SaveAs(file));
    answers_.Then([whileOpen = std::move(whileOpen)](QWidget*) { whileOpen(); });
    form_->ToolButton1->click();
  }
  // Feeds bytes and waits until the pane has `lines` lines.
  bool FeedAndWait(const std::string& bytes, int lines) {
    device_->Feed(bytes);
    return ProcessEventsUntil([&] { return LineCount() >= lines; }, kPatienceMs);
  }
  // Presses "Storno" when the save will fail: "OK" to the error report,
  // then `after` for the save dialog that offers another place (and for the
  // question that cancelling it asks).
  void StornoFailing(std::vector<DialogAnswerer::Answer> after) {
    answers_.Then(DialogAnswerer::Press("OK"));
    for (auto& answer : after) answers_.Then(Reusable(std::move(answer)));
    Form3->BitBtn1->click();
  }
  // Back to the reception: the save dialog cancelled, then "Ne".
  static std::vector<DialogAnswerer::Answer> BackToReception() {
    return {DialogAnswerer::Press("Storno"), DialogAnswerer::Press("Ne")};
  }
  const SeenDialog& Report() const { return answers_.Seen()[2]; }
  const SeenDialog& LastSeen() const { return answers_.Seen().back(); }
  // Dot files a failed save could leave behind.
  static QStringList Leftovers(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System).filter(QRegularExpression("^\\."));
  }

};

TEST_F(AppFaults, SavingIntoAReadOnlyDirectoryIsReportedAndTheReceptionCanGoOn) {
  const QString dir = Path("readonly");
  ASSERT_TRUE(QDir().mkdir(dir));
  FilePermissionsHold hold;
  ASSERT_EQ(chmod(QFile::encodeName(dir).constData(), 0555), 0);
  const std::string probe = (dir + QStringLiteral("/probe")).toStdString();
  if (!hold.Active() || !RefusesAccess(probe, O_WRONLY | O_CREAT)) {
    chmod(QFile::encodeName(dir).constData(), 0755);
    GTEST_SKIP() << "running as root with file permissions overridden; a read-only directory cannot be had here";
  }
  const QString target = dir + QStringLiteral("/dump.nvr");
  bool stillOpen = false;
  Receive(target, [&] {
    ASSERT_TRUE(FeedAndWait("A\rB\r", 2));
    StornoFailing(BackToReception());
    stillOpen = Form3 && Form3->isVisible() && Receiving;
    ASSERT_TRUE(FeedAndWait("C\r", 3));
    chmod(QFile::encodeName(dir).constData(), 0755);
    Form3->BitBtn1->click();
  });
  chmod(QFile::encodeName(dir).constData(), 0755);
  ASSERT_EQ(answers_.Seen().size(), 5u);
  EXPECT_TRUE(Report().text.contains(QDir::toNativeSeparators(target))) << Report().text.toStdString();
  EXPECT_TRUE(Report().text.endsWith(QStringLiteral(": přístup byl odepřen"))) << Report().text.toStdString();
  EXPECT_EQ(Report().icon, QMessageBox::Critical);
  EXPECT_EQ(answers_.Seen()[3].title, QStringLiteral("Zadejte název souboru pro uložení"));
  EXPECT_EQ(LastSeen().buttons, QStringList({"Ano", "Ne"}));
  EXPECT_TRUE(stillOpen) << "the reception must go on after a failed save";
  EXPECT_EQ(ReadBytes(target), "A\r\nB\r\nC\r\n");
  EXPECT_TRUE(Leftovers(dir).isEmpty()) << Leftovers(dir).join(' ').toStdString();
}

// A size limit stands in for a full disk: writes beyond it fail with EFBIG
// as they would with ENOSPC, for root as for anyone.
TEST_F(AppFaults, ADiskThatFillsUpKeepsTheOldFileWholeAndTheLinesForASecondStorno) {
  const QString target = Path("full.nvr");
  WriteBytes(target, "OLD DUMP\r\n");
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "000" + std::to_string(100 + i) + " 0123456789ABCDEF0123456789ABCDEF\r";
  std::string oldFileAfterFailure;
  QStringList leftovers;
  Receive(target, [&] {
    ASSERT_TRUE(FeedAndWait(lines, 200));
    struct sigaction ignore {}, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    StornoFailing(BackToReception());
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);
    oldFileAfterFailure = ReadBytes(target);
    leftovers = Leftovers(temp_.path());
    Form3->BitBtn1->click();
  });
  ASSERT_EQ(answers_.Seen().size(), 5u);
  EXPECT_TRUE(Report().text.contains(QDir::toNativeSeparators(target))) << Report().text.toStdString();
  EXPECT_TRUE(Report().text.endsWith(QStringLiteral(": soubor je pro tento disk příliš velký")))
      << Report().text.toStdString();
  EXPECT_EQ(oldFileAfterFailure, "OLD DUMP\r\n");
  EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(' ').toStdString();
  std::string expected = lines;
  for (size_t at = 0; (at = expected.find('\r', at)) != std::string::npos; at += 2) expected.insert(at + 1, "\n");
  EXPECT_EQ(ReadBytes(target), expected);
}

// A device node named as the dump file (/dev/full, or a copy of it that root
// makes here) is written to or refused; it is never replaced by a file.
// Disabled until the save stops renaming over a device node (today root
// turns /dev/full into a plain file and is told it worked).
TEST_F(AppFaults, SavingOntoADeviceNodeIsReportedAndLeavesTheNodeAlone) {
  QString target = QStringLiteral("/dev/full");
  if (geteuid() == 0) {
    target = Path("full.nvr");
    if (mknod(QFile::encodeName(target).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
      GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
  }
  struct stat before {};
  ASSERT_EQ(stat(QFile::encodeName(target).constData(), &before), 0);
  ASSERT_TRUE(S_ISCHR(before.st_mode));
  bool reported = false;
  Receive(target, [&] {
    ASSERT_TRUE(FeedAndWait("A\rB\r", 2));
    // The technician gives up on that name: the save goes elsewhere.
    StornoFailing({SaveAs(Path("instead.nvr"))});
    reported = answers_.Seen().size() == 4;
  });
  struct stat after {};
  ASSERT_EQ(stat(QFile::encodeName(target).constData(), &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode)) << "the device node was replaced by a file";
  EXPECT_EQ(after.st_rdev, before.st_rdev);
  ASSERT_TRUE(reported) << "saving onto a device that takes nothing was not reported";
  EXPECT_EQ(Report().icon, QMessageBox::Critical);
  EXPECT_TRUE(Report().text.contains(QDir::toNativeSeparators(target))) << Report().text.toStdString();
  EXPECT_EQ(ReadBytes(Path("instead.nvr")), "A\r\nB\r\n");
  EXPECT_EQ(form_->StatusBar1Panel0->text(), QDir::toNativeSeparators(Path("instead.nvr")));
  EXPECT_EQ(Form3, nullptr);
}

// Every byte value but the line ends, cycling, without "77".
std::string LongLine(size_t size) {
  std::string line;
  line.reserve(size);
  for (size_t i = 0; line.size() < size; ++i) {
    const char c = static_cast<char>(i % 256);
    if (c == '\r' || c == '\n') continue;
    if (c == '7' && !line.empty() && line.back() == '7') continue;
    line += c;
  }
  return line;
}

// Laying out a megabyte line in the pane takes minutes under ThreadSanitizer.
#if defined(__SANITIZE_THREAD__)
constexpr size_t kLongLineBytes = 128 << 10;
#else
constexpr size_t kLongLineBytes = 1 << 20;
#endif

// A port whose device this user may not use: the message keeps its words
// and says on a second line which group to join.
TEST_F(AppFaults, APortThisUserMayNotUseSaysWhichGroupToJoin) {
  ProcessFarEnd far;
  ASSERT_TRUE(far.Ok());
  far.MapAs("COM7");
  const char* device = far.SlavePath().c_str();
  // Root hands the device to another owner and a group of its own, as the
  // system does with serial devices; anyone else takes its rights away.
  const group* dialout = ::getgrnam("dialout");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(device, 65534, dialout ? dialout->gr_gid : 20), 0);
    ASSERT_EQ(::chmod(device, 0660), 0);
  } else {
    ASSERT_EQ(::chmod(device, 0), 0);
  }
  struct stat st {};
  ASSERT_EQ(::stat(device, &st), 0);
  const QString group = QString::fromLocal8Bit(::getgrgid(st.st_gid)->gr_name);
  const QString user = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
  FilePermissionsHold hold;
  if (!hold.Active() || !RefusesAccess(far.SlavePath(), O_RDWR))
    GTEST_SKIP() << "file permissions are overridden here; a refused device cannot be had";

  form_->ComPort1->SetPort("COM7");
  form_->Memo1->setText(QStringLiteral("a\n"));
  answers_.Then(DialogAnswerer::Press("OK"));
  answers_.Then(DialogAnswerer::Press("OK"));
  form_->ToolButton2->click();
  ::unsetenv("VAZUR_PORT_MAP");
  ASSERT_EQ(answers_.Seen().size(), 2u) << answers_.Told();
  EXPECT_EQ(answers_.Seen()[1].text,
            QStringLiteral("Port nelze otevřít, upravte nastavení!\nK portu COM7 (%1) nemáte oprávnění. Přidejte se do "
                           "skupiny %2 (sudo usermod -aG %2 %3) a znovu se přihlaste.")
                .arg(QString::fromStdString(far.SlavePath()), group, user));
  EXPECT_FALSE(form_->ComPort1->Connected());
}

TEST_F(AppFaults, AMegabyteLineArrivingInPiecesIsShownAndSavedUnchanged) {
  const std::string line = LongLine(kLongLineBytes);
  Receive(Path("long.nvr"), [&] {
    answers_.Then(DialogAnswerer::Press("OK"));  // so long without a line end: told once
    for (size_t at = 0; at < line.size(); at += 4096) device_->Feed(line.substr(at, 4096));
    ASSERT_TRUE(FeedAndWait("\rshort\r", 2));
    Form3->BitBtn1->click();
  });
  EXPECT_EQ(ReadBytes(Path("long.nvr")), line + "\r\nshort\r\n");
  EXPECT_EQ(answers_.Unexpected(), 0);
}

// A large log beside the dumps is not read whole into the pane: a message
// says why, and the pane keeps what it had.
TEST_F(AppFaults, AFileTooLargeForADumpIsNotLoaded) {
  WriteBytes(Path("dump.nvr"), "A\r\n");
  {
    QFile big(Path("big.txt"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize((64LL << 20) + 1));  // sparse: costs no disk
  }
  form_->FileListBox1->Update();
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("dump.nvr")));
  form_->FileListBox1Click();
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("big.txt")));
  answers_.Then(DialogAnswerer::Press("OK"));
  form_->FileListBox1Click();
  ASSERT_EQ(answers_.Seen().size(), 1u) << answers_.Told();
  EXPECT_TRUE(answers_.Seen()[0].text.contains(QStringLiteral("přes 64 MiB"))) << answers_.Told();
  EXPECT_EQ(form_->Memo1->text(), QStringLiteral("A\n"));
}

// The exchange stopped mid-line (or a line never got its CR): "Storno" must
// not drop what came. Disabled until "Storno" keeps the unfinished line
// (today the bytes after the last CR are dropped without a word).
TEST_F(AppFaults, ADumpWithMixedLineEndsAndNoFinalEndIsSentBackLineByLine) {
  WriteBytes(Path("mixed.nvr"), std::string("A1\r\nB2\rC3\nD4\r\r\nE\x8a\x9a\xfd\x81"));
  form_->FileListBox1->Update();
  ASSERT_TRUE(form_->FileListBox1->HighlightName(QStringLiteral("mixed.nvr")));
  form_->FileListBox1Click();
  answers_.Then(DialogAnswerer::Press("OK"));  // the reminder
  answers_.Then(When([] { return Form2 && Form2->Gauge1->maximum() > 0 && Form2->Gauge1->value() == Form2->Gauge1->maximum(); },
                     [](QWidget*) { Form2->BitBtn1->click(); }));
  form_->ToolButton2->click();
  EXPECT_EQ(device_->TakeWritten(), std::string("A1\r\nB2\r\nC3\r\nD4\r\n\r\nE\x8a\x9a\xfd\x81\r\n"));
  // The file itself is not touched.
  EXPECT_EQ(ReadBytes(Path("mixed.nvr")), std::string("A1\r\nB2\rC3\nD4\r\r\nE\x8a\x9a\xfd\x81"));
  EXPECT_EQ(answers_.Unexpected(), 0);
}

}  // namespace
