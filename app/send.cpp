// The send command. Stand-in until the send dialog arrives.
#include "app/main_window.h"

void TForm1::Vyslat1Click() {}
