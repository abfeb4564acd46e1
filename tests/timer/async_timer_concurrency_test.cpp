#include <array>

#include "timer_test_support.h"

namespace ostrel::test {
namespace {

constexpr int kUnset = 1;

// Shared by the creation hooks, which are plain functions, and their tests.
std::atomic<int> g_hookTarget{0};
std::atomic<int> g_hookResult{kUnset}, g_hookOwnResult{kUnset};
std::atomic<int> g_hookCreated{0};
std::atomic<bool> g_hookEntered{false}, g_hookRelease{false};

class ConcurrencyTest : public TimerTest {
  protected:
    void SetUp() override {
        TimerTest::SetUp();
        g_hookTarget = 0;
        g_hookResult = kUnset;
        g_hookOwnResult = kUnset;
        g_hookCreated = 0;
        g_hookEntered = false;
        g_hookRelease = false;
    }

    std::atomic<int> firstId_{0}, secondId_{0}, thirdId_{0};
    std::atomic<int> firstResult_{kUnset}, secondResult_{kUnset}, ownResult_{kUnset};
    std::atomic<bool> discardReturned_{false}, release_{false};
    std::atomic<int> lateTicks_{0};  // ticks still running after their discard returned
    std::array<Recorder, 20> racers_;
};

// Ticks that start after the discard are caught by the event order, ticks that
// run on beyond it by lateTicks_.
TEST_F(ConcurrencyTest, NoTickRunsAfterDiscardReturns) {
    for (Recorder &racer : racers_) {
        discardReturned_ = false;
        racer.onEvent = [this](const TimerEvent &e) {
            if (e.event != kTimerTickEvent) return;
            std::this_thread::sleep_for(200us);  // lets the discard meet a running tick
            if (discardReturned_) lateTicks_.fetch_add(1);
        };
        const int id = CreateTimer(0.0, -1, 1, Recorder::Callback, &racer);
        ASSERT_TRUE(racer.WaitForCount(kTimerTickEvent, 2));
        ASSERT_EQ(DiscardTimer(id), 0);
        discardReturned_ = true;
    }
    std::this_thread::sleep_for(kQuietWindow);
    EXPECT_EQ(lateTicks_.load(), 0);
    for (const Recorder &racer : racers_) {
        EXPECT_EQ(racer.Events().back().event, kTimerDiscardEvent);
        EXPECT_EQ(racer.Count(kTimerDiscardEvent), 1);
    }
}

// The first tick discards the third timer, whose discard callback discards the
// second; the second tick discards its own timer, with a nested discard callback.
TEST_F(ConcurrencyTest, CallbacksDiscardTheirOwnAndOtherTimers) {
    third_.onEvent = [this](const TimerEvent &e) {
        if (e.event == kTimerDiscardEvent) secondResult_ = DiscardTimer(secondId_);
    };
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event != kTimerTickEvent) return;
        if (++ticks_ == 1) firstResult_ = DiscardTimer(thirdId_);
        if (ticks_ == 2) ownResult_ = DiscardTimer(e.control);
    };
    secondId_ = CreateTicking(second_);
    thirdId_ = CreateTicking(third_);
    firstId_ = CreateTicking(first_);
    ASSERT_TRUE(WaitUntil([this] { return ownResult_ != kUnset; }));
    EXPECT_EQ(firstResult_, 0);
    EXPECT_EQ(secondResult_, 0);
    EXPECT_EQ(ownResult_, 0);
    const std::thread::id firstThread = first_.Events().front().thread;
    for (const Recorder *recorder : {&first_, &second_, &third_}) {
        EXPECT_EQ(recorder->Events().back().thread, firstThread);
        ExpectSilentAfterDiscard(*recorder);
    }
    EXPECT_EQ(first_.Count(kTimerTickEvent), 2);
    EXPECT_EQ(DiscardTimer(firstId_), kTimerErrNoSuchTimer);
}

// Both callbacks discard the other timer while both ticks run: neither can
// wait for the other's tick to end, yet both discards must complete.
TEST_F(ConcurrencyTest, TimersDiscardingEachOtherDoNotDeadlock) {
    auto discardOther = [this](std::atomic<int> &otherId, std::atomic<int> &result) {
        return [this, &otherId, &result](const TimerEvent &e) {
            if (e.event != kTimerTickEvent || result != kUnset) return;
            ticks_.fetch_add(1);
            WaitUntil([this] { return ticks_.load() >= 2; });
            result = DiscardTimer(otherId);
        };
    };
    first_.onEvent = discardOther(secondId_, firstResult_);
    second_.onEvent = discardOther(firstId_, secondResult_);
    firstId_ = CreateTimer(0.01, -1, 0, Recorder::Callback, &first_);
    secondId_ = CreateTimer(0.01, -1, 0, Recorder::Callback, &second_);
    ASSERT_EQ(SetTimerAttribute(firstId_, kTimerAttrEnabled, 1), 0);
    ASSERT_EQ(SetTimerAttribute(secondId_, kTimerAttrEnabled, 1), 0);
    ASSERT_TRUE(WaitUntil([this] { return firstResult_ != kUnset && secondResult_ != kUnset; }));
    EXPECT_EQ(firstResult_, 0);
    EXPECT_EQ(secondResult_, 0);
    for (const Recorder *recorder : {&first_, &second_}) ExpectSilentAfterDiscard(*recorder);
}

// Identifiers may restart at 1 only when no discard is still under way.
TEST_F(ConcurrencyTest, IdentifiersStayUniqueWhileADiscardWaitsForATick) {
    second_.onEvent = [this](const TimerEvent &e) {
        if (e.event != kTimerTickEvent) return;
        ticks_.fetch_add(1);
        WaitUntil([this] { return release_.load(); });
    };
    ASSERT_EQ(CreateQuiet(first_), 1);
    ASSERT_EQ(CreateTicking(second_), 2);
    ASSERT_TRUE(WaitUntil([this] { return ticks_.load() >= 1; }));
    std::thread discarder([] { DiscardTimer(2); });  // waits for the blocked tick
    int count = 0;
    ASSERT_TRUE(WaitUntil([&] { return GetTimerAttribute(2, kTimerAttrCount, &count) < 0; }));
    ASSERT_EQ(DiscardTimer(1), 0);
    const int reusedFirst = CreateQuiet(first_);
    release_ = true;
    discarder.join();
    EXPECT_EQ(reusedFirst, 1);
    EXPECT_EQ(CreateQuiet(first_), 2);
    EXPECT_EQ(CreateQuiet(first_), 3);
}

TEST_F(ConcurrencyTest, ConcurrentCreatesAndDiscardsLeaveAConsistentService) {
    std::thread sweeper([this] {
        while (!release_) {
            DiscardTimer(kAllTimers);
            SuspendTimerCallbacks();
            ResumeTimerCallbacks();
            std::this_thread::sleep_for(100us);
        }
    });
    auto createAndDiscard = [] {
        for (int i = 0; i < 100; ++i) {
            const int id = CreateTimer(0.001, -1, 1, nullptr, nullptr);
            // A sweep overlapping the creation cancels it.
            EXPECT_TRUE(id > 0 || id == kTimerErrNoSuchTimer) << id;
            DiscardTimer(id);
        }
    };
    std::thread creator(createAndDiscard);
    createAndDiscard();
    creator.join();
    release_ = true;
    sweeper.join();
    EXPECT_EQ(DiscardTimer(kAllTimers), 0);  // every record comes back: the tear-down checks
}

// The hook runs after the platform timer has started and before the timer is
// live: the window a discard of all timers must not miss.
TEST_F(ConcurrencyTest, DiscardAllDuringCreationCancelsIt) {
    ASSERT_EQ(CreateQuiet(second_), 1);
    timer_testing::OnCreationBetweenLocks([] { g_hookResult = DiscardTimer(kAllTimers); });
    const int cancelled = CreateTimer(0.001, -1, 1, Recorder::Callback, &first_);
    timer_testing::OnCreationBetweenLocks(nullptr);
    EXPECT_EQ(cancelled, kTimerErrNoSuchTimer);
    EXPECT_EQ(g_hookResult, 0);
    EXPECT_EQ(second_.Count(kTimerDiscardEvent), 1);  // live timers go as usual
    std::this_thread::sleep_for(kQuietWindow);        // 150 periods
    EXPECT_TRUE(first_.Events().empty());             // neither ticks nor a discard event
    int count = 0;
    EXPECT_EQ(GetTimerAttribute(2, kTimerAttrCount, &count), kTimerErrNoSuchTimer);
    EXPECT_EQ(DiscardTimer(2), kTimerErrNoSuchTimer);
    // Nothing is left, so identifiers restart, and new timers work.
    EXPECT_EQ(CreateTicking(third_), 1);
    EXPECT_TRUE(third_.WaitForCount(kTimerTickEvent, 1));
}

// The creation starts while a discard of all timers makes a discard callback
// and finishes after that discard has returned: the shape of the shutdown race.
TEST_F(ConcurrencyTest, CreationOutlastingADiscardAllIsCancelled) {
    std::atomic<int> created{kUnset};
    std::thread creator;
    second_.onEvent = [&](const TimerEvent &e) {
        if (e.event != kTimerDiscardEvent) return;
        creator =
            std::thread([&] { created = CreateTimer(0.001, -1, 1, Recorder::Callback, &first_); });
        WaitUntil([] { return g_hookEntered.load(); });
    };
    ASSERT_EQ(CreateQuiet(second_), 1);
    timer_testing::OnCreationBetweenLocks([] {
        g_hookEntered = true;
        WaitUntil([] { return g_hookRelease.load(); });
    });
    EXPECT_EQ(DiscardTimer(kAllTimers), 0);
    g_hookRelease = true;
    if (creator.joinable()) creator.join();
    EXPECT_TRUE(g_hookEntered);
    EXPECT_EQ(created, kTimerErrNoSuchTimer);
    std::this_thread::sleep_for(kQuietWindow);
    EXPECT_TRUE(first_.Events().empty());
}

// Only a discard of all timers cancels a creation: neither another timer's
// identifier nor the one being created (not found yet) does.
TEST_F(ConcurrencyTest, DiscardOfOneTimerDuringCreationLeavesItAlone) {
    g_hookTarget = CreateQuiet(second_);
    timer_testing::OnCreationBetweenLocks([] {
        g_hookResult = DiscardTimer(g_hookTarget);
        g_hookOwnResult = DiscardTimer(g_hookTarget + 1);
    });
    const int id = CreateTimer(0.001, -1, 1, Recorder::Callback, &first_);
    timer_testing::OnCreationBetweenLocks(nullptr);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(g_hookResult, 0);
    EXPECT_EQ(g_hookOwnResult, kTimerErrNoSuchTimer);
    EXPECT_EQ(second_.Count(kTimerDiscardEvent), 1);
    EXPECT_TRUE(first_.WaitForCount(kTimerTickEvent, 2));
    EXPECT_EQ(first_.Count(kTimerDiscardEvent), 0);
}

// The cancelled record holds its identifier until it is back on the free list,
// so a timer created meanwhile gets another one.
TEST_F(ConcurrencyTest, CancelledCreationKeepsIdentifiersUnique) {
    timer_testing::OnCreationBetweenLocks([] {
        timer_testing::OnCreationBetweenLocks(nullptr);  // not for the creation below
        DiscardTimer(kAllTimers);
        g_hookCreated = CreateTimer(100.0, -1, 0, nullptr, nullptr);
    });
    EXPECT_EQ(CreateQuiet(first_), kTimerErrNoSuchTimer);
    EXPECT_EQ(g_hookCreated, 2);        // 1 was still being created
    EXPECT_EQ(CreateQuiet(first_), 1);  // the cancelled record, reused
    EXPECT_EQ(CreateQuiet(first_), 3);
    int count = 0;
    EXPECT_EQ(GetTimerAttribute(2, kTimerAttrCount, &count), 0);
    EXPECT_TRUE(first_.Events().empty());
}

}  // namespace
}  // namespace ostrel::test
