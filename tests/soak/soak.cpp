// ostrel_soak: many whole measurements in a row on simulated modules, headless, the way the
// operator drives them (START, STOP, closing the window), across every telemetry type, and
// the faults whose timing only many runs vary. After each run: the program idle and usable,
// no thread or descriptor left, every log file its header and whole cycles of exactly the
// words sent, exactly the expected messages; then the log files are removed.
//   ostrel_soak [--cycles N] [--seed S] [--quick] [--faults N]
// --quick: 40 cycles and each fault case once, ending at the first failed run; otherwise each
// fault case runs once per 100 cycles (1 to 20 times) unless --faults gives the number.
// Exit status 1 when any check failed, 2 on bad usage, 3 when a run got stuck (a watchdog
// ends the process, removing its files), 128 + the signal after SIGINT or SIGTERM.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/measurement.h"
#include "acquisition/measurement_testing.h"
#include "acquisition/module_discovery.h"
#include "display/channel_layout.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"
#include "support/log_file_check.h"
#include "support/process_counters.h"
#include "support/scratch_directory.h"
#include "support/wait.h"
#include "support/watchdog.h"
#include "telemetry/stream_buffers.h"
#include "telemetry/tables.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel::soak {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using Messages = std::vector<ui::RecordedMessage>;

// Every wait for the program is bounded by this; a run that takes longer than the watchdog's
// limit ends the process.
constexpr auto kWaitLimit = 60s;
constexpr auto kSettleLimit = 20s;  // threads and descriptors back to the idle baseline
constexpr auto kRunLimit = 300s;    // the watchdog's limit for one run
// No log file may grow past this (the soak's own guard against a run that never stops).
constexpr rlim_t kFileSizeCap = rlim_t{1} << 30;

struct Options {
    int cycles = 1000;
    uint64_t seed = 1;
    bool quick = false;
    int faultRepeats = -1;  // runs of each fault case; -1: from the cycles
};

bool parseOptions(int argc, char **argv, Options &options) {
    bool cyclesGiven = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--quick") {
            options.quick = true;
            continue;
        }
        char *end = nullptr;
        const unsigned long long value = k + 1 < argc ? std::strtoull(argv[++k], &end, 10) : 0;
        if (end == nullptr || *end != '\0' || end == argv[k]) return false;
        if (arg == "--cycles" && value <= 10'000'000) {
            options.cycles = int(value);
            cyclesGiven = true;
        } else if (arg == "--seed") {
            options.seed = value;
        } else if (arg == "--faults" && value <= 100'000) {
            options.faultRepeats = int(value);
        } else {
            return false;
        }
    }
    if (options.quick && !cyclesGiven) options.cycles = 40;
    if (options.faultRepeats < 0)
        options.faultRepeats = options.quick ? 1 : std::clamp(options.cycles / 100, 1, 20);
    return true;
}

template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds limit = kWaitLimit) {
    return test::waitFor(done, limit, 1ms);
}

std::string summary(const Messages &messages) {
    std::string text;
    for (const ui::RecordedMessage &m : messages)
        text += (text.empty() ? "" : " + ") + m.title + ": " + m.text.substr(0, m.text.find('\n'));
    return text.empty() ? "nothing" : text;
}

// The panel as the operator sees it.
std::shared_ptr<ui::HeadlessFrontend> headless() {
    return ui::headlessFrontend();
}
int panel() {
    return panelHandle.load();
}
int toggle() {
    return ui::controlState(panel(), meas_start_stop)->intValue();
}
bool dimmed(int control) {
    return ui::controlState(panel(), control)->dimmed;
}
bool press() {
    return ui::operatorPressButton(panel(), meas_start_stop);
}
bool timerAlive(int id) {
    double interval = 0;
    return id > 0 && GetTimerAttribute(id, kTimerAttrInterval, &interval) == 0;
}
void unplugAll() {
    for (const std::string &name : sim::bus().moduleNames()) sim::bus().unplug(name);
}

// Plugs the module and selects it in the module ring, as the operator would.
std::optional<sim::ModuleConfig> use(const std::string &config) {
    const sim::SimConfig parsed = sim::parseSimConfig(config);
    if (parsed.modules.size() != 1 || !sim::bus().plug(parsed.modules[0])) return std::nullopt;
    findModules();
    if (ui::setValue(panel(), usbinterface, parsed.modules[0].name) != ui::UI_OK) return {};
    return parsed.modules[0];
}

// What a run must end with.
struct Expected {
    std::function<bool(const Messages &)> messagesOk = [](const Messages &m) { return m.empty(); };
    int files = 1;             // log files written (-1: one per START)
    bool gapsAllowed = false;  // records may skip frames
};

struct Soak {
    Options options;
    std::mt19937_64 rng;
    const test::ScratchDirectory *scratch = nullptr;  // the log directory
    fs::path directory;
    std::unique_ptr<test::Watchdog> watchdog;
    int idleThreads = 0;      // with the module scan running
    int idleDescriptors = 0;  // idle
    int runNumber = 0;
    bool failed = false;
    std::map<std::string, std::array<int, 2>> cases;  // per case: runs, failed runs

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }
    std::chrono::milliseconds ms(int low, int high) {
        return std::chrono::milliseconds(uniform(low, high));
    }
    std::string moduleName(const std::string &prefix) { return prefix + std::to_string(runNumber); }
};

// One run of one case: the problems found, the module used, the STARTs pressed.
struct Run {
    Soak &soak;
    std::string name;
    std::vector<std::string> problems{};
    std::optional<sim::ModuleConfig> module{};
    int type = default_telemetry_type;
    int separatorIndex = 0;
    int starts = 0;
    int closesBefore = measurement_testing::closesSoFar();

    void check(bool ok, const std::string &what) {
        if (!ok) problems.push_back(what);
    }
    void checkCount(const std::string &what, int seen, int expected) {
        check(seen == expected,
              what + ": " + std::to_string(seen) + ", expected " + std::to_string(expected));
    }

    void selectType(int t) {
        type = t;
        check(ui::operatorSelectRingItem(panel(), CH_SLIDE, t), "the type ring refused the type");
    }
    void logging(int separator) {
        separatorIndex = separator;
        ui::setValue(panel(), LOG_STATE, 1);
        ui::setRingIndex(panel(), FILE_SEP, separator);
    }
    // Plugs and selects the module, then the type that matches it.
    bool useModule(const std::string &config, int matchingType) {
        module = use(config);
        check(module.has_value(), "the module " + config + " could not be plugged");
        if (module) selectType(matchingType);
        return module.has_value();
    }
    // START as the operator presses it; false when refused or not started.
    bool start() {
        const bool shown = toggle() == 0, pressed = shown && press();
        check(shown, "START pressed while the toggle shows STOP");
        check(!shown || pressed, "START was refused");
        starts += pressed;
        return pressed;
    }
    void stopLikeTheOperator();
    void finish(const Expected &expected);
};

// STOP as the operator presses it: pressed again while refused (the toggle is dimmed during
// the sync test, input is held while a message is up: the operator acknowledges it), then
// the cycle in progress completes and the measurement closes itself. A measurement that has
// ended on its own needs no STOP. A press that meets the program's own stop may become a
// START; that one is stopped too.
void Run::stopLikeTheOperator() {
    const auto acknowledge = [] {
        if (headless()->heldMessageCount() > 0) headless()->acknowledgeMessages();
    };
    const auto deadline = SteadyClock::now() + kWaitLimit;
    while (SteadyClock::now() < deadline) {
        if (toggle() == 0) return;
        if (!press()) {
            acknowledge();
            std::this_thread::sleep_for(1ms);
            continue;
        }
        waitFor([&] {
            acknowledge();
            return !measurementBusy();
        });
        if (toggle() == 0) return;
        ++starts;  // the STOP met the measurement's own stop and became a START
    }
    check(false, "STOP was refused for " + std::to_string(kWaitLimit.count()) + " s");
}

// Idle and usable again, nothing left behind, the files and messages as expected.
void Run::finish(const Expected &expected) {
    joinAcquisitionThread();  // as the next START does; serves a message still up
    headless()->acknowledgeMessages();
    check(toggle() == 0, "the toggle does not show START");
    check(!dimmed(meas_start_stop), "the toggle is dimmed");
    check(!dimmed(CH_SLIDE), "the type ring is dimmed");
    check(!dimmed(usbinterface), "the module ring is dimmed");
    check(!measurementOpen(), "a measurement is still open");
    check(threadstopped.load() == 1, "threadstopped is not 1");
    check(threadrun.load() == 0, "threadrun is not 0");
    check(log_file_open.load() == 0, "a log file is still open");
    check(timerID.load() == 0, "a refresh timer is left");
    check(!ui::busyCursor(), "the busy cursor is left on");
    check(!ui::modalActive(), "operator input is still held off");
    check(timerAlive(timerID_Modules), "the module scan is not running");
    void *handle = nullptr;
    if (module && sim::bus().UsbOpen(&handle, module->name.c_str()) == 0)
        check(false, "the module cannot be opened again");
    if (handle != nullptr) sim::bus().UsbClose(handle);

    // Threads: ours are the main thread, the watchdog and the scan's timer thread.
    waitFor(
        [&] {
            return test::threadCount() == soak.idleThreads &&
                   test::descriptorCount() == soak.idleDescriptors;
        },
        kSettleLimit);
    checkCount("threads", test::threadCount(), soak.idleThreads);
    checkCount("file descriptors", test::descriptorCount(), soak.idleDescriptors);
    checkCount("measurements closed", measurement_testing::closesSoFar() - closesBefore, starts);

    const Messages seen = headless()->messages();
    check(expected.messagesOk(seen), "unexpected messages: " + summary(seen));

    // A real-time module whose consumer fell behind (a loaded machine) loses frames: then the
    // records may skip them. The simulator reports such a loss on stderr.
    bool gapsAllowed = expected.gapsAllowed;
    if (module && sim::bus().lostFrames(module->name) > 0) gapsAllowed = true;
    const std::vector<fs::path> files = soak.scratch->filesEndingIn(".dat");
    checkCount("log files", int(files.size()), expected.files >= 0 ? expected.files : starts);
    static const std::regex kName(R"(jex-log-\d{14}(-\d+)?\.dat)");
    for (const fs::path &path : files) {
        const std::string fileName = path.filename().string();
        check(std::regex_match(fileName, kName), "unexpected file name " + fileName);
        if (!module) continue;
        // Any time base: its value per type and speed is a fixed mapping, the telemetry and
        // logged-measurement tests'.
        const test::LogFileCheck file =
            test::checkLogFile(path, {.type = type,
                                      .separator = separatorIndex == 0 ? ',' : '\t',
                                      .module = *module,
                                      .gapsAllowed = gapsAllowed});
        problems.insert(problems.end(), file.problems.begin(), file.problems.end());
        if (!file.ok()) continue;
        if (path.string() == logFilePath())  // the last START's file: loggedCycles() counts it
            checkCount(fileName + ": cycles", int(file.cycles), int(loggedCycles()));
        // The stream starts after the thread's two warm-up reads of 512 bytes; nothing of it
        // may be missing at the start of the file.
        const uint64_t firstStreamed = 2 * 512 / (2 * uint64_t(module->wordsPerFrame));
        check(!file.firstFrame || gapsAllowed || *file.firstFrame == firstStreamed,
              fileName + " starts with frame " + std::to_string(file.firstFrame.value_or(0)) +
                  ", not with the first frame streamed (" + std::to_string(firstStreamed) + ")");
    }
    for (const fs::path &path : files) fs::remove(path);
}

// Runs one case: sets the scene, runs `body`, checks the end, tidies up.
void runCase(Soak &soak, const std::string &name, const std::function<Expected(Run &)> &body) {
    ++soak.runNumber;
    soak.watchdog->arm(name + " (run " + std::to_string(soak.runNumber) + ")", kRunLimit);
    headless()->reset();
    measurement_testing::usePauses({soak.ms(0, 5), soak.ms(20, 50), soak.ms(1, 5)});
    Run run{soak, name};
    run.finish(body(run));
    unplugAll();
    headless()->reset();
    soak.watchdog->disarm();
    ++soak.cases[name][0];
    if (run.problems.empty()) return;
    ++soak.cases[name][1];
    soak.failed = true;
    std::fprintf(stderr, "FAILED %s, run %d (seed %llu):\n", name.c_str(), soak.runNumber,
                 static_cast<unsigned long long>(soak.options.seed));
    for (const std::string &problem : run.problems) std::fprintf(stderr, "  %s\n", problem.c_str());
    if (run.module) std::fprintf(stderr, "  module %s\n", run.module->name.c_str());
}

// START/STOP with logging on, on a module of type `index % 10`, ended in one of the ways the
// operator ends it.
void cycleRun(Soak &soak, int index) {
    const int type = index % telemetry_type_count;
    const int separatorIndex = (index + index / telemetry_type_count) % 2;
    runCase(soak, "START/STOP " + std::string(telemetry_types[type].label), [&](Run &run) {
        const std::string settings = isPlainType(type)
                                         ? "words=" + std::to_string(number_of_channels[type])
                                         : std::string("signal=steering");
        if (!run.useModule(soak.moduleName("T" + std::to_string(type) + "-") + ":" + settings +
                               ",pace=fast,seed=" + std::to_string(soak.uniform(1, 1000000)),
                           type))
            return Expected{};
        if (isPlainType(type))
            ui::setRingIndex(panel(), SPEED_SLIDE, soak.uniform(0, speed_count - 1));
        run.logging(separatorIndex);
        if (soak.chance(0.05)) measurement_testing::usePauses({0ms, 0ms, 0ms});
        if (!run.start()) return Expected{};
        const int when = soak.uniform(0, 99);
        // Ended at once (in the sync test or the wait before the reads), after 0..60 ms, or
        // after 1..4 logged cycles.
        if (when >= 25 && when < 45) {
            std::this_thread::sleep_for(soak.ms(0, 60));
        } else if (when >= 45) {
            const uint64_t cycles = uint64_t(soak.uniform(1, 4));
            run.check(waitFor([&] { return loggedCycles() >= cycles; }),
                      "no cycle logged within the limit");
            std::this_thread::sleep_for(soak.ms(0, 3));
        }
        when >= 90 ? endMeasurement() : run.stopLikeTheOperator();  // closing the window, or STOP
        return Expected{};
    });
}

// The faults whose timing only many runs vary: a transfer error racing the operator's STOP
// (messages held half the time), and a receiver overrun. The fixed faults (no sync, failed
// open, transfer errors, stalls, closes in every state, the log directory and the disk) have
// their tests in tests/acquisition, tests/logging and tests/usb.
void faultRuns(Soak &soak, int r) {
    runCase(soak, "transfer error racing STOP", [&](Run &run) {
        if (soak.chance(0.5)) headless()->holdMessages();
        if (!run.useModule(soak.moduleName("RACE") +
                               ":pace=fast,failblock=" + std::to_string(soak.uniform(1, 48)),
                           default_telemetry_type))
            return Expected{};
        run.logging(r % 2);
        if (run.start()) {
            if (soak.chance(0.5))
                waitFor([] { return data_received.load() == 1 || !measurementOpen(); });
            std::this_thread::sleep_for(std::chrono::microseconds(soak.uniform(0, 4000)));
            run.stopLikeTheOperator();
        }
        return Expected{
            [&run](const Messages &seen) {
                const ui::RecordedMessage error{"USB Error", "Data transfer error from USB module"};
                return int(seen.size()) <= run.starts &&
                       std::ranges::count(seen, error) == std::ssize(seen);
            },
            -1};
    });

    // A real-time module faster than the consumer with a receive buffer of four frames: frames
    // are lost, the operator is told once, the file still holds whole cycles, each record a
    // frame of the signal. (The simulator's report of the loss on stderr is its own tests'.)
    runCase(soak, "receiver overrun", [&](Run &run) {
        const std::string pace = soak.chance(0.5) ? "1" : std::to_string(soak.uniform(4, 40));
        if (!run.useModule(soak.moduleName("OVR") + ":words=4,kbps=100000,fifo=64,pace=" + pace, 0))
            return Expected{};
        run.logging(r % 2);
        if (run.start()) {
            const uint64_t cycles = uint64_t(soak.uniform(3, 12));
            run.check(waitFor([&] { return loggedCycles() >= cycles || !measurementOpen(); }),
                      "no cycles logged within the limit");
            run.stopLikeTheOperator();
        }
        const uint64_t lost = sim::bus().lostFrames(run.module->name);
        // The operator is told of a loss at the receiver, by its title, and of none not at
        // all. A link this fast may also outrun the disk (a slow machine): cycles left out,
        // told as such.
        return Expected{[lost](const Messages &seen) {
                            int receiver = 0;
                            for (const ui::RecordedMessage &m : seen) {
                                receiver += m.title == receiver_overrun_title;
                                if (m.title != receiver_overrun_title &&
                                    m.title != log_overrun_title && m.title != log_gaps_title)
                                    return false;
                            }
                            return receiver == (lost > 0 ? 1 : 0);
                        },
                        1, lost > 0};
    });
}

// A first measurement outside the cases: the libraries' lazily created state exists after it,
// so the idle baseline taken then is the one every run must come back to.
bool warmUp(const test::ScratchDirectory &scratch) {
    if (!use("WARM-UP:pace=fast")) return false;
    ui::setValue(panel(), LOG_STATE, 1);
    bool ok = press() && waitFor([] { return loggedCycles() >= 1; }) && press();
    joinAcquisitionThread();
    ok = ok && toggle() == 0 && headless()->messages().empty();
    unplugAll();
    for (const fs::path &path : scratch.filesEndingIn(".dat")) fs::remove(path);
    headless()->reset();
    return ok && waitFor([] { return timerAlive(timerID_Modules); });
}

int runSoak(const Options &options) {
    Soak soak;
    soak.options = options;
    soak.rng.seed(options.seed);
    const test::ScratchDirectory scratch("ostrel-soak");
    soak.scratch = &scratch;
    soak.directory = scratch.path();
    soak.watchdog = std::make_unique<test::Watchdog>(soak.directory, "ostrel_soak", true);

    headless()->reset();
    panelHandle = ui::loadPanel(mainPanelDescription());
    ui::installControlCallback(panel(), meas_start_stop, startstop, nullptr);
    ui::installControlCallback(panel(), CH_SLIDE, channel_change, nullptr);
    ui::installControlCallback(panel(), usbinterface, usb_interface, nullptr);
    ui::setValue(panel(), LOGPATH, soak.directory.string());
    unplugAll();
    startModuleScan();

    std::printf("ostrel_soak: %d START/STOP cycles, each fault case %d times, seed %llu, in %s\n",
                options.cycles, options.faultRepeats, static_cast<unsigned long long>(options.seed),
                soak.directory.c_str());
    std::fflush(stdout);
    soak.watchdog->arm("the warm-up", kRunLimit);
    measurement_testing::usePauses({2ms, 30ms, 2ms});
    if (!warmUp(scratch)) {
        std::fprintf(stderr, "ostrel_soak: the warm-up measurement failed\n");
        soak.failed = true;
    }
    soak.watchdog->disarm();
    soak.idleThreads = test::threadCount();
    soak.idleDescriptors = test::descriptorCount();
    std::printf(
        "idle: %d threads (the module scan's timer thread and the watchdog included), "
        "%d file descriptors\n",
        soak.idleThreads, soak.idleDescriptors);
    std::fflush(stdout);

    const auto began = SteadyClock::now();
    const auto seconds = [&] {
        return std::chrono::duration<double>(SteadyClock::now() - began).count();
    };
    // The suite's run ends at its first failed run: a leak would make every later run wait
    // out the settle limit.
    const auto goOn = [&] { return !(options.quick && soak.failed); };
    for (int k = 0; k < options.cycles && goOn(); ++k) {
        cycleRun(soak, k);
        if ((k + 1) % 100 == 0 || k + 1 == options.cycles) {
            std::printf("  %d/%d cycles, %.1f s\n", k + 1, options.cycles, seconds());
            std::fflush(stdout);
        }
    }
    for (int r = 0; r < options.faultRepeats && goOn(); ++r) faultRuns(soak, r);

    // Shutdown as the program's: nothing of ours may be left but the watchdog.
    endMeasurement();
    DiscardTimer(kAllTimers);
    ui::discardPanel(panelHandle.exchange(0));
    unplugAll();
    if (!waitFor([&] { return test::threadCount() == soak.idleThreads - 1; }, kSettleLimit)) {
        std::fprintf(stderr, "FAILED shutdown: %d threads left, expected %d\n", test::threadCount(),
                     soak.idleThreads - 1);
        soak.failed = true;
    }
    soak.watchdog.reset();

    std::printf("\n%-44s %5s %5s\n", "case", "runs", "fail");
    for (const auto &[name, c] : soak.cases)
        std::printf("%-44s %5d %5d\n", name.c_str(), c[0], c[1]);
    std::printf("%.1f s in all\n", seconds());
    std::printf("\n%s\n", soak.failed ? "ostrel_soak: FAILED" : "ostrel_soak: all checks passed");
    return soak.failed ? 1 : 0;
}

}  // namespace
}  // namespace ostrel::soak

int main(int argc, char **argv) {
    ostrel::soak::Options options;
    if (!ostrel::soak::parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--cycles N] [--seed S] [--quick] [--faults N]\n", argv[0]);
        return 2;
    }
    // Only the modules the soak plugs itself, never a module library.
    ::setenv("OSTREL_SIM", "", 1);
    ::unsetenv("OSTREL_MODULE_LIBRARY");
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur > ostrel::soak::kFileSizeCap) {
        limit.rlim_cur = ostrel::soak::kFileSizeCap;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    return ostrel::soak::runSoak(options);
}
