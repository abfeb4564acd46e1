// ostrel-record's run: the main panel loaded headless, the module, type, speed and log
// settings chosen on it as the operator would, START, a wait that serves messages, STOP, and
// the program state closed again. Main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "app/record_options.h"
#include "ui/headless.h"

namespace ostrel::record {

struct RecorderIo {
    std::ostream &out;      // the module list; the log file's path at the end
    std::ostream &err;      // messages and the progress line
    bool progress = false;  // show the progress line (a terminal)
    // Counts SIGINT and SIGTERM: the first ends the recording after the cycle in progress,
    // the second at once (the incomplete cycle is not written).
    const std::atomic<int> *interrupt = nullptr;
    // Counts SIGUSR1: each sets an unlabelled marker.
    const std::atomic<int> *markerSignals = nullptr;
    // Lines read from this descriptor set labelled markers while recording; -1: none.
    int markerInput = -1;
};

// Prints the modules, one a line. kStatusModule when the module library cannot be used.
int listModules(RecorderIo &io);

// Records as `options` say; returns the exit status.
int runRecording(const RecordOptions &options, RecorderIo &io);

// "00:01:05  12 cycles  3.1 MB  0.05 MB/s": elapsed time, cycles written, bytes, rate.
std::string progressLine(double elapsedSeconds, uint64_t cycles, uint64_t bytes);

// The exit status the messages of a recording call for: the first failure's, else
// kStatusOverrun when data were left out (the disk or the receiver did not keep up), else
// kStatusOk.
Status statusOf(const std::vector<ui::RecordedMessage> &messages);

}  // namespace ostrel::record
