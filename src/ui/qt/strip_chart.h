// A strip chart with one trace: the last points of the model, newest right,
// on a fixed y range.
#pragma once

#include <QChartView>
#include <cstdint>
#include <deque>

class QLineSeries;
class QValueAxis;

namespace ostrel::ui::qt {

class StripChart : public QChartView {
  public:
    explicit StripChart(QWidget *parent);

    void setPoints(const std::deque<float> &recent, std::uint64_t total);
    void setYRange(double min, double max);
    double yMin() const;
    double yMax() const;
    int pointCount() const;

  private:
    QLineSeries *trace_;
    QValueAxis *xAxis_;
    QValueAxis *yAxis_;
};

}  // namespace ostrel::ui::qt
