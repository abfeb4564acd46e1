// Internal to ostrel-convert's run: how its messages begin.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "recording/convert_command.h"

namespace ostrel::recording::convert_detail {

inline constexpr std::string_view kProgram = "ostrel-convert";

// Prints a usage error in the words of every usage error of the programs ("Try ... for more
// information.") and returns the usage status.
inline int usageError(std::ostream &err, const std::string &what) {
    err << kProgram << ": " << what << "\nTry '" << kProgram << " --help' for more information.\n";
    return kConvertUsage;
}

}  // namespace ostrel::recording::convert_detail
