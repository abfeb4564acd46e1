#include "display/display_refresh.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "display/live_values.h"
#include "panel/ostrel_panel.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "telemetry/tables.h"
#include "ui/panel.h"

namespace ostrel {
namespace {

// A plain type's channels all lie in the published frame and have a display.
static_assert(std::ranges::all_of(number_of_channels, [](int32_t words) {
    return words <= int32_t(frame_words) && words <= CHANNEL_DISPLAYS;
}));
static_assert(steering_slot_count <= CHANNEL_DISPLAYS);

// Appends values[index] to `chart`. An index outside `values` is a selection
// the frame does not carry: it plots nothing.
void plotSelected(int panel, int chart, int index, std::span<const float> values) {
    if (index < 0 || std::size_t(index) >= values.size()) return;
    ui::plotPoint(panel, chart, values[std::size_t(index)]);
}

// One point per chart, from the values of the selected items.
void plotSelections(int panel, std::span<const float> values) {
    plotSelected(panel, CHART, chart_index_1, values);
    plotSelected(panel, CHART_2, chart_index_2, values);
}

void refreshPlain(int type, const FrameWords &frame) {
    const int panel = panelHandle;
    const auto count = std::size_t(number_of_channels[type]);
    std::array<float, frame_words> percents{};
    for (std::size_t k = 0; k < count; ++k) {
        percents[k] = percentOf(frame[k]);
        ui::setValue(panel, panel_rings[k], percentText(percents[k]).view());
    }
    plotSelections(panel, std::span(percents).first(count));
}

}  // namespace

int sortUsbData(int, int, int, void *, int, int) {
    if (data_received != 1 || display_change != 0) return 0;
    const int type = channel_index;
    if (isPlainType(type)) {
        refreshPlain(type, currentFrame());
    } else if (isSteeringType(type)) {
        steering_sort(steeringLayout(type));
    }
    return 0;
}

void steering_sort(int layout) {
    const int slots = steeringChartSlots(layout);
    if (slots == 0) return;
    const int panel = panelHandle;
    const SteeringReadout readout = steeringTexts(layout, currentFrame());
    for (int slot = 0; slot < steering_slot_count; ++slot) {
        ui::setValue(panel, panel_rings[slot], readout.texts[slot].view());
    }
    plotSelections(panel, std::span(readout.values).first(std::size_t(slots)));
}

}  // namespace ostrel
