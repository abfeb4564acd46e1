// A freshly started main panel on the headless runtime, with the program's
// callbacks attached, for operating it as the operator would.
#pragma once

#include <gtest/gtest.h>

#include "app/startup.h"
#include "display/charts.h"
#include "telemetry/selections.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/ostrel_panel.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {

class StartedPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::headlessFrontend()->reset();
        // The selections as a fresh process has them: startPanel lays the panel
        // out for them before it reads the type ring.
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

    bool selectType(int type) { return ui::operatorSelectRingItem(panelHandle, CH_SLIDE, type); }
    bool selectSpeed(int speed) {
        return ui::operatorSelectRingItem(panelHandle, SPEED_SLIDE, speed);
    }
    bool switchCharts(int on) { return ui::operatorSetSwitch(panelHandle, CHARTSSWITCH, on); }
    bool selectChartItem(int ring, int item) {
        return ui::operatorSelectRingItem(panelHandle, ring, item);
    }
};

}  // namespace ostrel
