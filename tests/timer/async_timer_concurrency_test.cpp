#include <array>

#include "timer_test_support.h"

namespace ostrel::test {
namespace {

constexpr int kUnset = 1;

class ConcurrencyTest : public TimerTest {
  protected:
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
            EXPECT_GT(id, 0);
            DiscardTimer(id);
        }
    };
    std::thread creator(createAndDiscard);
    createAndDiscard();
    creator.join();
    release_ = true;
    sweeper.join();
    ASSERT_EQ(DiscardTimer(kAllTimers), 0);
    EXPECT_EQ(CreateQuiet(first_), 1);  // every record came back
}

}  // namespace
}  // namespace ostrel::test
