#include "rtl/error_report.h"

#include "rtl/classes.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class RtlErrorReport : public testing::Test {
 protected:
  void TearDown() override { SetErrorReportHook(nullptr); }
};

TEST_F(RtlErrorReport, HookReceivesMessages) {
  std::vector<std::string> reports;
  SetErrorReportHook([&](const std::string& text) { reports.push_back(text); });
  ReportError("Port nelze otevřít, upravte nastavení!");
  try {
    throw Exception("Unable to open com port (win error code: 2)");
  } catch (...) {
    ReportCurrentException();
  }
  try {
    throw 3;
  } catch (...) {
    ReportCurrentException();
  }
  EXPECT_EQ(reports, (std::vector<std::string>{"Port nelze otevřít, upravte nastavení!",
                                               "Unable to open com port (win error code: 2)", "Unknown exception"}));
}

TEST_F(RtlErrorReport, WithoutHookWritesToStderr) {
  testing::internal::CaptureStderr();
  ReportError("Data jsou přijata");
  try {
    throw std::runtime_error("line lost");
  } catch (...) {
    ReportCurrentException();
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Data jsou přijata\nline lost\n");
}

TEST_F(RtlErrorReport, FailingHookFallsBackToStderr) {
  SetErrorReportHook([](const std::string&) { throw std::runtime_error("no window"); });
  testing::internal::CaptureStderr();
  ReportError("the message");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "the message\n");
}

TEST_F(RtlErrorReport, ReportsFromManyThreads) {
  std::mutex m;
  int count = 0;
  SetErrorReportHook([&](const std::string&) {
    std::lock_guard<std::mutex> lock(m);
    ++count;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 100; ++i) ReportError("x");
    });
  // Replacing the hook while others report is safe too.
  SetErrorReportHook([&](const std::string&) {
    std::lock_guard<std::mutex> lock(m);
    ++count;
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(count, 400);
}

}  // namespace
