#include "button_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qn {

namespace {
constexpr int kSize = 24;

void Triangle(QPainter& p, int x, bool left) {
  QPainterPath path;
  if (left) {
    path.moveTo(x + 7, 5);
    path.lineTo(x, 12);
    path.lineTo(x + 7, 19);
  } else {
    path.moveTo(x, 5);
    path.lineTo(x + 7, 12);
    path.lineTo(x, 19);
  }
  path.closeSubpath();
  p.fillPath(path, p.brush());
}

void Magnifier(QPainter& p, bool plus) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(30, 30, 30), 2));
  p.drawEllipse(QRectF(3, 3, 13, 13));
  p.setPen(QPen(QColor(30, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(14.5, 14.5), QPointF(20.5, 20.5));
  p.setPen(QPen(QColor(0, 90, 200), 2));
  p.drawLine(QPointF(6.5, 9.5), QPointF(12.5, 9.5));
  if (plus) p.drawLine(QPointF(9.5, 6.5), QPointF(9.5, 12.5));
}

void Printer(QPainter& p) {
  p.setPen(QPen(QColor(30, 30, 30), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(6.5, 2.5, 11, 7));  // paper in
  p.setBrush(QColor(150, 150, 150));
  p.drawRoundedRect(QRectF(2.5, 9.5, 19, 8), 2, 2);  // body
  p.setBrush(Qt::white);
  p.drawRect(QRectF(6.5, 14.5, 11, 7));  // paper out
  p.setPen(QPen(QColor(30, 30, 30), 1));
  p.drawLine(QPointF(8, 17.5), QPointF(16, 17.5));
  p.drawLine(QPointF(8, 19.5), QPointF(14, 19.5));
}
}  // namespace

QIcon MakeViewerIcon(ViewerIcon kind) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0, 90, 200));
  p.setPen(Qt::NoPen);
  switch (kind) {
    case ViewerIcon::First:
      p.fillRect(QRectF(4, 5, 2.5, 14), p.brush());
      Triangle(p, 8, true);
      Triangle(p, 14, true);
      break;
    case ViewerIcon::Previous:
      Triangle(p, 8, true);
      break;
    case ViewerIcon::Next:
      Triangle(p, 9, false);
      break;
    case ViewerIcon::Last:
      Triangle(p, 3, false);
      Triangle(p, 9, false);
      p.fillRect(QRectF(17.5, 5, 2.5, 14), p.brush());
      break;
    case ViewerIcon::ZoomIn:
      Magnifier(p, true);
      break;
    case ViewerIcon::ZoomOut:
      Magnifier(p, false);
      break;
    case ViewerIcon::PrinterSetup:
      Printer(p);
      p.setPen(QPen(QColor(200, 120, 0), 2));
      p.setBrush(QColor(255, 190, 60));
      p.drawEllipse(QRectF(14, 1, 8, 8));
      break;
    case ViewerIcon::Print:
      Printer(p);
      break;
    case ViewerIcon::PrintPage: {
      Printer(p);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0, 90, 200));
      p.drawEllipse(QRectF(13, 0, 10, 10));
      p.setPen(Qt::white);
      QFont f = p.font();
      f.setPixelSize(8);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRectF(13, 0, 10, 10), Qt::AlignCenter, QStringLiteral("1"));
      break;
    }
  }
  return QIcon(pixmap);
}

}  // namespace qn
