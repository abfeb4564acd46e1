#include "ui/qt/strip_chart.h"

#include <QChart>
#include <QLineSeries>
#include <QList>
#include <QPointF>
#include <QValueAxis>

#include "ui/panel_state.h"

namespace ostrel::ui::qt {

StripChart::StripChart(QWidget *parent)
    // The chart is given at construction: a chart set later would leave the
    // view's default chart behind, unowned.
    : QChartView(new QChart, parent),
      trace_(new QLineSeries),
      xAxis_(new QValueAxis),
      yAxis_(new QValueAxis) {
    QChart *chart = this->chart();
    chart->legend()->hide();
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    // Axis labels in the C locale ('.' as the decimal point), as every other number the
    // program shows, whatever locale the desktop sets.
    chart->setLocalizeNumbers(false);
    chart->addSeries(trace_);
    xAxis_->setRange(0, double(CHART_POINTS_PER_SCREEN));
    xAxis_->setLabelsVisible(false);
    xAxis_->setTickCount(11);
    yAxis_->setRange(-100, 100);
    yAxis_->setLabelFormat("%g");
    QFont small = yAxis_->labelsFont();
    small.setPointSizeF(7);
    yAxis_->setLabelsFont(small);
    chart->addAxis(xAxis_, Qt::AlignBottom);
    chart->addAxis(yAxis_, Qt::AlignLeft);
    trace_->attachAxis(xAxis_);
    trace_->attachAxis(yAxis_);
    trace_->setPen(QPen(QColor(200, 30, 30), 1.5));
    setRenderHint(QPainter::Antialiasing, false);
}

void StripChart::setPoints(const std::deque<float> &recent, std::uint64_t total) {
    // x counts points since load; the screen shows the newest points at its right edge.
    const double last = double(total);
    const double first = last - double(recent.size());
    QList<QPointF> points;
    points.reserve(qsizetype(recent.size()));
    for (std::size_t i = 0; i < recent.size(); ++i)
        points.append(QPointF(first + double(i), recent[i]));
    trace_->replace(points);
    const double right = std::max(last, double(CHART_POINTS_PER_SCREEN));
    xAxis_->setRange(right - double(CHART_POINTS_PER_SCREEN), right);
}

void StripChart::setYRange(double min, double max) {
    yAxis_->setRange(min, max);
}
double StripChart::yMin() const {
    return yAxis_->min();
}
double StripChart::yMax() const {
    return yAxis_->max();
}
int StripChart::pointCount() const {
    return int(trace_->count());
}

}  // namespace ostrel::ui::qt
