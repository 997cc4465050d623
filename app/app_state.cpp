#include "app/app_state.h"

bool Receiving = false;
int32_t ReceivedCount = 0;
std::string RxBuffer;
bool Sending = false;

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
