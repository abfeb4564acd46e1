// Ostrel's entry: answer --help and --version on the terminal, or start Qt, run the main
// panel and end with status 0. Without a display it says so and ends with kStatusNoDisplay.
// SIGTERM, SIGHUP and SIGINT close the window as its close button does.
//
// main owns the QApplication and the front end. The front end is shut down on
// this (the GUI) thread before the QApplication goes: messages still waiting
// are acknowledged and the windows dropped, so a worker that still holds the
// front end never reaches a Qt object.
#include <QApplication>
#include <QSocketNotifier>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/option_parser.h"
#include "app/replay.h"
#include "app/runtime_directory.h"
#include "app/startup.h"
#include "app/window_signals.h"
#include "ui/frontend.h"
#include "ui/qt/qt_frontend.h"

namespace {

constexpr int kStatusNoDisplay = 1;

// The replay asked for: its module plugged, or the problem to show (also on stderr).
ostrel::StartupRequest startupRequest(const ostrel::CommandLine &line) {
    ostrel::StartupRequest request;
    if (!line.replayPath) return request;
    ostrel::ReplayResult replay = ostrel::addReplayModule(*line.replayPath);
    request.replay = replay.setup;
    if (!replay.warning.empty()) {
        std::string lines = replay.warning;
        for (std::size_t at = lines.find('\n'); at != std::string::npos;
             at = lines.find('\n', at + 1)) {
            lines.insert(at + 1, "ostrel: ");
        }
        std::cerr << "ostrel: " << lines << '\n';
        request.notice = replay.warning;
    }
    if (!replay.setup) {
        std::cerr << "ostrel: " << replay.problem << '\n';
        request.problem = replay.problem;
    }
    return request;
}

// The GUI thread serves the signals from the event loop; none without a pipe.
std::unique_ptr<QSocketNotifier> watch(ostrel::WindowSignals &windowSignals) {
    if (windowSignals.readFd() < 0) return nullptr;
    auto watch = std::make_unique<QSocketNotifier>(windowSignals.readFd(), QSocketNotifier::Read);
    QObject::connect(watch.get(), &QSocketNotifier::activated,
                     [&windowSignals] { windowSignals.serve(); });
    return watch;
}

}  // namespace

int main(int argc, char **argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ostrel::CommandLine line = ostrel::parseCommandLine(args);
    if (!line.error.empty()) {
        std::cerr << line.error;
        return ostrel::cli::kUsageStatus;
    }
    if (line.help || line.version) {
        std::cout << (line.help ? ostrel::usageText() : ostrel::versionText());
        return 0;
    }
    if (!ostrel::ui::qt::displayAvailable()) {
        std::cerr << "ostrel: no display found (DISPLAY and WAYLAND_DISPLAY are not set); "
                     "ostrel-record records without a display\n";
        return kStatusNoDisplay;
    }
    ostrel::providePrivateRuntimeDirectory();  // before Qt looks for it
    std::unique_ptr<QApplication> app = ostrel::ui::qt::startApplication(argc, argv);
    if (!app) return kStatusNoDisplay;
    auto frontend = std::make_shared<ostrel::ui::qt::QtFrontend>();
    ostrel::ui::installFrontend(frontend);
    ostrel::WindowSignals windowSignals;
    const std::unique_ptr<QSocketNotifier> signalWatch = watch(windowSignals);
    ostrel::runMainPanel(startupRequest(line));
    frontend->shutdown();
    ostrel::ui::installFrontend(nullptr);
    return 0;
}
