// The painted strip chart, offscreen: whole axis labels, event markers at their
// points, and the text accessibility tools read.
#include "ui/qt/strip_chart.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <set>

#include "../test_panel.h"
#include "qt_test_support.h"
#include "ui/panel.h"
#include "ui/qt/panel_window.h"

namespace ostrel::ui::qt {
namespace {

using namespace ostrel::ui::qt::testing;

const auto *const qtShutdown = ::testing::AddGlobalTestEnvironment(new QtShutdown);

// The chart as it sits on the panel: 325 x 169 in the window's 11-pixel font.
class Chart : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(application());
        parent = std::make_unique<QWidget>();
        QFont font = parent->font();
        font.setPixelSize(11);
        parent->setFont(font);
        chart = new StripChart(parent.get());
        chart->setGeometry(0, 0, 325, 169);
    }
    std::unique_ptr<QWidget> parent;
    StripChart *chart = nullptr;
};

struct RangeCase {
    double half;
    const char *lowest;
};

class ChartLabels : public Chart, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(ChartLabels, TheLabelAreaHoldsTheWidestLabelWhole) {
    chart->setYRange(-GetParam().half, GetParam().half);
    const std::vector<QString> labels = chart->yLabels();
    EXPECT_EQ(labels.front().toStdString(), GetParam().lowest);
    const QFontMetrics metrics(chart->labelFont());
    for (const QString &label : labels) {
        EXPECT_LE(metrics.horizontalAdvance(label), chart->labelAreaWidth()) << label.toStdString();
    }
    EXPECT_GT(chart->plotArea().left(), chart->labelAreaWidth());
}

INSTANTIATE_TEST_SUITE_P(Ranges, ChartLabels,
                         ::testing::Values(RangeCase{100, "-100"}, RangeCase{1000, "-1000"},
                                           RangeCase{10000, "-10000"}, RangeCase{0.25, "-0.25"}));

// Columns of the plot in which nearly every pixel has one colour that is not a grey:
// the vertical marker lines (the grid and the axes are grey, the trace here is flat).
std::set<int> markerColumns(const QImage &image, const QRectF &plot) {
    std::set<int> columns;
    for (int x = int(plot.left()) + 1; x <= int(plot.right()); ++x) {
        const QRgb top = image.pixel(x, int(plot.center().y()) - 10);
        if (qRed(top) == qGreen(top) && qGreen(top) == qBlue(top)) continue;
        int same = 0;
        for (int y = int(plot.top()) + 12; y < int(plot.bottom()); ++y)
            same += image.pixel(x, y) == top;
        if (same >= 0.9 * (int(plot.bottom()) - int(plot.top()) - 12)) columns.insert(x);
    }
    return columns;
}

TEST_F(Chart, MarkersAreDrawnAtTheirPointsAndNotWhenScrolledOut) {
    chart->setPoints(std::deque<float>(CHART_POINTS_PER_SCREEN, 50.0f), 250);  // x 151..250
    chart->setMarkers({{120, 1}, {175, 2}, {250, 3}});                         // 120 is off screen
    const QImage image = chart->grab().toImage();
    const QRectF plot = chart->plotArea();
    const auto columnOf = [&](double x) {
        return int(std::lround(plot.left() + (x - 150) / 100 * plot.width()));
    };
    EXPECT_EQ(markerColumns(image, plot), std::set<int>({columnOf(175), columnOf(250)}));
}

// The trace looks as the 1.5-pixel line it stands for: nearly the same pixels
// are red as where such a pen draws the points.
TEST_F(Chart, TheTraceLooksAsALineOneAndAHalfPixelsWide) {
    std::deque<float> points;
    for (std::size_t i = 0; i < CHART_POINTS_PER_SCREEN; ++i)
        points.push_back(float((i * 37) % 160) - 80.0f + 15.0f * float(i % 3));
    QImage expected = chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    chart->setPoints(points, CHART_POINTS_PER_SCREEN);
    const QImage drawn = chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRectF plot = chart->plotArea();
    QPolygonF line;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double y = plot.bottom() - (points[i] + 100.0) / 200.0 * plot.height();
        line.append(QPointF(chart->pixelOfX(double(i + 1)), y));
    }
    {
        QPainter painter(&expected);
        painter.setClipRect(plot.adjusted(0, 0, 1, 1));
        painter.setPen(QPen(QColor(200, 30, 30), 1.5));
        painter.drawPolyline(line);
    }
    const auto red = [](QRgb pixel) { return qRed(pixel) > qGreen(pixel) + 60; };
    int inExpected = 0;
    int differing = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            inExpected += red(expected.pixel(x, y));
            differing += red(expected.pixel(x, y)) != red(drawn.pixel(x, y));
        }
    }
    ASSERT_GT(inExpected, 1000);
    EXPECT_LT(differing, inExpected / 8) << differing << " of " << inExpected;
}

// What a screen reader reads follows the model: the chart's label, its range, its newest value.
TEST(ChartAccessibility, TheTextFollowsTheChannelTheRangeAndTheLatestValue) {
    ASSERT_TRUE(frontend());
    installFrontend(frontend());
    const int panel = loadPanel(ui::testing::testPanel());
    displayPanel(panel);
    ASSERT_TRUE(processUntil([&] { return frontend()->windowOf(panel) != nullptr; }));
    auto *chart =
        static_cast<StripChart *>(frontend()->windowOf(panel)->bodyOf(ui::testing::CHART_ID));
    const auto reads = [&](const std::string &name, const std::string &description) {
        return processUntil([&] {
            return chart->accessibleName().toStdString() == name &&
                   chart->accessibleDescription().toStdString() == description;
        });
    };
    setLabel(panel, ui::testing::CHART_ID, "Angle high");
    setYAxisRange(panel, ui::testing::CHART_ID, -1000, 1000);
    EXPECT_TRUE(reads("Strip chart Angle high", "y axis from -1000 to 1000, no value yet"))
        << chart->accessibleDescription().toStdString();
    plotPoint(panel, ui::testing::CHART_ID, 12.5f);
    plotPoint(panel, ui::testing::CHART_ID, -3.25f);
    EXPECT_TRUE(reads("Strip chart Angle high", "y axis from -1000 to 1000, latest value -3.25"))
        << chart->accessibleDescription().toStdString();
    setLabel(panel, ui::testing::CHART_ID, "Torque low");
    setYAxisRange(panel, ui::testing::CHART_ID, -10, 10);
    EXPECT_TRUE(reads("Strip chart Torque low", "y axis from -10 to 10, latest value -3.25"));
    discardPanel(panel);
    processUntil([&] { return frontend()->windowOf(panel) == nullptr; });
    installFrontend(nullptr);
}

}  // namespace
}  // namespace ostrel::ui::qt
