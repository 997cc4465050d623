#include "app/app_state.h"

#include "app/main_window.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"

bool Receiving = false;
int32_t ReceivedCount = 0;
std::string RxBuffer;
bool Sending = false;

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;

QWidget* TopDialog(TForm1& form) {
  if (Form2) return Form2;
  if (Form3) return Form3;
  return &form;
}
