// ostrel_soak: many whole measurements in a row on simulated modules, headless, the way the
// operator drives them (START, STOP, closing the window), across every telemetry type, and
// the faults whose timing only many runs vary. After each run it checks that the program is
// idle and usable again, that no thread or file descriptor is left behind, that every log
// file holds its header and whole cycles of exactly the words the module sent, and that the
// operator saw exactly the expected messages. Log files are removed after each run.
//
//   ostrel_soak [--cycles N] [--seed S] [--quick] [--faults N]
//
// --quick: 40 cycles and each fault case once (the suite's run), ending at the first failed
// run; otherwise each fault case runs once per 100 cycles (1 to 20 times) unless --faults
// gives the number.
// Prints a table of the cases; the exit status is 1 when any check failed, 2 on bad usage,
// 3 when a run got stuck (a watchdog ends the process then, after removing its files), 128 +
// the signal after SIGINT or SIGTERM (its files removed too).
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
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
#include "sim/signal_table.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"
#include "support/log_file_check.h"
#include "support/process_counters.h"
#include "support/scratch_directory.h"
#include "support/wait.h"
#include "support/watchdog.h"
#include "telemetry/selections.h"
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

const ui::RecordedMessage kTransferError{"USB Error", "Data transfer error from USB module"};

// ---------------------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------------------

struct Options {
    int cycles = 1000;
    uint64_t seed = 1;
    bool quick = false;
    int faultRepeats = 10;  // runs of each fault case
};

bool parseOptions(int argc, char **argv, Options *options) {
    bool cyclesGiven = false;
    bool faultsGiven = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        auto number = [&](uint64_t *out) {
            if (k + 1 >= argc) return false;
            char *end = nullptr;
            errno = 0;
            *out = std::strtoull(argv[++k], &end, 10);
            return errno == 0 && end != nullptr && *end == '\0';
        };
        uint64_t value = 0;
        if (arg == "--quick") {
            options->quick = true;
        } else if (arg == "--cycles" && number(&value) && value <= 10'000'000) {
            options->cycles = int(value);
            cyclesGiven = true;
        } else if (arg == "--seed" && number(&value)) {
            options->seed = value;
        } else if (arg == "--faults" && number(&value) && value <= 100'000) {
            options->faultRepeats = int(value);
            faultsGiven = true;
        } else {
            return false;
        }
    }
    if (options->quick && !cyclesGiven) options->cycles = 40;
    if (!faultsGiven) {
        options->faultRepeats = options->quick ? 1 : std::clamp(options->cycles / 100, 1, 20);
    }
    return true;
}

template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds limit = kWaitLimit) {
    return test::waitFor(done, limit, 1ms);
}

std::string summary(const Messages &messages) {
    if (messages.empty()) return "nothing";
    std::string text;
    for (const ui::RecordedMessage &m : messages) {
        if (!text.empty()) text += " + ";
        text += m.title + ": " + m.text.substr(0, m.text.find('\n'));
    }
    return text;
}

// ---------------------------------------------------------------------------------------
// The panel as the operator sees it
// ---------------------------------------------------------------------------------------

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
    if (ui::setValue(panel(), usbinterface, parsed.modules[0].name) != ui::UI_OK) {
        return std::nullopt;
    }
    return parsed.modules[0];
}

bool moduleOpensAgain(const std::string &name) {
    void *handle = nullptr;
    if (sim::bus().UsbOpen(&handle, name.c_str()) == 0) return false;
    sim::bus().UsbClose(handle);
    return true;
}

// ---------------------------------------------------------------------------------------
// What a log file must hold
// ---------------------------------------------------------------------------------------

// The sample period in µs: 408 bit times per 32 words at the speed the speed ring shows (the
// steering types set it to 640 kbps).
std::string timeBase(int type) {
    int speedIndex = -1;
    ui::getRingIndex(panel(), SPEED_SLIDE, &speedIndex);
    if (speedIndex < 0 || speedIndex >= speed_count) return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f",
                  number_of_channels[type] * 12750.0 / telemetry_speeds[speedIndex].item_value);
    return text;
}

// ---------------------------------------------------------------------------------------
// Cases and runs
// ---------------------------------------------------------------------------------------

struct CaseStats {
    std::string name;
    int runs = 0;
    std::map<std::string, int> seen;  // what the operator saw, with the runs that saw it
    int files = 0;
    uint64_t records = 0;
    int failures = 0;
    double seconds = 0;
    uint64_t lostFrames = 0;
    std::map<std::string, int> notes;  // how the runs went (STOP timing, outcomes)
};

// What a run must end with.
struct Expected {
    std::function<bool(const Messages &)> messagesOk;  // the messages the operator saw
    int files = 1;                                     // log files written (-1: one per START)
    bool gapsAllowed = false;                          // records may skip frames
};

std::function<bool(const Messages &)> exactly(Messages expected) {
    return [expected](const Messages &seen) { return seen == expected; };
}

struct Soak {
    Options options;
    std::mt19937_64 rng;
    fs::path directory;
    std::unique_ptr<test::Watchdog> watchdog;
    std::deque<CaseStats> cases;  // references stay valid as cases are added
    int idleThreads = 0;          // with the module scan running
    int idleDescriptors = 0;      // idle
    int runNumber = 0;
    bool failed = false;

    CaseStats &stats(const std::string &name) {
        for (CaseStats &c : cases) {
            if (c.name == name) return c;
        }
        CaseStats added;
        added.name = name;
        cases.push_back(added);
        return cases.back();
    }
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
    CaseStats &stats;
    std::vector<std::string> problems;
    std::vector<std::string> story;
    std::optional<sim::ModuleConfig> module;
    int type = default_telemetry_type;
    int separatorIndex = 0;
    int starts = 0;
    int closesBefore = measurement_testing::closesSoFar();
    SteadyClock::time_point began = SteadyClock::now();

    Run(Soak &soak_, CaseStats &stats_) : soak(soak_), stats(stats_) {}
    void fail(const std::string &what) { problems.push_back(what); }
    void check(bool ok, const std::string &what) {
        if (!ok) fail(what);
    }
    void note(const std::string &what) {
        ++stats.notes[what];
        story.push_back(what);
    }
    // What happened when, for the report of a failed run.
    void mark(const std::string &what) {
        const double ms =
            std::chrono::duration<double, std::milli>(SteadyClock::now() - began).count();
        char at[32];
        std::snprintf(at, sizeof at, "%.1f ms: ", ms);
        story.push_back(at + what + " (" + std::to_string(loggedCycles()) + " cycles logged)");
    }
};

void selectType(Run &run, int type) {
    run.type = type;
    run.check(ui::operatorSelectRingItem(panel(), CH_SLIDE, type),
              "the type ring refused the type");
}

void logging(Run &run, int on, int separatorIndex) {
    run.separatorIndex = separatorIndex;
    ui::setValue(panel(), LOG_STATE, on);
    ui::setRingIndex(panel(), FILE_SEP, separatorIndex);
}

bool useModule(Run &run, const std::string &config) {
    run.module = use(config);
    run.check(run.module.has_value(), "the module " + config + " could not be plugged");
    if (!run.module) return false;
    // The type that matches the module: its plain type, or the first steering type.
    if (run.module->signal == sim::SignalKind::Steering) {
        selectType(run, first_steering_type);
    } else {
        for (int type = 0; type < first_steering_type; ++type) {
            if (number_of_channels[type] == run.module->wordsPerFrame) selectType(run, type);
        }
    }
    return true;
}

// START as the operator presses it; false when refused or not started.
bool start(Run &run) {
    if (toggle() != 0) {
        run.fail("START pressed while the toggle shows STOP");
        return false;
    }
    if (!press()) {
        run.fail("START was refused");
        return false;
    }
    ++run.starts;
    run.mark("START done");
    return true;
}

// STOP as the operator presses it: pressed again while refused (the toggle is dimmed during
// the sync test, input is held while a message is up: the operator acknowledges it), then
// the cycle in progress completes and the measurement closes itself. A measurement that has
// ended on its own needs no STOP. A press that meets the program's own stop may become a
// START; that one is stopped too.
void stopLikeTheOperator(Run &run) {
    run.mark("STOP");
    const auto deadline = SteadyClock::now() + kWaitLimit;
    bool refused = false;
    while (SteadyClock::now() < deadline) {
        if (toggle() == 0) return;
        if (press()) {
            waitFor([] {
                if (headless()->heldMessageCount() > 0) headless()->acknowledgeMessages();
                return !measurementBusy();
            });
            if (toggle() == 0) {
                if (refused) run.note("STOP refused at first (toggle dimmed or a message up)");
                run.mark("STOP done");
                return;
            }
            ++run.starts;
            run.note("STOP met the measurement's own stop and became a START");
            continue;
        }
        refused = true;
        if (headless()->heldMessageCount() > 0) headless()->acknowledgeMessages();
        std::this_thread::sleep_for(1ms);
    }
    run.fail("STOP was refused for " + std::to_string(kWaitLimit.count()) + " s");
}

// The measurement's log files, oldest name first.
std::vector<fs::path> logFiles(const Soak &soak) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(soak.directory, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() == ".dat") files.push_back(it->path());  // not descriptions
    }
    std::sort(files.begin(), files.end(), [](const fs::path &a, const fs::path &b) {
        const std::string x = a.filename().string(), y = b.filename().string();
        return x.size() != y.size() ? x.size() < y.size() : x < y;
    });
    return files;
}

void removeLogFiles(const Soak &soak) {
    for (const fs::path &file : logFiles(soak)) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
}

// Idle and usable again, nothing left behind, the files and messages as expected.
void finishRun(Run &run, const Expected &expected) {
    Soak &soak = run.soak;
    joinAcquisitionThread();  // as the next START does; serves a message still up
    headless()->acknowledgeMessages();

    run.check(toggle() == 0, "the toggle does not show START");
    run.check(!dimmed(meas_start_stop), "the toggle is dimmed");
    run.check(!dimmed(CH_SLIDE), "the type ring is dimmed");
    run.check(!dimmed(usbinterface), "the module ring is dimmed");
    run.check(!measurementOpen(), "a measurement is still open");
    run.check(threadstopped.load() == 1, "threadstopped is not 1");
    run.check(threadrun.load() == 0, "threadrun is not 0");
    run.check(log_file_open.load() == 0, "a log file is still open");
    run.check(timerID.load() == 0, "a refresh timer is left");
    run.check(!ui::busyCursor(), "the busy cursor is left on");
    run.check(!ui::modalActive(), "operator input is still held off");
    run.check(timerAlive(timerID_Modules), "the module scan is not running");
    if (run.module) {
        run.check(moduleOpensAgain(run.module->name), "the module cannot be opened again");
    }

    // Threads: ours are the main thread, the watchdog and the scan's timer thread.
    const int threadsExpected = soak.idleThreads;
    const bool settled = waitFor(
        [&] {
            return test::threadCount() == threadsExpected &&
                   test::descriptorCount() == soak.idleDescriptors;
        },
        kSettleLimit);
    if (!settled) {
        run.check(test::threadCount() == threadsExpected,
                  "threads: " + std::to_string(test::threadCount()) + ", idle " +
                      std::to_string(threadsExpected));
        run.check(test::descriptorCount() == soak.idleDescriptors,
                  "file descriptors: " + std::to_string(test::descriptorCount()) + ", idle " +
                      std::to_string(soak.idleDescriptors));
    }

    const int closes = measurement_testing::closesSoFar() - run.closesBefore;
    const int closesExpected = run.starts;
    run.check(closes == closesExpected, std::to_string(closes) + " measurements closed, " +
                                            std::to_string(closesExpected) + " expected");

    const Messages seen = headless()->messages();
    run.stats.seen[summary(seen)]++;
    if (!expected.messagesOk(seen)) run.fail("unexpected messages: " + summary(seen));

    // A real-time module whose consumer fell behind (a loaded machine) loses frames: then the
    // records may skip them. The simulator reports such a loss on stderr.
    bool gapsAllowed = expected.gapsAllowed;
    if (run.module && !gapsAllowed && sim::bus().lostFrames(run.module->name) > 0) {
        run.note("frames lost by a slow consumer");
        gapsAllowed = true;
    }
    const std::vector<fs::path> files = logFiles(soak);
    const int filesExpected = expected.files >= 0 ? expected.files : run.starts;
    run.check(
        int(files.size()) == filesExpected,
        std::to_string(files.size()) + " log files, expected " + std::to_string(filesExpected));
    static const std::regex kName(R"(jex-log-\d{14}(-\d+)?\.dat)");
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string name = files[k].filename().string();
        run.check(std::regex_match(name, kName), "unexpected file name " + name);
        if (!run.module) continue;
        const test::LogFileCheck file =
            test::checkLogFile(files[k], {.type = run.type,
                                          .separator = run.separatorIndex == 0 ? ',' : '\t',
                                          .timeBase = timeBase(run.type),
                                          .module = *run.module,
                                          .gapsAllowed = gapsAllowed});
        ++run.stats.files;
        run.stats.records += file.records;
        run.problems.insert(run.problems.end(), file.problems.begin(), file.problems.end());
        if (!file.ok()) continue;
        if (file.gaps > 0) run.note("a file whose records skip frames (receiver overrun)");
        if (k + 1 == files.size()) {  // the last file holds what loggedCycles() counts
            run.check(file.cycles == loggedCycles(),
                      name + ": " + std::to_string(file.records) + " records, " +
                          std::to_string(loggedCycles()) + " cycles logged");
        }
        if (file.records == 0) run.note("a file with its header only");
        // The stream starts after the thread's two warm-up reads of 512 bytes; nothing of it
        // may be missing at the start of the file.
        const uint64_t firstStreamed = 2 * 512 / (2 * uint64_t(run.module->wordsPerFrame));
        if (file.firstFrame && !gapsAllowed) {
            run.check(*file.firstFrame == firstStreamed,
                      name + " starts with frame " + std::to_string(*file.firstFrame) +
                          ", not with the first frame streamed (" + std::to_string(firstStreamed) +
                          ")");
        }
    }
    removeLogFiles(soak);
}

// Runs one case: sets the scene, runs `body`, checks the end, tidies up.
void runCase(Soak &soak, const std::string &name, const std::function<Expected(Run &)> &body) {
    ++soak.runNumber;
    CaseStats &stats = soak.stats(name);
    soak.watchdog->arm(name + " (run " + std::to_string(soak.runNumber) + ")", kRunLimit);
    headless()->reset();
    measurement_testing::usePauses({soak.ms(0, 5), soak.ms(20, 50), soak.ms(1, 5)});
    Run run{soak, stats};
    const Expected expected = body(run);
    finishRun(run, expected);
    unplugAll();
    headless()->reset();
    soak.watchdog->disarm();
    ++stats.runs;
    stats.seconds += std::chrono::duration<double>(SteadyClock::now() - run.began).count();
    if (!run.problems.empty()) {
        ++stats.failures;
        soak.failed = true;
        std::fprintf(stderr, "FAILED %s, run %d (seed %llu):\n", name.c_str(), soak.runNumber,
                     static_cast<unsigned long long>(soak.options.seed));
        for (const std::string &problem : run.problems) {
            std::fprintf(stderr, "  %s\n", problem.c_str());
        }
        if (run.module) std::fprintf(stderr, "  module %s\n", run.module->name.c_str());
        for (const std::string &step : run.story) std::fprintf(stderr, "  | %s\n", step.c_str());
    }
}

// ---------------------------------------------------------------------------------------
// START/STOP cycles across the ten types
// ---------------------------------------------------------------------------------------

std::string moduleForType(Soak &soak, int type) {
    const std::string settings = isPlainType(type)
                                     ? "words=" + std::to_string(number_of_channels[type])
                                     : std::string("signal=steering");
    return soak.moduleName("T" + std::to_string(type) + "-") + ":" + settings +
           ",pace=fast,seed=" + std::to_string(soak.uniform(1, 1000000));
}

// While a STOP waits for the drain, the operator's input is held off: a press posted to the
// window then is refused and starts nothing.
void tryInputDuringTheStop(std::shared_ptr<std::atomic<int>> outcome) {
    headless()->post([outcome] {
        const bool pressed = ui::operatorPressButton(panel(), meas_start_stop);
        const bool selected = ui::operatorSelectRingItem(panel(), CH_SLIDE, 0);
        *outcome = pressed || selected ? 2 : 1;
    });
}

void cycleRun(Soak &soak, int index) {
    const int type = index % telemetry_type_count;
    const int separatorIndex = (index + index / telemetry_type_count) % 2;
    const std::string name = "START/STOP " + std::string(telemetry_types[type].label);
    runCase(soak, name, [&](Run &run) {
        if (!useModule(run, moduleForType(soak, type))) return Expected{exactly({})};
        selectType(run, type);
        if (isPlainType(type))
            ui::setRingIndex(panel(), SPEED_SLIDE, soak.uniform(0, speed_count - 1));
        logging(run, 1, separatorIndex);
        if (soak.chance(0.05)) {
            run.note("no pauses at all");
            measurement_testing::usePauses({0ms, 0ms, 0ms});
        }
        if (!start(run)) return Expected{exactly({})};
        const int when = soak.uniform(0, 99);
        auto input = std::make_shared<std::atomic<int>>(0);
        if (when < 25) {
            run.note("ended at once (sync test or the wait before the reads)");
        } else if (when < 45) {
            run.note("ended after a random 0..60 ms");
            std::this_thread::sleep_for(soak.ms(0, 60));
        } else {
            const int cycles = soak.uniform(1, 4);
            run.note("ended after 1..4 logged cycles");
            run.check(waitFor([&] { return loggedCycles() >= uint64_t(cycles); }),
                      "no cycle logged within the limit");
            if (soak.chance(0.25)) {
                // What START latched stays: the separator and the logging switch changed now
                // change nothing of this file; type and module cannot be changed at all.
                run.note("separator and logging switch changed while running");
                ui::operatorSelectRingItem(panel(), FILE_SEP, 1 - separatorIndex);
                ui::operatorSetSwitch(panel(), LOG_STATE, 0);
                run.check(!ui::operatorSelectRingItem(panel(), CH_SLIDE, (type + 1) % 10),
                          "the type ring took a choice while running");
                run.check(!ui::operatorSelectRingItem(panel(), usbinterface, 0),
                          "the module ring took a choice while running");
                run.check(waitFor([&] { return loggedCycles() >= uint64_t(cycles) + 1; }),
                          "logging stopped with the switch");
            }
            std::this_thread::sleep_for(soak.ms(0, 3));
            if (soak.chance(0.3)) tryInputDuringTheStop(input);
        }
        if (when >= 90) {
            run.note("ended by closing the window, not STOP");
            run.mark("close");
            endMeasurement();
            run.mark("closed");
        } else {
            stopLikeTheOperator(run);
        }
        if (*input == 2) run.fail("operator input was taken while the STOP waited");
        if (*input == 1) run.note("input during the STOP's wait refused");
        Expected expected{exactly({})};
        return expected;
    });
}

// ---------------------------------------------------------------------------------------
// Faults
// ---------------------------------------------------------------------------------------

// A real-time module faster than the consumer with a receive buffer of four frames: frames
// are lost, the operator is told once, the file still holds whole cycles, each record a frame
// of the signal. (The simulator's report of the loss on stderr is its own tests'.)
Expected overrunRun(Soak &soak, Run &run, int r) {
    const std::string pace = soak.chance(0.5) ? "1" : std::to_string(soak.uniform(4, 40));
    if (!useModule(run, soak.moduleName("OVR") + ":words=4,kbps=100000,fifo=64,pace=" + pace)) {
        return Expected{exactly({})};
    }
    selectType(run, 0);
    logging(run, 1, r % 2);
    if (start(run)) {
        const uint64_t cycles = uint64_t(soak.uniform(3, 12));
        run.check(waitFor([&] { return loggedCycles() >= cycles || !measurementOpen(); }),
                  "no cycles logged within the limit");
        stopLikeTheOperator(run);
    }
    const uint64_t lost = sim::bus().lostFrames(run.module->name);
    run.stats.lostFrames += lost;
    run.note(lost > 0 ? "frames lost to the overrun" : "no frame lost");
    // The operator is told of a loss at the receiver, by its title, and of none not at all. A
    // link this fast may also outrun the disk (a slow machine): cycles left out, told as such.
    Expected e{[lost](const Messages &seen) {
        int receiver = 0;
        for (const ui::RecordedMessage &m : seen) {
            receiver += m.title == receiver_overrun_title;
            if (m.title != receiver_overrun_title && m.title != log_overrun_title &&
                m.title != log_gaps_title) {
                return false;
            }
        }
        return receiver == (lost > 0 ? 1 : 0);
    }};
    e.gapsAllowed = lost > 0;
    return e;
}

// The faults whose timing only many runs vary: a transfer error racing the operator's STOP
// (messages held half the time), and a receiver overrun. The fixed faults (no sync, failed
// open, transfer errors, stalls, closes in every state, the log directory and the disk) have
// their tests in tests/acquisition, tests/logging and tests/usb.
void faultRuns(Soak &soak) {
    const int repeats = soak.options.faultRepeats;
    for (int r = 0; r < repeats; ++r) {
        runCase(soak, "transfer error racing STOP", [&](Run &run) {
            const bool hold = soak.chance(0.5);
            if (hold) headless()->holdMessages();
            if (!useModule(run, soak.moduleName("RACE") + ":pace=fast,failblock=" +
                                    std::to_string(soak.uniform(1, 48)))) {
                return Expected{exactly({})};
            }
            logging(run, 1, r % 2);
            if (start(run)) {
                if (soak.chance(0.5)) {
                    waitFor([] { return data_received.load() == 1 || !measurementOpen(); });
                }
                std::this_thread::sleep_for(std::chrono::microseconds(soak.uniform(0, 4000)));
                stopLikeTheOperator(run);
            }
            Expected e{[&run](const Messages &seen) {
                return int(seen.size()) <= run.starts &&
                       std::all_of(seen.begin(), seen.end(), [](const ui::RecordedMessage &m) {
                           return m == kTransferError;
                       });
            }};
            e.files = -1;
            return e;
        });

        runCase(soak, "receiver overrun", [&](Run &run) { return overrunRun(soak, run, r); });
    }
}

// ---------------------------------------------------------------------------------------
// The whole soak
// ---------------------------------------------------------------------------------------

void printTable(const Soak &soak, double seconds) {
    std::printf("\n%-44s %5s %6s %10s %5s %8s  %s\n", "case", "runs", "files", "records", "fail",
                "time s", "what the operator saw (runs)");
    int runs = 0, files = 0, failures = 0;
    uint64_t records = 0;
    for (const CaseStats &c : soak.cases) {
        bool first = true;
        for (const auto &[seen, count] : c.seen) {
            if (first) {
                std::printf("%-44s %5d %6d %10llu %5d %8.1f  %s (%d)\n", c.name.c_str(), c.runs,
                            c.files, static_cast<unsigned long long>(c.records), c.failures,
                            c.seconds, seen.c_str(), count);
            } else {
                std::printf("%-44s %5s %6s %10s %5s %8s  %s (%d)\n", "", "", "", "", "", "",
                            seen.c_str(), count);
            }
            first = false;
        }
        runs += c.runs;
        files += c.files;
        records += c.records;
        failures += c.failures;
    }
    std::printf("%-44s %5d %6d %10llu %5d %8.1f\n", "all", runs, files,
                static_cast<unsigned long long>(records), failures, seconds);
    // The cycles' notes are summed over the ten types.
    std::vector<std::pair<std::string, std::map<std::string, uint64_t>>> notes;
    for (const CaseStats &c : soak.cases) {
        const std::string group =
            c.name.rfind("START/STOP", 0) == 0 ? "START/STOP, all types" : c.name;
        if (notes.empty() || notes.back().first != group) notes.push_back({group, {}});
        for (const auto &[note, count] : c.notes) notes.back().second[note] += uint64_t(count);
        if (c.lostFrames > 0) notes.back().second["frames lost in all"] += c.lostFrames;
    }
    std::printf("\nhow the runs went (runs, or frames):\n");
    for (const auto &[group, counts] : notes) {
        for (const auto &[note, count] : counts) {
            std::printf("  %-42s %s: %llu\n", group.c_str(), note.c_str(),
                        static_cast<unsigned long long>(count));
        }
    }
}

// A first measurement outside the cases: the libraries' lazily created state exists after it,
// so the idle baseline taken then is the one every run must come back to.
bool warmUp(Soak &soak) {
    const std::optional<sim::ModuleConfig> module = use("WARM-UP:pace=fast");
    if (!module) return false;
    ui::setValue(panel(), LOG_STATE, 1);
    bool ok = press() && waitFor([] { return loggedCycles() >= 1; }) && press();
    joinAcquisitionThread();
    ok = ok && toggle() == 0 && headless()->messages().empty();
    unplugAll();
    removeLogFiles(soak);
    headless()->reset();
    return ok && waitFor([] { return timerAlive(timerID_Modules); });
}

int runSoak(const Options &options) {
    Soak soak;
    soak.options = options;
    soak.rng.seed(options.seed);
    const test::ScratchDirectory scratch("ostrel-soak");
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
    if (!warmUp(soak)) {
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
    // The suite's run ends at its first failed run: a leak would make every later run wait
    // out the settle limit.
    const auto goOn = [&] { return !(options.quick && soak.failed); };
    for (int k = 0; k < options.cycles && goOn(); ++k) {
        cycleRun(soak, k);
        if ((k + 1) % 100 == 0 || k + 1 == options.cycles) {
            std::printf("  %d/%d cycles, %.1f s\n", k + 1, options.cycles,
                        std::chrono::duration<double>(SteadyClock::now() - began).count());
            std::fflush(stdout);
        }
    }
    const auto faultsBegan = SteadyClock::now();
    if (goOn()) faultRuns(soak);
    std::printf("  faults, %.1f s\n",
                std::chrono::duration<double>(SteadyClock::now() - faultsBegan).count());
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();

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

    printTable(soak, seconds);
    std::printf("\n%s\n", soak.failed ? "ostrel_soak: FAILED" : "ostrel_soak: all checks passed");
    return soak.failed ? 1 : 0;
}

}  // namespace
}  // namespace ostrel::soak

int main(int argc, char **argv) {
    using namespace ostrel::soak;
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: %s [--cycles N] [--seed S] [--quick] [--faults N]\n", argv[0]);
        return 2;
    }
    // Only the modules the soak plugs itself, never a module library.
    ::setenv("OSTREL_SIM", "", 1);
    ::unsetenv("OSTREL_MODULE_LIBRARY");
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur > kFileSizeCap) {
        limit.rlim_cur = kFileSizeCap;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    return runSoak(options);
}