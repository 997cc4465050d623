#include "app/port_access.h"

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "serial/serial.h"

#include <exception>

namespace {

// The driver's receive queue. The event thread waits while a handler runs,
// and the reception's handler waits on the technician while "Data jsou
// přijata" is shown: what the exchange sends meanwhile must fit here, as the
// line has no flow control. 4 MiB is over nine hours of a 1200 Bd line, and
// a megabyte arriving in one burst still fits.
constexpr int32_t kReceiveQueueBytes = 4 * 1024 * 1024;

}  // namespace

// A port whose device has gone away fails the modem status query (a device
// without modem lines reports them all off instead).
bool DeviceGone(TComPort& port) {
  try {
    port.ModemStatus();
    return false;
  } catch (const EComPort&) {
    return true;
  }
}

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
    if (port.Buffer().InputSize() < kReceiveQueueBytes) port.Buffer().SetInputSize(kReceiveQueueBytes);
    port.Open();
  } catch (const std::exception&) {
    ShowPlainMessage(&form, QStringLiteral("Port nelze otevřít, upravte nastavení!"));
    return false;
  }
  return true;
}
