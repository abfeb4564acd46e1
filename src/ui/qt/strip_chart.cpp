#include "ui/qt/strip_chart.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace ostrel::ui::qt {
namespace {

constexpr int kFrameInset = 9;  // the window's background around the white chart
constexpr int kPlotTop = 8;     // white above the plot, below it and right of it
constexpr int kPlotBottom = 8;
constexpr int kPlotRight = 2;
constexpr int kLabelPad = 4;  // white left of the widest label
constexpr int kLabelGap = 1;  // between a label and its tick
constexpr int kTickLength = 5;
constexpr int kYTicks = 5;
constexpr int kXTicks = 11;
constexpr double kLabelPointSize = 7;
constexpr int kDescribeMs = 1000;  // the latest value reaches accessibility tools this often

const QColor kChartBackground(255, 255, 255);
const QColor kGrid(226, 226, 226);
const QColor kAxis(214, 214, 214);
const QColor kLabelText(80, 80, 84);
const QColor kTrace(200, 30, 30);
const QColor kMarker(40, 60, 170);

// A number as printf's "%g" writes it in the C locale ('.' whatever the desktop's locale).
QString numberText(double value) {
    return QString::number(value, 'g', 6);
}

}  // namespace

StripChart::StripChart(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    describeTimer_.setSingleShot(true);
    describeTimer_.setInterval(kDescribeMs);
    QObject::connect(&describeTimer_, &QTimer::timeout, this, [this] { describe(); });
    layOut();
    describe();
}

void StripChart::setPoints(const std::deque<float> &recent, std::uint64_t total) {
    if (total == total_ && recent.size() == points_.size()) return;
    points_.assign(recent.begin(), recent.end());
    total_ = total;
    describeSoon();
    update(plotUpdateRect());  // the trace and the markers stay inside the plot
}

void StripChart::setMarkers(const std::deque<ChartMarker> &markers) {
    if (std::equal(markers.begin(), markers.end(), markers_.begin(), markers_.end())) return;
    markers_.assign(markers.begin(), markers.end());
    update(plotUpdateRect());
}

void StripChart::setYRange(double min, double max) {
    if (min == yMin_ && max == yMax_) return;
    yMin_ = min;
    yMax_ = max;
    layOut();
    describe();
    update();
}

void StripChart::setCaption(const QString &caption) {
    if (caption == caption_) return;
    caption_ = caption;
    describe();
}

double StripChart::xMax() const {
    return double(std::max<std::uint64_t>(total_, CHART_POINTS_PER_SCREEN));
}

QFont StripChart::labelFont() const {
    QFont small = font();
    small.setPointSizeF(kLabelPointSize);
    return small;
}

void StripChart::layOut() {
    labels_.clear();
    const double step = (yMax_ - yMin_) / (kYTicks - 1);
    for (int i = 0; i < kYTicks; ++i) {
        const double value = yMin_ + step * i;
        // A tick at zero reads "0", not the rounding residue of the sum.
        labels_.push_back(numberText(std::abs(value) < step * 1e-9 ? 0.0 : value));
    }
    const QFontMetrics metrics(labelFont());
    int widest = 0;
    for (const QString &label : labels_)
        widest = std::max(widest, metrics.horizontalAdvance(label));
    labelWidth_ = kLabelPad + widest;
    const QRect chart = rect().adjusted(kFrameInset, kFrameInset, -kFrameInset, -kFrameInset);
    const int left = chart.left() + labelWidth_ + kLabelGap + kTickLength;
    plot_ = QRectF(QPointF(left, chart.top() + kPlotTop),
                   QPointF(chart.right() - kPlotRight, chart.bottom() - kPlotBottom));
    background_ = QPixmap();
}

double StripChart::pixelOfX(double x) const {
    const double left = xMax() - double(CHART_POINTS_PER_SCREEN);
    return plot_.left() + (x - left) / double(CHART_POINTS_PER_SCREEN) * plot_.width();
}

// The plot with its edge pixels: what a new point or marker repaints.
QRect StripChart::plotUpdateRect() const {
    return plot_.toAlignedRect().adjusted(-1, -1, 2, 2);
}

double StripChart::pixelOfY(double y) const {
    return plot_.bottom() - (y - yMin_) / (yMax_ - yMin_) * plot_.height();
}

void StripChart::paintEvent(QPaintEvent *event) {
    const qreal ratio = devicePixelRatioF();
    if (background_.isNull() || background_.devicePixelRatio() != ratio) {
        background_ = QPixmap(size() * ratio);
        background_.setDevicePixelRatio(ratio);
        QPainter picture(&background_);
        drawBackground(picture);
    }
    QPainter painter(this);
    // Only the region being repainted is copied: a new point repaints the plot alone.
    const QRect dirty = event->rect();
    painter.drawPixmap(dirty, background_,
                       QRectF(QPointF(dirty.topLeft()) * ratio, QSizeF(dirty.size()) * ratio));
    painter.setClipRect(plotArea().adjusted(0, 0, 1, 1));
    drawTrace(painter);
    drawMarkers(painter);
}

void StripChart::drawBackground(QPainter &painter) const {
    painter.fillRect(rect(), palette().window());
    const QRect chart = rect().adjusted(kFrameInset, kFrameInset, -kFrameInset, -kFrameInset);
    painter.fillRect(chart, kChartBackground);
    const QRectF plot = plotArea();
    painter.setPen(QPen(kGrid, 0));
    for (int i = 1; i < kXTicks; ++i) {
        const double x = plot.left() + plot.width() * i / (kXTicks - 1);
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    for (int i = 1; i < kYTicks; ++i) {
        const double y = plot.bottom() - plot.height() * i / (kYTicks - 1);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    painter.setPen(QPen(kAxis, 0));
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    for (int i = 0; i < kXTicks; ++i) {
        const double x = plot.left() + plot.width() * i / (kXTicks - 1);
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + kTickLength));
    }
    painter.setFont(labelFont());
    const QFontMetrics metrics(painter.font());
    const double labelRight = plot.left() - kTickLength - kLabelGap;
    for (int i = 0; i < kYTicks; ++i) {
        const double y = plot.bottom() - plot.height() * i / (kYTicks - 1);
        painter.setPen(QPen(kAxis, 0));
        painter.drawLine(QPointF(plot.left() - kTickLength, y), QPointF(plot.left(), y));
        const QRectF box(labelRight - labelWidth_, y - metrics.height(), labelWidth_,
                         2 * metrics.height());
        painter.setPen(kLabelText);
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, labels_[std::size_t(i)]);
    }
}

// The trace looks as a 1.5-pixel line, drawn as two hairlines a quarter pixel either side
// of it across the line's main directions: Qt draws hairlines on a fast path, a wider pen
// through its stroker at about three times the cost.
void StripChart::drawTrace(QPainter &painter) {
    if (points_.empty()) return;
    QPolygonF &line = trace_;
    line.resize(qsizetype(points_.size()));
    const double first = double(total_) - double(points_.size()) + 1;
    for (std::size_t i = 0; i < points_.size(); ++i)
        line[qsizetype(i)] = QPointF(pixelOfX(first + double(i)), pixelOfY(points_[i]));
    painter.setPen(QPen(kTrace, 0));
    painter.translate(-0.25, 0.25);
    painter.drawPolyline(line);
    painter.translate(0.5, -0.5);
    painter.drawPolyline(line);
    painter.resetTransform();
}

void StripChart::drawMarkers(QPainter &painter) const {
    if (markers_.empty()) return;
    const QRectF &plot = plot_;
    painter.setFont(labelFont());
    const QFontMetrics metrics(painter.font());
    for (const ChartMarker &marker : markers_) {
        const double x = std::round(pixelOfX(double(marker.x)));
        if (x < plot.left() || x > plot.right()) continue;
        painter.setPen(QPen(kMarker, 0));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const QString number = QString::number(marker.number);
        const int width = metrics.horizontalAdvance(number);
        // Right of its line, or left of it where the plot ends.
        const double textLeft = x + 2 + width <= plot.right() ? x + 2 : x - 2 - width;
        painter.drawText(QPointF(textLeft, plot.top() + metrics.ascent()), number);
    }
}

void StripChart::resizeEvent(QResizeEvent *) {
    layOut();
}

void StripChart::changeEvent(QEvent *event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::FontChange || type == QEvent::PaletteChange ||
        type == QEvent::StyleChange) {
        layOut();
        update();
    }
    QWidget::changeEvent(event);
}

void StripChart::describeSoon() {
    if (!describeTimer_.isActive()) describeTimer_.start();
}

// The caption, the y range and the latest value, as a screen reader reads the chart.
void StripChart::describe() {
    const QString chart = QStringLiteral("Strip chart");
    setAccessibleName(caption_.isEmpty() ? chart : chart + QStringLiteral(" ") + caption_);
    QString text = QStringLiteral("y axis from %1 to %2").arg(numberText(yMin_), numberText(yMax_));
    text += points_.empty() ? QStringLiteral(", no value yet")
                            : QStringLiteral(", latest value %1").arg(numberText(points_.back()));
    setAccessibleDescription(text);
}

}  // namespace ostrel::ui::qt
