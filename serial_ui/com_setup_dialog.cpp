#include "serial_ui/com_setup_dialog.h"

#include "serial/com_port.h"
#include "serial_ui/com_combo_box.h"

#include <QGroupBox>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <array>
#include <exception>

namespace {

constexpr int kClientWidth = 231;
constexpr int kClientHeight = 216;
constexpr int kComboWidth = 129;
constexpr int kComboHeight = 21;

}  // namespace

TComSetupFrm::TComSetupFrm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ComSetupFrm"));
  setWindowTitle(QStringLiteral("Nastavení"));
  // A fixed-size dialog frame: no resizing, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  QFont f = font();
#ifdef _WIN32
  f.setFamily(QStringLiteral("MS Sans Serif"));
#endif
  f.setPointSize(8);
  setFont(f);
  setFixedSize(kClientWidth, kClientHeight);

  GroupBox1 = new QGroupBox(QStringLiteral(" Nastavení "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 8, 217, 169);
  // The caption sits on the frame's top line, leaving the lists room below it.
  GroupBox1->setStyleSheet(QStringLiteral(
      "QGroupBox#GroupBox1 { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
      "QGroupBox#GroupBox1::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px;"
      " padding: 0px; background-color: palette(window); }"));

  const std::array<QString, 6> captions = {QStringLiteral("Port"),      QStringLiteral("Rychlost"),
                                           QStringLiteral("Data bitů"), QStringLiteral("Stop bitů"),
                                           QStringLiteral("Parita"),    QStringLiteral("Řízení toku")};
  std::array<QLabel**, 6> labels = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6};
  std::array<TComComboBox**, 6> combos = {&Combo1, &Combo2, &Combo3, &Combo4, &Combo5, &Combo6};
  const std::array<TComProperty, 6> properties = {cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl};

  for (int i = 0; i < 6; ++i) {
    QLabel* label = new QLabel(captions[i], GroupBox1);
    label->setFont(f);  // the group's style sheet would otherwise cut the font off
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    label->adjustSize();
    label->move(8, 24 + 24 * i);
    *labels[i] = label;

    TComComboBox* combo = new TComComboBox(GroupBox1);
    combo->setFont(f);
    combo->setObjectName(QStringLiteral("Combo%1").arg(i + 1));
    combo->setGeometry(80, 16 + 24 * i, kComboWidth, kComboHeight);
    label->setBuddy(combo);
    *combos[i] = combo;
  }
  // The label's text sits on the middle of its list.
  for (int i = 0; i < 6; ++i) {
    QLabel* label = *labels[i];
    const QRect box = (*combos[i])->geometry();
    label->move(8, box.top() + (box.height() - label->height()) / 2);
  }

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(70, 184, 75, 25);
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("Storno"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(150, 184, 75, 25);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  QWidget::setTabOrder(Combo1, Combo2);
  QWidget::setTabOrder(Combo2, Combo3);
  QWidget::setTabOrder(Combo3, Combo4);
  QWidget::setTabOrder(Combo4, Combo5);
  QWidget::setTabOrder(Combo5, Combo6);
  QWidget::setTabOrder(Combo6, Button1);
  QWidget::setTabOrder(Button1, Button2);

  // Filling the port list runs the port enumeration and may raise; the
  // half-built form is then freed by unwinding like any other QObject.
  for (int i = 0; i < 6; ++i) (*combos[i])->SetComProperty(properties[i]);
  Combo1->setFocus();
}

void TComSetupFrm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TComSetupFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // Centred on the screen that shows the program's active window.
  QScreen* screen = nullptr;
  if (QWidget* active = QApplication::activeWindow(); active && active != this) screen = active->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QRect frame = frameGeometry();
  move(area.center() - QPoint(frame.width() / 2, frame.height() / 2) + (pos() - frame.topLeft()));
}

void ShowPortSettingsDialog(TCustomComPort* ComPort) {
  TComSetupFrm form(nullptr);
  TComComboBox* const combos[] = {form.Combo1, form.Combo2, form.Combo3, form.Combo4, form.Combo5, form.Combo6};
  for (TComComboBox* combo : combos) combo->SetComPort(ComPort);
  for (TComComboBox* combo : combos) combo->RefreshFromPort();
  if (form.exec() != QDialog::Accepted || ComPort == nullptr) return;

  // One bracket: an open port takes the six values in one reconfiguration.
  ComPort->BeginUpdate();
  try {
    for (TComComboBox* combo : combos) combo->ApplyToPort();
  } catch (...) {
    // The bracket must close even so, or the port would never apply again.
    try {
      ComPort->EndUpdate();
    } catch (...) {
    }
    throw;
  }
  ComPort->EndUpdate();
}

void InstallPortSettingsDialog() {
  SetShowSettingsDialogHook([](TCustomComPort* Port) { ShowPortSettingsDialog(Port); });
}
