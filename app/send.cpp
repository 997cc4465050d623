// The send command: the reminder to put the exchange into its loading state,
// then the send dialog, which writes Memo1's lines to the port.
#include "app/app_state.h"
#include "app/dump_file.h"
#include "app/dump_text.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "app/port_access.h"
#include "app/send_dialog.h"

#include <QDir>

#include <memory>

void TForm1::Vyslat1Click() {
  ShowSystemBox(this, QMessageBox::Information, QStringLiteral(" INFORMACE "),
                QStringLiteral("Na vysílači tónů nastavte \"4180\" a na CPU stiskněte tlačítko \"LOAD\" !"));
  // Each line of the pane goes out as one line, whatever broke it.
  SplitAtLineSeparators(*Memo1);
  if (Memo1->LineCount() == 0) {
    ShowPlainMessage(this, QStringLiteral("V okně není žádná věta, není co odeslat. Vyberte v seznamu souborů výpis "
                                          "k odeslání."));
    return;
  }
  // A character typed into the pane that the exchange's code page lacks
  // would go out altered: nothing is sent until the line is mended.
  if (const std::optional<UnencodableChar> bad = FindUnencodable(Memo1->Utf8())) {
    ShowErrorBox(this, UnencodableMessage(*bad) + QStringLiteral(" Nic nebylo odesláno."));
    return;
  }
  // Czech letters of such a file are two or three bytes each: the exchange
  // would take them as other characters.
  if (MemoFileIsUtf8 &&
      !AskYesNo(this, QStringLiteral("Soubor %1 je uložen v kódování UTF-8 (tak ukládají text novější editory), "
                                     "ne v kódu Windows-1250 jako výpis ústředny. Ústředna by některé znaky "
                                     "dostala zkomolené. Přesto odeslat?")
                          .arg(QDir::toNativeSeparators(MemoFile))))
    return;
  if (!OpenComPortForCommand(*this)) return;

  auto sendDialog = std::make_unique<TForm2>(this);
  Form2 = sendDialog.get();
  sendDialog->exec();
  sendDialog.reset();
  Form2 = nullptr;
}
