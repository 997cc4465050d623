// The receive command: the save dialog, the port's characters-received
// handler that turns the exchange's CR-ended lines into Memo1 lines, and the
// receive dialog that ends the reception.
#include "app/app_state.h"
#include "app/cp1250.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/port_access.h"
#include "app/receive_dialog.h"
#include "serial/serial.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>
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

// Bytes read and shown at a time when many are waiting.
constexpr int32_t kReadSlice = 64 * 1024;

// Whether the "77" now waiting in RxBuffer (after the last complete line)
// has already been announced, so that it is announced once, not at every
// later event.
bool EndMarkInTailAnnounced = false;

// Appends whole lines (each ended by '\n') to the pane in one edit, keeping
// the view at the end when it was there.
void AppendLines(QPlainTextEdit& memo, const QString& lines) {
  QScrollBar* bar = memo.verticalScrollBar();
  const bool follow = bar->value() == bar->maximum();
  QTextCursor cursor(memo.document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(lines);
  if (follow) bar->setValue(bar->maximum());
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

// Takes every complete line out of RxBuffer, in order (lines that arrived
// together must not wait for later events, which may never come once the
// exchange is done), and shows them all in one edit of the pane. Notes in
// `endMark` an end mark line that was not announced while it waited for its
// CR (`tailAnnounced`).
void TakeLines(TForm1& form, bool& endMark, bool& tailAnnounced) {
  QString lines;
  int32_t taken = 0;
  size_t start = 0;
  for (size_t cr; (cr = RxBuffer.find('\r', start)) != std::string::npos; start = cr + 1) {
    std::string line = RxBuffer.substr(start, cr - start);
    std::erase(line, '\n');
    if (line == kEndMark && !tailAnnounced) endMark = true;
    tailAnnounced = false;
    lines += DecodeCp1250(line);
    lines += QLatin1Char('\n');
    ++taken;
  }
  if (taken == 0) return;
  RxBuffer.erase(0, start);
  AppendLines(*form.Memo1, lines);
  ReceivedCount += taken;
  if (Form3) Form3->Label1->setText(QStringLiteral("Přijato vět: %1").arg(ReceivedCount));
  // Repaint and let "Storno" through; no further port event can come in
  // here, as the event thread waits for this handler.
  QCoreApplication::processEvents();
}

}  // namespace

void TForm1::Pijmout1Click() {
  ReceivedCount = 0;
  QFileDialog* dialog = SaveDialog(*this);
  dialog->setDirectory(DirectoryListBox1->Directory());
  dialog->selectNameFilter(dialog->property(kConfirmedFilter).toString());
  dialog->selectFile(dialog->property(kProposedName).toString());
  if (dialog->exec() != QDialog::Accepted) return;
  const QString chosen = dialog->selectedFiles().value(0);
  if (chosen.isEmpty()) return;
  const QFileInfo chosenInfo(dialog->directory(), chosen);
  dialog->setProperty(kProposedName, chosenInfo.fileName());
  dialog->setProperty(kConfirmedFilter, dialog->selectedNameFilter());

  if (!OpenComPortForCommand(*this)) return;

  RxBuffer.clear();
  EndMarkInTailAnnounced = false;
  Receiving = true;
  try {
    DirectoryListBox1->SetDirectory(chosenInfo.absolutePath());
  } catch (...) {
    Receiving = false;
    throw;
  }
  // A reception can run to millions of lines: no undo history for them.
  QTextDocument* document = Memo1->document();
  document->setUndoRedoEnabled(false);
  Memo1->clear();
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
  document->setUndoRedoEnabled(true);
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
  bool endMark = false;
  bool tailAnnounced = EndMarkInTailAnnounced;
  // A large backlog is read in slices, each shown before the next is read,
  // so that the window stays responsive; all Count bytes are read here.
  for (int32_t left = Count; left > 0;) {
    std::string received;
    const int32_t read = ComPort1->ReadText(received, std::min(left, kReadSlice));
    if (read <= 0) break;
    left -= read;
    RxBuffer += received;
    if (Receiving) TakeLines(*this, endMark, tailAnnounced);
  }
  if (!receiving) return;

  // "77" waiting after the last complete line: the end mark without a CR,
  // or split over two events.
  const bool tailMark = RxBuffer.find(kEndMark) != std::string::npos;
  if (tailMark && !tailAnnounced) endMark = true;
  EndMarkInTailAnnounced = tailMark;
  if (endMark) ShowPlainMessage(Form3 ? static_cast<QWidget*>(Form3) : this, QStringLiteral("Data jsou přijata"));
}

void CollectWaitingLines(TForm1& form) {
  if (!Receiving || !form.ComPort1->Connected()) return;
  bool endMark = false;
  bool tailAnnounced = EndMarkInTailAnnounced;
  try {
    // What waits now, not what keeps streaming in meanwhile.
    for (int32_t left = form.ComPort1->InputCount(); left > 0 && Receiving;) {
      std::string received;
      const int32_t read = form.ComPort1->ReadText(received, std::min(left, kReadSlice));
      if (read <= 0) break;
      left -= read;
      RxBuffer += received;
      TakeLines(form, endMark, tailAnnounced);
    }
  } catch (const EComPort&) {
    // A dead port has nothing more to give; its loss is reported by the port.
  }
  EndMarkInTailAnnounced = tailAnnounced && RxBuffer.find(kEndMark) != std::string::npos;
}
