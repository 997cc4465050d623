// Storing and loading a port's settings in one call: opens the registry key
// or INI file, runs the port's StoreTo... / LoadFrom... method, and reports a
// failure of the store as EComPort 16 ("Failed to store settings") or 17
// ("Failed to load settings") with its cause appended to the message. Errors
// of the port itself (a device refusing a loaded setting) keep their codes.
// Which settings take part is the port's StoredGroups().
#pragma once

#include "serial/com_errors.h"
#include "winapi/win32_registry.h"

#include <string>

class TCustomComPort;

// The key is created when missing (with its parents).
void StoreSettingsToRegistry(TCustomComPort& Port, HKEY Root, const std::string& Key);
// A missing key, or a missing integer value, fails with 17.
void LoadSettingsFromRegistry(TCustomComPort& Port, HKEY Root, const std::string& Key);
// The section is the port's Name().
void StoreSettingsToIniFile(TCustomComPort& Port, const std::string& FileName);
// A missing file or section fails with 17 rather than changing nothing.
void LoadSettingsFromIniFile(TCustomComPort& Port, const std::string& FileName);
