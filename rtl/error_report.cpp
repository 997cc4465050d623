#include "rtl/error_report.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_hookMutex;
std::function<void(const std::string&)> g_hook;
std::mutex g_stderrMutex;

void WriteToStderr(const std::string& message) {
  std::lock_guard<std::mutex> lock(g_stderrMutex);
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

void ReportError(const std::string& message) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    hook = g_hook;
  }
  if (hook) {
    try {
      hook(message);
      return;
    } catch (...) {
      // The report itself failed: the message must still reach someone.
    }
  }
  WriteToStderr(message);
}

void ReportCurrentException() {
  std::string message = "Unknown exception";
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      message = e.what();
    } catch (...) {
    }
  }
  ReportError(message);
}

void SetErrorReportHook(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  g_hook = std::move(hook);
}
