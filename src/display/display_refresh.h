// The live refresh of a running measurement: the channel displays and one
// point per strip chart, ten times a second, from the frame the acquisition
// thread published last. Runs on the timer thread (and once on the thread that
// discards the refresh timer); reads the selections, writes only the panel.
#pragma once

namespace ostrel {

// Callback of the 0.1 s display refresh timer; ignores its arguments, so every
// timer event (the discard one included) refreshes alike. Does nothing before
// the measurement's first block (data_received not 1), while the layout is
// rebuilt (display_change not 0) or for a type outside 0..9. A plain type gets
// its channel texts and the percent of the selected words on the charts; a
// steering type is refreshed by steering_sort. Returns 0.
int sortUsbData(int panel, int control, int event, void *callbackData, int eventData1,
                int eventData2);

// Refreshes the ten steering slot displays (the acceleration ones of layouts 4
// and 5 too, hidden there) and plots the selected slots' values. A chart
// selection the layout does not offer plots nothing; so does a layout outside
// 0..5.
void steering_sort(int layout);

}  // namespace ostrel
