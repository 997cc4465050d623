// The receive command: the save dialog, the port's characters-received
// handler that turns the exchange's CR-ended lines into Memo1 lines, and the
// receive dialog that ends the reception.
#include "app/app_state.h"
#include "app/cp1250.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "app/port_access.h"
#include "app/receive_dialog.h"
#include "serial/serial.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string_view>

namespace {

const QStringList& SaveFilters() {
  static const QStringList filters = {QStringLiteral("Binární výpis dat (*.nvr)"),
                                      QStringLiteral("Textový výpis dat (*.txt)"),
                                      QStringLiteral("Všechny typy (*.*)")};
  return filters;
}

// What the dialog proposes next time: the name chosen (or set by a change
// of file type) and the filter of the last confirmed choice.
constexpr const char* kProposedName = "proposedName";
constexpr const char* kConfirmedFilter = "confirmedFilter";

// The exchange ends its dump with this, as a line of its own or not.
constexpr std::string_view kEndMark = "77";

// Bytes read and taken apart at a time when many are waiting.
constexpr int32_t kReadSlice = 64 * 1024;

// New lines and the count reach the screen together at most this often:
// a line or thousands, the pane and the label are drawn once. (Each drawing
// of the pane's scroll bar alone has the toolkit wake helper threads.)
constexpr qint64 kShowIntervalMs = 100;

// A long run of waiting bytes lets the window answer this often.
constexpr qint64 kLiveIntervalMs = 20;

// Lines taken but not yet in the pane (UTF-8, each ended by '\n'). A
// burst goes into the pane in pieces of this size, drawn later.
std::string PendingLines;
constexpr size_t kPendingBytes = 256 * 1024;
QPointer<QTimer> ShowTimer;
QElapsedTimer SinceShown;

// "Data jsou přijata" is said once a dump, and only when the data really
// ended with the mark: exchange RAM is full of the byte pair "77".
bool EndAnnounced = false;
QPointer<QTimer> EndQuietTimer;

// What waits after the last line end is the mark alone (an LF ignored).
bool TailIsEndMark() {
  if (RxBuffer.size() > kEndMark.size() + 2) return false;
  std::string tail = RxBuffer;
  std::erase(tail, '\n');
  return tail == kEndMark;
}

// How long the line must stay quiet after a "77" without its CR: twenty
// characters' time at the port's speed, and never under a quarter second.
int EndQuietMs(TComPort& port) {
  DWORD baud = BaudRateToValue(port.BaudRate());
  if (baud == 0) baud = static_cast<DWORD>(std::max<int32_t>(1, port.CustomBaudRate()));
  const double stop = port.StopBits() == sbOneStopBit ? 1 : port.StopBits() == sbOne5StopBits ? 1.5 : 2;
  const double bits = 1 + (5 + static_cast<int>(port.DataBits())) + (port.Parity().Bits() == prNone ? 0 : 1) + stop;
  return std::max(250, static_cast<int>(std::ceil(20 * bits * 1000 / baud)));
}

void ShowTakenLines(TForm1& form);

void AnnounceEnd(TForm1& form) {
  if (EndAnnounced) return;
  EndAnnounced = true;
  ShowTakenLines(form);  // the last lines are up before the box
  if (EndQuietTimer) EndQuietTimer->stop();
  ShowPlainMessage(TopDialog(form), QStringLiteral("Data jsou přijata"));
}

// A "77" after the last line end is the end only if nothing follows it for
// the quiet time; every new byte starts the wait again.
void WatchTail(TForm1& form) {
  if (!EndQuietTimer) {
    EndQuietTimer = new QTimer(&form);
    EndQuietTimer->setSingleShot(true);
    QObject::connect(EndQuietTimer, &QTimer::timeout, &form, [&form] {
      Guarded([&form] {
        if (!Receiving || EndAnnounced || !TailIsEndMark()) return;
        int32_t waiting = 0;
        try {
          waiting = form.ComPort1->InputCount();
        } catch (const EComPort&) {
          // A dead line sends nothing more: the mark stands.
        }
        if (waiting > 0) {
          EndQuietTimer->start();  // bytes are on their way to the handler
          return;
        }
        AnnounceEnd(form);
      });
    });
  }
  if (Receiving && !EndAnnounced && TailIsEndMark())
    EndQuietTimer->start(EndQuietMs(*form.ComPort1));
  else
    EndQuietTimer->stop();
}

// Puts the lines taken so far into the pane, in one edit.
void MovePendingLines(TForm1& form) {
  if (PendingLines.empty()) return;
  form.Memo1->AppendLines(PendingLines);
  PendingLines.clear();
}

// Puts the lines taken so far into the pane and the count on the label.
void ShowTakenLines(TForm1& form) {
  if (ShowTimer) ShowTimer->stop();
  SinceShown.start();
  MovePendingLines(form);
  // A burst leaves no large buffer behind.
  if (PendingLines.capacity() > (1u << 20)) std::string().swap(PendingLines);
  if (Form3) {
    const QString count = QStringLiteral("Přijato vět: %1").arg(ReceivedCount);
    if (Form3->Label1->text() != count) Form3->Label1->setText(count);
  }
}

// Shows what was taken as soon as the interval since the last showing is
// up: a line of a quiet spell at once, a stream ten times a second.
void ShowSoon(TForm1& form) {
  if (!ShowTimer) {
    ShowTimer = new QTimer(&form);
    ShowTimer->setSingleShot(true);
    QObject::connect(ShowTimer, &QTimer::timeout, &form, [&form] { Guarded([&form] { ShowTakenLines(form); }); });
  }
  if (ShowTimer->isActive()) return;
  const qint64 since = SinceShown.isValid() ? SinceShown.elapsed() : kShowIntervalMs;
  ShowTimer->start(static_cast<int>(std::max<qint64>(0, kShowIntervalMs - since)));
}

// The save dialog lives as long as the main window, so that it proposes the
// last name and file type again.
QFileDialog* SaveDialog(TForm1& form) {
  if (form.SaveDialog1) return form.SaveDialog1;
  auto* dialog = new QFileDialog(&form);
  dialog->setObjectName(QStringLiteral("SaveDialog1"));
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setWindowTitle(QStringLiteral("Zadejte název souboru pro uložení"));
  dialog->setNameFilters(SaveFilters());
  dialog->setDefaultSuffix(QStringLiteral("nvr"));
  dialog->setSizeGripEnabled(true);
  dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("Uložit do:"));
  dialog->setLabelText(QFileDialog::FileName, QStringLiteral("Název souboru:"));
  dialog->setLabelText(QFileDialog::FileType, QStringLiteral("Uložit jako typ:"));
  dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Uložit"));
  dialog->setLabelText(QFileDialog::Reject, QStringLiteral("Storno"));
  dialog->setProperty(kProposedName, QStringLiteral("Vazur"));
  dialog->setProperty(kConfirmedFilter, SaveFilters().first());
  QObject::connect(dialog, &QFileDialog::filterSelected, &form,
                   [&form](const QString&) { Guarded([&form] { form.SaveDialog1TypeChange(); }); });
  form.SaveDialog1 = dialog;
  return dialog;
}

// The save dialog in `directory` proposing `name` with the last confirmed
// type; the file chosen (relative names taken from the dialog's folder),
// remembered as the next proposal.
std::optional<QFileInfo> RunSaveDialog(TForm1& form, const QString& directory, const QString& name) {
  QFileDialog* dialog = SaveDialog(form);
  dialog->setDirectory(directory);
  dialog->selectNameFilter(dialog->property(kConfirmedFilter).toString());
  dialog->selectFile(name);
  if (dialog->exec() != QDialog::Accepted) return std::nullopt;
  const QString chosen = dialog->selectedFiles().value(0);
  if (chosen.isEmpty()) return std::nullopt;
  const QFileInfo info(dialog->directory(), chosen);
  dialog->setProperty(kProposedName, info.fileName());
  dialog->setProperty(kConfirmedFilter, dialog->selectedNameFilter());
  return info;
}

// Takes every complete line out of RxBuffer, in order (lines that arrived
// together must not wait for later events, which may never come once the
// exchange is done), counts them and has them shown soon. Notes in
// `endLine` a line that is exactly the end mark.
void TakeLines(TForm1& form, bool& endLine) {
  int32_t taken = 0;
  size_t start = 0;
  std::string withoutLf;
  for (size_t cr; (cr = RxBuffer.find('\r', start)) != std::string::npos; start = cr + 1) {
    std::string_view line(RxBuffer.data() + start, cr - start);
    // An LF ends nothing; it goes (the one after a CR stands first).
    if (line.find('\n') != std::string_view::npos) {
      withoutLf.assign(line);
      std::erase(withoutLf, '\n');
      line = withoutLf;
    }
    if (line == kEndMark) endLine = true;
    AppendCp1250AsUtf8(PendingLines, line);
    PendingLines += '\n';
    ++taken;
  }
  if (taken == 0) return;
  RxBuffer.erase(0, start);
  ReceivedCount += taken;
  if (PendingLines.size() >= kPendingBytes) MovePendingLines(form);
  ShowSoon(form);
}

// Reads `count` waiting bytes in slices. During a reception they go into
// RxBuffer and their lines are taken; with `live` the window answers between
// slices. Reading stops once that reception has ended: its Storno took what
// waited. Bytes that come with no reception running are read and dropped,
// so nothing piles up while the exchange talks to nobody (and no command
// can start inside this handler).
void ReadWaiting(TForm1& form, int32_t count, bool live, bool& endLine) {
  const bool receiving = Receiving;
  QElapsedTimer sinceLive;
  sinceLive.start();
  static std::string received;  // one slice, kept for the next
  for (int32_t left = count; left > 0 && Receiving == receiving;) {
    const int32_t read = form.ComPort1->ReadText(received, std::min(left, kReadSlice));
    if (read <= 0) break;
    left -= read;
    if (!receiving) continue;
    RxBuffer += received;
    TakeLines(form, endLine);
    if (live && left > 0 && sinceLive.elapsed() >= kLiveIntervalMs) {
      QCoreApplication::processEvents();
      sinceLive.restart();
    }
  }
}

}  // namespace

void TForm1::Pijmout1Click() {
  ReceivedCount = 0;
  const QString proposed = SaveDialog(*this)->property(kProposedName).toString();
  const std::optional<QFileInfo> chosen = RunSaveDialog(*this, DirectoryListBox1->Directory(), proposed);
  if (!chosen) return;
  const QFileInfo& chosenInfo = *chosen;

  if (!OpenComPortForCommand(*this)) return;

  RxBuffer.clear();
  PendingLines.clear();
  EndAnnounced = false;
  if (EndQuietTimer) EndQuietTimer->stop();
  ResetLineErrorWarning();
  Receiving = true;
  try {
    DirectoryListBox1->SetDirectory(chosenInfo.absolutePath());
  } catch (...) {
    Receiving = false;
    throw;
  }
  Memo1->Clear();
  StatusBar1Panel0->setText(QDir::toNativeSeparators(chosenInfo.absoluteFilePath()));

  auto receiveDialog = std::make_unique<TForm3>(this);
  Form3 = receiveDialog.get();
  receiveDialog->Label1->setText(QStringLiteral("Přijatých vět:"));
  receiveDialog->exec();
  receiveDialog.reset();
  Form3 = nullptr;
  // Only a successful "Storno" ends the dialog; should anything else have
  // closed it, the reception ends here all the same.
  Receiving = false;
  ShowTakenLines(*this);
}

void TForm1::SaveDialog1TypeChange() {
  if (!SaveDialog1) return;
  const int filter = static_cast<int>(SaveFilters().indexOf(SaveDialog1->selectedNameFilter())) + 1;
  const QString name = filter == 1 ? QStringLiteral("Vazur.nvr") : QStringLiteral("Vazur.txt");
  SaveDialog1->selectFile(name);
  SaveDialog1->setProperty(kProposedName, name);
}

void TForm1::ComPort1RxChar(TObject* Sender, int32_t Count) {
  (void)Sender;
  // "Storno" pressed while this event is handled ends the reception for the
  // bytes still to come, but this event still finishes its announcement.
  const bool receiving = Receiving;
  bool endLine = false;
  // The Count bytes are read here, the window answering (and showing the
  // lines) in between. No further port event can come in meanwhile: the
  // event thread waits for this handler. A read failing because the device
  // has gone is the port's to tell, once.
  ReadWaiting(*this, Count, true, endLine);
  if (!receiving) return;
  if (endLine) {
    AnnounceEnd(*this);
    return;
  }
  WatchTail(*this);
}

void CollectWaitingLines(TForm1& form) {
  if (Receiving) {
    bool endLine = false;
    TakeLines(form, endLine);  // what came while the reception waited on a failed save
    if (form.ComPort1->Connected()) {
      try {
        // What waits now, not what keeps streaming in meanwhile.
        ReadWaiting(form, form.ComPort1->InputCount(), false, endLine);
      } catch (const EComPort&) {
        // A dead port has nothing more to give; its loss is reported by the port.
      }
    }
  }
  // The dump is saved from the pane: every line taken is in it.
  ShowTakenLines(form);
}

std::optional<QString> ChooseReceiveFile(TForm1& form, const QString& proposed) {
  const QFileInfo info(proposed);
  const std::optional<QFileInfo> chosen = RunSaveDialog(form, info.absolutePath(), info.fileName());
  if (!chosen) return std::nullopt;
  return chosen->absoluteFilePath();
}
