// ostrel-convert: converts a recording to CSV or summarises it (see --help). No Qt: the
// command line is ostrel::convert::parseConvertOptions, the run ostrel::recording::runConvert.
#include <signal.h>

#include <iostream>
#include <string_view>
#include <vector>

#include "app/convert_options.h"
#include "recording/atomic_file.h"

int main(int argc, char **argv) {
    using namespace ostrel;
    std::ios::sync_with_stdio(false);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const convert::ParsedOptions parsed = convert::parseConvertOptions(args);
    if (!parsed.error.empty()) {
        std::cerr << parsed.error;
        return recording::kConvertUsage;
    }
    if (parsed.help || parsed.version) {
        std::cout << (parsed.help ? convert::convertUsage() : convert::convertVersion());
        std::cout.flush();
        return std::cout ? recording::kConvertOk : recording::kConvertFileError;
    }
    // Ctrl-C, SIGTERM and SIGHUP leave no temporary file of --out behind; a file size limit
    // fails the write with EFBIG ("File too large"), told as any write error, instead of
    // ending the program without a word.
    recording::AtomicFile::removeTemporaryOnSignals();
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
    return recording::runConvert(parsed.options, std::cout, std::cerr);
}
