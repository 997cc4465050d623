// The communications functions: handle checks, then the device does the work.
#include "winapi/comm_port.h"
#include "winapi/port_names.h"
#include "winapi/termios_device.h"
#include "winapi/virtual_registry.h"

using namespace winapi;

namespace {

std::shared_ptr<CommPort> Port(HANDLE h) { return LookupHandleAs<CommPort>(h); }

}  // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD, HANDLE) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string com = ComNameFromFileName(fileName);
  if (com.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (creation != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Share mode is not looked at: a communications device is always exclusive.
  std::shared_ptr<CommPort> port;
  DWORD error = ERROR_SUCCESS;
  if (!OpenVirtualDevice(com, fileName, &port, &error)) {
    std::string path;
    for (const auto& p : CurrentPorts())
      if (p.name == com && !p.isVirtual) path = p.path;
    if (path.empty()) {
      error = ERROR_FILE_NOT_FOUND;
    } else {
      std::unique_ptr<LineBackend> backend;
      error = OpenTermiosDevice(path, &backend);
      if (error == ERROR_SUCCESS) port = std::make_shared<CommPort>(std::move(backend));
    }
  }
  if (!port) {
    SetLastError(error ? error : ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  port->Start();
  SetLastError(ERROR_SUCCESS);
  return InsertHandle(std::move(port));
}

#define WITH_PORT(h)                  \
  auto port = Port(h);                \
  if (!port) return Fail(ERROR_INVALID_HANDLE)

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  WITH_PORT(h);
  return port->Read(buffer, toRead, read, overlapped);
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  WITH_PORT(h);
  return port->Write(buffer, toWrite, written, overlapped);
}

BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
  WITH_PORT(h);
  if (overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return port->GetResult(overlapped, transferred, wait != FALSE);
}

BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue) {
  WITH_PORT(h);
  return port->Setup(inQueue, outQueue);
}

BOOL GetCommState(HANDLE h, LPDCB dcb) {
  WITH_PORT(h);
  return port->GetState(dcb);
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
  WITH_PORT(h);
  return port->SetState(dcb);
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  WITH_PORT(h);
  return port->GetTimeouts(timeouts);
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
  WITH_PORT(h);
  return port->SetTimeouts(timeouts);
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
  WITH_PORT(h);
  return port->SetMask(mask);
}

BOOL GetCommMask(HANDLE h, LPDWORD mask) {
  WITH_PORT(h);
  return port->GetMask(mask);
}

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED overlapped) {
  WITH_PORT(h);
  return port->WaitEvent(mask, overlapped);
}

BOOL ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT stat) {
  WITH_PORT(h);
  return port->ClearError(errors, stat);
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD modemStat) {
  WITH_PORT(h);
  return port->GetModemStatus(modemStat);
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
  WITH_PORT(h);
  return port->Purge(flags);
}
