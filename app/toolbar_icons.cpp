#include "app/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

#include <functional>

namespace {

// Draws the picture in a 32 x 32 coordinate space at 32 and 64 pixels.
QIcon Draw(const std::function<void(QPainter&)>& paint) {
  QIcon icon;
  for (int size : {32, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    paint(p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

void Tray(QPainter& p) {
  QPainterPath tray;
  tray.moveTo(3, 19);
  tray.lineTo(3, 29);
  tray.lineTo(29, 29);
  tray.lineTo(29, 19);
  p.setPen(QPen(QColor(70, 70, 70), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(tray);
  p.setPen(QPen(QColor(70, 70, 70), 1.5));
  p.drawLine(QPointF(8, 24.5), QPointF(24, 24.5));
}

// A thick arrow along x = 16 from y0 to the tip at y1.
void Arrow(QPainter& p, double y0, double y1, const QColor& fill) {
  const double dir = y1 > y0 ? 1 : -1;
  const double head = 9;
  QPolygonF arrow;
  arrow << QPointF(13, y0) << QPointF(19, y0) << QPointF(19, y1 - dir * head) << QPointF(24, y1 - dir * head)
        << QPointF(16, y1) << QPointF(8, y1 - dir * head) << QPointF(13, y1 - dir * head);
  p.setPen(QPen(fill.darker(150), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(fill);
  p.drawPolygon(arrow);
}

}  // namespace

QIcon ReceiveIcon() {
  return Draw([](QPainter& p) {
    Tray(p);
    Arrow(p, 1.5, 22, QColor(40, 160, 60));
  });
}

QIcon SendIcon() {
  return Draw([](QPainter& p) {
    Tray(p);
    Arrow(p, 22, 1.5, QColor(40, 100, 210));
  });
}

QIcon SettingsIcon() {
  return Draw([](QPainter& p) {
    const QPointF c(16, 16);
    QPainterPath gear;
    const int teeth = 8;
    const double outer = 14, inner = 10.5;
    for (int i = 0; i < teeth * 4; ++i) {
      const double a = (i * 2 * M_PI) / (teeth * 4) - M_PI / 2;
      const double r = (i % 4 == 1 || i % 4 == 2) ? outer : inner;
      const QPointF pt(c.x() + r * qCos(a), c.y() + r * qSin(a));
      if (i == 0)
        gear.moveTo(pt);
      else
        gear.lineTo(pt);
    }
    gear.closeSubpath();
    gear.addEllipse(c, 4.5, 4.5);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(QColor(150, 150, 160));
    p.drawPath(gear);
  });
}

QIcon ExitIcon() {
  return Draw([](QPainter& p) {
    // Door frame and the open door.
    p.setPen(QPen(QColor(90, 60, 30), 2));
    p.setBrush(QColor(240, 230, 210));
    p.drawRect(QRectF(4, 3, 16, 26));
    QPolygonF door;
    door << QPointF(4, 3) << QPointF(13, 6) << QPointF(13, 31) << QPointF(4, 29);
    p.setBrush(QColor(160, 100, 50));
    p.drawPolygon(door);
    p.setBrush(QColor(240, 200, 60));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(11, 18), 1.2, 1.2);
    // The way out.
    QPolygonF arrow;
    arrow << QPointF(15, 13.5) << QPointF(23, 13.5) << QPointF(23, 9) << QPointF(31, 16) << QPointF(23, 23)
          << QPointF(23, 18.5) << QPointF(15, 18.5);
    p.setPen(QPen(QColor(140, 20, 20), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(215, 40, 40));
    p.drawPolygon(arrow);
  });
}

QIcon WindowIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(200, 170, 60), 2));
    for (int i = 0; i < 5; ++i) {
      const double x = 7 + i * 4.5;
      p.drawLine(QPointF(x, 2), QPointF(x, 8));
      p.drawLine(QPointF(x, 24), QPointF(x, 30));
    }
    p.setPen(QPen(QColor(20, 20, 20), 1));
    p.setBrush(QColor(45, 45, 50));
    p.drawRoundedRect(QRectF(3, 7, 26, 18), 2, 2);
    p.setPen(QColor(230, 230, 230));
    QFont font = p.font();
    font.setPixelSize(8);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(3, 7, 26, 18), Qt::AlignCenter, QStringLiteral("VQ"));
  });
}
