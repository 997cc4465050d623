// Opening a tty (real serial device or pseudo-terminal) as a communications
// device. Internal to winapi/.
#pragma once

#include "winapi/comm_port.h"

#include <memory>
#include <string>

namespace winapi {

// Opens `path` exclusively (also against root and other processes). Returns
// 0 and the backend, or ERROR_FILE_NOT_FOUND / ERROR_ACCESS_DENIED / another
// Windows error.
DWORD OpenTermiosDevice(const std::string& path, std::unique_ptr<LineBackend>* backend);

}  // namespace winapi
