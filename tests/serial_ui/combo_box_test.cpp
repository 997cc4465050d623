// The property combo box: its lists, what it shows of a port and writes back.
#include "serial/serial.h"
#include "serial_ui/com_combo_box.h"
#include "tests/serial_ui/serial_ui_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Items = std::vector<std::string>;

TEST(SerialUiCombo, FillsEachPropertyInEnumerationOrder) {
  TComComboBox combo;
  EXPECT_FALSE(combo.isEditable());
  EXPECT_EQ(combo.ComProperty(), cpNone);
  EXPECT_EQ(combo.count(), 0);
  EXPECT_EQ(combo.Text(), "");

  combo.SetComProperty(cpBaudRate);
  EXPECT_EQ(ItemTexts(&combo), (Items{"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                                      "19200", "38400", "56000", "57600", "115200", "128000", "256000"}));
  // No port bound: the first item.
  EXPECT_EQ(combo.Text(), "Custom");

  combo.SetComProperty(cpDataBits);
  EXPECT_EQ(ItemTexts(&combo), (Items{"5", "6", "7", "8"}));
  combo.SetComProperty(cpStopBits);
  EXPECT_EQ(ItemTexts(&combo), (Items{"1", "1.5", "2"}));
  combo.SetComProperty(cpParity);
  EXPECT_EQ(ItemTexts(&combo), (Items{"None", "Odd", "Even", "Mark", "Space"}));
  combo.SetComProperty(cpFlowControl);
  EXPECT_EQ(ItemTexts(&combo), (Items{"Hardware", "Software", "None", "Custom"}));
  EXPECT_EQ(combo.Text(), "Hardware");

  combo.SetComProperty(cpNone);
  EXPECT_EQ(combo.count(), 0);
  EXPECT_EQ(combo.Text(), "");
}

TEST(SerialUiCombo, ShowsThePortsValuesAndTextSelectsIgnoringCase) {
  TComPort port;
  port.SetBaudRate(br19200);
  port.SetStopBits(sbOne5StopBits);
  port.Parity().SetBits(prMark);
  port.FlowControl().SetFlowControl(fcSoftware);

  TComComboBox baud, stop, parity, flow;
  baud.SetComPort(&port);  // property after the port: the fill selects the port's value
  baud.SetComProperty(cpBaudRate);
  stop.SetComProperty(cpStopBits);
  stop.SetComPort(&port);
  parity.SetComProperty(cpParity);
  parity.SetComPort(&port);
  flow.SetComProperty(cpFlowControl);
  flow.SetComPort(&port);
  EXPECT_EQ(baud.Text(), "19200");
  EXPECT_EQ(stop.Text(), "1.5");
  EXPECT_EQ(parity.Text(), "Mark");
  EXPECT_EQ(flow.Text(), "Software");

  // Values changed behind the list's back show after RefreshFromPort.
  port.SetBaudRate(br300);
  EXPECT_EQ(baud.Text(), "19200");
  baud.RefreshFromPort();
  EXPECT_EQ(baud.Text(), "300");

  parity.SetText("space");
  EXPECT_EQ(parity.Text(), "Space");
  parity.SetText("nonsense");
  EXPECT_EQ(parity.Text(), "Space");
  EXPECT_EQ(port.Parity().Bits(), prMark);  // Text alone writes nothing...
  parity.ApplyToPort();
  EXPECT_EQ(port.Parity().Bits(), prSpace);  // ...but it is what ApplyToPort writes
}

TEST(SerialUiCombo, AutoApplyWritesEachPickAtOnceOtherwiseOnlyOnApply) {
  TComPort port;
  port.SetDataBits(dbEight);
  TComComboBox remembered, immediate;
  remembered.SetComProperty(cpDataBits);
  remembered.SetComPort(&port);
  immediate.SetComProperty(cpDataBits);
  immediate.SetComPort(&port);
  immediate.SetAutoApply(true);
  ASSERT_TRUE(immediate.AutoApply());
  ASSERT_FALSE(remembered.AutoApply());

  ASSERT_TRUE(PickItem(&remembered, "6"));
  EXPECT_EQ(port.DataBits(), dbEight);
  remembered.ApplyToPort();
  EXPECT_EQ(port.DataBits(), dbSix);

  ASSERT_TRUE(PickItem(&immediate, "7"));
  EXPECT_EQ(port.DataBits(), dbSeven);
  // Setting the text in code is not a pick: no write even with AutoApply.
  immediate.SetText("5");
  EXPECT_EQ(port.DataBits(), dbSeven);
}

TEST(SerialUiCombo, DestroyedPortLeavesItemsAndSelectsTheFirst) {
  auto port = std::make_unique<TComPort>();
  port->Parity().SetBits(prEven);
  TComComboBox combo;
  combo.SetComProperty(cpParity);
  combo.SetComPort(port.get());
  ASSERT_EQ(combo.Text(), "Even");

  port.reset();
  EXPECT_EQ(combo.ComPort(), nullptr);
  EXPECT_EQ(combo.count(), 5);
  EXPECT_EQ(combo.Text(), "None");
  combo.ApplyToPort();  // no port: nothing to write to, nothing touched

  // A list that goes first leaves no dangling notification behind.
  auto other = std::make_unique<TComPort>();
  {
    TComComboBox shortLived;
    shortLived.SetComProperty(cpParity);
    shortLived.SetComPort(other.get());
  }
  other.reset();

  // Rebinding unsubscribes from the old port.
  auto first = std::make_unique<TComPort>();
  auto second = std::make_unique<TComPort>();
  second->Parity().SetBits(prOdd);
  combo.SetComPort(first.get());
  EXPECT_EQ(combo.Text(), "None");
  combo.SetComPort(second.get());
  EXPECT_EQ(combo.Text(), "Odd");
  first.reset();
  EXPECT_EQ(combo.ComPort(), second.get());
  EXPECT_EQ(combo.Text(), "Odd");
}

TEST(SerialUiCombo, CustomFlowControlLeavesTheDetailedSettings) {
  TComPort port;
  TComFlowControl& flow = port.FlowControl();
  flow.SetControlRTS(rtsToggle);
  flow.SetXonXoffOut(true);
  flow.SetOutDSRFlow(true);
  flow.SetControlDTR(dtrHandshake);
  ASSERT_EQ(flow.FlowControl(), fcCustom);

  TComComboBox combo;
  combo.SetComProperty(cpFlowControl);
  combo.SetComPort(&port);
  EXPECT_EQ(combo.Text(), "Custom");
  combo.ApplyToPort();
  EXPECT_EQ(flow.ControlRTS(), rtsToggle);
  EXPECT_TRUE(flow.XonXoffOut());
  EXPECT_FALSE(flow.XonXoffIn());
  EXPECT_FALSE(flow.OutCTSFlow());
  EXPECT_TRUE(flow.OutDSRFlow());
  EXPECT_EQ(flow.ControlDTR(), dtrHandshake);

  // A preset does replace them (the DTR and DSR details stay).
  ASSERT_TRUE(PickItem(&combo, "Hardware"));
  combo.ApplyToPort();
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());
  EXPECT_FALSE(flow.XonXoffOut());
  EXPECT_EQ(flow.ControlDTR(), dtrHandshake);
  EXPECT_TRUE(flow.OutDSRFlow());
}

}  // namespace
