// Layout per type, speed ring, chart area, axes and time base on a started headless panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "display/channel_layout.h"
#include "display/charts.h"
#include "panel/ostrel_panel.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/tables.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

class StartedPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::headlessFrontend()->reset();
        channels = 8;  // the selections of a fresh process
        channel_index = 1;
        panelHandle = ui::loadPanel(mainPanelDescription());
        const int panel = panelHandle;
        ui::installControlCallback(panel, CH_SLIDE, channel_change, nullptr);
        ui::installControlCallback(panel, CHART_SLIDE_1, chart_change_1, nullptr);
        ui::installControlCallback(panel, CHART_SLIDE_2, chart_change_2, nullptr);
        ui::installControlCallback(panel, SPEED_SLIDE, speed_change, nullptr);
        ui::installControlCallback(panel, CHARTSSWITCH, show_charts, nullptr);
        // The panel as start-up leaves it: laid out for " 8 Channel", chart area hidden.
        ASSERT_TRUE(selectType(1));
        for (int id : {CHART_SLIDE_1, CHART_SLIDE_2, CHART, CHART_2, timebase}) {
            ui::setVisible(panel, id, false);
        }
        block_speed_factor = 8;
        change_time();
        ui::headlessFrontend()->reset();
    }
    void TearDown() override {
        ui::installFrontend(nullptr);
        ui::discardPanel(panelHandle.exchange(0));
        showcharts = 0;
    }

    ui::ControlState control(int id) const { return *ui::controlState(panelHandle, id); }
    int height() const { return ui::panelState(panelHandle)->height; }
    bool select(int ring, int item) { return ui::operatorSelectRingItem(panelHandle, ring, item); }
    bool selectType(int type) { return select(CH_SLIDE, type); }
    bool switchCharts(int on) { return ui::operatorSetSwitch(panelHandle, CHARTSSWITCH, on); }

    // Panel height, and the chart area's visibility and, while shown, its place.
    void expectChartArea(int h, bool shown) {
        EXPECT_EQ(height(), h);
        std::vector<int> tops;
        for (int id : {CHART_SLIDE_1, CHART_SLIDE_2, CHART, CHART_2, timebase}) {
            EXPECT_EQ(control(id).visible, shown) << "control " << id;
            tops.push_back(control(id).body.top);
        }
        if (!shown) return;
        EXPECT_EQ(tops, std::vector({h - 243, h - 243, h - 218, h - 218, h - 30}));
    }
    void expectHalfRanges(double chart1, double chart2) {
        const ui::ChartState a = control(CHART).chart, b = control(CHART_2).chart;
        EXPECT_EQ(std::vector({a.yMin, a.yMax, b.yMin, b.yMax}),
                  std::vector({-chart1, chart1, -chart2, chart2}));
    }
};

// The label of display (or chart item) k of `type`, from the slot table for steering.
std::string labelOf(int type, int k) {
    return type >= 4 ? std::string(steering_slots[k].label) : "Channel " + std::to_string(k + 1);
}

// Records display_change at every change of the panel model.
class RecordingFrontend : public ui::HeadlessFrontend {
  public:
    void modelChanged() override { seen.push_back(display_change); }
    std::vector<int> seen;
};

TEST_F(StartedPanel, EveryTypeRebuildsThePanelHoldingDisplayChange) {
    const int counts[] = {4, 8, 16, 32, 10, 10, 10, 10, 6, 6};
    const int heights[] = {254, 278, 326, 422, 302, 302, 302, 302, 278, 278};
    auto recorder = std::make_shared<RecordingFrontend>();
    ui::installFrontend(recorder);
    for (int type = 0; type < 10; ++type) {
        SCOPED_TRACE("type " + std::to_string(type));
        const bool steering = type >= 4;
        const int count = counts[type];
        ASSERT_TRUE(selectType(type == 3 ? 7 : 3));  // from a layout unlike it in every way
        recorder->seen.clear();
        ASSERT_TRUE(selectType(type));
        // The operator's own selection, then the rebuild with display_change held.
        std::vector<int> held(std::max<std::size_t>(recorder->seen.size(), 3), 1);
        held[0] = 0;
        EXPECT_EQ(recorder->seen, held);
        EXPECT_EQ(display_change, 0);
        EXPECT_EQ(std::tuple(channel_index.load(), channels.load(), channel_blocks.load()),
                  std::tuple(type, count, framesPerLoggedCycle(type)));
        for (int k = 0; k < CHANNEL_DISPLAYS; ++k) {
            const ui::ControlState display = control(panel_rings[k]);
            EXPECT_EQ(display.visible ? display.label : "", k < count ? labelOf(type, k) : "") << k;
        }
        for (int ring : {CHART_SLIDE_1, CHART_SLIDE_2}) {
            const std::vector<ui::RingItem> items = control(ring).items;
            ASSERT_EQ(items.size(), std::size_t(count)) << "ring " << ring;
            for (int i = 0; i < count; ++i) {
                EXPECT_EQ(items[i].label, ring == CHART_SLIDE_2 && steering
                                              ? std::string(steering_slots[i].chart2_label)
                                              : labelOf(type, i));
                EXPECT_EQ(items[i].value, ui::Value(i + 1)) << "ring " << ring << " item " << i;
            }
        }
        const std::pair<int, int> chosen = steering ? std::pair(1, 3) : std::pair(0, 1);
        EXPECT_EQ(std::pair(control(CHART_SLIDE_1).index, control(CHART_SLIDE_2).index), chosen);
        EXPECT_EQ(std::pair(chart_index_1.load(), chart_index_2.load()), chosen);
        EXPECT_EQ(height(), heights[type]);
        EXPECT_EQ(control(SPEED_SLIDE).dimmed, steering);
        EXPECT_TRUE(!steering || control(SPEED_SLIDE).selectedLabel() == "640 kbps");
    }
}

TEST_F(StartedPanel, TimeBaseFollowsTheSpeedAndSteeringBackToPlainKeeps640Usable) {
    EXPECT_EQ(control(timebase).text(), " 163.20 ms") << "the default speed at start-up";
    const char *const texts[] = {" 652.80 ms", " 163.20 ms", "  81.60 ms", "  40.80 ms"};
    for (int speed : {3, 0, 2, 1}) {
        ASSERT_TRUE(select(SPEED_SLIDE, speed));
        EXPECT_EQ(control(timebase).text(), texts[speed]) << "speed " << speed;
    }
    ASSERT_TRUE(selectType(7));
    EXPECT_EQ(control(timebase).text(), "  40.80 ms");
    ASSERT_TRUE(selectType(0));
    EXPECT_EQ(control(SPEED_SLIDE).selectedLabel(), "640 kbps");
    EXPECT_EQ(control(timebase).text(), "  40.80 ms");
    ASSERT_TRUE(select(SPEED_SLIDE, 2));  // usable: the ring takes the operator's input
    ASSERT_TRUE(selectType(3));  // the operator's speed survives a change between plain types
    EXPECT_EQ(block_speed_index, 2);
    EXPECT_EQ(control(timebase).text(), "  81.60 ms");
}

TEST_F(StartedPanel, ChartAreaPlaceAndAxesFollowTypeAndChannel) {
    ASSERT_TRUE(switchCharts(0));  // a repeated state resizes nothing
    expectChartArea(278, false);
    ASSERT_TRUE(switchCharts(1));
    ASSERT_TRUE(switchCharts(1));
    expectChartArea(508, true);  // rings at 265, charts at 290, time base at 478
    ASSERT_TRUE(selectType(3));
    expectChartArea(422 + 230, true);
    ASSERT_TRUE(select(CHART_SLIDE_1, 11));  // "Channel 12": no table of its own
    ASSERT_TRUE(select(CHART_SLIDE_2, 31));
    EXPECT_EQ(std::pair(chart_index_1.load(), chart_index_2.load()), std::pair(11, 31));
    expectHalfRanges(100, 100);
    ASSERT_TRUE(selectType(7));  // "Steering Commercial 200 Nm": Torque high, Angle high
    expectChartArea(302 + 230, true);
    expectHalfRanges(200, 1200);
    ASSERT_TRUE(selectType(6));             // layout 2
    ASSERT_TRUE(select(CHART_SLIDE_2, 2));  // "Angle low"
    EXPECT_EQ(chart_index_2, 2);
    expectHalfRanges(100, 120);
    ASSERT_TRUE(select(CHART_SLIDE_1, 9));  // "Ang. Accel."
    expectHalfRanges(10000, 120);
    ASSERT_TRUE(selectType(8));
    expectChartArea(278 + 230, true);
    ASSERT_TRUE(switchCharts(0));
    expectChartArea(278, false);  // the type's own height
    ASSERT_TRUE(selectType(4));
    expectChartArea(302, false);
}

}  // namespace
}  // namespace ostrel
