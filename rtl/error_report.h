// The application's general error report, reachable from below the GUI.
#pragma once

#include <exception>
#include <functional>
#include <string>

// Shows `message` as the general error report. Without a hook installed it
// writes to standard error. May be called from any thread; the hook decides
// how to reach the GUI.
void ReportError(const std::string& message);
// Reports the exception in flight (call from a catch block).
void ReportCurrentException();
void SetErrorReportHook(std::function<void(const std::string&)> hook);
