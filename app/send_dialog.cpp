#include "app/send_dialog.h"

#include "app/app_state.h"
#include "app/cp1250.h"
#include "app/dump_file.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/port_access.h"
#include "rtl/classes.h"
#include "serial/serial.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <functional>

namespace {

constexpr qint64 kPaintIntervalMs = 20;

// Lines of the pane: its blocks, less the empty one after a final line break.
int LineCount(const QTextDocument& document) {
  int count = document.blockCount();
  if (count > 0 && document.lastBlock().text().isEmpty()) --count;
  return count;
}

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

void TForm2::FormActivate() {
  Sending = true;
  QPlainTextEdit& memo = *owner_->Memo1;
  const int count = LineCount(*memo.document());
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

  // The counters change with every line; painting them is worth it only as
  // often as an eye can follow (their values are always exact).
  QElapsedTimer sincePaint;
  sincePaint.start();
  auto paintCounters = [this](bool on) {
    Label4->setUpdatesEnabled(on);
    Gauge1->setUpdatesEnabled(on);
  };
  struct PaintAgain {
    std::function<void(bool)> set;
    ~PaintAgain() { set(true); }
  } paintAgain{paintCounters};

  bool lineLost = false;
  for (int i = 0; i < count; ++i) {
    if (Sending) {
      // Read afresh in each pass.
      const QString text = memo.document()->findBlockByNumber(i).text();
      std::optional<std::string> bytes = EncodeCp1250(text);
      if (!bytes) throw Exception((UnencodableMessage(*FindUnencodable(text, i)) +
                                   QStringLiteral(" Věta nebyla odeslána."))
                                      .toStdString());
      *bytes += "\r\n";
      int32_t written = 0;
      try {
        written = owner_->ComPort1->WriteText(*bytes);
      } catch (const EComPort&) {
        if (!DeviceGone(*owner_->ComPort1)) throw;
        // The box runs the event loop: "Storno" may be pressed meanwhile.
        AnnounceLineLost(*owner_, QStringLiteral("Odesílání se zastavilo u věty %1 z %2; věty od ní dál ústředna "
                                                 "nedostala.")
                                      .arg(i + 1)
                                      .arg(count));
        if (!self) return;
        lineLost = true;
        break;
      }
      if (written != static_cast<int32_t>(bytes->size()))
        throw Exception(QStringLiteral("Věta %1 nebyla odeslána celá: port převzal %2 z %3 bajtů.")
                            .arg(i + 1)
                            .arg(written)
                            .arg(bytes->size())
                            .toStdString());
    }
    const bool paint = i + 1 == count || sincePaint.elapsed() >= kPaintIntervalMs;
    paintCounters(paint);
    if (paint) sincePaint.restart();
    Gauge1->setValue(i + 1);
    // Lines handled so far: the last one reads "Věta N z N".
    Label4->setText(QString::number(i + 1));
    Label4->adjustSize();
    QCoreApplication::processEvents();
    if (!self) return;
  }
  looping_ = false;
  if (closeWhenDone_) {
    closing_ = true;
    done(QDialog::Rejected);
    return;
  }
  // Each write completed when its bytes had left the port's queue (where
  // the device shows it; a pseudo-terminal delivers them after the close).
  if (Sending && !lineLost) {
    Label6->setText(QStringLiteral("Soubor byl celý odeslán. Storno uzavře port."));
    Label6->show();
  }
}

void TForm2::BitBtn1Click() {
  Sending = false;
  // Lets the last line leave the driver before the port goes.
  QThread::msleep(100);
  std::exception_ptr error;
  try {
    owner_->ComPort1->Close();
  } catch (...) {
    error = std::current_exception();
  }
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
