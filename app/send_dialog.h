// The send dialog "Odesílání souboru do TÚ": sends Memo1's lines, each with
// CR LF, when it is shown, with a gauge, the line counters and "Storno".
#pragma once

#include <QDialog>

#include <cstdint>
#include <exception>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class TForm1;
struct TAsyncTransfer;

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(TForm1* owner);
  ~TForm2() override;

  QLabel* Label1 = nullptr;  // "Vysílá se soubor:"
  QLabel* Label2 = nullptr;  // the file selected in the file list
  QLabel* Label3 = nullptr;  // "Věta            z"
  QLabel* Label4 = nullptr;  // index of the line just handled
  QLabel* Label5 = nullptr;  // number of lines
  QLabel* Label6 = nullptr;  // said once the whole load is out
  QProgressBar* Gauge1 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // "Storno"

  // The send loop; runs once, when the dialog is first shown. A failed write
  // leaves it (the dialog stays open until "Storno").
  void FormActivate();
  // "Storno": stops the writing, closes the port and closes the dialog (at
  // once, or when a running loop has counted through the remaining lines).
  // A line that is going out at the press goes out whole first.
  void BitBtn1Click();

  // Only "Storno" ends the dialog: no close box, no Escape.
  void reject() override;

  // The send loop is running.
  bool Looping() const { return looping_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void PlaceCounters();
  void ShowProgress(int handled);
  // Writes one line and waits for it with the window live (the counters
  // showing `handled`).
  int32_t WriteLine(const std::string& bytes, TAsyncTransfer* transfer, int handled);
  // The pause, then the port's close; what the close raised.
  std::exception_ptr ClosePort();

  TForm1* owner_;
  bool activated_ = false;
  bool looping_ = false;
  bool writing_ = false;
  bool held_ = false;         // the exchange holds the line being written
  bool holdAborted_ = false;  // "Storno" cut the write of a held line short
  bool closeAfterWrite_ = false;
  bool stopping_ = false;
  bool closeWhenDone_ = false;
  bool closing_ = false;
};
