// The program's module-level state, shared by the main window's commands and
// the receive and send dialogs. All of it lives on the main thread.
#pragma once

#include <cstdint>
#include <string>

class TForm1;
class TForm2;
class TForm3;
class QWidget;

// The reception's names, read from its one object (app/reception.h).
// True while a reception takes lines (from the port's opening to "Storno");
// it changes only with the reception's state.
struct ReceivingFlag {
  operator bool() const;
};
extern const ReceivingFlag Receiving;
// Lines taken out of RxBuffer in the current reception.
extern int32_t& ReceivedCount;
// Bytes read from the port in the reception and not yet taken out as lines.
extern std::string& RxBuffer;
// True while the send loop may write.
extern bool Sending;

extern TForm1* Form1;  // the main window
extern TForm2* Form2;  // the send dialog while it exists
extern TForm3* Form3;  // the receive dialog while it exists

// What a message box belongs over: the open dialog, else the main window.
QWidget* TopDialog(TForm1& form);
