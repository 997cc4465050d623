// The registry of virtual test devices, as CreateFile and EnumPorts see it.
// Internal to winapi/.
#pragma once

#include "winapi/comm_port.h"

#include <memory>
#include <string>
#include <vector>

namespace winapi {

std::vector<std::string> VirtualDeviceNames();

// The error a test asked EnumPorts to fail with (one use taken), or 0.
DWORD TakeEnumPortsFailure();

// Whether a test has hidden the machine's own serial devices.
bool MachinePortsHidden();

// Opens the virtual device registered as `comName`. Returns false when there
// is none; otherwise true with `port` set, or null and `error` set.
bool OpenVirtualDevice(const std::string& comName, const std::string& fileName, std::shared_ptr<CommPort>* port,
                       DWORD* error);

}  // namespace winapi
