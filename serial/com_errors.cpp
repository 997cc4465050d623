#include "serial/com_errors.h"

#include <array>

namespace {

constexpr std::array<const char*, 22> kMessages = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
};

}  // namespace

std::string ComErrorMessage(int32_t code) {
  if (code < 1 || code >= static_cast<int32_t>(kMessages.size())) return std::string();
  return kMessages[static_cast<std::size_t>(code)];
}

EComPort::EComPort(int32_t code) : Exception(ComErrorMessage(code)), code_(code), winCode_(-1) {}

EComPort::EComPort(int32_t code, int32_t winCode)
    : Exception(ComErrorMessage(code) + " (win error code: " + std::to_string(winCode) + ")"),
      code_(code),
      winCode_(winCode) {}
