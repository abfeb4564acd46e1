#include "ui/qt/display_box.h"

#include <QEvent>
#include <QHash>
#include <QPainter>
#include <QRawFont>
#include <QStyle>
#include <QStyleOptionFrame>
#include <map>
#include <memory>

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

// The glyphs and advances of one font, shared by every display in it: a display
// starts with what the others have set so far. GUI thread only.
struct DisplayBox::GlyphCache {
    struct Glyph {
        quint32 index = 0;
        qreal advance = 0;
    };
    explicit GlyphCache(const QFont &font) : font(font), rawFont(QRawFont::fromFont(font)) {}

    QFont font;
    QRawFont rawFont;
    QHash<char16_t, Glyph> glyphs;  // each character set so far
    QHash<quint32, bool> apart;     // pairs of characters: not kerned nor joined
};

// The registry holds no cache itself: a cache goes with the last display of its
// font, so no font object outlives the application.
std::shared_ptr<DisplayBox::GlyphCache> DisplayBox::glyphCacheFor(const QFont &font) {
    static std::map<QString, std::weak_ptr<GlyphCache>> caches;  // by QFont::key()
    std::erase_if(caches, [](const auto &entry) { return entry.second.expired(); });
    std::weak_ptr<GlyphCache> &known = caches[font.key()];
    std::shared_ptr<GlyphCache> cache = known.lock();
    if (!cache) {
        cache = std::make_shared<GlyphCache>(font);
        known = cache;
    }
    return cache;
}

DisplayBox::DisplayBox(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the cached panel covers the whole widget
    setFocusPolicy(Qt::NoFocus);
}

void DisplayBox::setText(const QString &text) {
    if (text == text_) return;
    text_ = text;
    layOut();
    setAccessibleName(text);
    update(panel_.isNull() ? rect() : textArea_);  // the text never leaves its area
}

void DisplayBox::layOut() {
    if (layOutGlyphs()) return;
    run_ = QGlyphRun();
    textWidth_ = fontMetrics().horizontalAdvance(text_);
}

// Sets the text glyph by glyph from the cache: a display shows digits, signs and
// units, each set as the font's glyph of the character with its advance, as the
// text shaper sets them. False for a character that needs the shaper (outside
// printable Latin-1, the soft hyphen), one the font lacks, or a pair the font
// kerns.
bool DisplayBox::layOutGlyphs() {
    if (!glyphs_) glyphs_ = glyphCacheFor(font());
    GlyphCache &cache = *glyphs_;
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(text_.size());
    positions.reserve(text_.size());
    qreal x = 0;
    for (const QChar c : text_) {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code < 0xa0) || code == 0xad || code > 0xff)
            return false;
        auto glyph = cache.glyphs.find(code);
        if (glyph == cache.glyphs.end()) {
            const QList<quint32> found = cache.rawFont.glyphIndexesForString(QString(c));
            if (found.size() != 1 || found[0] == 0) return false;
            const qreal advance = cache.rawFont.advancesForGlyphIndexes(found)[0].x();
            glyph = cache.glyphs.insert(code, {found[0], advance});
        }
        if (!indexes.isEmpty() && !setApart(text_[indexes.size() - 1], c)) return false;
        indexes.append(glyph->index);
        positions.append(QPointF(x, 0));
        x += glyph->advance;
    }
    run_.setRawFont(cache.rawFont);
    run_.setGlyphIndexes(indexes);
    run_.setPositions(positions);
    textWidth_ = qRound(x);
    return true;
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

// Whether the shaper sets `second` right after `first`'s advance: no kerning
// or ligature joins them. Asked of the shaper once per pair.
bool DisplayBox::setApart(QChar first, QChar second) {
    GlyphCache &cache = *glyphs_;
    const quint32 key = quint32(first.unicode()) << 16 | second.unicode();
    auto known = cache.apart.find(key);
    if (known == cache.apart.end()) {
        const qreal alone =
            cache.glyphs[first.unicode()].advance + cache.glyphs[second.unicode()].advance;
        const qreal shaped = QFontMetricsF(cache.font).horizontalAdvance(QString(first) + second);
        known = cache.apart.insert(key, qAbs(shaped - alone) < 1e-3);
    }
    return *known;
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
    if (panel_.isNull()) {
        panel_ = drawPanel();
        textArea_ = textArea();
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, panel_);
    if (text_.isEmpty()) return;
    // A line edit's text line: inside the margins, one font height, vertically centred.
    const QRect &area = textArea_;
    const QFontMetrics metrics = fontMetrics();
    const int top = area.y() + (area.height() - metrics.height() + 1) / 2;
    const int left = area.x() + HORIZONTAL_MARGIN;
    const int right = area.right() - HORIZONTAL_MARGIN;
    scrollToEnd(textWidth_, right + 1 - left);
    const QPointF baseline(left - scroll_, top + metrics.ascent());
    painter.setClipRect(area);
    painter.setPen(palette().color(QPalette::Text));
    if (run_.isEmpty()) {
        painter.setFont(font());
        painter.drawText(baseline, text_);
    } else {
        painter.drawGlyphRun(baseline, run_);
    }
}

void DisplayBox::resizeEvent(QResizeEvent *) {
    panel_ = QPixmap();
}

void DisplayBox::changeEvent(QEvent *event) {
    switch (event->type()) {
        case QEvent::FontChange:
            glyphs_.reset();
            layOut();
            [[fallthrough]];
        case QEvent::EnabledChange:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::ActivationChange:
            panel_ = QPixmap();
            update();
            break;
        default:
            break;
    }
    QWidget::changeEvent(event);
}

}  // namespace ostrel::ui::qt
