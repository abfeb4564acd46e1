#include <array>

#include "timer_test_support.h"

namespace ostrel::test {
namespace {

constexpr int kUnset = 1;

struct RaceProbe {
    std::atomic<bool> discardReturned{false};
    std::atomic<int> ticks{0};
    std::atomic<int> lateTicks{0};  // ticks seen running after the discard
    std::atomic<int> discards{0};
};

int RaceCallback(int, int, int event, void *data, int, int) {
    auto *probe = static_cast<RaceProbe *>(data);
    if (event == kTimerDiscardEvent) {
        probe->discards.fetch_add(1);
        return 0;
    }
    if (probe->discards.load() > 0 || probe->discardReturned.load()) probe->lateTicks.fetch_add(1);
    probe->ticks.fetch_add(1);
    std::this_thread::sleep_for(200us);  // lets discards meet a running tick
    if (probe->discardReturned.load()) probe->lateTicks.fetch_add(1);
    return 0;
}

class TimerConcurrencyTest : public TimerTest {
  protected:
    // Creates an enabled 10 ms timer recording into the recorder.
    static int CreateTicking(Recorder &recorder) {
        return CreateTimer(0.01, -1, 1, Recorder::Callback, &recorder);
    }

    // Expects no event of the recorder after its discard event.
    static void ExpectSilentAfterDiscard(const Recorder &recorder) {
        std::this_thread::sleep_for(kQuietWindow);
        const std::vector<TimerEvent> events = recorder.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().event, kTimerDiscardEvent);
        EXPECT_EQ(recorder.Count(kTimerDiscardEvent), 1);
    }

    std::atomic<int> firstId_{0}, secondId_{0}, thirdId_{0};
    std::atomic<int> firstResult_{kUnset}, secondResult_{kUnset};
    std::atomic<int> ticks_{0};
    std::atomic<bool> release_{false};
    std::array<RaceProbe, 20> probes_;
};

TEST_F(TimerConcurrencyTest, NoTickRunsAfterDiscardReturns) {
    for (RaceProbe &probe : probes_) {
        const int id = CreateTimer(0.0, -1, 1, RaceCallback, &probe);
        ASSERT_GT(id, 0);
        ASSERT_TRUE(WaitUntil([&] { return probe.ticks.load() >= 2; }));
        ASSERT_EQ(DiscardTimer(id), 0);
        probe.discardReturned = true;
    }
    std::this_thread::sleep_for(kQuietWindow);
    for (const RaceProbe &probe : probes_) {
        EXPECT_EQ(probe.lateTicks.load(), 0);
        EXPECT_EQ(probe.discards.load(), 1);
    }
}

TEST_F(TimerConcurrencyTest, CallbackDiscardsAnotherTimer) {
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event == kTimerTickEvent && firstResult_ == kUnset) {
            firstResult_ = DiscardTimer(secondId_);
        }
    };
    secondId_ = CreateTicking(second_);
    firstId_ = CreateTicking(first_);
    ASSERT_TRUE(second_.WaitForCount(kTimerDiscardEvent, 1));
    ASSERT_TRUE(WaitUntil([this] { return firstResult_ != kUnset; }));
    EXPECT_EQ(firstResult_, 0);
    EXPECT_EQ(second_.Events().back().thread, first_.Events().front().thread);
    ExpectSilentAfterDiscard(second_);
}

TEST_F(TimerConcurrencyTest, CallbackDiscardsItsOwnTimer) {
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event == kTimerTickEvent && ++ticks_ == 2) firstResult_ = DiscardTimer(e.control);
    };
    const int id = CreateTicking(first_);
    ASSERT_TRUE(WaitUntil([this] { return firstResult_ != kUnset; }));
    EXPECT_EQ(firstResult_, 0);
    ExpectSilentAfterDiscard(first_);
    const std::vector<TimerEvent> events = first_.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].thread, events[0].thread);  // nested in the tick callback
    EXPECT_EQ(DiscardTimer(id), kTimerErrNoSuchTimer);
}

TEST_F(TimerConcurrencyTest, DiscardCallbackDiscardsAThirdTimer) {
    third_.onEvent = [this](const TimerEvent &e) {
        if (e.event == kTimerDiscardEvent) secondResult_ = DiscardTimer(secondId_);
    };
    first_.onEvent = [this](const TimerEvent &e) {
        if (e.event == kTimerTickEvent && firstResult_ == kUnset) {
            firstResult_ = DiscardTimer(thirdId_);
        }
    };
    secondId_ = CreateTicking(second_);
    thirdId_ = CreateTicking(third_);
    firstId_ = CreateTicking(first_);
    ASSERT_TRUE(WaitUntil([this] { return firstResult_ != kUnset; }));
    EXPECT_EQ(firstResult_, 0);
    EXPECT_EQ(secondResult_, 0);
    const std::thread::id firstThread = first_.Events().front().thread;
    EXPECT_EQ(third_.Events().back().thread, firstThread);
    EXPECT_EQ(second_.Events().back().thread, firstThread);
    ExpectSilentAfterDiscard(second_);
    ExpectSilentAfterDiscard(third_);
}

// Both callbacks discard the other timer while both ticks run: neither can
// wait for the other's tick to end, yet both discards must complete.
TEST_F(TimerConcurrencyTest, TimersDiscardingEachOtherDoNotDeadlock) {
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
    ExpectSilentAfterDiscard(first_);
    ExpectSilentAfterDiscard(second_);
}

// Identifiers may restart at 1 only when no discard is still under way.
TEST_F(TimerConcurrencyTest, IdentifiersStayUniqueWhileADiscardWaitsForATick) {
    second_.onEvent = [this](const TimerEvent &e) {
        if (e.event != kTimerTickEvent) return;
        ticks_.fetch_add(1);
        WaitUntil([this] { return release_.load(); });
    };
    ASSERT_EQ(CreateTimer(100.0, -1, 0, nullptr, nullptr), 1);
    ASSERT_EQ(CreateTicking(second_), 2);
    ASSERT_TRUE(WaitUntil([this] { return ticks_.load() >= 1; }));
    std::thread discarder([] { DiscardTimer(2); });  // waits for the blocked tick
    int count = 0;
    ASSERT_TRUE(WaitUntil([&] { return GetTimerAttribute(2, kTimerAttrCount, &count) < 0; }));
    ASSERT_EQ(DiscardTimer(1), 0);

    const int reusedFirst = CreateTimer(100.0, -1, 0, nullptr, nullptr);
    release_ = true;
    discarder.join();
    const int reusedSecond = CreateTimer(100.0, -1, 0, nullptr, nullptr);
    const int fresh = CreateTimer(100.0, -1, 0, nullptr, nullptr);
    EXPECT_EQ(reusedFirst, 1);
    EXPECT_EQ(reusedSecond, 2);
    EXPECT_EQ(fresh, 3);
}

TEST_F(TimerConcurrencyTest, ConcurrentCreatesAndDiscardsLeaveAConsistentService) {
    std::atomic<bool> stop{false};
    std::atomic<int> failedCreations{0};
    auto createAndDiscard = [&failedCreations] {
        for (int i = 0; i < 100; ++i) {
            const int id = CreateTimer(0.001, -1, 1, nullptr, nullptr);
            if (id <= 0) failedCreations.fetch_add(1);
            DiscardTimer(id);
        }
    };
    std::thread sweeper([&stop] {
        while (!stop) {
            DiscardTimer(kAllTimers);
            SuspendTimerCallbacks();
            ResumeTimerCallbacks();
            std::this_thread::sleep_for(100us);
        }
    });
    std::thread creatorA(createAndDiscard);
    std::thread creatorB(createAndDiscard);
    creatorA.join();
    creatorB.join();
    stop = true;
    sweeper.join();
    EXPECT_EQ(failedCreations.load(), 0);
    ASSERT_EQ(DiscardTimer(kAllTimers), 0);
    EXPECT_EQ(CreateTimer(100.0, -1, 0, nullptr, nullptr), 1);  // every record came back
}

}  // namespace
}  // namespace ostrel::test
