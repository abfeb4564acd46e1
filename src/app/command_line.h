// The window program's command line: --help, --version and --replay PATH. Arguments of one
// dash but "-h" are Qt's (-platform offscreen, -style fusion, ...) and left to it, wherever
// they stand; so are the arguments that are not options (the values of Qt's options).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ostrel {

struct CommandLine {
    bool help = false;
    bool version = false;
    std::optional<std::string> replayPath;
    std::string error;  // not empty: the message for stderr; the arguments are wrong (status 2)
};

// Parses the arguments after the program's name (not thread-safe: see app/option_parser.h).
CommandLine parseCommandLine(std::span<const std::string_view> args);

// The text of --help and of --version.
std::string usageText();
std::string versionText();

}  // namespace ostrel
