// The pane's lines as the program saves and sends them, for the tests to
// look at: a no-break space stays U+00A0.
#pragma once

#include "app/dump_text.h"
#include "app/memo.h"

#include <QString>
#include <QStringList>

inline QStringList MemoLines(const TMemo& memo) {
  QStringList lines;
  ForEachLine(memo.Utf8(), [&](std::string_view line) {
    lines.append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
  });
  return lines;
}
