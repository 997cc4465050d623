#include "app/app_state.h"

#include "app/main_window.h"
#include "app/reception.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"

ReceivingFlag::operator bool() const { return TheReception.Current() == Reception::State::Taking; }
const ReceivingFlag Receiving;
int32_t& ReceivedCount = TheReception.ReceivedCount;
std::string& RxBuffer = TheReception.RxBuffer;
bool Sending = false;

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;

QWidget* TopDialog(TForm1& form) {
  if (Form2) return Form2;
  if (Form3) return Form3;
  return &form;
}
