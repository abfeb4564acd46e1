#include "support/log_file_check.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "sim/signal_table.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace ostrel::test {

namespace fs = std::filesystem;

std::string readFile(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

LogLines splitLogLines(const std::string &text) {
    LogLines result;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const bool crlf = end < text.size() && end > pos && text[end - 1] == '\r';
        if (!crlf && result.problem.empty())
            result.problem = "a line without CR LF at byte " + std::to_string(pos);
        result.lines.push_back(text.substr(pos, end - pos - (crlf ? 1 : 0)));
        pos = end + 1;
    }
    return result;
}

std::vector<std::string> logColumnNames(int type) {
    std::vector<std::string> names;
    if (isPlainType(type)) {
        for (int k = 1; k <= number_of_channels[type]; ++k)
            names.push_back("Ch" + std::to_string(k));
        return names;
    }
    const bool a = hasAccelerations(type);
    const std::vector<std::string> group = {
        "Torque low",        "Torque high",        "Angle low",         "Angle high",
        "Speed low",         "Speed high",         a ? "X-Accel" : "-", a ? "Y-Accel" : "-",
        a ? "Z-Accel" : "-", a ? "Ang-Accel" : "-"};
    for (int g = 0; g < 3; ++g) names.insert(names.end(), group.begin(), group.end());
    names.insert(names.end(), {"-", "-"});
    return names;
}

std::string LogFileCheck::text() const {
    std::string all;
    for (const std::string &problem : problems) all += problem + "\n";
    return all;
}

namespace {

// Parses a record of exactly `words` unsigned decimals 0..65535 joined by `separator`.
bool parseRecord(const std::string &line, char separator, std::vector<uint16_t> &fields) {
    const std::size_t words = fields.size();
    std::size_t field = 0;
    uint32_t value = 0;
    int digits = 0;
    for (std::size_t k = 0; k <= line.size(); ++k) {
        const char c = k < line.size() ? line[k] : separator;
        if (c >= '0' && c <= '9') {
            value = value * 10 + uint32_t(c - '0');
            if (++digits > 5 || value > 65535) return false;
        } else if (c == separator && digits > 0 && field < words) {
            fields[field++] = uint16_t(value);
            value = 0;
            digits = 0;
        } else {
            return false;
        }
    }
    return field == words;
}

bool headerMatches(const std::vector<std::string> &lines, const LogFileExpectation &expected) {
    const std::vector<std::string> names = logColumnNames(expected.type);
    const std::string separators(names.size() - 1, expected.separator);
    std::string columns;
    for (const std::string &name : names)
        columns += (columns.empty() ? "" : std::string(1, expected.separator)) + name;
    if (lines.size() < 2 || lines[1] != columns) return false;
    if (!expected.timeBase.empty())
        return lines[0] == "Time-Base: " + expected.timeBase + "us" + separators;
    return std::regex_match(lines[0], std::regex("Time-Base: \\d+\\.\\d\\dus" + separators));
}

}  // namespace

LogFileCheck checkLogFile(const fs::path &file, const LogFileExpectation &expected) {
    LogFileCheck result;
    const std::string where = file.filename().string() + ": ";
    const LogLines read = splitLogLines(readFile(file));
    if (!read.problem.empty()) {
        result.problems.push_back(where + read.problem);
        return result;
    }
    if (!headerMatches(read.lines, expected)) {
        result.problems.push_back(where + "the header lines are not the expected ones: \"" +
                                  (read.lines.empty() ? "" : read.lines[0].substr(0, 80)) + "\"");
        return result;
    }
    const int words = number_of_channels[expected.type];
    const sim::ModuleConfig *module = expected.module ? &*expected.module : nullptr;
    if (module != nullptr && module->wordsPerFrame != words) {
        result.problems.push_back(where + "module and type disagree");
        return result;
    }
    const std::optional<sim::SignalTable> signal =
        module ? std::optional<sim::SignalTable>(*module) : std::nullopt;
    auto matches = [&](uint64_t frame, const std::vector<uint16_t> &fields) {
        for (int w = 0; w < words; ++w) {
            if (signal->word(frame % sim::SignalTable::kFrames, w) != fields[std::size_t(w)])
                return false;
        }
        return true;
    };

    std::vector<uint16_t> fields(std::size_t(words), 0);
    std::optional<uint64_t> next;  // the frame the next record should be
    for (std::size_t line = 2; line < read.lines.size(); ++line, ++result.records) {
        const std::string what = where + "record " + std::to_string(result.records);
        if (!parseRecord(read.lines[line], expected.separator, fields)) {
            result.problems.push_back(what + " is malformed: \"" + read.lines[line].substr(0, 80) +
                                      "\"");
            return result;
        }
        if (!signal) continue;
        if (next && matches(*next, fields)) {
            ++*next;
            continue;
        }
        uint64_t frame = 0;
        while (frame < sim::SignalTable::kFrames && !matches(frame, fields)) ++frame;
        if (frame == sim::SignalTable::kFrames) {
            result.problems.push_back(what + " is no frame of the module's signal");
            return result;
        }
        if (next) {
            ++result.gaps;
            if (!expected.gapsAllowed) {
                result.problems.push_back(what + " does not follow the record before it");
                return result;
            }
        } else {
            result.firstFrame = frame;
        }
        next = frame + 1;
    }
    const std::size_t perCycle = std::size_t(framesPerLoggedCycle(expected.type));
    result.cycles = perCycle > 0 ? result.records / perCycle : 0;
    if (perCycle == 0 || result.records % perCycle != 0) {
        result.problems.push_back(where + std::to_string(result.records) +
                                  " records are no whole number of cycles of " +
                                  std::to_string(perCycle));
    }
    return result;
}

}  // namespace ostrel::test
