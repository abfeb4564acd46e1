#include "timer/platform_timer.h"

#include "timer/locks.h"
#include "timer/tick_schedule.h"
#include "timer_test_support.h"

namespace ostrel::test {
namespace {

constexpr PlatformTime kTenMilliseconds{0, 10'000'000};

TEST(TickScheduleTest, NextTickKeepsThePhaseAndSkipsMissedTicks) {
    const TickClock::time_point due{};
    EXPECT_EQ(NextTickTime(due, 10ms, due + 3ms), due + 10ms);   // lateness does not add up
    EXPECT_EQ(NextTickTime(due, 10ms, due + 10ms), due + 20ms);  // no second tick at once
    EXPECT_EQ(NextTickTime(due, 10ms, due + 35ms), due + 40ms);  // no burst, same phase
}

struct TickProbe {
    std::atomic<int> ticks{0};
    std::atomic<bool> release{false};
    std::atomic<PlatformTimerHandle> handle{0};
};

void CountingTick(void *arg) {
    static_cast<TickProbe *>(arg)->ticks.fetch_add(1);
}

void BlockingTick(void *arg) {
    auto *probe = static_cast<TickProbe *>(arg);
    probe->ticks.fetch_add(1);
    WaitUntil([probe] { return probe->release.load(); });
}

void SelfDiscardingTick(void *arg) {
    auto *probe = static_cast<TickProbe *>(arg);
    PlatformTimerDiscard(probe->handle.load());
    probe->ticks.fetch_add(1);  // last use of the probe
}

TEST(PlatformTimerTest, ArmRejectsEmptyAndMalformedPeriods) {
    TickProbe probe;
    const PlatformTimerHandle timer = PlatformTimerNew(CountingTick, &probe);
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(PlatformTimerArm(timer, {0, 0}), 0);
    EXPECT_EQ(PlatformTimerArm(timer, {0, 1'000'000'000}), 0);
    std::this_thread::sleep_for(kQuietWindow);
    PlatformTimerDiscard(timer);
    EXPECT_EQ(probe.ticks.load(), 0);
}

TEST(PlatformTimerTest, DiscardWaitsForTheRunningTick) {
    TickProbe probe;
    const PlatformTimerHandle timer = PlatformTimerNew(BlockingTick, &probe);
    ASSERT_NE(PlatformTimerArm(timer, kTenMilliseconds), 0);
    ASSERT_TRUE(WaitUntil([&probe] { return probe.ticks.load() == 1; }));
    std::atomic<bool> returned{false};
    std::thread discarder([&] {
        PlatformTimerDiscard(timer);
        returned = true;
    });
    std::this_thread::sleep_for(kQuietWindow);
    EXPECT_FALSE(returned.load());
    probe.release = true;
    discarder.join();
    EXPECT_EQ(probe.ticks.load(), 1);
}

TEST(PlatformTimerTest, DiscardFromItsOwnTickEndsTheTimer) {
    TickProbe probe;
    probe.handle = PlatformTimerNew(SelfDiscardingTick, &probe);
    ASSERT_NE(PlatformTimerArm(probe.handle, kTenMilliseconds), 0);
    ASSERT_TRUE(WaitUntil([&probe] { return probe.ticks.load() >= 1; }));
    std::this_thread::sleep_for(kQuietWindow);
    EXPECT_EQ(probe.ticks.load(), 1);
}

TEST(LockTest, SameNameGivesTheSameLockUntilEveryUserDiscardsIt) {
    Lock *first = nullptr, *second = nullptr, *unnamed = nullptr;
    ASSERT_EQ(NewLock("ostrel test lock", &first), 0);
    ASSERT_EQ(NewLock("ostrel test lock", &second), 0);
    ASSERT_EQ(NewLock(nullptr, &unnamed), 0);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, unnamed);
    DiscardLock(first);
    EXPECT_EQ(GetLock(second), 0);  // still alive for its second user
    ReleaseLock(second);
    DiscardLock(second);
    DiscardLock(unnamed);
}

}  // namespace
}  // namespace ostrel::test
