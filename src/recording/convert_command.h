// ostrel-convert's run: a recording (log file) to CSV, MATLAB or HDF5 in raw, percent or
// physical units, or a summary per column. The command line is read by the program
// (app/convert_options.h); the whole conversion lives here, so it is tested without a process.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "recording/conversion.h"

namespace ostrel::recording {

// Exit statuses of ostrel-convert.
inline constexpr int kConvertOk = 0;
inline constexpr int kConvertUsage = 2;      // bad options, or no telemetry type known
inline constexpr int kConvertMalformed = 3;  // a recording (or description) not as written
inline constexpr int kConvertFileError = 4;  // a file that cannot be read or written

// What the table is written as: CSV text, a MATLAB 7.3 file, or an HDF5 file.
enum class Format { csv, mat, hdf5 };

// "csv", "mat", "hdf5"; nullopt for any other text.
std::optional<Format> formatFromName(std::string_view name);
std::string_view formatName(Format format);

// What to convert and how, as the command line gives it.
struct ConvertOptions {
    std::string recording = {};
    std::optional<int> type = {};             // --type; none: the description's
    std::optional<std::string> outPath = {};  // --out; none: the output stream
    Units units = Units::physical;            // --units
    bool summary = false;                     // --summary
    Format format = Format::csv;              // --format; mat and hdf5 need outPath
};

// Converts as `options` say. The table or summary goes to `out` (or to the --out file),
// messages to `err`. Returns the exit status.
int runConvert(const ConvertOptions &options, std::ostream &out, std::ostream &err);

}  // namespace ostrel::recording
