#include "app/receive_dialog.h"

#include "app/app_state.h"
#include "app/dump_file.h"
#include "app/main_window.h"
#include "app/memo.h"
#include "app/message_boxes.h"
#include "app/reception.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

TForm3::TForm3(TForm1* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), owner_(owner) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Příjem dat"));
  setFixedSize(322, 101);
  setSizeGripEnabled(false);

  Label1 = new QLabel(this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setGeometry(84, 32, 161, Label1->sizeHint().height());

  BitBtn1 = new QPushButton(QStringLiteral("Storno"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(128, 68, 75, 25);
  BitBtn1->setDefault(true);
  BitBtn1->setAutoDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
  BitBtn1->installEventFilter(this);
}

TForm3::~TForm3() {
  if (Form3 == this) Form3 = nullptr;
}

namespace {

// Enter presses "Storno" only once the dialog has been up this long, and
// only after this pause in Enter's events.
constexpr qint64 kEnterGuardMs = 1000;
constexpr qint64 kEnterPauseMs = 250;

}  // namespace

void TForm3::BitBtn1Click() {
  // A second press while the first one's boxes are still shown.
  if (saving_ || finished_) return;
  saving_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{saving_};

  // Every line that came before the press belongs to the dump. While the
  // save runs, or its failure asks, bytes keep coming: they are kept.
  TheReception.Collect(*owner_);
  TheReception.BeginEnding();
  QString path = owner_->StatusBar1Panel0->text();
  if (ReceivedCount == 0 && QFileInfo::exists(path)) {
    ShowPlainMessage(this, QStringLiteral("Nebyla přijata žádná věta. Soubor %1 zůstal beze změny.").arg(path));
    TheReception.Finish(*owner_);
    Finish();
    return;
  }
  // A further try saves what came meanwhile too.
  if (!SaveMemoAsDump(*owner_, path, [this] { TheReception.Collect(*owner_); })) {
    if (AskYesNo(this, QStringLiteral("Ukončit příjem bez uložení? Přijaté věty zůstanou v okně."))) {
      TheReception.Collect(*owner_);  // the lines before the answer stay
      TheReception.Finish(*owner_);
      owner_->MarkReceivedLinesUnsaved(true);
      Finish();
    } else {
      TheReception.Resume(*owner_);
    }
    return;
  }
  owner_->SetMemoFile(path);
  owner_->StatusBar1Panel0->setText(path);
  TheReception.Finish(*owner_);
  saved_ = true;
  Finish();
  owner_->FileListBox1->Update();
}

void TForm3::Finish() {
  finished_ = true;
  done(QDialog::Rejected);
}

void TForm3::reject() {}

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  shown_.start();
}

void TForm3::closeEvent(QCloseEvent* event) {
  if (!finished_) event->ignore();
}

bool TForm3::StrayEnter(const QKeyEvent& event) {
  if (event.key() != Qt::Key_Return && event.key() != Qt::Key_Enter) return false;
  // A held key repeats every few tens of milliseconds, and the window
  // system does not always mark the repeats: a press counts only after a
  // pause in Enter's events.
  const bool repeating = event.isAutoRepeat() || (lastEnter_.isValid() && lastEnter_.elapsed() < kEnterPauseMs);
  lastEnter_.start();
  return event.type() != QEvent::KeyPress || repeating || !shown_.isValid() || shown_.elapsed() < kEnterGuardMs;
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  if (StrayEnter(*event)) return;
  QDialog::keyPressEvent(event);
}

void TForm3::keyReleaseEvent(QKeyEvent* event) {
  StrayEnter(*event);
  QDialog::keyReleaseEvent(event);
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
  // The focused button takes Enter itself, before the dialog sees it.
  if (watched == BitBtn1 && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
      StrayEnter(*static_cast<QKeyEvent*>(event)) && event->type() == QEvent::KeyPress)
    return true;
  return QDialog::eventFilter(watched, event);
}
