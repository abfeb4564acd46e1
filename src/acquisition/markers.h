// Event markers: "now the car entered the curve", set during a measurement and found again in
// the recording. A marker falls on the newest record that has arrived from the module when it
// is set; it is numbered from 1 since START, drawn on both strip charts and listed in the
// description of the log file. A measurement played back from a recording sets the
// recording's markers again, with their labels, as the playback reaches their records.
//
// Threads: setMarker from any thread; the rest as each says.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recording/recording_description.h"

namespace ostrel {

// Sets a marker labelled `label` (empty: unlabelled) now and returns it; nothing happens, and
// the marker returned has number 0, when no measurement is open. Any thread.
recording::RecordingMarker setMarker(const std::string &label = {});

// The markers a module's recording holds (empty for a module that plays no recording), asked
// at every START. Set once by the program that offers playback; main thread, before a START.
using ReplayedMarkers = std::function<std::vector<recording::RecordingMarker>(const std::string &)>;
void setReplayedMarkers(ReplayedMarkers source);

namespace marker_detail {

// START, main thread, before the acquisition thread starts: the first record is record 0,
// markers count from 1 again, those of a played-back module are waiting for their records.
void startMarkers(int type, double timeBaseMicros, const std::string &module);
// A block of the module's words has arrived. Acquisition thread.
void noteBlockArrived();
// The measurement is closed: no marker more. The closing thread.
void endMarkers();

}  // namespace marker_detail

}  // namespace ostrel
