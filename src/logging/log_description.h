// The description beside a log file (jex-log-<stamp>.json next to jex-log-<stamp>.dat):
// written when START creates the log file, completed when the log file closes. Both writes
// happen while the acquisition thread is not reading (before it starts, after it has stopped),
// so describing a recording never delays the transfers. A description that cannot be written
// is told once in a posted notice; the log file and the measurement go on.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "recording/recording_description.h"

namespace ostrel {

// Notes how the running measurement ends. The first note since START counts: a STOP after a
// failed write still ends a recording that "write error" ended. Any thread.
void noteMeasurementEnd(recording::MeasurementEnd end);

// Notes the frames the simulated module lost during this measurement. Any thread, before the
// log file closes.
void noteLostFrames(uint64_t frames);

namespace log_description {

// What START knows of the new log file.
struct StartFacts {
    std::string logFilePath;
    std::string module;
    int type = -1;
    int speedKbps = 0;
    double timeBaseMicros = 0;
    char separator = ',';
    std::time_t startTime = 0;
};

// Forgets the notes of the last measurement. START, before the log file is created.
void reset();

// Writes the description of a new log file with the stop fields empty. START, main thread.
void begin(const StartFacts &facts);

// Completes the description of the log file being closed, if one was begun. The thread that
// closes the log file.
void complete(uint64_t cycles, std::time_t stopTime);

}  // namespace log_description

}  // namespace ostrel
