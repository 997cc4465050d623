// The port settings dialog "Nastavení": six drop-down lists for a port's name,
// speed, data bits, stop bits, parity and flow control.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;
class TComComboBox;
class TCustomComPort;

class TComSetupFrm : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and fills the lists; the port list comes from the
  // port enumeration, so this raises EComPort code 15 when that fails.
  explicit TComSetupFrm(QWidget* parent = nullptr);

  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label1 = nullptr;  // "Port"
  QLabel* Label2 = nullptr;  // "Rychlost"
  QLabel* Label3 = nullptr;  // "Data bitů"
  QLabel* Label4 = nullptr;  // "Stop bitů"
  QLabel* Label5 = nullptr;  // "Parita"
  QLabel* Label6 = nullptr;  // "Řízení toku"
  TComComboBox* Combo1 = nullptr;  // port
  TComComboBox* Combo2 = nullptr;  // baud rate
  TComComboBox* Combo3 = nullptr;  // data bits
  TComComboBox* Combo4 = nullptr;  // stop bits
  TComComboBox* Combo5 = nullptr;  // parity
  TComComboBox* Combo6 = nullptr;  // flow control
  QPushButton* Button1 = nullptr;  // "OK"
  QPushButton* Button2 = nullptr;  // "Storno"

 protected:
  // No key cancels the dialog: Escape is swallowed. The close box still
  // rejects (QDialog's closeEvent), which counts as "Storno".
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool placed_ = false;
};

// Shows the settings dialog for `ComPort` modally; on "OK" writes all six
// values inside one update bracket, so an open port is reconfigured once.
// EComPort from the port enumeration (or from reopening the port under a new
// name) reaches the caller.
void ShowPortSettingsDialog(TCustomComPort* ComPort);

// Makes TCustomComPort::ShowSettingsDialog open this dialog. The program calls
// it once at start.
void InstallPortSettingsDialog();
