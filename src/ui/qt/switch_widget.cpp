#include "ui/qt/switch_widget.h"

#include <QPainter>

namespace ostrel::ui::qt {

SwitchWidget::SwitchWidget(QWidget *parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
}

void SwitchWidget::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 2, -1, -2);
    const qreal radius = track.height() / 2;
    const QColor on = isEnabled() ? QColor(46, 139, 87) : QColor(150, 180, 160);
    const QColor off = isEnabled() ? QColor(160, 160, 160) : QColor(200, 200, 200);
    painter.setPen(QPen(QColor(110, 110, 110), 1));
    painter.setBrush(isChecked() ? on : off);
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() + 2;
    const qreal x = isChecked() ? track.right() - knob + 1 : track.left() - 1;
    painter.setBrush(QColor(250, 250, 250));
    painter.drawEllipse(QRectF(x, track.top() - 1, knob, knob));
}

}  // namespace ostrel::ui::qt
