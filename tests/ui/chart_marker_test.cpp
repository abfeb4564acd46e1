// Event markers on a strip chart: placed at the newest point, dropped with it
// when it scrolls off the screen, bounded in number.
#include <gtest/gtest.h>

#include "test_panel.h"
#include "ui/panel_state.h"

namespace ostrel::ui {
namespace {

using namespace testing;

class ChartMarkers : public ::testing::Test {
  protected:
    void SetUp() override { panel = loadPanel(testPanel()); }
    void TearDown() override { discardPanel(panel); }
    std::deque<ChartMarker> markers() { return controlState(panel, CHART_ID)->chart.markers; }
    void plot(int points) {
        for (int i = 0; i < points; ++i) plotPoint(panel, CHART_ID, float(i));
    }
    int panel = 0;
};

TEST_F(ChartMarkers, AMarkerScrollsOutWithItsPoint) {
    ASSERT_EQ(addChartMarker(panel, CHART_ID, 1), UI_OK);  // before any point: x 0
    plot(10);
    addChartMarker(panel, CHART_ID, 2);
    addChartMarker(panel, CHART_ID, 3);
    EXPECT_EQ(markers(), std::deque<ChartMarker>({{0, 1}, {10, 2}, {10, 3}}));
    plot(90);  // total 100: the screen shows x 1..100, x 0 is gone
    EXPECT_EQ(markers(), std::deque<ChartMarker>({{10, 2}, {10, 3}}));
    plot(9);  // total 109: point 10 is the oldest on screen
    EXPECT_EQ(markers().size(), 2u);
    plot(1);
    EXPECT_TRUE(markers().empty());
}

TEST_F(ChartMarkers, AChartKeepsABoundedNumberOldestDroppedFirst) {
    for (int n = 0; n < int(CHART_MARKERS_KEPT); ++n) addChartMarker(panel, CHART_ID, n);
    addChartMarker(panel, CHART_ID, 1000);
    const std::deque<ChartMarker> kept = markers();
    EXPECT_EQ(std::tuple(kept.size(), kept.front().number, kept.back().number),
              std::tuple(CHART_MARKERS_KEPT, 1, 1000));
    EXPECT_EQ(std::pair(addChartMarker(panel, DISPLAY, 1), addChartMarker(panel + 99, CHART_ID, 1)),
              std::pair(UI_WRONG_KIND, UI_NO_PANEL));
}

}  // namespace
}  // namespace ostrel::ui
