// The receive command: the save dialog, the port's characters-received
// handler that turns the exchange's CR-ended lines into Memo1 lines, and the
// receive dialog that ends the reception.
#include "app/app_state.h"
#include "app/dump_file.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "app/port_access.h"
#include "app/reception.h"
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

}  // namespace

void TForm1::Pijmout1Click() {
  ReceivedCount = 0;
  // A new reception empties the pane.
  if (!MayReplaceMemo()) return;
  const QString proposed = SaveDialog(*this)->property(kProposedName).toString();
  const std::optional<QFileInfo> chosen = RunSaveDialog(*this, DirectoryListBox1->Directory(), proposed);
  if (!chosen) return;
  const QFileInfo& chosenInfo = *chosen;

  if (!OpenComPortForCommand(*this)) return;

  TheReception.Start();
  try {
    DirectoryListBox1->SetDirectory(chosenInfo.absolutePath());
  } catch (...) {
    TheReception.Finish(*this);
    throw;
  }
  Memo1->Clear();
  SetMemoFile(QString());
  ReceivedLinesUnsaved = false;
  StatusBar1Panel0->setText(QDir::toNativeSeparators(chosenInfo.absoluteFilePath()));

  auto receiveDialog = std::make_unique<TForm3>(this);
  Form3 = receiveDialog.get();
  receiveDialog->Label1->setText(QStringLiteral("Přijatých vět:"));
  receiveDialog->exec();
  receiveDialog.reset();
  Form3 = nullptr;
  // Only "Storno" ends the dialog; should anything else have closed it,
  // the reception ends here all the same.
  TheReception.Finish(*this);
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
  TheReception.ReadAnnounced(*this, Count);
}

bool SaveMemoAsDump(TForm1& form, QString& path, const std::function<void()>& beforeRetry) {
  for (;;) {
    try {
      SaveDumpFile(path, form.Memo1->Utf8());
      return true;
    } catch (...) {
      ReportCurrentExceptionInGui();
    }
    const QFileInfo info(path);
    const std::optional<QFileInfo> other = RunSaveDialog(form, info.absolutePath(), info.fileName());
    if (!other) return false;
    path = QDir::toNativeSeparators(other->absoluteFilePath());
    if (beforeRetry) beforeRetry();
  }
}

void TForm1::UlozitJako1Click() {
  if (Memo1->Utf8().empty()) return;
  const QString proposed = SaveDialog(*this)->property(kProposedName).toString();
  const std::optional<QFileInfo> chosen = RunSaveDialog(*this, DirectoryListBox1->Directory(), proposed);
  if (!chosen) return;
  QString path = QDir::toNativeSeparators(chosen->absoluteFilePath());
  if (!SaveMemoAsDump(*this, path, {})) return;
  ReceivedLinesUnsaved = false;
  SetMemoFile(path);
  StatusBar1Panel0->setText(path);
  FileListBox1->Update();
}
