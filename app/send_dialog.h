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

  // The send loop; runs once, when the dialog is first shown. A lost device
  // or a failed write ends it: the dialog says that sending has stopped and
  // stays open until "Storno".
  void FormActivate();
  // "Storno": stops the writing, closes the port and closes the dialog (at
  // once, or when a running loop has counted through the remaining lines).
  // A line that is going out at the press goes out whole first.
  void BitBtn1Click();

  // Only "Storno" ends the dialog: no close box, no Escape.
  void reject() override;

  // The send loop is running.
  bool Looping() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class State {
    kNotStarted,    // shown; the loop has not begun
    kSending,       // the loop runs, between lines
    kWriting,       // a line is going out; the window answers meanwhile
    kHeld,          // the exchange holds the line going out; its rest waits
    kStopAsked,     // "Storno" came while the loop ran: the port goes once the line in hand is out
    kHoldCut,       // "Storno" came while the line was held: its write was ended at once
    kDraining,      // the port is closed; the loop counts through the rest, then the dialog goes
    kDone,          // every line is out; waiting for "Storno"
    kFailed,        // a lost device or a refused write stopped the loop; waiting for "Storno"
    kStopping,      // "Storno" after the loop (or before it): pausing, then closing the port
    kClosing,       // the dialog is going
  };
  enum class LoopEnd { kRanOut, kDeviceLost, kDialogGone };

  void PlaceCounters();
  void ShowProgress(int handled);
  // Sets the gauge and the counters for the lines to send; their number.
  int PrepareCounters();
  // Writes the lines one by one, the window live, until they run out or the
  // device goes; a refused write leaves by an exception.
  LoopEnd SendLines(int count, std::exception_ptr& closeError);
  // Writes one line and waits for it with the window live (the counters
  // showing `handled`).
  int32_t WriteLine(const std::string& bytes, TAsyncTransfer* transfer, int handled);
  // Acts on a "Storno" that came while the loop ran: closes the port. False
  // when the dialog went meanwhile.
  bool StopIfAsked(std::exception_ptr& closeError);
  // The gauge full and "done", the failure's state, or the dialog's close.
  void ReportEnd(int count, LoopEnd end, std::exception_ptr closeError);
  // The dialog no longer says that the file is going out.
  void ShowStopped();
  // The pause, then the port's close; what the close raised.
  std::exception_ptr ClosePort();

  TForm1* owner_;
  State state_ = State::kNotStarted;
};
