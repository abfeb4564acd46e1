// A strip chart with one trace, painted by the widget itself: the last screen of
// points of the model, newest at the right edge, on a fixed y range, with the
// chart's event markers as thin vertical lines. GUI thread only.
//
// The frame, grid, axes and labels change only with the size, the font or the
// y range, so they are drawn once into a cached picture; a new point repaints
// the plot's part of that picture, the trace and the markers.
#pragma once

#include <QPixmap>
#include <QPolygonF>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <vector>

#include "ui/panel_state.h"

namespace ostrel::ui::qt {

class StripChart : public QWidget {
  public:
    explicit StripChart(QWidget *parent);

    void setPoints(const std::deque<float> &recent, std::uint64_t total);
    void setMarkers(const std::deque<ChartMarker> &markers);
    void setYRange(double min, double max);
    // What the chart shows (the model's label of the chart), for accessibility tools.
    void setCaption(const QString &caption);

    double yMin() const { return yMin_; }
    double yMax() const { return yMax_; }
    int pointCount() const { return int(points_.size()); }
    // The x range on screen: (xMax - CHART_POINTS_PER_SCREEN, xMax].
    double xMax() const;
    // The plot area in widget coordinates and the horizontal pixel of an x.
    QRectF plotArea() const { return plot_; }
    double pixelOfX(double x) const;
    // Width of the area left of the plot that holds the y labels.
    int labelAreaWidth() const { return labelWidth_; }
    // The y axis labels, bottom to top, and their font.
    const std::vector<QString> &yLabels() const { return labels_; }
    QFont labelFont() const;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

  private:
    // Labels, label area and plot area for the size, font and y range; drops the
    // cached background.
    void layOut();
    double pixelOfY(double y) const;
    QRect plotUpdateRect() const;
    void drawBackground(QPainter &painter) const;
    void drawTrace(QPainter &painter);
    void drawMarkers(QPainter &painter) const;
    void describeSoon();
    void describe();

    std::vector<float> points_;  // oldest first
    std::uint64_t total_ = 0;    // the model's total: x of the newest point
    std::vector<ChartMarker> markers_;
    double yMin_ = -100.0;
    double yMax_ = 100.0;
    QString caption_;
    std::vector<QString> labels_;
    int labelWidth_ = 0;
    QRectF plot_;
    QPixmap background_;  // null when it must be drawn again
    QPolygonF trace_;     // the trace's pixels, kept to reuse its storage
    QTimer describeTimer_;
};

}  // namespace ostrel::ui::qt
