#include "ui/Pictures.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygon>

// 16 x 16 document: a page with a folded corner and a few lines of text.
QIcon DrawDocument() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  const QPolygon page({QPoint(2, 0), QPoint(10, 0), QPoint(13, 3), QPoint(13, 15), QPoint(2, 15)});
  p.setPen(QColor(64, 64, 64));
  p.setBrush(Qt::white);
  p.drawPolygon(page);
  p.setBrush(QColor(200, 200, 200));
  p.drawPolygon(QPolygon({QPoint(10, 0), QPoint(10, 3), QPoint(13, 3)}));
  p.setPen(QColor(40, 90, 170));
  for (int y = 5; y <= 12; y += 2) p.drawLine(4, y, y == 12 ? 8 : 11, y);
  p.end();
  return QIcon(pm);
}

// 16 x 16 open folder: the back of the folder with its tab, the front flap
// opened towards the viewer.
QIcon DrawOpenFolder() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(QColor(120, 90, 20));
  p.setBrush(QColor(214, 170, 60));
  p.drawPolygon(QPolygon({QPoint(0, 3), QPoint(5, 3), QPoint(6, 4), QPoint(12, 4), QPoint(12, 14), QPoint(0, 14)}));
  p.setPen(QColor(150, 150, 150));
  p.setBrush(Qt::white);
  p.drawRect(2, 5, 8, 5);
  p.setPen(QColor(120, 90, 20));
  p.setBrush(QColor(250, 214, 100));
  p.drawPolygon(QPolygon({QPoint(3, 8), QPoint(15, 8), QPoint(12, 14), QPoint(0, 14)}));
  p.end();
  return QIcon(pm);
}
