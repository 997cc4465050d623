// Placeholder until the settings persistence lands: every call fails clearly.
#include "serial/com_port.h"

void TCustomComPort::StoreToRegistry(TRegistry&) { throw EComPort(ecStoreFailed); }
void TCustomComPort::StoreToIniFile(TIniFile&) { throw EComPort(ecStoreFailed); }
void TCustomComPort::LoadFromRegistry(TRegistry&) { throw EComPort(ecLoadFailed); }
void TCustomComPort::LoadFromIniFile(TIniFile&) { throw EComPort(ecLoadFailed); }
