#include "app/command_line.h"

#include <limits>
#include <vector>

#include "app/option_parser.h"

namespace ostrel {

namespace {

constexpr std::string_view kProgram = "ostrel";
constexpr cli::Option kOptions[] = {{"replay", true}};

// Qt's: an argument of one dash and more (-platform, -style=fusion), but "-" and "-h".
bool isQtArgument(std::string_view arg) {
    return arg.size() > 1 && arg[0] == '-' && arg[1] != '-' && arg != "-h";
}

}  // namespace

CommandLine parseCommandLine(std::span<const std::string_view> args) {
    std::vector<std::string_view> ours;
    for (const std::string_view arg : args) {
        if (!isQtArgument(arg)) ours.push_back(arg);
    }
    CommandLine line;
    const cli::Grammar grammar{kProgram, kOptions, std::numeric_limits<std::size_t>::max()};
    const cli::ParsedArguments parsed =
        cli::parseArguments(grammar, ours, [&line](std::string_view, std::string_view path) {
            if (path.empty()) return std::string("--replay needs the path of a recording");
            line.replayPath = std::string(path);
            return std::string();
        });
    line.help = parsed.help;
    line.version = parsed.version;
    line.error = parsed.error;
    return line;
}

std::string usageText() {
    return "Usage: ostrel [--replay PATH] [--help] [--version]\n"
           "\n"
           "Shows and records the data of a USB telemetry receiver: pick a module, a telemetry\n"
           "type and a speed, press START.\n"
           "\n"
           "Options:\n"
           "  --replay PATH  add a module that plays the recording PATH back (a jex-log-*.dat\n"
           "                 file), at the top of the module ring, with its type and speed\n"
           "                 chosen\n"
           "  --help         show this text and exit\n"
           "  --version      show the version and exit\n"
           "\n"
           "Environment:\n"
           "  OSTREL_SIM             the simulated modules, e.g. 'RX-1:words=16,kbps=320' or\n"
           "                         'PLAY:file=/path/jex-log-....dat,loop=1'\n"
           "  OSTREL_MODULE_LIBRARY  a module library for real receivers (a shared library)\n"
           "\n"
           "Files: log_path.dat in the working directory remembers the log directory (default:\n"
           "the home directory); every START with logging on writes jex-log-<stamp>.dat and its\n"
           "description jex-log-<stamp>.json there.\n"
           "\n"
           "Related programs: ostrel-record (records without a display), ostrel-convert\n"
           "(converts a recording to engineering units).\n";
}

std::string versionText() {
    return cli::versionText(kProgram);
}

}  // namespace ostrel
