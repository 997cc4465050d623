#include "app/send_dialog.h"

#include "app/app_state.h"
#include "app/cp1250.h"
#include "app/dump_file.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "app/port_access.h"
#include "rtl/classes.h"
#include "serial/serial.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {

constexpr qint64 kEventsIntervalMs = 10;
constexpr DWORD kWriteWaitSliceMs = 10;

}  // namespace

TForm2::TForm2(TForm1* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), owner_(owner) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Odesílání souboru do TÚ"));
  setFixedSize(347, 128);

  auto label = [this](const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QString::fromLatin1(name));
    l->move(x, y);
    l->adjustSize();
    return l;
  };
  Label1 = label("Label1", QStringLiteral("Vysílá se soubor:"), 8, 13);
  // The path starts after the caption: wider system fonts than the dialog
  // was laid out for must not let the two overlap.
  const int pathX = std::max(96, Label1->x() + Label1->width() + 4);
  Label2 = label("Label2", QString(), pathX, 13);
  Label2->setFixedWidth(341 - pathX);
  Label3 = label("Label3", QStringLiteral("Věta            z"), 8, 36);
  Label4 = label("Label4", QStringLiteral("0"), 37, 36);
  Label5 = label("Label5", QStringLiteral("0"), 78, 36);
  PlaceCounters();
  Label6 = label("Label6", QString(), 8, 79);
  Label6->setFixedWidth(333);
  Label6->hide();

  Gauge1 = new QProgressBar(this);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setGeometry(8, 56, 333, 21);
  Gauge1->setOrientation(Qt::Horizontal);
  Gauge1->setTextVisible(true);
  Gauge1->setMinimum(0);
  Gauge1->setMaximum(100);
  Gauge1->setValue(0);

  BitBtn1 = new QPushButton(QStringLiteral("Storno"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(140, 96, 75, 25);
  BitBtn1->setDefault(true);
  BitBtn1->setAutoDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
}

TForm2::~TForm2() {
  if (Form2 == this) Form2 = nullptr;
}

// The counters stand in the gaps of "Věta            z"; the gaps follow the
// font actually used.
void TForm2::PlaceCounters() {
  const QFontMetrics metrics(Label3->font());
  const int left = Label3->x();
  Label4->move(left + metrics.horizontalAdvance(QStringLiteral("Věta ")), Label3->y());
  Label5->move(left + metrics.horizontalAdvance(QStringLiteral("Věta            z ")), Label3->y());
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (activated_) return;
  activated_ = true;
  // After the dialog is up, from inside its modal loop.
  QTimer::singleShot(0, this, [this] { Guarded([this] { FormActivate(); }); });
}

void TForm2::ShowProgress(int handled) {
  Gauge1->setValue(handled);
  // Lines handled so far: the last one reads "Věta N z N".
  Label4->setText(QString::number(handled));
  Label4->adjustSize();
}

int32_t TForm2::WriteLine(const std::string& bytes, TAsyncTransfer* transfer, int handled) {
  TComPort& port = *owner_->ComPort1;
  writing_ = true;
  struct WriteEnd {
    bool& flag;
    ~WriteEnd() { flag = false; }
  } writeEnd{writing_};
  size_t written = 0;
  std::string rest;  // what a held line still has to give; kept while its write runs
  held_ = false;
  holdAborted_ = false;
  for (;;) {
    if (written > 0) rest.assign(bytes, written);
    port.WriteTextAsync(written == 0 ? bytes : rest, transfer);
    const HANDLE done = transfer->Overlapped.hEvent;
    if (WaitForSingleObject(done, 0) != WAIT_OBJECT_0) {
      // The line takes the line's time to leave a UART: the window answers
      // meanwhile, between short waits for the write to complete.
      ShowProgress(handled);
      while (WaitForSingleObject(done, kWriteWaitSliceMs) == WAIT_TIMEOUT) QCoreApplication::processEvents();
    }
    DWORD taken = 0;
    try {
      taken = static_cast<DWORD>(port.WaitForTransfer(transfer));
    } catch (const EComPort&) {
      if (!holdAborted_) throw;
      // What the port took of the line before "Storno" stands.
      GetOverlappedResult(port.DeviceHandle(), &transfer->Overlapped, &taken, FALSE);
    }
    written += taken;
    if (written >= bytes.size() || !Sending) break;
    // The write's time-out ran out with the line only partly taken: the
    // exchange holds the line (flow control, a full buffer) while it works.
    // The rest waits for it; "Storno" ends the waiting at once.
    if (!held_) {
      held_ = true;
      Label6->setText(QStringLiteral("Ústředna zatím nepřijímá, čeká se na ni."));
      Label6->show();
    }
  }
  if (held_) Label6->hide();
  held_ = false;
  return static_cast<int32_t>(written);
}

void TForm2::FormActivate() {
  Sending = true;
  TMemo& memo = *owner_->Memo1;
  const int count = memo.LineCount();
  Gauge1->setMaximum(count);
  Label5->setText(QString::number(count));
  Label5->adjustSize();
  Label2->setText(owner_->FileListBox1->FileName());
  if (count == 0) return;

  QPointer<TForm2> self(this);
  looping_ = true;
  struct LoopEnd {
    bool& flag;
    ~LoopEnd() { flag = false; }
  } loopEnd{looping_};

  TAsyncTransfer* transfer = nullptr;
  TComPort::NewTransfer(transfer);
  struct TransferEnd {
    TAsyncTransfer*& transfer;
    ~TransferEnd() { TComPort::FreeTransfer(transfer); }
  } transferEnd{transfer};

  // The window answers, and the counters are drawn, this often: a line
  // at a time would cost more than the line's write itself.
  QElapsedTimer sinceEvents;
  sinceEvents.start();
  std::exception_ptr closeError;
  bool lineLost = false;
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    if (sinceEvents.elapsed() >= kEventsIntervalMs) {
      ShowProgress(i);
      QCoreApplication::processEvents();
      if (!self) return;
      sinceEvents.restart();
    }
    if (!Sending) continue;
    // Read afresh in each pass.
    bytes.clear();
    if (const std::optional<UnencodableChar> bad = AppendLineBytes(memo.LineUtf8(i), i, bytes))
      throw Exception((UnencodableMessage(*bad) + QStringLiteral(" Věta nebyla odeslána.")).toStdString());
    bytes += "\r\n";
    int32_t written = 0;
    try {
      written = WriteLine(bytes, transfer, i);
    } catch (const EComPort&) {
      if (!self) return;
      if (!owner_->ComPort1->DeviceGone()) throw;
      ShowProgress(i);
      // The box runs the event loop: "Storno" may be pressed meanwhile.
      AnnounceLineLost(*owner_, QStringLiteral("Odesílání se zastavilo u věty %1 z %2; věty od ní dál ústředna "
                                               "nedostala.")
                                    .arg(i + 1)
                                    .arg(count));
      if (!self) return;
      lineLost = true;
      break;
    }
    if (!self) return;
    const bool stopped = closeAfterWrite_;
    if (stopped) {
      // "Storno" came while the line went out: it is out (or the exchange
      // held it back until the press), now the port goes.
      closeAfterWrite_ = false;
      closeError = ClosePort();
      if (!self) return;
      closeWhenDone_ = true;
    }
    if (written != static_cast<int32_t>(bytes.size())) {
      ShowProgress(i);
      const QString cut = QStringLiteral("Věta %1 nebyla odeslána celá: port převzal %2 z %3 bajtů.")
                              .arg(i + 1)
                              .arg(written)
                              .arg(bytes.size());
      if (!stopped) throw Exception(cut.toStdString());
      // "Storno" ended the waiting for a held line: the technician learns
      // what the exchange got, and the dialog goes as asked.
      ShowErrorBox(this, cut);
      if (!self) return;
    }
  }
  if (!lineLost) {
    ShowProgress(count);
    QCoreApplication::processEvents();
    if (!self) return;
  }
  looping_ = false;
  if (closeWhenDone_) {
    closing_ = true;
    done(QDialog::Rejected);
    if (closeError) std::rethrow_exception(closeError);
    return;
  }
  // Each write completed when its bytes had left the port's queue (where
  // the device shows it; a pseudo-terminal delivers them after the close).
  if (Sending && !lineLost) {
    Label6->setText(QStringLiteral("Soubor byl celý odeslán. Storno uzavře port."));
    Label6->show();
  }
}

std::exception_ptr TForm2::ClosePort() {
  // Lets the last line leave the driver before the port goes; the window
  // stays live for the pause.
  QEventLoop pause;
  QTimer::singleShot(100, &pause, &QEventLoop::quit);
  pause.exec();
  try {
    ClosePortOf(*owner_);
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void TForm2::BitBtn1Click() {
  Sending = false;
  if (stopping_) return;  // a second press while the first one pauses
  if (writing_) {
    // A line is going out: closing now would cut it off. The loop closes
    // the port once it is out.
    closeAfterWrite_ = true;
    if (held_ && !holdAborted_) {
      // Unless the exchange holds it back: then the waiting ends now.
      holdAborted_ = true;
      try {
        owner_->ComPort1->AbortTransfers();
      } catch (const EComPort&) {
        // The write still ends at its time-out.
      }
    }
    return;
  }
  stopping_ = true;
  QPointer<TForm2> self(this);
  const std::exception_ptr error = ClosePort();
  if (!self) return;
  stopping_ = false;
  if (looping_) {
    closeWhenDone_ = true;
  } else {
    closing_ = true;
    done(QDialog::Rejected);
  }
  if (error) std::rethrow_exception(error);
}

void TForm2::reject() {}

void TForm2::closeEvent(QCloseEvent* event) {
  if (!closing_) event->ignore();
}
