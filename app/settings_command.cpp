// The settings command ("Nastavení" in the menu and on the toolbar): the
// port's settings dialog. A failure while the dialog is built (the port
// enumeration) goes on to the general error report.
#include "app/main_window.h"
#include "serial/serial.h"

void TForm1::Nastaven1Click() { ComPort1->ShowSettingsDialog(); }
