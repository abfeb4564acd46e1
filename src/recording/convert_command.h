// ostrel-convert: a recording (log file) to CSV in raw, percent or physical units, or a
// summary per column. The whole run lives here, so it is tested without a process; the
// executable's main only hands it argv, stdout and stderr.
#pragma once

#include <ostream>
#include <span>
#include <string_view>

namespace ostrel::recording {

// Exit statuses of ostrel-convert.
inline constexpr int kConvertOk = 0;
inline constexpr int kConvertUsage = 2;      // bad options, or no telemetry type known
inline constexpr int kConvertMalformed = 3;  // a recording (or description) not as written
inline constexpr int kConvertFileError = 4;  // a file that cannot be read or written

// Runs ostrel-convert with `args` (the arguments after the program name). The table or
// summary goes to `out` (or to the --out file), messages to `err`. Returns the exit status.
int runConvert(std::span<const std::string_view> args, std::ostream &out, std::ostream &err);

}  // namespace ostrel::recording
