#include <cmath>
#include <limits>

#include "timer_test_support.h"

namespace ostrel::test {
namespace {

constexpr double kLongInterval = 100.0;  // never ticks during a test

class TimerLifecycleTest : public TimerTest {
  protected:
    int CreateQuiet(Recorder &recorder) {
        return CreateTimer(kLongInterval, -1, 0, Recorder::Callback, &recorder);
    }

    // Written by the timer thread, read once the timer is gone.
    std::vector<double> sinceFirst_;
    std::vector<double> sincePrevious_;
    std::atomic<int> ticks_{0};
};

TEST_F(TimerLifecycleTest, ZeroIntervalIsRaisedToTheResolution) {
    const int id = CreateTimer(0.0, -1, 0, Recorder::Callback, &first_);
    ASSERT_GT(id, 0);
    double resolution = 0.0;
    ASSERT_EQ(GetTimerResolution(&resolution), 0);
    EXPECT_GT(resolution, 0.0);
    double interval = -1.0;
    ASSERT_EQ(GetTimerAttribute(id, kTimerAttrInterval, &interval), 0);
    EXPECT_NEAR(interval, resolution, 1e-9);
}

TEST_F(TimerLifecycleTest, InvalidArgumentsCreateNothing) {
    ASSERT_EQ(CreateQuiet(first_), 1);
    const auto callback = Recorder::Callback;
    EXPECT_EQ(CreateTimer(0.1, 0, 1, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimer(-0.5, -1, 1, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimer(std::nan(""), -1, 1, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimer(4294967296.0, -1, 1, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimer(0.1, -1, 2, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimer(0.1, -1, -1, callback, &first_), kTimerErrInvalidArgument);
    EXPECT_EQ(CreateTimerWithPriority(0.1, -1, 1, callback, &first_, 2), kTimerErrNoPriorities);
    EXPECT_EQ(CreateQuiet(first_), 2);
}

TEST_F(TimerLifecycleTest, CountedTimerTicksThenReportsItsDiscard) {
    const int id = CreateTimer(0.01, 3, 1, Recorder::Callback, &first_);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(first_.WaitForCount(kTimerDiscardEvent, 1));
    std::this_thread::sleep_for(kQuietWindow);

    const std::vector<TimerEvent> events = first_.Events();
    ASSERT_EQ(events.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(events[i].event, i < 3 ? kTimerTickEvent : kTimerDiscardEvent);
        EXPECT_EQ(events[i].control, id);
        // The expiry discard runs on the timer's own thread, like the ticks.
        EXPECT_EQ(events[i].thread, events[0].thread);
    }
    EXPECT_NE(events[0].thread, std::this_thread::get_id());
    EXPECT_EQ(first_.badArguments.load(), 0);
    EXPECT_EQ(DiscardTimer(id), kTimerErrNoSuchTimer);
}

std::atomic<std::int64_t> g_fakeMilliseconds{100000};

PlatformTime FakeClock() {
    const std::int64_t ms = g_fakeMilliseconds.load();
    return {static_cast<std::uint32_t>(ms / 1000), static_cast<std::uint32_t>(ms % 1000 * 1000000)};
}

TEST_F(TimerLifecycleTest, ElapsedTimesMeasureFromTheFirstAndPreviousTick) {
    timer_testing::UseClock(FakeClock);
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event != kTimerTickEvent) return;
        double value = -1.0;
        GetTimerAttribute(e.control, kTimerAttrTimeSinceFirstTick, &value);
        sinceFirst_.push_back(value);
        GetTimerAttribute(e.control, kTimerAttrTimeSincePreviousTick, &value);
        sincePrevious_.push_back(value);
        g_fakeMilliseconds.fetch_add(500);
    };
    ASSERT_GT(CreateTimer(0.01, 3, 1, Recorder::Callback, &first_), 0);
    ASSERT_TRUE(first_.WaitForCount(kTimerDiscardEvent, 1));
    EXPECT_EQ(sinceFirst_, (std::vector<double>{0.0, 0.5, 1.0}));
    EXPECT_EQ(sincePrevious_, (std::vector<double>{0.0, 0.5, 0.5}));
}

TEST_F(TimerLifecycleTest, DiscardedRecordsAreReusedWithTheirIdentifiers) {
    ASSERT_EQ(CreateQuiet(first_), 1);
    ASSERT_EQ(CreateQuiet(first_), 2);
    ASSERT_EQ(CreateQuiet(first_), 3);
    ASSERT_EQ(DiscardTimer(2), 0);
    ASSERT_EQ(DiscardTimer(1), 0);
    EXPECT_EQ(CreateQuiet(second_), 1);  // the latest discarded record first
    EXPECT_EQ(CreateQuiet(second_), 2);

    // Discarding all goes in identifier order, so the list stayed sorted.
    ASSERT_EQ(DiscardTimer(kAllTimers), 0);
    const std::vector<TimerEvent> events = second_.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].control, 1);
    EXPECT_EQ(events[1].control, 2);
    EXPECT_EQ(CreateQuiet(first_), 1);
}

TEST_F(TimerLifecycleTest, DiscardOfUnknownIdentifiers) {
    EXPECT_EQ(DiscardTimer(kAllTimers), 0);
    EXPECT_EQ(DiscardTimer(1), kTimerErrNoSuchTimer);
    EXPECT_EQ(DiscardTimer(0), kTimerErrNoSuchTimer);
}

TEST_F(TimerLifecycleTest, SuspendDropsTicksWithoutCountingDown) {
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event == kTimerTickEvent && ++ticks_ == 2) SuspendTimerCallbacks();
    };
    const int id = CreateTimer(0.01, 5, 1, Recorder::Callback, &first_);
    ASSERT_TRUE(first_.WaitForCount(kTimerTickEvent, 2));
    std::this_thread::sleep_for(kQuietWindow);
    EXPECT_EQ(first_.Count(kTimerTickEvent), 2);
    int count = 0;
    ASSERT_EQ(GetTimerAttribute(id, kTimerAttrCount, &count), 0);
    EXPECT_EQ(count, 3);

    ResumeTimerCallbacks();
    ASSERT_TRUE(first_.WaitForCount(kTimerDiscardEvent, 1));
    EXPECT_EQ(first_.Count(kTimerTickEvent), 5);
}

TEST_F(TimerLifecycleTest, SuspendHoldsBackTheDiscardOfAnExpiredTimer) {
    first_.onEvent = [](const TimerEvent &e) {
        if (e.event == kTimerTickEvent) SuspendTimerCallbacks();
    };
    ASSERT_GT(CreateTimer(0.01, 1, 1, Recorder::Callback, &first_), 0);
    ASSERT_TRUE(first_.WaitForCount(kTimerTickEvent, 1));
    std::this_thread::sleep_for(kQuietWindow);
    EXPECT_EQ(first_.Count(kTimerDiscardEvent), 0);
    ResumeTimerCallbacks();
    EXPECT_TRUE(first_.WaitForCount(kTimerDiscardEvent, 1));
}

TEST_F(TimerLifecycleTest, FailedCreationKeepsItsRecordForTheNextOne) {
    ASSERT_EQ(CreateQuiet(first_), 1);
    const PlatformTime zero{0, 0};
    timer_testing::UseResolution(&zero);
    timer_testing::ForgetCachedResolution();
    EXPECT_EQ(CreateQuiet(first_), kTimerErrPlatformTimer);
    double resolution = -1.0;
    EXPECT_EQ(GetTimerResolution(&resolution), kTimerErrInitialisation);
    EXPECT_EQ(resolution, 0.0);

    timer_testing::UseResolution(nullptr);
    EXPECT_EQ(CreateQuiet(first_), 2);  // the failed record, identifier kept
    EXPECT_EQ(CreateQuiet(first_), 3);
    EXPECT_EQ(first_.Count(kTimerDiscardEvent), 0);
}

}  // namespace
}  // namespace ostrel::test
