// The command line of ostrel-record: what to record, for how long, and where.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ostrel::record {

// Exit statuses of ostrel-record. An interrupted recording (Ctrl-C, SIGTERM) is a success:
// its file holds whole cycles and its description is complete.
enum Status : int {
    kStatusOk = 0,
    kStatusUsage = 2,       // bad options
    kStatusModule = 3,      // no such module, it cannot be opened, not in sync, no memory
    kStatusTransfer = 4,    // "Data transfer error from USB module"
    kStatusLogPath = 5,     // the log directory or the log file ("Path Error")
    kStatusWriteError = 6,  // writing the log file failed during the recording ("Log Error")
    kStatusOverrun = 7,     // data left out: the disk or the receiver did not keep up
    kStatusNoCycle = 8,     // the recording ended before a whole cycle was written
};

struct RecordOptions {
    bool help = false;
    bool list = false;
    std::string module;
    int type = -1;                         // telemetry type 0..9
    int speedIndex = -1;                   // 0..3 (40, 160, 320, 640 kbps)
    int separator = 1;                     // 1 comma, 2 tab (the File-Sep. ring's values)
    std::optional<std::string> directory;  // none: the window's log directory
    std::optional<double> seconds;
    std::optional<uint64_t> cycles;
};

struct ParsedOptions {
    std::optional<RecordOptions> options;
    std::string error;  // what is wrong, when options is empty
};

// Parses the arguments after the program name.
ParsedOptions parseRecordOptions(std::span<const std::string_view> args);

// The text of --help.
std::string recordUsage();

}  // namespace ostrel::record
