// The log file: its name, its header, the records of a cycle, and what happens when the
// file cannot be created or written. Each test runs in its own temporary directory, at a
// fixed start time (15 March 2013 09:05:07, TZ=UTC).
#include "logging/log_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "logging/log_description.h"
#include "logging/log_header.h"
#include "logging/record_writer.h"
#include "panel/ostrel_panel.h"
#include "recording/recording_description.h"
#include "support/file_size_limit.h"
#include "support/log_file_check.h"
#include "support/process_counters.h"
#include "support/scratch_directory.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "ui/headless.h"
#include "ui/panel.h"

namespace ostrel {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::time_t kStartTime = 1363338307;  // 15.03.2013 09:05:07 UTC
constexpr const char *kStamp = "15032013090507";

using test::descriptorCount;
using test::FileSizeLimit;
using test::readFile;

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char *tz = std::getenv("TZ")) previousTz = tz;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        ui::headlessFrontend()->reset();
        panelHandle = ui::loadPanel(mainPanelDescription());
        setLogClock([] { return kStartTime; });
        configure(0, 0, 1, temp, true);
    }
    void TearDown() override {
        closeLogFile();
        setLogClock(nullptr);
        channel_index = default_telemetry_type;
        ui::discardPanel(panelHandle.exchange(0));
        ui::headlessFrontend()->reset();
        previousTz ? ::setenv("TZ", previousTz->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

    // The settings START reads: telemetry type, speed ring position, FILE_SEP value,
    // LOGPATH and LOG_STATE.
    void configure(int type, int speedIndex, int separator, const std::string &directory,
                   bool logOn) {
        channel_index = type;
        ui::setRingIndex(panelHandle, SPEED_SLIDE, speedIndex);
        ui::setValue(panelHandle, FILE_SEP, separator);
        ui::setValue(panelHandle, LOGPATH, directory);
        ui::setValue(panelHandle, LOG_STATE, logOn ? 1 : 0);
    }
    std::string nameIn(const std::string &directory, const std::string &suffix = "") const {
        return directory + "/jex-log-" + kStamp + suffix + ".dat";
    }
    std::vector<ui::RecordedMessage> messages() const { return ui::headlessFrontend()->messages(); }
    std::vector<std::string> filesInTemp() const { return scratch.entries(); }
    void expectOneMessage(const char *title, const std::vector<std::string> &mentioning) {
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_EQ(messages()[0].title, title);
        for (const std::string &part : mentioning) {
            EXPECT_NE(messages()[0].text.find(part), std::string::npos)
                << "\"" << part << "\" not in: " << messages()[0].text;
        }
    }

    std::optional<std::string> previousTz;
    const test::ScratchDirectory scratch{"ostrel-log"};
    const std::string temp = scratch.path();
};

// The header of each kind of type at the speeds of the ring (a steering type logs at 640 kbps
// whatever the ring shows), with the file's separator.
TEST_F(LogFile, HeaderLinesPerTypeSpeedAndSeparator) {
    const struct {
        int type, speedIndex, separator;
        const char *timeBase;
        uint64_t blocks;
    } cases[] = {{0, 0, 1, "1275.00", 8192}, {0, 2, 2, "159.38", 8192},  {0, 3, 1, "79.69", 8192},
                 {1, 3, 1, "159.38", 4096},  {2, 0, 2, "5100.00", 2048}, {3, 3, 2, "637.50", 1024},
                 {4, 3, 1, "637.50", 1024},  {9, 3, 2, "637.50", 1024}};
    for (const auto &c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " speed " + std::to_string(c.speedIndex));
        configure(c.type, c.speedIndex, c.separator, temp, true);
        ASSERT_EQ(log_data_info(), 0);
        EXPECT_EQ(log_file_open, 1);
        EXPECT_EQ(channel_blocks, c.blocks);
        EXPECT_EQ(file_separator, c.separator);
        const std::string path = logFilePath();
        closeLogFile();
        const test::LogFileCheck check = test::checkLogFile(
            path,
            {.type = c.type, .separator = c.separator == 1 ? ',' : '\t', .timeBase = c.timeBase});
        EXPECT_TRUE(check.ok()) << check.text();
        EXPECT_EQ(check.records, 0u);
        fs::remove(path);
    }
    EXPECT_EQ(logFilePath(), nameIn(temp)) << "the same second reuses the name once it is free";
    EXPECT_TRUE(messages().empty());
}

// The cycle buffer is allocated once at kMaxCycleBytes: the widest text of every type fits.
TEST(FormatCycle, WidestCycleOfEveryTypeFitsTheCycleBuffer) {
    const std::vector<uint16_t> widest(LOGCOUNT, 65535);
    std::vector<char> out(kMaxCycleBytes);
    for (const int perRecord : {4, 8, 16, 32}) {
        const std::size_t size =
            formatCycle(widest.data(), LOGCOUNT / perRecord, perRecord, '\t', out.data());
        EXPECT_EQ(size, LOGCOUNT * 6 + LOGCOUNT / perRecord);
        EXPECT_LE(size, kMaxCycleBytes);
    }
}

// A missing directory stops the start, the choices still latched (with logging off the
// directory is not looked at: Measuring.MissingDirectoryRefusesTheStartOnlyWithLoggingOn).
TEST_F(LogFile, MissingDirectory) {
    configure(1, 1, 2, temp + "/absent", true);
    EXPECT_EQ(log_data_info(), 1);
    EXPECT_EQ(file_separator, 2);
    EXPECT_EQ(channel_blocks, 4096u);
    EXPECT_EQ(log_file_open, 0);
    EXPECT_EQ(logFilePath(), "");
    EXPECT_TRUE(filesInTemp().empty());
    expectOneMessage("Path Error", {});
    EXPECT_EQ(messages()[0].text,
              "Directory Does Not Exist\nPlease Create A Directory And Start Again\n"
              "Log directory: " +
                  temp + "/absent");
}

TEST_F(LogFile, EveryNameOfTheSecondTakenRefusesTheStart) {
    std::ofstream(nameIn(temp)) << "old";
    for (int n = 2; n <= kMaxLogNameAttempts; ++n) {
        std::ofstream(nameIn(temp, "-" + std::to_string(n))) << "old";
    }
    const int descriptors = descriptorCount();
    EXPECT_EQ(log_data_info(), 1);
    expectOneMessage("Path Error", {nameIn(temp), "-100"});
    EXPECT_EQ(log_file_open, 0);
    EXPECT_EQ(descriptorCount(), descriptors);
    EXPECT_EQ(filesInTemp().size(), std::size_t(kMaxLogNameAttempts));
    for (const std::string &name : filesInTemp()) EXPECT_EQ(readFile(temp + "/" + name), "old");
}

// A file the system will not create, or whose header it will not write, refuses the start,
// naming the whole file and the system's reason; nothing is created or left open.
TEST_F(LogFile, UncreatableFileRefusesTheStart) {
    std::ofstream(temp + "/plain.txt") << "x";
    struct Case {
        std::string directory, shownName, reason;
        rlim_t sizeLimit = RLIM_INFINITY;
    };
    const std::string tooLong = temp + "/" + std::string(300, 'd');
    const Case cases[] = {
        {temp + "/plain.txt/logs", nameIn(temp + "/plain.txt/logs"), "Not a directory"},
        {temp + "/plain.txt", nameIn(temp + "/plain.txt"), "Not a directory"},
        {tooLong, nameIn(tooLong), "File name too long"},
        {temp + "\0/x"s, nameIn(temp + "\\0/x"), "zero byte"},
        {temp, nameIn(temp), "File too large", 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reason);
        ui::headlessFrontend()->reset();
        configure(0, 0, 1, c.directory, true);
        const int descriptors = descriptorCount();
        {
            const FileSizeLimit limit(c.sizeLimit);
            EXPECT_EQ(log_data_info(), 1);
        }
        expectOneMessage("Path Error", {c.shownName, c.reason});
        EXPECT_EQ(log_file_open, 0);
        EXPECT_EQ(descriptorCount(), descriptors);
        EXPECT_EQ(logFilePath(), "");
        EXPECT_EQ(filesInTemp(), std::vector<std::string>{"plain.txt"});
    }
}

// No fixed-size name buffer: a name longer than 260 bytes that the system accepts is used
// whole.
TEST_F(LogFile, LongNameIsUsedWhole) {
    const std::string directory = temp + "/" + std::string(240, 'd');
    fs::create_directory(directory);
    configure(0, 0, 1, directory, true);
    ASSERT_EQ(log_data_info(), 0);
    EXPECT_EQ(logFilePath(), nameIn(directory));
    EXPECT_GT(logFilePath().size(), 260u);
    closeLogFile();
    EXPECT_EQ(readFile(nameIn(directory)), "Time-Base: 1275.00us,,,\r\nCh1,Ch2,Ch3,Ch4\r\n");
}

// The file reaches the size limit in its third cycle: it is cut back to two whole cycles,
// the operator is told once without the writer waiting, nothing more is written, and the
// description says the recording ended with the write error, whatever the STOP after it.
TEST_F(LogFile, FailedWriteKeepsWholeCyclesAndTellsOnce) {
    dataout.fill(12345);
    const std::size_t cycle = 8192 * std::string("12345,12345,12345,12345\r\n").size();
    ASSERT_EQ(log_data_info(), 0);
    const std::size_t header = fs::file_size(logFilePath());
    ui::headlessFrontend()->holdMessages();  // a waiting message would hang the writer
    {
        const FileSizeLimit limit(header + 2 * cycle + cycle / 2);
        ASSERT_TRUE(limit.applied());
        std::thread acquisition([] {
            for (int i = 0; i < 4; ++i) writeDataToFileRaw();
        });
        acquisition.join();
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (log_to_file == 1 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);  // the writer thread meets the limit
        }
    }
    EXPECT_EQ(log_to_file, 0);
    EXPECT_EQ(loggedCycles(), 2u);
    EXPECT_EQ(fs::file_size(logFilePath()), header + 2 * cycle);
    writeDataToFileRaw();
    EXPECT_EQ(fs::file_size(logFilePath()), header + 2 * cycle) << "stopped for the run";
    expectOneMessage("Log Error", {logFilePath(), "File too large", "2 whole cycles"});
    EXPECT_EQ(log_file_open, 1) << "still closed by the stop";
    noteMeasurementEnd(recording::MeasurementEnd::stop);  // the STOP after it
    closeLogFile();
    const std::string file = readFile(logFilePath());
    EXPECT_EQ(file.substr(file.size() - 26), "\n12345,12345,12345,12345\r\n");
    const auto parsed = recording::readDescription(recording::descriptionPathFor(logFilePath()));
    ASSERT_TRUE(parsed.description) << parsed.error;
    EXPECT_EQ(parsed.description->ended, recording::MeasurementEnd::writeError) << "it ended so";
    EXPECT_EQ(parsed.description->cycles, 2u);
}

// The stop may close twice; a start closes a file an aborted start left open, and a start in
// the same second gets a file of its own.
TEST_F(LogFile, CloseTwiceIsSafeAndAStartClosesALeftOpenFile) {
    const int descriptors = descriptorCount();
    ASSERT_EQ(log_data_info(), 0);
    EXPECT_EQ(descriptorCount(), descriptors + 1);
    ASSERT_EQ(log_data_info(), 0);
    EXPECT_EQ(logFilePath(), nameIn(temp, "-2"));
    EXPECT_EQ(descriptorCount(), descriptors + 1);
    closeLogFile();
    closeLogFile();
    EXPECT_EQ(log_file_open, 0);
    EXPECT_EQ(descriptorCount(), descriptors);
    writeDataToFileRaw();
    EXPECT_EQ(loggedCycles(), 0u);
    EXPECT_EQ(readFile(nameIn(temp, "-2")), "Time-Base: 1275.00us,,,\r\nCh1,Ch2,Ch3,Ch4\r\n");
    EXPECT_EQ(readFile(nameIn(temp)), readFile(nameIn(temp, "-2")));
    EXPECT_TRUE(messages().empty());
}

// The description beside the log file: written at START with the stop fields empty, completed
// when the file closes with the cycles, the end and the lost frames.
TEST_F(LogFile, DescriptionIsWrittenAtStartAndCompletedAtClose) {
    using recording::MeasurementEnd;
    configure(1, 1, 2, temp, true);
    ui::replaceRingItems(panelHandle, usbinterface, {{"SIM-8CH", std::string("SIM-8CH")}});
    dataout.fill(0x8000);
    ASSERT_EQ(log_data_info(), 0);
    log_description::publishStart();  // as the acquisition thread does before its first read
    const std::string jsonPath = temp + "/jex-log-" + kStamp + ".json";
    recording::RecordingDescription expected{.programVersion = OSTREL_VERSION,
                                             .logFile = "jex-log-"s + kStamp + ".dat",
                                             .module = "SIM-8CH",
                                             .typeIndex = 1,
                                             .typeText = " 8 Channel",
                                             .speedKbps = 160,
                                             .timeBaseMicros = 637.5,
                                             .channelCount = 8,
                                             .separator = '\t',
                                             .columns = logColumnNames(1),
                                             .startTime = "2013-03-15T09:05:07+00:00",
                                             .stopTime = {},
                                             .cycles = 0,
                                             .ended = recording::MeasurementEnd::running,
                                             .lostFrames = {},
                                             .gaps = {},
                                             .markers = {}};
    auto parsed = recording::readDescription(jsonPath);
    ASSERT_TRUE(parsed.description) << parsed.error;
    EXPECT_EQ(*parsed.description, expected);

    writeDataToFileRaw();
    writeDataToFileRaw();
    noteLostFrames(7);
    noteMeasurementEnd(MeasurementEnd::stop);
    noteMeasurementEnd(MeasurementEnd::transferError);  // the first note counts,
    noteMeasurementEnd(MeasurementEnd::windowClosed);   // but a close during a STOP says more
    closeLogFile();
    parsed = recording::readDescription(jsonPath);
    ASSERT_TRUE(parsed.description) << parsed.error;
    expected.stopTime = expected.startTime;
    expected.cycles = 2;
    expected.ended = MeasurementEnd::windowClosed;
    expected.lostFrames = 7;
    EXPECT_EQ(*parsed.description, expected);
    EXPECT_EQ(filesInTemp(), (std::vector<std::string>{"jex-log-"s + kStamp + ".dat",
                                                       "jex-log-"s + kStamp + ".json"}));

    // The next start forgets the notes; a close without a note is a STOP.
    ASSERT_EQ(log_data_info(), 0);
    closeLogFile();
    parsed = recording::readDescription(temp + "/jex-log-" + kStamp + "-2.json");
    ASSERT_TRUE(parsed.description) << parsed.error;
    EXPECT_EQ(parsed.description->ended, MeasurementEnd::stop);
    EXPECT_EQ(parsed.description->lostFrames, std::nullopt);
    EXPECT_EQ(parsed.description->cycles, 0u);
    EXPECT_TRUE(messages().empty());
}

// The wall clock steps back an hour during the recording (NTP): the stop is the start plus the
// monotonic time between them, never before the start.
TEST_F(LogFile, TheDurationComesFromTheMonotonicClock) {
    static std::chrono::steady_clock::time_point now{};
    setLogMonotonicClock([] { return now; });
    configure(1, 1, 2, temp, true);
    ASSERT_EQ(log_data_info(), 0);
    setLogClock([] { return kStartTime - 3600; });
    now += std::chrono::seconds(75);
    closeLogFile();
    setLogMonotonicClock(nullptr);
    const auto parsed = recording::readDescription(temp + "/jex-log-" + kStamp + ".json");
    ASSERT_TRUE(parsed.description) << parsed.error;
    EXPECT_EQ(parsed.description->startTime, "2013-03-15T09:05:07+00:00");
    EXPECT_EQ(parsed.description->stopTime, "2013-03-15T09:06:22+00:00");
}

// A description that cannot be written is told once per write; the log file is not affected.
TEST_F(LogFile, ADescriptionThatCannotBeWrittenLeavesTheLogFileAlone) {
    fs::create_directory(temp + "/jex-log-" + kStamp + ".json");  // in the description's way
    dataout.fill(3);
    ASSERT_EQ(log_data_info(), 0);
    log_description::publishStart();
    EXPECT_EQ(log_file_open, 1);
    writeDataToFileRaw();
    closeLogFile();
    EXPECT_EQ(loggedCycles(), 1u);
    ASSERT_EQ(messages().size(), 2u);  // at START and at the close
    EXPECT_EQ(messages()[0].title, "Log Error");
    EXPECT_NE(messages()[0].text.find(".json"), std::string::npos) << messages()[0].text;
    EXPECT_EQ(fs::file_size(logFilePath()),
              std::string("Time-Base: 1275.00us,,,\r\nCh1,Ch2,Ch3,Ch4\r\n").size() +
                  8192 * std::string("3,3,3,3\r\n").size());
}

}  // namespace
}  // namespace ostrel
