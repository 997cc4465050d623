// Driving the property combo boxes as a user does.
#pragma once

#include "serial_ui/com_combo_box.h"

#include <QTest>

#include <string>
#include <vector>

// Picks the item of that text with the keyboard (Home, then Down until it
// shows), as a user does on a closed drop-down list. False if never reached.
inline bool PickItem(TComComboBox* combo, const std::string& text) {
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Home);
  for (int i = 0; i <= combo->count(); ++i) {
    if (combo->Text() == text) return true;
    QTest::keyClick(combo, Qt::Key_Down);
  }
  return combo->Text() == text;
}

inline std::vector<std::string> ItemTexts(const TComComboBox* combo) {
  std::vector<std::string> items;
  for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i).toStdString());
  return items;
}
