// Which device each COM name stands for (POSIX builds): VAZUR_PORT_MAP
// ("COM1=/dev/ttyUSB0,COM2=/dev/pts/3") first, then the machine's serial
// devices numbered from COM1 up (USB and ACM adapters, then UARTs that
// exist, leaving out the system console), skipping names the map already uses. Virtual test devices
// registered under a name take that name over.
#pragma once

#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32

// Every COM name with its device path, in the order EnumPorts lists them.
std::vector<std::pair<std::string, std::string>> ListPortMap();
// The device path behind "COM3" (any letter case), or empty when none.
std::string PortDevicePath(const std::string& comName);

#else

inline std::vector<std::pair<std::string, std::string>> ListPortMap() { return {}; }
inline std::string PortDevicePath(const std::string&) { return {}; }

#endif
