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

bool TForm2::Looping() const {
  switch (state_) {
    case State::kSending:
    case State::kWriting:
    case State::kHeld:
    case State::kStopAsked:
    case State::kHoldCut:
    case State::kDraining:
      return true;
    case State::kNotStarted:
    case State::kDone:
    case State::kFailed:
    case State::kStopping:
    case State::kClosing:
      return false;
  }
  return false;
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (state_ != State::kNotStarted) return;
  // After the dialog is up, from inside its modal loop.
  QTimer::singleShot(0, this, [this] { Guarded([this] { FormActivate(); }); });
}

void TForm2::ShowProgress(int handled) {
  Gauge1->setValue(handled);
  // Lines handled so far: the last one reads "Věta N z N".
  Label4->setText(QString::number(handled));
  Label4->adjustSize();
}

void TForm2::ShowStopped() {
  Label1->setText(QStringLiteral("Soubor:"));
  Gauge1->setEnabled(false);
  Label6->setText(QStringLiteral("Vysílání bylo přerušeno. Storno uzavře port."));
  Label6->show();
}

int32_t TForm2::WriteLine(const std::string& bytes, TAsyncTransfer* transfer, int handled) {
  TComPort& port = *owner_->ComPort1;
  state_ = State::kWriting;
  // However the write ends, unless "Storno" came meanwhile, the loop goes on
  // between lines.
  struct WriteEnd {
    State& state;
    ~WriteEnd() {
      if (state == State::kWriting || state == State::kHeld) state = State::kSending;
    }
  } writeEnd{state_};
  size_t written = 0;
  std::string rest;  // what a held line still has to give; kept while its write runs
  bool held = false;
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
      if (state_ != State::kHoldCut) throw;
      // What the port took of the line before "Storno" stands.
      GetOverlappedResult(port.DeviceHandle(), &transfer->Overlapped, &taken, FALSE);
    }
    written += taken;
    if (written >= bytes.size() || !Sending) break;
    // The write's time-out ran out with the line only partly taken: the
    // exchange holds the line (flow control, a full buffer) while it works.
    // The rest waits for it; "Storno" ends the waiting at once.
    if (!held) {
      held = true;
      state_ = State::kHeld;
      Label6->setText(QStringLiteral("Ústředna zatím nepřijímá, čeká se na ni."));
      Label6->show();
    }
  }
  if (held) Label6->hide();
  return static_cast<int32_t>(written);
}

int TForm2::PrepareCounters() {
  const int count = owner_->Memo1->LineCount();
  Gauge1->setMaximum(count);
  Label5->setText(QString::number(count));
  Label5->adjustSize();
  QString file = owner_->FileListBox1->FileName();
  if (owner_->MemoEdited()) {
    // The note must show whatever the path's length: the path gives way.
    const QString note = QStringLiteral(" (text změněn v okně)");
    const QFontMetrics metrics(Label2->font());
    const int room = Label2->width() - metrics.horizontalAdvance(note);
    file = metrics.elidedText(file, Qt::ElideMiddle, std::max(room, 0)) + note;
    Label2->setToolTip(owner_->FileListBox1->FileName() + note);
  }
  Label2->setText(file);
  return count;
}

bool TForm2::StopIfAsked(std::exception_ptr& closeError) {
  if (state_ != State::kStopAsked && state_ != State::kHoldCut) return true;
  // The line in hand is out (or the exchange held it back until the
  // press): now the port goes. A second press meanwhile does nothing.
  state_ = State::kDraining;
  QPointer<TForm2> self(this);
  closeError = ClosePort();
  return !self.isNull();
}

TForm2::LoopEnd TForm2::SendLines(int count, std::exception_ptr& closeError) {
  QPointer<TForm2> self(this);
  TMemo& memo = *owner_->Memo1;
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
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    if (sinceEvents.elapsed() >= kEventsIntervalMs) {
      ShowProgress(i);
      QCoreApplication::processEvents();
      if (!self || !StopIfAsked(closeError)) return LoopEnd::kDialogGone;
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
      if (!self) return LoopEnd::kDialogGone;
      if (!owner_->ComPort1->DeviceGone()) throw;
      ShowProgress(i);
      ShowStopped();
      // The box runs the event loop: "Storno" may be pressed meanwhile.
      AnnounceLineLost(*owner_, QStringLiteral("Odesílání se zastavilo u věty %1 z %2; věty od ní dál ústředna "
                                               "nedostala.")
                                    .arg(i + 1)
                                    .arg(count));
      return self ? LoopEnd::kDeviceLost : LoopEnd::kDialogGone;
    }
    if (!self) return LoopEnd::kDialogGone;
    const bool stopped = state_ == State::kStopAsked || state_ == State::kHoldCut;
    if (!StopIfAsked(closeError)) return LoopEnd::kDialogGone;
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
      if (!self) return LoopEnd::kDialogGone;
    }
  }
  return LoopEnd::kRanOut;
}

void TForm2::ReportEnd(int count, LoopEnd end, std::exception_ptr closeError) {
  QPointer<TForm2> self(this);
  if (end == LoopEnd::kRanOut) {
    ShowProgress(count);
    QCoreApplication::processEvents();
    if (!self) return;
  }
  if (!StopIfAsked(closeError)) return;
  if (state_ == State::kDraining) {
    state_ = State::kClosing;
    done(QDialog::Rejected);
    if (closeError) std::rethrow_exception(closeError);
    return;
  }
  if (end == LoopEnd::kDeviceLost) {
    state_ = State::kFailed;
    return;
  }
  state_ = State::kDone;
  // Each write completed when its bytes had left the port's queue (where
  // the device shows it; a pseudo-terminal delivers them after the close).
  Label6->setText(QStringLiteral("Soubor byl celý odeslán. Storno uzavře port."));
  Label6->show();
}

void TForm2::FormActivate() {
  if (state_ != State::kNotStarted) return;  // "Storno" came first
  Sending = true;
  const int count = PrepareCounters();
  if (count == 0) {
    state_ = State::kDone;
    return;
  }
  state_ = State::kSending;
  QPointer<TForm2> self(this);
  std::exception_ptr closeError;
  LoopEnd end = LoopEnd::kDialogGone;
  try {
    end = SendLines(count, closeError);
  } catch (...) {
    if (self) {
      state_ = State::kFailed;
      ShowStopped();
    }
    throw;
  }
  if (end == LoopEnd::kDialogGone) return;
  ReportEnd(count, end, closeError);
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
  switch (state_) {
    case State::kSending:
    case State::kWriting:
      // The loop closes the port once the line in hand is out: closing now
      // would cut it off.
      state_ = State::kStopAsked;
      return;
    case State::kHeld:
      // Unless the exchange holds it back: then the waiting ends now.
      try {
        owner_->ComPort1->AbortTransfers();
        state_ = State::kHoldCut;
      } catch (const EComPort&) {
        // The write still ends at its time-out.
        state_ = State::kStopAsked;
      }
      return;
    case State::kStopAsked:
    case State::kHoldCut:
    case State::kDraining:
    case State::kStopping:
    case State::kClosing:
      return;  // a second press: the first one is under way
    case State::kNotStarted:
    case State::kDone:
    case State::kFailed:
      break;
  }
  state_ = State::kStopping;
  QPointer<TForm2> self(this);
  const std::exception_ptr error = ClosePort();
  if (!self) return;
  state_ = State::kClosing;
  done(QDialog::Rejected);
  if (error) std::rethrow_exception(error);
}

void TForm2::reject() {}

void TForm2::closeEvent(QCloseEvent* event) {
  if (state_ != State::kClosing) event->ignore();
}
