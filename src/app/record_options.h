// The command line of ostrel-record: what to record, for how long, and where.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/option_parser.h"
#include "app/replay.h"

namespace ostrel::record {

// Exit statuses of ostrel-record. An interrupted recording (Ctrl-C, SIGTERM) is a success:
// its file holds whole cycles and its description is complete.
enum Status : int {
    kStatusOk = 0,
    kStatusUsage = cli::kUsageStatus,  // bad options
    kStatusModule = 3,      // no such module, it cannot be opened, not in sync, no memory
    kStatusTransfer = 4,    // "Data transfer error from USB module"
    kStatusLogPath = 5,     // the log directory or the log file ("Path Error")
    kStatusWriteError = 6,  // writing the log file failed during the recording ("Log Error")
    kStatusOverrun = 7,     // data left out: the disk or the receiver did not keep up
    kStatusNoCycle = 8,     // the recording ended before a whole cycle was written
};

struct RecordOptions {
    bool help = false;
    bool version = false;
    bool list = false;
    std::string module;
    int type = -1;                         // telemetry type 0..9; -1: not given
    int speedIndex = -1;                   // 0..3 (40, 160, 320, 640 kbps); -1: not given
    int separator = 1;                     // 1 comma, 2 tab (the File-Sep. ring's values)
    std::optional<std::string> directory;  // none: the window's log directory
    std::optional<double> seconds;
    std::optional<uint64_t> cycles;
    bool markersFromStdin = false;  // read marker lines also from a terminal
};

struct ParsedOptions {
    std::optional<RecordOptions> options;
    std::string error;  // when options is empty: the message for stderr (status 2)
};

// Parses the arguments after the program name (not thread-safe: see app/option_parser.h).
ParsedOptions parseRecordOptions(std::span<const std::string_view> args);

// Completes the type and speed once the module is known: a playback module's come from its
// recording (`recorded`), and a --type or --speed that contradicts them is refused; otherwise
// both must have been given (steering types: 640 kbps). The message for stderr (status 2), or
// none.
std::optional<std::string> settleTypeAndSpeed(RecordOptions &options,
                                              const std::optional<ReplaySetup> &recorded);

// The texts of --help and of --version.
std::string recordUsage();
std::string recordVersion();

}  // namespace ostrel::record
