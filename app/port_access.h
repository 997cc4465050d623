// Opening ComPort1 for the receive and send commands.
#pragma once

#include <QString>

#include <cstdint>

class TForm1;

// Opens the main window's port; an open port is left as it is, unless its
// device has gone away since (unplugged, the far end hung up): such a port
// is closed and opened afresh, so the next command works once the line is
// back. Any failure of the opening shows the plain message "Port nelze
// otevřít, upravte nastavení!" and gives false.
bool OpenComPortForCommand(TForm1& form);

// Closes the main window's port. A device that has gone away refuses the
// purge; the port is closed all the same and its loss is told by the port,
// so that refusal is dropped. Any other failure is raised.
void ClosePortOf(TForm1& form);

// Connects ComPort1's reports of a lost device and of line errors to the
// technician's messages, in Czech.
void ConnectLineReports(TForm1& form);

// Tells the technician, once for each opening of the port, that its device
// has gone; `detail` says what that means for the work under way. False
// when it was already told.
bool AnnounceLineLost(TForm1& form, const QString& detail);
