// The receive command. Stand-in until the receive dialog arrives.
#include "app/main_window.h"

void TForm1::Pijmout1Click() {}

void TForm1::SaveDialog1TypeChange() {}

void TForm1::ComPort1RxChar(TObject* Sender, int32_t Count) {
  (void)Sender;
  (void)Count;
}
