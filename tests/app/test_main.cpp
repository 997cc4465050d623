// The GUI tests run inside the program's own application object.
#include "app/application.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__) && defined(VAZUR_TSAN_SUPPRESSIONS)
// Qt is not built with ThreadSanitizer: the binary names the project's
// suppressions itself, whatever environment the test runner passes on.
extern "C" const char* __tsan_default_options() {
  return "suppressions=" VAZUR_TSAN_SUPPRESSIONS " second_deadlock_stack=1";
}
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  VazurApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
