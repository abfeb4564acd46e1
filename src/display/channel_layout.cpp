#include "display/channel_layout.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "display/charts.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/tables.h"
#include "panel/ostrel_panel.h"
#include "ui/panel.h"

namespace ostrel {
namespace {

std::string channelLabel(int number) {
    char label[24];
    std::snprintf(label, sizeof label, "Channel %d", number);
    return label;
}

// Reads the type ring into channels, channel_index and channel_blocks.
void readTelemetryType(int panel) {
    int value = channels;
    int index = channel_index;
    ui::getValue(panel, CH_SLIDE, &value);
    ui::getRingIndex(panel, CH_SLIDE, &index);
    channels = value;
    channel_index = index;
    channel_blocks = framesPerLoggedCycle(index);
}

// Makes display entries 0 .. count - 1 visible and hides all others.
void showChannelDisplays(int panel, int count) {
    for (int display : panel_rings) ui::setVisible(panel, display, false);
    for (int k = 0; k < count; ++k) ui::setVisible(panel, panel_rings[k], true);
}

void selectChartItems(int panel, int item1, int item2) {
    ui::setRingIndex(panel, CHART_SLIDE_1, item1);
    ui::setRingIndex(panel, CHART_SLIDE_2, item2);
}

// Plain types: numbered displays and chart items. Returns the panel height.
int layoutPlainChannels(int panel, int count) {
    int height = panel_height;
    for (int k = 0; k < count; ++k) {
        const std::string label = channelLabel(k + 1);
        ui::insertRingItem(panel, CHART_SLIDE_1, k, label, k + 1);
        ui::insertRingItem(panel, CHART_SLIDE_2, k, label, k + 1);
        ui::setLabel(panel, panel_rings[k], label);
        height += CHANNEL_ROW_SHARE;
    }
    selectChartItems(panel, plain_chart_item_1, plain_chart_item_2);
    return height;
}

// Steering types: the slot names on the displays and in the chart rings.
// Returns the panel height.
int layoutSteeringSlots(int panel, int type) {
    const bool accelerations = hasAccelerations(type);
    const int slots = accelerations ? steering_slot_count : module_slot_count;
    for (int s = 0; s < slots; ++s) {
        const SteeringSlot &slot = steering_slots[s];
        ui::setLabel(panel, panel_rings[s], slot.label);
        ui::insertRingItem(panel, CHART_SLIDE_1, s, slot.label, s + 1);
        ui::insertRingItem(panel, CHART_SLIDE_2, s, slot.chart2_label, s + 1);
    }
    selectChartItems(panel, steering_chart_item_1, steering_chart_item_2);
    return accelerations ? steering_panel_height : module_panel_height;
}

// Steering types run at 640 kbps only: the speed ring is locked there. A plain
// type frees it and keeps its selection. The time base follows either way.
void applySpeedRule(int panel, bool steering) {
    ui::setDimmed(panel, SPEED_SLIDE, steering);
    if (steering) ui::setRingIndex(panel, SPEED_SLIDE, steering_speed_index);
    change_time();
}

// Sets the layout's height, plus the chart area while it is shown, so that
// hiding the charts later returns to the layout's own height.
void applyPanelHeight(int panel, int layoutHeight) {
    if (showcharts == 0) {
        ui::setPanelHeight(panel, layoutHeight);
        return;
    }
    const int height = layoutHeight + chart_area_height;
    ui::setPanelHeight(panel, height);
    placeChartArea(panel, height);
}

void readChartSelections(int panel) {
    int index1 = chart_index_1;
    int index2 = chart_index_2;
    ui::getRingIndex(panel, CHART_SLIDE_1, &index1);
    ui::getRingIndex(panel, CHART_SLIDE_2, &index2);
    chart_index_1 = index1;
    chart_index_2 = index2;
}

}  // namespace

int channel_change(int, int, int event, void *, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    const int panel = panelHandle;
    display_change = 1;
    readTelemetryType(panel);
    ui::clearRing(panel, CHART_SLIDE_1);
    ui::clearRing(panel, CHART_SLIDE_2);
    const int shown = std::clamp<int>(channels, 0, CHANNEL_DISPLAYS);
    showChannelDisplays(panel, shown);
    const int type = channel_index;
    int height = panel_height;
    if (isPlainType(type)) height = layoutPlainChannels(panel, shown);
    if (isSteeringType(type)) height = layoutSteeringSlots(panel, type);
    applySpeedRule(panel, isSteeringType(type));
    applyPanelHeight(panel, height);
    readChartSelections(panel);
    setchartscale();
    display_change = 0;
    return 0;
}

}  // namespace ostrel
