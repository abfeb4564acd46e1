// The panel's layout per telemetry type: which channel displays are visible
// and how they are labelled, what the two chart rings offer and select, the
// panel height, and whether the speed ring may be used. Main thread only.
#pragma once

namespace ostrel {

// Panel heights of the steering types (with and without accelerations); the
// plain types use panel_height + CHANNEL_ROW_SHARE per channel.
inline constexpr int steering_panel_height = 302;
inline constexpr int module_panel_height = 278;

// Chart items selected after a change to a plain type.
inline constexpr int plain_chart_item_1 = 0;  // "Channel 1"
inline constexpr int plain_chart_item_2 = 1;  // "Channel 2"
// Chart items selected after a change to a steering type.
inline constexpr int steering_chart_item_1 = 1;  // "Torque high"
inline constexpr int steering_chart_item_2 = 3;  // "Angle high"

// Callback of CH_SLIDE: rebuilds the panel for the selected telemetry type,
// holding display_change at 1 meanwhile. Acts on the commit event only;
// returns 0. While the chart area is shown, the new height includes it and the
// chart area is placed for that height.
int channel_change(int panel, int control, int event, void *callbackData, int eventData1,
                   int eventData2);

}  // namespace ostrel
