// The command line of ostrel-convert: the recording, what to convert it to, and where.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "recording/convert_command.h"

namespace ostrel::convert {

struct ParsedOptions {
    bool help = false;
    bool version = false;
    recording::ConvertOptions options;  // when neither help, version nor an error
    std::string error;                  // not empty: the message for stderr (status 2)
};

// Parses the arguments after the program name (not thread-safe: see app/option_parser.h).
ParsedOptions parseConvertOptions(std::span<const std::string_view> args);

// The texts of --help and of --version.
std::string convertUsage();
std::string convertVersion();

}  // namespace ostrel::convert
