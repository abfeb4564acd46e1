#include "display/charts.h"

#include <array>
#include <string>

#include "panel/ostrel_panel.h"
#include "telemetry/number_text.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/tables.h"
#include "ui/panel.h"

namespace ostrel {

std::atomic<int32_t> showcharts{0};

namespace {

// The five controls of the chart area, in the order they are made visible.
constexpr std::array<int, 5> chart_area_controls = {CHART_SLIDE_1, CHART_SLIDE_2, CHART, CHART_2,
                                                    timebase};

void setAxisHalfRange(int panel, int chart, int chartItem) {
    const double halfRange = fullScale(chartItem, channel_index);
    ui::setYAxisRange(panel, chart, -halfRange, halfRange);
}

// A chart's label names what it shows, the item selected in its ring: accessibility
// tools read it. The chart draws no label.
void captionChart(int panel, int chart, int ring) {
    int index = -1;
    std::string label;
    if (ui::getRingIndex(panel, ring, &index) != ui::UI_OK) return;
    if (ui::getRingItemLabel(panel, ring, index, &label) != ui::UI_OK) label.clear();
    ui::setLabel(panel, chart, label);
}

void captionCharts(int panel) {
    captionChart(panel, CHART, CHART_SLIDE_1);
    captionChart(panel, CHART_2, CHART_SLIDE_2);
}

// Stores the selected index of `ring` in `chartIndex` and rescales both axes.
void followChartSelection(int ring, std::atomic<int32_t> &chartIndex) {
    int index = 0;
    if (ui::getRingIndex(panelHandle, ring, &index) == ui::UI_OK) chartIndex = index;
    setchartscale();
}

// The milliseconds right-aligned in 7 places with 2 decimals, then " ms".
std::string timeBaseText(float milliseconds) {
    return fixedText(double(milliseconds), 2, 7) + " ms";
}

}  // namespace

void setchartscale() {
    const int panel = panelHandle;
    setAxisHalfRange(panel, CHART, chart_index_1);
    setAxisHalfRange(panel, CHART_2, chart_index_2);
    captionCharts(panel);
}

void placeChartArea(int panel, int height) {
    ui::setTop(panel, CHART_SLIDE_1, height - chart_selector_offset);
    ui::setTop(panel, CHART_SLIDE_2, height - chart_selector_offset);
    ui::setTop(panel, CHART, height - chart_offset);
    ui::setTop(panel, CHART_2, height - chart_offset);
    ui::setTop(panel, timebase, height - timebase_offset);
}

void show_hide_charts() {
    const int panel = panelHandle;
    int switchValue = 0;
    int height = 0;
    if (ui::getValue(panel, CHARTSSWITCH, &switchValue) != ui::UI_OK) return;
    if (ui::getPanelHeight(panel, &height) != ui::UI_OK) return;
    const bool show = switchValue != 0;
    // The height changes only with the state, so it always returns to the
    // layout's own height when the area is hidden.
    if (show != (showcharts != 0)) height += show ? chart_area_height : -chart_area_height;
    showcharts = show ? 1 : 0;
    ui::setPanelHeight(panel, height);
    if (show) {
        placeChartArea(panel, height);
        captionCharts(panel);
    }
    for (int control : chart_area_controls) ui::setVisible(panel, control, show);
}

void change_time() {
    const int panel = panelHandle;
    int speedIndex = block_speed_index;
    ui::getRingIndex(panel, SPEED_SLIDE, &speedIndex);
    block_speed_index = speedIndex;
    block_timer_value = diagramTimeBase(speedIndex, block_speed_factor);
    ui::setValue(panel, timebase, timeBaseText(block_timer_value));
}

int chart_change_1(int, int, int event, void *, int, int) {
    if (event == ui::EVENT_COMMIT) followChartSelection(CHART_SLIDE_1, chart_index_1);
    return 0;
}

int chart_change_2(int, int, int event, void *, int, int) {
    if (event == ui::EVENT_COMMIT) followChartSelection(CHART_SLIDE_2, chart_index_2);
    return 0;
}

int speed_change(int, int, int event, void *, int, int) {
    if (event == ui::EVENT_COMMIT) change_time();
    return 0;
}

int show_charts(int, int, int event, void *, int, int) {
    if (event == ui::EVENT_COMMIT) show_hide_charts();
    return 0;
}

}  // namespace ostrel
