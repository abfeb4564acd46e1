// ostrel-record: recordings without a display, Ctrl-C, and every failure's message and status.
#include <unistd.h>

#include <atomic>
#include <thread>

#include "acquisition/measurement.h"
#include "acquisition/measurement_testing.h"
#include "acquisition/module_discovery.h"
#include "app/record_options.h"
#include "app/recorder.h"
#include "app/replay.h"
#include "app/startup.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "process_support.h"
#include "recording/recording_description.h"
#include "sim/playback.h"
#include "sim/simulated_bus.h"
#include "support/file_size_limit.h"
#include "support/scratch_directory.h"
#include "telemetry/stream_buffers.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"

namespace ostrel::record {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(RecordProgress, OneLineOfTimeCyclesBytesAndRate) {
    EXPECT_EQ(progressLine(65.2, 12, 3'100'000), "00:01:05  12 cycles  3.1 MB  0.05 MB/s");
    EXPECT_EQ(progressLine(3725, 1, 0), "01:02:05  1 cycle  0.0 MB  0.00 MB/s");
    EXPECT_EQ(progressLine(0, 0, 0), "00:00:00  0 cycles  0.0 MB  0.00 MB/s");
}

std::size_t recordLines(const std::string &text) {
    return std::size_t(std::count(text.begin(), text.end(), '\n')) - 2;
}

// Recordings on simulated modules plugged into the process's bus, into a temporary directory.
class Recorder : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { setenv("OSTREL_SIM", "", 1); }
    void SetUp() override { measurement_testing::usePauses({10ms, 30ms, 10ms}); }
    void TearDown() override {
        for (const std::string &name : sim::bus().moduleNames()) sim::bus().unplug(name);
        ui::headlessFrontend()->reset();
        limitLoggedCycles(0);
    }
    void plug(std::string_view config) {
        sim::ModuleConfig module = sim::parseSimConfig(config).modules.at(0);
        ASSERT_EQ(sim::preparePlayback(module), std::nullopt);
        ASSERT_TRUE(sim::bus().plug(module));
    }
    RecordOptions options(std::string module, uint64_t cycles) const {
        RecordOptions o;
        o.module = std::move(module);
        o.type = 1;
        o.speedIndex = 1;
        o.cycles = cycles;
        o.directory = directory.string();
        return o;
    }
    int run(const RecordOptions &o, const std::atomic<int> *interrupt = nullptr) {
        out.str("");
        err.str("");
        RecorderIo io{out, err, false, interrupt};
        return runRecording(o, io);
    }
    std::vector<fs::path> files(std::string_view extension) const {
        return scratch.filesEndingIn(extension);
    }
    fs::path onlyLog() const { return files(".dat").at(0); }
    recording::RecordingDescription description(const fs::path &log) const {
        const auto parsed = recording::readDescription(recording::descriptionPathFor(log));
        EXPECT_TRUE(parsed.description) << parsed.error;
        return parsed.description.value_or(recording::RecordingDescription{});
    }

    const test::ScratchDirectory scratch{"ostrel-record"};
    const fs::path directory = scratch.path();
    std::ostringstream out, err;
};

// The main panel loaded and started as the program starts it, on the headless front end.
int openMainPanel() {
    ui::headlessFrontend()->reset();
    panelHandle = ui::loadPanel(mainPanelDescription());
    attachCallbacks(panelHandle);
    startPanel();
    return panelHandle;
}

// The window's way: the panel operated by hand, START, STOP after `cycles` cycles.
fs::path recordThroughTheWindow(const std::string &module, const fs::path &directory,
                                uint64_t cycles) {
    const int panel = openMainPanel();
    EXPECT_TRUE(ui::operatorSelectRingItem(panel, CH_SLIDE, 1));
    EXPECT_TRUE(ui::operatorSetSwitch(panel, LOG_STATE, 1));
    ui::setValue(panel, LOGPATH, directory.string());
    findModules();
    ui::setValue(panel, usbinterface, module);
    limitLoggedCycles(cycles);
    EXPECT_TRUE(ui::operatorPressButton(panel, meas_start_stop));
    test::waitFor(
        [&] {
            ui::serveMessages();
            return loggedCycles() >= cycles;
        },
        30s, 2ms);
    EXPECT_TRUE(ui::operatorPressButton(panel, meas_start_stop));
    const std::string path = logFilePath();
    discardMainPanel();
    limitLoggedCycles(0);
    return path;
}

TEST_F(Recorder, ARecordingIsTheWindowsRecordingByteForByte) {
    plug("FAST:words=8,pace=fast,seed=3");
    ASSERT_EQ(run(options("FAST", 2)), kStatusOk) << err.str();
    const std::vector<fs::path> recorded = files(".dat");
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(out.str(), recorded[0].string() + "\n") << "the path on standard output";
    const std::string text = test::readFile(recorded[0]);
    EXPECT_EQ(recordLines(text), 2u * 4096);

    const fs::path window = recordThroughTheWindow("FAST", directory, 2);
    ASSERT_NE(window, recorded[0]);
    EXPECT_TRUE(test::readFile(window) == text) << "same header and records";

    const recording::RecordingDescription d = description(recorded[0]);
    EXPECT_EQ(std::tuple(d.module, d.cycles, d.ended, d.separator, description(window).cycles),
              std::tuple("FAST", 2u, recording::MeasurementEnd::stop, ',', 2u));
}

// At 40 kbps the cycle in progress takes 10.4 s to complete: a second Ctrl-C meanwhile stops
// at once, without it, still in order (module and file closed, description completed).
TEST_F(Recorder, ASecondInterruptionStopsAtOnce) {
    plug("SLOW:words=8,kbps=40");
    RecordOptions o = options("SLOW", 1000000);
    o.speedIndex = 0;  // 40 kbps
    std::atomic<int> interrupt{0};
    std::thread operatorPressesCtrlCTwice([&] {
        test::waitFor([] { return data_received.load() != 0; }, 30s, 1ms);
        interrupt = 1;
        std::this_thread::sleep_for(100ms);
        interrupt = 2;
    });
    const auto started = std::chrono::steady_clock::now();
    const int status = run(o, &interrupt);
    operatorPressesCtrlCTwice.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 9s) << "waited for the cycle";
    EXPECT_EQ(status, kStatusNoCycle) << err.str();
    for (const char *told : {"no whole cycle was written (one takes 10.4 s at 40 kbps)",
                             "interrupted again: stopping at once",
                             "Measurement: The measurement was stopped at once: its last, "
                             "incomplete cycle was not written to the log file."}) {
        EXPECT_NE(err.str().find(told), std::string::npos) << err.str();
    }
    const recording::RecordingDescription d = description(onlyLog());
    EXPECT_EQ(std::pair(d.ended, d.cycles), std::pair(recording::MeasurementEnd::interrupted, 0ul));
}

TEST_F(Recorder, SecondsBoundTheRecording) {
    plug("PACED:words=8,kbps=640,pace=20");
    RecordOptions o = options("PACED", 0);
    o.cycles.reset();
    o.seconds = 0.5;
    o.separator = 2;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run(o), kStatusOk) << err.str();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    const recording::RecordingDescription d = description(onlyLog());
    EXPECT_EQ(std::pair(d.ended, d.separator), std::pair(recording::MeasurementEnd::stop, '\t'));
    EXPECT_NE(err.str().find("note: one cycle takes 2.6 s at 160 kbps"), std::string::npos)
        << "a limit shorter than a cycle is told before the start";
}

// Each failure: the window's message on stderr and its own status; nothing left open.
struct Failure {
    const char *name;
    const char *module;  // the simulated module's configuration; its name before the ':'
    int status;
    const char *message;  // after "ostrel-record: "
    enum Cause { theModule, missingDirectory, fullStdout, fileSizeLimit, directoryRemoved } cause;
};

class RecordingFailure : public Recorder, public ::testing::WithParamInterface<Failure> {};

TEST_P(RecordingFailure, HasItsMessageAndStatus) {
    const Failure &f = GetParam();
    const std::string config = f.module, module = config.substr(0, config.find(':'));
    if (module != "ABSENT") plug(config);
    RecordOptions o = options(module, 5);
    if (f.cause == Failure::missingDirectory) o.directory = (directory / "gone").string();
    std::ostream full(nullptr);  // as `ostrel-record > /dev/full`: every output fails
    RecorderIo io{f.cause == Failure::fullStdout ? full : out, err, false, nullptr};
    // A log directory removed while it records: the writes to its file go on succeeding.
    const fs::path inner = directory / "runs";
    std::jthread remover;
    if (f.cause == Failure::directoryRemoved) {
        fs::create_directory(inner);
        o.cycles.reset();
        o.seconds = 120;
        o.directory = inner.string();
        remover = std::jthread([&] {
            std::error_code ignored;
            if (test::waitFor([&] { return !fs::is_empty(inner, ignored); }, 60s, 10ms))
                fs::remove_all(inner, ignored);
        });
    }
    int status = -1;
    {  // two cycles of 8 words and a part of the third
        const test::FileSizeLimit limit(f.cause == Failure::fileSizeLimit ? 400'000
                                                                          : RLIM_INFINITY);
        ASSERT_TRUE(limit.applied());
        status = runRecording(o, io);
    }
    if (remover.joinable()) remover.join();
    EXPECT_EQ(status, f.status);
    EXPECT_NE(err.str().find(std::string("ostrel-record: ") + f.message), std::string::npos)
        << err.str();
    EXPECT_FALSE(measurementOpen());
    EXPECT_EQ(log_file_open, 0);
    switch (f.cause) {
        case Failure::missingDirectory:
            EXPECT_NE(err.str().find("Log directory: " + *o.directory + " (given with --dir)"),
                      std::string::npos)
                << "the message names the directory: " << err.str();
            break;
        case Failure::fullStdout:
            EXPECT_NE(err.str().find(f.message + onlyLog().string()), std::string::npos);
            break;
        case Failure::fileSizeLimit: {  // the whole cycles written, and the end described
            const recording::RecordingDescription d = description(onlyLog());
            EXPECT_EQ(d.ended, recording::MeasurementEnd::writeError);
            EXPECT_EQ(recordLines(test::readFile(onlyLog())), d.cycles * 4096);
            break;
        }
        case Failure::directoryRemoved:
            EXPECT_EQ(err.str().find("description"), std::string::npos) << err.str();
            EXPECT_EQ(out.str(), "") << "no path of a file that is gone";
            break;
        case Failure::theModule:
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RecordingFailure,
    ::testing::Values(
        // clang-format off
        Failure{"Absent", "ABSENT", kStatusModule, "USB Error: Can't open USB module", Failure::theModule},
        Failure{"OpenFails", "SHUT:openfail", kStatusModule, "USB Error: Can't open USB module", Failure::theModule},
        Failure{"NotInSync", "DEAF:words=8,nosync", kStatusModule, "USB Error: Telemetry not in sync", Failure::theModule},
        Failure{"TransferFails", "BROKEN:words=8,pace=fast,failblock=20", kStatusTransfer, "USB Error: Data transfer error from USB module", Failure::theModule},
        Failure{"MissingDirectory", "FAST:words=8,pace=fast", kStatusLogPath, "Path Error: Directory Does Not Exist", Failure::missingDirectory},
        Failure{"FullStandardOutput", "FAST:words=8,pace=fast", kStatusWriteError, "cannot write the log file's path to standard output: ", Failure::fullStdout},
        Failure{"FileSizeLimit", "FAST:words=8,pace=fast", kStatusWriteError, "Log Error: Writing the log file failed", Failure::fileSizeLimit},
        Failure{"RemovedLogDirectory", "RT:words=8,kbps=640,pace=4", kStatusWriteError, "Log Error: The log file is no longer in the log directory", Failure::directoryRemoved}),
    // clang-format on
    [](const ::testing::TestParamInfo<Failure> &info) { return std::string(info.param.name); });

// --list: the modules in order; the module library's messages begin with the program's name.
TEST_F(Recorder, ListShowsTheModulesInOrderAndTellsAMalformedOneUnderTheProgramsName) {
    const std::string command = "OSTREL_SIM='ONE;BAD:words=3;TWO:words=4' " +
                                std::string(OSTREL_RECORD_PROGRAM) + " --list 2>&1";
    int status = -1;
    const std::string output = test::commandOutput(command, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output.rfind("ostrel-record: OSTREL_SIM is malformed", 0), 0u) << output;
    EXPECT_TRUE(output.ends_with("\nONE\nTWO\n")) << output;
}

// The real program: the description kept up ("running", never more cycles than the file
// holds), seen with it held as a kill -9 leaves it; then a SIGINT ends it cleanly.
TEST_F(Recorder, TheProgramsDescriptionKeepsUpAndASigintEndsItCleanly) {
    const uint64_t cyclesBeforeTheHold = 4;  // brought up to date more than once
    const pid_t child =
        test::spawnProgram({OSTREL_RECORD_PROGRAM, "--module", "RT", "--type", "32ch", "--speed",
                            "640", "--seconds", "60", "--dir", directory.string()},
                           {{"OSTREL_SIM", "RT:words=32,kbps=640,pace=4"}});
    ASSERT_GT(child, 0);
    recording::RecordingDescription seen;
    const bool upToDate = test::waitFor(
        [&] {
            const std::vector<fs::path> logs = files(".dat");
            const auto parsed =
                logs.empty() ? recording::ParsedDescription{}
                             : recording::readDescription(recording::descriptionPathFor(logs[0]));
            if (parsed.description) seen = *parsed.description;
            return seen.cycles >= cyclesBeforeTheHold;
        },
        60s, 20ms);
    if (!upToDate) {
        ::kill(child, SIGKILL);
        test::waitForEnd(child);
        FAIL() << "not brought up to date";
    }
    ::kill(child, SIGSTOP);
    const recording::RecordingDescription held = description(onlyLog());
    const std::size_t heldRecords = recordLines(test::readFile(onlyLog()));
    ::kill(child, SIGCONT);
    ::kill(child, SIGINT);
    const int status = test::waitForEnd(child);
    EXPECT_EQ(held.ended, recording::MeasurementEnd::running);
    EXPECT_LE(held.cycles * 1024, heldRecords) << "claims more than the file";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const recording::RecordingDescription d = description(onlyLog());
    EXPECT_EQ(d.ended, recording::MeasurementEnd::interrupted);
    EXPECT_GE(d.cycles, held.cycles);
    EXPECT_EQ(recordLines(test::readFile(onlyLog())), d.cycles * 1024);
}

// ostrel --replay: the recording's module at the top of the ring, its type and speed chosen.
TEST_F(Recorder, ReplayPlugsTheRecordingAtTheTopWithItsTypeAndSpeed) {
    plug("STEER:signal=steering,pace=fast");
    RecordOptions o = options("STEER", 1);
    o.type = 5;
    o.speedIndex = 3;
    ASSERT_EQ(run(o), kStatusOk) << err.str();
    const fs::path recorded = onlyLog();

    const std::string name = recorded.filename().string();
    const ReplayResult replay = addReplayModule(recorded.string());
    ASSERT_TRUE(replay.setup) << replay.problem;
    EXPECT_EQ(std::tuple(replay.setup->moduleName, replay.setup->type, replay.setup->speedIndex,
                         sim::bus().moduleNames().front()),
              std::tuple(name, 5, std::optional<int>(3), name));
    openMainPanel();
    applyReplaySetup(panelHandle, *replay.setup);
    int type = -1;
    std::string module;
    ui::getRingIndex(panelHandle, CH_SLIDE, &type);
    ui::getValue(panelHandle, usbinterface, &module);
    EXPECT_EQ(std::pair(type, module), std::pair(5, name));
    discardMainPanel();

    const fs::path foreign = directory / "photo.dat";
    std::ofstream(foreign, std::ios::binary) << "\x89PNG\r\n\x1a\n";
    const ReplayResult refused = addReplayModule(foreign.string());
    EXPECT_FALSE(refused.setup);
    EXPECT_NE(refused.problem.find(foreign.string() + ": line 1"), std::string::npos)
        << refused.problem;
    EXPECT_EQ(sim::bus().moduleNames().size(), 2u) << "nothing plugged for it";
}

// A playback module streams frames of its recording's type at its speed: those are what the
// recorder takes, and a command line that says otherwise is refused before anything is written.
TEST_F(Recorder, APlaybackModuleRecordsWithItsRecordingsTypeAndSpeed) {
    plug("FAST:words=8,pace=fast,seed=5");
    RecordOptions source = options("FAST", 1);
    source.speedIndex = 3;
    ASSERT_EQ(run(source), kStatusOk) << err.str();
    const fs::path recorded = onlyLog();
    plug("P:file=" + recorded.string() + ",pace=fast");
    const struct {
        int type, speedIndex, status;
        std::string message;
    } rows[] = {
        {-1, -1, kStatusOk, ""},
        {1, 3, kStatusOk, ""},
        {0, -1, kStatusUsage, "--type 4ch contradicts the recording played back, which is 8ch"},
        {4, -1, kStatusUsage, "--type steer-car-100 contradicts the recording played back"},
        {-1, 0, kStatusUsage,
         "--speed 40 contradicts the recording played back, which was made at 640 kbps"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.message);
        RecordOptions o = options("P", 1);
        o.type = row.type;
        o.speedIndex = row.speedIndex;
        const auto before = files(".dat");
        EXPECT_EQ(run(o), row.status) << err.str();
        EXPECT_NE(err.str().find(row.message), std::string::npos) << err.str();
        const auto after = files(".dat");
        if (row.status != kStatusOk) {
            EXPECT_EQ(after, before) << "nothing is written";
            continue;
        }
        const recording::RecordingDescription d = description(after.back());
        EXPECT_EQ(std::pair(d.typeIndex, d.speedKbps), std::pair(1, 640));
        const std::string played = test::readFile(after.back()),
                          original = test::readFile(recorded);
        EXPECT_EQ(played.substr(played.find('\n')), original.substr(original.find('\n')));
    }
}

// A disk that fills up while the recorder is held (a tmpfs in a private mount namespace):
// the file keeps its whole cycles, the description says "write error" and how many.
TEST_F(Recorder, AFullDiskStillLeavesTheTrueEndAndCycleCount) {
    if (std::system("unshare -Urm true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    const std::string script = R"sh(
set -u
d="$OUT/disk"; mkdir "$d"
mount -t tmpfs -o size=8m tmpfs "$d" || exit 90
OSTREL_SIM='RT:words=8,kbps=640,pace=4' "$RECORDER" --module RT --type 8ch --speed 640 \
    --seconds 60 --dir "$d" >"$OUT/stdout" 2>"$OUT/stderr" &
pid=$!
for i in $(seq 3000); do
    f=$(ls "$d"/*.dat 2>/dev/null | head -n 1)
    [ -n "$f" ] && [ "$(stat -c %s "$f")" -ge 400000 ] && break
    sleep 0.01
done
kill -STOP $pid
cat /dev/zero >"$d/filler" 2>/dev/null
kill -CONT $pid
wait $pid
echo $? >"$OUT/status"
rm -f "$d/filler"
cp "$d"/jex-log-* "$OUT"/
)sh";
    const auto shellWord = [](const std::string &text) {
        std::string q = "'";
        for (const char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    const std::string command = "OUT=" + shellWord(directory.string()) +
                                " RECORDER=" + shellWord(OSTREL_RECORD_PROGRAM) +
                                " unshare -Urm sh -c " + shellWord(script);
    const int shell = std::system(command.c_str());
    if (WIFEXITED(shell) && WEXITSTATUS(shell) == 90) GTEST_SKIP() << "tmpfs cannot be mounted";
    const std::string stderrText = test::readFile(directory / "stderr");
    EXPECT_EQ(test::readFile(directory / "status"), std::to_string(kStatusWriteError) + "\n")
        << stderrText;
    EXPECT_NE(stderrText.find("No space left on device"), std::string::npos) << stderrText;
    ASSERT_EQ(files(".dat").size(), 1u);
    const recording::RecordingDescription d = description(onlyLog());
    EXPECT_EQ(d.ended, recording::MeasurementEnd::writeError);
    EXPECT_GE(d.cycles, 2u);
    EXPECT_EQ(recordLines(test::readFile(onlyLog())), d.cycles * 4096);
}

// A test rig's script marks its steps: each line on the input sets a labelled marker (its CR
// LF taken off), each SIGUSR1 an unlabelled one; the description lists them, stderr tells them.
TEST_F(Recorder, InputLinesAndSignalsSetMarkers) {
    plug("MARKS:words=8,kbps=640,pace=4");
    int lines[2];
    ASSERT_EQ(::pipe(lines), 0);
    std::atomic<int> signals{0};
    std::thread rig([&] {
        ASSERT_TRUE(test::waitFor([] { return measurementOpen(); }));
        const std::string script = "curve entered\r\nbrake, hard\n";
        ASSERT_EQ(::write(lines[1], script.data(), script.size()), ssize_t(script.size()));
        signals.fetch_add(1);
    });
    RecordOptions o = options("MARKS", 6);
    o.speedIndex = 3;
    out.str("");
    err.str("");
    RecorderIo io{out, err, false, nullptr, &signals, lines[0]};
    const int status = runRecording(o, io);
    rig.join();
    ::close(lines[0]);
    ::close(lines[1]);
    ASSERT_EQ(status, kStatusOk) << err.str();
    std::vector<recording::RecordingMarker> markers = description(onlyLog()).markers;
    std::sort(markers.begin(), markers.end(),
              [](const auto &a, const auto &b) { return a.label < b.label; });
    std::vector<std::string> labels;
    for (const auto &m : markers) labels.push_back(m.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"", "brake, hard", "curve entered"}));
    EXPECT_NE(err.str().find("ostrel-record: marker "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(": curve entered\n"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace ostrel::record
