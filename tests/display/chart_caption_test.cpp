// Each chart's label names what it shows, the item selected in its ring, from the moment the
// chart area is shown and after every type or channel change.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "display/channel_layout.h"
#include "display/charts.h"
#include "panel/ostrel_panel.h"
#include "telemetry/selections.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

class ChartCaptions : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::headlessFrontend()->reset();
        channels = 8;
        channel_index = 1;
        panelHandle = ui::loadPanel(mainPanelDescription());
        ui::installControlCallback(panelHandle, CH_SLIDE, channel_change, nullptr);
        ui::installControlCallback(panelHandle, CHART_SLIDE_2, chart_change_2, nullptr);
        ui::installControlCallback(panelHandle, CHARTSSWITCH, show_charts, nullptr);
    }
    void TearDown() override {
        ui::discardPanel(panelHandle.exchange(0));
        showcharts = 0;
    }
    static std::pair<std::string, std::string> captions() {
        return {ui::controlState(panelHandle, CHART)->label,
                ui::controlState(panelHandle, CHART_2)->label};
    }
    static bool select(int ring, int item) {
        return ui::operatorSelectRingItem(panelHandle, ring, item);
    }
};

TEST_F(ChartCaptions, FollowTheChartRings) {
    ASSERT_TRUE(ui::operatorSetSwitch(panelHandle, CHARTSSWITCH, 1));
    using Captions = std::pair<std::string, std::string>;
    EXPECT_EQ(captions(), Captions("Channel 1", "Channel 2"));
    ASSERT_TRUE(select(CH_SLIDE, 4));  // Steering Personal Car 100 Nm: items 1 and 3
    const std::string item1 = ui::controlState(panelHandle, CHART_SLIDE_1)->selectedLabel();
    ASSERT_TRUE(select(CHART_SLIDE_2, 0));
    EXPECT_EQ(captions(),
              std::pair(item1, ui::controlState(panelHandle, CHART_SLIDE_2)->selectedLabel()));
    EXPECT_NE(item1, "Channel 2");
}

}  // namespace
}  // namespace ostrel
