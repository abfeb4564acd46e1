#include "logging/log_description.h"

#include <atomic>
#include <optional>

#include "logging/log_file.h"
#include "logging/log_header.h"
#include "telemetry/tables.h"
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

// The description of the open log file. Written by begin (START, before the acquisition
// thread exists) and by complete (once that thread has stopped, or on it after its last
// read): the phases never overlap, as for the log file itself. Never deleted.
struct OpenDescription {
    bool active = false;
    std::string path;
    recording::RecordingDescription description;
};

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

void write(OpenDescription &open) {
    const std::string error =
        recording::writeFileAtomically(open.path, recording::describeAsJson(open.description));
    if (!error.empty()) reportDescriptionFailure(open.path, error);
}

std::string baseName(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void noteMeasurementEnd(MeasurementEnd end) {
    int expected = int(MeasurementEnd::running);
    endNoted.compare_exchange_strong(expected, int(end));
}

void noteLostFrames(uint64_t frames) {
    lostFramesNoted = int64_t(frames);
}

namespace log_description {

void reset() {
    endNoted = int(MeasurementEnd::running);
    lostFramesNoted = kNoLostFrames;
}

void begin(const StartFacts &facts) {
    OpenDescription &open = openDescription();
    open.active = true;
    open.path = recording::descriptionPathFor(facts.logFilePath);
    recording::RecordingDescription &d = open.description;
    d = recording::RecordingDescription{};
    d.programVersion = OSTREL_VERSION;
    d.logFile = baseName(facts.logFilePath);
    d.module = facts.module;
    d.typeIndex = facts.type;
    d.typeText = isValidType(facts.type) ? std::string(telemetry_types[facts.type].label) : "";
    d.speedKbps = facts.speedKbps;
    d.timeBaseMicros = facts.timeBaseMicros;
    d.columns = logColumnNames(facts.type);
    d.channelCount = int(d.columns.size());
    d.separator = facts.separator;
    d.startTime = recording::isoLocalTime(facts.startTime);
    write(open);
}

void complete(uint64_t cycles, std::time_t stopTime) {
    OpenDescription &open = openDescription();
    if (!open.active) return;
    open.active = false;
    recording::RecordingDescription &d = open.description;
    d.stopTime = recording::isoLocalTime(stopTime);
    d.cycles = cycles;
    const auto end = MeasurementEnd(endNoted.load());
    d.ended = end == MeasurementEnd::running ? MeasurementEnd::stop : end;
    if (const int64_t lost = lostFramesNoted.load(); lost != kNoLostFrames) {
        d.lostFrames = uint64_t(lost);
    }
    write(open);
}

}  // namespace log_description

}  // namespace ostrel
