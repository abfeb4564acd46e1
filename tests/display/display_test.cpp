// The layout per telemetry type, the speed ring, the chart area and its axes, and
// the time base, operated as the operator would on a freshly started headless panel.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "display/charts.h"
#include "telemetry/selections.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/ostrel_panel.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

class StartedPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::headlessFrontend()->reset();
        // The selections of a fresh process, which startPanel lays the panel out for.
        channels = 8;
        channel_index = 1;
        chart_index_1 = 0;
        chart_index_2 = 1;
        showcharts = 0;
        panelHandle = ui::loadPanel(mainPanelDescription());
        attachCallbacks(panelHandle);
        startPanel();
    }
    void TearDown() override {
        discardMainPanel();
        showcharts = 0;
    }

    ui::ControlState control(int id) const { return *ui::controlState(panelHandle, id); }
    int height() const { return ui::panelState(panelHandle)->height; }
    int top(int id) const { return control(id).body.top; }
    bool select(int ring, int item) { return ui::operatorSelectRingItem(panelHandle, ring, item); }
    bool selectType(int type) { return select(CH_SLIDE, type); }
    bool switchCharts(int on) { return ui::operatorSetSwitch(panelHandle, CHARTSSWITCH, on); }
};

const std::vector<std::string> steering_labels = {
    "Torque low", "Torque high", "Angle low", "Angle high", "Speed low",
    "Speed high", "X Accel.",    "Y Accel.",  "Z Accel.",   "Ang. Accel."};

struct Layout {
    int type, count, height;
    uint64_t blocks;
    bool steering() const { return type >= 4; }
};

const Layout layouts[] = {{0, 4, 254, 8192},  {1, 8, 278, 4096},  {2, 16, 326, 2048},
                          {3, 32, 422, 1024}, {4, 10, 302, 1024}, {5, 10, 302, 1024},
                          {6, 10, 302, 1024}, {7, 10, 302, 1024}, {8, 6, 278, 1024},
                          {9, 6, 278, 1024}};

std::vector<std::string> labelsOf(const Layout &layout) {
    if (layout.steering()) return {steering_labels.begin(), steering_labels.begin() + layout.count};
    std::vector<std::string> labels;
    for (int n = 1; n <= layout.count; ++n) labels.push_back("Channel " + std::to_string(n));
    return labels;
}

TEST_F(StartedPanel, EveryTypeRebuildsThePanel) {
    for (const Layout &want : layouts) {
        SCOPED_TRACE("type " + std::to_string(want.type));
        // Come from a layout that differs in every respect checked below.
        ASSERT_TRUE(selectType(want.type == 3 ? 7 : 3));
        ASSERT_TRUE(selectType(want.type));
        EXPECT_EQ(channel_index, want.type);
        EXPECT_EQ(channels, want.count);
        EXPECT_EQ(channel_blocks, want.blocks);
        EXPECT_EQ(display_change, 0);

        std::vector<std::string> labels = labelsOf(want);
        for (int k = 0; k < CHANNEL_DISPLAYS; ++k) {
            EXPECT_EQ(control(panel_rings[k]).visible, k < want.count) << "display " << k;
            if (k < want.count) {
                EXPECT_EQ(control(panel_rings[k]).label, labels[k]) << "display " << k;
            }
        }
        std::vector<std::string> ring2 = labels;
        if (want.count == 10) ring2[9] = "Ang. Acceleration";
        for (auto [ring, expected] :
             {std::pair{CHART_SLIDE_1, &labels}, std::pair{CHART_SLIDE_2, &ring2}}) {
            const std::vector<ui::RingItem> items = control(ring).items;
            ASSERT_EQ(items.size(), expected->size()) << "ring " << ring;
            for (std::size_t i = 0; i < items.size(); ++i) {
                EXPECT_EQ(items[i].label, (*expected)[i]) << "ring " << ring << " item " << i;
                EXPECT_EQ(items[i].value, ui::Value(int(i) + 1))
                    << "ring " << ring << " item " << i;
            }
        }
        EXPECT_EQ(control(CHART_SLIDE_1).index, want.steering() ? 1 : 0);
        EXPECT_EQ(control(CHART_SLIDE_2).index, want.steering() ? 3 : 1);
        EXPECT_EQ(chart_index_1, want.steering() ? 1 : 0);
        EXPECT_EQ(chart_index_2, want.steering() ? 3 : 1);

        EXPECT_EQ(height(), want.height);
        EXPECT_EQ(control(SPEED_SLIDE).dimmed, want.steering());
        if (want.steering()) {
            EXPECT_EQ(control(SPEED_SLIDE).selectedLabel(), "640 kbps");
            EXPECT_EQ(control(timebase).text(), "  40.80 ms");
        }
    }
}

TEST_F(StartedPanel, SteeringBackToPlainKeeps640SelectedAndUsable) {
    ASSERT_TRUE(selectType(7));
    ASSERT_TRUE(selectType(0));
    EXPECT_FALSE(control(SPEED_SLIDE).dimmed);
    EXPECT_EQ(control(SPEED_SLIDE).selectedLabel(), "640 kbps");
    EXPECT_EQ(control(timebase).text(), "  40.80 ms");
    // Usable, and the operator's speed survives a change between plain types.
    ASSERT_TRUE(select(SPEED_SLIDE, 2));
    ASSERT_TRUE(selectType(3));
    EXPECT_EQ(control(SPEED_SLIDE).index, 2);
    EXPECT_EQ(block_speed_index, 2);
    EXPECT_EQ(control(timebase).text(), "  81.60 ms");
}

// Records display_change at every change of the panel model.
class RecordingFrontend : public ui::HeadlessFrontend {
  public:
    void modelChanged() override { seen.push_back(display_change); }
    std::vector<int> seen;
};

TEST_F(StartedPanel, RebuildHoldsDisplayChangeWhileThePanelChanges) {
    auto recorder = std::make_shared<RecordingFrontend>();
    ui::installFrontend(recorder);
    const bool selected = selectType(4);
    ui::installFrontend(nullptr);
    ASSERT_TRUE(selected);
    // The operator's own selection comes first, then the rebuild.
    ASSERT_GT(recorder->seen.size(), 2u);
    EXPECT_EQ(recorder->seen.front(), 0);
    for (std::size_t i = 1; i < recorder->seen.size(); ++i) EXPECT_EQ(recorder->seen[i], 1) << i;
    EXPECT_EQ(display_change, 0);
}

class ChartArea : public StartedPanel {
  protected:
    void expectShown(bool shown) {
        for (int id : {CHART_SLIDE_1, CHART_SLIDE_2, CHART, CHART_2, timebase}) {
            EXPECT_EQ(control(id).visible, shown) << "control " << id;
        }
    }
    void expectTops(int rings, int charts, int timeBase) {
        for (int id : {CHART_SLIDE_1, CHART_SLIDE_2}) EXPECT_EQ(top(id), rings) << "ring " << id;
        for (int id : {CHART, CHART_2}) EXPECT_EQ(top(id), charts) << "chart " << id;
        EXPECT_EQ(top(timebase), timeBase);
    }
    void expectRange(int chart, double halfRange) {
        EXPECT_EQ(control(chart).chart.yMin, -halfRange) << "chart " << chart;
        EXPECT_EQ(control(chart).chart.yMax, halfRange) << "chart " << chart;
    }
};

TEST_F(ChartArea, GrowsThePanelOnceAndSitsAtItsBottom) {
    expectShown(false);
    ASSERT_TRUE(switchCharts(0));  // a repeated state resizes nothing
    EXPECT_EQ(height(), 278);
    ASSERT_TRUE(switchCharts(1));
    EXPECT_EQ(height(), 508);
    ASSERT_TRUE(switchCharts(1));
    EXPECT_EQ(height(), 508);
    expectTops(265, 290, 478);
    expectShown(true);

    ASSERT_TRUE(switchCharts(0));
    EXPECT_EQ(height(), 278);
    expectShown(false);
}

TEST_F(ChartArea, TypeChangeWhileShownKeepsTheAreaAtTheNewBottom) {
    ASSERT_TRUE(switchCharts(1));
    ASSERT_TRUE(selectType(3));
    EXPECT_EQ(height(), 422 + 230);
    expectTops(652 - 243, 652 - 218, 652 - 30);
    expectShown(true);
    ASSERT_TRUE(selectType(8));
    EXPECT_EQ(height(), 278 + 230);
    expectTops(265, 290, 478);

    ASSERT_TRUE(switchCharts(0));
    EXPECT_EQ(height(), 278) << "back to the type's own height";
    expectShown(false);
    ASSERT_TRUE(selectType(4));
    EXPECT_EQ(height(), 302);
}

TEST_F(ChartArea, AxesSpanTheFullScaleOfTheChosenChannel) {
    ASSERT_TRUE(switchCharts(1));  // the chart rings take input only while shown
    ASSERT_TRUE(selectType(3));
    ASSERT_TRUE(select(CHART_SLIDE_1, 11));  // "Channel 12": no table of its own
    ASSERT_TRUE(select(CHART_SLIDE_2, 31));  // the last channel
    EXPECT_EQ(chart_index_1, 11);
    EXPECT_EQ(chart_index_2, 31);
    expectRange(CHART, 100);
    expectRange(CHART_2, 100);

    ASSERT_TRUE(selectType(7));  // "Steering Commercial 200 Nm": Torque high, Angle high
    expectRange(CHART, 200);
    expectRange(CHART_2, 1200);

    ASSERT_TRUE(selectType(6));             // layout 2
    ASSERT_TRUE(select(CHART_SLIDE_2, 2));  // "Angle low"
    EXPECT_EQ(chart_index_2, 2);
    expectRange(CHART_2, 120);
    expectRange(CHART, 100);                // untouched: Torque high
    ASSERT_TRUE(select(CHART_SLIDE_1, 9));  // "Ang. Accel."
    expectRange(CHART, 10000);
}

TEST_F(StartedPanel, TimeBaseTextOfEachSpeed) {
    // Start-up shows the default speed's time base.
    EXPECT_EQ(block_speed_index, 1);
    EXPECT_FLOAT_EQ(block_timer_value, 163.2f);
    EXPECT_EQ(control(timebase).text(), " 163.20 ms");
    const std::array<const char *, 4> texts = {" 652.80 ms", " 163.20 ms", "  81.60 ms",
                                               "  40.80 ms"};
    for (int speed : {3, 0, 2, 1}) {
        ASSERT_TRUE(select(SPEED_SLIDE, speed));
        EXPECT_EQ(block_speed_index, speed);
        EXPECT_EQ(control(timebase).text(), texts[speed]) << "speed " << speed;
    }
}

}  // namespace
}  // namespace ostrel
