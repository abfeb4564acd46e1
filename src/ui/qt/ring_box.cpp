#include "ui/qt/ring_box.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

namespace ostrel::ui::qt {
namespace {

// Room beside an item's text in the open list: the item's margins and a scroll bar.
constexpr int kListTextMargin = 32;

}  // namespace

RingBox::RingBox(QWidget *parent) : QComboBox(parent) {}

void RingBox::showItems(const QList<QByteArray> &labels, int index) {
    if (!hasItems(labels)) {
        clear();
        for (int i = 0; i < labels.size(); ++i) {
            const QString shown = QString::fromUtf8(labels[i]);
            addItem(shown, labels[i]);
            setItemData(i, shown, Qt::ToolTipRole);
        }
        fitListToItems();
    }
    setCurrentIndex(index);
    describeCurrent();
}

QByteArray RingBox::labelAt(int index) const {
    const QVariant label = itemData(index, Qt::UserRole);
    return label.isValid() ? label.toByteArray() : itemText(index).toUtf8();
}

bool RingBox::hasItems(const QList<QByteArray> &labels) const {
    if (count() != labels.size()) return false;
    for (int i = 0; i < count(); ++i) {
        if (labelAt(i) != labels[i]) return false;
    }
    return true;
}

void RingBox::fitListToItems() {
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
        widest = std::max(widest, view()->fontMetrics().horizontalAdvance(itemText(i)));
    }
    view()->setMinimumWidth(widest + kListTextMargin);
}

void RingBox::describeCurrent() {
    setToolTip(currentText());
    setAccessibleName(currentText());
}

int RingBox::textFieldWidth() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this)
        .width();
}

QString RingBox::shownText() const {
    return fontMetrics().elidedText(currentText(), Qt::ElideMiddle, textFieldWidth());
}

// QComboBox's own painting, with the label elided instead of cut off at the right.
void RingBox::paintEvent(QPaintEvent * /*event*/) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace ostrel::ui::qt
