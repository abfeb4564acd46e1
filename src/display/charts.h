// The chart area and the diagram time base: which channel each strip chart
// shows and on which vertical range, showing and hiding the chart area (which
// grows and shrinks the panel), and the time base text of the selected speed.
// Main thread only: control callbacks and the start-up.
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrel {

// Height the chart area adds to the panel while it is shown.
inline constexpr int chart_area_height = 230;
// Tops of the chart area's controls, as distances above the panel's bottom edge.
inline constexpr int chart_selector_offset = 243;  // CHART_SLIDE_1, CHART_SLIDE_2
inline constexpr int chart_offset = 218;           // CHART, CHART_2
inline constexpr int timebase_offset = 30;         // timebase

// 1 while the chart area is shown (the CHARTSSWITCH value it was last shown or
// hidden for), 0 while hidden. 0 at process start, like the chart area that
// startPanel hides. Written and read on the main thread.
extern std::atomic<int32_t> showcharts;

// Sets the vertical axes of CHART and CHART_2 to +-full scale of the items
// chart_index_1 and chart_index_2 for the current telemetry type.
void setchartscale();

// Shows or hides the chart area to follow CHARTSSWITCH. The panel grows by
// chart_area_height when the area appears and shrinks by as much when it goes;
// a commit that repeats the current state leaves the height alone.
void show_hide_charts();

// Reads the speed ring into block_speed_index, computes block_timer_value and
// writes it into timebase as "%7.2f" followed by " ms".
void change_time();

// Moves the chart area's controls to their places for a panel `height` high;
// their horizontal positions stay.
void placeChartArea(int panel, int height);

// Control callbacks; act on the commit event only and return 0.
int chart_change_1(int panel, int control, int event, void *callbackData, int eventData1,
                   int eventData2);  // CHART_SLIDE_1
int chart_change_2(int panel, int control, int event, void *callbackData, int eventData1,
                   int eventData2);  // CHART_SLIDE_2
int speed_change(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);  // SPEED_SLIDE
int show_charts(int panel, int control, int event, void *callbackData, int eventData1,
                int eventData2);  // CHARTSSWITCH

}  // namespace ostrel
