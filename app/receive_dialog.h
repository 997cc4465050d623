// The receive dialog "Příjem dat": a running count of the received lines and
// "Storno", which ends the reception and saves the dump.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <functional>

class QKeyEvent;
class QLabel;
class QPushButton;
class TForm1;

// Saves Memo1 as a dump file to `path`. A failed save is reported and the
// save dialog offers another file or place, proposing the same name;
// `beforeRetry` runs before each further try. False once the technician
// cancels that dialog; otherwise `path` names the file saved.
bool SaveMemoAsDump(TForm1& form, QString& path, const std::function<void()>& beforeRetry);

class TForm3 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(TForm1* owner);
  ~TForm3() override;

  QLabel* Label1 = nullptr;       // progress text
  QPushButton* BitBtn1 = nullptr;  // "Storno"

  // "Storno": ends the reception and saves Memo1 to the file named in the
  // status bar. A reception that took no line leaves an existing file as it
  // was. When the save fails, the save dialog offers another file or place;
  // cancelling it asks whether to end without saving ("Ne" goes back to the
  // reception). No received line is lost without the technician saying so.
  void BitBtn1Click();

  // Whether the last "Storno" saved the dump.
  bool Saved() const { return saved_; }

  // Only "Storno" ends the dialog: no close box, no Escape.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The Enter that confirmed the save dialog, held or pressed twice, must
  // not end the reception that follows.
  // Notes every Enter event; true for a press that must not count.
  bool StrayEnter(const QKeyEvent& event);
  void Finish();

  TForm1* owner_;
  QElapsedTimer shown_;
  QElapsedTimer lastEnter_;
  bool saved_ = false;
  bool finished_ = false;
  bool saving_ = false;
};
