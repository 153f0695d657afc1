#include "gui/appicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velotag::gui {

namespace {

// The same drawing as packaging/velotag.svg, on a 256 x 256 canvas.
void PaintTag(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tag;
  tag.moveTo(24, 128);
  tag.lineTo(88, 40);
  tag.lineTo(220, 40);
  tag.quadTo(232, 40, 232, 52);
  tag.lineTo(232, 204);
  tag.quadTo(232, 216, 220, 216);
  tag.lineTo(88, 216);
  tag.closeSubpath();
  tag.addEllipse(QPointF(80, 128), 14, 14);
  tag.setFillRule(Qt::OddEvenFill);
  p.setPen(QPen(QColor(0x8a, 0x3a, 0x14), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor(0xd9, 0x62, 0x2b));
  p.drawPath(tag);

  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.save();
  p.translate(148, 172);
  p.rotate(-20);
  p.drawEllipse(QPointF(0, 0), 26, 19);
  p.restore();
  p.drawRect(QRectF(166, 70, 10, 100));
  QPainterPath flag;
  flag.moveTo(176, 70);
  flag.cubicTo(190, 90, 214, 96, 206, 130);
  flag.cubicTo(204, 110, 190, 104, 176, 102);
  flag.closeSubpath();
  p.drawPath(flag);
}

QPixmap Render(int size, void (*paint)(QPainter&)) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.scale(size / 256.0, size / 256.0);
  paint(p);
  return pixmap;
}

void PaintMagnifier(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 28, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(QColor(0xdd, 0xee, 0xff));
  p.drawEllipse(QPointF(104, 104), 68, 68);
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 40, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(158, 158), QPointF(224, 224));
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(Render(size, PaintTag));
  return icon;
}

QIcon SearchIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addPixmap(Render(size, PaintMagnifier));
  return icon;
}

}  // namespace velotag::gui
