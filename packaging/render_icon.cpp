// Writes the program's window picture as icon files:
//   render_icon SIZE FILE [SIZE FILE]...   PNG files, for the desktop's icon theme
//   render_icon --ico FILE SIZE...         one Windows icon holding every size
//                                          (packaging/vazur.ico, for vazur.exe)
#include "app/toolbar_icons.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

namespace {

QByteArray Png(const QIcon& icon, int size) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  icon.pixmap(size, size).save(&buffer, "PNG");
  return png;
}

// An icon directory whose images are PNG data, as Windows takes them since
// Vista.
bool WriteIco(const QIcon& icon, const QString& path, const QList<int>& sizes) {
  QList<QByteArray> images;
  for (int size : sizes) images.append(Png(icon, size));
  QByteArray ico;
  QDataStream out(&ico, QIODevice::WriteOnly);
  out.setByteOrder(QDataStream::LittleEndian);
  out << quint16(0) << quint16(1) << quint16(images.size());
  quint32 offset = 6 + 16 * images.size();
  for (int i = 0; i < images.size(); ++i) {
    const quint8 side = sizes[i] >= 256 ? 0 : quint8(sizes[i]);  // 0 stands for 256
    out << side << side << quint8(0) << quint8(0) << quint16(1) << quint16(32) << quint32(images[i].size())
        << offset;
    offset += images[i].size();
  }
  for (const QByteArray& image : images) out.writeRawData(image.constData(), image.size());
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(ico) == ico.size() && file.flush();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QIcon icon = WindowIcon();
  const QStringList args = app.arguments().mid(1);
  if (args.size() >= 3 && args[0] == QLatin1String("--ico")) {
    QList<int> sizes;
    for (const QString& size : args.mid(2)) sizes.append(size.toInt());
    if (sizes.contains(0) || !WriteIco(icon, args[1], sizes)) {
      std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(args[1]));
      return 1;
    }
    return 0;
  }
  if (args.isEmpty() || args.size() % 2 != 0) {
    std::fprintf(stderr, "usage: render_icon SIZE FILE [SIZE FILE]... | render_icon --ico FILE SIZE...\n");
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
