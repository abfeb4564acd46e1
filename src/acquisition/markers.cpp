#include "acquisition/markers.h"

#include <atomic>
#include <chrono>
#include <mutex>

#include "logging/log_description.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/tables.h"
#include "ui/panel.h"

namespace ostrel {

namespace {

// The markers of the open measurement. `taking` and `arrivedWords` are read on every call
// without the mutex; the rest changes only at START and under the mutex.
struct MarkerState {
    std::atomic<bool> taking{false};
    std::atomic<uint64_t> arrivedWords{0};  // words of the blocks arrived since START
    std::atomic<bool> replaying{false};     // markers of a played-back recording wait

    std::mutex mutex;  // guards every member below
    int lastNumber = 0;
    uint64_t wordsPerRecord = 1;
    uint64_t recordsPerCycle = 0;
    double timeBaseMicros = 0;
    std::vector<recording::RecordingMarker> toReplay;
    std::size_t nextReplay = 0;
    ReplayedMarkers replayedMarkers;
};

MarkerState &state() {
    static MarkerState *const markers = new MarkerState;
    return *markers;
}

// "2026-12-08T14:20:01.250+01:00"
std::string wallClockNow() {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(system_clock::now().time_since_epoch());
    return recording::isoLocalTime(sinceEpoch.count() / 1000, int(sinceEpoch.count() % 1000));
}

// The record of the log file that the measured record `measured` is: the cycles left out of
// the file so far (its gaps) are not in it.
uint64_t fileRecordOf(uint64_t measured, uint64_t recordsPerCycle) {
    uint64_t skipped = 0;
    for (const recording::LogGap &gap : logGaps()) skipped += gap.cycles * recordsPerCycle;
    return measured > skipped ? measured - skipped : 0;
}

// Sets marker on the measured record `measured`: numbered, listed for the description, drawn.
recording::RecordingMarker placeMarker(uint64_t measured, const std::string &label) {
    MarkerState &s = state();
    recording::RecordingMarker marker;
    {
        std::lock_guard lock(s.mutex);
        if (!s.taking.load()) return marker;
        marker.number = ++s.lastNumber;
        marker.record = fileRecordOf(measured, s.recordsPerCycle);
        marker.seconds = double(measured) * s.timeBaseMicros / 1e6;
    }
    marker.wallClock = wallClockNow();
    marker.label = label;
    log_description::addMarker(marker);
    ui::addChartMarker(panelHandle, CHART, marker.number);
    ui::addChartMarker(panelHandle, CHART_2, marker.number);
    return marker;
}

uint64_t recordsArrived() {
    MarkerState &s = state();
    std::lock_guard lock(s.mutex);
    return s.arrivedWords.load() / s.wordsPerRecord;
}

// The played-back markers whose records have now arrived, in order; none when none is due.
std::vector<recording::RecordingMarker> replayDue() {
    MarkerState &s = state();
    std::lock_guard lock(s.mutex);
    const uint64_t arrived = s.arrivedWords.load() / s.wordsPerRecord;
    std::vector<recording::RecordingMarker> due;
    while (s.nextReplay < s.toReplay.size() && s.toReplay[s.nextReplay].record < arrived) {
        due.push_back(s.toReplay[s.nextReplay++]);
    }
    if (s.nextReplay == s.toReplay.size()) s.replaying = false;
    return due;
}

}  // namespace

recording::RecordingMarker setMarker(const std::string &label) {
    if (!state().taking.load()) return {};
    const uint64_t arrived = recordsArrived();
    // The newest record that has arrived; record 0 before the first block.
    return placeMarker(arrived > 0 ? arrived - 1 : 0, label);
}

void setReplayedMarkers(ReplayedMarkers source) {
    std::lock_guard lock(state().mutex);
    state().replayedMarkers = std::move(source);
}

namespace marker_detail {

void startMarkers(int type, double timeBaseMicros, const std::string &module) {
    MarkerState &s = state();
    std::lock_guard lock(s.mutex);
    s.lastNumber = 0;
    s.arrivedWords = 0;
    s.wordsPerRecord = isValidType(type) ? uint64_t(number_of_channels[type]) : 1;
    s.recordsPerCycle = framesPerLoggedCycle(type);
    s.timeBaseMicros = timeBaseMicros;
    s.toReplay =
        s.replayedMarkers ? s.replayedMarkers(module) : std::vector<recording::RecordingMarker>{};
    s.nextReplay = 0;
    s.replaying = !s.toReplay.empty();
    s.taking = true;
}

void noteBlockArrived() {
    MarkerState &s = state();
    s.arrivedWords.fetch_add(block_words);
    if (!s.replaying.load()) return;
    for (const recording::RecordingMarker &marker : replayDue()) {
        placeMarker(marker.record, marker.label);
    }
}

void endMarkers() {
    std::lock_guard lock(state().mutex);
    state().taking = false;
    state().replaying = false;
}

}  // namespace marker_detail

}  // namespace ostrel
