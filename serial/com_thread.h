// TComThread: while a port is open, waits for its line events and hands each
// completed set to the port's processors on the thread SyncMethod chooses.
#pragma once

#include "rtl/thread.h"
#include "serial/com_types.h"
#include "winapi/win32.h"

#include <string>

class TCustomComPort;

class TComThread : public TThread {
 public:
  // Creates the stop event, sets the device's event mask from the port's
  // Events and starts waiting. Raises EComPort code 6 when no event can be made.
  explicit TComThread(TCustomComPort* AComPort);
  // Stops the body and waits for it (hand-overs keep running meanwhile).
  ~TComThread() override;

  // Asks the body to end; it clears the mask, purges and closes its handles.
  void Stop();

  TCustomComPort* ComPort() const { return comPort_; }
  TComEvents SignalledEvents() const { return signalledEvents_; }

 protected:
  void Execute() override;

 private:
  void DispatchEvents();
  void DeliverEvents();
  void SendEvents();
  // Waiting for line events keeps failing: the device has gone.
  void ReportLineLost(DWORD error);

  TCustomComPort* comPort_;
  std::string portName_;  // for messages; the port's own may change meanwhile
  HANDLE stopEvent_ = nullptr;
  TComEvents signalledEvents_;
};
