// end_to_end_bench: the whole acquisition path, START to STOP, with logging on, per log
// directory: raw stream MB/s against the USB 2.0 high-speed bulk ceiling, and checks that
// every completed cycle reached the file and no frame was lost.
//
//   ninja -C build/default -j2 end_to_end_bench
//   build/default/bench/end_to_end_bench [SECONDS [DIRECTORY ...]]
//
// SECONDS (default 5, at most 60) is the streaming time per directory. Without directories
// it runs on tmpfs (/dev/shm) and then on local disk (the directory of this program, i.e.
// the build dir). Each run gets a fresh subdirectory that is removed afterwards, whatever
// the outcome. The program is driven headless as the operator drives it: simulated module
// "BENCH:words=32,pace=fast", telemetry type "32 Channel", logging on with commas, START,
// SECONDS of streaming, STOP. Exit status 0 only when every check holds and every run
// reaches the goal (raw stream at least the USB 2.0 ceiling of 53.248 MB/s).
//
// The fast-paced module with logging writes about 500 MB/s of text: a watchdog removes the
// log directory and ends the process if a run overstays its time, and a run stops early if
// its file grows past half the free space it found.
#include <signal.h>
#include <stdlib.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/measurement.h"
#include "acquisition/measurement_testing.h"
#include "acquisition/module_discovery.h"
#include "display/channel_layout.h"
#include "logging/log_file.h"
#include "logging/record_writer.h"
#include "panel/ostrel_panel.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "telemetry/tables.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char *kModuleConfig = "BENCH:words=32,pace=fast";
constexpr const char *kModuleName = "BENCH";
constexpr int kType32Channel = 3;            // CH_SLIDE index of "32 Channel"
constexpr int kCommaSeparator = 0;           // FILE_SEP index of the comma
constexpr double kUsb2BulkCeiling = 53.248;  // MB/s: 13 x 512 bytes per 125 us microframe
constexpr uint64_t kRawCycleBytes = uint64_t(ostrel::bufcnt) * ostrel::blocksize;
constexpr double kDefaultSeconds = 5.0;
constexpr double kMaxSeconds = 60.0;
constexpr auto kWatchdogSlack = 60s;  // beyond the streaming time: start, stop, checks
constexpr uint64_t kBytesPerStreamSecond = 1'500'000'000;  // text, generous
constexpr uint64_t kSpareBytes = 1'000'000'000;

std::atomic<bool> interrupted{false};

void onSignal(int) {
    interrupted = true;
}

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// ---------------------------------------------------------------------------------------
// Watchdog: a run that overstays its bound loses its log directory and ends the process.
// ---------------------------------------------------------------------------------------

class Watchdog {
  public:
    Watchdog() : thread_([this](std::stop_token stop) { watch(stop); }) {}

    void arm(const fs::path &directory, Clock::duration bound) {
        std::lock_guard lock(mutex_);
        directory_ = directory;
        deadline_ = Clock::now() + bound;
    }
    void disarm() {
        std::lock_guard lock(mutex_);
        directory_.clear();
    }

  private:
    void watch(const std::stop_token &stop) {
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(100ms);
            std::lock_guard lock(mutex_);
            if (!directory_.empty() && Clock::now() > deadline_) expire();
        }
    }
    void expire() {
        std::fprintf(stderr, "end_to_end_bench: run overstayed its bound; removing %s\n",
                     directory_.c_str());
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
        std::_Exit(3);
    }

    std::mutex mutex_;  // guards directory_ and deadline_
    fs::path directory_;
    Clock::time_point deadline_;
    std::jthread thread_;
};

// ---------------------------------------------------------------------------------------
// Directories
// ---------------------------------------------------------------------------------------

std::string fileSystemName(const fs::path &directory) {
    struct statfs info {};
    if (::statfs(directory.c_str(), &info) != 0) return "?";
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0x01021994UL:
            return "tmpfs";
        case 0xEF53UL:
            return "ext4";
        case 0x58465342UL:
            return "xfs";
        case 0x9123683EUL:
            return "btrfs";
        case 0x794C7630UL:
            return "overlay";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(info.f_type));
            return text;
        }
    }
}

uint64_t freeBytes(const fs::path &directory) {
    struct statvfs info {};
    if (::statvfs(directory.c_str(), &info) != 0) return 0;
    return uint64_t(info.f_bavail) * info.f_frsize;
}

fs::path freshDirectory(const fs::path &base) {
    std::string pattern = (base / "ostrel-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

fs::path programDirectory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
}

// ---------------------------------------------------------------------------------------
// The log file check: record lines, each ended by CR LF.
// ---------------------------------------------------------------------------------------

struct FileCheck {
    bool readable = false;
    uint64_t lines = 0;
    uint64_t bytes = 0;
    uint64_t bareLineFeeds = 0;  // '\n' not preceded by '\r'
    bool endsWithLineEnd = false;
};

FileCheck checkLogFile(const std::string &path) {
    FileCheck check;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return check;
    check.readable = true;
    std::vector<char> buffer(std::size_t(4) << 20);
    char previous = '\0';
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        const char *begin = buffer.data();
        const char *end = begin + n;
        for (const char *p = begin; (p = static_cast<const char *>(std::memchr(p, '\n', end - p)));
             ++p) {
            ++check.lines;
            if ((p == begin ? previous : p[-1]) != '\r') ++check.bareLineFeeds;
        }
        previous = end[-1];
        check.bytes += n;
    }
    check.endsWithLineEnd = previous == '\n';
    std::fclose(file);
    return check;
}

// ---------------------------------------------------------------------------------------
// The headless program, operated as the operator would
// ---------------------------------------------------------------------------------------

std::shared_ptr<ostrel::ui::HeadlessFrontend> headless() {
    return ostrel::ui::headlessFrontend();
}

int toggleValue() {
    const auto state = ostrel::ui::controlState(ostrel::panelHandle, ostrel::meas_start_stop);
    return state ? state->intValue() : -1;
}

bool pressStartStop() {
    return ostrel::ui::operatorPressButton(ostrel::panelHandle, ostrel::meas_start_stop);
}

// The main panel with its measurement callbacks, the module plugged and selected, the
// 32-channel type and logging with commas. False when the module cannot be selected.
bool preparePanel() {
    using namespace ostrel;
    measurement_testing::usePauses({10ms, 30ms, 10ms});
    panelHandle = ui::loadPanel(mainPanelDescription());
    ui::installControlCallback(panelHandle, meas_start_stop, startstop, nullptr);
    ui::installControlCallback(panelHandle, CH_SLIDE, channel_change, nullptr);
    sim::bus().plug(sim::parseSimConfig(kModuleConfig).modules.at(0));
    findModules();
    if (ui::setValue(panelHandle, usbinterface, kModuleName) != ui::UI_OK) return false;
    if (!ui::operatorSelectRingItem(panelHandle, CH_SLIDE, kType32Channel)) return false;
    ui::setValue(panelHandle, LOG_STATE, 1);
    ui::setRingIndex(panelHandle, FILE_SEP, kCommaSeparator);
    return true;
}

void closePanel() {
    using namespace ostrel;
    endMeasurement();
    DiscardTimer(kAllTimers);
    ui::discardPanel(panelHandle.exchange(0));
    sim::bus().unplug(kModuleName);
}

// ---------------------------------------------------------------------------------------
// One run
// ---------------------------------------------------------------------------------------

struct Run {
    fs::path directory;
    std::string fileSystem;
    bool started = false;
    bool stopped = false;
    bool streamed = false;          // the first block arrived
    bool cutShort = false;          // interrupted, or the size cap was reached
    double ringSeconds = 0;         // first block seen .. STOP pressed
    uint64_t ringCycles = 0;        // cycles written by STOP's press
    double startToStopSeconds = 0;  // START returned .. the measurement closed
    uint64_t cycles = 0;            // cycles in the file after STOP
    uint64_t lostFrames = 0;
    std::size_t messages = 0;  // messages the program raised
    FileCheck file;
    uint64_t expectedLines = 0;
};

double rawMegabytesPerSecond(uint64_t cycles, double secondsTaken) {
    return secondsTaken > 0 ? double(cycles * kRawCycleBytes) / secondsTaken / 1e6 : 0.0;
}

bool fileComplete(const Run &run) {
    return run.file.readable && run.file.lines == run.expectedLines &&
           run.file.bareLineFeeds == 0 && run.file.endsWithLineEnd;
}

bool checksHold(const Run &run) {
    return run.started && run.stopped && run.streamed && run.cycles > 0 && fileComplete(run) &&
           run.lostFrames == 0 && run.messages == 0;
}

bool goalReached(const Run &run) {
    return rawMegabytesPerSecond(run.ringCycles, run.ringSeconds) >= kUsb2BulkCeiling;
}

// Waits for the first block of the measurement; false after `limit`.
bool waitForFirstBlock(Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (ostrel::data_received.load() == 0) {
        if (Clock::now() > deadline || interrupted) return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

// Streams for `duration`; ends early on an interrupt or when the file would outgrow `cap`.
void stream(Clock::duration duration, uint64_t cap, Run &run) {
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        if (interrupted || ostrel::loggedCycles() * ostrel::kMaxCycleBytes > cap) {
            run.cutShort = true;
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
}

void measure(Clock::duration duration, uint64_t cap, Run &run) {
    run.started = pressStartStop() && toggleValue() == 1;
    const auto startReturned = Clock::now();
    if (run.started && waitForFirstBlock(10s)) {
        run.streamed = true;
        const auto firstBlock = Clock::now();
        stream(duration, cap, run);
        run.ringCycles = ostrel::loggedCycles();
        run.ringSeconds = seconds(Clock::now() - firstBlock);
    }
    // STOP asks; the measurement completes its cycle and closes itself.
    const bool pressed = !ostrel::measurementOpen() || pressStartStop();
    ostrel::joinAcquisitionThread();
    run.stopped = pressed && toggleValue() == 0;
    ostrel::endMeasurement();
    run.startToStopSeconds = seconds(Clock::now() - startReturned);
    run.cycles = ostrel::loggedCycles();
}

void inspect(Run &run) {
    const uint64_t recordsPerCycle = ostrel::framesPerLoggedCycle(kType32Channel);
    run.expectedLines = 2 + run.cycles * recordsPerCycle;
    run.lostFrames = ostrel::sim::bus().lostFrames(kModuleName);
    run.messages = headless()->messages().size();
    for (const auto &m : headless()->messages()) {
        std::fprintf(stderr, "message: %s: %s\n", m.title.c_str(), m.text.c_str());
    }
    const std::string path = ostrel::logFilePath();
    if (!path.empty()) run.file = checkLogFile(path);
}

Run runIn(const fs::path &base, Clock::duration duration, Watchdog &watchdog) {
    Run run;
    run.fileSystem = fileSystemName(base);
    run.directory = freshDirectory(base);
    if (run.directory.empty()) {
        std::fprintf(stderr, "cannot create a directory under %s: %s\n", base.c_str(),
                     std::strerror(errno));
        return run;
    }
    const uint64_t free = freeBytes(run.directory);
    const uint64_t needed = uint64_t(seconds(duration) * kBytesPerStreamSecond) + kSpareBytes;
    if (free < needed) {
        std::fprintf(stderr, "%s: %.1f GB free, %.1f GB wanted; not run\n", base.c_str(),
                     double(free) / 1e9, double(needed) / 1e9);
    } else {
        watchdog.arm(run.directory, duration + kWatchdogSlack);
        headless()->reset();
        if (preparePanel()) {
            ostrel::ui::setValue(ostrel::panelHandle, ostrel::LOGPATH, run.directory.string());
            measure(duration, free / 2, run);
            inspect(run);
        } else {
            std::fprintf(stderr, "the module %s could not be selected\n", kModuleName);
        }
        closePanel();
    }
    std::error_code ignored;
    fs::remove_all(run.directory, ignored);
    watchdog.disarm();
    return run;
}

// ---------------------------------------------------------------------------------------
// Report
// ---------------------------------------------------------------------------------------

void printHeading() {
    std::printf("%-8s %7s %7s %9s %7s %9s %9s %10s %11s %5s %6s  %s\n", "fs", "ring s", "cycles",
                "raw MB/s", "x USB2", "S..S MB/s", "text MB/s", "lines", "lines want", "lost",
                "result", "directory");
}

void printRun(const Run &run) {
    const double raw = rawMegabytesPerSecond(run.ringCycles, run.ringSeconds);
    const double wholeRun = rawMegabytesPerSecond(run.cycles, run.startToStopSeconds);
    const double text = run.cycles > 0 && run.ringSeconds > 0
                            ? double(run.file.bytes) * double(run.ringCycles) / double(run.cycles) /
                                  run.ringSeconds / 1e6
                            : 0.0;
    const char *result = !checksHold(run) ? "FAIL" : goalReached(run) ? "PASS" : "SLOW";
    std::printf("%-8s %7.2f %7llu %9.1f %7.2f %9.1f %9.1f %10llu %11llu %5llu %6s  %s\n",
                run.fileSystem.c_str(), run.ringSeconds,
                static_cast<unsigned long long>(run.cycles), raw, raw / kUsb2BulkCeiling, wholeRun,
                text, static_cast<unsigned long long>(run.file.lines),
                static_cast<unsigned long long>(run.expectedLines),
                static_cast<unsigned long long>(run.lostFrames), result, run.directory.c_str());
}

void explainFailures(const Run &run) {
    if (!run.started)
        std::printf("  %s: START did not start a measurement\n", run.fileSystem.c_str());
    if (run.started && !run.streamed)
        std::printf("  %s: no block arrived\n", run.fileSystem.c_str());
    if (!run.stopped) std::printf("  %s: STOP did not stop\n", run.fileSystem.c_str());
    if (run.file.bareLineFeeds > 0 || (run.file.readable && !run.file.endsWithLineEnd)) {
        std::printf("  %s: %llu line(s) not ended by CR LF\n", run.fileSystem.c_str(),
                    static_cast<unsigned long long>(run.file.bareLineFeeds));
    }
    if (run.messages > 0)
        std::printf("  %s: the program raised messages\n", run.fileSystem.c_str());
    if (run.cutShort) std::printf("  %s: cut short\n", run.fileSystem.c_str());
}

// ---------------------------------------------------------------------------------------
// Arguments
// ---------------------------------------------------------------------------------------

struct Arguments {
    double seconds = kDefaultSeconds;
    std::vector<fs::path> directories;
    bool valid = true;
};

Arguments parseArguments(int argc, char **argv) {
    Arguments args;
    if (argc > 1) {
        char *end = nullptr;
        args.seconds = std::strtod(argv[1], &end);
        args.valid =
            end != argv[1] && *end == '\0' && args.seconds > 0 && args.seconds <= kMaxSeconds;
    }
    for (int i = 2; i < argc; ++i) args.directories.emplace_back(argv[i]);
    if (args.directories.empty()) args.directories = {"/dev/shm", programDirectory()};
    return args;
}

}  // namespace

int main(int argc, char **argv) {
    const Arguments args = parseArguments(argc, argv);
    if (!args.valid) {
        std::fprintf(stderr, "usage: %s [SECONDS (0 < s <= %.0f) [DIRECTORY ...]]\n", argv[0],
                     kMaxSeconds);
        return 2;
    }
    if (const char *library = std::getenv("OSTREL_MODULE_LIBRARY"); library && *library) {
        std::fprintf(stderr, "OSTREL_MODULE_LIBRARY is set; the simulator would not be used\n");
        return 2;
    }
    ::setenv("OSTREL_SIM", "", 1);  // only the bench's own module on the bus
    headless();                     // this thread is the headless GUI thread
    catchInterrupts();
    Watchdog watchdog;
    const auto duration =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(args.seconds));
    std::vector<Run> runs;
    for (const fs::path &directory : args.directories) {
        if (interrupted) break;
        runs.push_back(runIn(directory, duration, watchdog));
    }
    std::printf("end-to-end: %s, 32 Channel, comma-separated log, %.1f s per directory\n",
                kModuleConfig, args.seconds);
    std::printf(
        "raw MB/s = cycles x %llu bytes / time from the first block to STOP; x USB2 = "
        "ratio to %.3f MB/s; S..S = START..closed\n",
        static_cast<unsigned long long>(kRawCycleBytes), kUsb2BulkCeiling);
    printHeading();
    bool allGood = !runs.empty() && !interrupted;
    for (const Run &run : runs) {
        printRun(run);
        explainFailures(run);
        allGood = allGood && checksHold(run) && goalReached(run) && !run.cutShort;
    }
    std::printf("%s\n", allGood ? "PASS" : "FAIL");
    return allGood ? 0 : 1;
}
