#include <cmath>
#include <string_view>

#include "timer/locks.h"
#include "timer/tick_schedule.h"
#include "timer_test_support.h"

namespace ostrel::test {
namespace {

class LifecycleTest : public TimerTest {
  protected:
    std::vector<double> sinceFirst_, sincePrevious_;  // written by the timer thread only
};
using AttributeTest = TimerTest;

// Neither invalid arguments nor a failed creation use up an identifier.
TEST_F(LifecycleTest, CreateRejectsInvalidArgumentsAndKeepsIdentifiers) {
    ASSERT_EQ(CreateQuiet(first_), 1);
    const auto callback = Recorder::Callback;
    for (const double interval : {-0.5, std::nan(""), 4294967296.0}) {
        EXPECT_EQ(CreateTimer(interval, -1, 1, callback, &first_), kTimerErrInvalidArgument);
    }
    EXPECT_EQ(CreateTimer(0.1, 0, 1, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimer(0.1, -1, 2, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimer(0.1, -1, -1, callback, &first_), kTimerErrInvalidArgument);
    const PlatformTime zero{0, 0};
    timer_testing::UseResolution(&zero);
    timer_testing::ForgetCachedResolution();
    EXPECT_EQ(CreateQuiet(first_), kTimerErrPlatformTimer);
    double resolution = -1.0, interval = -1.0;
    EXPECT_EQ(GetTimerResolution(&resolution), kTimerErrInitialisation);
    EXPECT_EQ(resolution, 0.0);
    timer_testing::UseResolution(nullptr);
    ASSERT_EQ(CreateTimer(0.0, -1, 0, callback, &first_), 2);  // the failed record
    ASSERT_EQ(GetTimerResolution(&resolution), 0);
    ASSERT_EQ(GetTimerAttribute(2, kTimerAttrInterval, &interval), 0);
    EXPECT_NEAR(interval, resolution, 1e-9);  // interval 0 raised to the resolution
    EXPECT_EQ(CreateQuiet(first_), 3);
    EXPECT_EQ(first_.Count(kTimerDiscardEvent), 0);
}

std::atomic<std::int64_t> g_fakeMilliseconds{100000};

// Each tick advances the fake clock by 0.5 s.
TEST_F(LifecycleTest, CountedTimerTicksThenReportsItsDiscard) {
    timer_testing::UseClock([] {
        const std::int64_t ms = g_fakeMilliseconds.load();
        return PlatformTime{static_cast<std::uint32_t>(ms / 1000),
                            static_cast<std::uint32_t>(ms % 1000 * 1000000)};
    });
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event != kTimerTickEvent) return;
        double value = -1.0;
        GetTimerAttribute(e.control, kTimerAttrTimeSinceFirstTick, &value);
        sinceFirst_.push_back(value);
        GetTimerAttribute(e.control, kTimerAttrTimeSincePreviousTick, &value);
        sincePrevious_.push_back(value);
        g_fakeMilliseconds.fetch_add(500);
    };
    const int id = CreateTimer(0.01, 3, 1, Recorder::Callback, &first_);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(first_.WaitForCount(kTimerDiscardEvent, 1));
    std::this_thread::sleep_for(kQuietWindow);
    const std::vector<TimerEvent> events = first_.Events();
    ASSERT_EQ(events.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(events[i].event, i < 3 ? kTimerTickEvent : kTimerDiscardEvent);
        EXPECT_EQ(events[i].control, id);
        EXPECT_EQ(events[i].thread, events[0].thread);  // the expiry discard too
    }
    EXPECT_NE(events[0].thread, std::this_thread::get_id());
    EXPECT_EQ(first_.badArguments.load(), 0);
    EXPECT_EQ(DiscardTimer(id), kTimerErrNoSuchTimer);
    EXPECT_EQ(sinceFirst_, (std::vector<double>{0.0, 0.5, 1.0}));
    EXPECT_EQ(sincePrevious_, (std::vector<double>{0.0, 0.5, 0.5}));
}

TEST_F(LifecycleTest, DiscardedRecordsAreReusedWithTheirIdentifiers) {
    EXPECT_EQ(DiscardTimer(kAllTimers), 0);  // none alive
    EXPECT_EQ(DiscardTimer(1), kTimerErrNoSuchTimer);
    EXPECT_EQ(DiscardTimer(0), kTimerErrNoSuchTimer);
    ASSERT_EQ(CreateQuiet(first_), 1);
    ASSERT_EQ(CreateQuiet(first_), 2);
    ASSERT_EQ(DiscardTimer(1), 0);
    EXPECT_EQ(CreateQuiet(first_), 1);
    // Discarding all goes in identifier order: the reused record went back in its place.
    ASSERT_EQ(DiscardTimer(kAllTimers), 0);
    std::vector<int> discarded;
    for (const TimerEvent &e : first_.Events()) discarded.push_back(e.control);
    EXPECT_EQ(discarded, (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(CreateQuiet(first_), 1);
}

// Ticks 2 and 3 suspend the callbacks. While suspended, the count does not run
// down and the discard of the expired timer waits.
TEST_F(LifecycleTest, SuspendDropsTicksWithoutCountingDown) {
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event == kTimerTickEvent && ++ticks_ >= 2) SuspendTimerCallbacks();
    };
    const int id = CreateTimer(0.01, 3, 1, Recorder::Callback, &first_);
    for (const int countLeft : {1, 0}) {
        ASSERT_TRUE(first_.WaitForCount(kTimerTickEvent, 3 - countLeft));
        std::this_thread::sleep_for(kQuietWindow);
        EXPECT_EQ(first_.Count(kTimerTickEvent), 3 - countLeft);
        EXPECT_EQ(first_.Count(kTimerDiscardEvent), 0);
        int count = -1;
        ASSERT_EQ(GetTimerAttribute(id, kTimerAttrCount, &count), 0);
        EXPECT_EQ(count, countLeft);
        ResumeTimerCallbacks();
    }
    ASSERT_TRUE(first_.WaitForCount(kTimerDiscardEvent, 1));
    EXPECT_EQ(first_.Count(kTimerTickEvent), 3);
}

TEST_F(AttributeTest, InvalidValuesChangeNothingAndValidOnesApplyAtOnce) {
    const int id = CreateQuiet(first_);
    int count = 0, enabled = 1;
    double interval = 0.0;
    EXPECT_EQ(SetTimerAttribute(42, 0, 1), kTimerErrInvalidArgument);  // attribute before timer
    EXPECT_EQ(GetTimerAttribute(42, 9, &count), kTimerErrInvalidArgument);
    EXPECT_EQ(SetTimerAttribute(42, kTimerAttrEnabled, 1), kTimerErrNoSuchTimer);
    EXPECT_EQ(GetTimerAttribute(42, kTimerAttrCount, &count), kTimerErrNoSuchTimer);
    EXPECT_EQ(GetTimerAttribute(id, kTimerAttrCount, nullptr), kTimerErrInvalidArgument);
    EXPECT_EQ(SetTimerAttribute(id, kTimerAttrCount, 0), kTimerErrInvalidArgument);
    EXPECT_EQ(SetTimerAttribute(id, kTimerAttrEnabled, 2), kTimerErrInvalidArgument);
    EXPECT_EQ(SetTimerAttribute(id, kTimerAttrInterval, -1.0), kTimerErrInvalidArgument);
    GetTimerAttribute(id, kTimerAttrCount, &count);
    GetTimerAttribute(id, kTimerAttrEnabled, &enabled);
    GetTimerAttribute(id, kTimerAttrInterval, &interval);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(enabled, 0);
    EXPECT_DOUBLE_EQ(interval, 100.0);
    ASSERT_EQ(SetTimerAttribute(id, kTimerAttrCount, 2), 0);
    ASSERT_EQ(SetTimerAttribute(id, kTimerAttrInterval, 0.01), 0);  // re-arms at once
    std::this_thread::sleep_for(kQuietWindow);  // disabled: drops ticks, count stays
    EXPECT_EQ(first_.Events().size(), 0u);
    GetTimerAttribute(id, kTimerAttrCount, &count);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(SetTimerAttribute(id, kTimerAttrEnabled, 1), 0);
    ASSERT_TRUE(first_.WaitForCount(kTimerDiscardEvent, 1));
    EXPECT_EQ(first_.Count(kTimerTickEvent), 2);
}

TEST_F(AttributeTest, PriorityNeedsTheRealTimeFlagAndElapsedTimesAreReadOnly) {
    setenv("OS", "rtLinux-6.1", 1);
    // Lowering a thread's priority needs no privileges, so it always applies.
    const int id = CreateTimerWithPriority(100.0, -1, 0, nullptr, nullptr, -3);
    ASSERT_GT(id, 0);
    for (const char *os : {"RTLINUX", "Linux", "RTLINU"}) {
        SCOPED_TRACE(os);
        setenv("OS", os, 1);
        const bool realTime = os == std::string_view("RTLINUX");
        const int created = CreateTimerWithPriority(100.0, -1, 0, nullptr, nullptr, -3);
        EXPECT_TRUE(realTime ? created > 0 : created == kTimerErrNoPriorities) << created;
        int priority = 0;
        EXPECT_EQ(GetTimerAttribute(id, kTimerAttrThreadPriority, &priority),
                  realTime ? 0 : kTimerErrNoPriorities);
        EXPECT_EQ(priority, realTime ? -3 : 0);
        EXPECT_EQ(SetTimerAttribute(id, kTimerAttrThreadPriority, 1),
                  realTime ? kTimerErrNotSettable : kTimerErrNoPriorities);
        for (const int attribute :
             {kTimerAttrTimeSinceFirstTick, kTimerAttrTimeSincePreviousTick}) {
            EXPECT_EQ(SetTimerAttribute(id, attribute, 1.0), kTimerErrNotSettable);
            double elapsed = -1.0;
            ASSERT_EQ(GetTimerAttribute(id, attribute, &elapsed), 0);
            EXPECT_EQ(elapsed, 0.0);  // before the first tick
        }
    }
}

TEST(TickScheduleTest, NextTickKeepsThePhaseAndSkipsMissedTicks) {
    const TickClock::time_point due{};
    EXPECT_EQ(NextTickTime(due, 10ms, due + 3ms), due + 10ms);   // lateness does not add up
    EXPECT_EQ(NextTickTime(due, 10ms, due + 10ms), due + 20ms);  // no second tick at once
    EXPECT_EQ(NextTickTime(due, 10ms, due + 35ms), due + 40ms);  // no burst, same phase
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
