// The serial ports installed, as the print spooler's port enumeration lists them.
#pragma once

#include <string>
#include <vector>

// Appends the names of the installed serial ports ("COM1", "COM12", ...) in
// the order the system gives them; other ports (printers, files) are left
// out. Raises EComPort code 15 with the system's error code on failure.
void EnumerateComPorts(std::vector<std::string>& Ports);
