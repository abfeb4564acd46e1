// The description beside a log file (jex-log-<stamp>.json next to jex-log-<stamp>.dat):
// prepared when START creates the log file, first written by the acquisition thread before its
// first read, completed when the log file closes. No write happens while the acquisition thread
// reads, and none on the GUI thread waits for the disk (the only GUI-thread write, a START
// that failed, is not flushed). A description that cannot be written is told once in a posted
// notice; the log file and the measurement go on. Room for the closing description is set
// aside with the first one, so a disk that fills up still gets told how the recording ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "recording/recording_description.h"

namespace ostrel {

// Notes how the running measurement ends. The first note since START counts (a STOP after a
// failed write still ends a recording that "write error" ended), except that a window closed
// or a signal while a STOP completes its cycle says more than the STOP. Any thread.
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
    std::time_t startTime = 0;                        // wall clock, for the start text
    std::chrono::steady_clock::time_point startedAt;  // monotonic, for the duration
    uint64_t recordsPerCycle = 0;                     // records of one whole cycle
};

// Forgets the notes and markers of the last measurement. START, before the log file is
// created.
void reset();

// Notes a marker of the running measurement; the description lists it from the first update
// whose cycles on disk reach its record. Any thread.
void addMarker(const recording::RecordingMarker &marker);

// Prepares the description of a new log file with the stop fields empty. START, main thread.
void begin(const StartFacts &facts);

// Writes the prepared description, if one was begun and not yet written. The acquisition
// thread, before its first read.
void publishStart();

// Brings the description of the running measurement up to date: `cycles` whole cycles are on
// the disk (flushed), with these gaps; still "running". The log's writer thread, after the
// first description was written, so that a power cut loses at most the last seconds.
void update(uint64_t cycles, const std::vector<recording::LogGap> &gaps);

// Gives up the description of the running measurement: nothing more is written (its log
// file is lost). The log's writer thread.
void abandon();

// Completes the description of the log file being closed, if one was begun: the stop is the
// start plus the monotonic time since (a clock step meanwhile changes nothing). The thread
// that closes the log file; flushed to disk unless that is the GUI thread.
void complete(uint64_t cycles, std::chrono::steady_clock::time_point stoppedAt,
              const std::vector<recording::LogGap> &gaps);

}  // namespace log_description

}  // namespace ostrel
