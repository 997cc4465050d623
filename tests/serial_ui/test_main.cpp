// The settings dialog tests run inside the program's own application object,
// which also installs the dialog behind TCustomComPort::ShowSettingsDialog.
#include "app/application.h"
#include "winapi/virtual_device.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The port list must come from the test's own devices only.
  unsetenv("VAZUR_PORT_MAP");
  vdev::HideMachinePorts(true);
  VazurApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
