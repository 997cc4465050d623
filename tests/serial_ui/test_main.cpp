// The settings dialog tests run inside the program's own application object,
// which also installs the dialog behind TCustomComPort::ShowSettingsDialog.
#include "app/application.h"
#ifndef _WIN32
#include "winapi/virtual_device.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifndef _WIN32
  // The port list must come from the test's own devices only.
  unsetenv("VAZUR_PORT_MAP");
  vdev::HideMachinePorts(true);
#endif
  VazurApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
