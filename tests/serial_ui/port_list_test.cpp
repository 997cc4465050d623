// The port list of the property combo box: every resolvable COM name, from
// the virtual test devices and the port map of the POSIX layer.
#include "serial/serial.h"
#include "serial_ui/com_combo_box.h"
#include "serial_ui/port_enumeration.h"
#include "tests/serial_ui/serial_ui_test_util.h"
#include "winapi/port_map.h"
#include "winapi/virtual_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Items = std::vector<std::string>;

// The port list: every resolvable COM name, the device behind it as a tool tip.
class SerialUiPortList : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("VAZUR_PORT_MAP");
    vdev::FailEnumPorts(0, 0);
  }
};

TEST_F(SerialUiPortList, ListsTwoDigitPortsWholeAndTheyCanBeChosen) {
  auto com2 = vdev::VirtualDevice::Register("COM2");
  auto com12 = vdev::VirtualDevice::Register("COM12");
  auto com20 = vdev::VirtualDevice::Register("COM20");
  setenv("VAZUR_PORT_MAP", "COM5=/dev/null", 1);

  std::vector<std::string> names{"kept"};
  EnumerateComPorts(names);
  EXPECT_EQ(names.front(), "kept");  // appends
  for (const char* name : {"COM2", "COM5", "COM12", "COM20"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  EXPECT_EQ(std::count(names.begin(), names.end(), "COM1"), 0);

  TComPort port;
  port.SetPort("COM2");
  TComComboBox combo;
  combo.SetComProperty(cpPort);
  combo.SetComPort(&port);
  EXPECT_EQ(combo.Text(), "COM2");
  const int com5 = combo.findText("COM5");
  ASSERT_GE(com5, 0);
  EXPECT_EQ(combo.itemData(com5, Qt::ToolTipRole).toString(), "/dev/null");

  ASSERT_TRUE(PickItem(&combo, "COM12"));
  combo.ApplyToPort();
  EXPECT_EQ(port.Port(), "COM12");

  // COM20 is listed, but the port would quietly make it COM1: it cannot be picked.
  ASSERT_GE(combo.findText("COM20"), 0);
  EXPECT_FALSE(PickItem(&combo, "COM20"));
  combo.SetText("COM20");
  EXPECT_NE(combo.Text(), "COM20");
  combo.ApplyToPort();
  EXPECT_NE(port.Port(), "COM1");
}

TEST_F(SerialUiPortList, UnlistedNameLeavesNoSelectionAndIsKept) {
  auto com3 = vdev::VirtualDevice::Register("COM3");
  TComPort port;
  port.SetPort("COM7");
  TComComboBox combo;
  combo.SetComProperty(cpPort);
  combo.SetComPort(&port);
  EXPECT_EQ(ItemTexts(&combo), (Items{"COM3"}));
  EXPECT_EQ(combo.currentIndex(), -1);
  EXPECT_EQ(combo.Text(), "");
  combo.ApplyToPort();
  EXPECT_EQ(port.Port(), "COM7");
}

TEST_F(SerialUiPortList, NoPortsGiveAnEmptyListWithoutError) {
  std::vector<std::string> names;
  EXPECT_NO_THROW(EnumerateComPorts(names));
  EXPECT_TRUE(names.empty());
  TComComboBox combo;
  EXPECT_NO_THROW(combo.SetComProperty(cpPort));
  EXPECT_EQ(combo.count(), 0);
}

TEST_F(SerialUiPortList, EnumerationFailureRaisesCode15) {
  auto com1 = vdev::VirtualDevice::Register("COM1");
  vdev::FailEnumPorts(ERROR_ACCESS_DENIED);
  std::vector<std::string> names;
  try {
    EnumerateComPorts(names);
    FAIL() << "no exception";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 15);
    EXPECT_EQ(e.WinErrorCode(), static_cast<int32_t>(ERROR_ACCESS_DENIED));
    EXPECT_STREQ(e.what(), "EnumPorts function failed (win error code: 5)");
  }
  EXPECT_TRUE(names.empty());

  TComComboBox combo;
  EXPECT_THROW(combo.SetComProperty(cpPort), EComPort);

  // One failing call fails one enumeration; the next one lists again.
  vdev::FailEnumPorts(0, 0);
  vdev::FailEnumPorts(ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_THROW(EnumerateComPorts(names), EComPort);
  EXPECT_NO_THROW(EnumerateComPorts(names));
  EXPECT_NE(std::find(names.begin(), names.end(), "COM1"), names.end());

  // A list that grew between the size query and the listing is asked for
  // again; one that never fits fails instead of looping.
  names.clear();
  vdev::FailEnumPorts(ERROR_INSUFFICIENT_BUFFER, 2);
  EXPECT_NO_THROW(EnumerateComPorts(names));
  EXPECT_EQ(names, (Items{"COM1"}));
  vdev::FailEnumPorts(ERROR_INSUFFICIENT_BUFFER);
  try {
    EnumerateComPorts(names);
    FAIL() << "no exception";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 15);
    EXPECT_EQ(e.WinErrorCode(), static_cast<int32_t>(ERROR_INSUFFICIENT_BUFFER));
  }
}

}  // namespace
