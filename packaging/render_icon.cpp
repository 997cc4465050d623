// Writes the program's window picture as PNG files for the desktop's icon
// theme: render_icon SIZE FILE [SIZE FILE]...
#include "app/toolbar_icons.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QIcon icon = WindowIcon();
  const QStringList args = app.arguments().mid(1);
  if (args.isEmpty() || args.size() % 2 != 0) {
    std::fprintf(stderr, "usage: render_icon SIZE FILE [SIZE FILE]...\n");
    return 2;
  }
  for (int i = 0; i < args.size(); i += 2) {
    const int size = args[i].toInt();
    const QString& path = args[i + 1];
    if (size <= 0 || !QDir().mkpath(QFileInfo(path).path()) || !icon.pixmap(size, size).save(path, "PNG")) {
      std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
