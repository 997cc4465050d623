#include "app/port_access.h"

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "serial/serial.h"

#include <exception>

namespace {

// A port whose device is gone fails every status query with an empty
// receive queue; one that still holds bytes from before is still usable.
bool DeviceGone(TComPort& port) {
  try {
    port.InputCount();
    return false;
  } catch (const EComPort&) {
    return true;
  }
}

}  // namespace

bool OpenComPortForCommand(TForm1& form) {
  TComPort& port = *form.ComPort1;
  try {
    if (port.Connected() && DeviceGone(port)) {
      try {
        port.Close();
      } catch (const EComPort&) {
        // The purge of a vanished device may fail; the port is closed anyway.
      }
    }
    port.Open();
  } catch (const std::exception&) {
    ShowPlainMessage(&form, QStringLiteral("Port nelze otevřít, upravte nastavení!"));
    return false;
  }
  return true;
}
