#include "app/command_line.h"

#ifndef OSTREL_VERSION
#define OSTREL_VERSION "unknown"
#endif

namespace ostrel {

CommandLine parseCommandLine(std::span<const std::string_view> args) {
    CommandLine line;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string_view arg = args[k];
        if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--replay" || arg.starts_with("--replay=")) {
            std::string_view path;
            if (arg == "--replay") {
                if (k + 1 >= args.size()) {
                    line.error = "--replay needs the path of a recording";
                    return line;
                }
                path = args[++k];
            } else {
                path = arg.substr(std::string_view("--replay=").size());
            }
            if (path.empty()) {
                line.error = "--replay needs the path of a recording";
                return line;
            }
            line.replayPath = std::string(path);
        } else if (arg.starts_with("--")) {
            line.error = "unknown option " + std::string(arg);
            return line;
        }
    }
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
    return std::string("ostrel ") + OSTREL_VERSION + "\n";
}

}  // namespace ostrel
