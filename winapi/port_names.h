// COM names and the ports behind them. Internal to winapi/.
#pragma once

#include <string>
#include <vector>

namespace winapi {

struct PortEntry {
  std::string name;  // "COM3"
  std::string path;  // "/dev/ttyUSB0"
  bool isVirtual;
};

// "\\.\COM3", "COM3", "com3:" give "COM3"; anything else gives "".
std::string ComNameFromFileName(const std::string& fileName);

// The serial devices under `devDir` in numbering order: ttyUSB, ttyACM, then
// ttyS with hardware behind them (type from `sysDir`), each by number; the
// system console is left out.
std::vector<std::string> MachineDevices(const std::string& devDir, const std::string& sysDir);

// All ports, ordered by number.
std::vector<PortEntry> CurrentPorts();

}  // namespace winapi
