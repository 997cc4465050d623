// A reception's whole state in one object, from the opening of the port for
// a reception to the end of its "Storno". It lives on the main thread.
#pragma once

#include <QElapsedTimer>
#include <QPointer>

#include <cstdint>
#include <string>
#include <string_view>

class QTimer;
class TForm1;

class Reception {
 public:
  enum class State {
    Idle,    // no reception: what the port brings is read and dropped
    Taking,  // complete lines are taken out of RxBuffer, counted and shown
    Ending,  // "Storno" is saving or asking: bytes are kept, no line is taken
  };

  State Current() const { return state_; }
  bool Running() const { return state_ != State::Idle; }

  // A new reception into an emptied pane: the buffers are emptied, the end
  // mark and the warnings armed again. (The command sets the count to 0
  // itself, before its save dialog.)
  void Start();
  // No reception, and nothing left of an earlier one (a new main window).
  void Reset();
  // "Storno": no line is taken from here on, but every byte is kept.
  void BeginEnding();
  // Back to the reception after an ending without a save: what came
  // meanwhile is taken at once, the end mark included.
  void Resume(TForm1& form);
  // The reception is over; what the port brings from now on is dropped.
  // Every line taken is in the pane.
  void Finish(TForm1& form);

  // The port announced `count` waiting bytes: reads them in slices, the
  // window answering in between while lines are taken. Stops once the
  // state changes under it (a "Storno" collects what waits itself).
  void ReadAnnounced(TForm1& form, int32_t count);
  // Takes every complete line that has come so far (RxBuffer, then what the
  // port holds right now) into the pane, whatever the state: the lines
  // before "Storno", or before an answer, belong to the dump.
  void Collect(TForm1& form);

  // The first line error of a reception is worth a warning; true once.
  bool TakeLineErrorWarning();

  // Lines taken out of RxBuffer in the current reception.
  int32_t ReceivedCount = 0;
  // Bytes read from the port in this reception and not yet taken as lines.
  std::string RxBuffer;

 private:
  // Reads `count` bytes; with `live` the window answers between slices,
  // with `take` lines are taken even while the reception is ending.
  void Read(TForm1& form, int32_t count, bool live, bool take);
  void TakeLines(TForm1& form);
  void AfterTaking(TForm1& form);
  void MovePendingLines(TForm1& form);
  void ShowTakenLines(TForm1& form);
  void ShowSoon(TForm1& form);
  void AnnounceEnd(TForm1& form);
  void WatchTail(TForm1& form);
  bool TailIsEndMark() const;
  void WarnOfEndlessLine(TForm1& form);
  void Enter(State state);

  State state_ = State::Idle;
  // Counts the changes of state: a read that let the window answer sees
  // whether it still reads for the stretch it began in.
  uint64_t stretch_ = 0;
  // RxBuffer's first bytes known to hold no CR: the search goes on there.
  size_t scanned_ = 0;
  // Lines taken but not yet in the pane (UTF-8, each ended by '\n').
  std::string pendingLines_;
  QPointer<QTimer> showTimer_;
  QElapsedTimer sinceShown_;
  // A line that is exactly the end mark was taken and not yet announced.
  bool endLineTaken_ = false;
  bool endAnnounced_ = false;
  QPointer<QTimer> endQuietTimer_;
  bool lineErrorWarned_ = false;
  bool endlessLineWarned_ = false;
};

// The program's one reception.
extern Reception TheReception;
