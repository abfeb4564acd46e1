// Start-up and shutdown of the main panel, through the headless runtime.
#include "app/startup.h"

#include <gtest/gtest.h>

#include "telemetry/selections.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/ostrel_panel.h"
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

TEST_F(StartUp, ReadsTheDefaultSelections) {
    EXPECT_EQ(channels, 8);
    EXPECT_EQ(channel_index, 1);
    EXPECT_EQ(block_speed_factor, 8);
    EXPECT_EQ(control(usbinterface).items.size(), 0u);
    EXPECT_EQ(control(usbinterface).index, -1);
    EXPECT_EQ(control(CHART_SLIDE_1).selectedLabel(), "Channel 1");
    EXPECT_EQ(control(CHART_SLIDE_2).selectedLabel(), "Channel 2");
    EXPECT_EQ(control(FILE_SEP).selectedLabel(), "Comma");
    EXPECT_EQ(control(FILE_SEP).intValue(), 1);
    EXPECT_EQ(control(LOG_STATE).intValue(), 0);
    EXPECT_EQ(control(CHARTSSWITCH).intValue(), 0);
    EXPECT_EQ(control(meas_start_stop).intValue(), 0);
}

TEST_F(StartUp, FillsTheIdleBlockAndPointsTheDisplayAtIt) {
    dummydata[17] = 0x1234;
    startPanel();
    EXPECT_EQ(data.load(), dummydata.data());
    for (uint16_t word : dummydata) ASSERT_EQ(word, 0x8000);
}

TEST_F(StartUp, ChannelWritesGoThroughTheChannelTable) {
    ui::setValue(panelHandle, panel_rings[6], "channel 7");
    ui::setValue(panelHandle, panel_rings[9], "channel 10");
    EXPECT_EQ(control(12).text(), "channel 7");
    EXPECT_EQ(control(9).text(), "channel 10");
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
