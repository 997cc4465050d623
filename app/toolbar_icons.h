// The pictures of the toolbar and the window, drawn here so that they look
// the same on every desktop.
#pragma once

#include <QIcon>

QIcon ReceiveIcon();   // an arrow coming down into a tray
QIcon SendIcon();      // an arrow leaving a tray upwards
QIcon SettingsIcon();  // a gear wheel
QIcon ExitIcon();      // an arrow leaving through a door
QIcon WindowIcon();    // a memory chip
