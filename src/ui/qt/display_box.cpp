#include "ui/qt/display_box.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace ostrel::ui::qt {
namespace {

// A line edit's margins around its text line, inside the style's contents rect.
constexpr int HORIZONTAL_MARGIN = 2;

// The panel as a read-only line edit with a frame asks the style for it.
QStyleOptionFrame panelOption(const QWidget &widget) {
    QStyleOptionFrame option;
    option.initFrom(&widget);
    option.rect = widget.contentsRect();
    option.lineWidth = widget.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &widget);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken | QStyle::State_ReadOnly;
    option.features = QStyleOptionFrame::None;
    return option;
}

}  // namespace

DisplayBox::DisplayBox(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the cached panel covers the whole widget
    setFocusPolicy(Qt::NoFocus);
    shown_.setTextFormat(Qt::PlainText);
    shown_.setPerformanceHint(QStaticText::AggressiveCaching);
}

void DisplayBox::setText(const QString &text) {
    if (text == text_) return;
    text_ = text;
    shown_.setText(text);
    shown_.prepare(QTransform(), font());
    setAccessibleName(text);
    update();
}

// Where a line edit of the style lays out its text.
QRect DisplayBox::textArea() const {
    const QStyleOptionFrame option = panelOption(*this);
    return style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
}

// As a line edit scrolls with its cursor (one pixel wide) at the end of the
// text: a text that fits starts at the left; a wider one keeps the cursor in
// view, scrolling from where the last text was shown.
void DisplayBox::scrollToEnd(int textWidth, int lineWidth) {
    const int used = textWidth + 1;
    if (used <= lineWidth) {
        scroll_ = 0;
    } else if (textWidth - scroll_ >= lineWidth) {
        scroll_ = textWidth - lineWidth + 1;
    } else if (used - scroll_ < lineWidth) {
        scroll_ = used - lineWidth + 1;
    }
}

QPixmap DisplayBox::drawPanel() const {
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(palette().color(QPalette::Window));  // the panel's rounded corners show it
    QPainter painter(&pixmap);
    const QStyleOptionFrame option = panelOption(*this);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    return pixmap;
}

void DisplayBox::paintEvent(QPaintEvent *) {
    if (panel_.isNull()) panel_ = drawPanel();
    QPainter painter(this);
    painter.drawPixmap(0, 0, panel_);
    if (text_.isEmpty()) return;
    // A line edit's text line: inside the margins, one font height, vertically centred.
    const QRect area = textArea();
    const QFontMetrics metrics = fontMetrics();
    const int top = area.y() + (area.height() - metrics.height() + 1) / 2;
    const int left = area.x() + HORIZONTAL_MARGIN;
    const int right = area.right() - HORIZONTAL_MARGIN;
    scrollToEnd(qRound(shown_.size().width()), right + 1 - left);
    const int x = left - scroll_;
    painter.setClipRect(area);
    painter.setPen(palette().color(QPalette::Text));
    painter.setFont(font());
    painter.drawStaticText(x, top, shown_);
}

void DisplayBox::resizeEvent(QResizeEvent *) {
    panel_ = QPixmap();
}

void DisplayBox::changeEvent(QEvent *event) {
    switch (event->type()) {
        case QEvent::EnabledChange:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::ActivationChange:
        case QEvent::FontChange:
            shown_.prepare(QTransform(), font());
            panel_ = QPixmap();
            update();
            break;
        default:
            break;
    }
    QWidget::changeEvent(event);
}

}  // namespace ostrel::ui::qt
