// ostrel-record: records the receiver's data without a display. Ctrl-C and SIGTERM end the
// recording cleanly; a second one ends the program at once. SIGUSR1 and the lines on standard
// input set event markers.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <string_view>
#include <vector>

#include "app/record_options.h"
#include "app/recorder.h"
#include "usb/program_name.h"

namespace {

std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Counts: the first ends the recording after its cycle in progress, the second at once.
void onInterrupt(int) {
    interrupted.fetch_add(1);
}

// Each sets an unlabelled marker.
std::atomic<int> markerSignals{0};
void onMarkerSignal(int) {
    markerSignals.fetch_add(1);
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = onMarkerSignal;
    sigaction(SIGUSR1, &action, nullptr);
}

}  // namespace

int main(int argc, char **argv) {
    using namespace ostrel::record;
    ostrel::setUsbProgramName("ostrel-record");
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parseRecordOptions(args);
    if (!parsed.options) {
        std::cerr << parsed.error;
        return kStatusUsage;
    }
    RecorderIo io{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, &interrupted};
    if (parsed.options->help || parsed.options->version) {
        std::cout << (parsed.options->help ? recordUsage() : recordVersion());
        return kStatusOk;
    }
    if (parsed.options->list) return listModules(io);
    installSignalHandlers();
    io.markerSignals = &markerSignals;
    // A script's pipe (or a file) sets markers; a terminal only when asked for.
    if (parsed.options->markersFromStdin || ::isatty(STDIN_FILENO) != 1) io.markerInput = 0;
    return runRecording(*parsed.options, io);
}
