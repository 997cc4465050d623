#include "app/reception.h"

#include "app/app_state.h"
#include "app/cp1250.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "app/receive_dialog.h"
#include "serial/serial.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cmath>

Reception TheReception;

namespace {

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

// A burst goes into the pane in pieces of this size, drawn later.
constexpr size_t kPendingBytes = 256 * 1024;

// No line of an exchange's RAM comes near this: a line this long means
// wrong line settings or line ends that are not CR.
constexpr size_t kEndlessLineBytes = 64 * 1024;

// How long the line must stay quiet after a "77" without its CR: twenty
// characters' time at the port's speed, and never under a quarter second.
int EndQuietMs(TComPort& port) {
  DWORD baud = BaudRateToValue(port.BaudRate());
  if (baud == 0) baud = static_cast<DWORD>(std::max<int32_t>(1, port.CustomBaudRate()));
  const double stop = port.StopBits() == sbOneStopBit ? 1 : port.StopBits() == sbOne5StopBits ? 1.5 : 2;
  const double bits = 1 + (5 + static_cast<int>(port.DataBits())) + (port.Parity().Bits() == prNone ? 0 : 1) + stop;
  return std::max(250, static_cast<int>(std::ceil(20 * bits * 1000 / baud)));
}

// One slice read from the port, kept for the next read.
std::string Slice;

}  // namespace

void Reception::Enter(State state) {
  state_ = state;
  ++stretch_;
  if (state != State::Taking && endQuietTimer_) endQuietTimer_->stop();
}

void Reception::Start() {
  RxBuffer.clear();
  scanned_ = 0;
  pendingLines_.clear();
  endLineTaken_ = false;
  endAnnounced_ = false;
  lineErrorWarned_ = false;
  endlessLineWarned_ = false;
  Enter(State::Taking);
}

void Reception::Reset() {
  Start();
  ReceivedCount = 0;
  Enter(State::Idle);
}

void Reception::BeginEnding() { Enter(State::Ending); }

void Reception::Resume(TForm1& form) {
  Enter(State::Taking);
  Collect(form);
  AfterTaking(form);
}

void Reception::Finish(TForm1& form) {
  Enter(State::Idle);
  ShowTakenLines(form);
}

bool Reception::TakeLineErrorWarning() {
  if (state_ != State::Taking || lineErrorWarned_) return false;
  lineErrorWarned_ = true;
  return true;
}

void Reception::Read(TForm1& form, int32_t count, bool live, bool take) {
  const uint64_t stretch = stretch_;
  QElapsedTimer sinceLive;
  sinceLive.start();
  for (int32_t left = count; left > 0 && stretch_ == stretch;) {
    const int32_t read = form.ComPort1->ReadText(Slice, std::min(left, kReadSlice));
    if (read <= 0) break;
    left -= read;
    // Nobody listens: read all the same, so that nothing piles up while the
    // exchange talks to nobody (and no command can start inside a handler).
    if (state_ == State::Idle) continue;
    RxBuffer += Slice;
    if (state_ != State::Taking && !take) continue;  // kept for the end of the ending
    TakeLines(form);
    if (live && left > 0 && sinceLive.elapsed() >= kLiveIntervalMs) {
      QCoreApplication::processEvents();
      sinceLive.restart();
    }
  }
}

void Reception::ReadAnnounced(TForm1& form, int32_t count) {
  const State began = state_;
  // The window answers (and shows the lines) between slices. No further
  // port event can come in meanwhile: the event thread waits for this
  // handler. A read failing because the device has gone is the port's to
  // tell, once.
  Read(form, count, true, false);
  // "Storno" pressed meanwhile ends the reception for the bytes still to
  // come, but this event still finishes its announcement.
  if (began == State::Taking) AfterTaking(form);
}

void Reception::Collect(TForm1& form) {
  if (state_ != State::Idle) {
    TakeLines(form);  // what was kept while the reception was ending
    if (form.ComPort1->Connected()) {
      try {
        // What waits now, not what keeps streaming in meanwhile.
        Read(form, form.ComPort1->InputCount(), false, true);
      } catch (const EComPort&) {
        // A dead port has nothing more to give; its loss is reported by the port.
      }
    }
  }
  // The dump is saved from the pane: every line taken is in it.
  ShowTakenLines(form);
}

// Takes every complete line out of RxBuffer, in order (lines that arrived
// together must not wait for later events, which may never come once the
// exchange is done), counts them and has them shown soon.
void Reception::TakeLines(TForm1& form) {
  int32_t taken = 0;
  size_t start = 0;
  std::string withoutLf;
  for (size_t cr, from = scanned_; (cr = RxBuffer.find('\r', from)) != std::string::npos; from = start = cr + 1) {
    std::string_view line(RxBuffer.data() + start, cr - start);
    // An LF ends nothing; it goes (the one after a CR stands first).
    if (line.find('\n') != std::string_view::npos) {
      withoutLf.assign(line);
      std::erase(withoutLf, '\n');
      line = withoutLf;
    }
    if (line == kEndMark) endLineTaken_ = true;
    AppendCp1250AsUtf8(pendingLines_, line);
    pendingLines_ += '\n';
    ++taken;
  }
  if (taken > 0) RxBuffer.erase(0, start);
  scanned_ = RxBuffer.size();
  if (scanned_ > kEndlessLineBytes) WarnOfEndlessLine(form);
  if (taken == 0) return;
  ReceivedCount += taken;
  if (pendingLines_.size() >= kPendingBytes) MovePendingLines(form);
  ShowSoon(form);
}

void Reception::AfterTaking(TForm1& form) {
  // While "Storno" saves or asks, the end waits for the way back.
  if (state_ == State::Ending) return;
  if (endLineTaken_) {
    AnnounceEnd(form);
    return;
  }
  WatchTail(form);
}

void Reception::WarnOfEndlessLine(TForm1& form) {
  if (endlessLineWarned_ || state_ == State::Idle) return;
  endlessLineWarned_ = true;
  const QString text =
      QStringLiteral("Z portu %1 přišlo už přes %2 KiB dat bez konce věty (CR). Ústředna zřejmě vysílá s jiným "
                     "nastavením linky (rychlost, parita, počet bitů) nebo s jinými konci vět; zkontrolujte "
                     "nastavení portu. Příjem pokračuje a přijatá data se uchovávají.")
          .arg(QString::fromStdString(form.ComPort1->Port()))
          .arg(kEndlessLineBytes / 1024);
  // Out of the handler: the port's event must not wait on the technician.
  QTimer::singleShot(0, &form, [form = QPointer<TForm1>(&form), text] {
    if (form) ShowSystemBox(TopDialog(*form), QMessageBox::Warning, QStringLiteral(" UPOZORNĚNÍ "), text);
  });
}

void Reception::AnnounceEnd(TForm1& form) {
  endLineTaken_ = false;
  // "Data jsou přijata" is said once a dump, and only when the data really
  // ended with the mark: exchange RAM is full of the byte pair "77".
  if (endAnnounced_) return;
  endAnnounced_ = true;
  ShowTakenLines(form);  // the last lines are up before the box
  if (endQuietTimer_) endQuietTimer_->stop();
  // Beside the receive dialog: its count stays in view.
  ShowPlainMessageBeside(TopDialog(form), QStringLiteral("Data jsou přijata"));
}

// What waits after the last line end is the mark alone (an LF ignored).
bool Reception::TailIsEndMark() const {
  if (RxBuffer.size() > kEndMark.size() + 2) return false;
  std::string tail = RxBuffer;
  std::erase(tail, '\n');
  return tail == kEndMark;
}

// A "77" after the last line end is the end only if nothing follows it for
// the quiet time; every new byte starts the wait again.
void Reception::WatchTail(TForm1& form) {
  if (!endQuietTimer_) {
    endQuietTimer_ = new QTimer(&form);
    endQuietTimer_->setSingleShot(true);
    QObject::connect(endQuietTimer_, &QTimer::timeout, &form, [this, &form] {
      Guarded([this, &form] {
        if (state_ != State::Taking || endAnnounced_ || !TailIsEndMark()) return;
        int32_t waiting = 0;
        try {
          waiting = form.ComPort1->InputCount();
        } catch (const EComPort&) {
          // A dead line sends nothing more: the mark stands.
        }
        if (waiting > 0) {
          endQuietTimer_->start();  // bytes are on their way to the handler
          return;
        }
        AnnounceEnd(form);
      });
    });
  }
  if (state_ == State::Taking && !endAnnounced_ && TailIsEndMark())
    endQuietTimer_->start(EndQuietMs(*form.ComPort1));
  else
    endQuietTimer_->stop();
}

// Puts the lines taken so far into the pane, in one edit.
void Reception::MovePendingLines(TForm1& form) {
  if (pendingLines_.empty()) return;
  form.Memo1->AppendLines(pendingLines_);
  pendingLines_.clear();
}

// Puts the lines taken so far into the pane and the count on the label.
void Reception::ShowTakenLines(TForm1& form) {
  if (showTimer_) showTimer_->stop();
  sinceShown_.start();
  MovePendingLines(form);
  // A burst leaves no large buffer behind.
  if (pendingLines_.capacity() > (1u << 20)) std::string().swap(pendingLines_);
  if (Form3) {
    const QString count = QStringLiteral("Přijato vět: %1").arg(ReceivedCount);
    if (Form3->Label1->text() != count) Form3->Label1->setText(count);
  }
}

// Shows what was taken as soon as the interval since the last showing is
// up: a line of a quiet spell at once, a stream ten times a second.
void Reception::ShowSoon(TForm1& form) {
  if (!showTimer_) {
    showTimer_ = new QTimer(&form);
    showTimer_->setSingleShot(true);
    QObject::connect(showTimer_, &QTimer::timeout, &form, [this, &form] { Guarded([this, &form] { ShowTakenLines(form); }); });
  }
  if (showTimer_->isActive()) return;
  const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : kShowIntervalMs;
  showTimer_->start(static_cast<int>(std::max<qint64>(0, kShowIntervalMs - since)));
}
