// A disk that stalls: the link is read on time whatever the log file's writes do; when the
// writer's queue is full anyway, the cycles left out are placed and told.
#include "logging/log_writer.h"
#include "measurement_test_support.h"
#include "recording/recording_description.h"

namespace ostrel::test {
namespace {

std::atomic<int> stallsLeft{0};

// The first writes of a log file each take 3 s, as on a USB stick that stalls.
void stallingDisk() {
    if (stallsLeft.fetch_sub(1) > 0) std::this_thread::sleep_for(3s);
}

class SlowDisk : public Measuring {
  protected:
    void SetUp() override {
        Measuring::SetUp();
        setLogWriteHook(stallingDisk);
    }
    void TearDown() override {
        setLogWriteHook(nullptr);
        useLogQueueCycles(0);
        Measuring::TearDown();
    }
    recording::RecordingDescription description() {
        const recording::ParsedDescription parsed =
            recording::readDescription(logFiles(".json").at(0));
        EXPECT_TRUE(parsed.description) << parsed.error;
        return parsed.description.value_or(recording::RecordingDescription{});
    }
    std::size_t records() { return lines(contents(logFiles().at(0))).size() - 2; }
};

// 8 words at 640 kbps in real time (a cycle each 0.65 s, a 16 KiB receive buffer of 0.16 s):
// a 3 s stall of the first write loses nothing at the receiver and nothing in the file.
TEST_F(SlowDisk, AStallLosesNoFrameAndNoCycle) {
    stallsLeft = 1;
    use("RT:words=8,kbps=640");
    logging(1);
    press();
    ASSERT_TRUE(waitFor([] { return loggedCycles() >= 6; }, 60s));
    press();
    expectIdle();
    EXPECT_EQ(sim::bus().lostFrames("RT"), 0u);
    const recording::RecordingDescription d = description();
    EXPECT_TRUE(d.gaps.empty());
    EXPECT_EQ(records(), d.cycles * 4096);
    EXPECT_EQ(d.lostFrames, std::optional<uint64_t>(0));
}

// With room for two cycles only, the stall fills the queue: the cycles that arrive meanwhile
// are left out, placed after the records written before them, and the operator is told.
TEST_F(SlowDisk, CyclesLeftOutWhileTheQueueIsFullArePlacedAndTold) {
    stallsLeft = 1;
    useLogQueueCycles(2);
    use("QUICK:words=8,kbps=640,pace=8");
    logging(1);
    press();
    ASSERT_TRUE(waitFor([] { return loggedCycles() >= 6; }, 60s));
    press();
    expectIdle();
    const recording::RecordingDescription d = description();
    ASSERT_FALSE(d.gaps.empty());
    EXPECT_EQ(d.gaps[0].afterRecord % 4096, 0u);
    EXPECT_LE(d.gaps[0].afterRecord, 3u * 4096) << "after what the queue took in the stall";
    EXPECT_EQ(records(), d.cycles * 4096);
    int overruns = 0;
    for (const ui::RecordedMessage &m : messages()) overruns += m.title == log_overrun_title;
    EXPECT_EQ(overruns, 1) << "told once";
}

}  // namespace
}  // namespace ostrel::test
