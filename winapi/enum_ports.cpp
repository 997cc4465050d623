// EnumPorts, level 1: the COM names CreateFile resolves, as "COMn:".
#include "winapi/kernel_object.h"
#include "winapi/port_names.h"
#include "winapi/virtual_registry.h"

#include <cstring>

using winapi::Fail;

BOOL EnumPortsA(LPSTR serverName, DWORD level, LPBYTE ports, DWORD bufSize, LPDWORD needed, LPDWORD returned) {
  if (needed == nullptr || returned == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *needed = 0;
  *returned = 0;
  if (serverName != nullptr && serverName[0] != '\0') return Fail(ERROR_INVALID_PARAMETER);
  if (level != 1) return Fail(ERROR_INVALID_LEVEL);
  if (const DWORD error = winapi::TakeEnumPortsFailure()) return Fail(error);  // a test asked for it

  std::vector<std::string> names;
  for (const auto& p : winapi::CurrentPorts()) names.push_back(p.name + ":");
  // The entries first, then the strings they point to.
  DWORD size = static_cast<DWORD>(names.size() * sizeof(PORT_INFO_1A));
  for (const std::string& n : names) size += static_cast<DWORD>(n.size() + 1);
  *needed = size;
  if (bufSize < size || (size > 0 && ports == nullptr)) return Fail(ERROR_INSUFFICIENT_BUFFER);

  char* strings = reinterpret_cast<char*>(ports) + names.size() * sizeof(PORT_INFO_1A);
  for (size_t i = 0; i < names.size(); ++i) {
    PORT_INFO_1A info{strings};
    std::memcpy(ports + i * sizeof(PORT_INFO_1A), &info, sizeof info);
    std::memcpy(strings, names[i].c_str(), names[i].size() + 1);
    strings += names[i].size() + 1;
  }
  *returned = static_cast<DWORD>(names.size());
  return TRUE;
}
