// A log file as the program must write it: the two header lines ("Time-Base: <µs>us" and
// the separators, then the column names), every line ended by CR LF, records of unsigned
// words 0..65535 joined by the separator, whole cycles only; and, given the simulated module
// that sent them, records that are frames of its signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_config.h"

namespace ostrel::test {

std::string readFile(const std::filesystem::path &file);

// The lines of a text without their CR LF; `problem` tells the first line end that is not
// CR LF (a bare LF, a last line without one), empty when there is none.
struct LogLines {
    std::vector<std::string> lines;
    std::string problem;
};
LogLines splitLogLines(const std::string &text);

// The column names of the header of telemetry type `type`.
std::vector<std::string> logColumnNames(int type);

struct LogFileExpectation {
    int type = 1;  // the telemetry type: columns, words per record, records per cycle
    char separator = ',';
    std::string timeBase{};  // as written, "637.50"; empty: any number with two decimals
    // The module that sent the words: each record must be a frame of its signal, each one
    // the frame after the record before it unless `gapsAllowed` (then in order, with skips).
    std::optional<sim::ModuleConfig> module{};
    bool gapsAllowed = false;
};

struct LogFileCheck {
    std::vector<std::string> problems;  // empty: the file is as expected
    std::size_t records = 0;
    std::size_t cycles = 0;
    std::size_t gaps = 0;                // places where the records skip frames of the signal
    std::optional<uint64_t> firstFrame;  // the frame of the signal the first record is
    bool ok() const { return problems.empty(); }
    std::string text() const;  // the problems, one a line
};

// Checks the log file; the first problem found ends the check.
LogFileCheck checkLogFile(const std::filesystem::path &file, const LogFileExpectation &expected);

}  // namespace ostrel::test
