// The receive dialog "Příjem dat": a running count of the received lines and
// "Storno", which ends the reception and saves the dump.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TForm1;

// Takes the complete lines among the bytes the port holds right now into the
// reception, so that what arrived before "Storno" (or before the line went
// dead, when no further event comes) is shown and saved.
void CollectWaitingLines(TForm1& form);

class TForm3 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(TForm1* owner);
  ~TForm3() override;

  QLabel* Label1 = nullptr;       // progress text
  QPushButton* BitBtn1 = nullptr;  // "Storno"

  // "Storno": ends the reception and saves Memo1 to the file named in the
  // status bar. The dialog closes only when the dump has been saved; after a
  // failed save it stays open with the reception going on, so a second
  // "Storno" tries again.
  void BitBtn1Click();

  // Whether the last "Storno" saved the dump.
  bool Saved() const { return saved_; }

  // Only "Storno" ends the dialog: no close box, no Escape.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TForm1* owner_;
  bool saved_ = false;
  bool saving_ = false;
};
