#include "ui/qt/path_field.h"

#include <QStyle>
#include <QStyleOptionFrame>

namespace ostrel::ui {

PathField::PathField(QWidget *parent) : QLineEdit(parent) {}

void PathField::setPath(const QString &path) {
    path_ = path;
    setToolTip(path);
    setAccessibleName(path);
    if (hasFocus()) {
        setText(path);
    } else {
        showFitted();
    }
}

void PathField::focusInEvent(QFocusEvent *event) {
    setText(path_);
    QLineEdit::focusInEvent(event);
}

// What the operator typed becomes the path unless committing it put another one in its
// place (a refused edit shows the model's path again).
void PathField::focusOutEvent(QFocusEvent *event) {
    const QString typed = text();
    QLineEdit::focusOutEvent(event);
    if (text() == typed && typed != path_) {
        path_ = typed;
        setToolTip(typed);
        setAccessibleName(typed);
    }
    showFitted();
}

void PathField::resizeEvent(QResizeEvent *event) {
    QLineEdit::resizeEvent(event);
    if (!hasFocus()) showFitted();
}

void PathField::showFitted() {
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect inner = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    const int margin = 2 * fontMetrics().horizontalAdvance(QLatin1Char(' '));
    setText(fontMetrics().elidedText(path_, Qt::ElideLeft, inner.width() - margin));
    setCursorPosition(0);
}

}  // namespace ostrel::ui
