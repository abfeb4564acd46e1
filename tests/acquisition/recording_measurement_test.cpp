// Recordings through the whole acquisition path: the description beside every log file, and a
// recording played back through a simulated module with logging on.
#include "measurement_test_support.h"

namespace ostrel::test {
namespace {

using recording::MeasurementEnd;

class Recording : public Measuring {
  protected:
    static std::vector<std::string> recordsOf(const std::string &text) {
        std::vector<std::string> all = lines(text);
        return std::vector<std::string>(all.begin() + std::min<std::size_t>(2, all.size()),
                                        all.end());
    }
    fs::path recordCycles(std::string_view config, uint64_t cycles) {
        record(config, cycles);
        return logFilePath();
    }
};

TEST_F(Recording, PlaybackWithLoggingOnReproducesTheRecordedWords) {
    const fs::path original = recordCycles("REC:words=8,pace=fast,seed=7", 3);
    const std::string recorded = contents(original);
    ASSERT_GE(recordsOf(recorded).size(), 3u * 4096);

    ASSERT_NO_FATAL_FAILURE(playToItsEnd(original));
    expectIdle();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].title, "Playback");

    const std::vector<fs::path> files = logFiles();
    ASSERT_EQ(files.size(), 2u);
    const std::string replayed = contents(logFilePath());
    EXPECT_EQ(lines(replayed)[0], lines(recorded)[0]);
    EXPECT_EQ(lines(replayed)[1], lines(recorded)[1]);
    EXPECT_TRUE(recordsOf(replayed) == recordsOf(recorded)) << "the words of every record";

    const recording::RecordingDescription played = description(logFilePath());
    EXPECT_EQ(played.module, "PLAY");
    EXPECT_EQ(played.ended, MeasurementEnd::endOfPlayback);
    EXPECT_EQ(played.cycles, description(original).cycles);
}

TEST_F(Recording, TheDescriptionMatchesTheFileAndSaysHowItEnded) {
    const fs::path stopped = recordCycles("OK:words=16,pace=fast", 2);
    recording::RecordingDescription d = description(stopped);
    EXPECT_EQ(d.logFile, stopped.filename().string());
    EXPECT_EQ(d.module, "OK");
    EXPECT_EQ(d.ended, MeasurementEnd::stop);
    EXPECT_EQ(d.cycles, loggedCycles());
    EXPECT_EQ(d.lostFrames, std::optional<uint64_t>(0));
    EXPECT_EQ(d.channelCount, 8) << "the type chosen, not the module's frame size";
    EXPECT_EQ(recordsOf(contents(stopped)).size(), d.cycles * 4096);
    EXPECT_FALSE(d.stopTime.empty());

    // Measurements that end on their own: (module, how it ended, whole cycles written).
    const struct {
        const char *module;
        MeasurementEnd ended;
        uint64_t cycles;
    } rows[] = {
        {"BROKEN:words=8,pace=fast,failblock=40", MeasurementEnd::transferError, 2},
        {"DEAF:words=8,nosync", MeasurementEnd::notInSync, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.module);
        runUntilItEnds(row.module);
        d = description();
        EXPECT_EQ(d.ended, row.ended);
        EXPECT_EQ(d.cycles, row.cycles);
    }
}

}  // namespace
}  // namespace ostrel::test
