// Start-up and shutdown of the main panel, through the headless runtime.
#include "app/startup.h"

#include <gtest/gtest.h>

#include "acquisition/module_discovery.h"
#include "panel/ostrel_panel.h"
#include "telemetry/selections.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

class StartUp : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::headlessFrontend()->reset();
        panelHandle = ui::loadPanel(mainPanelDescription());
        attachCallbacks(panelHandle);
        startPanel();
    }
    void TearDown() override { discardMainPanel(); }
    ui::ControlState control(int id) { return *ui::controlState(panelHandle, id); }
};

TEST_F(StartUp, ShowsEightEmptyChannelsAndHidesTheChartArea) {
    for (int k = 0; k < CHANNEL_DISPLAYS; ++k) {
        const ui::ControlState display = control(panel_rings[k]);
        EXPECT_EQ(display.visible, k < 8) << "channel " << k + 1;
        EXPECT_EQ(display.label, "Channel " + std::to_string(k + 1));
        EXPECT_EQ(display.text(), "");
    }
    for (int id : {CHART_SLIDE_1, CHART_SLIDE_2, CHART, CHART_2, timebase}) {
        EXPECT_FALSE(control(id).visible) << id;
    }
    const ui::PanelState panel = *ui::panelState(panelHandle);
    EXPECT_EQ(panel.height, 278);
    EXPECT_EQ(panel.width, 836);
    EXPECT_EQ(display_change, 0);
}

// What start-up reads and prepares; the panel's own initial values are the
// panel description's tests.
TEST_F(StartUp, ReadsTheSelectionsFillsTheIdleBlockAndStartsTheModuleScan) {
    EXPECT_EQ(channels, 8);
    EXPECT_EQ(channel_index, 1);
    EXPECT_EQ(block_speed_factor, 8);
    EXPECT_EQ(control(timebase).text(), " 163.20 ms") << "160 kbps, 8 x 512 bytes";
    EXPECT_EQ(data.load(), dummydata.data());
    for (uint16_t word : dummydata) ASSERT_EQ(word, 0x8000);
    double interval = 0.0;
    ASSERT_EQ(GetTimerAttribute(timerID_Modules, kTimerAttrInterval, &interval), 0);
    EXPECT_EQ(interval, 1.0);
    int count = 0;
    ASSERT_EQ(GetTimerAttribute(timerID_Modules, kTimerAttrCount, &count), 0);
    EXPECT_LT(count, 0) << "runs until discarded";
}

TEST(Shutdown, ClosingWhileIdleEndsTheEventLoopAndDiscardsThePanel) {
    auto headless = ui::headlessFrontend();
    headless->reset();
    int seenPanel = 0;
    headless->post([&] {
        seenPanel = panelHandle;
        EXPECT_TRUE(ui::panelState(seenPanel)->displayed);
        EXPECT_TRUE(ui::operatorClosePanel(seenPanel));
    });
    runMainPanel();
    EXPECT_GT(seenPanel, 0);
    EXPECT_FALSE(ui::panelState(seenPanel).has_value()) << "discarded after the loop";
    EXPECT_EQ(panelHandle, 0);
    EXPECT_EQ(ui::setValue(seenPanel, timebase, "late"), ui::UI_NO_PANEL);
}

}  // namespace
}  // namespace ostrel
