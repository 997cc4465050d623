// A scriptable communications device for tests (POSIX builds only).
// A test registers it under a port name; CreateFile("\\.\COM7") then opens it
// instead of a real tty. It records every call the port component makes and
// lets the test feed bytes, raise events and modem changes, and fail calls.
#pragma once

#include "winapi/win32.h"

#include <memory>
#include <string>
#include <vector>

namespace vdev {

// One recorded call. `name` is the API function ("SetCommState", "WriteFile",
// "PurgeComm", ...); the other members hold its arguments where they apply.
struct Call {
  std::string name;
  DCB dcb{};                 // SetCommState
  COMMTIMEOUTS timeouts{};   // SetCommTimeouts
  DWORD arg1 = 0;            // SetupComm in-queue, SetCommMask mask, PurgeComm flags, ReadFile count
  DWORD arg2 = 0;            // SetupComm out-queue
  std::string data;          // WriteFile bytes
};

class VirtualDevice {
 public:
  // Registers a device under `portName` ("COM7"); it replaces any mapping of
  // that name until Unregister or until the returned object is destroyed.
  static std::shared_ptr<VirtualDevice> Register(const std::string& portName);
  static void Unregister(const std::string& portName);

  virtual ~VirtualDevice() = default;

  // Recorded calls, oldest first. CreateFile records the full device name in `data`.
  virtual std::vector<Call> Calls() const = 0;
  virtual int CountOf(const std::string& name) const = 0;
  virtual void ClearCalls() = 0;
  virtual bool IsOpen() const = 0;

  // Everything written through WriteFile since the last TakeWritten (with a
  // paced line, what has left the transmit queue).
  virtual std::string TakeWritten() = 0;

  // Makes the transmit side a real line's: a queue of `queueBytes` that the
  // line empties at `bytesPerSecond`. With `visible` the driver sees that
  // queue (a UART, a USB adapter); without, it does not (a pseudo-terminal),
  // and the line goes on sending after the port is closed.
  virtual void PaceLine(unsigned bytesPerSecond, size_t queueBytes, bool visible) = 0;
  // The far end holds the line (flow control, a busy exchange): nothing
  // leaves the transmit queue until it lets go.
  virtual void HoldLine(bool held) = 0;
  // Bytes in the transmit queue that a purge threw away.
  virtual size_t Discarded() const = 0;
  // Waits until the paced line has sent everything in its queue.
  virtual void WaitUntilSent() = 0;

  // Bytes arriving from the line: they enter the receive queue and raise
  // EV_RXCHAR (and EV_RXFLAG / EV_RX80FULL where they apply).
  virtual void Feed(const std::string& bytes) = 0;
  // Raises events as if the driver had seen them (EV_* bits).
  virtual void RaiseEvents(DWORD evMask) = 0;
  // Sets the line-error word the next ClearCommError reports (and clears).
  virtual void SetLineErrors(DWORD ceBits) = 0;
  // Sets the modem status word (MS_*_ON bits).
  virtual void SetModemStatus(DWORD msBits) = 0;

  // Makes the named call fail with `winError`: `times` times, or always when -1.
  // Failing "CreateFile" makes the open fail.
  virtual void FailCall(const std::string& name, DWORD winError, int times = -1) = 0;
  virtual void ClearFailures() = 0;

  // Simulates device loss: pending I/O and waits complete with an error and
  // later calls fail with ERROR_DEVICE_NOT_CONNECTED.
  virtual void Unplug() = 0;
};

// Makes EnumPorts fail with `winError`: the next `times` calls, or every
// call when -1; 0 ends it.
void FailEnumPorts(DWORD winError, int times = -1);

// Leaves the machine's own serial devices out of the port map (and so out of
// EnumPorts), so a test sees only its registered devices and VAZUR_PORT_MAP.
void HideMachinePorts(bool hide);

}  // namespace vdev
