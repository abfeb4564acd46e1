#include "app/record_options.h"

#include <charconv>
#include <cmath>

#include "app/option_parser.h"
#include "app/replay.h"
#include "recording/type_names.h"
#include "telemetry/tables.h"

namespace ostrel::record {

namespace {

// Longest recording --seconds accepts: a year.
constexpr double kMaxSeconds = 366.0 * 24 * 3600;

std::optional<double> parseSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (!std::isfinite(value) || value <= 0 || value > kMaxSeconds) return std::nullopt;
    return value;
}

std::optional<uint64_t> parseCount(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value == 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> speedIndexOf(std::string_view text) {
    for (int s = 0; s < speed_count; ++s) {
        const std::string kbps = std::to_string(telemetry_speeds[s].item_value);
        if (text == kbps || text == kbps + "kbps") return s;
    }
    return std::nullopt;
}

constexpr std::string_view kProgram = "ostrel-record";
constexpr cli::Option kOptions[] = {
    {"module", true},    {"type", true},  {"speed", true},
    {"separator", true}, {"dir", true},   {"seconds", true},
    {"cycles", true},    {"list", false}, {"markers-from-stdin", false},
};

// Keeps the value of option `name` (one of kOptions); what is wrong with it, or empty.
std::string applyOption(std::string_view name, std::string_view value, RecordOptions &options) {
    if (name == "module") {
        if (value.empty()) return "--module needs a module name (--list shows them)";
        options.module = std::string(value);
    } else if (name == "type") {
        const std::optional<int> type = recording::telemetryTypeFromName(value);
        if (!type) return "unknown telemetry type \"" + std::string(value) + "\" (see --help)";
        options.type = *type;
    } else if (name == "speed") {
        const std::optional<int> speed = speedIndexOf(value);
        if (!speed) return "--speed must be 40, 160, 320 or 640 (kbps)";
        options.speedIndex = *speed;
    } else if (name == "separator") {
        if (value != "comma" && value != "tab") return "--separator must be comma or tab";
        options.separator = value == "comma" ? 1 : 2;
    } else if (name == "dir") {
        if (value.empty()) return "--dir needs a directory";
        options.directory = std::string(value);
    } else if (name == "seconds") {
        options.seconds = parseSeconds(value);
        if (!options.seconds) {
            return "--seconds must be a number of seconds above 0 and at most a year (" +
                   std::to_string(std::int64_t(kMaxSeconds)) + ")";
        }
    } else if (name == "cycles") {
        options.cycles = parseCount(value);
        if (!options.cycles) return "--cycles must be a whole number above 0";
    } else if (name == "markers-from-stdin") {
        options.markersFromStdin = true;
    } else {
        options.list = true;
    }
    return {};
}

// The choices that only make sense together.
std::optional<std::string> checkComplete(const RecordOptions &options) {
    if (options.help || options.version || options.list) return std::nullopt;
    if (options.module.empty()) return "--module is missing (--list shows the modules)";
    if (options.seconds.has_value() == options.cycles.has_value()) {
        return "give either --seconds or --cycles";
    }
    return std::nullopt;
}

std::string kbpsText(int speedIndex) {
    return std::to_string(telemetry_speeds[speedIndex].item_value);
}

// Takes the type and speed of the recording a playback module plays: the records it streams
// are frames of that type, and the time base of the log follows from that speed.
std::optional<std::string> takeRecorded(RecordOptions &options, const ReplaySetup &recorded) {
    const auto name = [](int type) { return std::string(recording::shortTypeName(type)); };
    if (options.type >= 0 && options.type != recorded.type) {
        return "--type " + name(options.type) +
               " contradicts the recording played back, which is " + name(recorded.type);
    }
    options.type = recorded.type;
    if (isSteeringType(options.type)) return std::nullopt;
    if (!recorded.speedIndex) {
        return "the recording played back was made at " + std::to_string(recorded.kbps) +
               " kbps, which is not a speed of the receiver (40, 160, 320 or 640)";
    }
    if (options.speedIndex >= 0 && options.speedIndex != *recorded.speedIndex) {
        return "--speed " + kbpsText(options.speedIndex) +
               " contradicts the recording played back, which was made at " +
               kbpsText(*recorded.speedIndex) + " kbps";
    }
    options.speedIndex = *recorded.speedIndex;
    return std::nullopt;
}

}  // namespace

ParsedOptions parseRecordOptions(std::span<const std::string_view> args) {
    RecordOptions options;
    const cli::Grammar grammar{kProgram, kOptions, 0};
    const cli::ParsedArguments parsed = cli::parseArguments(
        grammar, args, [&options](std::string_view name, std::string_view value) {
            return applyOption(name, value, options);
        });
    if (!parsed.error.empty()) return {std::nullopt, parsed.error};
    options.help = parsed.help;
    options.version = parsed.version;
    if (auto problem = checkComplete(options)) {
        return {std::nullopt, cli::usageMessage(kProgram, *problem)};
    }
    return {options, ""};
}

std::optional<std::string> settleTypeAndSpeed(RecordOptions &options,
                                              const std::optional<ReplaySetup> &recorded) {
    if (recorded) {
        if (auto problem = takeRecorded(options, *recorded)) {
            return cli::usageMessage(kProgram, *problem);
        }
    }
    std::optional<std::string> problem;
    if (options.type < 0) {
        problem = "--type is missing";
    } else if (isSteeringType(options.type)) {
        if (options.speedIndex >= 0 && options.speedIndex != steering_speed_index) {
            problem = "steering types run at 640 kbps";
        }
        options.speedIndex = steering_speed_index;
    } else if (options.speedIndex < 0) {
        problem = "--speed is missing";
    }
    if (problem) return cli::usageMessage(kProgram, *problem);
    return std::nullopt;
}

std::string recordUsage() {
    std::string types;
    for (int t = 0; t < telemetry_type_count; ++t) {
        types += "                     " + std::string(recording::shortTypeName(t)) + "  \"" +
                 std::string(telemetry_types[t].label) + "\"\n";
    }
    return "Usage: ostrel-record --module NAME --type TYPE --speed KBPS [--separator comma|tab]\n"
           "                     [--dir DIR] (--seconds S | --cycles N) [--markers-from-stdin]\n"
           "       ostrel-record --list\n"
           "       ostrel-record --help | --version\n"
           "\n"
           "Records the receiver's data without a display, through the same acquisition path\n"
           "and log writer as the window: a new log file jex-log-<stamp>.dat and its\n"
           "description jex-log-<stamp>.json in the log directory. The path of the log file\n"
           "is printed on standard output when the recording ends.\n"
           "\n"
           "Options:\n"
           "  --module NAME       the receiver module (as --list shows it)\n"
           "  --type TYPE         the telemetry type, by its short name or the type ring's "
           "text:\n" +
           types +
           "  --speed KBPS        link speed: 40, 160, 320 or 640 (steering types: 640, the\n"
           "                      default for them)\n"
           "                      A module that plays a recording back (OSTREL_SIM's\n"
           "                      file=REC) takes the type and speed of the recording; a\n"
           "                      --type or --speed that differs from them is refused.\n"
           "  --separator SEP     comma (default) or tab between the words of a record\n"
           "  --dir DIR           the log directory (default: the window's, else the home\n"
           "                      directory)\n"
           "  --seconds S         record S seconds from the start (whole cycles only)\n"
           "  --cycles N          record N whole cycles\n"
           "  --markers-from-stdin  set a marker for each line read on standard input, also\n"
           "                      when it is a terminal (it is read whenever it is not)\n"
           "  --list              list the modules and exit\n"
           "  --help              show this text and exit\n"
           "  --version           show the version and exit\n"
           "\n"
           "On a terminal a progress line shows elapsed time, cycles, bytes and rate once a\n"
           "second. Ctrl-C or SIGTERM ends the recording cleanly: whole cycles, file and module\n"
           "closed, the description completed (a second Ctrl-C stops at once, without the\n"
           "cycle in progress).\n"
           "\n"
           "Event markers: each line read on standard input (when it is not a terminal, or\n"
           "with --markers-from-stdin) sets a marker labelled with the line; SIGUSR1 sets an\n"
           "unlabelled one. The description lists them (number, record, time, wall clock).\n"
           "\n"
           "Environment: OSTREL_SIM (simulated modules), OSTREL_MODULE_LIBRARY (a module\n"
           "library for real receivers).\n"
           "\n"
           "Exit status: 0 recorded (also after Ctrl-C), 2 bad options, 3 module problem\n"
           "(no such module, \"Can't open USB module\", \"Telemetry not in sync\"), 4 \"Data\n"
           "transfer error from USB module\", 5 log directory or log file (\"Path Error\"),\n"
           "6 writing the log file failed (\"Log Error\"), 7 data left out (\"Log Overrun\",\n"
           "\"Receiver Overrun\"; the description lists the gaps), 8 no whole cycle written.\n";
}

std::string recordVersion() {
    return cli::versionText(kProgram);
}

}  // namespace ostrel::record
