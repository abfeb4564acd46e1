#include "logging/log_description.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>

#include "logging/log_file.h"
#include "logging/log_header.h"
#include "logging/reserved_file.h"
#include "recording/path_names.h"
#include "telemetry/tables.h"
#include "ui/frontend.h"
#include "ui/panel.h"

#ifndef OSTREL_VERSION
#define OSTREL_VERSION "unknown"
#endif

namespace ostrel {

namespace {

using recording::MeasurementEnd;

constexpr int64_t kNoLostFrames = -1;

std::atomic<int> endNoted{int(MeasurementEnd::running)};
std::atomic<int64_t> lostFramesNoted{kNoLostFrames};

// The description of the open log file. Prepared by begin (START), written by publishStart
// (the acquisition thread, before it hands the writer a cycle), by update (the writer thread,
// after a cycle) and by complete (once the writer has finished): each hand-over orders them,
// no two overlap. Never deleted.
struct OpenDescription {
    bool active = false;
    bool published = false;  // written at least once
    std::time_t startTime = 0;
    std::chrono::steady_clock::time_point startedAt;
    uint64_t recordsPerCycle = 0;
    std::string path;
    recording::RecordingDescription description;
    ReservedFile closing;  // room for the closing description on a disk that fills up
};

// The markers set since START, from any thread. The description lists a marker once the
// records up to it are on the disk (and every one when it is completed).
struct Markers {
    std::mutex mutex;  // guards set
    std::vector<recording::RecordingMarker> set;
};

Markers &markers() {
    static Markers *const list = new Markers;
    return *list;
}

std::vector<recording::RecordingMarker> markersBefore(uint64_t records) {
    Markers &list = markers();
    std::lock_guard lock(list.mutex);
    std::vector<recording::RecordingMarker> within;
    for (const recording::RecordingMarker &m : list.set) {
        if (m.record < records) within.push_back(m);
    }
    return within;
}

OpenDescription &openDescription() {
    static OpenDescription *const open = new OpenDescription;
    return *open;
}

// Posted, never waited for.
void reportDescriptionFailure(const std::string &path, const std::string &reason) {
    ui::postMessage(log_write_error_title,
                    "The description of the recording could not be "
                    "written:\n" +
                        path + "\n" + reason + ".\nThe log file itself is not affected.");
}

bool directoryGone(const std::string &path) {
    const std::string directory = recording::directoryOf(path);
    struct stat info {};
    return ::stat(directory.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// Room for the closing description: the first one with all the gaps a long day may add.
std::size_t closingReserve(std::size_t firstSize) {
    constexpr std::size_t kAtLeast = 64 * 1024;
    return std::max(kAtLeast, 4 * firstSize);
}

// Flushed to disk except on the GUI thread, which must never wait for a slow disk. The closing
// description goes into the space reserved for it when no new file can be written (a full
// disk).
void write(OpenDescription &open, bool closing = false) {
    open.published = true;
    const bool durable = !ui::currentFrontend()->isGuiThread();
    const std::string json = recording::describeAsJson(open.description);
    std::string error = recording::writeFileAtomically(open.path, json, durable);
    if (!error.empty() && closing && open.closing.reserved()) {
        if (open.closing.publish(json).empty()) error.clear();
    }
    if (closing) open.closing.release();
    if (error.empty()) return;
    // Gone with its directory: the log file's writer tells the loss of the whole recording.
    if (directoryGone(open.path)) {
        open.active = false;
        open.closing.release();
        return;
    }
    reportDescriptionFailure(open.path, error);
}

}  // namespace

void noteMeasurementEnd(MeasurementEnd end) {
    int expected = int(MeasurementEnd::running);
    if (endNoted.compare_exchange_strong(expected, int(end))) return;
    const bool saysMore = end == MeasurementEnd::windowClosed || end == MeasurementEnd::signal;
    expected = int(MeasurementEnd::stop);
    if (saysMore) endNoted.compare_exchange_strong(expected, int(end));
}

void noteLostFrames(uint64_t frames) {
    lostFramesNoted = int64_t(frames);
}

namespace log_description {

void reset() {
    endNoted = int(MeasurementEnd::running);
    lostFramesNoted = kNoLostFrames;
    std::lock_guard lock(markers().mutex);
    markers().set.clear();
}

void addMarker(const recording::RecordingMarker &marker) {
    std::lock_guard lock(markers().mutex);
    markers().set.push_back(marker);
}

void begin(const StartFacts &facts) {
    OpenDescription &open = openDescription();
    open.active = true;
    open.path = recording::descriptionPathFor(facts.logFilePath);
    recording::RecordingDescription &d = open.description;
    d = recording::RecordingDescription{};
    d.programVersion = OSTREL_VERSION;
    d.logFile = std::string(recording::baseNameOf(facts.logFilePath));
    d.module = facts.module;
    d.typeIndex = facts.type;
    d.typeText = isValidType(facts.type) ? std::string(telemetry_types[facts.type].label) : "";
    d.speedKbps = facts.speedKbps;
    d.timeBaseMicros = facts.timeBaseMicros;
    d.columns = logColumnNames(facts.type);
    d.channelCount = int(d.columns.size());
    d.separator = facts.separator;
    d.startTime = recording::isoLocalTime(facts.startTime);
    open.startTime = facts.startTime;
    open.startedAt = facts.startedAt;
    open.recordsPerCycle = facts.recordsPerCycle;
    open.published = false;
    open.closing.release();
}

void publishStart() {
    OpenDescription &open = openDescription();
    if (!open.active || open.published) return;
    const std::size_t size = recording::describeAsJson(open.description).size();
    open.closing.reserve(open.path, closingReserve(size));
    write(open);
}

void update(uint64_t cycles, const std::vector<recording::LogGap> &gaps) {
    OpenDescription &open = openDescription();
    if (!open.active || !open.published) return;
    open.description.cycles = cycles;
    open.description.gaps = gaps;
    open.description.markers = markersBefore(cycles * open.recordsPerCycle);
    write(open);
}

void abandon() {
    openDescription().active = false;
    openDescription().closing.release();
}

void complete(uint64_t cycles, std::chrono::steady_clock::time_point stoppedAt,
              const std::vector<recording::LogGap> &gaps) {
    OpenDescription &open = openDescription();
    if (!open.active) return;
    open.active = false;
    recording::RecordingDescription &d = open.description;
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
        std::max(stoppedAt - open.startedAt, std::chrono::steady_clock::duration::zero()));
    d.stopTime = recording::isoLocalTime(open.startTime + std::time_t(elapsed.count()));
    d.cycles = cycles;
    d.gaps = gaps;
    d.markers = markersBefore(UINT64_MAX);
    const auto end = MeasurementEnd(endNoted.load());
    d.ended = end == MeasurementEnd::running ? MeasurementEnd::stop : end;
    if (const int64_t lost = lostFramesNoted.load(); lost != kNoLostFrames) {
        d.lostFrames = uint64_t(lost);
    }
    write(open, true);
}

}  // namespace log_description

}  // namespace ostrel
