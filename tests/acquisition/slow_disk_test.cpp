// A disk that stalls: the link is read on time whatever the log file's writes do; when the
// writer's queue is full anyway, the cycles left out are placed and told.
#include "logging/log_writer.h"
#include "measurement_test_support.h"

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
};

// 8 words at 640 kbps in real time (a cycle each 0.65 s, a 16 KiB receive buffer of 0.16 s):
// a 3 s stall of the first write loses nothing at the receiver and nothing in the file.
TEST_F(SlowDisk, AStallLosesNoFrameAndNoCycle) {
    stallsLeft = 1;
    record("RT:words=8,kbps=640", 6, 60s);
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
    record("QUICK:words=8,kbps=640,pace=8", 6, 60s);
    const recording::RecordingDescription d = description();
    ASSERT_FALSE(d.gaps.empty());
    EXPECT_EQ(d.gaps[0].afterRecord % 4096, 0u);
    EXPECT_LE(d.gaps[0].afterRecord, 3u * 4096) << "after what the queue took in the stall";
    EXPECT_EQ(records(), d.cycles * 4096);
    const auto all = messages();
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const auto &m) { return m.title == log_overrun_title; }),
              1)
        << "told once";
}

}  // namespace
}  // namespace ostrel::test
