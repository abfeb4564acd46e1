// ostrel-convert: converts a recording to CSV or summarises it (see --help). No Qt: the
// whole run is ostrel::recording::runConvert.
#include <iostream>
#include <string_view>
#include <vector>

#include "recording/convert_command.h"

int main(int argc, char **argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return ostrel::recording::runConvert(args, std::cout, std::cerr);
}
