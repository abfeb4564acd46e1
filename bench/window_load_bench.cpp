// window_load_bench: CPU and memory of the real program window, operated as an operator
// would: idle, then a steering measurement with charts, then closed.
//
//   ninja -C build/default -j2 window_load_bench
//   bench/window_load.sh [BUILD_DIR [SECONDS]]       (under Xvfb; the usual way)
//   build/default/bench/window_load_bench [--replay FILE] [SECONDS]  (needs a display)
//
// It runs the program's window as main does (startApplication, QtFrontend,
// runMainPanel) with the default simulated modules and drives it from timers on the GUI
// thread through the operator functions: SECONDS idle (default 10), then module
// "SIM-STEER", type "Steering Personal Car 100 Nm" (640 kbps), charts on, START,
// SECONDS measuring from the first block, STOP, close. CPU time comes from
// /proc/self/stat (utime + stime) at the phase boundaries, the peak resident memory from
// VmHWM in /proc/self/status. Goals: idle <= 0.2 % of one core, measuring <= 1 %, peak
// RSS <= 100 MB; exit status 0 only when all are met. The threads that used CPU while
// measuring are listed, for finding out where it goes.
//
// With --replay FILE the window plays FILE back instead (as `ostrel --replay FILE` does: its
// module, type and speed chosen at start-up), charts on, for the same phases; the peak
// resident memory then shows what playing a recording costs over measuring live
// (bench/playback_memory.sh compares the two).
#include <dirent.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "app/replay.h"
#include "app/startup.h"
#include "panel/ostrel_panel.h"
#include "telemetry/stream_buffers.h"
#include "ui/frontend.h"
#include "ui/operator_input.h"
#include "ui/panel_state.h"
#include "ui/qt/panel_window.h"
#include "ui/qt/qt_frontend.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char *kModule = "SIM-STEER";
constexpr int kSteeringCar100Nm = 4;  // CH_SLIDE index
constexpr const char *kSteeringLabel = "Steering Personal Car 100 Nm";
constexpr const char *kSteeringSpeed = "640 kbps";  // the steering types force it
constexpr double kIdleGoalPercent = 0.2;
constexpr double kMeasuringGoalPercent = 1.0;
constexpr double kPeakRssGoalMb = 100.0;
constexpr int kDefaultSeconds = 10;
constexpr int kMaxSeconds = 300;
constexpr auto kPoll = 100ms;
constexpr auto kOperatorPause = 250ms;  // between two operator actions
constexpr auto kWaitLimit = 15s;        // for the window, the module, the first block
constexpr auto kWatchdogSlack = 90s;

// ---------------------------------------------------------------------------------------
// /proc readings
// ---------------------------------------------------------------------------------------

// utime + stime of a /proc .../stat line, in clock ticks; -1 when unreadable.
long long cpuTicksOf(const std::string &statPath) {
    std::ifstream in(statPath);
    std::string line;
    if (!std::getline(in, line)) return -1;
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string skipped;
    for (int i = 0; i < 11; ++i) fields >> skipped;  // state .. cmajflt (fields 3..13)
    long long utime = 0;
    long long stime = 0;
    fields >> utime >> stime;
    return fields ? utime + stime : -1;
}

std::string threadName(const std::string &taskDirectory) {
    std::ifstream in(taskDirectory + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// Per thread of this process: name and CPU ticks.
std::map<int, std::pair<std::string, long long>> threadTicks() {
    std::map<int, std::pair<std::string, long long>> threads;
    DIR *tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return threads;
    while (const dirent *entry = ::readdir(tasks)) {
        const int tid = std::atoi(entry->d_name);
        if (tid <= 0) continue;
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        threads[tid] = {threadName(dir), cpuTicksOf(dir + "/stat")};
    }
    ::closedir(tasks);
    return threads;
}

double peakResidentMb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return -1.0;
}

// Points plotted on CHART since the panel was loaded; 0 without a panel.
uint64_t chartPoints() {
    const auto chart = ostrel::ui::controlState(ostrel::panelHandle, ostrel::CHART);
    return chart ? chart->chart.total : 0;
}

struct Sample {
    Clock::time_point when;
    long long ticks = 0;
    std::map<int, std::pair<std::string, long long>> threads;
    uint64_t chartPoints = 0;
};

Sample sampleNow() {
    return {Clock::now(), cpuTicksOf("/proc/self/stat"), threadTicks(), chartPoints()};
}

double ticksToSeconds(long long ticks) {
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

double cpuPercent(const Sample &from, const Sample &to) {
    const double wall = std::chrono::duration<double>(to.when - from.when).count();
    return wall > 0 ? 100.0 * ticksToSeconds(to.ticks - from.ticks) / wall : 0.0;
}

// ---------------------------------------------------------------------------------------
// The operator: a sequence of steps on the GUI thread, each started by a timer.
// ---------------------------------------------------------------------------------------

class Operator {
  public:
    Operator(std::chrono::seconds phase, std::optional<std::string> replayModule)
        : phase_(phase), replayModule_(std::move(replayModule)) {}

    void begin() {
        waitUntil([] { return windowShown(); }, "the window", [this] { idle(); });
    }

    bool finished() const { return finished_; }
    const std::string &failure() const { return failure_; }
    const Sample &idleFrom() const { return idleFrom_; }
    const Sample &idleTo() const { return idleTo_; }
    const Sample &measureFrom() const { return measureFrom_; }
    const Sample &measureTo() const { return measureTo_; }

  private:
    static bool windowShown() {
        auto frontend =
            std::dynamic_pointer_cast<ostrel::ui::qt::QtFrontend>(ostrel::ui::currentFrontend());
        const auto *window = frontend ? frontend->windowOf(ostrel::panelHandle) : nullptr;
        return window != nullptr && window->isVisible();
    }
    static int panel() { return ostrel::panelHandle; }
    static int moduleIndex() {
        const auto ring = ostrel::ui::controlState(panel(), ostrel::usbinterface);
        return ring ? ring->itemIndexOf(kModule) : -1;
    }
    bool replayChosen() const {
        const auto ring = ostrel::ui::controlState(panel(), ostrel::usbinterface);
        return ring && ring->selectedLabel() == *replayModule_;
    }

    // Polls `done` every kPoll; then runs `next`, or fails after kWaitLimit.
    void waitUntil(std::function<bool()> done, std::string what, std::function<void()> next,
                   Clock::time_point deadline = Clock::now() + kWaitLimit) {
        if (done()) {
            next();
        } else if (Clock::now() > deadline) {
            fail("timed out waiting for " + what);
        } else {
            QTimer::singleShot(kPoll, [=, this] { waitUntil(done, what, next, deadline); });
        }
    }
    void after(std::chrono::milliseconds pause, std::function<void()> step) {
        QTimer::singleShot(pause, std::move(step));
    }
    void fail(const std::string &why) {
        failure_ = why;
        closeWindow();
    }

    void idle() {
        idleFrom_ = sampleNow();
        after(phase_, [this] {
            idleTo_ = sampleNow();
            if (replayModule_) {
                waitUntil([this] { return replayChosen(); }, "module " + *replayModule_,
                          [this] { chartsOn(); });
                return;
            }
            waitUntil([] { return moduleIndex() >= 0; }, std::string("module ") + kModule,
                      [this] { selectModule(); });
        });
    }
    void selectModule() {
        if (!ostrel::ui::operatorSelectRingItem(panel(), ostrel::usbinterface, moduleIndex()))
            return fail("selecting the module was refused");
        after(kOperatorPause, [this] { selectType(); });
    }
    void selectType() {
        if (!ostrel::ui::operatorSelectRingItem(panel(), ostrel::CH_SLIDE, kSteeringCar100Nm))
            return fail("selecting the type was refused");
        const auto type = ostrel::ui::controlState(panel(), ostrel::CH_SLIDE);
        if (!type || type->selectedLabel() != kSteeringLabel)
            return fail("the type ring does not show " + std::string(kSteeringLabel));
        const auto speed = ostrel::ui::controlState(panel(), ostrel::SPEED_SLIDE);
        if (!speed || speed->selectedLabel() != kSteeringSpeed)
            return fail("the speed ring does not show " + std::string(kSteeringSpeed));
        after(kOperatorPause, [this] { chartsOn(); });
    }
    void chartsOn() {
        if (!ostrel::ui::operatorSetSwitch(panel(), ostrel::CHARTSSWITCH, 1))
            return fail("switching the charts on was refused");
        after(kOperatorPause, [this] { start(); });
    }
    void start() {
        if (!ostrel::ui::operatorPressButton(panel(), ostrel::meas_start_stop))
            return fail("START was refused");
        waitUntil([] { return ostrel::data_received.load() == 1; }, "the first block",
                  [this] { measure(); });
    }
    void measure() {
        measureFrom_ = sampleNow();
        after(phase_, [this] {
            measureTo_ = sampleNow();
            stop();
        });
    }
    void stop() {
        if (!ostrel::ui::operatorPressButton(panel(), ostrel::meas_start_stop))
            return fail("STOP was refused");
        finished_ = true;
        after(kOperatorPause, [this] { closeWindow(); });
    }
    // The window's close button; retried while input is held off (a message is up).
    void closeWindow() {
        if (!ostrel::ui::operatorClosePanel(panel())) after(kPoll, [this] { closeWindow(); });
    }

    const std::chrono::seconds phase_;
    const std::optional<std::string> replayModule_;  // the recording's module when playing
    bool finished_ = false;
    std::string failure_;
    Sample idleFrom_, idleTo_, measureFrom_, measureTo_;
};

// ---------------------------------------------------------------------------------------
// Report
// ---------------------------------------------------------------------------------------

bool printGoal(const char *what, double value, double goal, const char *unit) {
    const bool met = value >= 0 && value <= goal;
    std::printf("%-32s %8.2f %-9s goal <= %6.1f %-9s %s\n", what, value, unit, goal, unit,
                met ? "PASS" : "FAIL");
    return met;
}

void printBusyThreads(const Sample &from, const Sample &to) {
    const double wall = std::chrono::duration<double>(to.when - from.when).count();
    std::printf("threads while measuring (CPU %% of one core):\n");
    for (const auto &[tid, thread] : to.threads) {
        const auto before = from.threads.find(tid);
        const long long start = before == from.threads.end() ? 0 : before->second.second;
        const long long used = thread.second - start;
        if (used <= 0) continue;
        const std::string name = tid == ::getpid() ? "GUI (main)" : thread.first;
        std::printf("  %-16s tid %-7d %6.2f %%\n", name.c_str(), tid,
                    100.0 * ticksToSeconds(used) / wall);
    }
}

int report(const Operator &op, const std::string &what) {
    if (!op.failure().empty() || !op.finished()) {
        std::printf("FAIL: %s\n",
                    op.failure().empty() ? "the run did not finish" : op.failure().c_str());
        return 1;
    }
    const double idle = cpuPercent(op.idleFrom(), op.idleTo());
    const double measuring = cpuPercent(op.measureFrom(), op.measureTo());
    const double peak = peakResidentMb();
    std::printf("window load: %s, charts on, clock tick %ld/s\n", what.c_str(),
                ::sysconf(_SC_CLK_TCK));
    bool met = printGoal("CPU idle (% of one core)", idle, kIdleGoalPercent, "%");
    met = printGoal("CPU measuring (% of one core)", measuring, kMeasuringGoalPercent, "%") && met;
    met = printGoal("peak resident memory (VmHWM)", peak, kPeakRssGoalMb, "MB") && met;
    const uint64_t plotted = op.measureTo().chartPoints - op.measureFrom().chartPoints;
    std::printf("chart points plotted while measuring: %llu\n",
                static_cast<unsigned long long>(plotted));
    if (plotted == 0) {
        std::printf("FAIL: the charts did not move; the measurement was not live\n");
        met = false;
    }
    printBusyThreads(op.measureFrom(), op.measureTo());
    std::printf("%s\n", met ? "PASS" : "FAIL");
    return met ? 0 : 1;
}

struct Arguments {
    std::optional<std::string> replay;
    int seconds = kDefaultSeconds;  // -1: not valid
};

Arguments parseArguments(int argc, char **argv) {
    Arguments arguments;
    int next = 1;
    if (next + 1 < argc && std::string(argv[next]) == "--replay") {
        arguments.replay = argv[next + 1];
        next += 2;
    }
    if (next < argc) {
        const int value = std::atoi(argv[next]);
        arguments.seconds = value > 0 && value <= kMaxSeconds && next + 1 == argc ? value : -1;
    }
    return arguments;
}

// The replay's module and settings, or nothing with the problem on stderr.
std::optional<ostrel::ReplaySetup> replaySetup(const std::string &path) {
    ostrel::ReplayResult replay = ostrel::addReplayModule(path);
    if (!replay.setup) std::fprintf(stderr, "window_load_bench: %s\n", replay.problem.c_str());
    return replay.setup;
}

// Ends the process if the run overstays its bound (a message box nobody answers).
void startWatchdog(std::chrono::seconds bound) {
    std::thread([bound] {
        std::this_thread::sleep_for(bound);
        std::fprintf(stderr, "window_load_bench: no end after %llds; giving up\n",
                     static_cast<long long>(bound.count()));
        std::_Exit(3);
    }).detach();
}

}  // namespace

int main(int argc, char **argv) {
    const Arguments arguments = parseArguments(argc, argv);
    const int seconds = arguments.seconds;
    if (seconds < 0) {
        std::fprintf(stderr, "usage: %s [--replay FILE] [SECONDS per phase, 1..%d]\n", argv[0],
                     kMaxSeconds);
        return 2;
    }
    startWatchdog(std::chrono::seconds(2 * seconds) +
                  std::chrono::duration_cast<std::chrono::seconds>(kWatchdogSlack));
    std::unique_ptr<QApplication> app = ostrel::ui::qt::startApplication(argc, argv);
    if (!app) {
        std::fprintf(stderr, "no display: run it under Xvfb (bench/window_load.sh)\n");
        return 2;
    }
    auto frontend = std::make_shared<ostrel::ui::qt::QtFrontend>();
    ostrel::ui::installFrontend(frontend);
    ostrel::StartupRequest request;
    std::string what = std::string(kModule) + ", " + kSteeringLabel;
    if (arguments.replay) {
        request.replay = replaySetup(*arguments.replay);
        if (!request.replay) return 2;
        what = "playing " + *arguments.replay;
    }
    Operator op{std::chrono::seconds(seconds),
                request.replay ? std::optional(request.replay->moduleName) : std::nullopt};
    QTimer::singleShot(0, [&op] { op.begin(); });
    ostrel::runMainPanel(request);
    frontend->shutdown();
    ostrel::ui::installFrontend(nullptr);
    return report(op, what);
}
