// Event markers through the whole acquisition path: set during a measurement, they land in the
// running description once their records are on the disk, in the closing description at the
// records that had arrived, and a playback of the recording sets them again at those records.
#include "acquisition/markers.h"
#include "measurement_test_support.h"

namespace ostrel::test {
namespace {

using recording::RecordingMarker;

class Markers : public Measuring {
  protected:
    // The description beside the running log file as the disk holds it now.
    static std::vector<RecordingMarker> describedNow() {
        const auto parsed =
            recording::readDescription(recording::descriptionPathFor(logFilePath()));
        return parsed.description ? parsed.description->markers : std::vector<RecordingMarker>{};
    }
};

TEST_F(Markers, SetDuringAMeasurementTheyAreDescribedAtTheirRecordsAndPlayedBack) {
    EXPECT_EQ(setMarker("before START").number, 0) << "nothing outside a measurement";
    use("MARK:words=8,pace=fast");
    logging(1);
    press();
    ASSERT_TRUE(waitFor([] { return loggedCycles() >= 1; }));
    const RecordingMarker first = setMarker("curve");
    ASSERT_TRUE(waitFor([] { return loggedCycles() >= 3; }));
    const RecordingMarker second = setMarker();
    // The running description lists a marker once the cycles on the disk reach its record, so
    // a power cut keeps it.
    EXPECT_TRUE(waitFor([] { return describedNow().size() == 2; })) << "listed while running";
    press();
    expectIdle();
    EXPECT_EQ(setMarker("after STOP").number, 0);

    EXPECT_EQ(first.number, 1);
    EXPECT_EQ(second.number, 2);
    EXPECT_GE(first.record, 4096u - 1) << "a whole cycle had arrived";
    EXPECT_GE(second.record, first.record);
    const double timeBase = description().timeBaseMicros;
    for (const RecordingMarker &m : {first, second}) {
        EXPECT_DOUBLE_EQ(m.seconds, double(m.record) * timeBase / 1e6);
        EXPECT_EQ(m.wallClock.size(), std::string("2026-12-08T09:30:01.250+01:00").size());
    }
    const std::vector<RecordingMarker> described = description().markers;
    ASSERT_EQ(described, (std::vector<RecordingMarker>{first, second}));
    EXPECT_EQ(described[0].label, "curve");
    EXPECT_EQ(described[1].label, "");

    // Played back with logging on: the new recording's markers fall on the same records. (The
    // programs ask the simulated bus for a playback module's markers in the same way.)
    setReplayedMarkers([](const std::string &module) {
        const auto played = sim::bus().playbackRecording(module);
        return played ? played->markers : std::vector<RecordingMarker>{};
    });
    const fs::path original = logFilePath();
    ASSERT_NO_FATAL_FAILURE(playToItsEnd(original));
    ASSERT_NE(logFilePath(), original);
    const std::vector<RecordingMarker> replayed = description().markers;
    ASSERT_EQ(replayed.size(), 2u);
    for (std::size_t i = 0; i < replayed.size(); ++i) {
        EXPECT_EQ(replayed[i].number, described[i].number);
        EXPECT_EQ(replayed[i].record, described[i].record);
        EXPECT_EQ(replayed[i].label, described[i].label);
    }
}

// Without logging there is no description, and a marker is still set, on both charts.
TEST_F(Markers, AMeasurementWithoutLoggingNumbersItsMarkersToo) {
    use("LIVE:words=8,pace=fast");
    logging(0);
    press();
    ASSERT_TRUE(waitFor([] { return data_received.load() == 1; }));
    EXPECT_EQ(setMarker().number, 1);
    EXPECT_EQ(setMarker().number, 2);
    for (const int chart : {CHART, CHART_2}) {
        std::vector<int> numbers;
        const std::optional<ui::ControlState> state = ui::controlState(panelHandle, chart);
        for (const ui::ChartMarker &m : state->chart.markers) {
            numbers.push_back(m.number);
        }
        EXPECT_EQ(numbers, (std::vector<int>{1, 2})) << "both charts draw every marker";
    }
    press();
    expectIdle();
    press();
    ASSERT_TRUE(waitFor([] { return data_received.load() == 1; }));
    EXPECT_EQ(setMarker().number, 1) << "every START counts from 1";
    press();
}

}  // namespace
}  // namespace ostrel::test
