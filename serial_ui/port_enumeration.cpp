#include "serial_ui/port_enumeration.h"

#include "serial/com_errors.h"
#include "winapi/win32.h"

#include <cstring>

namespace {

// A port plugged in between the size query and the listing makes the
// buffer short again; ask again a few times before calling it a failure.
constexpr int kAttempts = 4;

}  // namespace

// The 8-bit variants by name, whatever the build's character set: the list is of std::string.
void EnumerateComPorts(std::vector<std::string>& Ports) {
  DWORD needed = 0;
  DWORD returned = 0;
  if (EnumPortsA(nullptr, 1, nullptr, 0, &needed, &returned)) return;  // no ports at all
  DWORD error = GetLastError();
  std::vector<BYTE> buffer;
  for (int attempt = 0; attempt < kAttempts && error == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.assign(needed, 0);
    if (EnumPortsA(nullptr, 1, buffer.empty() ? nullptr : buffer.data(), needed, &needed, &returned)) {
      error = ERROR_SUCCESS;
      break;
    }
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) throw EComPort(ecEnumPortsFailed, static_cast<int32_t>(error));

  for (DWORD i = 0; i < returned; ++i) {
    PORT_INFO_1A info;
    std::memcpy(&info, buffer.data() + i * sizeof(PORT_INFO_1A), sizeof info);
    if (info.pName == nullptr) continue;
    const std::string name(info.pName);
    if (name.compare(0, 3, "COM") != 0) continue;
    // "COM12:" is COM12: the name runs up to its colon.
    Ports.push_back(name.substr(0, name.find(':')));
  }
}
