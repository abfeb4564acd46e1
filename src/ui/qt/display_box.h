// A read-only value display that paints itself, looking like the style's
// read-only line edit: its panel, the text at the left, vertically centred, in
// the widget's font. GUI thread only.
//
// A channel's display changes ten times a second. The panel is drawn once into
// a cached picture (again on a new size, palette, style or state); a new text
// repaints only the text area of this widget (opaque, so nothing below is
// repainted), and keeps no cursor, selection or undo state.
#pragma once

#include <QGlyphRun>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <memory>

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
    struct GlyphCache;
    static std::shared_ptr<GlyphCache> glyphCacheFor(const QFont &font);

    void layOut();
    bool layOutGlyphs();
    bool setApart(QChar first, QChar second);
    QPixmap drawPanel() const;
    QRect textArea() const;
    void scrollToEnd(int textWidth, int lineWidth);

    QString text_;
    // A text is laid out once per change: from the glyph cache where it can be
    // (no text shaping, the costly part of a new value), otherwise shaped when drawn.
    std::shared_ptr<GlyphCache> glyphs_;  // of the widget's font, shared; null until needed
    QGlyphRun run_;                       // text_ from the cache; empty: drawn as text
    int textWidth_ = 0;
    QPixmap panel_;   // null when it must be drawn again
    QRect textArea_;  // the style's text area, found with the panel
    int scroll_ = 0;  // pixels of the text scrolled out at the left
};

}  // namespace ostrel::ui::qt
