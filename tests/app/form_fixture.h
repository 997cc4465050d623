// The main window over a recording COM1, working in a temporary directory:
// the common ground of the receive, send and fault tests.
#pragma once

#include "app/main_window.h"
#include "tests/app/gui_test_util.h"
#include "winapi/virtual_device.h"

#include <QDir>
#include <QPointer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class FormOnVirtualPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    ASSERT_TRUE(QDir::setCurrent(temp_.path()));
    device_ = vdev::VirtualDevice::Register("COM1");
    form_ = new TForm1;
    form_->show();
  }
  void TearDown() override {
    delete form_;
    vdev::VirtualDevice::Unregister("COM1");
    QDir::setCurrent(QDir::tempPath());
  }

  QString Path(const QString& name) const { return temp_.filePath(name); }

  QTemporaryDir temp_;
  std::shared_ptr<vdev::VirtualDevice> device_;
  QPointer<TForm1> form_;
  DialogAnswerer answers_;
};
