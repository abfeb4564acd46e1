// The window program's command line: --help, --version and --replay PATH. Options of one dash
// are Qt's (-platform, -style, ...) and are left to it.
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
    std::string error;  // not empty: the arguments are wrong (exit status 2)
};

CommandLine parseCommandLine(std::span<const std::string_view> args);

// The text of --help and of --version.
std::string usageText();
std::string versionText();

}  // namespace ostrel
