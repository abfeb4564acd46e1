// STOP at every link speed, headless on real-time simulated modules (8 words a frame): how
// long STOP keeps its caller (the window's answer), how long until START can be pressed again
// when STOP comes right after a cycle was logged (the whole cycle in progress left to complete:
// the worst case), and after a second STOP. Logging on, into a temporary directory.
//
// Output: a table, then "RESULT <kbps> <answer ms> <restart ms> <cycle ms> <second ms>" lines
// and PASS or FAIL against the goals (answer <= 200 ms, restart <= cycle + 100 ms, second
// STOP <= 200 ms).
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "acquisition/measurement.h"
#include "acquisition/measurement_testing.h"
#include "acquisition/module_discovery.h"
#include "display/channel_layout.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"
#include "telemetry/stream_buffers.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace ostrel;

constexpr int kSpeeds[] = {40, 160, 320, 640};
constexpr double kAnswerGoalMs = 200;
constexpr double kRestartSlackMs = 100;
constexpr double kSecondStopGoalMs = 200;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename Pred>
bool waitFor(Pred done, std::chrono::seconds limit = 60s) {
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    return done();
}

bool startOn(const std::string &name) {
    findModules();
    if (ui::setValue(panelHandle, usbinterface, name) != ui::UI_OK) return false;
    return ui::operatorPressButton(panelHandle, meas_start_stop);
}

bool pressStop() {
    return ui::operatorPressButton(panelHandle, meas_start_stop);
}

struct Figures {
    double answerMs = -1;   // STOP returned to its caller
    double restartMs = -1;  // STOP right after a logged cycle -> START usable
    double cycleMs = 0;     // one cycle of the link
    double secondMs = -1;   // a second STOP -> START usable
};

Figures measure(int kbps) {
    Figures f;
    const std::string name = "STOP" + std::to_string(kbps);
    sim::bus().plug(
        sim::parseSimConfig(name + ":words=8,kbps=" + std::to_string(kbps)).modules.at(0));
    // 16 blocks of 256 frames; a frame is 8 words of 12.75 bit times.
    f.cycleMs = 16.0 * 256 * 8 * 12.75 / kbps;
    if (startOn(name) && waitFor([] { return loggedCycles() >= 1; })) {
        const auto stop = Clock::now();
        pressStop();
        f.answerMs = msSince(stop);
        if (waitFor([] { return !measurementBusy(); })) f.restartMs = msSince(stop);
    }
    joinAcquisitionThread();
    if (startOn(name) && waitFor([] { return data_received.load() == 1; })) {
        pressStop();
        const auto second = Clock::now();
        pressStop();
        if (waitFor([] { return !measurementBusy(); })) f.secondMs = msSince(second);
    }
    joinAcquisitionThread();
    sim::bus().unplug(name);
    return f;
}

}  // namespace

int main() {
    setenv("OSTREL_SIM", "", 1);
    std::string pattern = (fs::temp_directory_path() / "ostrel-stop-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    measurement_testing::usePauses({0ms, 1000ms, 500ms});
    panelHandle = ui::loadPanel(mainPanelDescription());
    ui::installControlCallback(panelHandle, meas_start_stop, startstop, nullptr);
    ui::installControlCallback(panelHandle, CH_SLIDE, channel_change, nullptr);
    ui::setValue(panelHandle, LOGPATH, pattern);
    ui::setValue(panelHandle, LOG_STATE, 1);
    startModuleScan();
    bool pass = true;
    std::printf("%-6s %12s %14s %12s %14s\n", "kbps", "answer ms", "restart ms", "cycle ms",
                "2nd STOP ms");
    for (const int kbps : kSpeeds) {
        const Figures f = measure(kbps);
        std::printf("%-6d %12.1f %14.1f %12.1f %14.1f\n", kbps, f.answerMs, f.restartMs, f.cycleMs,
                    f.secondMs);
        std::printf("RESULT %d %.1f %.1f %.1f %.1f\n", kbps, f.answerMs, f.restartMs, f.cycleMs,
                    f.secondMs);
        pass = pass && f.answerMs >= 0 && f.answerMs <= kAnswerGoalMs && f.restartMs >= 0 &&
               f.restartMs <= f.cycleMs + kRestartSlackMs && f.secondMs >= 0 &&
               f.secondMs <= kSecondStopGoalMs;
    }
    endMeasurement();
    DiscardTimer(kAllTimers);
    ui::discardPanel(panelHandle.exchange(0));
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    std::puts(pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
