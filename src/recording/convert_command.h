// ostrel-convert's run: a recording (log file) to CSV in raw, percent or physical units, or a
// summary per column. The command line is read by the program (app/convert_options.h); the
// whole conversion lives here, so it is tested without a process.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "recording/conversion.h"

namespace ostrel::recording {

// Exit statuses of ostrel-convert.
inline constexpr int kConvertOk = 0;
inline constexpr int kConvertUsage = 2;      // bad options, or no telemetry type known
inline constexpr int kConvertMalformed = 3;  // a recording (or description) not as written
inline constexpr int kConvertFileError = 4;  // a file that cannot be read or written

// What to convert and how, as the command line gives it.
struct ConvertOptions {
    std::string recording = {};
    std::optional<int> type = {};             // --type; none: the description's
    std::optional<std::string> outPath = {};  // --out; none: the output stream
    Units units = Units::physical;            // --units
    bool summary = false;                     // --summary
};

// Converts as `options` say. The table or summary goes to `out` (or to the --out file),
// messages to `err`. Returns the exit status.
int runConvert(const ConvertOptions &options, std::ostream &out, std::ostream &err);

}  // namespace ostrel::recording
