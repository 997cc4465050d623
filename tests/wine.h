// Tests that meet a known limit of Wine skip themselves there, naming it.
#pragma once

#include "winapi/win32.h"

#include <gtest/gtest.h>

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#define SKIP_UNDER_WINE(limit)                                               \
  do {                                                                       \
    if (RunningUnderWine()) GTEST_SKIP() << "a limit of Wine: " << (limit); \
  } while (0)
