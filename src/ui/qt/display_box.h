// A read-only value display that paints itself, looking like the style's
// read-only line edit: its panel, the text at the left, vertically centred, in
// the widget's font. GUI thread only.
//
// A channel's display changes ten times a second. The panel is drawn once into
// a cached picture (again on a new size, palette, style or state); a new text
// repaints only this widget, over the whole of it (opaque, so nothing below is
// repainted), and keeps no cursor, selection or undo state.
#pragma once

#include <QPixmap>
#include <QStaticText>
#include <QString>
#include <QWidget>

namespace ostrel::ui::qt {

class DisplayBox : public QWidget {
  public:
    explicit DisplayBox(QWidget *parent);

    // Shows `text`; the same text again costs nothing. The text is also the
    // accessible name, so a screen reader reads the value.
    void setText(const QString &text);
    const QString &text() const { return text_; }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

  private:
    QPixmap drawPanel() const;
    QRect textArea() const;
    void scrollToEnd(int textWidth, int lineWidth);

    QString text_;
    QStaticText shown_;  // text_, laid out once per change
    QPixmap panel_;      // null when it must be drawn again
    int scroll_ = 0;     // pixels of the text scrolled out at the left
};

}  // namespace ostrel::ui::qt
