// Whole measurements through the headless runtime on simulated modules: START,
// data, STOP, the log file byte for byte, and every way a measurement ends.
#include <ostream>
#include <regex>

#include "measurement_test_support.h"
#include "support/file_size_limit.h"

namespace ostrel::test {
namespace {

struct LoggedType {
    int type;
    int separatorIndex;  // 0 comma, 1 tab
    const char *module;
    std::string timeBase;
};

std::ostream &operator<<(std::ostream &out, const LoggedType &c) {
    return out << "type " << c.type << " on " << c.module;
}

class LoggedMeasurement : public Measuring, public ::testing::WithParamInterface<LoggedType> {};

// START, at least two cycles, STOP: the header byte for byte, whole cycles of
// records equal to the words the module sent, and everything closed again.
TEST_P(LoggedMeasurement, WritesTheHeaderAndWholeCyclesOfTheWordsSent) {
    const LoggedType &c = GetParam();
    use(c.module);
    selectType(c.type);
    logging(1, c.separatorIndex);
    press();
    ASSERT_EQ(toggle(), 1);
    EXPECT_TRUE(dimmed(CH_SLIDE));
    EXPECT_TRUE(dimmed(usbinterface));
    EXPECT_TRUE(dimmed(SPEED_SLIDE)) << "the time base of the log and the charts stays";
    // What START latched stays: the separator and the logging switch changed now change
    // nothing of this file.
    EXPECT_TRUE(ui::operatorSelectRingItem(panelHandle, FILE_SEP, 1 - c.separatorIndex));
    EXPECT_TRUE(ui::operatorSetSwitch(panelHandle, LOG_STATE, 0));
    ASSERT_TRUE(waitFor([] { return loggedCycles() >= 2; }));
    press();
    expectIdle();
    EXPECT_EQ(dimmed(SPEED_SLIDE), isSteeringType(c.type));
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(timerAlive(timerID_Modules)) << "the scan is back";
    EXPECT_TRUE(moduleIsClosed(simModule(c.module).name));

    EXPECT_TRUE(std::regex_match(logFiles().at(0).filename().string(),
                                 std::regex(R"(jex-log-\d{14}\.dat)")));
    const LogFileCheck file = checkTheLogFile({.type = c.type,
                                               .separator = c.separatorIndex == 0 ? ',' : '\t',
                                               .timeBase = c.timeBase,
                                               .module = simModule(c.module)});
    EXPECT_GE(file.cycles, 2u);
    EXPECT_EQ(file.cycles, loggedCycles());
}

INSTANTIATE_TEST_SUITE_P(
    PlainAndSteering, LoggedMeasurement,
    ::testing::Values(LoggedType{1, 0, "M8:words=8,pace=fast", "637.50"},
                      LoggedType{0, 1, "M4:words=4,pace=fast", "318.75"},
                      LoggedType{3, 1, "M32:words=32,pace=fast", "2550.00"},
                      LoggedType{5, 0, "STEER:signal=steering,pace=fast", "637.50"},
                      LoggedType{9, 1, "STEER:signal=steering,pace=fast", "637.50"}));

TEST_F(Measuring, LiveValuesAppearOnlyAfterTheFirstBlock) {
    use("SLOW:words=8,kbps=160,stall=0");  // in sync, but no block ever arrives
    press();
    std::this_thread::sleep_for(300ms);  // three refreshes would have run
    EXPECT_EQ(text(channel_1), "") << "nothing shown before the first block";
    EXPECT_EQ(ui::controlState(panelHandle, CHART)->chart.total, 0u);
    ASSERT_TRUE(waitFor([&] { return !messages().empty(); })) << "the wait times out";
    joinAcquisitionThread();  // its own complete stop has ended
    EXPECT_EQ(messages()[0].text, "Data transfer error from USB module");
    expectIdle();
}

// The disk fills up (here: the file size limit) while data flows: the file
// keeps whole cycles, the operator is told once, the display goes on.
TEST_F(Measuring, AWriteFailureKeepsWholeCyclesAndTheDisplayRunning) {
    bool told = false, displayGoesOn = false;
    {
        const FileSizeLimit limit(1'000'000);  // about five 8-channel cycles
        ASSERT_TRUE(limit.applied());
        use("M8:words=8,pace=fast");
        logging(1);
        press();
        told = waitFor([&] { return !messages().empty(); });
        const uint64_t pointsAtNotice = ui::controlState(panelHandle, CHART)->chart.total;
        displayGoesOn = waitFor(
            [&] { return ui::controlState(panelHandle, CHART)->chart.total > pointsAtNotice + 2; });
        press();
    }
    ASSERT_TRUE(told);
    EXPECT_TRUE(displayGoesOn);
    ASSERT_EQ(messages().size(), 1u) << "told once";
    EXPECT_EQ(messages()[0].title, "Log Error");
    expectIdle();
    const LogFileCheck file = checkTheLogFile({});  // cut back to its last whole cycle
    EXPECT_GE(file.cycles, 1u);
    EXPECT_NE(messages()[0].text.find(std::to_string(file.cycles) + " whole cycles"),
              std::string::npos)
        << messages()[0].text;
}

// --- How a start fails ------------------------------------------------------

TEST_F(Measuring, MissingDirectoryRefusesTheStartOnlyWithLoggingOn) {
    use("M8:words=8,pace=fast");
    ui::setValue(panelHandle, LOGPATH, (directory / "missing").string());
    logging(1);
    press();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].title, "Path Error");  // its text: the log file tests
    expectIdle();
    EXPECT_TRUE(timerAlive(timerID_Modules)) << "the scan keeps running";
    EXPECT_TRUE(moduleIsClosed("M8")) << "never opened";

    logging(0);
    press();
    EXPECT_EQ(toggle(), 1) << "without logging the directory is not looked at";
    ASSERT_TRUE(waitFor([&] { return ui::controlState(panelHandle, CHART)->chart.total >= 3; }));
    const std::string value = text(channel_1);  // the live values follow the stream
    EXPECT_TRUE(std::regex_match(value, std::regex(R"( *-?\d+\.\d\d %)"))) << value;
    EXPECT_EQ(value.size(), 9u);
    EXPECT_EQ(text(panel_rings[8]), "") << "channel 9 is not written";
    press();
    expectIdle();
}

struct FailedStart {
    const char *module;  // nullptr: none plugged
    bool failAllocation;
    const char *title;
    const char *text;
    bool scanBack;  // a failed open leaves the scan off until the next normal stop
};

std::ostream &operator<<(std::ostream &out, const FailedStart &c) {
    return out << (c.module != nullptr ? c.module : "no module") << ": " << c.text;
}

class StartFailure : public Measuring, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(StartFailure, TellsTheOperatorAndLeavesNothingOpen) {
    const FailedStart &c = GetParam();
    if (c.module != nullptr) use(c.module);
    if (c.failAllocation) measurement_testing::failNextBufferAllocation();
    logging(1);
    const int closes = measurement_testing::closesSoFar();
    press();
    ASSERT_TRUE(waitFor([&] { return !messages().empty() && !measurementOpen(); }));
    joinAcquisitionThread();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], (ui::RecordedMessage{c.title, c.text}));
    expectIdle();
    EXPECT_EQ(timerAlive(timerID_Modules), c.scanBack);
    EXPECT_LE(measurement_testing::closesSoFar() - closes, 1);
    if (c.module != nullptr && !simModule(c.module).faults.openFails) {
        EXPECT_TRUE(moduleIsClosed(simModule(c.module).name));
    }
    const std::vector<fs::path> files = logFiles();
    ASSERT_EQ(files.size(), 1u) << "the prepared file stays, closed, with its header";
    EXPECT_EQ(lines(contents(files[0])).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPath, StartFailure,
    ::testing::Values(
        FailedStart{nullptr, false, "USB Error", "Can't open USB module", false},
        FailedStart{"BAD:openfail", false, "USB Error", "Can't open USB module", false},
        FailedStart{"NOSYNC:nosync", false, "USB Error", "Telemetry not in sync", false},
        FailedStart{"M8:pace=fast", true, "USB Error", "Not enough memory for the transfer buffers",
                    true},
        FailedStart{"QF:pace=fast,queuefail=1", false, "USB Error",
                    "Data transfer error from USB module", true},
        FailedStart{"QF5:pace=fast,queuefail=5", false, "USB Error",
                    "Data transfer error from USB module", true}));

// --- How a running measurement fails -----------------------------------------

class TransferFailure : public Measuring, public ::testing::WithParamInterface<const char *> {};

TEST_P(TransferFailure, EndsWithTheMessageTheCompleteStopAndWholeCycles) {
    runUntilItEnds(GetParam(), 60s);
    EXPECT_EQ(
        messages(),
        (std::vector<ui::RecordedMessage>{{"USB Error", "Data transfer error from USB module"}}));
    EXPECT_TRUE(timerAlive(timerID_Modules));
    checkTheLogFile({.module = simModule(GetParam())});
}

INSTANTIATE_TEST_SUITE_P(EveryFault, TransferFailure,
                         ::testing::Values("FAIL:pace=fast,failblock=20",
                                           "FIRST:pace=fast,failblock=1",
                                           "GONE:kbps=4000,unplug=500ms",
                                           "STALL:pace=fast,stall=20"));

}  // namespace
}  // namespace ostrel::test
