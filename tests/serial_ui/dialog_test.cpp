// The settings dialog, opened from the main window's real menu and toolbar and
// answered as a user would.
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "serial/serial.h"
#include "serial_ui/com_combo_box.h"
#include "serial_ui/com_setup_dialog.h"
#include "tests/app/gui_test_util.h"
#include "tests/serial_ui/serial_ui_test_util.h"
#include "tests/wine.h"
#ifdef _WIN32
#include "winapi/win32.h"
#else
#include "winapi/virtual_device.h"
#endif

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <memory>
#include <sstream>

namespace {

#ifdef _WIN32
// The test line that ./test --windows lays: two real ports, both listed.
constexpr const char* kPort = "COM5";
constexpr const char* kOtherPort = "COM6";

// The settings the open port's device really has.
DCB DeviceState(const TComPort& port) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  EXPECT_TRUE(GetCommState(port.DeviceHandle(), &dcb)) << "error " << GetLastError();
  return dcb;
}
#else
// Recording virtual devices.
constexpr const char* kPort = "COM1";
constexpr const char* kOtherPort = "COM12";
#endif

// Every setting the dialog could touch, as one comparable text.
std::string Snapshot(const TComPort& p) {
  const TComFlowControl& f = p.FlowControl();
  std::ostringstream s;
  s << p.Port() << ' ' << int(p.BaudRate()) << ' ' << p.CustomBaudRate() << ' ' << int(p.DataBits()) << ' '
    << int(p.StopBits()) << ' ' << int(p.Parity().Bits()) << ' ' << f.OutCTSFlow() << f.OutDSRFlow()
    << int(f.ControlDTR()) << int(f.ControlRTS()) << f.XonXoffOut() << f.XonXoffIn() << f.DSRSensitivity()
    << f.TxContinueOnXoff();
  return s.str();
}

TComSetupFrm* AsForm(QWidget* w) {
  auto* form = qobject_cast<TComSetupFrm*>(w);
  EXPECT_NE(form, nullptr) << "not the settings dialog: " << w->windowTitle().toStdString();
  return form;
}

std::vector<TComComboBox*> Lists(TComSetupFrm* f) {
  return {f->Combo1, f->Combo2, f->Combo3, f->Combo4, f->Combo5, f->Combo6};
}

std::vector<std::string> Shown(TComSetupFrm* f) {
  std::vector<std::string> texts;
  for (TComComboBox* c : Lists(f)) texts.push_back(c->Text());
  return texts;
}

class SerialUiDialog : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    com1_ = vdev::VirtualDevice::Register(kPort);
    other_ = vdev::VirtualDevice::Register(kOtherPort);
#endif
    form_ = new TForm1;
    form_->show();
    Port().SetPort(kPort);
  }
  void TearDown() override {
    if (form_ && form_->ComPort1) form_->ComPort1->Close();
    delete form_.data();
    ProcessDeferredDeletes();
#ifndef _WIN32
    vdev::VirtualDevice::Unregister(kOtherPort);
    vdev::FailEnumPorts(0, 0);
#endif
  }
  TComPort& Port() { return *form_->ComPort1; }

#ifndef _WIN32
  std::shared_ptr<vdev::VirtualDevice> com1_;
  std::shared_ptr<vdev::VirtualDevice> other_;
#endif
  QPointer<TForm1> form_;
  DialogAnswerer answers_;
};

TEST_F(SerialUiDialog, ShowsTheMainWindowsPortAndOkWithoutChangesKeepsIt) {
  const std::string before = Snapshot(Port());
  std::vector<std::string> shown;
  std::vector<QString> labels, buttons;
  QString group;
  QSize size;
  std::vector<QWidget*> tabOrder, expectedTabOrder;
  bool okIsDefault = false;
  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    shown = Shown(f);
    size = f->size();
    group = f->GroupBox1->title();
    for (QLabel* l : {f->Label1, f->Label2, f->Label3, f->Label4, f->Label5, f->Label6}) labels.push_back(l->text());
    buttons = {f->Button1->text(), f->Button2->text()};
    okIsDefault = f->Button1->isDefault();
    for (TComComboBox* c : Lists(f)) {
      EXPECT_FALSE(c->isEditable());
      EXPECT_FALSE(c->AutoApply());
      EXPECT_EQ(c->ComPort(), static_cast<TCustomComPort*>(&Port()));
      EXPECT_EQ(c->width(), 129);
    }
    expectedTabOrder = {f->Combo1, f->Combo2, f->Combo3, f->Combo4, f->Combo5, f->Combo6, f->Button1, f->Button2};
    QWidget* w2 = f->Combo1;
    for (int i = 0; i < 100 && tabOrder.size() < expectedTabOrder.size(); ++i, w2 = w2->nextInFocusChain())
      if ((w2->focusPolicy() & Qt::TabFocus) && w2->isVisibleTo(f)) tabOrder.push_back(w2);
    DialogAnswerer::PressButton(f, QStringLiteral("OK"));
  });
  form_->Nastaven1->trigger();

  ASSERT_EQ(answers_.Seen().size(), 1u);
  EXPECT_EQ(answers_.Seen()[0].title, QStringLiteral("Nastavení"));
  EXPECT_EQ(shown, (std::vector<std::string>{kPort, "1200", "8", "2", "None", "None"}));
  EXPECT_EQ(size, QSize(231, 216));
  EXPECT_EQ(group, QStringLiteral(" Nastavení "));
  EXPECT_EQ(labels, (std::vector<QString>{"Port", "Rychlost", "Data bitů", "Stop bitů", "Parita", "Řízení toku"}));
  EXPECT_EQ(buttons, (std::vector<QString>{"OK", "Storno"}));
  EXPECT_TRUE(okIsDefault);
  EXPECT_EQ(tabOrder, expectedTabOrder);
  EXPECT_EQ(Snapshot(Port()), before);
  EXPECT_FALSE(Port().Connected());
#ifndef _WIN32
  EXPECT_EQ(com1_->Calls().size(), 0u);  // a closed port is only reconfigured on paper
#endif
}

TEST_F(SerialUiDialog, ToolbarButtonOpensItAndEnterPressesOk) {
  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    EXPECT_TRUE(PickItem(f->Combo2, "2400"));
    QTest::keyClick(f->Combo2, Qt::Key_Return);
  });
  form_->ToolButton4->click();
  ASSERT_EQ(answers_.Seen().size(), 1u);
  EXPECT_EQ(answers_.Seen()[0].title, QStringLiteral("Nastavení"));
  EXPECT_EQ(Port().BaudRate(), br2400);
}

TEST_F(SerialUiDialog, StornoCloseBoxAndEscapeLeaveThePortUntouched) {
  const std::string before = Snapshot(Port());
  auto changeEverything = [](TComSetupFrm* f) {
    EXPECT_TRUE(PickItem(f->Combo1, kOtherPort));
    EXPECT_TRUE(PickItem(f->Combo2, "115200"));
    EXPECT_TRUE(PickItem(f->Combo3, "7"));
    EXPECT_TRUE(PickItem(f->Combo4, "1"));
    EXPECT_TRUE(PickItem(f->Combo5, "Odd"));
    EXPECT_TRUE(PickItem(f->Combo6, "Hardware"));
  };
  bool openAfterEscape = false;
  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    changeEverything(f);
    QTest::keyClick(f->Combo6, Qt::Key_Escape);
    QTest::keyClick(f, Qt::Key_Escape);
    openAfterEscape = f->isVisible();
    DialogAnswerer::PressButton(f, QStringLiteral("Storno"));
  });
  form_->Nastaven1->trigger();
  EXPECT_TRUE(openAfterEscape);
  EXPECT_EQ(Snapshot(Port()), before);

  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    changeEverything(f);
    f->close();  // the title bar's close box
  });
  form_->Nastaven1->trigger();
  ASSERT_EQ(answers_.Seen().size(), 2u);
  EXPECT_EQ(answers_.Unexpected(), 0);
  EXPECT_EQ(Snapshot(Port()), before);
}

TEST_F(SerialUiDialog, OkOnAnOpenPortReconfiguresItOnce) {
  Port().Open();
  ASSERT_TRUE(Port().Connected());
#ifdef _WIN32
  const HANDLE opened = Port().DeviceHandle();
#else
  com1_->ClearCalls();
#endif
  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    EXPECT_TRUE(PickItem(f->Combo2, "9600"));
    EXPECT_TRUE(PickItem(f->Combo4, "1"));
    EXPECT_TRUE(PickItem(f->Combo5, "Even"));
    DialogAnswerer::PressButton(f, QStringLiteral("OK"));
  });
  form_->Nastaven1->trigger();

#ifdef _WIN32
  EXPECT_EQ(Port().DeviceHandle(), opened);  // same name: not reopened
  const DCB dcb = DeviceState(Port());
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  // Under Wine the port is a pseudo-terminal, which keeps no parity.
  if (!RunningUnderWine()) EXPECT_EQ(dcb.Parity, EVENPARITY);
#else
  EXPECT_EQ(com1_->CountOf("SetupComm"), 1);
  EXPECT_EQ(com1_->CountOf("SetCommState"), 1);
  EXPECT_EQ(com1_->CountOf("SetCommTimeouts"), 1);
  EXPECT_EQ(com1_->CountOf("CreateFile"), 0);  // same name: not reopened
  for (const vdev::Call& call : com1_->Calls()) {
    if (call.name != "SetCommState") continue;
    EXPECT_EQ(call.dcb.BaudRate, 9600u);
    EXPECT_EQ(call.dcb.ByteSize, 8);
    EXPECT_EQ(call.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(call.dcb.Parity, EVENPARITY);
  }
#endif
  EXPECT_TRUE(Port().Connected());
}

TEST_F(SerialUiDialog, NewNameOfAnOpenPortReopensItOnTheNewDeviceConfiguredOnce) {
  Port().Open();
  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    EXPECT_TRUE(PickItem(f->Combo1, kOtherPort));
    EXPECT_TRUE(PickItem(f->Combo2, "4800"));
    DialogAnswerer::PressButton(f, QStringLiteral("OK"));
  });
  form_->Nastaven1->trigger();

  EXPECT_EQ(Port().Port(), kOtherPort);
  EXPECT_TRUE(Port().Connected());
#ifdef _WIN32
  EXPECT_EQ(DeviceState(Port()).BaudRate, 4800u);
#else
  EXPECT_FALSE(com1_->IsOpen());
  EXPECT_TRUE(other_->IsOpen());
  EXPECT_EQ(other_->CountOf("CreateFile"), 1);
  EXPECT_EQ(other_->CountOf("SetupComm"), 1);
  EXPECT_EQ(other_->CountOf("SetCommState"), 1);
  EXPECT_EQ(other_->CountOf("SetCommTimeouts"), 1);
#endif
  EXPECT_EQ(Port().UpdateCount(), 0);
}

TEST_F(SerialUiDialog, CustomFlowControlStaysAsItWas) {
  Port().FlowControl().SetXonXoffOut(true);
  Port().FlowControl().SetControlDTR(dtrEnable);
  const std::string before = Snapshot(Port());
  std::string flowShown;
  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    flowShown = f->Combo6->Text();
    DialogAnswerer::PressButton(f, QStringLiteral("OK"));
  });
  form_->Nastaven1->trigger();
  EXPECT_EQ(flowShown, "Custom");
  EXPECT_EQ(Snapshot(Port()), before);
}

// The port list's own faults come from the virtual devices.
#ifndef _WIN32
TEST_F(SerialUiDialog, NoPortsGiveAnEmptyListAndOkKeepsThePortsName) {
  com1_.reset();
  other_.reset();
  vdev::VirtualDevice::Unregister(kPort);
  vdev::VirtualDevice::Unregister(kOtherPort);
  const std::string before = Snapshot(Port());
  int ports = -1, selected = 0;
  answers_.Then([&](QWidget* w) {
    TComSetupFrm* f = AsForm(w);
    if (!f) return;
    ports = f->Combo1->count();
    selected = f->Combo1->currentIndex();
    DialogAnswerer::PressButton(f, QStringLiteral("OK"));
  });
  form_->Nastaven1->trigger();
  ASSERT_EQ(answers_.Seen().size(), 1u);  // the dialog and nothing else
  EXPECT_EQ(ports, 0);
  EXPECT_EQ(selected, -1);
  EXPECT_EQ(Port().Port(), kPort);
  EXPECT_EQ(Snapshot(Port()), before);
}

TEST_F(SerialUiDialog, EnumerationFailureIsReportedAndNoDialogShows) {
  const std::string before = Snapshot(Port());
  vdev::FailEnumPorts(ERROR_ACCESS_DENIED);
  answers_.Then(DialogAnswerer::Press(QStringLiteral("OK")));
  form_->Nastaven1->trigger();

  ASSERT_EQ(answers_.Seen().size(), 1u);
  const SeenDialog& report = answers_.Seen()[0];
  EXPECT_EQ(report.text, QStringLiteral("EnumPorts function failed (win error code: 5)"));
  EXPECT_EQ(report.title, ApplicationTitle());
  EXPECT_EQ(report.icon, QMessageBox::Critical);
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<TComSetupFrm*>(w), nullptr);
  EXPECT_EQ(Snapshot(Port()), before);
}
#endif

}  // namespace
