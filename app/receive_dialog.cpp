#include "app/receive_dialog.h"

#include "app/app_state.h"
#include "app/dump_file.h"
#include "app/dump_text.h"
#include "app/main_window.h"
#include "app/message_boxes.h"

#include <QCloseEvent>
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
}

TForm3::~TForm3() {
  if (Form3 == this) Form3 = nullptr;
}

void TForm3::BitBtn1Click() {
  // A second press while the first one's error report is still shown.
  if (saving_) return;
  saving_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{saving_};

  CollectWaitingLines(*owner_);
  Receiving = false;
  try {
    SaveDumpFile(owner_->StatusBar1Panel0->text(), MemoLines(*owner_->Memo1));
  } catch (...) {
    // Nothing is lost: the lines stay in Memo1, the reception goes on and
    // "Storno" tries again once the technician has made room.
    Receiving = true;
    throw;
  }
  saved_ = true;
  done(QDialog::Rejected);
  owner_->FileListBox1->Update();
}

void TForm3::reject() {}

void TForm3::closeEvent(QCloseEvent* event) {
  if (!saved_) event->ignore();
}
