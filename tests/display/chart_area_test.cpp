// The chart area on and off, chart channel selection with its axis range, and
// the diagram time base of each speed.
#include <array>

#include "display/charts.h"
#include "display_fixture.h"
#include "telemetry/selections.h"

namespace ostrel {
namespace {

constexpr std::array<int, 5> chart_area = {CHART_SLIDE_1, CHART_SLIDE_2, CHART, CHART_2, timebase};

// --- Showing and hiding the chart area ---------------------------------------

class ChartArea : public StartedPanel {
  protected:
    void expectShown(bool shown) {
        for (int id : chart_area) EXPECT_EQ(control(id).visible, shown) << "control " << id;
    }
    void expectPlacedFor(int panelHeight) {
        EXPECT_EQ(top(CHART_SLIDE_1), panelHeight - 243);
        EXPECT_EQ(top(CHART_SLIDE_2), panelHeight - 243);
        EXPECT_EQ(top(CHART), panelHeight - 218);
        EXPECT_EQ(top(CHART_2), panelHeight - 218);
        EXPECT_EQ(top(timebase), panelHeight - 30);
    }
};

TEST_F(ChartArea, GrowsThePanelAndSitsAtItsBottom) {
    ASSERT_EQ(height(), 278);
    ASSERT_TRUE(switchCharts(1));
    EXPECT_EQ(height(), 508);
    EXPECT_EQ(top(CHART_SLIDE_1), 265);
    EXPECT_EQ(top(CHART_SLIDE_2), 265);
    EXPECT_EQ(top(CHART), 290);
    EXPECT_EQ(top(CHART_2), 290);
    EXPECT_EQ(top(timebase), 478);
    expectShown(true);

    ASSERT_TRUE(switchCharts(0));
    EXPECT_EQ(height(), 278);
    expectShown(false);
}

TEST_F(ChartArea, TypeChangeWhileShownKeepsTheAreaAtTheNewBottom) {
    ASSERT_TRUE(switchCharts(1));
    ASSERT_TRUE(selectType(3));
    EXPECT_EQ(height(), 422 + 230);
    expectPlacedFor(652);
    expectShown(true);

    ASSERT_TRUE(selectType(8));
    EXPECT_EQ(height(), 278 + 230);
    expectPlacedFor(508);

    ASSERT_TRUE(switchCharts(0));
    EXPECT_EQ(height(), 278) << "back to the type's own height";
    expectShown(false);
    ASSERT_TRUE(selectType(4));
    EXPECT_EQ(height(), 302);
}

TEST_F(ChartArea, ARepeatedSwitchStateDoesNotResizeAgain) {
    ASSERT_TRUE(switchCharts(0));
    EXPECT_EQ(height(), 278);
    ASSERT_TRUE(switchCharts(1));
    ASSERT_TRUE(switchCharts(1));
    EXPECT_EQ(height(), 508);
    expectPlacedFor(508);
    ASSERT_TRUE(switchCharts(0));
    EXPECT_EQ(height(), 278);
}

// --- Axis ranges ---------------------------------------------------------------

class AxisRange : public StartedPanel {
  protected:
    void SetUp() override {
        StartedPanel::SetUp();
        ASSERT_TRUE(switchCharts(1));  // the chart rings take input only while shown
    }
    void expectRange(int chart, double halfRange) {
        const ui::ChartState state = control(chart).chart;
        EXPECT_EQ(state.yMin, -halfRange) << "chart " << chart;
        EXPECT_EQ(state.yMax, halfRange) << "chart " << chart;
    }
};

TEST_F(AxisRange, PlainChannelsSpanPlusMinus100) {
    ASSERT_TRUE(selectType(3));
    ASSERT_TRUE(selectChartItem(CHART_SLIDE_1, 11));  // "Channel 12": no table of its own
    EXPECT_EQ(chart_index_1, 11);
    expectRange(CHART, 100);
    ASSERT_TRUE(selectChartItem(CHART_SLIDE_1, 2));  // "Channel 3"
    expectRange(CHART, 100);
    ASSERT_TRUE(selectChartItem(CHART_SLIDE_2, 31));
    EXPECT_EQ(chart_index_2, 31);
    expectRange(CHART_2, 100);
}

TEST_F(AxisRange, SteeringTypeChangeScalesTheDefaultQuantities) {
    ASSERT_TRUE(selectType(7));  // "Steering Commercial 200 Nm": Torque high, Angle high
    expectRange(CHART, 200);
    expectRange(CHART_2, 1200);
    ASSERT_TRUE(selectType(8));  // "Steering Module 100 Nm"
    expectRange(CHART, 100);
    expectRange(CHART_2, 1000);
}

TEST_F(AxisRange, ChartSelectionFollowsTheQuantitysFullScale) {
    ASSERT_TRUE(selectType(6));                      // layout 2
    ASSERT_TRUE(selectChartItem(CHART_SLIDE_2, 2));  // "Angle low"
    EXPECT_EQ(chart_index_2, 2);
    expectRange(CHART_2, 120);
    expectRange(CHART, 100);                         // chart 1 untouched: Torque high
    ASSERT_TRUE(selectChartItem(CHART_SLIDE_1, 9));  // "Ang. Accel."
    expectRange(CHART, 10000);
    ASSERT_TRUE(selectChartItem(CHART_SLIDE_1, 0));  // "Torque low"
    expectRange(CHART, 10);
}

// --- Diagram time base -----------------------------------------------------------

using TimeBase = StartedPanel;

TEST_F(TimeBase, StartUpShowsTheDefaultSpeedsTimeBase) {
    EXPECT_EQ(block_speed_index, 1);
    EXPECT_FLOAT_EQ(block_timer_value, 163.2f);
    EXPECT_EQ(control(timebase).text(), " 163.20 ms");
    EXPECT_FALSE(control(timebase).visible);
}

TEST_F(TimeBase, EachSpeedShowsItsTextRightAligned) {
    const std::array<const char *, 4> texts = {" 652.80 ms", " 163.20 ms", "  81.60 ms",
                                               "  40.80 ms"};
    for (int speed : {3, 0, 2, 1}) {
        ASSERT_TRUE(selectSpeed(speed));
        EXPECT_EQ(block_speed_index, speed);
        EXPECT_EQ(control(timebase).text(), texts[speed]) << "speed " << speed;
    }
}

}  // namespace
}  // namespace ostrel
