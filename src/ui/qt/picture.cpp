#include "ui/qt/picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace ostrel::ui::qt {

QPixmap receiverPicture() {
    QPixmap pixmap(97, 80);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 80);
    sky.setColorAt(0, QColor(225, 225, 225));
    sky.setColorAt(1, QColor(160, 160, 160));
    p.fillRect(pixmap.rect(), sky);
    // Mast and dish.
    p.setPen(QPen(QColor(60, 60, 60), 3));
    p.drawLine(30, 74, 38, 44);
    p.drawLine(46, 74, 38, 44);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(110, 110, 110));
    QPainterPath dish;
    dish.moveTo(18, 30);
    dish.quadTo(30, 58, 58, 46);
    dish.closeSubpath();
    p.drawPath(dish);
    p.drawLine(38, 38, 50, 24);
    // Incoming waves.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(70 + 40 * i, 70 + 40 * i, 70 + 40 * i), 2));
        const int r = 10 + 9 * i;
        p.drawArc(QRect(50 - r, 24 - r, 2 * r, 2 * r), 0 * 16, 90 * 16);
    }
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return pixmap;
}

}  // namespace ostrel::ui::qt
