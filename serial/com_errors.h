// EComPort: the port's error, with its code, fixed message and Windows code.
#pragma once

#include "rtl/classes.h"

#include <cstdint>
#include <string>

// Error codes of EComPort (the message table's index).
enum TComErrorCode : int32_t {
  ecOpenFailed = 1,          // "Unable to open com port"
  ecWriteFailed = 2,         // "WriteFile function failed"
  ecReadFailed = 3,          // "ReadFile function failed"
  ecInvalidAsync = 4,        // "Invalid Async parameter"
  ecPurgeFailed = 5,         // "PurgeComm function failed"
  ecAsyncCheck = 6,          // "Unable to get async status"
  ecSetStateFailed = 7,      // "SetCommState function failed"
  ecTimeoutsFailed = 8,      // "SetCommTimeouts failed"
  ecSetupCommFailed = 9,     // "SetupComm function failed"
  ecClearCommFailed = 10,    // "ClearCommError function failed"
  ecModemStatFailed = 11,    // "GetCommModemStatus function failed"
  ecEscapeCommFailed = 12,   // "EscapeCommFunction function failed"
  ecTransmitFailed = 13,     // "TransmitCommChar function failed"
  ecSyncMethod = 14,         // "Cannot set SyncMethod while connected"
  ecEnumPortsFailed = 15,    // "EnumPorts function failed"
  ecStoreFailed = 16,        // "Failed to store settings"
  ecLoadFailed = 17,         // "Failed to load settings"
  ecRegistration = 18,       // "Link (un)registration failed"
  ecLedState = 19,           // "Cannot change led state if ComPort is selected"
  ecThreadCreated = 20,      // "Cannot wait for event if event thread is created"
  ecWaitFailed = 21,         // "WaitForEvent method failed"
};

// The fixed message of a code; empty for a code outside 1..21.
std::string ComErrorMessage(int32_t code);

class EComPort : public Exception {
 public:
  // Without a Windows code (WinErrorCode -1): the message alone.
  explicit EComPort(int32_t code);
  // With one: "<message> (win error code: <winCode>)".
  EComPort(int32_t code, int32_t winCode);

  int32_t Code() const { return code_; }
  int32_t WinErrorCode() const { return winCode_; }

 private:
  int32_t code_;
  int32_t winCode_;
};
